// The check's tables (check_tables.h) against the statements that runs send:
// every table and column that a clean full rebuild and a clean key run name
// must be one that `vendrak --check` probes, and every one it probes must be
// named by them. A column added to a statement and not to the check's table
// fails here, before a site finds it with a failed run.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "run/check_tables.h"
#include "runner.h"
#include "testdb.h"

namespace {

using Names = std::set<std::string>;

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The check's tables, upper-cased as the statements are compared: table ->
// its columns.
std::map<std::string, Names> checkedTables() {
    std::map<std::string, Names> tables;
    for (const TableColumns& entry : kCheckedTables) {
        Names& columns = tables[upper(entry.table)];
        std::string list = entry.columns;
        for (std::size_t start = 0; start < list.size();) {
            std::size_t comma = list.find(',', start);
            std::size_t end = comma == std::string::npos ? list.size() : comma;
            columns.insert(upper(list.substr(start, end - start)));
            start = end + 2;  // ", "
        }
    }
    return tables;
}

// A statement in tokens: names (upper-cased, "A.B" kept whole), values
// (literals, numbers, markers) as "?", every other character on its own.
std::vector<std::string> tokens(const std::string& sql) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < sql.size();) {
        unsigned char c = static_cast<unsigned char>(sql[i]);
        std::size_t end = i + 1;
        if (std::isspace(c)) {
            i = end;
            continue;
        }
        if (c == '\'') {  // a literal, '' inside it included
            while (end < sql.size() && (sql[end] != '\'' || sql.compare(end, 2, "''") == 0))
                end += sql[end] == '\'' ? 2 : 1;
            out.push_back("?");
            i = end + 1;
            continue;
        }
        auto inName = [&](std::size_t at) {
            unsigned char n = static_cast<unsigned char>(sql[at]);
            return std::isalnum(n) || n == '_' || n == '.';
        };
        if (std::isalnum(c) || c == '_') {
            while (end < sql.size() && inName(end))
                ++end;
        }
        std::string token = upper(sql.substr(i, end - i));
        out.push_back(std::isdigit(c) ? "?" : token);
        i = end;
    }
    return out;
}

// The words of the statements that are not names of tables or columns
// (SYSDATE is Oracle's date, not a column).
const Names kKeywords = {"SELECT", "DISTINCT", "FROM", "WHERE",  "AND",    "OR",    "NOT",
                         "IN",     "IS",       "NULL", "AS",     "ORDER",  "BY",    "ASC",
                         "DESC",   "INSERT",   "INTO", "VALUES", "UPDATE", "SET",   "DELETE",
                         "EXISTS", "BETWEEN",  "LIKE", "JOIN",   "ON",     "GROUP", "SYSDATE"};

bool isName(const std::string& token) {
    return std::isalpha(static_cast<unsigned char>(token[0])) && kKeywords.count(token) == 0;
}

// One query level: the statement, or a subquery "(SELECT ...)"; its tables
// by name and by alias. A column resolves in its own level first, then in
// the levels around it.
struct Level {
    int outer;
    std::map<std::string, std::string> tables;  // name or alias -> table
};

struct ColumnUse {
    int level;
    std::string qualifier;  // alias or table before the dot, or empty
    std::string column;
};

// What the names of a statement resolve to against the check's tables:
// "TABLE.COLUMN" for each use, and what could not be resolved.
struct Resolved {
    Names used;
    std::vector<std::string> missing;
};

// Takes a statement of the shapes the program sends apart: SELECT ... FROM
// with aliases and subqueries, INSERT INTO t (columns), UPDATE t SET c = ...,
// DELETE FROM t WHERE ...; tables are the names in schema QVSYSTEM.
void resolve(const std::string& sql, const std::map<std::string, Names>& checked,
             Resolved& result) {
    const std::vector<std::string> t = tokens(sql);
    std::vector<Level> levels = {{-1, {}}};
    std::vector<ColumnUse> uses;
    std::vector<int> open;
    int level = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const std::string next = i + 1 < t.size() ? t[i + 1] : "";
        if (t[i] == "(") {
            open.push_back(level);
            if (next == "SELECT") {
                levels.push_back({level, {}});
                level = static_cast<int>(levels.size()) - 1;
            }
        } else if (t[i] == ")" && !open.empty()) {
            level = open.back();
            open.pop_back();
        } else if (t[i] == "AS" && isName(next)) {
            ++i;  // "... AS Text" names a result, not a column
        } else if (t[i].rfind("QVSYSTEM.", 0) == 0) {
            const std::string table = t[i].substr(9);
            levels[level].tables[table] = table;
            if (isName(next)) {
                levels[level].tables[next] = table;
                ++i;
            }
        } else if (!isName(t[i]) || next == "(") {
            continue;  // a keyword, value, operator or function
        } else {
            std::size_t dot = t[i].find('.');
            if (dot == std::string::npos)
                uses.push_back({level, "", t[i]});
            else
                uses.push_back({level, t[i].substr(0, dot), t[i].substr(dot + 1)});
        }
    }
    for (const ColumnUse& use : uses) {
        std::string found;
        for (int at = use.level; at >= 0 && found.empty(); at = levels[at].outer) {
            for (const auto& [name, table] : levels[at].tables) {
                auto entry = checked.find(table);
                bool named = use.qualifier.empty() || use.qualifier == name;
                if (named && entry != checked.end() && entry->second.count(use.column) > 0)
                    found = table;
            }
        }
        if (found.empty())
            result.missing.push_back(use.column + " in: " + sql);
        else
            result.used.insert(found + "." + use.column);
    }
    for (const Level& l : levels) {
        for (const auto& [name, table] : l.tables) {
            if (checked.count(table) == 0)
                result.missing.push_back("table " + table + " in: " + sql);
        }
    }
}

TEST(CheckColumnsTest, TheCheckProbesExactlyTheTablesAndColumnsThatRunsName) {
    testDbLoadSmallSite();
    ProgramRun run;
    run.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
    ProgramResult full = run.run({});
    ASSERT_EQ(full.exitCode, 0) << ::testing::PrintToString(full.log);
    testDbExec(
        "INSERT INTO qvsystem.qvsaswdnl (dnlkey, dnllfd, dnlasw) VALUES "
        "('K1', 1, 'B1'), ('K1', 2, 'B3'), ('K1', 3, '')");
    ProgramResult key = run.run({"K1"});
    ASSERT_EQ(key.exitCode, 0) << ::testing::PrintToString(key.log);
    ASSERT_NE(key.trace.size(), 0u);

    const std::map<std::string, Names> checked = checkedTables();
    Resolved resolved;
    for (const ProgramResult* result : {&full, &key}) {
        for (const std::string& statement : result->trace)
            resolve(statement, checked, resolved);
    }
    for (const std::string& missing : resolved.missing)
        ADD_FAILURE() << "not in the check's tables: " << missing;
    for (const auto& [table, columns] : checked) {
        for (const std::string& column : columns) {
            EXPECT_EQ(resolved.used.count(table + "." + column), 1u)
                << table << "." << column << " is probed, but no statement of a run names it";
        }
    }
}

}  // namespace

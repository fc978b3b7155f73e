#include "odbc_interposer.h"

#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

enum class RuleKind { Exec, Fetch, Connect, Alloc, NoDataAsSuccess };

struct Rule {
    RuleKind kind;
    int from = 1;
    int count = 1;
    int seen = 0;
    int handleType = 0;
    std::string sqlState;
    bool hasDiagnostic = true;
    SQLINTEGER native = 0;
    std::string text;
};

// cppcheck does not follow the uses through the map's iterators.
struct FakeDiagnostic {
    std::string sqlState;  // cppcheck-suppress unusedStructMember
    bool present;          // cppcheck-suppress unusedStructMember
    SQLINTEGER native;
};

struct State {
    std::string dbSystem;
    std::vector<Rule> rules;
    std::vector<std::string> trace;
    std::vector<long> waits;
    bool recordWaits = false;
    std::string traceFile;
    std::string waitsFile;
    std::map<SQLHANDLE, std::string> statementTexts;
    std::map<SQLHANDLE, FakeDiagnostic> fakes;
    std::set<SQLHANDLE> openStatements;
};

State& state() {
    static State* s = new State;  // never destroyed: calls may come during exit
    return *s;
}

template <typename F>
F real(const char* name) {
    void* symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "odbc interposer: %s not found\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(symbol);
}

bool parseRule(const std::string& line) {
    std::istringstream in(line);
    std::string word;
    if (!(in >> word))
        return true;  // blank line
    if (word[0] == '#')
        return true;
    if (word == "dbsystem")
        return static_cast<bool>(in >> state().dbSystem);
    Rule rule;
    if (word == "alloc") {
        rule.kind = RuleKind::Alloc;
        if (!(in >> rule.handleType >> rule.from >> rule.count))
            return false;
        state().rules.push_back(rule);
        return true;
    }
    if (word == "nodata-as-success") {
        rule.kind = RuleKind::NoDataAsSuccess;
        if (!(in >> rule.from >> rule.count))
            return false;
        std::getline(in >> std::ws, rule.text);
        state().rules.push_back(rule);
        return !rule.text.empty();
    }
    if (word == "exec") {
        rule.kind = RuleKind::Exec;
    } else if (word == "fetch") {
        rule.kind = RuleKind::Fetch;
    } else if (word == "connect") {
        rule.kind = RuleKind::Connect;
    } else {
        return false;
    }
    std::string native;
    if (!(in >> rule.from >> rule.count >> rule.sqlState >> native))
        return false;
    if (native == "none") {
        rule.hasDiagnostic = false;
    } else {
        rule.native = static_cast<SQLINTEGER>(std::strtol(native.c_str(), nullptr, 10));
    }
    if (rule.kind != RuleKind::Connect) {
        std::getline(in >> std::ws, rule.text);
        if (rule.text.empty())
            return false;
    }
    state().rules.push_back(rule);
    return true;
}

// The first rule of `kind` that matches and whose turn it is; each matching
// call counts for every matching rule.
const Rule* firingRule(RuleKind kind, const std::string& text, int handleType) {
    const Rule* firing = nullptr;
    for (Rule& rule : state().rules) {
        if (rule.kind != kind)
            continue;
        if (kind == RuleKind::Alloc && rule.handleType != handleType)
            continue;
        if (kind != RuleKind::Alloc && kind != RuleKind::Connect &&
            text.find(rule.text) == std::string::npos) {
            continue;
        }
        ++rule.seen;
        if (firing == nullptr && rule.seen >= rule.from && rule.seen < rule.from + rule.count) {
            firing = &rule;
        }
    }
    return firing;
}

SQLRETURN injectFailure(SQLHANDLE handle, const Rule& rule) {
    state().fakes[handle] = {rule.sqlState, rule.hasDiagnostic, rule.native};
    return SQL_ERROR;
}

void appendLine(const std::string& file, const std::string& line) {
    if (file.empty())
        return;
    std::ofstream out(file, std::ios::app);
    out << line << '\n';
}

// Native numbers of the configured DB system for the server's SQLSTATEs.
SQLINTEGER nativeFor(const char* sqlState, SQLINTEGER original) {
    struct Mapping {
        const char* sqlState;
        SQLINTEGER oracle;
        SQLINTEGER mssql;
    };
    static const Mapping mappings[] = {
        {"23505", 1, 2627},     {"42703", 904, 207},    {"42P01", 942, 208},
        {"42601", 900, 102},    {"08001", 12541, 17},   {"57P01", 3113, 10054},
        {"08S01", 3113, 10054}, {"08006", 3113, 10054},
    };
    const std::string& system = state().dbSystem;
    bool oracle = system == "ORACLE";
    if (!oracle && system != "MSSQL")
        return original;
    for (const Mapping& m : mappings) {
        if (std::strcmp(m.sqlState, sqlState) == 0)
            return oracle ? m.oracle : m.mssql;
    }
    return oracle ? 20000 : 50000;
}

std::string statementText(SQLCHAR* text, SQLINTEGER length) {
    const char* chars = reinterpret_cast<const char*>(text);
    if (length == SQL_NTS)
        return chars;
    return std::string(chars, static_cast<std::size_t>(length));
}

// Configuration of a preloaded interposer, read once at load.
__attribute__((constructor)) void configureFromEnvironment() {
    if (const char* script = std::getenv("VENDRAK_IP_SCRIPT")) {
        std::ifstream in(script);
        std::string line;
        while (std::getline(in, line)) {
            if (!parseRule(line))
                std::fprintf(stderr, "odbc interposer: bad rule: %s\n", line.c_str());
        }
    }
    if (const char* trace = std::getenv("VENDRAK_IP_TRACE"))
        state().traceFile = trace;
    if (const char* waits = std::getenv("VENDRAK_IP_WAITS")) {
        state().waitsFile = waits;
        state().recordWaits = true;
    }
}

}  // namespace

extern "C" {

void ipReset(void) {
    State& s = state();
    s.dbSystem.clear();
    s.rules.clear();
    s.trace.clear();
    s.waits.clear();
    s.fakes.clear();
    s.recordWaits = true;
}

int ipConfigure(const char* rules) {
    std::istringstream in(rules);
    std::string line;
    int result = 0;
    while (std::getline(in, line)) {
        if (!parseRule(line))
            result = -1;
    }
    return result;
}

int ipTraceCount(void) {
    return static_cast<int>(state().trace.size());
}

const char* ipTraceAt(int index) {
    return state().trace.at(static_cast<std::size_t>(index)).c_str();
}

int ipWaitCount(void) {
    return static_cast<int>(state().waits.size());
}

long ipWaitAt(int index) {
    return state().waits.at(static_cast<std::size_t>(index));
}

int ipOpenStatementHandles(void) {
    return static_cast<int>(state().openStatements.size());
}

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
    if (firingRule(RuleKind::Alloc, "", type) != nullptr) {
        *output = SQL_NULL_HANDLE;
        return SQL_ERROR;
    }
    static auto forward = real<SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*)>("SQLAllocHandle");
    SQLRETURN rc = forward(type, input, output);
    if (type == SQL_HANDLE_STMT && SQL_SUCCEEDED(rc))
        state().openStatements.insert(*output);
    return rc;
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
    State& s = state();
    s.fakes.erase(handle);
    if (type == SQL_HANDLE_STMT) {
        s.openStatements.erase(handle);
        s.statementTexts.erase(handle);
    }
    static auto forward = real<SQLRETURN (*)(SQLSMALLINT, SQLHANDLE)>("SQLFreeHandle");
    return forward(type, handle);
}

SQLRETURN SQL_API SQLConnect(SQLHDBC dbc, SQLCHAR* dsn, SQLSMALLINT dsnLength, SQLCHAR* user,
                             SQLSMALLINT userLength, SQLCHAR* password,
                             SQLSMALLINT passwordLength) {
    state().fakes.erase(dbc);
    if (const Rule* rule = firingRule(RuleKind::Connect, "", 0))
        return injectFailure(dbc, *rule);
    static auto forward = real<SQLRETURN (*)(SQLHDBC, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                             SQLCHAR*, SQLSMALLINT)>("SQLConnect");
    return forward(dbc, dsn, dsnLength, user, userLength, password, passwordLength);
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
    State& s = state();
    s.fakes.erase(stmt);
    std::string sql = statementText(text, length);
    s.trace.push_back(sql);
    appendLine(s.traceFile, sql);
    s.statementTexts[stmt] = sql;
    if (const Rule* rule = firingRule(RuleKind::Exec, sql, 0))
        return injectFailure(stmt, *rule);
    static auto forward = real<SQLRETURN (*)(SQLHSTMT, SQLCHAR*, SQLINTEGER)>("SQLExecDirect");
    SQLRETURN rc = forward(stmt, text, length);
    if (rc == SQL_NO_DATA && firingRule(RuleKind::NoDataAsSuccess, sql, 0) != nullptr) {
        return SQL_SUCCESS;
    }
    return rc;
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT stmt) {
    State& s = state();
    s.fakes.erase(stmt);
    auto text = s.statementTexts.find(stmt);
    if (text != s.statementTexts.end()) {
        if (const Rule* rule = firingRule(RuleKind::Fetch, text->second, 0)) {
            return injectFailure(stmt, *rule);
        }
    }
    static auto forward = real<SQLRETURN (*)(SQLHSTMT)>("SQLFetch");
    return forward(stmt);
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                SQLCHAR* sqlState, SQLINTEGER* native, SQLCHAR* message,
                                SQLSMALLINT messageSize, SQLSMALLINT* messageLength) {
    auto fake = state().fakes.find(handle);
    if (fake != state().fakes.end()) {
        if (record != 1 || !fake->second.present)
            return SQL_NO_DATA;
        std::snprintf(reinterpret_cast<char*>(sqlState), 6, "%s", fake->second.sqlState.c_str());
        if (native != nullptr)
            *native = fake->second.native;
        int written =
            std::snprintf(reinterpret_cast<char*>(message), messageSize > 0 ? messageSize : 0,
                          "[interposer] injected fault");
        if (messageLength != nullptr)
            *messageLength = static_cast<SQLSMALLINT>(written);
        return SQL_SUCCESS;
    }
    static auto forward =
        real<SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*, SQLINTEGER*, SQLCHAR*,
                           SQLSMALLINT, SQLSMALLINT*)>("SQLGetDiagRec");
    SQLRETURN rc =
        forward(type, handle, record, sqlState, native, message, messageSize, messageLength);
    if (SQL_SUCCEEDED(rc) && native != nullptr && sqlState != nullptr) {
        *native = nativeFor(reinterpret_cast<const char*>(sqlState), *native);
    }
    return rc;
}

int nanosleep(const struct timespec* request, struct timespec* remaining) {
    State& s = state();
    if (s.recordWaits) {
        long ms = static_cast<long>(request->tv_sec) * 1000 + request->tv_nsec / 1000000;
        s.waits.push_back(ms);
        appendLine(s.waitsFile, std::to_string(ms));
        return 0;
    }
    static auto forward = real<int (*)(const struct timespec*, struct timespec*)>("nanosleep");
    return forward(request, remaining);
}

}  // extern "C"

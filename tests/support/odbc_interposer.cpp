// The interposer's definitions of the ODBC calls the program makes and of
// ppoll. Each forwards to the next definition in the lookup order (the
// driver manager, libc) found with dlsym(RTLD_NEXT). The driver manager looks
// the driver's entry points up in the driver's own library, so it never sees
// these definitions, whether they come preloaded or linked into a test.
#include "odbc_interposer.h"

#include <dlfcn.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/wait.h>
#include <time.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "odbc_interposer_events.h"

extern char** environ;

namespace {

enum class RuleKind {
    Exec,
    Fetch,
    Connect,
    Statistics,
    Alloc,
    NoDataAsSuccess,
    RollbackInstead,
    HookExec,
    HookWait,
    HookConnect,
    HookAlloc,
    HookFree
};

struct Rule {
    RuleKind kind;
    int from = 1;
    int count = 1;
    int seen = 0;  // matching calls so far
    int handleType = 0;
    std::string sqlState;
    bool hasDiagnostic = true;
    SQLINTEGER native = 0;
    std::string text;
};

// The diagnostic of an injected failure. cppcheck does not follow the uses
// through the map's iterators.
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
    std::string hookCommand;
    std::map<SQLHANDLE, std::string> statementTexts;  // last text per statement
    std::map<SQLHANDLE, FakeDiagnostic> fakes;
    std::set<SQLHANDLE> openStatements;
    bool keepTrace = true;  // the statement texts in memory, for ipTrace
    bool traceSession = false;
    bool refuseDisconnectInTransaction = false;
    std::string autoCommitOff;  // "", or how SQL_AUTOCOMMIT_OFF is answered
    bool noTransactions = false;
    std::map<SQLHANDLE, SQLHANDLE> statementConnections;
    std::set<SQLHANDLE> manualCommit;      // connections with auto-commit off
    std::set<SQLHANDLE> openTransactions;  // manual-commit connections since their first statement
};

State& state() {
    static State* s = new State;  // never destroyed: calls may come during exit
    return *s;
}

// The next definition of `name` after this one; aborts when there is none,
// since a test without the real call could only mislead. Linked into a test
// program that calls ODBC only through the definitions below, the linker
// (--as-needed) may leave the driver manager out of the program's libraries;
// it is then loaded here, privately, so that it keeps its own entry points.
template <typename F>
F real(const char* name) {
    void* symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        static void* manager = dlopen("libodbc.so.2", RTLD_NOW | RTLD_LOCAL);
        if (manager != nullptr)
            symbol = dlsym(manager, name);
    }
    if (symbol == nullptr) {
        std::fprintf(stderr, "odbc interposer: %s not found\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(symbol);
}

bool parseInt(const std::string& word, long min, long* value) {
    if (word.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(word.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < min || parsed > INT_MAX)
        return false;
    *value = parsed;
    return true;
}

// Reads "FROM COUNT" (FROM at least 1, COUNT at least 0) into `rule`.
bool parseRange(std::istringstream& in, Rule& rule) {
    std::string from, count;
    long f = 0, c = 0;
    if (!(in >> from >> count) || !parseInt(from, 1, &f) || !parseInt(count, 0, &c))
        return false;
    rule.from = static_cast<int>(f);
    rule.count = static_cast<int>(c);
    return true;
}

// The rest of the line after the blanks that follow the last word.
std::string restOfLine(std::istringstream& in) {
    std::string rest;
    std::getline(in >> std::ws, rest);
    return rest;
}

bool parseRule(std::string line) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::istringstream in(line);
    std::string word;
    if (!(in >> word) || word[0] == '#')
        return true;  // blank line or comment
    if (word == "dbsystem") {
        std::string system;
        if (!(in >> system) || !restOfLine(in).empty())
            return false;
        if (system != "ORACLE" && system != "MSSQL" && system != "MYSQL")
            return false;
        state().dbSystem = system;
        return true;
    }
    if (word == "trace-session" || word == "refuse-disconnect-in-transaction") {
        (word == "trace-session" ? state().traceSession : state().refuseDisconnectInTransaction) =
            true;
        return restOfLine(in).empty();
    }
    if (word == "autocommit-off" || word == "txn-capable") {
        std::string answer;
        if (!(in >> answer) || !restOfLine(in).empty())
            return false;
        if (word == "txn-capable")
            return (state().noTransactions = answer == "none");
        state().autoCommitOff = answer;
        return answer == "refused" || answer == "ignored" || answer == "hidden";
    }
    Rule rule;
    if (word == "alloc") {
        rule.kind = RuleKind::Alloc;
        std::string type;
        long t = 0;
        if (!(in >> type) || !parseInt(type, 1, &t) || t > 3 || !parseRange(in, rule) ||
            !restOfLine(in).empty()) {
            return false;
        }
        rule.handleType = static_cast<int>(t);
    } else if (word == "hook") {
        std::string event;
        static const std::map<std::string, RuleKind> hooks = {{"exec", RuleKind::HookExec},
                                                              {"wait", RuleKind::HookWait},
                                                              {"connect", RuleKind::HookConnect},
                                                              {"alloc", RuleKind::HookAlloc},
                                                              {"free", RuleKind::HookFree}};
        if (!(in >> event) || hooks.count(event) == 0)
            return false;
        rule.kind = hooks.at(event);
        std::string from;
        long f = 0;
        if (!(in >> from) || !parseInt(from, 1, &f))
            return false;
        rule.from = static_cast<int>(f);
        rule.text = restOfLine(in);
        const bool textless = rule.kind != RuleKind::HookExec && rule.kind != RuleKind::HookFree;
        if (rule.text.empty() != textless)
            return false;
    } else if (word == "nodata-as-success" || word == "rollback-instead") {
        rule.kind =
            word == "nodata-as-success" ? RuleKind::NoDataAsSuccess : RuleKind::RollbackInstead;
        if (!parseRange(in, rule))
            return false;
        rule.text = restOfLine(in);
        if (rule.text.empty())
            return false;
    } else if (word == "exec" || word == "fetch" || word == "connect" || word == "statistics") {
        rule.kind = word == "exec"      ? RuleKind::Exec
                    : word == "fetch"   ? RuleKind::Fetch
                    : word == "connect" ? RuleKind::Connect
                                        : RuleKind::Statistics;
        std::string native;
        if (!parseRange(in, rule) || !(in >> rule.sqlState >> native) ||
            rule.sqlState.size() != 5) {
            return false;
        }
        long number = 0;
        if (native == "none") {
            rule.hasDiagnostic = false;
        } else if (parseInt(native, INT_MIN, &number)) {
            rule.native = static_cast<SQLINTEGER>(number);
        } else {
            return false;
        }
        rule.text = restOfLine(in);
        // exec and fetch need a text to match; connect and statistics take none.
        const bool textless = rule.kind == RuleKind::Connect || rule.kind == RuleKind::Statistics;
        if (rule.text.empty() != textless)
            return false;
    } else {
        return false;
    }
    state().rules.push_back(rule);
    return true;
}

// Counts the call for every rule of `kind` that it matches and returns the
// first of those whose turn it is, or nullptr.
const Rule* firingRule(RuleKind kind, const std::string& text, int handleType) {
    const Rule* firing = nullptr;
    for (Rule& rule : state().rules) {
        if (rule.kind != kind)
            continue;
        if (kind == RuleKind::Alloc && rule.handleType != handleType)
            continue;
        if (!rule.text.empty() && text.find(rule.text) == std::string::npos)
            continue;
        ++rule.seen;
        if (firing == nullptr && rule.seen >= rule.from && rule.seen - rule.from < rule.count)
            firing = &rule;
    }
    return firing;
}

// Every call on a handle replaces its diagnostics, injected ones included.
void clearFake(SQLHANDLE handle) {
    state().fakes.erase(handle);
}

// Runs the hook command for a firing hook rule. The command's processes must
// not load this interposer (their waits would be recorded instead of slept),
// so the preload goes from the environment first; nothing else this process
// starts needs it.
void runHook(RuleKind kind, const std::string& text) {
    if (firingRule(kind, text, 0) == nullptr || state().hookCommand.empty())
        return;
    unsetenv("LD_PRELOAD");
    // Not system(): it ignores SIGINT in the caller while the command runs,
    // and a hook may send the program a stop signal.
    const char* command = state().hookCommand.c_str();
    char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                          const_cast<char*>(command), nullptr};
    pid_t child = -1;
    int status = -1;
    if (posix_spawn(&child, "/bin/sh", nullptr, nullptr, argv, environ) == 0) {
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (status != 0)
        std::fprintf(stderr, "odbc interposer: hook failed: %s\n", command);
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

void traceLine(const std::string& line) {
    State& s = state();
    if (s.keepTrace)
        s.trace.push_back(line);
    appendLine(s.traceFile, line);
}

// Under trace-session the calls that begin and end sessions and
// transactions go into the trace as well, among the statements.
void traceSessionCall(const char* marker) {
    if (state().traceSession)
        traceLine(marker);
}

// Native number of the configured DB system for a SQLSTATE of the server.
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

std::string statementText(const SQLCHAR* text, SQLINTEGER length) {
    if (text == nullptr)
        return std::string();
    const char* chars = reinterpret_cast<const char*>(text);
    if (length < 0)  // SQL_NTS
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
    if (const char* hook = std::getenv("VENDRAK_IP_HOOK"))
        state().hookCommand = hook;
    if (const char* waits = std::getenv("VENDRAK_IP_WAITS")) {
        state().waitsFile = waits;
        state().recordWaits = true;
    }
    if (eventLogFromEnvironment())
        state().keepTrace = false;
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
    s.hookCommand.clear();
    s.recordWaits = true;
    s.traceSession = s.refuseDisconnectInTransaction = s.noTransactions = false;
    s.autoCommitOff.clear();
}

int ipConfigure(const char* rules) {
    std::istringstream in(rules != nullptr ? rules : "");
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

void ipSetHook(const char* command) {
    state().hookCommand = command != nullptr ? command : "";
}

void ipRecordWaits(int on) {
    state().recordWaits = on != 0;
}

int ipOpenStatementHandles(void) {
    return static_cast<int>(state().openStatements.size());
}

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
    clearFake(input);
    if (firingRule(RuleKind::Alloc, "", type) != nullptr) {
        if (output != nullptr)
            *output = SQL_NULL_HANDLE;
        return SQL_ERROR;
    }
    static auto forward = real<SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*)>("SQLAllocHandle");
    SQLRETURN rc = forward(type, input, output);
    if (type == SQL_HANDLE_STMT && SQL_SUCCEEDED(rc)) {
        state().openStatements.insert(*output);
        state().statementConnections[*output] = input;
        runHook(RuleKind::HookAlloc, "");
    }
    return rc;
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
    auto text = state().statementTexts.find(handle);
    if (type == SQL_HANDLE_STMT && text != state().statementTexts.end())
        runHook(RuleKind::HookFree, text->second);
    static auto forward = real<SQLRETURN (*)(SQLSMALLINT, SQLHANDLE)>("SQLFreeHandle");
    SQLRETURN rc = forward(type, handle);
    // A handle that could not be freed keeps its state; a freed one may come
    // back from the next allocation and must start clean.
    if (rc == SQL_SUCCESS) {
        State& s = state();
        clearFake(handle);
        if (type == SQL_HANDLE_STMT) {
            s.openStatements.erase(handle);
            s.statementTexts.erase(handle);
            s.statementConnections.erase(handle);
            eventFree(handle);
        } else if (type == SQL_HANDLE_DBC) {  // auto-commit is the handle's, kept across sessions
            s.manualCommit.erase(handle);
            s.openTransactions.erase(handle);
        }
    }
    return rc;
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER length) {
    clearFake(env);
    static auto forward =
        real<SQLRETURN (*)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER)>("SQLSetEnvAttr");
    return forward(env, attribute, value, length);
}

SQLRETURN SQL_API SQLConnect(SQLHDBC dbc, SQLCHAR* dsn, SQLSMALLINT dsnLength, SQLCHAR* user,
                             SQLSMALLINT userLength, SQLCHAR* password,
                             SQLSMALLINT passwordLength) {
    clearFake(dbc);
    runHook(RuleKind::HookConnect, "");
    if (const Rule* rule = firingRule(RuleKind::Connect, "", 0))
        return injectFailure(dbc, *rule);
    traceSessionCall("CONNECT");
    static auto forward = real<SQLRETURN (*)(SQLHDBC, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                             SQLCHAR*, SQLSMALLINT)>("SQLConnect");
    state().openTransactions.erase(dbc);
    return forward(dbc, dsn, dsnLength, user, userLength, password, passwordLength);
}

// Under autocommit-off the interposer plays a driver that does not take
// auto-commit off: it refuses, or it says yes and goes on committing.
SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER length) {
    State& s = state();
    clearFake(dbc);
    const bool off =
        attribute == SQL_ATTR_AUTOCOMMIT && reinterpret_cast<SQLULEN>(value) == SQL_AUTOCOMMIT_OFF;
    if (off && s.autoCommitOff == "refused") {
        s.fakes[dbc] = {"HYC00", true, 0};
        return SQL_ERROR;
    }
    if (off && !s.autoCommitOff.empty())
        return SQL_SUCCESS;
    static auto forward =
        real<SQLRETURN (*)(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER)>("SQLSetConnectAttr");
    SQLRETURN rc = forward(dbc, attribute, value, length);
    if (attribute == SQL_ATTR_AUTOCOMMIT && SQL_SUCCEEDED(rc)) {
        if (off)
            s.manualCommit.insert(dbc);
        else
            s.manualCommit.erase(dbc);
    }
    return rc;
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER length, SQLINTEGER* valueLength) {
    clearFake(dbc);
    if (attribute == SQL_ATTR_AUTOCOMMIT && state().autoCommitOff == "hidden") {
        *static_cast<SQLULEN*>(value) = SQL_AUTOCOMMIT_OFF;
        return SQL_SUCCESS;
    }
    static auto forward =
        real<SQLRETURN (*)(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER, SQLINTEGER*)>(
            "SQLGetConnectAttr");
    return forward(dbc, attribute, value, length, valueLength);
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT length,
                             SQLSMALLINT* valueLength) {
    clearFake(dbc);
    if (type == SQL_TXN_CAPABLE && state().noTransactions) {
        *static_cast<SQLUSMALLINT*>(value) = SQL_TC_NONE;
        return SQL_SUCCESS;
    }
    static auto forward =
        real<SQLRETURN (*)(SQLHDBC, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT, SQLSMALLINT*)>(
            "SQLGetInfo");
    return forward(dbc, type, value, length, valueLength);
}

// Under refuse-disconnect-in-transaction the interposer plays a driver that
// keeps a session whose transaction is open, as ODBC lets a driver do: the
// call fails with 25000 and nothing is done.
SQLRETURN SQL_API SQLDisconnect(SQLHDBC dbc) {
    State& s = state();
    clearFake(dbc);
    if (s.refuseDisconnectInTransaction && s.openTransactions.count(dbc) != 0) {
        traceSessionCall("DISCONNECT REFUSED");
        s.fakes[dbc] = {"25000", true, 0};
        return SQL_ERROR;
    }
    traceSessionCall("DISCONNECT");
    s.openTransactions.erase(dbc);
    static auto forward = real<SQLRETURN (*)(SQLHDBC)>("SQLDisconnect");
    return forward(dbc);
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
    clearFake(handle);
    traceSessionCall(completion == SQL_COMMIT ? "COMMIT" : "ROLLBACK");
    static auto forward = real<SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT)>("SQLEndTran");
    SQLRETURN rc = forward(type, handle, completion);
    if (type == SQL_HANDLE_DBC && SQL_SUCCEEDED(rc))
        state().openTransactions.erase(handle);
    return rc;
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER length) {
    clearFake(stmt);
    eventAttribute(stmt, attribute, value);
    static auto forward =
        real<SQLRETURN (*)(SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER)>("SQLSetStmtAttr");
    return forward(stmt, attribute, value, length);
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
    State& s = state();
    clearFake(stmt);
    std::string sql = statementText(text, length);
    traceLine(sql);
    eventExec(stmt, sql);
    // In manual-commit mode the first statement begins a transaction, even
    // one that fails.
    auto connection = s.statementConnections.find(stmt);
    if (connection != s.statementConnections.end() && s.manualCommit.count(connection->second))
        s.openTransactions.insert(connection->second);
    s.statementTexts[stmt] = sql;
    runHook(RuleKind::HookExec, sql);
    if (const Rule* rule = firingRule(RuleKind::Exec, sql, 0))
        return injectFailure(stmt, *rule);
    static auto forward = real<SQLRETURN (*)(SQLHSTMT, SQLCHAR*, SQLINTEGER)>("SQLExecDirect");
    if (firingRule(RuleKind::RollbackInstead, sql, 0) != nullptr) {
        static SQLCHAR rollback[] = "ROLLBACK";
        return SQL_SUCCEEDED(forward(stmt, rollback, SQL_NTS)) ? SQL_SUCCESS : SQL_ERROR;
    }
    SQLRETURN rc = forward(stmt, text, length);
    if (rc == SQL_NO_DATA && firingRule(RuleKind::NoDataAsSuccess, sql, 0) != nullptr)
        return SQL_SUCCESS;
    return rc;
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType,
                             SQLPOINTER target, SQLLEN targetLength, SQLLEN* indicator) {
    clearFake(stmt);
    static auto forward =
        real<SQLRETURN (*)(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*)>(
            "SQLBindCol");
    return forward(stmt, column, cType, target, targetLength, indicator);
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT stmt) {
    State& s = state();
    clearFake(stmt);
    eventFetch(stmt);
    auto text = s.statementTexts.find(stmt);
    if (text != s.statementTexts.end()) {
        if (const Rule* rule = firingRule(RuleKind::Fetch, text->second, 0))
            return injectFailure(stmt, *rule);
    }
    static auto forward = real<SQLRETURN (*)(SQLHSTMT)>("SQLFetch");
    return forward(stmt);
}

SQLRETURN SQL_API SQLStatistics(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                                SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* table,
                                SQLSMALLINT tableLength, SQLUSMALLINT unique,
                                SQLUSMALLINT accuracy) {
    clearFake(stmt);
    if (const Rule* rule = firingRule(RuleKind::Statistics, "", 0))
        return injectFailure(stmt, *rule);
    static auto forward =
        real<SQLRETURN (*)(SQLHSTMT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                           SQLSMALLINT, SQLUSMALLINT, SQLUSMALLINT)>("SQLStatistics");
    return forward(stmt, catalog, catalogLength, schema, schemaLength, table, tableLength, unique,
                   accuracy);
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT stmt, SQLLEN* rows) {
    clearFake(stmt);
    static auto forward = real<SQLRETURN (*)(SQLHSTMT, SQLLEN*)>("SQLRowCount");
    return forward(stmt, rows);
}

// Reading diagnostics leaves them in place, also the injected ones.
SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                SQLCHAR* sqlState, SQLINTEGER* native, SQLCHAR* message,
                                SQLSMALLINT messageSize, SQLSMALLINT* messageLength) {
    auto fake = state().fakes.find(handle);
    if (fake != state().fakes.end()) {
        if (record != 1 || !fake->second.present)
            return SQL_NO_DATA;
        if (sqlState != nullptr)
            std::snprintf(reinterpret_cast<char*>(sqlState), 6, "%s",
                          fake->second.sqlState.c_str());
        if (native != nullptr)
            *native = fake->second.native;
        const char* text = "[interposer] injected fault";
        if (message != nullptr && messageSize > 0)
            std::snprintf(reinterpret_cast<char*>(message), messageSize, "%s", text);
        if (messageLength != nullptr)
            *messageLength = static_cast<SQLSMALLINT>(std::strlen(text));
        return SQL_SUCCESS;
    }
    static auto forward =
        real<SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*, SQLINTEGER*, SQLCHAR*,
                           SQLSMALLINT, SQLSMALLINT*)>("SQLGetDiagRec");
    SQLRETURN rc =
        forward(type, handle, record, sqlState, native, message, messageSize, messageLength);
    if (SQL_SUCCEEDED(rc) && native != nullptr && sqlState != nullptr)
        *native = nativeFor(reinterpret_cast<const char*>(sqlState), *native);
    return rc;
}

// The program's pauses are its only calls of ppoll (its other waits use
// poll, as the driver does). While recording, a pause is noted in
// milliseconds and returns at once, as if it had run its full length, unless
// a descriptor it waits on is ready already (the stop descriptor after a stop
// signal, also one that a hook sent): that is reported as the real ppoll
// reports it. Hooks run at every pause, recorded or not.
int ppoll(struct pollfd* fds, nfds_t count, const struct timespec* timeout, const sigset_t* mask) {
    State& s = state();
    static auto forward =
        real<int (*)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*)>("ppoll");
    if (timeout != nullptr)
        runHook(RuleKind::HookWait, "");
    if (s.recordWaits && timeout != nullptr) {
        long ms = static_cast<long>(timeout->tv_sec) * 1000 + timeout->tv_nsec / 1000000;
        s.waits.push_back(ms);
        appendLine(s.waitsFile, std::to_string(ms));
        const struct timespec now = {0, 0};
        return forward(fds, count, &now, mask);
    }
    return forward(fds, count, timeout, mask);
}

}  // extern "C"

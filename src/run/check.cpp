#include "run/check.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "db/call_in_flight.h"
#include "db/catalog.h"
#include "db/session.h"
#include "db/statement.h"
#include "db/statement_rollback.h"
#include "log/runlog.h"
#include "platform/file_checks.h"
#include "platform/monitoring.h"
#include "platform/platform.h"
#include "platform/stop_signal.h"
#include "platform/text.h"
#include "run/check_cursors.h"
#include "run/check_indexes.h"
#include "run/check_tables.h"
#include "run/exit_codes.h"
#include "run/rebuild_mode.h"
#include "settings/settings.h"

namespace {

// The two narrower forms of TrmAswDnl that its insert knows, by the columns
// they lack.
const char* const kTrmAswDnlTable = "TrmAswDnl";
const char* const kLacks38 = "DnlPnr, DnlNam";
const char* const kLacks37 = "DnlPin, DnlPnr, DnlNam";

constexpr std::size_t kLineSize = 8192;
constexpr std::size_t kPathSize = 4096;
constexpr std::size_t kNameListSize = 1024;
constexpr std::size_t kColumnNameSize = 64;
const char* const kSchema = "QVSYSTEM";

enum class Verdict { Ok, Warning, Failed, Skipped, Info };

struct CheckState {
    std::FILE* out;
    int ok;
    int warnings;
    int failed;
    bool settingsRead;
    bool connected;
};

CheckState Check;

const char* verdictTag(Verdict verdict) {
    switch (verdict) {
        case Verdict::Ok:
            return "ok";
        case Verdict::Warning:
            return "WARNING";
        case Verdict::Failed:
            return "FAILED";
        case Verdict::Skipped:
            return "skipped";
        case Verdict::Info:
            return "info";
    }
    return "";
}

void tally(Verdict verdict) {
    if (verdict == Verdict::Ok)
        ++Check.ok;
    else if (verdict == Verdict::Warning)
        ++Check.warnings;
    else if (verdict == Verdict::Failed)
        ++Check.failed;
}

// Prints one check line: its verdict and its text. Values from the settings
// file and driver messages may hold line breaks or control characters; they
// become blanks, so that every check stays one line. After a stop signal no
// line is printed: the calls refused since would read as failures.
void report(Verdict verdict, const char* format, ...) __attribute__((format(printf, 2, 3)));
void report(Verdict verdict, const char* format, ...) {
    if (platformStopSignal() != 0)
        return;
    char line[kLineSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    std::size_t length = 0;
    for (char* c = line; *c != '\0'; ++c, ++length) {
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f)
            *c = ' ';
    }
    while (length > 0 && line[length - 1] == ' ')
        line[--length] = '\0';
    std::fprintf(Check.out, "%-8s %s\n", verdictTag(verdict), line);
    std::fflush(Check.out);
    tally(verdict);
}

void absolutePath(const char* path, char (&out)[kPathSize]) {
    platformAbsolutePath(path, out, sizeof out);
}

// --- settings --------------------------------------------------------------

void checkSettingsFile() {
    char path[kPathSize];
    absolutePath(kSettingsFilePath, path);
    int error = platformFileReadable(kSettingsFilePath);
    Check.settingsRead = error == 0;
    if (error == 0)
        report(Verdict::Ok, "settings file %s is readable", path);
    else
        report(Verdict::Failed, "settings file %s cannot be read: %s", path, std::strerror(error));
}

// How a value shows in the values line: itself, or "missing".
const char* shown(const char* value) {
    return isEmptyText(value) ? "missing" : value;
}

void checkSettingsValues() {
    // The run reads its settings the same way; a value that comes out empty
    // is one the run does not have.
    loadSettings(kSettingsFilePath);
    if (!Check.settingsRead) {
        report(Verdict::Skipped, "settings values: not read, the settings file cannot be read");
        return;
    }
    bool complete = !isEmptyText(Settings.login) && !isEmptyText(Settings.password) &&
                    !isEmptyText(Settings.dbSystem) && !isEmptyText(Settings.database);
    report(complete ? Verdict::Ok : Verdict::Failed,
           "settings values: LOGIN %s, PASS %s, DB_SYSTEM %s, DATABASE %s", shown(Settings.login),
           isEmptyText(Settings.password) ? "missing" : "present (not shown)",
           shown(Settings.dbSystem), shown(Settings.database));
}

bool dbSystemSupported() {
    return dbSystemKnown(Settings.dbSystem);
}

void checkDbSystem() {
    if (!Check.settingsRead || isEmptyText(Settings.dbSystem))
        return;
    if (dbSystemSupported())
        report(Verdict::Ok, "DB_SYSTEM %s is one of ORACLE, MSSQL, MYSQL", Settings.dbSystem);
    else
        report(Verdict::Failed,
               "DB_SYSTEM \"%s\" is not one of ORACLE, MSSQL, MYSQL (in capitals, without "
               "blanks)",
               Settings.dbSystem);
}

// --- log folder ------------------------------------------------------------

void checkLogFolder() {
    char folder[kPathSize];
    char shownPath[kPathSize];
    platformFolderOf(kLogFilePath, folder, sizeof folder);
    absolutePath(folder, shownPath);
    int error = platformFolderWritable(folder);
    if (error != 0) {
        report(Verdict::Failed, "log folder %s: %s; a run would log nothing", shownPath,
               std::strerror(error));
        return;
    }
    report(Verdict::Ok, "log folder %s exists and is writable", shownPath);
    // An existing log that the run user may not write loses every line.
    error = platformLogFileWritable(kLogFilePath);
    if (error != 0 && error != ENOENT) {
        absolutePath(kLogFilePath, shownPath);
        report(Verdict::Failed, "run log %s cannot be written: %s", shownPath,
               platformErrorText(error));
    }
}

// --- database --------------------------------------------------------------

void checkConnect() {
    if (!Check.settingsRead || !dbSystemSupported()) {
        report(Verdict::Skipped, "connect: not tried without a valid DB_SYSTEM");
        return;
    }
    // dbConnect prints its own "Connect Error:" line on failure; the check's
    // line follows it.
    std::fflush(Check.out);
    if (dbConnect(Settings.login, Settings.password, Settings.database, Settings.dbSystem) == 0) {
        Check.connected = true;
        report(Verdict::Ok, "connected to data source %s as %s", Settings.database, Settings.login);
        return;
    }
    if (isEmptyText(LastDiag.SqlState)) {
        report(Verdict::Failed, "connect to data source %s as %s failed without a diagnostic",
               Settings.database, Settings.login);
        return;
    }
    report(Verdict::Failed,
           "connect to data source %s as %s failed: SQLSTATE %s, native error %ld: %s",
           Settings.database, Settings.login, LastDiag.SqlState,
           static_cast<long>(LastDiag.NativeError), LastDiag.MessageText);
}

void checkMySql() {
    if (!dbSystemIs("MYSQL"))
        return;
    report(Verdict::Failed,
           "DB_SYSTEM MYSQL: only connecting is supported; the terminal authorisation cursor and "
           "the two terminal counts have no MySQL form, so every run fails");
}

// The rebuild mode of the environment, as a run would take it: nothing to
// say without VENDRAK_REBUILD; a value that a run refuses fails; with the
// atomic rebuild, the data source's settings that make a run refuse it.
void checkRebuildMode() {
    char refusal[kLineSize];
    const int mode = readRebuildMode(refusal, sizeof refusal);
    if (mode == kRebuildDefault)
        return;
    if (mode == kRebuildUnknown) {
        report(Verdict::Failed, "%s", refusal);
        return;
    }
    if (!Check.connected) {
        report(Verdict::Skipped, "atomic rebuild: data source not checked without a connection");
        return;
    }
    RollbackSetting setting;
    if (dbFindUnsafeRollbackSetting(Settings.database, setting) == kStatementRollbackSafe) {
        report(Verdict::Ok, "atomic rebuild: data source %s has no setting against it",
               Settings.database);
        return;
    }
    report(Verdict::Failed,
           "atomic rebuild: data source %s has %s=%s (%s), with which psqlODBC does not roll back "
           "a failed statement alone; %s, or unset %s",
           Settings.database, setting.key, setting.value, setting.place, setting.remedy,
           kRebuildModeVariable);
}

// What the atomic rebuild and the dry run ask of the driver: auto-commit
// that really goes off, and transactions. Tried on the check's own session,
// which goes back to auto-commit before its next statement. A fault fails
// the check with VENDRAK_REBUILD=atomic; without it only the dry run (and
// that mode) would be refused, a warning.
void checkTransactions() {
    if (!Check.connected)
        return;
    const TransactionFault fault = dbTryTransactions();
    if (fault == TransactionFault::None) {
        report(Verdict::Ok, "transactions: auto-commit goes off and the driver has transactions");
        return;
    }
    char refusal[kLineSize];
    const bool atomic = readRebuildMode(refusal, sizeof refusal) == kRebuildAtomic;
    report(atomic ? Verdict::Failed : Verdict::Warning,
           "transactions: %s; %s=%s and --dry-run are refused on data source %s",
           dbTransactionFaultText(fault), kRebuildModeVariable, kAtomicRebuild, Settings.database);
}

struct ProbeResult {
    char missing[kNameListSize];          // required columns that are missing
    char missingOptional[kNameListSize];  // optional columns that are missing
};

// Probes the table with all its columns; only when that fails, the table
// alone and then each column, to name what is missing. Reports what makes the
// table unusable and returns false then; missing optional columns are left
// to the caller.
bool probeTable(const TableColumns& entry, ProbeResult& result) {
    std::memset(&result, 0, sizeof result);
    if (dbProbe(kSchema, entry.table, entry.columns))
        return true;
    DiagRecord firstFailure = LastDiag;
    if (!dbProbe(kSchema, entry.table, "1")) {
        report(Verdict::Failed, "table QVSYSTEM.%s is missing or cannot be read: SQLSTATE %s: %s",
               entry.table, LastDiag.SqlState, LastDiag.MessageText);
        return false;
    }
    char column[kColumnNameSize];
    for (const char* rest = entry.columns; rest != nullptr;) {
        rest = nextListName(rest, column, sizeof column);
        if (!dbProbe(kSchema, entry.table, column))
            appendListName(
                listHoldsName(entry.optional, column) ? result.missingOptional : result.missing,
                kNameListSize, column);
    }
    if (!isEmptyText(result.missing)) {
        report(Verdict::Failed, "table QVSYSTEM.%s lacks %s", entry.table, result.missing);
        return false;
    }
    if (isEmptyText(result.missingOptional)) {
        // Every part reads on its own, yet the whole did not.
        report(Verdict::Failed, "table QVSYSTEM.%s cannot be read: SQLSTATE %s: %s", entry.table,
               firstFailure.SqlState, firstFailure.MessageText);
        return false;
    }
    return true;
}

void checkTrmAswDnlForm(const ProbeResult& result) {
    const char* lacking = result.missingOptional;
    if (isEmptyText(lacking)) {
        report(Verdict::Ok, "TrmAswDnl has the form of 40 columns");
        return;
    }
    const char* form = std::strcmp(lacking, kLacks38) == 0   ? "the form of 38 columns, without"
                       : std::strcmp(lacking, kLacks37) == 0 ? "the form of 37 columns, without"
                                                             : "none of its forms, it lacks";
    report(Verdict::Warning,
           "TrmAswDnl has %s %s: full rebuilds write it, but key runs fail on it, because their "
           "update names DnlPin, DnlPnr and DnlNam",
           form, lacking);
}

void checkTables() {
    if (!Check.connected) {
        report(Verdict::Skipped, "tables and columns: not checked without a connection");
        return;
    }
    for (const TableColumns& entry : kCheckedTables) {
        ProbeResult result;
        if (!probeTable(entry, result))
            continue;
        if (isEmptyText(result.missingOptional))
            report(Verdict::Ok, "table QVSYSTEM.%s with its %zu columns", entry.table,
                   listNameCount(entry.columns));
        else
            report(Verdict::Ok, "table QVSYSTEM.%s with its columns but %s", entry.table,
                   result.missingOptional);
        if (std::strcmp(entry.table, kTrmAswDnlTable) == 0)
            checkTrmAswDnlForm(result);
    }
}

// --- write rights of the download tables -----------------------------------

// The tables a run empties and writes, each with a column that the update
// probe sets to itself.
struct WrittenTable {
    const char* table;
    const char* column;
};
const WrittenTable kWrittenTables[] = {
    {"TrmAswDnl", "DnlTrm"},
    {"SalAswDnl", "DnlSal"},
    {"SalAswDnl2", "DnlSal"},
    {"AswBklDnl", "DnlTrm"},
};

// A DELETE and an UPDATE that meet no row: the DB system checks the rights
// to run them, and no row changes.
const char* const kDeleteProbe = "DELETE FROM QVSYSTEM.%s WHERE 1 = 0";
const char* const kUpdateProbe = "UPDATE QVSYSTEM.%s SET %s = %s WHERE 1 = 0";

// Runs one write probe. True when it ran, or when it was refused because
// the table cannot be read at all, which the table check has reported;
// otherwise the refusal is reported with the statement and the table.
bool checkWriteRight(const WrittenTable& entry, const char* statement, const char* text) {
    ExecOutcome outcome = execStatement(text, SqlValues(nullptr, 0));
    if (outcome.sent && !outcome.failed)
        return true;
    const DiagRecord refusal = LastDiag;
    if (dbProbe(kSchema, entry.table, "1"))
        report(Verdict::Failed, "table QVSYSTEM.%s: %s refused: SQLSTATE %s: %s", entry.table,
               statement, refusal.SqlState, refusal.MessageText);
    return false;
}

void checkWriteRights() {
    if (!Check.connected)
        return;
    for (const WrittenTable& entry : kWrittenTables) {
        char deleteText[kLineSize];
        char updateText[kLineSize];
        std::snprintf(deleteText, sizeof deleteText, kDeleteProbe, entry.table);
        std::snprintf(updateText, sizeof updateText, kUpdateProbe, entry.table, entry.column,
                      entry.column);
        const bool deleteAllowed = checkWriteRight(entry, "DELETE", deleteText);
        const bool updateAllowed = checkWriteRight(entry, "UPDATE", updateText);
        if (deleteAllowed && updateAllowed)
            report(Verdict::Ok, "table QVSYSTEM.%s may be emptied and updated", entry.table);
    }
}

void reportIndexFinding(IndexFinding finding, const char* text) {
    const Verdict verdict = finding == IndexFinding::AllServed   ? Verdict::Ok
                            : finding == IndexFinding::NotServed ? Verdict::Warning
                                                                 : Verdict::Info;
    report(verdict, "%s", text);
}

void reportCursorLine(bool passed, const char* text) {
    report(passed ? Verdict::Ok : Verdict::Failed, "%s", text);
}

void checkTableIndexes() {
    if (Check.connected)
        checkIndexes(reportIndexFinding);
}

// --- run lock --------------------------------------------------------------

void checkRunLock() {
    char path[kPathSize];
    absolutePath(kRunLockPath, path);
    int error = 0;
    switch (platformProbeLock(kRunLockPath, &error)) {
        case LockProbe::Held:
            report(Verdict::Info, "a run is in progress (%s is held)", path);
            break;
        case LockProbe::Free:
        case LockProbe::NoLockFile:
            report(Verdict::Info, "no run in progress");
            break;
        case LockProbe::Unknown:
            // The run cannot use it either and ends without preparing.
            report(Verdict::Failed, "run lock %s cannot be used: %s; every run would end with 99",
                   path, platformErrorText(error));
            break;
    }
}

}  // namespace

bool isCheckCommand(int argc, char** argv) {
    return argc == 2 && std::strcmp(argv[1], "--check") == 0;
}

namespace {

// The checks in the order of their lines.
void checkCursorMode() {
    checkCursors(Check.connected, reportCursorLine);
}

void (*const kChecks[])() = {
    checkSettingsFile, checkSettingsValues, checkDbSystem,     checkLogFolder,  checkConnect,
    checkMySql,        checkRebuildMode,    checkTransactions, checkCursorMode, checkTables,
    checkWriteRights,  checkTableIndexes,   checkRunLock,
};

// The last line: the tally and what it means, or why the check did not finish.
void printSummary(const char* ending) {
    std::fprintf(Check.out, "summary: %d ok, %d %s, %d failed: %s\n", Check.ok, Check.warnings,
                 Check.warnings == 1 ? "warning" : "warnings", Check.failed, ending);
    std::fflush(Check.out);
}

void printStoppedSummary() {
    char ending[128];
    std::snprintf(ending, sizeof ending, "stopped by %s, the check did not finish",
                  platformSignalName(platformStopSignal()));
    printSummary(ending);
}

// The watch action of the check, on the watcher's thread: a database call
// that is past its end (its limit, or a stop signal) ends the check with its
// line and the summary. _exit: the check's thread is inside the driver.
void watchCheck(bool stopped) {
    OverdueCall overdue = {};
    if (dbSuperviseCallInFlight(platformMonotonicMs(), stopped, &overdue) != kDbRunMustEnd)
        return;
    std::fprintf(Check.out, "%-8s %s did not answer after %ld s\n", verdictTag(Verdict::Failed),
                 dbCallName(overdue.kind), overdue.waitedSeconds);
    ++Check.failed;
    if (stopped)
        printStoppedSummary();
    else
        printSummary("the check did not finish");
    std::fflush(stderr);
    _exit(kExitFailure);
}

}  // namespace

int runCheck(std::FILE* out) {
    std::memset(&Check, 0, sizeof Check);
    Check.out = out;
    // Every call of the check is bounded as a run's are, and a stop ends it.
    platformCatchStopSignals(watchCheck);
    for (void (*check)() : kChecks) {
        if (platformStopSignal() != 0)
            break;
        check();
    }
    if (Check.connected)
        dbDisconnect();
    if (platformStopSignal() != 0) {
        printStoppedSummary();
        return kExitFailure;
    }
    bool canRun = Check.failed == 0;
    printSummary(canRun ? "a full rebuild can run" : "a full rebuild cannot run");
    return canRun ? kExitSuccess : kExitFailure;
}

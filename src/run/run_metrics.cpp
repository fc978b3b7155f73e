#include "run/run_metrics.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "db/transaction.h"
#include "log/console.h"
#include "platform/monitoring.h"
#include "platform/text.h"

#ifndef VENDRAK_VERSION
#error "VENDRAK_VERSION comes from the build (the project version)"
#endif

RunRecord RunMetrics;

namespace {

constexpr int kPhaseCount = static_cast<int>(RunPhase::Count);
constexpr int kTableCount = static_cast<int>(DownloadTable::Count);
constexpr std::size_t kMetricsTextSize = 8192;
constexpr std::size_t kProgressLabelSize = 64;
constexpr unsigned kMetricsFileMode = 0644;  // the collector runs as another user

struct PhaseNames {
    const char* label;     // the metrics' phase label
    const char* progress;  // the progress line's
};
constexpr PhaseNames kPhaseNames[kPhaseCount] = {
    {"terminal_authorisations", "terminal authorisations"},
    {"balance_values", "balance values"},
    {"access_authorisations", "access authorisations"},
    {"key_update", "key update"},
};

// The phase whose attempt has begun and not ended, -1 for none: a run that
// ends inside a database call ends inside its attempt.
int phaseInAttempt = -1;

// A run that did not begin its metrics (a dry run) ends without a file, on
// every path: monitoring keeps reading the last run that changed the tables.
bool metricsBegun = false;

PhaseRecord& phaseRecord(RunPhase phase) {
    return RunMetrics.phases[static_cast<int>(phase)];
}

// "full" when a phase of the full rebuild ran, also after a key without
// request rows: the tables then hold a full rebuild. "key" for a run with a
// download key that did not get to a full rebuild, "full" for one without.
const char* runMode() {
    for (RunPhase phase : {RunPhase::TerminalAuthorisations, RunPhase::BalanceValues,
                           RunPhase::AccessAuthorisations}) {
        if (phaseRecord(phase).attempts > 0)
            return "full";
    }
    return RunMetrics.keyGiven ? "key" : "full";
}

double phaseSeconds(const PhaseRecord& record) {
    if (record.attempts == 0)
        return 0.0;
    return static_cast<double>(record.endMs - record.startMs) / 1000.0;
}

long tableRows(int table) {
    long rows = 0;
    for (const PhaseRecord& record : RunMetrics.phases)
        rows += record.rows[table];
    return rows;
}

// The metrics text under construction; a text that does not fit is not
// written at all rather than cut.
struct MetricsText {
    char text[kMetricsTextSize];
    std::size_t length;
    bool fits;
};

void append(MetricsText& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void append(MetricsText& out, const char* format, ...) {
    if (!out.fits)
        return;
    std::size_t room = sizeof out.text - out.length;
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(out.text + out.length, room, format, args);
    va_end(args);
    if (written < 0 || static_cast<std::size_t>(written) >= room) {
        out.fits = false;
        return;
    }
    out.length += static_cast<std::size_t>(written);
}

void appendHeader(MetricsText& out, const char* name, const char* help) {
    append(out, "# HELP %s %s\n# TYPE %s gauge\n", name, help, name);
}

void appendRunMetrics(MetricsText& out, int exitCode) {
    appendHeader(out, "vendrak_last_run_success",
                 "1 when the last run ended with exit code 0, 0 when it failed.");
    append(out, "vendrak_last_run_success %d\n", exitCode == 0 ? 1 : 0);
    appendHeader(out, "vendrak_last_run_start_timestamp_seconds",
                 "Start of the last run, in seconds since the epoch.");
    append(out, "vendrak_last_run_start_timestamp_seconds %.3f\n", RunMetrics.startSeconds);
    appendHeader(out, "vendrak_last_run_end_timestamp_seconds",
                 "End of the last run, in seconds since the epoch.");
    append(out, "vendrak_last_run_end_timestamp_seconds %.3f\n", RunMetrics.endSeconds);
    appendHeader(out, "vendrak_last_run_info",
                 "Mode of the last run (full rebuild or key update) and the program version.");
    append(out, "vendrak_last_run_info{mode=\"%s\",version=\"%s\"} 1\n", runMode(),
           VENDRAK_VERSION);
    appendHeader(out, "vendrak_last_run_atomic",
                 "1 when the last run wrote in transactions of its own (VENDRAK_REBUILD=atomic), "
                 "0 when each statement took effect on its own.");
    append(out, "vendrak_last_run_atomic %d\n", dbTransactionsOn() ? 1 : 0);
    appendHeader(out, "vendrak_last_run_refused",
                 "1 when the last run refused its full rebuild for the reason given "
                 "(shrink: VENDRAK_MAX_SHRINK), 0 otherwise.");
    append(out, "vendrak_last_run_refused{reason=\"shrink\"} %d\n",
           RunMetrics.shrinkRefused ? 1 : 0);
}

void appendPhaseMetrics(MetricsText& out) {
    appendHeader(out, "vendrak_phase_duration_seconds",
                 "Wall time of each phase of the last run, from the start of its first attempt "
                 "to the end of its last; 0 when it did not run.");
    for (int p = 0; p < kPhaseCount; ++p) {
        append(out, "vendrak_phase_duration_seconds{phase=\"%s\"} %.3f\n", kPhaseNames[p].label,
               phaseSeconds(RunMetrics.phases[p]));
    }
    appendHeader(out, "vendrak_phase_attempts",
                 "Attempts of each phase of the last run; 0 when it did not run.");
    for (int p = 0; p < kPhaseCount; ++p) {
        append(out, "vendrak_phase_attempts{phase=\"%s\"} %ld\n", kPhaseNames[p].label,
               RunMetrics.phases[p].attempts);
    }
    appendHeader(out, "vendrak_rows_written",
                 "Rows of each download table inserted, or updated by the key update, by the "
                 "last attempt of each phase of the last run.");
    for (int t = 0; t < kTableCount; ++t) {
        append(out, "vendrak_rows_written{table=\"%s\"} %ld\n",
               downloadTableName(static_cast<DownloadTable>(t)), tableRows(t));
    }
}

// Writes the metrics file named by the environment, if any.
void writeMetricsFile(int exitCode) {
    const char* path = std::getenv(kMetricsFileVariable);
    if (path == nullptr || isEmptyText(path))
        return;
    static MetricsText out;
    out.length = 0;
    out.fits = true;
    out.text[0] = '\0';
    appendRunMetrics(out, exitCode);
    appendPhaseMetrics(out);
    if (!out.fits) {
        consoleLine("cannot write the metrics file %s: the metrics do not fit", path);
        return;
    }
    int error = platformReplaceFile(path, out.text, out.length, kMetricsFileMode);
    if (error != 0)
        consoleLine("cannot write the metrics file %s: %s", path, std::strerror(error));
}

// The phase's name as the progress line shows it, with the attempt from the
// second one on.
void attemptLabel(RunPhase phase, char (&label)[kProgressLabelSize]) {
    const char* name = kPhaseNames[static_cast<int>(phase)].progress;
    const long attempt = phaseRecord(phase).attempts;
    if (attempt == 1)
        std::snprintf(label, sizeof label, "%s", name);
    else
        std::snprintf(label, sizeof label, "%s (attempt %ld)", name, attempt);
}

// One line on standard error counts the duplicates that a phase attempt of
// the full rebuild skipped; each of them is in the run log. The key update
// meets the rows of the last full build as duplicates at every run, by
// design, so its count would say nothing.
void reportSkippedDuplicates(RunPhase phase) {
    const long skipped = RowsWritten.duplicatesSkipped;
    if (skipped == 0 || phase == RunPhase::KeyUpdate)
        return;
    char label[kProgressLabelSize];
    attemptLabel(phase, label);
    const char* rows = skipped == 1 ? "row" : "rows";
    if (isEmptyText(RowsWritten.duplicateState))
        consoleLine("%s: %ld duplicate %s skipped", label, skipped, rows);
    else
        consoleLine("%s: %ld duplicate %s skipped (SQLSTATE %s)", label, skipped, rows,
                    RowsWritten.duplicateState);
}

}  // namespace

void runMetricsBegin(int argc, char** argv) {
    RunMetrics = RunRecord{};
    phaseInAttempt = -1;
    metricsBegun = true;
    RunMetrics.startSeconds = platformWallClockSeconds();
    // The same rule as the run control's: only a single argument is a key,
    // and an empty one is none.
    RunMetrics.keyGiven = argc == 2 && !isEmptyText(argv[1]);
}

void phaseAttemptBegins(RunPhase phase) {
    PhaseRecord& record = phaseRecord(phase);
    long long now = platformMonotonicMs();
    if (record.attempts == 0)
        record.startMs = now;
    ++record.attempts;
    phaseInAttempt = static_cast<int>(phase);
    clearRowsWritten();

    char label[kProgressLabelSize];
    attemptLabel(phase, label);
    consoleProgressBegin(label);
}

void phaseAttemptEnds(RunPhase phase) {
    PhaseRecord& record = phaseRecord(phase);
    record.endMs = platformMonotonicMs();
    phaseInAttempt = -1;
    for (int t = 0; t < kTableCount; ++t)
        record.rows[t] = RowsWritten.rows[t];
    consoleProgressEnd();
    reportSkippedDuplicates(phase);
}

void runMetricsEnd(int exitCode) {
    if (!metricsBegun)
        return;
    if (phaseInAttempt >= 0)
        RunMetrics.phases[phaseInAttempt].endMs = platformMonotonicMs();
    RunMetrics.endSeconds = platformWallClockSeconds();
    writeMetricsFile(exitCode);
}

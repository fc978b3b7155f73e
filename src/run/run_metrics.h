// The run's own bookkeeping for monitoring: when it started and ended, how
// each phase went (attempts, wall time, rows written), and at the end of
// every run the metrics file that VENDRAK_METRICS_FILE names, in the text
// format that node_exporter's textfile collector reads. The same
// bookkeeping drives the progress line on a terminal.
#pragma once

#include "download/rows_written.h"

// The units of work with attempts of their own: the three phases of the
// full rebuild and the key update.
enum class RunPhase {
    TerminalAuthorisations,
    BalanceValues,
    AccessAuthorisations,
    KeyUpdate,
    Count
};

struct PhaseRecord {
    long attempts;      // 0: the phase did not run
    long long startMs;  // start of its first attempt (monotonic clock)
    long long endMs;    // end of its last attempt
    long rows[static_cast<int>(DownloadTable::Count)];  // written by its last attempt
};

struct RunRecord {
    double startSeconds;  // wall clock, seconds since the epoch
    double endSeconds;
    bool keyGiven;       // started with a download key
    bool shrinkRefused;  // the shrink guard refused the full rebuild
    PhaseRecord phases[static_cast<int>(RunPhase::Count)];
};
extern RunRecord RunMetrics;

// The environment variable that names the metrics file; unset or empty, no
// file is written.
constexpr const char* kMetricsFileVariable = "VENDRAK_METRICS_FILE";

// Notes the start of the run and whether the command line gives a download
// key (exactly one argument, not empty).
void runMetricsBegin(int argc, char** argv);

// Around every attempt of a phase, right before and right after its
// builder: the attempt's row counts start at 0 and its progress line is
// shown; at the end the phase keeps the attempt's rows and its end time.
void phaseAttemptBegins(RunPhase phase);
void phaseAttemptEnds(RunPhase phase);

// Notes the end of the run and writes the metrics file, if one is named.
// A file that cannot be written is reported on standard error; the run's
// result stays as it is. Without runMetricsBegin (a dry run) it does nothing.
void runMetricsEnd(int exitCode);

// Vendrak: prepares the download tables of the terminals. Run without an
// argument for a full rebuild, or with a download key to update the badges
// listed under that key. Exit code 0 on success, 99 on failure.
#include <cstdio>

#include "db/cursor_mode.h"
#include "db/time_limits.h"
#include "platform/platform.h"
#include "run/check.h"
#include "run/command_line.h"
#include "run/commit_proof.h"
#include "run/exit_codes.h"
#include "run/prepare.h"
#include "run/rebuild_mode.h"
#include "run/run_metrics.h"

int main(int argc, char** argv) {
    platformDisableCoreDumps();
    if (isCheckCommand(argc, argv)) {
        dbReadTimeLimits();
        return runCheck(stdout);
    }
    int informationExit = runInformationOption(argc, argv, stdout);
    if (informationExit != kNoInformationOption)
        return informationExit;
    int refusedExit = refuseCommandLine(argc, argv, stderr);
    if (refusedExit != kCommandLineAccepted)
        return refusedExit;
    CommitProof.dryRun = isDryRunCommand(argc, argv);
    if (takeRebuildMode() != kRebuildModeTaken || !takeCursorMode())
        return kExitFailure;
    dbReadTimeLimits();
    // A dry run leaves the metrics file to the runs that change the tables,
    // which monitoring judges: without its begin, no end writes one.
    if (!CommitProof.dryRun)
        runMetricsBegin(argc, argv);
    int exitCode = runProgram(argc, argv);
    runMetricsEnd(exitCode);
    return exitCode;
}

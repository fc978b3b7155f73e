// Vendrak: prepares the download tables of the terminals. Run without an
// argument for a full rebuild, or with a download key to update the badges
// listed under that key. Exit code 0 on success, 99 on failure.
#include <cstdio>

#include "platform/platform.h"
#include "run/command_line.h"
#include "run/prepare.h"

int main(int argc, char** argv) {
    platformDisableCoreDumps();
    int informationExit = runInformationOption(argc, argv, stdout);
    if (informationExit != kNoInformationOption)
        return informationExit;
    return runProgram(argc, argv);
}

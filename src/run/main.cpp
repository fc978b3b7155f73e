// Vendrak: prepares the download tables of the terminals. Run without an
// argument for a full rebuild, or with a download key to update the badges
// listed under that key. Exit code 0 on success, 99 on failure.
#include "run/prepare.h"

int main(int argc, char** argv) {
    return runProgram(argc, argv);
}

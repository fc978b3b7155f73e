#include "run/command_line.h"

#include <cstring>

#ifndef VENDRAK_VERSION
#error "VENDRAK_VERSION comes from the build (the project version)"
#endif

namespace {

const char kUsage[] =
    "Usage: vendrak [DOWNLOAD-KEY]\n"
    "       vendrak --help | -h | --version\n"
    "\n"
    "Prepares the download tables of the terminals over ODBC.\n"
    "  (no argument)  full rebuild: terminal authorisations, balance values,\n"
    "                 access authorisations\n"
    "  DOWNLOAD-KEY   update the badges listed under this key (at most 14\n"
    "                 characters) in QvsAswDnl; a key without request rows is\n"
    "                 followed by a full rebuild\n"
    "  --check        check the installation without changing anything and exit\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Run it from a working directory two levels below the installation root:\n"
    "it reads ../../files/quorvance.ini (written with vendrak-settings) and\n"
    "appends to ../../Quorvance_php/log/vendraklog.txt.\n"
    "Exit codes: 0 success, 99 failure (the run log tells why).\n";

}  // namespace

int runInformationOption(int argc, char** argv, std::FILE* out) {
    if (argc != 2)
        return kNoInformationOption;
    const char* argument = argv[1];
    if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
        std::fputs(kUsage, out);
        return 0;
    }
    if (std::strcmp(argument, "--version") == 0) {
        std::fprintf(out, "vendrak %s\n", VENDRAK_VERSION);
        return 0;
    }
    return kNoInformationOption;
}

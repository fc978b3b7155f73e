#include "run/command_line.h"

#include <cstring>

#include "download/request_row.h"
#include "run/exit_codes.h"

#ifndef VENDRAK_VERSION
#error "VENDRAK_VERSION comes from the build (the project version)"
#endif

namespace {

const char kUsage[] =
    "Usage: vendrak [DOWNLOAD-KEY]\n"
    "       vendrak --dry-run | --check | --help | -h | --version\n"
    "\n"
    "Prepares the download tables of the terminals over ODBC.\n"
    "  (no argument)  full rebuild: terminal authorisations, balance values,\n"
    "                 access authorisations\n"
    "  DOWNLOAD-KEY   update the badges listed under this key in QvsAswDnl; a\n"
    "                 key without request rows is followed by a full rebuild.\n"
    "                 A key has at most 14 bytes and does not start with \"-\";\n"
    "                 any other single argument is refused (exit 99, nothing\n"
    "                 done). Two or more arguments make a full rebuild, unless\n"
    "                 one starts with \"-\": options stand alone, so such a\n"
    "                 command line is refused the same way.\n"
    "  --dry-run      run the full rebuild in one transaction, with its proof\n"
    "                 and VENDRAK_MAX_SHRINK, then roll it back; prints each\n"
    "                 download table's rows now and after (\"TrmAswDnl 181 -> 179\");\n"
    "                 exit 0 when the rebuild would succeed; no metrics file.\n"
    "                 It holds the transaction, and its locks, for a whole rebuild;\n"
    "                 tables changed despite its rollback, or a stop, give 99.\n"
    "  --check        check the installation without changing anything and exit;\n"
    "                 a stop or a call that does not return ends it with 99\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Run it from a working directory two levels below the installation root:\n"
    "it reads ../../files/quorvance.ini (written with vendrak-settings) and\n"
    "appends to ../../Quorvance_php/log/vendraklog.txt.\n"
    "One run per installation at a time: a second run waits up to 60 minutes\n"
    "for the first (lock file ../../Quorvance_php/log/vendrak.lock).\n"
    "SIGTERM or SIGINT (Ctrl-C) stops a run at once: the statement in flight is\n"
    "cancelled and no further one is sent.\n"
    "A database call that has not returned 30 s after its time-out is cancelled;\n"
    "10 s later, or 10 s after a stop, the run ends with 99 (a silent link too).\n"
    "Exit codes: 0 success, 99 failure (the run log tells why).\n"
    "\n"
    "Environment:\n"
    "  VENDRAK_METRICS_FILE       write the run's metrics to this file at its end\n"
    "  VENDRAK_LOGIN_TIMEOUT      seconds a connect may take (default 30, 0 none)\n"
    "  VENDRAK_STATEMENT_TIMEOUT  seconds a statement may take (default 900, 0 none)\n"
    "  VENDRAK_REBUILD=atomic     the full rebuild takes effect in one transaction\n"
    "                             (and a key run badge by badge): a failed run\n"
    "                             leaves the tables as they were; unset or empty,\n"
    "                             each statement takes effect on its own; any other\n"
    "                             value is refused (exit 99). Before each commit\n"
    "                             the rows of the download tables are counted and\n"
    "                             read back (a digest of their values): a table\n"
    "                             that does not hold what was written, in number\n"
    "                             or content, fails the attempt, which is rolled\n"
    "                             back and retried; the reading costs one more\n"
    "                             pass over the tables.\n"
    "                             The driver must hold a transaction open:\n"
    "                             auto-commit off read back as off, and\n"
    "                             SQL_TXN_CAPABLE not none; otherwise the run\n"
    "                             (and --dry-run) is refused before it writes.\n"
    "                             Tables that changed despite a rollback end the\n"
    "                             run with 99, without a retry\n"
    "  VENDRAK_MAX_SHRINK=P       with VENDRAK_REBUILD=atomic or --dry-run: a full\n"
    "                             rebuild that would leave TrmAswDnl or AswBklDnl\n"
    "                             with fewer than (100-P)% of their rows is rolled\n"
    "                             back, not retried (exit 99); P is 0..100,\n"
    "                             leading zeros allowed\n"
    "  VENDRAK_CURSORS=read-only  every cursor is a read-only server cursor, for\n"
    "                             servers that refuse locking cursors (Babelfish);\n"
    "                             any other value is refused (exit 99)\n";

// Every option of the program. "--check" is answered before the program run;
// here it only counts as an option, not as a mistyped key.
const char* const kOptions[] = {"--help", "-h", "--version", "--check", kDryRunOption};

bool isOption(const char* argument) {
    for (const char* option : kOptions) {
        if (std::strcmp(argument, option) == 0)
            return true;
    }
    return false;
}

// The first argument that starts with "-", or nullptr.
const char* firstOptionLike(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-')
            return argv[i];
    }
    return nullptr;
}

// The longest download key, in bytes: the key field without its terminator.
constexpr std::size_t kDownloadKeyLength = kDownloadKeyWidth - 1;

}  // namespace

bool isDryRunCommand(int argc, char** argv) {
    return argc == 2 && std::strcmp(argv[1], kDryRunOption) == 0;
}

int runInformationOption(int argc, char** argv, std::FILE* out) {
    if (argc != 2)
        return kNoInformationOption;
    const char* argument = argv[1];
    if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
        std::fputs(kUsage, out);
        return kExitSuccess;
    }
    if (std::strcmp(argument, "--version") == 0) {
        std::fprintf(out, "vendrak %s\n", VENDRAK_VERSION);
        return kExitSuccess;
    }
    return kNoInformationOption;
}

int refuseCommandLine(int argc, char** argv, std::FILE* err) {
    const char* optionLike = firstOptionLike(argc, argv);
    if (argc > 2 && optionLike != nullptr) {
        // "--check -v" must not become a full rebuild: an option, known or
        // not, never shares the command line.
        if (isOption(optionLike))
            std::fprintf(err, "vendrak: the option '%s' takes no further arguments\n\n",
                         optionLike);
        else
            std::fprintf(err, "vendrak: unknown option '%s'\n\n", optionLike);
        std::fputs(kUsage, err);
        return kCommandLineRefused;
    }
    if (argc != 2)
        return kCommandLineAccepted;
    const char* argument = argv[1];
    if (argument[0] == '-' && !isOption(argument)) {
        std::fprintf(err, "vendrak: unknown option '%s'\n\n", argument);
    } else if (std::strlen(argument) > kDownloadKeyLength) {
        std::fprintf(err, "vendrak: the download key '%s' is longer than %zu bytes\n\n", argument,
                     kDownloadKeyLength);
    } else {
        return kCommandLineAccepted;
    }
    std::fputs(kUsage, err);
    return kCommandLineRefused;
}

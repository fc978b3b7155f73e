// vendrak-settings: writes and inspects the settings file that the program
// reads at start, using the program's own cipher and reader.

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/db_system.h"
#include "platform/platform.h"
#include "settings/cipher.h"
#include "settings/settings.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitIo = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage:\n"
    "  vendrak-settings encipher TEXT\n"
    "  vendrak-settings encipher -\n"
    "      Prints the stored (enciphered) form of TEXT, or with - of one line\n"
    "      read from standard input (not echoed on a terminal). Prefer -: a\n"
    "      TEXT on the command line shows in the process list.\n"
    "  vendrak-settings write FILE --login L --db-system S --database D\n"
    "                          (--password-stdin | --password P)\n"
    "      Writes a complete settings file FILE (a host path) with the records\n"
    "      LOGIN, PASS, DB_SYSTEM and DATABASE, mode 0600, LF line ends.\n"
    "      --password-stdin reads the password as one line from standard input\n"
    "      (not echoed on a terminal); this is the way to give it. --password P\n"
    "      still works but shows the password in the process list to every\n"
    "      user of the machine, and prints a warning on standard error.\n"
    "      Values must be non-empty, without line breaks, and at most 192\n"
    "      (login, password) or 40 (database) characters long; the DB system\n"
    "      is ORACLE, MSSQL or MYSQL, exactly so. Anything else is refused and\n"
    "      nothing is written.\n"
    "  vendrak-settings show FILE\n"
    "      Prints the settings as the program resolves them from FILE:\n"
    "        LOGIN=<login>\n"
    "        PASS=***        (empty when no password is found)\n"
    "        DB_SYSTEM=<db system>\n"
    "        DATABASE=<data source name>\n"
    "  vendrak-settings --help\n"
    "\n"
    "Exit codes: 0 success, 1 file error, 2 usage error.\n";

// The longest body line the reader accepts, line end not counted.
constexpr std::size_t kBodyLineChars = kIniBodyLineSize - 1;
// The widest value `encipher` takes: the widest Settings field.
constexpr std::size_t kMaxPlainChars = kLoginWidth - 1;
constexpr std::size_t kMaxStoredSize = 2 * (kMaxPlainChars + 8) + 1;

struct RecordLayout {
    const char* key;
    std::size_t fieldWidth;  // the Settings field the value goes to
};

// The four records in file order; their record numbers are 1 to 4.
const RecordLayout kRecords[4] = {
    {"LOGIN", kLoginWidth},
    {"PASS", kPasswordWidth},
    {"DB_SYSTEM", kDbSystemWidth},
    {"DATABASE", kDatabaseWidth},
};

struct WriteOptions {
    const char* file;
    const char* values[4];  // in kRecords order
    bool passwordFromStdin;
};

int usageError(const char* message) {
    std::fprintf(stderr, "vendrak-settings: %s\n(see vendrak-settings --help)\n", message);
    return kExitUsage;
}

// The longest plain text that comes back whole for record `index`: it must
// fit its Settings field, and its stored form (16 digits per started block of
// 8 characters) must fit the body line "N;KEY;" + digits.
std::size_t maxValueChars(int index) {
    std::size_t prefix = 2 + std::strlen(kRecords[index].key) + 1;  // "N;" KEY ";"
    std::size_t lineFit = (kBodyLineChars - prefix) / 16 * 8;
    std::size_t fieldFit = kRecords[index].fieldWidth - 1;
    return lineFit < fieldFit ? lineFit : fieldFit;
}

int checkValue(int index, const char* value) {
    char message[128];
    const char* key = kRecords[index].key;
    if (value[0] == '\0')
        std::snprintf(message, sizeof message, "the %s value is empty", key);
    else if (std::strpbrk(value, "\r\n") != nullptr)
        std::snprintf(message, sizeof message, "the %s value contains a line break", key);
    else if (std::strlen(value) > maxValueChars(index))
        std::snprintf(message, sizeof message, "the %s value is longer than %zu characters", key,
                      maxValueChars(index));
    else if (std::strcmp(key, "DB_SYSTEM") == 0 && !dbSystemKnown(value))
        std::snprintf(message, sizeof message,
                      "the DB_SYSTEM value must be ORACLE, MSSQL or MYSQL, exactly so");
    else
        return kExitOk;
    return usageError(message);
}

// Reads one line from standard input into `out` without its line end.
// Returns kExitUsage, with `tooLong` as the message, when the line does not
// fit.
int readInputLine(char* out, std::size_t outSize, const char* tooLong) {
    out[0] = '\0';
    if (std::fgets(out, static_cast<int>(outSize), stdin) == nullptr)
        return kExitOk;  // empty input: the caller decides
    std::size_t length = std::strlen(out);
    if (length > 0 && out[length - 1] == '\n')
        out[--length] = '\0';
    else if (!std::feof(stdin))
        return usageError(tooLong);
    if (length > 0 && out[length - 1] == '\r')
        out[--length] = '\0';
    return kExitOk;
}

// Terminal state while a secret is typed: the settings to go back to, and
// the signal dispositions replaced meanwhile, so that Ctrl-C or a hang-up
// does not leave the terminal without echo.
struct termios terminalBefore;
volatile sig_atomic_t terminalQuiet = 0;
const int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction signalsBefore[4];

void restoreTerminalAndRaise(int signalNumber) {
    if (terminalQuiet)
        tcsetattr(STDIN_FILENO, TCSANOW, &terminalBefore);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// Switches echo off (the line end is still echoed) and prompts on standard
// error, when standard input is a terminal; otherwise does nothing.
void beginSecretInput(const char* prompt) {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &terminalBefore) != 0)
        return;
    struct sigaction restoring = {};
    restoring.sa_handler = restoreTerminalAndRaise;
    for (int i = 0; i < 4; ++i)
        sigaction(kRestoringSignals[i], &restoring, &signalsBefore[i]);
    struct termios quiet = terminalBefore;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    terminalQuiet = 1;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::fputs(prompt, stderr);
}

void endSecretInput() {
    if (!terminalQuiet)
        return;
    tcsetattr(STDIN_FILENO, TCSANOW, &terminalBefore);
    terminalQuiet = 0;
    for (int i = 0; i < 4; ++i)
        sigaction(kRestoringSignals[i], &signalsBefore[i], nullptr);
}

// One line from standard input as readInputLine reads it, not echoed when
// standard input is a terminal. The terminal is restored on every path.
int readSecretLine(char* out, std::size_t outSize, const char* prompt, const char* tooLong) {
    beginSecretInput(prompt);
    int rc = readInputLine(out, outSize, tooLong);
    endSecretInput();
    return rc;
}

int optionIndex(const char* name) {
    static const char* const kNames[4] = {"--login", "--password", "--db-system", "--database"};
    for (int i = 0; i < 4; ++i) {
        if (std::strcmp(name, kNames[i]) == 0)
            return i;
    }
    return -1;
}

int parseWriteOptions(int argc, char** argv, WriteOptions* options) {
    std::memset(options, 0, sizeof *options);
    if (argc < 3 || argv[2][0] == '-')
        return usageError("write: FILE is missing");
    options->file = argv[2];
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--password-stdin") == 0) {
            if (options->passwordFromStdin)
                return usageError("write: --password-stdin given twice");
            options->passwordFromStdin = true;
            continue;
        }
        int index = optionIndex(argv[i]);
        if (index < 0)
            return usageError("write: unknown argument");
        if (i + 1 >= argc)
            return usageError("write: an option is missing its value");
        if (options->values[index] != nullptr)
            return usageError("write: an option is given twice");
        options->values[index] = argv[++i];
    }
    if (options->passwordFromStdin == (options->values[1] != nullptr))
        return usageError("write: give exactly one of --password and --password-stdin");
    for (int i = 0; i < 4; ++i) {
        if (i != 1 && options->values[i] == nullptr)
            return usageError("write: --login, --db-system and --database are required");
    }
    return kExitOk;
}

// Appends the record `number` ("N;DATABASE;CONNECT" then "N;KEY;HEX") to
// `content`. The values have been checked to fit, so nothing is cut.
void appendRecord(char* content, std::size_t contentSize, int number, const char* key,
                  const char* value) {
    char stored[kMaxStoredSize];
    bfEncryptHex(value, stored, sizeof stored, kSettingsCipherKey);
    std::size_t used = std::strlen(content);
    std::snprintf(content + used, contentSize - used, "%d;DATABASE;CONNECT\n%d;%s;%s\n", number,
                  number, key, stored);
}

int writeAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, data, length);
        if (written < 0)
            return -1;
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return 0;
}

// Writes `content` to a temporary file beside `path` (created 0600) and
// renames it over `path`, so a reader never sees a half-written file.
int writeFileAtomically(const char* path, const char* content) {
    char temp[PATH_MAX];
    int length = std::snprintf(temp, sizeof temp, "%s.XXXXXX", path);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof temp) {
        std::fprintf(stderr, "vendrak-settings: path too long: %s\n", path);
        return kExitIo;
    }
    int fd = mkstemp(temp);
    if (fd < 0) {
        std::fprintf(stderr, "vendrak-settings: cannot create %s: %s\n", temp,
                     std::strerror(errno));
        return kExitIo;
    }
    int failed =
        fchmod(fd, 0600) != 0 || writeAll(fd, content, std::strlen(content)) != 0 || fsync(fd) != 0;
    int savedErrno = errno;
    if (close(fd) != 0 && !failed) {
        failed = 1;
        savedErrno = errno;
    }
    if (!failed && std::rename(temp, path) != 0) {
        failed = 1;
        savedErrno = errno;
    }
    if (failed) {
        unlink(temp);
        std::fprintf(stderr, "vendrak-settings: cannot write %s: %s\n", path,
                     std::strerror(savedErrno));
        return kExitIo;
    }
    return kExitOk;
}

int commandWrite(int argc, char** argv) {
    WriteOptions options;
    int rc = parseWriteOptions(argc, argv, &options);
    if (rc != kExitOk)
        return rc;
    if (!options.passwordFromStdin)
        std::fputs(
            "vendrak-settings: warning: --password shows the password in the process list; "
            "use --password-stdin\n",
            stderr);
    char password[kPasswordWidth + 1];
    if (options.passwordFromStdin) {
        rc = readSecretLine(password, sizeof password,
                            "Password: ", "the password on standard input is too long");
        if (rc != kExitOk)
            return rc;
        options.values[1] = password;
    }
    for (int i = 0; i < 4; ++i) {
        rc = checkValue(i, options.values[i]);
        if (rc != kExitOk)
            return rc;
    }
    char content[4 * (64 + kIniBodyLineSize + 1)] = "";
    for (int i = 0; i < 4; ++i)
        appendRecord(content, sizeof content, i + 1, kRecords[i].key, options.values[i]);
    return writeFileAtomically(options.file, content);
}

// "-" reads the text from standard input, which keeps it out of the
// process list.
int commandEncipher(int argc, char** argv) {
    if (argc != 3)
        return usageError("encipher takes exactly one TEXT");
    const char* text = argv[2];
    char line[kMaxPlainChars + 2];
    if (std::strcmp(text, "-") == 0) {
        int rc = readSecretLine(line, sizeof line,
                                "Text: ", "encipher: the text on standard input is too long");
        if (rc != kExitOk)
            return rc;
        text = line;
    }
    if (std::strlen(text) > kMaxPlainChars)
        return usageError("encipher: TEXT is longer than 199 characters");
    char stored[kMaxStoredSize];
    bfEncryptHex(text, stored, sizeof stored, kSettingsCipherKey);
    std::printf("%s\n", stored);
    return kExitOk;
}

// FILE goes to the program's reader unchanged; a path without backslashes is
// the same as a host path.
int commandShow(int argc, char** argv) {
    if (argc != 3)
        return usageError("show takes exactly one FILE");
    std::FILE* probe = platformOpenFile(argv[2], "r");
    if (probe == nullptr) {
        std::fprintf(stderr, "vendrak-settings: cannot read %s: %s\n", argv[2],
                     std::strerror(errno));
        return kExitIo;
    }
    std::fclose(probe);
    loadSettings(argv[2]);
    std::printf("LOGIN=%s\nPASS=%s\nDB_SYSTEM=%s\nDATABASE=%s\n", Settings.login,
                Settings.password[0] != '\0' ? "***" : "", Settings.dbSystem, Settings.database);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    platformDisableCoreDumps();
    if (argc < 2)
        return usageError("a command is missing");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            // A value that happens to read "--help" (e.g. a password) is not
            // taken for the option.
            if (i > 1 && optionIndex(argv[i - 1]) >= 0)
                continue;
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
    }
    if (std::strcmp(argv[1], "encipher") == 0)
        return commandEncipher(argc, argv);
    if (std::strcmp(argv[1], "write") == 0)
        return commandWrite(argc, argv);
    if (std::strcmp(argv[1], "show") == 0)
        return commandShow(argc, argv);
    return usageError("unknown command");
}

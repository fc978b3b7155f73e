#include "log/runlog.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "log/console.h"
#include "platform/monitoring.h"
#include "platform/platform.h"
#include "platform/text.h"

const char* const kLogFilePath = "..\\..\\Quorvance_php\\log\\vendraklog.txt";
const char* const kLogBackupPath = "..\\..\\Quorvance_php\\log\\vendraklog.bak";
RunLogFiles LogFiles = {kLogFilePath, kLogBackupPath};
char LogMessage[kLogMessageSize];

namespace {

constexpr std::size_t kTimestampSize = 32;  // "%Y-%m-%d %H:%M:%S" takes 19
// Room for the timestamp, the blank and a full LogMessage; a longer message
// handed to logWrite directly is cut to LogMessage's length.
constexpr std::size_t kLineSize = kTimestampSize + 1 + kLogMessageSize;
constexpr std::size_t kLogPathDescriptionSize = 4096;

// Moves the log to the backup (replacing an older one) and leaves an empty
// log behind. Failures are ignored: the next line then goes to whatever
// file stands at the log path.
void rotateLog(const char* path) {
    platformRemoveFile(LogFiles.backupPath);
    platformRenameFile(LogFiles.path, LogFiles.backupPath);
    std::FILE* fresh = platformOpenLogFile(path);
    if (fresh != nullptr)
        std::fclose(fresh);
}

// A log that cannot be written loses every line of the run; the operator
// learns of it once per run on standard error, with the path and the cause.
void reportUnwritableLog(const char* path, int error) {
    static bool reported = false;
    if (reported)
        return;
    reported = true;
    char where[kLogPathDescriptionSize];
    platformDescribePath(path, where, sizeof where);
    consoleLine("cannot write the run log %s: %s", where, platformErrorText(error));
}

void logFormatted(const char* format, va_list args) {
    int length = std::vsnprintf(LogMessage, sizeof LogMessage, format, args);
    // The cut may have split a character; the line keeps only whole ones.
    if (length >= static_cast<int>(sizeof LogMessage))
        dropCutCharacter(LogMessage);
    logWrite(LogFiles.path, LogMessage);
}

// With `diag` held: "vendrak: <line>: SQLSTATE <state> native <number>:
// <message>" on standard error, its time-out cause before "SQLSTATE".
void reportDiagnostic(const char* line, const DiagRecord& diag) {
    if (!diag.Held)
        return;
    if (isEmptyText(diag.SqlState)) {
        consoleLine("%s: no diagnostic record from the driver", line);
        return;
    }
    const char* separator = isEmptyText(diag.TimeoutCause) ? "" : ": ";
    consoleLine("%s%s%s: SQLSTATE %s native %ld: %s", line, separator, diag.TimeoutCause,
                diag.SqlState, static_cast<long>(diag.NativeError), diag.MessageText);
}

}  // namespace

// Opened and closed per line so that every line is on disk when this
// returns and no handle is held between calls. A log that cannot be opened
// (missing folder, no permission) loses the line; the run goes on.
void logWrite(const char* path, const char* message) {
    std::FILE* file = platformOpenLogFile(path);
    if (file == nullptr) {
        reportUnwritableLog(path, errno);
        return;
    }
    char timestamp[kTimestampSize];
    platformLocalTime("%Y-%m-%d %H:%M:%S", timestamp, sizeof timestamp);
    // Cut after a whole character, so that the line stays valid UTF-8.
    int length = static_cast<int>(textCutLength(message, kLogMessageSize - 1));
    char line[kLineSize];
    std::snprintf(line, sizeof line, "%s %.*s", timestamp, length, message);
    std::fprintf(file, "%s\n", line);
    long position = std::ftell(file);
    if (position > kLogRotateSize) {
        std::fclose(file);
        rotateLog(path);
        return;
    }
    std::fclose(file);
}

void logLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    logFormatted(format, args);
    va_end(args);
}

void logFailure(const DiagRecord& diag, const char* format, ...) {
    va_list args;
    va_start(args, format);
    logFormatted(format, args);
    va_end(args);
    reportDiagnostic(LogMessage, diag);
}

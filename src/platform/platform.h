// The small layer over the operating system: waits, local time, files and the
// mapping of the program's fixed relative paths.
#pragma once

#include <cstddef>
#include <cstdio>

// The fixed paths are kept in the program in their original Windows form
// ("..\..\files\quorvance.ini"). Every file operation below maps them to the
// host's form through platformMapPath, so this is the only place that knows
// about path separators.
// Writes the host form of `path` into `out` (at most `outSize` - 1 characters,
// always terminated). Returns false, with errno ENAMETOOLONG, when the mapped
// path did not fit.
bool platformMapPath(const char* path, char* out, std::size_t outSize);

// Opens a file by its program path; `mode` as for fopen. Returns nullptr on
// failure or when the mapped path does not fit.
std::FILE* platformOpenFile(const char* path, const char* mode);

// errno-style values beside the system's own, for a path that holds
// something other than a regular file. The run log and the run lock are
// regular files; anything else at their paths makes them unusable.
constexpr int kErrorSymbolicLink = 0x10001;
constexpr int kErrorNotRegularFile = 0x10002;

// The text of an errno value, kErrorSymbolicLink or kErrorNotRegularFile.
const char* platformErrorText(int error);

// Opens the host path `hostPath` with `flags` (`mode` when O_CREAT creates
// it) so that no file at the path can block or redirect the open: a
// symbolic link is not followed (kErrorSymbolicLink), a FIFO or device does
// not block the open (O_NONBLOCK, cleared again for the regular file), and
// anything that is not a regular file is closed again
// (kErrorNotRegularFile). Close-on-exec. The descriptor, or -1 with errno set.
int platformOpenRegularFile(const char* hostPath, int flags, unsigned mode);

// Opens the run log by its program path for appending, by the rules of
// platformOpenRegularFile; with `create`, a missing log is created with mode
// 0640 (less what the umask takes away). Nobody who can write the log folder
// can point the log at another file or hang the run with a FIFO. The
// descriptor, or -1 with errno set.
int platformOpenLogDescriptor(const char* path, bool create);

// platformOpenLogDescriptor(path, true) as a stdio stream; nullptr with
// errno set on failure.
std::FILE* platformOpenLogFile(const char* path);

// Removes / renames files by their program paths. Return 0 on success.
int platformRemoveFile(const char* path);
int platformRenameFile(const char* from, const char* to);

// Keeps the process from leaving a core dump (it holds the database password
// in memory) and from being attached to by other processes of its user.
// Returns 0 when both settings took effect, -1 otherwise.
int platformDisableCoreDumps();

// Nanoseconds of a clock that never jumps, for every deadline, duration and
// rate of the program; 0 should the clock be unreadable.
constexpr long long kNsPerMs = 1000000;
long long platformMonotonicNs();

// Blocks the whole program for `milliseconds`, or until a stop signal comes
// (at once when one has come already, also just before the wait began).
// Implemented with ppoll on the stop descriptor, and nothing else of the
// program calls ppoll, so that the test interposer can stand in for it and
// record the wait.
void platformWaitMs(long milliseconds);

// A site's choice in the environment that has one value beside the default:
// kChoiceDefault when `variable` is unset or empty, kChoiceTaken when it is
// `value`. Anything else is kChoiceUnknown, and `refusal` then names the
// variable, its value and the one it accepts ("... is not a <what>; unset
// it, or set it to '<value>'"): a mistyped choice must be refused, never
// read as the default.
enum { kChoiceDefault, kChoiceTaken, kChoiceUnknown };
int platformReadChoice(const char* variable, const char* value, const char* what, char* refusal,
                       std::size_t refusalSize);

// Formats the current local time with `format` (strftime) into `out`.
// Returns the number of characters written, 0 on failure (out is then empty).
std::size_t platformLocalTime(const char* format, char* out, std::size_t outSize);

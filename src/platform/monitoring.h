// What the program's outputs for operators need from the operating system:
// clocks, whether standard error is a terminal, the full form of a relative
// path, and replacing a file so that a reader never sees it half-written.
#pragma once

#include <cstddef>

// Milliseconds of a clock that never jumps (for durations and rates).
long long platformMonotonicMs();

// The current time in seconds since the epoch, with its fraction.
double platformWallClockSeconds();

// True when standard error is a terminal (and not a pipe, a file or the
// journal).
bool platformStandardErrorIsTerminal();

// Writes the host form of the program path `path` into `out` as an operator
// finds it: a relative path behind the working directory
// ("/opt/quorvance/app/bin/../../files/quorvance.ini"), an absolute one as
// it is. Falls back to the host form alone when the working directory is
// unknown; `out` is always terminated (cut when it is too small).
void platformDescribePath(const char* path, char* out, std::size_t outSize);

// Replaces the file at the host path `hostPath` by the `size` bytes at
// `data`, with the permission bits `mode`: writes a temporary file beside it,
// flushes it to disk and renames it over `hostPath`. Returns 0, or the errno
// of the step that failed (the temporary file is then removed and the old
// file left as it was).
int platformReplaceFile(const char* hostPath, const char* data, std::size_t size, unsigned mode);

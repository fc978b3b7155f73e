// Looks at the installation's files without changing them, for the
// installation check: where a program path lies, whether a file can be read,
// whether a folder can be written, whether a lock is held. Nothing here
// creates a file or keeps one open beyond the call. Paths are program paths
// ("..\..\files\quorvance.ini"), mapped like every other file operation.
#pragma once

#include <cstddef>

// Writes the absolute host form of `path` into `out` (always terminated):
// resolved by the file system where the file, or else its folder, exists
// (a symbolic link as the last part is not resolved, it is named itself);
// otherwise the working directory joined with the mapped path. Returns false
// when it did not fit (out then holds the path as given, mapped).
bool platformAbsolutePath(const char* path, char* out, std::size_t outSize);

// Writes the program path of the folder that holds `path` into `out` ("."
// for a bare file name). Returns false when it did not fit.
bool platformFolderOf(const char* path, char* out, std::size_t outSize);

// 0 when the file at `path` can be opened and read; otherwise the errno value
// of the failure (EISDIR for a folder).
int platformFileReadable(const char* path);

// 0 when `path` is an existing folder in which this process may create,
// rename and remove files; otherwise the errno value (ENOTDIR when it is no
// folder, EACCES when it may not write there).
int platformFolderWritable(const char* path);

// 0 when the run log at `path` exists and opens for appending as a run
// opens it (platformOpenLogDescriptor, without creating it); ENOENT when it
// does not exist; otherwise the errno value, kErrorSymbolicLink or
// kErrorNotRegularFile.
int platformLogFileWritable(const char* path);

enum class LockProbe {
    NoLockFile,  // the lock file does not exist (it is not created)
    Free,        // nobody holds it
    Held,        // another process holds it
    Unknown,     // it could not be opened or probed; *error says why
};

// Whether another process holds the lock file at `path`: opens it as a run
// does (platformOpenLockFile) only when it exists, tries a shared lock
// without waiting and lets it go at once. `*error` receives the errno value,
// kErrorSymbolicLink or kErrorNotRegularFile for Unknown, 0 otherwise.
LockProbe platformProbeLock(const char* path, int* error);

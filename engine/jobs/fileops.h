// File operations of the job driver with the safety a user's files need: the null device is never
// removed, a move never replaces an existing file, and copies and moves work across file systems.
#pragma once

#include <string>

inline constexpr const char* kNullDevice = "/dev/null";

// True for "NUL" and the null device: outputs that are no file.
bool IsNullOutput(const char* path);
// RemoveFile, except for the null device and "NUL" (never removed: 0 is answered).
int RemoveOutputFile(const char* path, int waitMs);
// Moves a file; fails when the target exists. Across file systems it copies and removes.
bool MoveFileNoReplace(const char* from, const char* to);
// Copies a file, replacing the target.
bool CopyFileReplace(const char* from, const char* to);
// Gives `to` the last-write time of `from`; false when either cannot be read or changed.
bool CopyLastWriteTime(const char* from, const char* to);

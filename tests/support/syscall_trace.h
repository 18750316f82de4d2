// Runs one test of the running test program again in a child under strace and gives the file
// calls it made, in order and in a plain form:
//   "fsync <path>"            fsync or fdatasync of a descriptor opened on path
//   "rename <from> <to>"      rename, renameat or renameat2
// The traced test is named DISABLED_... so that it runs only when asked for; it finds its
// folder in the environment variable kTraceDirVariable.
#pragma once

#include <string>
#include <vector>

namespace sqtest {

inline constexpr const char* kTraceDirVariable = "SQTEST_TRACE_DIR";

// True when strace can be run here.
bool CanTraceSystemCalls();

// The calls of test `testName` (Suite.DISABLED_Name), run with kTraceDirVariable set to folder.
// Empty when the child could not be traced or the test failed there.
std::vector<std::string> TraceFileCalls(const std::string& testName, const std::string& folder);

// True when every entry of `expected` occurs in `calls`, in this order (others may come between).
bool CallsInOrder(const std::vector<std::string>& calls, const std::vector<std::string>& expected);

}  // namespace sqtest

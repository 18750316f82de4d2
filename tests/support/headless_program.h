// The program binary run headless from the build's output folder, the way a user runs it from a
// terminal without a display: a work folder, a data folder with the user's preferences, bounded
// in time.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace sqtest {

struct ProgramRun {
    int code = -1;    // the exit code (-1 when it did not exit normally)
    std::string err;  // what it wrote to standard error: log lines, status and tool lines
};

// Writes "Sonquill/prefs.xml" under dataDir with these keys and values (texts as the preference
// file holds them, e.g. "Mono" for an option list); the control server stays closed.
void WriteUserPrefs(const std::string& dataDir, const std::vector<std::pair<std::string, std::string>>& values);

// Runs `sonquill ARGS` (ARGS as a shell would split them) in workDir with dataDir as its data
// folder, without a display, for at most limitSeconds.
ProgramRun RunProgramHeadless(const std::string& args, const std::string& workDir, const std::string& dataDir,
                              int limitSeconds = 120);

}  // namespace sqtest

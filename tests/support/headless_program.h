// The program binary run headless from the build's output folder, the way a user runs it from a
// terminal without a display: a work folder, a data folder with the user's preferences, bounded
// in time.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/tempdir.h"

namespace sqtest {

struct ProgramRun {
    int code = -1;    // the exit code (-1 when it did not exit normally)
    std::string err;  // what it wrote to standard error: log lines, status and tool lines
};

// Writes "Sonquill/prefs.xml" under dataDir with these keys and values (texts as the preference
// file holds them, e.g. "Mono" for an option list); the control server stays closed.
void WriteUserPrefs(const std::string& dataDir, const std::vector<std::pair<std::string, std::string>>& values);

// Runs `sonquill -verbose ARGS` (ARGS as a shell would split them) in workDir with dataDir as its
// data folder, without a display, for at most limitSeconds. -verbose: the log and the tools'
// command lines and output are on standard error too.
ProgramRun RunProgramHeadless(const std::string& args, const std::string& workDir, const std::string& dataDir,
                              int limitSeconds = 120);

// The same run as a user makes it, streams kept apart: in a work folder of its own, with a
// temporary data folder ($APPDATA), bounded in time.
struct ProgramResult {
    int code = -1;    // the exit code; -1 when it did not exit by itself
    std::string err;  // standard error
    std::string out;  // standard output
};

class HeadlessProgram {
public:
    // prefs: settings for the data folder's prefs.xml (see WriteUserPrefs).
    explicit HeadlessProgram(const std::vector<std::pair<std::string, std::string>>& prefs = {});

    // Runs `prefix sonquill args` in the work folder (prefix: a command that runs the program,
    // such as one that mounts a file system first; it gets the program's path as its next word).
    ProgramResult Run(const std::string& args, const std::string& prefix = "") const;
    // The same with a terminal as its standard streams (made by `script`); what the terminal
    // showed comes back as the output.
    ProgramResult RunOnTerminal(const std::string& args) const;

    const TempDir& work() const { return work_; }
    // The data folder, with its trailing '/'; the log of a run without log settings lives there.
    std::string dataFolder() const { return data_.path().string() + "/Sonquill/"; }
    std::string logFile() const { return dataFolder() + "sonquill.log"; }
    // A 16-bit stereo sine of the given seconds made by ffmpeg in the work folder (its extension
    // picks the format); its path, empty when ffmpeg failed.
    std::string MakeTone(const std::string& name, double seconds = 1.0) const;

private:
    // Runs the command line (the program and its words) in the work folder with the streams kept.
    ProgramResult Exec(const std::string& invocation) const;

    TempDir work_, data_;
};

}  // namespace sqtest

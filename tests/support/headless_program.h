// The sonquill executable of the build run as a user runs it without a display: in a work folder
// of its own, with a temporary data folder ($APPDATA) whose prefs.xml lets the control server take
// any free port, bounded in time. Standard error and output are kept apart.
#pragma once

#include <string>

#include "support/tempdir.h"

namespace sqtest {

struct ProgramResult {
    int code = -1;    // the exit code; -1 when it did not exit by itself
    std::string err;  // standard error
    std::string out;  // standard output
};

class HeadlessProgram {
public:
    // extraPrefs: more <node key="...">value</node> elements for the data folder's prefs.xml.
    explicit HeadlessProgram(const std::string& extraPrefs = "");

    // Runs `prefix sonquill args` in the work folder (prefix: a command that runs the program,
    // such as one that mounts a file system first; it gets the program's path as its last word).
    ProgramResult Run(const std::string& args, const std::string& prefix = "") const;

    // The same with a terminal as its standard streams (made by `script`); what the terminal
    // showed comes back as the output.
    ProgramResult RunOnTerminal(const std::string& args) const;

    const TempDir& work() const { return work_; }
    // The data folder, with its trailing '/'; the log of a run without log settings lives there.
    std::string dataFolder() const { return data_.path().string() + "/Sonquill/"; }
    std::string logFile() const { return dataFolder() + "sonquill.log"; }
    // A 16-bit stereo sine of the given seconds made by ffmpeg in the work folder (its extension
    // picks the format); its path.
    std::string MakeTone(const std::string& name, double seconds = 1.0) const;

private:
    // Runs the command line (the program and its words) in the work folder with the streams kept.
    ProgramResult Exec(const std::string& invocation) const;

    TempDir work_, data_;
};

}  // namespace sqtest

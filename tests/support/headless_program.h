// The sonquill executable run as its own process, as a user runs it from a terminal without a
// display: headless (SONQUILL_GUI=headless, no DISPLAY), in a work folder of its own, with a
// temporary data folder ($APPDATA) holding the user's preferences. Arguments reach the program as
// an argument vector (no shell), so any name arrives byte for byte. Every run is bounded in time.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/tempdir.h"

namespace sqtest {

using UserPrefs = std::vector<std::pair<std::string, std::string>>;

// Writes "Sonquill/prefs.xml" under dataDir with these keys and values (texts as the preference
// file holds them, e.g. "Mono" for an option list); the control server stays off the network.
void WriteUserPrefs(const std::string& dataDir, const UserPrefs& values);

struct ProgramResult {
    int code = -1;    // the exit code; -1 when killed (also at the time limit) or not started
    std::string err;  // standard error: status lines, and with -verbose the log and the tools
    std::string out;  // standard output
};

class HeadlessProgram {
public:
    explicit HeadlessProgram(const UserPrefs& prefs = {});

    // Runs the program with these arguments in the work folder, killed after limitSeconds.
    // prefix: words of a command that runs the program (one that mounts a file system first, say);
    // the program's path follows them as their next word. programFolder: where the binary is.
    ProgramResult Run(const std::vector<std::string>& args, int limitSeconds = 120,
                      const std::vector<std::string>& prefix = {}, const std::string& programFolder = SQ_OUT_DIR) const;
    // The same with a terminal as its standard streams (made by `script`); what the terminal
    // showed comes back as the output.
    ProgramResult RunOnTerminal(const std::vector<std::string>& args) const;

    const TempDir& work() const { return work_; }
    const TempDir& data() const { return data_; }
    // The program's data folder inside $APPDATA, with its trailing '/'; the log of a run without
    // log settings lives there.
    std::string dataFolder() const { return data_.path().string() + "/Sonquill/"; }
    std::string logFile() const { return dataFolder() + "sonquill.log"; }
    // A 16-bit stereo sine of the given seconds in the work folder (its extension picks the
    // format); its path, empty when ffmpeg failed.
    std::string MakeTone(const std::string& name, double seconds = 1.0) const;

private:
    ProgramResult Spawn(const std::vector<std::string>& argv, int limitSeconds) const;

    TempDir work_, data_;
};

// Makes a short tone file with ffmpeg (the extension picks the format); true when it was made.
bool MakeTone(const std::string& path, double seconds, int rate = 44100, int channels = 2);

// The duration in seconds ffprobe reads from a file, or -1.
double ProbeSeconds(const std::string& path);

}  // namespace sqtest

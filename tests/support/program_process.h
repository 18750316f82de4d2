// The sonquill executable run as its own process, as a user runs it without a display: headless
// (SONQUILL_GUI=headless, no DISPLAY), with a temporary data folder ($APPDATA) and a work folder of
// its own. Arguments go to the program as they are (an argument vector, no shell), so any name
// reaches it byte for byte. Every run is bounded in time.
#pragma once

#include <string>
#include <vector>

#include "support/tempdir.h"

namespace sqtest {

struct ProcessResult {
    int code = -1;        // the exit code; -1 when killed (also at the time limit) or not started
    std::string err;      // what the program wrote to standard error
};

class ProgramProcess {
public:
    // The data folder gets a prefs.xml that keeps the control server off the network (port 0)
    // plus the extra <node key="...">value</node> lines given.
    explicit ProgramProcess(const std::string& extraPrefs = "");

    // Runs the program (the build's output folder unless programFolder is given) in the work
    // folder with these arguments, killed after limitSeconds.
    ProcessResult Run(const std::vector<std::string>& args, int limitSeconds = 120,
                      const std::string& programFolder = SQ_OUT_DIR) const;

    const TempDir& work() const { return work_; }
    const TempDir& data() const { return data_; }
    // The program's data folder inside $APPDATA (with its trailing '/').
    std::string dataFolder() const { return data_.path().string() + "/Sonquill/"; }

private:
    TempDir work_, data_;
};

// Makes a short tone file with ffmpeg (the extension picks the format); true when it was made.
bool MakeTone(const std::string& path, double seconds, int rate = 44100, int channels = 2);

// The duration in seconds ffprobe reads from a file, or -1.
double ProbeSeconds(const std::string& path);

}  // namespace sqtest

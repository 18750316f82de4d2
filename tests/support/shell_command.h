// Shell command lines run by tests for the tools around them (ffmpeg, ffprobe, sox, ...).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace sqtest {

// True when the command line ran and succeeded; its output is dropped.
inline bool Shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// The text a command line prints, trimmed.
inline std::string Capture(const std::string& cmd) {
    std::string out;
    if (FILE* f = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        pclose(f);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

}  // namespace sqtest

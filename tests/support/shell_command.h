// Shell command lines run by tests for the tools around them (ffmpeg, ffprobe, sox, ...).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <map>
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

// ffprobe's "key=value" lines for the entries asked (-show_entries), the first of each key kept;
// extra options go before the entries.
inline std::map<std::string, std::string> ProbeValues(const std::string& file, const std::string& entries,
                                                      const std::string& extra = "") {
    const std::string text =
        Capture("ffprobe -v error " + extra + " -show_entries " + entries + " -of default=nw=1 '" + file + "' 2>/dev/null");
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (const size_t eq = line.find('='); eq != std::string::npos) values.emplace(line.substr(0, eq), line.substr(eq + 1));
        start = end + 1;
    }
    return values;
}

}  // namespace sqtest

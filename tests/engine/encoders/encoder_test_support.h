// Helpers shared by the encoder and tagging tests: the shipped preferences and codecs description,
// generated PCM, small shell tools and ffprobe reads.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/encoders/codecs.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "engine/tools/process.h"
#include "platform/cmdline.h"
#include "support/shipped_data.h"
#include "support/tempdir.h"

namespace enctest {

// Loads the shipped definitions, value files and codecs description; false on a failure.
inline bool LoadShippedSettings() {
    using sqtest::DataFile;
    if (LoadPrefDefinitions(false, DataFile("qxcore.xml").c_str(), 0, "QuorvexPrefs") != 0) return false;
    for (const char* file : {"qxcore64.xml", "defaults.xml", "sonquill.xml"}) {
        if (LoadPrefsFile(DataFile(file).c_str(), 0, nullptr) != 0) return false;
    }
    return LoadCodecsDefinition(false, DataFile("qxcodecs.xml").c_str(), 0) == 0;
}

// A 440 Hz sine with some white noise on every channel (so that lossy encoders spend the bits
// they are given), 16-bit little-endian. The same every time.
inline std::string SinePcm(uint32_t rate, uint32_t channels, double seconds) {
    const auto frames = static_cast<size_t>(rate * seconds);
    std::string pcm(frames * channels * 2, '\0');
    auto* s = reinterpret_cast<int16_t*>(pcm.data());
    uint32_t noise = 12345;
    for (size_t i = 0; i < frames; ++i) {
        const double sine = 9000 * std::sin(2 * M_PI * 440 * static_cast<double>(i) / rate);
        for (uint32_t c = 0; c < channels; ++c) {
            noise = noise * 1664525u + 1013904223u;
            s[i * channels + c] = static_cast<int16_t>(std::lround(sine) + static_cast<int>(noise >> 20) - 2048);
        }
    }
    return pcm;
}

// Writes an executable shell script into the folder; its path.
inline std::string WriteScript(const sqtest::TempDir& dir, const std::string& name, const std::string& body) {
    const std::string path = dir.write(name, "#!/bin/sh\n" + body + "\n");
    chmod(path.c_str(), 0755);
    return path;
}

// Runs a command line to its end (at most 30 s) and gives its standard output.
inline std::string Capture(const std::string& line) {
    CProcessWrapper p(kProcStdout | kProcGrowingBuffer);
    if (!p.Start(line.c_str())) return {};
    std::string out;
    for (int i = 0; i < 300 && p.Wait(0) != 1; ++i) {
        if (p.ReadOutput(100) > 0) out += p.buffer;
    }
    p.Terminate();
    while (p.ReadOutput(100) > 0) out += p.buffer;
    return out;
}

inline bool OnPath(const std::string& program) {
    return !Capture("sh -c " + platform::QuoteArg("command -v " + program)).empty();
}

// "name=value" lines of ffprobe's default writer: the value of name, empty when absent.
inline std::string Field(const std::string& info, const std::string& name) {
    const std::string key = name + "=";
    size_t at = info.rfind("\n" + key);
    at = at == std::string::npos ? (info.rfind(key, 0) == 0 ? 0 : std::string::npos) : at + 1;
    if (at == std::string::npos) return {};
    const size_t end = info.find('\n', at);
    return info.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
}

inline std::string Probe(const std::string& path, const std::string& entries) {
    return Capture("ffprobe -v error -show_entries " + entries + " -of default=noprint_wrappers=1 " +
                   platform::QuoteArg(path));
}

}  // namespace enctest

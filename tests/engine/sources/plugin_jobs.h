// Whole jobs through the batch with the tests' own plug-ins: a tiny file decoded by the input
// plug-in, through the DSP plug-ins the test enables, into a WAV whose PCM the test reads back.
#pragma once

#include <cstring>
#include <string>

#include "engine/encoders/encoder.h"
#include "engine/jobs/job_fixture.h"
#include "engine/sources/winamp_host.h"
#include "support/plugin_folder.h"

namespace sqtest {

class PluginJobs : public JobFixture {
protected:
    void SetUp() override {
        JobFixture::SetUp();
        PrefStore& p = GetPrefStore();
        p.SetInt("overall.audio.autoSource", 0);
        p.SetInt("overall.audio.source", kSourceWinamp);
        p.SetInt("overall.audio.encoder", kEncPcm);
        plugins.plant("in_tiny", "in_tiny.so");
        for (const char* dsp : {"dsp_invert", "dsp_double", "dsp_nonsense"}) plugins.plant(dsp, std::string(dsp) + ".so");
    }
    void TearDown() override {
        FreePluginLists();
        GetPrefStore().SetInt("overall.decoding.duration", 0);
        JobFixture::TearDown();
    }
    void Scan(const char* enabledDsp) { EnumeratePlugins(plugins.path().c_str(), "", enabledDsp, 0); }

    QueueItem* AddTiny(const std::string& name, const std::string& pcm, uint32_t mode = 0) {
        const std::string path = in.file(name);
        WriteTinyFile(path, 44100, 2, 16, pcm, mode);
        QueueItem* item = Add(path);
        Describe(item, 44100, 2, static_cast<int32_t>(pcm.size() * 1000 / 176400));
        return item;
    }
    // The PCM of the item's output WAV.
    static std::string OutputPcm(const QueueItem* item) {
        if (!item->destFile) return "";
        const std::string wav = ReadFile(item->destFile);
        const size_t data = wav.find("data");
        return data == std::string::npos ? "" : wav.substr(data + 8);
    }

    PluginFolder plugins;
};

// 16-bit PCM with every sample negated (the lowest value becomes the highest).
inline std::string Inverted(const std::string& pcm) {
    std::string out = pcm;
    for (size_t i = 0; i + 1 < out.size(); i += 2) {
        int16_t s;
        std::memcpy(&s, &out[i], 2);
        s = static_cast<int16_t>(s == -32768 ? 32767 : -s);
        std::memcpy(&out[i], &s, 2);
    }
    return out;
}

}  // namespace sqtest

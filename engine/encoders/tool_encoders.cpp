#include "engine/encoders/tool_encoders.h"

#include <cstdlib>
#include <cstring>

#include "engine/context.h"
#include "engine/encoders/wave_header.h"
#include "engine/prefs/prefstore.h"
#include "engine/tools/process.h"
#include "platform/fs.h"

namespace {

int Pref(const char* key) { return GetPrefStore().GetInt(key); }

// Bitrate setting in bitrate mode, else the quality rule.
template <typename Rule>
int ByMode(const char* modeKey, const char* bitrateKey, Rule qualityRule) {
    return Pref(modeKey) != 0 ? Pref(bitrateKey) : qualityRule();
}

}  // namespace

int CLameMP3::EstimateBitrate(QueueItem*, int) {
    return ByMode("audioenc.lame.mode", "audioenc.lame.bitrate", [] { return (13 - Pref("audioenc.lame.quality")) * 24; });
}

int CVorbis::EstimateBitrate(QueueItem*, int) {
    return ByMode("audioenc.vorbis.mode", "audioenc.vorbis.bitrate", [] { return Pref("audioenc.vorbis.quality") / 2; });
}

int CNeroEncoder::EstimateBitrate(QueueItem*, int) {
    return ByMode("audioenc.nero.mode", "audioenc.nero.bitrate", [] {
        const int q = Pref("audioenc.nero.quality");
        const char* format = GetPrefStore().GetEnumText("overall.audio.format", -1);
        if (std::strcmp(format, "LC-AAC") == 0) return (q * 2) & ~7;
        if (std::strcmp(format, "HE-AAC") == 0) return (q & ~7) + 16;
        return (q & ~7) + 8;
    });
}

bool CNeroEncoder::CheckFormat(const WaveHeader* format) {
    const char* name = GetPrefStore().GetEnumText("overall.audio.format", -1);
    if (std::strncmp(name, "HE-AAC", 6) != 0) return true;
    return format && format->sampleRate >= 32000;
}

int CFaac::EstimateBitrate(QueueItem*, int) {
    return ByMode("audioenc.faac.mode", "audioenc.faac.bitrate", [] { return Pref("audioenc.faac.quality"); });
}

int CHelixMP3::EstimateBitrate(QueueItem*, int) {
    return Pref("audioenc.helixmp3.mode") != 0 ? Pref("audioenc.helixmp3.bitrate") : 0;
}

int CFIISMP3::EstimateBitrate(QueueItem*, int) {
    const int mode = Pref("audioenc.fraunhofer.mode");
    return mode == 0 ? Pref("audioenc.fraunhofer.bitrate") : (10 - mode) * 16;
}

bool CFIISMP3::Open(const char*, QueueItem*, const char* cmd) {
    CreateProcessWrapper(true, kProcStdin);
    RaiseEvent(kEventCommandLine, cmd ? cmd : "");
    finishedCleanly_ = true;
    startFailed_ = false;
    startCheckPending_ = false;
    if (!cmd || !process->Start(cmd)) {
        Close();
        return false;
    }
    return true;
}

// Speex has settings of its own; the rule is the one of the AAC encoder above.
int CSpeex::EstimateBitrate(QueueItem*, int) {
    return ByMode("audioenc.speex.mode", "audioenc.speex.bitrate", [] { return Pref("audioenc.speex.quality"); });
}

int CAmr::EstimateBitrate(QueueItem*, int) {
    const char* key = Pref("audioenc.amr.codec") ? "audioenc.amr.modewb" : "audioenc.amr.modenb";
    return std::atoi(GetPrefStore().GetEnumText(key, -1));
}

bool CAmr::CheckFormat(const WaveHeader* format) {
    if (!format) return false;
    if (Pref("audioenc.amr.codec")) return format->sampleRate == 16000;
    return format->sampleRate == 8000 && format->channels == 1;
}

int CFFmpegAudioEncoder::EstimateBitrate(QueueItem*, int) {
    const int b = Pref("audioenc.ffmpeg.bitrate");
    const char* format = GetPrefStore().GetEnumText("overall.audio.format", -1);
    if (std::strcmp(format, "MP2") == 0 || std::strcmp(format, "MP3") == 0) return b / 32 * 32;
    if (std::strcmp(format, "AC-3") == 0) return b / 64 * 64;
    return b;
}

uint32_t CFFmpegAudioEncoder::GetBitrateRange() {
    static const struct {
        const char* format;
        uint32_t min, max;
    } kRanges[] = {{"MP2", 32, 384}, {"MP3", 32, 320}, {"LC-AAC", 32, 576}, {"AC-3", 32, 640}};
    const char* format = GetPrefStore().GetEnumText("overall.audio.format", -1);
    for (const auto& r : kRanges) {
        if (std::strcmp(r.format, format) == 0) return r.max << 16 | r.min;
    }
    return 0;
}

CGeneric::CGeneric() { fileExt = GetPrefStore().GetString("audioenc.cli.fileext"); }

bool CGeneric::Configure(AudioTask*) {
    PrefStore& prefs = GetPrefStore();
    if (prefs.GetBool("overall.ui.console")) {
        // Deliberately "&=", not "&= ~": with the console shown, the user's command gets a plain
        // run, so every other flag (raw PCM, tags written by the tool) is dropped as well; the
        // capture bit itself is then ignored, since the console takes the tool's output.
        flags &= kEncoderCaptureOutput;
    } else {
        flags |= kEncoderCaptureOutput;
    }
    // A tool that reads raw PCM gets no header.
    if (prefs.GetBool("audioenc.cli.pcm")) flags |= kEncoderRawPcm;
    else flags &= ~kEncoderRawPcm;
    const char* ext = prefs.GetString("audioenc.cli.fileext");
    fileExt = *ext ? ext : "out";
    commandLine = prefs.GetString("audioenc.cli.command");
    return true;
}

bool CNullAudioEncoder::WaitProgress(EncoderProgress*) {
    platform::SleepMs(500);
    return true;
}

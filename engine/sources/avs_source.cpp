#include "engine/sources/avs_source.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "engine/context.h"
#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/inputtype.h"
#include "engine/queue/queue.h"
#include "engine/queue/taskvars.h"
#include "platform/avs_module.h"
#include "platform/fs.h"

namespace {

constexpr uint32_t kAvsScriptType = 39;

// A quoted script string; a path holding a quote character gets the triple-quote form.
std::string Quoted(const std::string& text) {
    return text.find('"') == std::string::npos ? "\"" + text + "\"" : "\"\"\"" + text + "\"\"\"";
}

std::string FloatText(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

std::string NicAudioPlugin() { return "LoadPlugin(" + Quoted(FindAvsFile("NicAudio.dll")) + ")\n"; }

// The resample statement; audioOnly adds the 16-bit conversion after the precise resampler.
std::string ResampleStatement(const QueueItem* item, bool audioOnly) {
    PrefStore& prefs = GetPrefStore();
    int rate = prefs.GetInt("audiofilter.resample.samplerate");
    if (rate == 0) return "";
    uint32_t srcRate = item->audio ? item->audio->samplerate : 0;
    if (prefs.GetBool("audiofilter.resample.downSamplingOnly") && srcRate != 0 &&
        srcRate <= static_cast<uint32_t>(rate))
        return "";
    if (prefs.GetBool("audiofilter.resample.precious"))
        return "SSRC(" + std::to_string(rate) + ")\n" + (audioOnly ? "ConvertAudioTo16bit\n" : "");
    return "ResampleAudio(" + std::to_string(rate) + ")\n";
}

std::string GainStatement(const QueueItem* item, bool videoRoad) {
    PrefStore& prefs = GetPrefStore();
    double gain = prefs.GetFloat("audiofilter.volume.gain");
    if (videoRoad && prefs.GetBool("audiofilter.volume.normalization") && item->audio &&
        item->audio->gain[0] != 0.0f)
        gain += item->audio->gain[0];
    if (gain == 0.0 || gain > 60.0) return "";
    return "AmplifydB(" + FloatText(gain) + ")\n";
}

bool HasExtension(const std::string& path) {
    size_t dot = path.rfind('.');
    size_t slash = path.find_last_of("/\\");
    return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

bool IsSubExtension(const std::string& path) {
    size_t dot = path.rfind('.');
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "sub";
}

}  // namespace

std::string FindAvsFile(const std::string& name) {
    std::string dir = GetPrefStore().GetStringObj("videosrc.avisynth.path", 0);
    if (dir.empty()) return name;
    std::string path = dir + (dir.back() == '/' ? "" : "/") + name;
    return platform::PathExists(path.c_str()) ? path : name;
}

std::string BuildAvsScript(QueueItem* item, AudioTask* task, bool templateAllowed) {
    if (!item || !item->file || !*item->file) return "";
    PrefStore& prefs = GetPrefStore();
    const std::string path = item->file;
    const VideoStreamInfo* video = item->video;
    double fps = video && video->fpsDen ? static_cast<double>(video->fpsNum) / video->fpsDen : 0.0;

    std::string text;
    const char* templ = prefs.GetString("videosrc.avisynth.template");
    if (templateAllowed && task && templ && *templ && platform::PathExists(templ)) {
        std::ifstream in(templ, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        text = ExpandTaskVariables(task, ss.str().c_str(), item);
        if (text.find("Source(") != std::string::npos) return text;
    }

    uint32_t kind = item->inputType ? item->inputType->kind : 0;
    if (!(kind & (kInputKindAudio | kInputKindVideo))) return "";
    if (!(kind & kInputKindVideo)) {
        text += NicAudioPlugin();
        const char* fn = nullptr;
        switch (item->inputType->typeId) {
            case 7: fn = "NicAC3Source"; break;
            case 8: fn = "NicDTSSource"; break;
            case 11: fn = "NicMPG123Source"; break;
            case 47: fn = "RaWavSource"; break;
            default: break;
        }
        if (fn) text += std::string(fn) + "(" + Quoted(path) + ")\n";
        text += "ConvertAudioTo16bit()\n";
        text += ResampleStatement(item, true);
        text += GainStatement(item, false);
        return text;
    }

    switch (prefs.GetInt("videosrc.avisynth.source")) {
        case 0:
        case 1: {
            text += (prefs.GetInt("videosrc.avisynth.source") == 0 ? "AviSource(" : "AviFileSource(") + Quoted(path);
            const char* fourcc = prefs.GetString("videosrc.avisynth.fourcc");
            if (fourcc && *fourcc) text += ", fourcc=" + Quoted(fourcc);
            text += ")\n";
            break;
        }
        case 3: text += "OpenDMLSource(" + Quoted(path) + ")\n"; break;
        default: {
            std::string plugin = FindAvsFile("DirectShowSource.dll");
            if (plugin != "DirectShowSource.dll") text += "LoadPlugin(" + Quoted(plugin) + ")\n";
            text += "DirectShowSource(" + Quoted(path) + ")\n";
        }
    }

    if (task && (item->flags & kItemFlagSeparateAudio) && item->audioFile && *item->audioFile)
        text += NicAudioPlugin() + "audio=NicAudio(" + Quoted(item->audioFile) + ")\nAudioDub(audio)\n";

    if (task && (task->start > 0 || task->duration > 0) && fps != 0.0) {
        auto frame = [fps](double ms) { return static_cast<long long>(ms / 1000.0 * fps + 0.5); };
        long long first = frame(task->start);
        long long last = task->duration > 0 ? frame(static_cast<double>(task->start) + task->duration) : 0;
        text += "Trim(" + std::to_string(first) + "," + std::to_string(last) + ")\n";
    }

    int subMode = prefs.GetInt("overall.subtitle.mode");
    if (subMode >= 1 && subMode <= 3) {
        bool pluginWritten = false;
        for (const char* c : {prefs.GetString("overall.subtitle.file"), static_cast<const char*>(item->subtitle)}) {
            if (!c || !*c) continue;
            if (!pluginWritten) text += "LoadPlugin(" + Quoted(FindAvsFile("VSFilter.dll")) + ")\n";
            pluginWritten = true;
            std::string sub = c;
            if (subMode != 3 && !HasExtension(sub)) continue;
            text += (subMode == 3 || IsSubExtension(sub) ? "VobSub(" : "TextSub(") + Quoted(sub) + ")\n";
        }
    }

    if (item->audio) {
        int delay = prefs.GetInt("overall.audio.delay");
        if (delay != 0) text += "DelayAudio(" + FloatText(delay / 1000.0) + ")\n";
        text += ResampleStatement(item, false);
        text += GainStatement(item, true);
        text += "ConvertAudioTo16bit()\n";
    }
    return text;
}

bool MakeAvsScriptFile(CAvsHelper* owner, QueueItem* item, AudioTask* task, bool templateAllowed,
                       const char* path) {
    if (!owner || !item) return false;
    if (item->inputType && item->inputType->typeId == kAvsScriptType) {
        owner->scriptPath = item->file ? item->file : "";
        owner->deleteScript = false;
        return true;
    }
    std::string text = BuildAvsScript(item, task, templateAllowed);
    if (text.empty()) return false;
    std::string target;
    FILE* f = nullptr;
    if (path) {
        target = path;
        f = std::fopen(target.c_str(), "w");
    } else {
        // Two workers on the same source share its temporary name: the second takes the next free
        // numbered name rather than overwriting (and later deleting) the first one's script.
        const std::string base = GetTaskVariable(item, task, "TempFile");
        for (int n = 1; !f && n <= 100; ++n) {
            target = base + (n == 1 ? "" : "." + std::to_string(n)) + ".avs";
            f = std::fopen(target.c_str(), "wx");
            if (!f && errno != EEXIST) break;
        }
    }
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fclose(f) == 0 && ok;
    // Owned from here on, so a failed write is removed with the rest.
    owner->scriptPath = target;
    owner->deleteScript = !GetPrefStore().GetBool("videosrc.avisynth.keepScript");
    if (!ok) return false;
    RaiseEvent(kEventConsoleText, text.c_str());
    return true;
}

bool DeleteAvsScript(CAvsHelper* owner) {
    if (owner && owner->deleteScript) {
        unlink(owner->scriptPath.c_str());
        owner->scriptPath.clear();
        owner->deleteScript = false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

CAvsAudioSource::CAvsAudioSource() { SetName("AVISynth"); }
CAvsAudioSource::~CAvsAudioSource() { CAvsAudioSource::Close(); }

bool CAvsAudioSource::Fail(const char* message) {
    std::fprintf(stderr, "%s\n", message);
    Close();
    return false;
}

bool CAvsAudioSource::Open(AudioTask* task) {
    bytesRead = 0;
    nextSample = 0;
    QueueItem* item = task ? task->item : nullptr;
    if (!MakeAvsScriptFile(this, item, task, true, nullptr)) {
        Close();
        return false;
    }
    // A script the engine wrote with a cut already starts at the task's start: no seek on top.
    scriptCuts_ = false;
    if (deleteScript || (item->inputType && item->inputType->typeId != kAvsScriptType)) {
        std::ifstream in(scriptPath);
        std::stringstream ss;
        ss << in.rdbuf();
        scriptCuts_ = ss.str().find("Trim(") != std::string::npos;
    }
    // The layer is loaded on the first script; without it no environment can be had.
    api_ = platform::AvsModule();
    env_ = api_ ? api_->create_script_environment(2) : nullptr;
    if (!env_) return Fail("AVIFileOpen failed, unable to open script environment");
    AVS_Value v = api_->invoke(env_, "Import", api_->new_value_string(scriptPath));
    if (api_->is_error(v) || !api_->is_clip(v)) {
        std::fprintf(stderr, "AVIFileOpen failed, unable to open %s : %s\n", item && item->file ? item->file : "",
                     api_->is_error(v) ? api_->as_error(v) : "");
        Close();
        return false;
    }
    clip_ = api_->take_clip(v, env_);
    const AVS_VideoInfo* vi = clip_ ? api_->get_video_info(clip_) : nullptr;
    if (!vi) return Fail("AVIStreamInfo failed, unable to get stream info!");
    if (!api_->has_audio(*vi)) return Fail("AVIFileGetStream failed, no audio stream!");
    std::fprintf(stderr, "Found Audio Stream\n");
    // Float samples would be labelled integer PCM by the header; they are refused.
    int sampleBytes = api_->bytes_per_channel_sample(*vi);
    if (vi->sample_type == AVS_SAMPLE_FLOAT || sampleBytes == 0 || vi->nchannels <= 0)
        return Fail("AVIStreamReadFormat failed!");
    blockAlign_ = sampleBytes * vi->nchannels;
    length = vi->num_audio_samples > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(vi->num_audio_samples);
    // The data size is in bytes: samples times the bytes of one frame.
    InitWaveHeader(&header, static_cast<uint32_t>(vi->audio_samples_per_second), static_cast<uint32_t>(vi->nchannels),
                   static_cast<uint32_t>(sampleBytes * 8), static_cast<int64_t>(length) * blockAlign_);
    return true;
}

int32_t CAvsAudioSource::Seek(int32_t ms) {
    if (!clip_ || ms < 0) return -1;
    if (scriptCuts_) return ms;
    uint64_t sample = static_cast<uint64_t>(ms) * header.sampleRate / 1000;
    nextSample = sample > length ? length : static_cast<uint32_t>(sample);
    return ms;
}

int CAvsAudioSource::Read(void* buffer, int size) {
    if (!clip_ || nextSample >= length) return -1;
    // A script the engine cut itself is read whole; only a user's own script is held to the task's
    // duration.
    int allowed = scriptCuts_ ? size : ClippedCount(size);
    if (allowed < 0) return -1;
    int64_t samples = std::min<int64_t>(allowed / blockAlign_, static_cast<int64_t>(length) - nextSample);
    if (samples <= 0) return -1;  // less than one frame left before the limit
    if (api_->get_audio(clip_, buffer, nextSample, samples) != 0) {
        std::fprintf(stderr, "AVIStreamRead returned error.\n");
        return -1;
    }
    bytesRead = static_cast<int32_t>(samples * blockAlign_);
    nextSample += static_cast<uint32_t>(samples);
    position += static_cast<uint64_t>(bytesRead);
    return bytesRead;
}

void CAvsAudioSource::Close() {
    if (clip_) api_->release_clip(clip_);
    clip_ = nullptr;
    if (env_) api_->delete_script_environment(env_);
    env_ = nullptr;
    DeleteAvsScript(this);
}

#include "engine/tools/player_options.h"

#include <charconv>
#include <cstring>
#include <strings.h>

#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/tools/player_cmd.h"
#include "platform/sysinfo.h"

namespace {

constexpr uint32_t kTypeNoSubtitles = 39;
constexpr uint32_t kTypeRawAudio = 46;
constexpr uint32_t kTypeRawVideo = 49;

const PrefOption kGeneralOptions[] = {
    {"overall.ui.quiet", "-really-quiet"},
    {"overall.preview.cache", "-cache "},
    {nullptr, nullptr},
};

const PrefOption kAudioLanguageOptions[] = {
    {"overall.decoding.alang", "-alang "},
    {nullptr, nullptr},
};

const PrefOption kSubtitleOptions[] = {
    {"overall.subtitle.fuzziness", "-sub-fuzziness "},
    {"overall.subtitle.slang", "-slang "},
    {"overall.subtitle.sid", "-sid "},
    {"overall.subtitle.subcc", "-subcc"},
    {"overall.subtitle.pos", "-subpos "},
    {"overall.subtitle.delay", "-subdelay "},
    {"overall.subtitle.alpha", "-sub-bg-alpha "},
    {"overall.subtitle.color", "-sub-bg-color "},
    {"overall.subtitle.autoScale", "-subfont-autoscale "},
    {"overall.subtitle.blur", "-subfont-blur "},
    {"overall.subtitle.outline", "-subfont-outline "},
    {"overall.subtitle.width", "-subwidth "},
    {"overall.subtitle.font", "-subfont "},
    {"overall.subtitle.encoding", "|-noutf8|-utf8|-unicode"},
    {nullptr, nullptr},
};

const PrefOption kExtraFilterOptions[] = {
    {"audiofilter.extra.options", ""},
    {nullptr, nullptr},
};

std::string Num(long long v) { return std::to_string(v); }

// The item's running task, when a job runs.
const AudioTask* RunningTask(const QueueItem* item) { return item ? item->audioTask.load() : nullptr; }

// A gain the analysis left; its "not enough samples" answer counts as none.
float AnalysedGain(const AudioStreamInfo* stream, int which) {
    if (!stream) return 0.0f;
    float g = stream->gain[which];
    return g <= kNoAnalysedGain ? 0.0f : g;
}



// The file's path up to the dot of its extension; a dot in a folder name is not an extension.
std::string WithoutExtension(const char* path) {
    std::string p = path;
    size_t slash = p.find_last_of('/');
    size_t dot = p.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) p.resize(dot);
    return p;
}

}  // namespace

std::string FormatPlayerFloat(double value) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6);
    return std::string(buf, res.ptr);
}

std::string BuildPlayerAudioFilters(const QueueItem* item, const AudioStreamInfo* stream) {
    if (!stream) return "";
    PrefStore& prefs = GetPrefStore();
    std::string f;

    int targetRate = prefs.GetInt("audiofilter.resample.samplerate");
    if (targetRate != 0 && !(prefs.GetBool("audiofilter.resample.downSamplingOnly") && stream->samplerate != 0 &&
                             static_cast<int64_t>(stream->samplerate) <= targetRate)) {
        if (prefs.GetBool("audiofilter.resample.lavcResampler")) {
            f += ",lavcresample=" + Num(targetRate);
        } else {
            int sloppy = prefs.GetInt("audiofilter.resample.precious") == 0 ? 1 : 0;
            f += ",resample=" + Num(targetRate) + ":" + Num(sloppy) + ":" + Num(prefs.GetInt("audiofilter.resample.method"));
        }
    }

    if (prefs.GetBool("audiofilter.equalizer.enabled")) {
        f += ",equalizer=";
        for (int band = 0; band < 10; ++band) {
            std::string key = "audiofilter.equalizer.band" + Num(band);
            f += FormatPlayerFloat(prefs.GetFloat(key.c_str())) + ":";
        }
    }

    if (prefs.GetBool("audiofilter.channels.enabled")) {
        int routes = prefs.GetInt("audiofilter.channels.routes");
        f += ",channels=" + Num(prefs.GetInt("audiofilter.channels.output")) + ":" + Num(routes);
        for (int i = 1; i <= routes; ++i) {
            std::string key = "audiofilter.channels.channel" + Num(i);
            // A route without a defined source channel takes the first one rather than channel -1.
            int source = prefs.GetInt(key.c_str());
            f += ":" + Num(source > 0 ? source - 1 : 0) + ":" + Num(i - 1);
        }
    } else {
        static const char* const kChannelFilters[] = {
            "", ",pan=1:0.5:0.5", ",channels=1:1:0:0", ",channels=1:1:1:0", ",channels=2", ",channels=4", ",channels=6", ",channels=8"};
        int channels = prefs.GetInt("overall.audio.channels");
        if (channels >= 1 && channels <= 7) f += kChannelFilters[channels];
    }

    float surround = prefs.GetFloat("audiofilter.surround.delay");
    if (surround != 0.0f) f += ",surround=" + FormatPlayerFloat(surround);

    if (prefs.GetBool("audiofilter.delay.enabled")) {
        f += ",delay=";
        for (int ch = 1; ch <= 6; ++ch) {
            std::string key = "audiofilter.delay.channel" + Num(ch);
            f += FormatPlayerFloat(prefs.GetFloat(key.c_str())) + ":";
        }
    }

    if (prefs.GetBool("audiofilter.extraStereo.enabled"))
        f += ",extrastereo=" + FormatPlayerFloat(prefs.GetFloat("audiofilter.extraStereo.coeff"));

    const AudioTask* task = RunningTask(item);
    const bool analysisPass = task && task->encoderId == kAnalysisPassEncoderId;
    float gain = prefs.GetFloat("audiofilter.volume.gain");
    const bool normalize = prefs.GetInt("audiofilter.volume.normalization") != 0;
    const bool balancing = normalize && prefs.GetBool("audiofilter.volume.balancing") && task && task->inputTracks == 1;
    const int clip = prefs.GetInt("audiofilter.volume.clipping");
    if (!analysisPass && !balancing) {
        float g = gain + (normalize ? AnalysedGain(stream, 0) : 0.0f);
        if (g != 0.0f && g <= 60.0f) f += ",volume=" + FormatPlayerFloat(g) + ":" + Num(clip);
    }

    if (prefs.GetBool("audiofilter.compressor.enabled")) f += ",comp";

    f += prefs.AppendOptions(kExtraFilterOptions, ",");

    if (balancing && !analysisPass) {
        for (int ch = 0; ch < 2; ++ch) {
            float g = gain + AnalysedGain(stream, ch);
            if (g != 0.0f && g <= 60.0f) f += " -af-add volume=" + FormatPlayerFloat(g) + ":" + Num(clip) + ":" + Num(ch + 1);
        }
    }

    int bits = 16;
    switch (prefs.GetInt("overall.audio.bitDepth")) {
        case 0:
            bits = item && item->audio && item->audio->samplebits ? static_cast<int>(item->audio->samplebits) : 16;
            break;
        case 2: bits = 24; break;
        case 3: bits = 32; break;
        default: bits = 16; break;
    }
    f += ",format=s" + Num(bits) + "le";

    if (!f.empty() && f[0] == ',') return " -af " + f.substr(1);
    return f;
}

std::string BuildPlayerDecodeOptions(const QueueItem* item, bool withSubtitles, const AudioStreamInfo* stream,
                                     bool withoutEditList, bool forEncoder) {
    PrefStore& prefs = GetPrefStore();
    std::string o;
    if (!withoutEditList) {
        static const PrefOption kEdl[] = {{"videosrc.mplayer.edl", "-edl "}, {nullptr, nullptr}};
        o += prefs.AppendOptions(kEdl, " ");
        std::string user = prefs.GetStringObj("videosrc.mplayer.options", ' ');
        if (user.size() > 1) o += " " + user;  // the user's options follow two blanks
    }

    switch (int channels = prefs.GetInt("overall.audio.channels")) {
        case 0:
            if (stream && stream->channels >= 1) o += " -channels " + Num(stream->channels);
            break;
        case 1: case 2: case 3: case 4: o += " -channels 2"; break;
        case 5: o += " -channels 4"; break;
        case 6: o += " -channels 6"; break;
        case 7: o += " -channels 8"; break;
        default: (void)channels; break;
    }

    uint32_t typeId = item && item->inputType ? item->inputType->typeId : 0;
    int rate = prefs.GetInt("overall.decoding.sampleRate");
    int decChannels = prefs.GetInt("overall.decoding.channels");
    if (typeId == kTypeRawAudio) {
        o += " -demuxer rawaudio -rawaudio samplesize=2";
        if (rate) o += ":rate=" + Num(rate);
        if (decChannels) o += ":channels=" + Num(decChannels);
    } else if (typeId == kTypeRawVideo) {
        o += " -demuxer rawvideo -rawvideo w=" + Num(prefs.GetInt("overall.decoding.width")) +
             ":h=" + Num(prefs.GetInt("overall.decoding.height"));
        const char* color = prefs.GetString("overall.decoding.color");
        if (color && *color) o += std::string(":format=") + color;
    } else {
        if (rate) o += " -rate " + Num(rate);
        if (decChannels) o += " -channels " + Num(decChannels);
    }

    const AudioTask* task = RunningTask(item);
    int64_t start = task ? task->start : (item && item->begin ? item->begin : prefs.GetInt("overall.decoding.startTime"));
    if (start > 0) o += " -ss " + FormatPlayerFloat(static_cast<double>(start) / 1000.0);
    // The high-resolution edit-list seek is an option of the encoder only; the player refuses it.
    if (forEncoder && prefs.GetBool("videosrc.mencoder.hrSeek")) o += " -hr-edl-seek";

    if (item && item->discRoot && item->file) {
        const char* file = item->file;
        if (strncmp(file, "br://", 5) == 0)
            o += " -bluray-device " + QuotedPath(item->discRoot);
        else if (strncmp(file, "dvd://", 6) == 0 || strncmp(file, "dvdnav://", 9) == 0)
            o += " -dvd-device " + QuotedPath(item->discRoot);
        else if (strstr(file, "cd://"))
            o += " -cdrom-device " + QuotedPath(item->discRoot);
    }

    if (item && item->chapter) o += " -chapter " + Num(item->chapter) + "-" + Num(item->chapter);

    if (withSubtitles) {
        int mode = prefs.GetInt("overall.subtitle.mode");
        if (mode == 0 || mode > 3 || typeId == kTypeNoSubtitles) {
            o += " -noautosub -nosub";
        } else {
            if (prefs.GetInt("overall.subtitle.encoding") < 2) {
                const char* cp = prefs.GetString("overall.subtitle.codepage");
                if (cp && *cp) {
                    o += std::string(" -subcp ") + cp;
                } else if (int ansi = platform::SystemAnsiCodePage(); ansi > 0) {
                    o += " -subcp cp" + Num(ansi);
                }
            }
            o += prefs.AppendOptions(kSubtitleOptions, " ");
            o += " -subfont-text-scale " + FormatPlayerFloat(prefs.GetInt("overall.subtitle.scale") / 10.0);
            const char* prefFile = prefs.GetString("overall.subtitle.file");
            const char* itemFile = item && item->subtitle ? item->subtitle : "";
            if (mode == 1 || mode == 2) {
                bool first = true;
                for (const char* file : {prefFile, itemFile}) {
                    if (!file || !*file) continue;
                    if (first) o += mode == 2 ? " -ass -sub " : " -sub ";
                    else o += ",";
                    o += QuotedPath(file);
                    first = false;
                }
            } else {
                const char* file = prefFile && *prefFile ? prefFile : itemFile;
                if (file && *file) o += " -vobsub " + QuotedPath(WithoutExtension(file).c_str());
            }
        }
    }

    if (item && item->sid) o += " -sid " + Num(item->sid);

    o += prefs.AppendOptions(kGeneralOptions, " ");

    if (stream) {
        o += prefs.AppendOptions(kAudioLanguageOptions, " ");
        if (!task || task->inputTracks < 2) {
            if (item && item->aid) o += " -aid " + Num(item->aid);
            else if (stream->id) o += " -aid " + Num(stream->id);
        } else {
            o += " -aid " + Num(stream->id);
        }
    }
    return o;
}

void BuildPlayerVideoHints(const QueueItem* item, std::string& text) {
    if (GetPrefStore().GetBool("overall.demux.enabled") || !item || !item->video) return;
    const VideoStreamInfo* v = item->video;
    if (v->codec && strcasecmp(v->codec, "XVID") == 0) text += " -vfm xvid";
    if ((v->flags & 1u) && v->format && (strstr(v->format, "REAL") || strstr(v->format, "Real")))
        text += " -fps " + Num(v->fpsNum) + "/" + Num(v->fpsDen);
}

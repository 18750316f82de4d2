#include "engine/tools/media_probe.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "common/textutil.h"
#include "engine/context.h"
#include "engine/devices/cdrom.h"
#include "engine/queue/queue.h"
#include "engine/sources/decoder_sources.h"
#include "engine/tools/adapter_answers.h"
#include "engine/tools/player_cmd.h"
#include "engine/tools/player_options.h"
#include "engine/tools/probe_ahead.h"
#include "engine/tools/process.h"
#include "platform/numtext.h"

namespace {

const char* const kProbeOptions = " -identify -benchmark -nomsgcolor -vo null -ao null -channels 6";
const char* const kStreamProbeOptions = " -identify -nomsgcolor -vo null -ao null -channels 6";

std::string DiscAndChapter(const QueueItem* item) {
    std::string s;
    if (item->discRoot) {
        const char* f = item->file ? item->file : "";
        if (strncmp(f, "br://", 5) == 0) s += " -bluray-device";
        else if (strncmp(f, "dvd://", 6) == 0 || strncmp(f, "dvdnav://", 9) == 0) s += " -dvd-device";
        else s += " -cdrom-device";
        s += " " + QuotedPath(item->discRoot);
    }
    if (item->chapter) s += " -chapter " + std::to_string(item->chapter) + "-" + std::to_string(item->chapter);
    return s;
}

// The audio record with this id, inserted in ascending id order when missing.
AudioStreamInfo* AudioRecord(QueueItem* item, uint32_t id) {
    AudioStreamInfo** link = &item->audio;
    while (*link && (*link)->id < id) link = &(*link)->next;
    if (*link && (*link)->id == id) return *link;
    auto* rec = new AudioStreamInfo;
    rec->id = id;
    rec->next = *link;
    *link = rec;
    return rec;
}

// The video record with this id, appended when missing (a new record is progressive).
VideoStreamInfo* VideoRecord(QueueItem* item, uint32_t id) {
    VideoStreamInfo** link = &item->video;
    for (; *link; link = &(*link)->next)
        if ((*link)->id == id) return *link;
    auto* rec = new VideoStreamInfo;
    rec->id = id;
    rec->scanMode = 'p';
    *link = rec;
    return rec;
}

int VideoCount(const QueueItem* item) {
    int n = 0;
    for (const VideoStreamInfo* v = item->video; v; v = v->next) ++n;
    return n;
}

// A length in seconds as ms; one that no int holds (or a negative one) is no length.
int32_t SecondsToMs(const char* value) {
    const double ms = platform::ParseDouble(value) * 1000.0;
    return ms >= 0.0 && ms < 2147483647.0 ? static_cast<int32_t>(ms) : 0;
}

uint32_t Positive(const char* value) {
    int v = platform::ParseInt(value);
    return v >= 1 ? static_cast<uint32_t>(v) : 0;
}

// Format tags are printed in decimal by the player we drive, in hexadecimal by others ("0x...").
uint32_t FormatTag(const char* value) {
    if (value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) return static_cast<uint32_t>(hex2int(value));
    return static_cast<uint32_t>(platform::ParseInt(value));
}

void SetTag(QueueItem* item, const std::string& name, const char* value) {
    const char* n = name.c_str();
    if (!strcasecmp(n, "Name") || !strcasecmp(n, "Title")) SetStringField(&item->tagTitle, value);
    else if (!strcasecmp(n, "Artist")) SetStringField(&item->tagArtist, value);
    else if (!strcasecmp(n, "Album")) SetStringField(&item->tagAlbum, value);
    else if (!strcasecmp(n, "Comments")) SetStringField(&item->tagComment, value);
    else if (!strcasecmp(n, "Track")) item->tagTrack = static_cast<uint32_t>(platform::ParseInt(value));
    else if (!strcasecmp(n, "Creation Date") || !strcasecmp(n, "Year")) item->tagYear = static_cast<uint32_t>(platform::ParseInt(value));
}

// Matches "<prefix><number><suffix>" at p; the number into *n and p past the suffix.
bool MatchNumbered(const char** p, const char* prefix, const char* suffix, int* n) {
    const char* s = *p;
    size_t lp = strlen(prefix);
    if (strncmp(s, prefix, lp) != 0) return false;
    s += lp;
    if (*s < '0' || *s > '9') return false;
    int v = 0;
    while (*s >= '0' && *s <= '9') {
        if (v < 100000000) v = v * 10 + (*s - '0');
        ++s;
    }
    size_t ls = strlen(suffix);
    if (strncmp(s, suffix, ls) != 0) return false;
    *n = v;
    *p = s + ls;
    return true;
}

}  // namespace

int ProbeTitleNumber(const char* path) {
    const char* p = path ? strstr(path, "://") : nullptr;
    if (!p) return 0;
    int v = platform::ParseInt(p + 3);
    return v > 0 ? v : 0;
}

std::string BuildProbeLine(const QueueItem* item) {
    std::string line = "mplayer " + QuotedPath(item->file) + kProbeOptions + PlayerQuietOption();
    line += DiscAndChapter(item);
    BuildPlayerVideoHints(item, line);
    line += " -endpos 1 -frames 30";
    return line;
}

std::string BuildStreamProbeLine(const QueueItem* item, unsigned audioId) {
    return "mplayer " + QuotedPath(item->file) + kStreamProbeOptions + PlayerQuietOption() + " -aid " +
           std::to_string(audioId) + DiscAndChapter(item) + " -parse-only";
}

std::string CodecDisplayName(const char* codec) {
    if (!codec) return "";
    if (strncmp(codec, "ff", 2) == 0) codec += 2;
    static const struct {
        const char* from;
        const char* to;
    } kNames[] = {{"FAAD", "AAC/AAC+"}, {"a52", "AC-3"}, {"dts", "DTS"}, {"avc", "AVC"}, {"mp3", "MP3"}};
    for (const auto& n : kNames)
        if (!strcasecmp(codec, n.from)) return n.to;
    return codec;
}

void ParseProbeOutput(const char* text, QueueItem* item, int title, int streamId) {
    if (!text || !item) return;
    // A run for one stream lists every stream's id before that stream's lines: they are its own.
    AudioStreamInfo* audio = streamId >= 0 ? AudioRecord(item, static_cast<uint32_t>(streamId)) : nullptr;
    VideoStreamInfo* video = nullptr;
    std::string clipName;
    int clipIndex = -1;
    const char* at = text;
    while (*at) {
        const char* eol = strchr(at, '\n');
        size_t len = eol ? static_cast<size_t>(eol - at) : strlen(at);
        std::string line(at, len);
        at += len + (eol ? 1 : 0);
        while (!line.empty() && line.back() == '\r') line.pop_back();

        static const char kDetected[] = " file format detected.";
        constexpr size_t kDetectedLen = sizeof kDetected - 1;
        if (line.size() > kDetectedLen && line.compare(line.size() - kDetectedLen, kDetectedLen, kDetected) == 0) {
            std::string word = line.substr(0, line.find(' '));
            if (!word.empty() && word != "libavformat") SetStringField(&item->containerFormat, word.c_str());
            continue;
        }
        const char* p = line.c_str();
        if (strncmp2(&p, "ID_") != 0) continue;
        int n = 0;
        const char* q = p;
        // The named title's length always wins; other titles' lengths only stand in for a
        // length not known otherwise, on an input that names no title.
        if (MatchNumbered(&q, "DVD_TITLE_", "_LENGTH=", &n) || MatchNumbered(&q, "BLURAY_TITLE_", "_LENGTH=", &n)) {
            if (title > 0 && n == title) item->duration = SecondsToMs(q);
            else if (title == 0 && item->duration == 0) item->duration = SecondsToMs(q);
            continue;
        }
        if (!strncmp2(&p, "AUDIO_ID=")) {
            if (streamId < 0) audio = AudioRecord(item, static_cast<uint32_t>(platform::ParseInt(p)));
        } else if (!strncmp2(&p, "AUDIO_FORMAT=")) {
            if (audio) audio->format = FormatTag(p);
        } else if (!strncmp2(&p, "AUDIO_NCH=")) {
            if (audio && Positive(p)) audio->channels = Positive(p);
        } else if (!strncmp2(&p, "AUDIO_RATE=")) {
            if (audio && Positive(p)) audio->samplerate = Positive(p);
        } else if (!strncmp2(&p, "AUDIO_BITRATE=")) {
            if (audio && !audio->bitrate) audio->bitrate = Positive(p);
        } else if (!strncmp2(&p, "AUDIO_CODEC=")) {
            if (audio && !audio->codec) audio->codec = DupString(CodecDisplayName(p).c_str());
        } else if (!strncmp2(&p, "VIDEO_ID=")) {
            video = VideoRecord(item, static_cast<uint32_t>(platform::ParseInt(p)));
        } else if (!strncmp2(&p, "LENGTH=")) {
            if (item->duration == 0) item->duration = SecondsToMs(p);
        } else if (MatchNumbered(&p, "CLIP_INFO_NAME", "=", &n)) {
            clipName = p;
            clipIndex = n;
        } else if (MatchNumbered(&p, "CLIP_INFO_VALUE", "=", &n)) {
            if (n == clipIndex) SetTag(item, clipName, p);
            clipIndex = -1;
        } else if (!strncmp2(&p, "VIDEO_FORMAT=")) {
            // A numeric tag is no name; the codec line that follows names the format instead.
            if (video && !video->codec && *p && strncmp(p, "0x", 2) != 0) video->codec = DupString(p);
        } else if (!strncmp2(&p, "VIDEO_BITRATE=")) {
            if (video && !video->bitrate) video->bitrate = Positive(p);
        } else if (!strncmp2(&p, "VIDEO_WIDTH=")) {
            if (video && Positive(p)) video->width = Positive(p);
        } else if (!strncmp2(&p, "VIDEO_HEIGHT=")) {
            if (video && Positive(p)) video->height = Positive(p);
        } else if (!strncmp2(&p, "VIDEO_FPS=")) {
            double fps = platform::ParseDouble(p);
            if (video && video->fpsNum == 0 && fps > 0.0 && fps <= 120.0) {
                if ((!strncmp(p, "29.", 3) || !strncmp(p, "23.", 3)) && VideoCount(item) < 2) video->scanMode = 't';
                int num = 0, den = 0;
                GetFraction(fps, &num, &den);
                video->fpsNum = static_cast<uint32_t>(num);
                video->fpsDen = static_cast<uint32_t>(den);
            }
        } else if (!strncmp2(&p, "VIDEO_ASPECT=")) {
            if (video && video->darNum == 0) {
                int num = 0, den = 0;
                GetFraction(platform::ParseDouble(p), &num, &den);
                video->darNum = static_cast<uint32_t>(num > 0 ? num : 0);
                video->darDen = static_cast<uint32_t>(den > 0 ? den : 0);
                if (video->pixelAspect == 0.0) {
                    video->pixelAspect = video->width == 0 || video->darDen == 0
                                             ? 1.0
                                             : static_cast<double>(video->height) * video->darNum /
                                                   (static_cast<double>(video->width) * video->darDen);
                }
            }
        } else if (!strncmp2(&p, "VIDEO_CODEC=")) {
            if (video && !video->codec) video->codec = DupString(CodecDisplayName(p).c_str());
        }
    }
    if (item->tagTitle && *item->tagTitle) item->flags |= kItemFlagHasTags;
}

void FinishProbe(QueueItem* item) {
    if (item->size >= 1 || item->duration <= 0) return;
    double bitrate = item->containerBitrate;
    if (bitrate == 0 && item->video && item->video->bitrate) {
        bitrate = item->video->bitrate;
        if (item->audio) bitrate += item->audio->bitrate;
    }
    const double kb = bitrate / 1000.0 * item->duration / 1024.0 / 8.0;
    if (kb > 0.0) item->size = kb < 4294967295.0 ? static_cast<uint32_t>(kb) : 0xFFFFFFFFu;
}

bool ProbeMedia(CProcessWrapper* runner, QueueItem* item, bool parseOnly) {
    if (!runner || !item || !item->file) return false;
    const int title = ProbeTitleNumber(item->file);
    std::string line = BuildProbeLine(item);
    // A read-ahead (ahead of the job, on a thread of its own) runs quietly and keeps the outputs;
    // the job's probe takes what it kept for the same line and file instead of a run.
    const bool ahead = ReadingProbeAhead();
    if (!ahead) RaiseEvent(kEventCommandLine, line.c_str());
    std::string output;
    if (!TakeProbeOutput(line, item->file, &output)) {
        if (!AnswerIdentifyInProgram(line, &output)) {
            if (!runner->Start(line.c_str())) return false;
            int got = runner->ReadOutput(kProbeReadMs);
            output = got >= 1 && runner->buffer ? runner->buffer : "";
            runner->Close();
        }
        KeepProbeOutput(line, item->file, output);
    }
    if (output.empty()) return false;
    ParseProbeOutput(output.c_str(), item, title);
    FinishProbe(item);
    if (parseOnly) return true;

    int streams = 0;
    for (AudioStreamInfo* a = item->audio; a; a = a->next) ++streams;
    if (streams < 2) return true;
    int runs = 0;
    for (AudioStreamInfo* a = item->audio; a && runs < kProbeMaxStreamRuns; a = a->next, ++runs) {
        std::string status = std::string(EngineText("scan_audio")) + " (ID:" + std::to_string(a->id) + ")";
        if (status.size() > 64) status.resize(64);
        if (!ahead) RaiseEvent(kEventStatusText, status.c_str());
        std::string streamLine = BuildStreamProbeLine(item, a->id);
        std::string streamOutput;
        if (!TakeProbeOutput(streamLine, item->file, &streamOutput)) {
            if (!runner->Start(streamLine.c_str())) continue;
            streamOutput = runner->ReadOutput(kProbeReadMs) > 0 && runner->buffer ? runner->buffer : "";
            runner->Close();
            KeepProbeOutput(streamLine, item->file, streamOutput);
        }
        if (streamOutput.empty()) continue;
        if (!ahead) RaiseEvent(kEventProbeNotice, streamOutput.c_str());
        // The first run's values after the id list belong to the stream the player chose, not
        // necessarily to this one: a run that describes the stream gives its codec, format and
        // bitrate afresh.
        if (streamOutput.find("ID_AUDIO_FORMAT=") != std::string::npos ||
            streamOutput.find("ID_AUDIO_CODEC=") != std::string::npos) {
            a->format = 0;
            a->bitrate = 0;
            SetStringField(&a->codec, nullptr);
        }
        ParseProbeOutput(streamOutput.c_str(), item, title, static_cast<int>(a->id));
    }
    return true;
}

bool AnalyzeStream(QueueItem* item) {
    const bool ahead = ReadingProbeAhead();
    if (!ahead) RaiseEvent(kEventStatusText, EngineText("analyze_stream"));
    CProcessWrapperCRT runner(kProcGrowingBuffer | kProcStdout);
    bool ok = ProbeMedia(&runner, item, false);
    if (!ahead) RaiseEvent(kEventStatusText, intptr_t{0});
    return ok;
}

std::string ProbeDiscTitles(int kind, int title, const char* device) {
    if (kind == 3) return CdDiscText(device);  // an audio CD: the drive's disc text
    if (kind != 0 && kind != 1) return "";
    CProcessWrapperCRT runner(kProcGrowingBuffer | kProcStdout);
    std::string line = BuildDiscTitlesLine(kind, title, device);
    if (!runner.Start(line.c_str())) return "";
    int got = runner.ReadOutput(kProbeTitlesReadMs);
    std::string out = got >= 1 && runner.buffer ? runner.buffer : "";
    runner.Close();
    return out;
}

bool ProbeApeFile(QueueItem* item) {
    if (!item || !item->file) return false;
    CAPEDecoder ape;
    if (!ape.Load(item->file)) return false;
    if (!item->audio) item->audio = new AudioStreamInfo;
    AudioStreamInfo* a = item->audio;
    a->samplerate = static_cast<uint32_t>(ape.Info(1003));
    a->samplebits = static_cast<uint32_t>(ape.Info(1004));
    a->channels = static_cast<uint32_t>(ape.Info(1006));
    a->bitrate = static_cast<uint32_t>(ape.Info(2005) * 1000);
    SetStringField(&a->codec, "Monkey's Audio");
    item->duration = static_cast<int32_t>(ape.Info(2003));
    SetStringField(&item->containerFormat, "APE");
    return true;
}

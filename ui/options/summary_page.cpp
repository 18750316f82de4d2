// The summary page of the audio tab's nested row: a tree of what the current item's source holds
// (container, each video stream, each audio track) and of what the target settings will make of it
// (container, video, audio, estimated size, positioning).
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/engine_api.h"
#include "ui/options/option_tabs.h"

namespace ui {

using namespace gui;

namespace {

const char* Ui(const char* key) { return UiStrings().GetString(key, 0, key); }

std::string Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Print(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

const char* EnumValue(const char* key) { return GetPrefEnumText(key, GetPrefInt(key)); }

// A bit rate in whole units: Mbps from 10 Mbps, Kbps from 10 Kbps, else bps, so that at least two
// figures show.
std::string BitrateText(uint32_t bps) {
    if (bps >= 10000000u) return Print("%s: %u Mbps", Ui("bitrate"), bps / 1000000u);
    if (bps >= 10000u) return Print("%s: %u Kbps", Ui("bitrate"), bps / 1000u);
    return Print("%s: %u bps", Ui("bitrate"), bps);
}

// A size in KB as KB, MB from 10 MB, GB from 10 GB.
std::string SizeText(uint32_t kb) {
    if (kb >= 10u * 1024 * 1024) return Print("%s: %u %cB", Ui("fl_size"), kb / (1024u * 1024u), 'G');
    if (kb >= 10u * 1024) return Print("%s: %u %cB", Ui("fl_size"), kb / 1024u, 'M');
    return Print("%s: %u %cB", Ui("fl_size"), kb, 'K');
}

const char* ScanText(uint32_t mode) {
    switch (mode) {
    case 'p': return "Progressive";
    case 't': return "Interlaced TFF";
    case 'b': return "Interlaced BFF";
    case 'm': return "Mixed";
    case 'M': return "MBAFF";
    case 'P': return "PAFF";
    default: return nullptr;
    }
}

const char* ChannelLayoutText(uint32_t channels) {
    switch (channels) {
    case 1: return " (Mono)";
    case 2: return " (Stereo)";
    case 6: return " (5.1)";
    default: return "";
    }
}

// The rate modes of "overall.video.mode" that aim at a bit rate.
bool VideoBitrateMode(int mode) { return mode == 0 || mode == 2 || mode == 4 || mode == 5; }

class CDlgSummary : public COptionPage {
public:
    CDlgSummary() : COptionPage(dlg::opt_summary::id, "summary", true, nullptr) {}

    void RefreshStates() override {
        tree_ = GetItem(dlg::opt_summary::tree);
        SendMessageA(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
        QueueItem* item = OptionsCurrentItem();
        if (item) {
            HTREEITEM source = Add(TVI_ROOT, Ui("source"));
            AddSource(source, item);
            SendMessageA(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(source));
        }
        HTREEITEM target = Add(TVI_ROOT, Ui("target_format"));
        AddTarget(target, item);
        SendMessageA(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(target));
    }

    // The tree fills the page.
    bool OnSize(int width, int height) override {
        MoveWindow(GetItem(dlg::opt_summary::tree), 0, 0, width, height, TRUE);
        return true;
    }

private:
    HTREEITEM Add(HTREEITEM parent, const std::string& text) { return InsertTreeItem(tree_, parent, text.c_str()); }
    static std::string Label(const char* key, const char* value) { return std::string(Ui(key)) + ": " + (value ? value : ""); }

    void AddSource(HTREEITEM source, const QueueItem* item) {
        if (item->containerBitrate) Add(source, BitrateText(item->containerBitrate));
        if (item->containerFormat) Add(source, Label("container", item->containerFormat));
        if (item->duration > 0)
            Add(source, Print("%s: %d.%d %s", Ui("duration"), item->duration / 1000, item->duration % 1000 / 100, Ui("secs")));
        if (item->size) Add(source, SizeText(item->size));
        if (item->containerBitrate) Add(source, Print("%s: %.1f%%", Ui("overhead"), item->containerOverhead / 100.0));
        for (const VideoStreamInfo* v = item->video; v; v = v->next) AddVideoStream(source, v);
        for (const AudioStreamInfo* a = item->audio; a; a = a->next) AddAudioTrack(source, a);
    }

    void AddVideoStream(HTREEITEM source, const VideoStreamInfo* v) {
        const char* name = v->codec ? v->codec : v->format;
        HTREEITEM stream = Add(source, Print("%s (%u): %s", Ui("video"), v->id, name ? name : ""));
        if (v->codecId && *v->codecId) Add(stream, Label("codec", v->codecId));
        if (v->profile && *v->profile) Add(stream, Label("profile", v->profile));
        if (v->width && v->height) Add(stream, Print("%s: %ux%u", Ui("resolution"), v->width, v->height));
        // A zero denominator has no ratio to show.
        if (v->darNum && v->darDen) {
            const double dar = static_cast<double>(v->darNum) / v->darDen;
            Add(stream, Print("%s: %u:%u (%.2f:1)", Ui("aspect_ratio"), v->darNum, v->darDen, dar));
            // The pixel shape follows from the picture's shape and its size in pixels.
            if (v->width && v->height)
                Add(stream, Print("%s: %.2f", Ui("PAR"), dar * v->height / v->width));
        } else if (v->pixelAspect > 0.0) {
            Add(stream, Print("%s: %.2f", Ui("PAR"), v->pixelAspect));
        }
        if (v->fpsNum && v->fpsDen) {
            const char* kind = (v->flags & 1) ? " (Variable)" : (v->flags & 2) ? " (Doubling)" : "";
            Add(stream, Print("%s: %.2f %s%s", Ui("framerate"), static_cast<double>(v->fpsNum) / v->fpsDen, Ui("fps"), kind));
        }
        if (const char* scan = ScanText(v->scanMode)) Add(stream, Label("scan", scan));
    }

    void AddAudioTrack(HTREEITEM source, const AudioStreamInfo* a) {
        HTREEITEM track = Add(source, Print("%s (%u): %s", Ui("audio"), a->id, a->codec ? a->codec : ""));
        if (a->bitrate) {
            const char* mode = a->bitrateMode == 1 ? " (CBR)" : a->bitrateMode == 2 ? " (VBR)" : "";
            Add(track, Print("%s: %.1f Kbps%s", Ui("bitrate"), a->bitrate / 1000.0, mode));
        }
        if (a->samplerate) Add(track, Print("%s: %u Hz", Ui("srate"), a->samplerate));
        if (a->samplebits) Add(track, Print("%s: %u Bits", Ui("bit_depth"), a->samplebits));
        if (a->channels) Add(track, Print("%s: %u%s", Ui("channel"), a->channels, ChannelLayoutText(a->channels)));
        Add(track, Print("%s: %d ms", Ui("delay"), static_cast<int32_t>(a->delay)));
        // The analysed loudness, once an analysis has run; the second channel's beside it when
        // the channels were balanced.
        if (a->gain[0] != 0.0f || a->gain[1] != 0.0f) {
            std::string text = Print("%s: %.2f dB", Ui("volume"), static_cast<double>(a->gain[0]));
            if (a->gain[1] != 0.0f) text += Print("/%.2f dB", static_cast<double>(a->gain[1]));
            Add(track, text);
        }
        if (a->file && *a->file) Add(track, Print("(%s)", a->file));
    }

    void AddTarget(HTREEITEM target, QueueItem* item) {
        Add(target, Label("container", EnumValue("overall.container.format")));
        Add(target, Label("muxer", EnumValue("overall.container.muxer")));
        // Kbit/s of the output's streams; negative once one of them cannot be told.
        long long kbps = 0;
        if (GetPrefInt("overall.video.enabled")) {
            HTREEITEM video = Add(target, Ui("video"));
            if (GetPrefInt("overall.video.copy")) {
                Add(video, Ui("stream_copy"));
                const VideoStreamInfo* v = item ? item->video : nullptr;
                kbps = v && v->bitrate ? kbps + v->bitrate / 1000 : -1;
            } else {
                kbps = AddVideoTarget(video);
            }
        }
        if (GetPrefInt("overall.audio.enabled")) {
            HTREEITEM audio = Add(target, Ui("audio"));
            long long audioKbps = -1;
            if (GetPrefInt("overall.audio.copy")) {
                Add(audio, Ui("stream_copy"));
                const AudioStreamInfo* a = item ? item->audio : nullptr;
                if (a && a->bitrate) audioKbps = a->bitrate / 1000;
            } else {
                audioKbps = AddAudioTarget(audio, item);
            }
            kbps = kbps < 0 || audioKbps < 0 ? -1 : kbps + audioKbps;
        }
        Add(target, EstimatedSize(item, kbps));
        const int start = GetPrefInt("overall.decoding.startTime");
        const int length = GetPrefInt("overall.decoding.duration");
        HTREEITEM position = Add(target, Ui("positioning"));
        Add(position, Print("%s: %d %s", Ui("startoffset"), start / 1000, Ui("secs")));
        Add(position, Print("%s: %d %s", Ui("length"), length / 1000, Ui("secs")));
    }

    // The video settings; the bit rate they aim at, or -1 when they aim at a quality.
    long long AddVideoTarget(HTREEITEM video) {
        Add(video, EnumValue("overall.video.format"));
        Add(video, Label("encoder", EnumValue("overall.video.encoder")));
        const int mode = GetPrefInt("overall.video.mode");
        static const char* const kModes[] = {"ABR", "VBR", "CBR", "CQP", "twopass", "threepass"};
        const char* modeText = mode >= 0 && mode < 6 ? (mode >= 4 ? Ui(kModes[mode]) : kModes[mode]) : "";
        Add(video, Label("mode", modeText));
        long long kbps = -1;
        if (VideoBitrateMode(mode)) {
            kbps = GetPrefInt("overall.video.bitrate");
            Add(video, Print("%s: %lld Kbps", Ui("bitrate"), kbps));
        } else if (mode == 1) {
            Add(video, Print("%s: %d", Ui("quality"), GetPrefInt("overall.video.quality")));
        } else if (mode == 3) {
            Add(video, Print("%s: %d", Ui("video_quant"), GetPrefInt("overall.video.quant")));
        }
        if (GetPrefInt("videofilter.scale.enabled"))
            Add(video, Print("%s: %dx%d", Ui("resolution"), GetPrefInt("videofilter.scale.width"),
                             GetPrefInt("videofilter.scale.height")));
        const int fps = GetPrefInt("videofilter.frame.fps");
        const int scale = GetPrefInt("videofilter.frame.fpsScale");
        if (GetPrefInt("videofilter.frame.enabled") && fps > 0 && scale > 0)
            Add(video, Print("%s: %.2f %s", Ui("framerate"), static_cast<double>(fps) / scale, Ui("fps")));
        else
            Add(video, Label("framerate", Ui("original")));
        Add(video, Label("deint", EnumValue("videofilter.deint.mode")));
        return kbps;
    }

    // The audio settings; the bit rate the encoder is expected to give, or -1.
    long long AddAudioTarget(HTREEITEM audio, QueueItem* item) {
        Add(audio, EnumValue("overall.audio.format"));
        const bool chooses = GetPrefInt("overall.audio.autoEncoder") != 0;
        Add(audio, Label("encoder", chooses ? GetEncoderName(0, 0, -1, item) : EnumValue("overall.audio.encoder")));
        const int kbps = GetEstimatedBitrate(0);
        if (kbps > 0) Add(audio, Print("%s: %d Kbps", Ui("bitrate"), kbps));
        const int rate = GetPrefInt("audiofilter.resample.samplerate");
        Add(audio, rate ? Print("%s: %d Hz", Ui("srate"), rate) : Label("srate", Ui("original")));
        return kbps > 0 ? kbps : -1;
    }

    // The output's size from its bit rate and the part of the item that is transcoded: the start
    // offset skipped, at most the length asked for.
    static std::string EstimatedSize(const QueueItem* item, long long kbps) {
        long long to = item ? item->duration : 0;
        if (item && item->end > item->begin && (to <= 0 || item->end < to)) to = item->end;
        long long ms = to - (item ? item->begin : 0) - GetPrefInt("overall.decoding.startTime");
        const int length = GetPrefInt("overall.decoding.duration");
        if (length > 0 && ms > length) ms = length;
        if (kbps <= 0 || ms <= 0) return Print("%s: N/A", Ui("estsize"));
        const long long kb = kbps * ms / 8 / 1024;  // kbit/s x ms = bits
        if (kb >= 1024) return Print("%s: %lld MB", Ui("estsize"), kb / 1024);
        return Print("%s: %lld KB", Ui("estsize"), kb);
    }

    HWND tree_ = nullptr;
};

}  // namespace

COptionPage* CreateSummaryPage() { return new CDlgSummary(); }

}  // namespace ui

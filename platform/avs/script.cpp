// The scripts of the "media" back-end: a statement per line, each a function call whose result
// becomes the current clip ("last") or is kept under a name ("audio = NicAudio(...)"). The source
// functions open a media file; the filters cut, delay, resample, amplify and convert the audio, or
// convert the video. Plug-in loads are accepted and do nothing. Subtitle statements are accepted for
// the audio's sake, but the video of such a clip cannot be read: burning subtitles in is not done.
#include "platform/avs/clip.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>

namespace avs {
namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// A value of the script: a clip, a text or a number (or nothing, after a plug-in load).
struct Value {
    enum class Kind { None, Clip, Text, Number } kind = Kind::None;
    std::shared_ptr<Clip> clip;
    std::string text;
    double number = 0.0;
};

struct Arg {
    std::string name;  // empty for a positional argument
    Value value;
};

// ---------------------------------------------------------------------------------------------
// Audio filters
// ---------------------------------------------------------------------------------------------

int BlockOf(const AVS_VideoInfo& vi) { return avs_bytes_per_channel_sample(vi) * vi.nchannels; }

// Writes count samples of silence of the clip's type at buf.
void Silence(const AVS_VideoInfo& vi, uint8_t* buf, int64_t count) {
    std::memset(buf, vi.sample_type == AVS_SAMPLE_INT8 ? 0x80 : 0, static_cast<size_t>(count) * BlockOf(vi));
}

// A clip over another with the same frames; audio filters replace GetAudio.
class PassClip : public Clip {
public:
    explicit PassClip(std::shared_ptr<Clip> src) : src_(std::move(src)) {
        vi_ = src_->info();
        failTake = src_->failTake;
        failInfo = src_->failInfo;
    }
    std::unique_ptr<AVS_VideoFrame> GetFrame(int n, std::string& error) override { return src_->GetFrame(n, error); }
    bool GetAudio(void* buf, int64_t start, int64_t count) override { return src_->GetAudio(buf, start, count); }

protected:
    // Reads the source from a position that may lie before its start; that part is silence.
    bool SourceAudio(uint8_t* buf, int64_t start, int64_t count) {
        if (start < 0) {
            int64_t quiet = std::min(count, -start);
            Silence(src_->info(), buf, quiet);
            buf += quiet * BlockOf(src_->info());
            count -= quiet;
            start = 0;
        }
        return count <= 0 || src_->GetAudio(buf, start, count);
    }

    std::shared_ptr<Clip> src_;
};

// Frames first..last (last 0: to the end) with the audio that goes with them.
class TrimClip : public PassClip {
public:
    TrimClip(std::shared_ptr<Clip> src, int first, int last) : PassClip(std::move(src)) {
        const AVS_VideoInfo& s = src_->info();
        first_ = first;
        const int end = last <= 0 ? s.num_frames - 1 : std::min(last, s.num_frames - 1);
        vi_.num_frames = std::max(0, end - first + 1);
        if (avs_has_audio(s)) {
            auto samplesAt = [&](int64_t frame) {
                return frame * s.audio_samples_per_second * s.fps_denominator / s.fps_numerator;
            };
            audioStart_ = std::min(samplesAt(first), s.num_audio_samples);
            int64_t audioEnd = last <= 0 ? s.num_audio_samples : std::min(samplesAt(int64_t{end} + 1), s.num_audio_samples);
            vi_.num_audio_samples = std::max<int64_t>(0, audioEnd - audioStart_);
        }
    }
    std::unique_ptr<AVS_VideoFrame> GetFrame(int n, std::string& error) override {
        return src_->GetFrame(n + first_, error);
    }
    bool GetAudio(void* buf, int64_t start, int64_t count) override {
        // Nothing of the source past the cut's end is handed out.
        int64_t inside = std::clamp<int64_t>(vi_.num_audio_samples - start, 0, count);
        if (inside > 0 && !src_->GetAudio(buf, audioStart_ + start, inside)) return false;
        Silence(vi_, static_cast<uint8_t*>(buf) + inside * BlockOf(vi_), count - inside);
        return true;
    }

private:
    int first_ = 0;
    int64_t audioStart_ = 0;
};

// The audio moved later by a number of samples (earlier when negative).
class DelayClip : public PassClip {
public:
    DelayClip(std::shared_ptr<Clip> src, int64_t delay) : PassClip(std::move(src)), delay_(delay) {
        vi_.num_audio_samples = std::max<int64_t>(0, vi_.num_audio_samples + delay);
    }
    bool GetAudio(void* buf, int64_t start, int64_t count) override {
        return SourceAudio(static_cast<uint8_t*>(buf), start - delay_, count);
    }

private:
    int64_t delay_;
};

// Integer samples widened to a common scale and back, so that the filters below work on any type.
double SampleAt(const uint8_t* p, int type) {
    switch (type) {
        case AVS_SAMPLE_INT8: return (static_cast<int>(*p) - 128) * 256.0;
        case AVS_SAMPLE_INT16: { int16_t v; std::memcpy(&v, p, 2); return v; }
        case AVS_SAMPLE_INT24: {
            int32_t v = (p[0] << 8 | p[1] << 16 | p[2] << 24) >> 8;
            return v / 256.0;
        }
        case AVS_SAMPLE_INT32: { int32_t v; std::memcpy(&v, p, 4); return v / 65536.0; }
        default: { float v; std::memcpy(&v, p, 4); return v * 32768.0; }
    }
}

void StoreSample(uint8_t* p, int type, double v) {
    switch (type) {
        case AVS_SAMPLE_INT8: *p = static_cast<uint8_t>(std::clamp(std::lrint(v / 256.0), -128L, 127L) + 128); break;
        case AVS_SAMPLE_INT16: {
            auto s = static_cast<int16_t>(std::clamp(std::lrint(v), -32768L, 32767L));
            std::memcpy(p, &s, 2);
            break;
        }
        case AVS_SAMPLE_INT24: {
            long s = std::clamp(std::lrint(v * 256.0), -8388608L, 8388607L);
            p[0] = static_cast<uint8_t>(s), p[1] = static_cast<uint8_t>(s >> 8), p[2] = static_cast<uint8_t>(s >> 16);
            break;
        }
        case AVS_SAMPLE_INT32: {
            auto s = static_cast<int32_t>(std::clamp<double>(std::nearbyint(v * 65536.0), INT32_MIN, INT32_MAX));
            std::memcpy(p, &s, 4);
            break;
        }
        default: {
            float f = static_cast<float>(v / 32768.0);
            std::memcpy(p, &f, 4);
        }
    }
}

// Every sample times a factor; integer samples are rounded and held at their type's limits.
class AmplifyClip : public PassClip {
public:
    AmplifyClip(std::shared_ptr<Clip> src, double factor) : PassClip(std::move(src)), factor_(factor) {}
    bool GetAudio(void* buf, int64_t start, int64_t count) override {
        if (!src_->GetAudio(buf, start, count)) return false;
        const int size = avs_bytes_per_channel_sample(vi_);
        auto* p = static_cast<uint8_t*>(buf);
        for (int64_t i = 0, n = count * vi_.nchannels; i < n; ++i, p += size)
            StoreSample(p, vi_.sample_type, SampleAt(p, vi_.sample_type) * factor_);
        return true;
    }

private:
    double factor_;
};

// The samples as 16-bit integers.
class To16BitClip : public PassClip {
public:
    explicit To16BitClip(std::shared_ptr<Clip> src) : PassClip(std::move(src)) { vi_.sample_type = AVS_SAMPLE_INT16; }
    bool GetAudio(void* buf, int64_t start, int64_t count) override {
        const AVS_VideoInfo& s = src_->info();
        const int size = avs_bytes_per_channel_sample(s);
        tmp_.resize(static_cast<size_t>(count) * BlockOf(s));
        if (!src_->GetAudio(tmp_.data(), start, count)) return false;
        auto* out = static_cast<uint8_t*>(buf);
        const uint8_t* in = tmp_.data();
        for (int64_t i = 0, n = count * s.nchannels; i < n; ++i, in += size, out += 2) {
            double v = SampleAt(in, s.sample_type);
            // Wider integers drop their low bits as the decoders' own conversion does.
            if (s.sample_type == AVS_SAMPLE_INT24 || s.sample_type == AVS_SAMPLE_INT32) v = std::floor(v);
            StoreSample(out, AVS_SAMPLE_INT16, v);
        }
        return true;
    }

private:
    std::vector<uint8_t> tmp_;
};

// The audio at another sample rate, through libswresample. Reads go forward; a read before what was
// already made starts the conversion again from the beginning.
class ResampleClip : public PassClip {
public:
    ResampleClip(std::shared_ptr<Clip> src, int rate) : PassClip(std::move(src)) {
        const AVS_VideoInfo& s = src_->info();
        vi_.audio_samples_per_second = rate;
        vi_.num_audio_samples = av_rescale_rnd(s.num_audio_samples, rate, s.audio_samples_per_second, AV_ROUND_DOWN);
    }
    ~ResampleClip() override { swr_free(&swr_); }

    std::string Init() {
        switch (vi_.sample_type) {
            case AVS_SAMPLE_INT8: format_ = AV_SAMPLE_FMT_U8; break;
            case AVS_SAMPLE_INT16: format_ = AV_SAMPLE_FMT_S16; break;
            case AVS_SAMPLE_INT32: format_ = AV_SAMPLE_FMT_S32; break;
            case AVS_SAMPLE_FLOAT: format_ = AV_SAMPLE_FMT_FLT; break;
            default: return "the sample type cannot be resampled";
        }
        return Restart() ? "" : "the resampler cannot be set up";
    }

    bool GetAudio(void* buf, int64_t start, int64_t count) override {
        const int block = BlockOf(vi_);
        if (start < outStart_ && !Restart()) return false;
        auto have = [&] { return static_cast<int64_t>(out_.size() / block); };
        while (outStart_ + have() < start + count && !flushed_) {
            if (!Step()) return false;
            // Keep nothing of what lies before the request.
            int64_t drop = std::clamp<int64_t>(start - outStart_, 0, have());
            out_.erase(out_.begin(), out_.begin() + drop * block);
            outStart_ += drop;
        }
        int64_t drop = std::clamp<int64_t>(start - outStart_, 0, have());
        out_.erase(out_.begin(), out_.begin() + drop * block);
        outStart_ += drop;
        int64_t ready = outStart_ == start ? std::clamp<int64_t>(vi_.num_audio_samples - start, 0, std::min(count, have())) : 0;
        std::memcpy(buf, out_.data(), static_cast<size_t>(ready) * block);
        Silence(vi_, static_cast<uint8_t*>(buf) + ready * block, count - ready);
        return true;
    }

private:
    static constexpr int64_t kChunk = 4096;

    bool Restart() {
        swr_free(&swr_);
        const AVS_VideoInfo& s = src_->info();
        AVChannelLayout layout;
        av_channel_layout_default(&layout, s.nchannels);
        int r = swr_alloc_set_opts2(&swr_, &layout, format_, vi_.audio_samples_per_second, &layout, format_,
                                    s.audio_samples_per_second, 0, nullptr);
        av_channel_layout_uninit(&layout);
        if (r < 0 || swr_init(swr_) < 0) return false;
        srcPos_ = outStart_ = 0;
        out_.clear();
        flushed_ = false;
        return true;
    }

    // Converts the next piece of the source (or, past its end, what the resampler still holds).
    bool Step() {
        const AVS_VideoInfo& s = src_->info();
        const int block = BlockOf(vi_);
        int64_t take = std::min(kChunk, s.num_audio_samples - srcPos_);
        std::vector<uint8_t> in;
        if (take > 0) {
            in.resize(static_cast<size_t>(take) * block);
            if (!src_->GetAudio(in.data(), srcPos_, take)) return false;
            srcPos_ += take;
        }
        int room = swr_get_out_samples(swr_, take > 0 ? static_cast<int>(take) : 0);
        if (room < 0) return false;
        size_t old = out_.size();
        out_.resize(old + static_cast<size_t>(room) * block);
        uint8_t* outPtr = out_.data() + old;
        const uint8_t* inPtr = in.data();
        int got = swr_convert(swr_, &outPtr, room, take > 0 ? &inPtr : nullptr, static_cast<int>(std::max<int64_t>(take, 0)));
        if (got < 0) return false;
        out_.resize(old + static_cast<size_t>(got) * block);
        if (take <= 0) flushed_ = true;
        return true;
    }

    SwrContext* swr_ = nullptr;
    AVSampleFormat format_ = AV_SAMPLE_FMT_S16;
    int64_t srcPos_ = 0;
    int64_t outStart_ = 0;  // the output sample out_ begins with
    std::vector<uint8_t> out_;
    bool flushed_ = false;
};

// The frames and properties of one clip with the audio of another.
class DubClip : public PassClip {
public:
    DubClip(std::shared_ptr<Clip> video, std::shared_ptr<Clip> audio) : PassClip(std::move(video)), audio_(std::move(audio)) {
        const AVS_VideoInfo& a = audio_->info();
        vi_.audio_samples_per_second = a.audio_samples_per_second;
        vi_.sample_type = a.sample_type;
        vi_.nchannels = a.nchannels;
        vi_.num_audio_samples = a.num_audio_samples;
    }
    bool GetAudio(void* buf, int64_t start, int64_t count) override { return audio_->GetAudio(buf, start, count); }

private:
    std::shared_ptr<Clip> audio_;
};

// A clip whose audio reads on but whose frames cannot be made: the script asks for subtitles to be
// burnt in, which this back-end does not do.
class NoBurnInClip : public PassClip {
public:
    NoBurnInClip(std::shared_ptr<Clip> src, std::string what) : PassClip(std::move(src)), what_(std::move(what)) {}
    std::unique_ptr<AVS_VideoFrame> GetFrame(int, std::string& error) override {
        error = what_ + ": subtitles cannot be drawn into the picture here";
        return nullptr;
    }

private:
    std::string what_;
};

// ---------------------------------------------------------------------------------------------
// Statements
// ---------------------------------------------------------------------------------------------

class Lexer {
public:
    explicit Lexer(const std::string& s) : s_(s) {}

    void SkipBlanks() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r')) ++pos_;
    }
    bool AtEnd() {
        SkipBlanks();
        return pos_ >= s_.size() || s_[pos_] == '#';
    }
    bool Take(char c) {
        SkipBlanks();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    std::optional<std::string> Name() {
        SkipBlanks();
        size_t b = pos_;
        while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) ++pos_;
        if (b == pos_ || std::isdigit(static_cast<unsigned char>(s_[b]))) {
            pos_ = b;
            return std::nullopt;
        }
        return s_.substr(b, pos_ - b);
    }
    // A text in "..." or """...""" (which may hold quote characters).
    std::optional<std::string> Text() {
        SkipBlanks();
        if (s_.compare(pos_, 3, "\"\"\"") == 0) {
            size_t end = s_.find("\"\"\"", pos_ + 3);
            if (end == std::string::npos) return std::nullopt;
            std::string t = s_.substr(pos_ + 3, end - pos_ - 3);
            pos_ = end + 3;
            return t;
        }
        if (pos_ >= s_.size() || s_[pos_] != '"') return std::nullopt;
        size_t end = s_.find('"', pos_ + 1);
        if (end == std::string::npos) return std::nullopt;
        std::string t = s_.substr(pos_ + 1, end - pos_ - 1);
        pos_ = end + 1;
        return t;
    }
    std::optional<double> Number() {
        SkipBlanks();
        const char* b = s_.c_str() + pos_;
        const char* e = s_.c_str() + s_.size();
        if (b < e && *b == '+') ++b;
        double v = 0;
        auto r = std::from_chars(b, e, v);
        if (r.ec != std::errc()) return std::nullopt;
        pos_ = static_cast<size_t>(r.ptr - s_.c_str());
        return v;
    }

private:
    const std::string& s_;
    size_t pos_ = 0;
};

class Script {
public:
    // Runs one statement; false with error_ set when it cannot be run.
    bool Run(const std::string& line) {
        Lexer lx(line);
        if (lx.AtEnd()) return true;
        std::optional<std::string> name = lx.Name();
        if (!name) return Fail("a statement must begin with a name");
        std::string target;
        if (lx.Take('=')) {
            target = Lower(*name);
            name = lx.Name();
            if (!name) return Fail("a function name must follow \"=\"");
        }
        std::vector<Arg> args;
        if (lx.Take('(') && !lx.Take(')')) {
            do {
                Arg a;
                if (!ReadArg(lx, a)) return false;
                args.push_back(std::move(a));
            } while (lx.Take(','));
            if (!lx.Take(')')) return Fail("\")\" expected");
        }
        if (!lx.AtEnd()) return Fail("unexpected text after the statement");
        Value v;
        if (!Call(Lower(*name), *name, args, v)) return false;
        if (v.kind == Value::Kind::None) return true;
        if (v.kind != Value::Kind::Clip) return Fail("the statement gives no clip");
        (target.empty() ? last_ : vars_[target]) = v.clip;
        return true;
    }

    std::shared_ptr<Clip> last() const { return last_; }
    const std::string& error() const { return error_; }

private:
    bool Fail(const std::string& text) {
        error_ = text;
        return false;
    }

    bool ReadArg(Lexer& lx, Arg& a) {
        if (auto t = lx.Text()) {
            a.value.kind = Value::Kind::Text;
            a.value.text = *t;
            return true;
        }
        if (auto n = lx.Number()) {
            a.value.kind = Value::Kind::Number;
            a.value.number = *n;
            return true;
        }
        auto id = lx.Name();
        if (!id) return Fail("an argument cannot be read");
        if (lx.Take('=')) {
            a.name = Lower(*id);
            Arg inner;
            if (!ReadArg(lx, inner)) return false;
            a.value = inner.value;
            return true;
        }
        std::string key = Lower(*id);
        std::shared_ptr<Clip> c = key == "last" ? last_ : vars_.count(key) ? vars_[key] : nullptr;
        if (!c) return Fail("\"" + *id + "\" is not known");
        a.value.kind = Value::Kind::Clip;
        a.value.clip = c;
        return true;
    }

    // The clip a filter works on: its first argument when that is a clip, else the current one.
    std::shared_ptr<Clip> Subject(std::vector<Arg>& args) {
        if (!args.empty() && args[0].name.empty() && args[0].value.kind == Value::Kind::Clip) {
            auto c = args[0].value.clip;
            args.erase(args.begin());
            return c;
        }
        return last_;
    }

    static std::optional<double> NumberArg(const std::vector<Arg>& args, size_t i) {
        if (i >= args.size() || args[i].value.kind != Value::Kind::Number) return std::nullopt;
        return args[i].value.number;
    }

    bool Call(const std::string& fn, const std::string& spelled, std::vector<Arg>& args, Value& out) {
        static const char* const kSources[] = {"directshowsource", "ffmpegsource2", "ffvideosource", "avisource",
                                               "avifilesource", "opendmlsource"};
        static const char* const kAudioSources[] = {"nicac3source", "nicdtssource", "nicmpg123source", "rawavsource",
                                                    "nicaudio"};
        if (fn == "loadplugin") return true;
        const bool source = std::find(std::begin(kSources), std::end(kSources), fn) != std::end(kSources);
        const bool audioSource = std::find(std::begin(kAudioSources), std::end(kAudioSources), fn) != std::end(kAudioSources);
        if (source || audioSource) {
            if (args.empty() || args[0].value.kind != Value::Kind::Text) return Fail(fn + ": a file name is needed");
            std::string error;
            auto clip = OpenMedia(args[0].value.text, source, error);
            if (!clip) return Fail(error);
            if (audioSource && !avs_has_audio(clip->info())) return Fail(fn + ": \"" + args[0].value.text + "\" has no audio");
            out.kind = Value::Kind::Clip;
            out.clip = std::move(clip);
            return true;
        }

        static const char* const kFilters[] = {"audiodub", "trim", "delayaudio", "amplifydb", "resampleaudio", "ssrc",
                                               "convertaudioto16bit", "textsub", "vobsub", "swapuv", "converttoyv12",
                                               "converttoyv16", "converttoyv24", "converttoyuy2", "converttorgb24",
                                               "converttorgb32"};
        if (std::find(std::begin(kFilters), std::end(kFilters), fn) == std::end(kFilters))
            return Fail("there is no function named \"" + spelled + "\"");
        // AudioDub(audio) dubs the current clip.
        if (fn == "audiodub" && args.size() == 1 && args[0].value.kind == Value::Kind::Clip)
            args.insert(args.begin(), Arg{"", Value{Value::Kind::Clip, last_, "", 0.0}});
        std::shared_ptr<Clip> c = Subject(args);
        if (!c) return Fail(fn + ": there is no clip to work on");
        const AVS_VideoInfo& vi = c->info();
        std::shared_ptr<Clip> result;
        if (fn == "audiodub") {
            if (args.empty() || args[0].value.kind != Value::Kind::Clip) return Fail("AudioDub: an audio clip is needed");
            if (!avs_has_audio(args[0].value.clip->info())) return Fail("AudioDub: the second clip has no audio");
            result = std::make_shared<DubClip>(c, args[0].value.clip);
        } else if (fn == "trim") {
            auto first = NumberArg(args, 0), last = NumberArg(args, 1);
            if (!first || !last || *first < 0) return Fail("Trim: two frame numbers are needed");
            if (vi.fps_numerator == 0 || vi.fps_denominator == 0 || vi.num_frames <= 0)
                return Fail("Trim: the clip has no frames to count");
            // A negative end counts frames from the first.
            int end = *last < 0 ? static_cast<int>(*first - *last - 1) : static_cast<int>(*last);
            result = std::make_shared<TrimClip>(c, static_cast<int>(*first), end);
        } else if (fn == "delayaudio" || fn == "amplifydb" || fn == "resampleaudio" || fn == "ssrc" ||
                   fn == "convertaudioto16bit") {
            if (!avs_has_audio(vi)) return Fail(fn + ": the clip has no audio");
            auto n = NumberArg(args, 0);
            if (fn == "convertaudioto16bit") {
                result = vi.sample_type == AVS_SAMPLE_INT16 ? c : std::make_shared<To16BitClip>(c);
            } else if (!n) {
                return Fail(fn + ": a number is needed");
            } else if (fn == "delayaudio") {
                result = std::make_shared<DelayClip>(c, std::llround(*n * vi.audio_samples_per_second));
            } else if (fn == "amplifydb") {
                result = std::make_shared<AmplifyClip>(c, std::pow(10.0, *n / 20.0));
            } else {
                if (*n < 1 || *n > 1e6) return Fail(fn + ": the sample rate is out of range");
                if (static_cast<int>(*n) == vi.audio_samples_per_second) {
                    result = c;
                } else {
                    auto r = std::make_shared<ResampleClip>(c, static_cast<int>(*n));
                    std::string error = r->Init();
                    if (!error.empty()) return Fail(fn + ": " + error);
                    result = r;
                }
            }
        } else if (fn == "textsub" || fn == "vobsub") {
            result = std::make_shared<NoBurnInClip>(c, fn == "textsub" ? "TextSub" : "VobSub");
        } else {
            AVS_Value v = ApplyFilter(fn, c);
            if (avs_is_error(v)) return Fail(v.text);
            result = v.clip;
        }
        out.kind = Value::Kind::Clip;
        out.clip = std::move(result);
        return true;
    }

    std::shared_ptr<Clip> last_;
    std::map<std::string, std::shared_ptr<Clip>> vars_;
    std::string error_;
};

}  // namespace

AVS_Value RunScript(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return ErrorValue("Import: couldn't open \"" + path + "\"");
    Script script;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!script.Run(line))
            return ErrorValue("Script error: " + script.error() + " (line " + std::to_string(number) + ")");
    }
    if (!script.last()) return ErrorValue("Script error: no source statement in \"" + path + "\"");
    return ClipValue(script.last());
}

}  // namespace avs

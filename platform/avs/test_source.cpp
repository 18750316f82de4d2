#include "platform/avs/test_source.h"

#include "platform/avs/clip.h"

#include <cstring>
#include <fstream>
#include <sstream>

namespace avs {
namespace {

class TestClip : public Clip {
public:
    int pitch = 0;
    int failFrame = -1;
    int64_t failAudioAt = -1;
    AVS_VideoInfo& vi() { return vi_; }

    std::unique_ptr<AVS_VideoFrame> GetFrame(int n, std::string& error) override {
        if (n == failFrame) {
            error = "frame " + std::to_string(n) + " cannot be made";
            return nullptr;
        }
        const int type = vi_.pixel_type;
        auto f = NewFrame(type, vi_.width, vi_.height, pitch);
        std::memset(f->data.data(), kTestPadding, f->data.size());
        const bool bottomUp = type == AVS_CS_RGB24 || type == AVS_CS_RGB32;
        auto fill = [&](int p, int offset, int pitch, int rowSize, int rows) {
            for (int y = 0; y < rows; ++y) {
                int memRow = bottomUp ? rows - 1 - y : y;
                uint8_t* row = f->data.data() + offset + static_cast<ptrdiff_t>(memRow) * pitch;
                for (int x = 0; x < rowSize; ++x) row[x] = TestPixel(p, x, y, n);
            }
        };
        fill(0, f->offset, f->pitch, f->row_size, f->height);
        if (f->row_sizeUV > 0) {
            fill(1, f->offsetU, f->pitchUV, f->row_sizeUV, f->heightUV);
            fill(2, f->offsetV, f->pitchUV, f->row_sizeUV, f->heightUV);
        }
        return f;
    }

    bool GetAudio(void* buf, int64_t start, int64_t count) override {
        if (failAudioAt >= 0 && start + count > failAudioAt) return false;
        const int bps = avs_bytes_per_channel_sample(vi_);
        auto* out = static_cast<uint8_t*>(buf);
        for (int64_t i = start; i < start + count; ++i) {
            for (int c = 0; c < vi_.nchannels; ++c, out += bps) {
                if (i >= vi_.num_audio_samples) {
                    std::memset(out, vi_.sample_type == AVS_SAMPLE_INT8 ? 0x80 : 0, bps);
                    continue;
                }
                int64_t v = TestSampleValue(i, c);
                if (vi_.sample_type == AVS_SAMPLE_FLOAT) {
                    float s = static_cast<float>(v % 2000 - 1000) / 1000.0f;
                    std::memcpy(out, &s, 4);
                } else {
                    for (int b = 0; b < bps; ++b) out[b] = static_cast<uint8_t>(v >> (8 * b));
                }
            }
        }
        return true;
    }
};

int VideoType(const std::string& w) {
    static const struct {
        const char* word;
        int type;
    } kTypes[] = {{"yv12", AVS_CS_YV12}, {"i420", AVS_CS_I420}, {"yv16", AVS_CS_YV16},
                  {"yv24", AVS_CS_YV24}, {"yuy2", AVS_CS_YUY2}, {"rgb24", AVS_CS_RGB24},
                  {"rgb32", AVS_CS_RGB32}};
    for (const auto& t : kTypes)
        if (w == t.word) return t.type;
    return 0;
}

int SampleType(const std::string& w) {
    if (w == "u8") return AVS_SAMPLE_INT8;
    if (w == "s16") return AVS_SAMPLE_INT16;
    if (w == "s24") return AVS_SAMPLE_INT24;
    if (w == "s32") return AVS_SAMPLE_INT32;
    if (w == "float") return AVS_SAMPLE_FLOAT;
    return 0x100;  // a type no reader knows
}

}  // namespace

AVS_Value ImportTestScript(const std::string& path) {
    std::ifstream in(path);
    if (!in) return ErrorValue("Import: couldn't open \"" + path + "\"");
    auto clip = std::make_shared<TestClip>();
    AVS_VideoInfo& vi = clip->vi();
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        std::istringstream words(line);
        std::string key, a, b;
        if (!(words >> key) || key[0] == '#') continue;
        auto bad = [&] { return ErrorValue("Script error: line " + std::to_string(lineNo) + ": " + line); };
        if (key == "video") {
            char x = 0, slash = 0;
            std::string fps, frames;
            if (!(words >> a) || !(words >> vi.width >> x >> vi.height) || x != 'x' ||
                !(words >> fps >> vi.fps_numerator >> slash >> vi.fps_denominator) || fps != "fps" ||
                slash != '/' || !(words >> frames >> vi.num_frames) || frames != "frames")
                return bad();
            vi.pixel_type = VideoType(a);
            if (vi.pixel_type == 0 || vi.width <= 0 || vi.height <= 0) return bad();
            if (words >> b) {
                if (b != "pitch" || !(words >> clip->pitch)) return bad();
            }
        } else if (key == "audio") {
            std::string samples;
            if (!(words >> a >> vi.audio_samples_per_second >> vi.nchannels >> samples >>
                  vi.num_audio_samples) || samples != "samples")
                return bad();
            vi.sample_type = SampleType(a);
        } else if (key == "fail") {
            if (!(words >> a)) return bad();
            if (a == "import") {
                std::string text;
                std::getline(words >> std::ws, text);
                return ErrorValue(text);
            }
            if (a == "noclip") return AVS_Value{};
            if (a == "take_clip") clip->failTake = true;
            else if (a == "video_info") clip->failInfo = true;
            else if (a == "get_frame" && (words >> clip->failFrame)) {
            } else if (a == "get_audio" && (words >> clip->failAudioAt)) {
            } else {
                return bad();
            }
        } else {
            return bad();
        }
    }
    return ClipValue(std::move(clip));
}

}  // namespace avs

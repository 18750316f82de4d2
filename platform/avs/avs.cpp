#include "platform/avs/avs.h"

#include "platform/avs/clip.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>

struct AVS_ScriptEnvironment {
    bool testBackend = false;
};

namespace avs {
namespace {

int Align32(int n) { return (n + 31) & ~31; }

bool IsPlanar(int t) { return t == AVS_CS_YV12 || t == AVS_CS_I420 || t == AVS_CS_YV16 || t == AVS_CS_YV24; }

// Top-down plane pointers of a frame, as the scaler takes them (bottom-up RGB gets a negative stride).
void FramePlanes(AVS_VideoFrame& f, int type, uint8_t* data[4], int stride[4]) {
    uint8_t* base = f.data.data();
    data[0] = base + f.offset;
    stride[0] = f.pitch;
    data[1] = data[2] = data[3] = nullptr;
    stride[1] = stride[2] = stride[3] = 0;
    if (IsPlanar(type)) {
        data[1] = base + f.offsetU;
        data[2] = base + f.offsetV;
        stride[1] = stride[2] = f.pitchUV;
    } else if (type == AVS_CS_RGB24 || type == AVS_CS_RGB32) {
        data[0] = base + f.offset + static_cast<ptrdiff_t>(f.height - 1) * f.pitch;
        stride[0] = -f.pitch;
    }
}

// A clip made from another: the same properties but the pixel type, the same audio; frames are
// the source's unless a filter changes them.
class FilterClip : public Clip {
public:
    FilterClip(std::shared_ptr<Clip> src, int pixelType) : src_(std::move(src)) {
        vi_ = src_->info();
        vi_.pixel_type = pixelType;
        failTake = src_->failTake;
        failInfo = src_->failInfo;
    }
    std::unique_ptr<AVS_VideoFrame> GetFrame(int n, std::string& error) override {
        return src_->GetFrame(n, error);
    }
    bool GetAudio(void* buf, int64_t start, int64_t count) override {
        return src_->GetAudio(buf, start, count);
    }

protected:
    std::shared_ptr<Clip> src_;
};

// Exchanges the chroma planes (planar) or the chroma bytes (YUY2) of every frame.
class SwapUVClip : public FilterClip {
public:
    explicit SwapUVClip(std::shared_ptr<Clip> src) : FilterClip(src, src->info().pixel_type) {}
    std::unique_ptr<AVS_VideoFrame> GetFrame(int n, std::string& error) override {
        auto f = src_->GetFrame(n, error);
        if (!f) return f;
        if (vi_.pixel_type == AVS_CS_YUY2) {
            for (int y = 0; y < f->height; ++y) {
                uint8_t* row = f->data.data() + f->offset + static_cast<ptrdiff_t>(y) * f->pitch;
                for (int x = 0; x + 3 < f->row_size; x += 4) std::swap(row[x + 1], row[x + 3]);
            }
        } else {
            std::swap(f->offsetU, f->offsetV);
        }
        return f;
    }
};

// Converts every frame to another pixel type.
class ConvertClip : public FilterClip {
public:
    ConvertClip(std::shared_ptr<Clip> src, int dstType) : FilterClip(std::move(src), dstType) {}
    std::unique_ptr<AVS_VideoFrame> GetFrame(int n, std::string& error) override {
        auto f = src_->GetFrame(n, error);
        if (!f) return f;
        const AVS_VideoInfo& s = src_->info();
        return scaler_.Convert(*f, s.pixel_type, s.width, s.height, vi_.pixel_type, error);
    }

private:
    Scaler scaler_;
};

}  // namespace

AVS_Value ErrorValue(const std::string& text) {
    AVS_Value v;
    v.type = AVS_Value::Type::Error;
    v.text = text;
    return v;
}

AVS_Value ClipValue(std::shared_ptr<Clip> clip) {
    AVS_Value v;
    v.type = AVS_Value::Type::Clip;
    v.clip = std::move(clip);
    return v;
}

AVPixelFormat ToAvFormat(int t) {
    switch (t) {
        case AVS_CS_YV12:
        case AVS_CS_I420: return AV_PIX_FMT_YUV420P;
        case AVS_CS_YV16: return AV_PIX_FMT_YUV422P;
        case AVS_CS_YV24: return AV_PIX_FMT_YUV444P;
        case AVS_CS_YUY2: return AV_PIX_FMT_YUYV422;
        case AVS_CS_RGB24: return AV_PIX_FMT_BGR24;
        case AVS_CS_RGB32: return AV_PIX_FMT_BGRA;
        default: return AV_PIX_FMT_NONE;
    }
}

std::unique_ptr<AVS_VideoFrame> NewFrame(int type, int width, int height, int pitch) {
    auto f = std::make_unique<AVS_VideoFrame>();
    f->height = height;
    if (IsPlanar(type)) {
        f->row_size = width;
        int hshift = type == AVS_CS_YV24 ? 0 : 1;
        int vshift = (type == AVS_CS_YV12 || type == AVS_CS_I420) ? 1 : 0;
        f->row_sizeUV = (width + hshift) >> hshift;
        f->heightUV = (height + vshift) >> vshift;
        f->pitch = pitch > 0 ? pitch : Align32(f->row_size);
        f->pitchUV = pitch > 0 ? std::max(pitch >> hshift, f->row_sizeUV) : Align32(f->row_sizeUV);
        size_t ySize = static_cast<size_t>(f->pitch) * height;
        size_t cSize = static_cast<size_t>(f->pitchUV) * f->heightUV;
        // YV12 keeps V before U in memory, the others U before V.
        bool vFirst = type == AVS_CS_YV12;
        f->offset = 0;
        f->offsetU = static_cast<int>(ySize + (vFirst ? cSize : 0));
        f->offsetV = static_cast<int>(ySize + (vFirst ? 0 : cSize));
        f->data.assign(ySize + 2 * cSize, 0);
    } else {
        int bpp = type == AVS_CS_YUY2 ? 2 : type == AVS_CS_RGB24 ? 3 : 4;
        f->row_size = width * bpp;
        f->pitch = pitch > 0 ? std::max(pitch, f->row_size) : Align32(f->row_size);
        f->data.assign(static_cast<size_t>(f->pitch) * height, 0);
    }
    return f;
}

Scaler::~Scaler() { sws_freeContext(ctx_); }

std::unique_ptr<AVS_VideoFrame> Scaler::Convert(AVPixelFormat srcFormat, const uint8_t* const src[4],
                                                const int srcStride[4], int width, int height,
                                                int dstType, std::string& error) {
    AVPixelFormat dstFormat = ToAvFormat(dstType);
    ctx_ = sws_getCachedContext(ctx_, width, height, srcFormat, width, height, dstFormat,
                                SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (!ctx_) {
        error = "the picture cannot be converted to the requested colour space";
        return nullptr;
    }
    auto out = NewFrame(dstType, width, height);
    uint8_t* dst[4];
    int dstStride[4];
    FramePlanes(*out, dstType, dst, dstStride);
    if (sws_scale(ctx_, src, srcStride, 0, height, dst, dstStride) != height) {
        error = "the picture conversion failed";
        return nullptr;
    }
    return out;
}

std::unique_ptr<AVS_VideoFrame> Scaler::Convert(const AVS_VideoFrame& frame, int srcType, int width,
                                                int height, int dstType, std::string& error) {
    uint8_t* src[4];
    int srcStride[4];
    FramePlanes(const_cast<AVS_VideoFrame&>(frame), srcType, src, srcStride);
    return Convert(ToAvFormat(srcType), src, srcStride, width, height, dstType, error);
}

AVS_Value ApplyFilter(const std::string& name, std::shared_ptr<Clip> source) {
    const int from = source->info().pixel_type;
    if (from == 0) return ErrorValue(name + ": the clip has no video");
    if (name == "swapuv") {
        if (!IsPlanar(from) && from != AVS_CS_YUY2) return ErrorValue("SwapUV: the clip is not YUV");
        return ClipValue(std::make_shared<SwapUVClip>(std::move(source)));
    }
    static const struct {
        const char* name;
        int type;
    } kConversions[] = {
        {"converttoyv12", AVS_CS_YV12}, {"converttoyv16", AVS_CS_YV16},
        {"converttoyv24", AVS_CS_YV24}, {"converttoyuy2", AVS_CS_YUY2},
        {"converttorgb24", AVS_CS_RGB24}, {"converttorgb32", AVS_CS_RGB32},
    };
    for (const auto& c : kConversions) {
        if (name != c.name) continue;
        if (from == c.type) return ClipValue(std::move(source));
        // I420 and YV12 differ only in where the planes lie, which the frame says.
        if (from == AVS_CS_I420 && c.type == AVS_CS_YV12)
            return ClipValue(std::make_shared<FilterClip>(std::move(source), AVS_CS_YV12));
        if (ToAvFormat(from) == AV_PIX_FMT_NONE) return ErrorValue(name + ": unsupported source colour space");
        return ClipValue(std::make_shared<ConvertClip>(std::move(source), c.type));
    }
    return ErrorValue("There is no function named \"" + name + "\"");
}

}  // namespace avs

AVS_Value avs_new_value_string(const std::string& text) {
    AVS_Value v;
    v.type = AVS_Value::Type::String;
    v.text = text;
    return v;
}

bool avs_is_clip(const AVS_Value& v) { return v.type == AVS_Value::Type::Clip && v.clip; }
bool avs_is_error(const AVS_Value& v) { return v.type == AVS_Value::Type::Error; }
const char* avs_as_error(const AVS_Value& v) { return avs_is_error(v) ? v.text.c_str() : nullptr; }

AVS_ScriptEnvironment* avs_create_script_environment(int version) {
    if (version < 1 || version > 2) return nullptr;
    const char* backend = std::getenv("SQ_AVS_BACKEND");
    auto* env = new AVS_ScriptEnvironment;
    if (backend && *backend && std::strcmp(backend, "media") != 0) {
        if (std::strcmp(backend, "test") != 0) {
            delete env;
            return nullptr;
        }
        env->testBackend = true;
    }
    return env;
}

void avs_delete_script_environment(AVS_ScriptEnvironment* env) { delete env; }

AVS_Value avs_invoke(AVS_ScriptEnvironment* env, const char* name, const AVS_Value& arg) {
    std::string fn = name ? name : "";
    std::transform(fn.begin(), fn.end(), fn.begin(), [](unsigned char c) { return std::tolower(c); });
    if (!env) return avs::ErrorValue("no script environment");
    if (fn == "import") {
        if (arg.type != AVS_Value::Type::String) return avs::ErrorValue("Import: a script path is needed");
        return env->testBackend ? avs::ImportTestScript(arg.text) : avs::ImportMedia(arg.text);
    }
    if (!avs_is_clip(arg)) return avs::ErrorValue(std::string(name ? name : "") + ": a clip is needed");
    return avs::ApplyFilter(fn, arg.clip);
}

AVS_Clip* avs_take_clip(const AVS_Value& v, AVS_ScriptEnvironment* env) {
    if (!env || !avs_is_clip(v) || v.clip->failTake) return nullptr;
    return new AVS_Clip{v.clip};
}

void avs_release_clip(AVS_Clip* clip) { delete clip; }

const AVS_VideoInfo* avs_get_video_info(AVS_Clip* clip) {
    if (!clip || clip->clip->failInfo) return nullptr;
    return &clip->clip->info();
}

AVS_VideoFrame* avs_get_frame(AVS_Clip* clip, int n) {
    if (!clip) return nullptr;
    const AVS_VideoInfo& vi = clip->clip->info();
    if (vi.pixel_type == 0 || vi.num_frames <= 0) return nullptr;
    std::string error;
    return clip->clip->GetFrame(std::clamp(n, 0, vi.num_frames - 1), error).release();
}

void avs_release_video_frame(AVS_VideoFrame* frame) { delete frame; }

const uint8_t* avs_get_read_ptr(const AVS_VideoFrame* frame) { return frame ? frame->data.data() : nullptr; }

int avs_get_audio(AVS_Clip* clip, void* buf, int64_t start, int64_t count) {
    if (!clip || !buf || start < 0 || count < 0) return -1;
    if (!avs_has_audio(clip->clip->info())) return -1;
    return clip->clip->GetAudio(buf, start, count) ? 0 : -1;
}

int avs_bytes_per_channel_sample(const AVS_VideoInfo& vi) {
    switch (vi.sample_type) {
        case AVS_SAMPLE_INT8: return 1;
        case AVS_SAMPLE_INT16: return 2;
        case AVS_SAMPLE_INT24: return 3;
        case AVS_SAMPLE_INT32:
        case AVS_SAMPLE_FLOAT: return 4;
        default: return 0;
    }
}

bool avs_has_video(const AVS_VideoInfo& vi) { return vi.width > 0 && vi.pixel_type != 0; }
bool avs_has_audio(const AVS_VideoInfo& vi) { return vi.audio_samples_per_second > 0 && vi.nchannels > 0; }

// Inside the avs_ layer: the clip every back-end and filter implements, and the frame helpers.
#pragma once

#include "platform/avs/avs.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <memory>
#include <string>

struct SwsContext;

namespace avs {

class Clip {
public:
    virtual ~Clip() = default;
    const AVS_VideoInfo& info() const { return vi_; }
    // The frame n, already clamped to the clip; null with error set on failure.
    virtual std::unique_ptr<AVS_VideoFrame> GetFrame(int n, std::string& error) = 0;
    // count samples from start; past the end: silence. false on failure.
    virtual bool GetAudio(void* buf, int64_t start, int64_t count) = 0;

    // Steps a test clip is told to refuse; filters keep their source's.
    bool failTake = false;
    bool failInfo = false;

protected:
    AVS_VideoInfo vi_;
};

AVS_Value ErrorValue(const std::string& text);
AVS_Value ClipValue(std::shared_ptr<Clip> clip);

// The back-ends' "Import": a clip, an error value, or (test scripts only) a value that is no clip.
AVS_Value ImportTestScript(const std::string& path);
// A media file or (by its ".avs" extension) a script of the media back-end.
AVS_Value ImportMedia(const std::string& path);
// A media file's clip; withVideo false leaves its video out. Null with error set on failure.
std::shared_ptr<Clip> OpenMedia(const std::string& path, bool withVideo, std::string& error);
// Runs a script (see script.cpp): its last clip, or an error value.
AVS_Value RunScript(const std::string& path);

// A filter over a clip: SwapUV or a conversion to another pixel type, by function name (lower case).
AVS_Value ApplyFilter(const std::string& name, std::shared_ptr<Clip> source);

// A new frame of the type and size with every byte 0; pitch 0 aligns rows to 32 bytes, otherwise
// it is the first plane's pitch (the chroma planes get it scaled by their subsampling).
std::unique_ptr<AVS_VideoFrame> NewFrame(int pixelType, int width, int height, int pitch = 0);

AVPixelFormat ToAvFormat(int pixelType);  // AV_PIX_FMT_NONE for a type without one

// Converts pictures of one size into frames of one pixel type; keeps its scaling context.
class Scaler {
public:
    Scaler() = default;
    ~Scaler();
    Scaler(const Scaler&) = delete;
    Scaler& operator=(const Scaler&) = delete;
    std::unique_ptr<AVS_VideoFrame> Convert(AVPixelFormat srcFormat, const uint8_t* const src[4],
                                            const int srcStride[4], int width, int height,
                                            int dstType, std::string& error);
    std::unique_ptr<AVS_VideoFrame> Convert(const AVS_VideoFrame& frame, int srcType, int width,
                                            int height, int dstType, std::string& error);

private:
    SwsContext* ctx_ = nullptr;
};

}  // namespace avs

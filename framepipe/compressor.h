// Compresses every frame with a video encoder of the media libraries instead of writing raw frames.
// The output is the encoder's packets one after the other, with no container or stream header.
#pragma once

#include "platform/avs/avs.h"

#include <string>

struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace framepipe {

class Compressor {
public:
    Compressor() = default;
    ~Compressor();
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    // Chooses the last installed video encoder whose name contains `name` and that takes 4:2:0
    // pictures; false when there is none.
    bool Find(const std::string& name);
    bool Open(int width, int height, unsigned fpsNum, unsigned fpsDen);
    // Prepares the picture buffer and restarts the frame counter.
    bool Begin();
    // Compresses one 4:2:0 frame (row by row, pitch respected) and writes the packets the encoder
    // gives back to fd. 0, or -1 when the encoder or a write fails.
    int CompressFrame(const AVS_VideoFrame& frame, int fd);
    // Writes the packets the encoder still holds. 0 or -1.
    int Finish(int fd);
    const char* name() const;

private:
    int Drain(int fd);

    const AVCodec* codec_ = nullptr;
    AVCodecContext* ctx_ = nullptr;
    AVFrame* picture_ = nullptr;
    AVPacket* packet_ = nullptr;
    long long frameNumber_ = 0;
};

}  // namespace framepipe

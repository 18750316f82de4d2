#include "framepipe/compressor.h"

#include "framepipe/writers.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstring>

namespace framepipe {
namespace {

bool Takes420(const AVCodec* c) {
    if (!c->pix_fmts) return true;
    for (const AVPixelFormat* f = c->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
        if (*f == AV_PIX_FMT_YUV420P) return true;
    return false;
}

void CopyPlane(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int rowBytes, int rows) {
    for (int y = 0; y < rows; ++y) std::memcpy(dst + y * dstStride, src + y * srcStride, rowBytes);
}

}  // namespace

Compressor::~Compressor() {
    av_packet_free(&packet_);
    av_frame_free(&picture_);
    avcodec_free_context(&ctx_);
}

// Hardware encoders are skipped: they need a device this program does not set up. An encoder of
// exactly that name wins over those that merely contain it.
bool Compressor::Find(const std::string& name) {
    codec_ = nullptr;
    void* it = nullptr;
    while (const AVCodec* c = av_codec_iterate(&it)) {
        if (!av_codec_is_encoder(c) || c->type != AVMEDIA_TYPE_VIDEO || !std::strstr(c->name, name.c_str()) ||
            !Takes420(c) || (c->capabilities & AV_CODEC_CAP_HARDWARE))
            continue;
        if (codec_ && name == codec_->name) continue;
        codec_ = c;
    }
    return codec_ != nullptr;
}

bool Compressor::Open(int width, int height, unsigned fpsNum, unsigned fpsDen) {
    if (!codec_ || fpsNum == 0 || fpsDen == 0) return false;
    avcodec_free_context(&ctx_);
    ctx_ = avcodec_alloc_context3(codec_);
    if (!ctx_) return false;
    ctx_->width = width;
    ctx_->height = height;
    ctx_->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx_->time_base = AVRational{static_cast<int>(fpsDen), static_cast<int>(fpsNum)};
    ctx_->framerate = AVRational{static_cast<int>(fpsNum), static_cast<int>(fpsDen)};
    return avcodec_open2(ctx_, codec_, nullptr) >= 0;
}

bool Compressor::Begin() {
    if (!ctx_) return false;
    av_frame_free(&picture_);
    av_packet_free(&packet_);
    picture_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!picture_ || !packet_) return false;
    picture_->format = AV_PIX_FMT_YUV420P;
    picture_->width = ctx_->width;
    picture_->height = ctx_->height;
    frameNumber_ = 0;
    return av_frame_get_buffer(picture_, 0) >= 0;
}

int Compressor::CompressFrame(const AVS_VideoFrame& f, int fd) {
    if (!picture_ || av_frame_make_writable(picture_) < 0) return -1;
    const uint8_t* base = avs_get_read_ptr(&f);
    const int w = ctx_->width, h = ctx_->height;
    CopyPlane(picture_->data[0], picture_->linesize[0], base + f.offset, f.pitch, w, h);
    CopyPlane(picture_->data[1], picture_->linesize[1], base + f.offsetU, f.pitchUV, (w + 1) / 2, (h + 1) / 2);
    CopyPlane(picture_->data[2], picture_->linesize[2], base + f.offsetV, f.pitchUV, (w + 1) / 2, (h + 1) / 2);
    picture_->pts = frameNumber_++;
    if (avcodec_send_frame(ctx_, picture_) < 0) return -1;
    return Drain(fd);
}

int Compressor::Finish(int fd) {
    if (!ctx_ || avcodec_send_frame(ctx_, nullptr) < 0) return -1;
    return Drain(fd);
}

int Compressor::Drain(int fd) {
    for (;;) {
        int r = avcodec_receive_packet(ctx_, packet_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
        if (r < 0) return -1;
        size_t size = static_cast<size_t>(packet_->size);
        bool ok = WriteAll(fd, packet_->data, size) == size;
        av_packet_unref(packet_);
        if (!ok) return -1;
    }
}

const char* Compressor::name() const { return codec_ ? codec_->name : ""; }

}  // namespace framepipe

// The APE decoder library over libavformat/libavcodec: opens a file, decodes its first audio
// stream and hands out interleaved little-endian integer PCM by blocks, with sample-exact seeks.
#include "apedec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

struct Decoder {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    int channels = 0;
    int rate = 0;
    int bits = 16;           // output bits per sample: 8, 16, 24 or 32
    int64_t totalBlocks = 0;
    int64_t position = 0;    // block index of the next block handed out
    int64_t skip = 0;        // blocks still to drop after a seek
    std::vector<uint8_t> pending;  // decoded bytes not handed out yet
    size_t pendingAt = 0;
    bool ended = false;

    ~Decoder() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
    int BlockAlign() const { return channels * (bits / 8); }
};

// One sample as a left-aligned 32-bit value.
int32_t SampleAt(const AVFrame* f, AVSampleFormat fmt, int ch, int i, int channels) {
    const bool planar = av_sample_fmt_is_planar(fmt);
    const int idx = planar ? i : i * channels + ch;
    const uint8_t* p = f->extended_data[planar ? ch : 0];
    switch (av_get_packed_sample_fmt(fmt)) {
        case AV_SAMPLE_FMT_U8: return (static_cast<int32_t>(p[idx]) - 128) * (1 << 24);
        case AV_SAMPLE_FMT_S16: return static_cast<int32_t>(reinterpret_cast<const int16_t*>(p)[idx]) * (1 << 16);
        case AV_SAMPLE_FMT_S32: return reinterpret_cast<const int32_t*>(p)[idx];
        case AV_SAMPLE_FMT_FLT: {
            double v = std::clamp(static_cast<double>(reinterpret_cast<const float*>(p)[idx]), -1.0, 1.0);
            return static_cast<int32_t>(std::lround(std::min(v * 2147483648.0, 2147483647.0)));
        }
        case AV_SAMPLE_FMT_DBL: {
            double v = std::clamp(reinterpret_cast<const double*>(p)[idx], -1.0, 1.0);
            return static_cast<int32_t>(std::lround(std::min(v * 2147483648.0, 2147483647.0)));
        }
        default: return 0;
    }
}

void AppendFrame(Decoder* d) {
    const AVFrame* f = d->frame;
    const AVSampleFormat fmt = static_cast<AVSampleFormat>(f->format);
    int first = 0;
    if (d->skip > 0) {
        first = static_cast<int>(std::min<int64_t>(d->skip, f->nb_samples));
        d->skip -= first;
    }
    const int bytes = d->bits / 8;
    for (int i = first; i < f->nb_samples; ++i) {
        for (int ch = 0; ch < d->channels; ++ch) {
            int32_t v = SampleAt(f, fmt, ch, i, d->channels);
            uint32_t u = static_cast<uint32_t>(v);
            if (bytes == 1) {
                d->pending.push_back(static_cast<uint8_t>((u >> 24) ^ 0x80));
            } else {
                for (int b = 4 - bytes; b < 4; ++b) d->pending.push_back(static_cast<uint8_t>(u >> (8 * b)));
            }
        }
    }
}

// Decodes the next frame into pending; false at the end or on failure.
bool DecodeMore(Decoder* d, int* error) {
    for (;;) {
        int rc = avcodec_receive_frame(d->codec, d->frame);
        if (rc == 0) {
            AppendFrame(d);
            av_frame_unref(d->frame);
            return true;
        }
        if (rc == AVERROR_EOF) return false;
        if (rc != AVERROR(EAGAIN)) {
            *error = APE_ERROR_DECOMPRESSING;
            return false;
        }
        if (d->ended) return false;
        rc = av_read_frame(d->format, d->packet);
        if (rc < 0) {
            d->ended = true;
            avcodec_send_packet(d->codec, nullptr);
            continue;
        }
        if (d->packet->stream_index == d->stream && avcodec_send_packet(d->codec, d->packet) < 0) *error = APE_ERROR_DECOMPRESSING;
        av_packet_unref(d->packet);
    }
}

}  // namespace

extern "C" {

APE_DECOMPRESS_HANDLE c_APEDecompress_Create(const char* fileName, int* error) {
    if (error) *error = APE_ERROR_SUCCESS;
    auto* d = new (std::nothrow) Decoder;
    auto fail = [&](int code) -> APE_DECOMPRESS_HANDLE {
        if (error) *error = code;
        delete d;
        return nullptr;
    };
    if (!d || !fileName) return fail(APE_ERROR_INVALID_INPUT);
    av_log_set_level(AV_LOG_QUIET);
    if (avformat_open_input(&d->format, fileName, nullptr, nullptr) < 0) return fail(APE_ERROR_IO);
    if (avformat_find_stream_info(d->format, nullptr) < 0) return fail(APE_ERROR_INVALID_INPUT);
    const AVCodec* codec = nullptr;
    d->stream = av_find_best_stream(d->format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (d->stream < 0 || !codec) return fail(APE_ERROR_INVALID_INPUT);
    AVStream* st = d->format->streams[d->stream];
    d->codec = avcodec_alloc_context3(codec);
    if (!d->codec || avcodec_parameters_to_context(d->codec, st->codecpar) < 0 || avcodec_open2(d->codec, codec, nullptr) < 0)
        return fail(APE_ERROR_INVALID_INPUT);
    d->packet = av_packet_alloc();
    d->frame = av_frame_alloc();
    if (!d->packet || !d->frame) return fail(APE_ERROR_INVALID_INPUT);
    d->channels = d->codec->ch_layout.nb_channels;
    d->rate = d->codec->sample_rate;
    if (d->channels < 1 || d->rate < 1) return fail(APE_ERROR_INVALID_INPUT);
    int raw = st->codecpar->bits_per_raw_sample ? st->codecpar->bits_per_raw_sample : d->codec->bits_per_raw_sample;
    AVSampleFormat packed = av_get_packed_sample_fmt(d->codec->sample_fmt);
    if (raw <= 0 || raw > 32) raw = packed == AV_SAMPLE_FMT_U8 ? 8 : packed == AV_SAMPLE_FMT_S32 ? 32 : 16;
    d->bits = raw <= 8 ? 8 : raw <= 16 ? 16 : raw <= 24 ? 24 : 32;
    if (st->duration > 0 && st->time_base.den > 0)
        d->totalBlocks = av_rescale_q(st->duration, st->time_base, AVRational{1, d->rate});
    else if (d->format->duration > 0)
        d->totalBlocks = av_rescale(d->format->duration, d->rate, AV_TIME_BASE);
    return d;
}

void c_APEDecompress_Destroy(APE_DECOMPRESS_HANDLE handle) { delete static_cast<Decoder*>(handle); }

int c_APEDecompress_GetData(APE_DECOMPRESS_HANDLE handle, char* buffer, intptr_t blocks, intptr_t* retrieved) {
    if (retrieved) *retrieved = 0;
    auto* d = static_cast<Decoder*>(handle);
    if (!d || !buffer || blocks < 0) return APE_ERROR_INVALID_INPUT;
    const size_t want = static_cast<size_t>(blocks) * static_cast<size_t>(d->BlockAlign());
    int error = APE_ERROR_SUCCESS;
    while (d->pending.size() - d->pendingAt < want && DecodeMore(d, &error)) {
    }
    size_t have = std::min(want, d->pending.size() - d->pendingAt);
    have -= have % static_cast<size_t>(d->BlockAlign());
    memcpy(buffer, d->pending.data() + d->pendingAt, have);
    d->pendingAt += have;
    if (d->pendingAt == d->pending.size()) {
        d->pending.clear();
        d->pendingAt = 0;
    }
    const intptr_t got = static_cast<intptr_t>(have / static_cast<size_t>(d->BlockAlign()));
    d->position += got;
    if (retrieved) *retrieved = got;
    return error;
}

int c_APEDecompress_Seek(APE_DECOMPRESS_HANDLE handle, intptr_t block) {
    auto* d = static_cast<Decoder*>(handle);
    if (!d || block < 0) return APE_ERROR_INVALID_INPUT;
    if (d->totalBlocks > 0 && block > d->totalBlocks) block = static_cast<intptr_t>(d->totalBlocks);
    AVStream* st = d->format->streams[d->stream];
    // Seek to the start and drop what lies before the block: sample-exact whatever the container.
    if (av_seek_frame(d->format, d->stream, st->start_time != AV_NOPTS_VALUE ? st->start_time : 0, AVSEEK_FLAG_BACKWARD) < 0)
        return APE_ERROR_IO;
    avcodec_flush_buffers(d->codec);
    d->pending.clear();
    d->pendingAt = 0;
    d->ended = false;
    d->skip = block;
    d->position = block;
    return APE_ERROR_SUCCESS;
}

intptr_t c_APEDecompress_GetInfo(APE_DECOMPRESS_HANDLE handle, int field, intptr_t, intptr_t) {
    auto* d = static_cast<Decoder*>(handle);
    if (!d) return 0;
    switch (field) {
        case APE_INFO_SAMPLE_RATE: return d->rate;
        case APE_INFO_BITS_PER_SAMPLE: return d->bits;
        case APE_INFO_CHANNELS: return d->channels;
        case APE_INFO_BLOCK_ALIGN: return d->BlockAlign();
        case APE_DECOMPRESS_CURRENT_MS: return static_cast<intptr_t>(d->position * 1000 / d->rate);
        case APE_DECOMPRESS_TOTAL_BLOCKS: return static_cast<intptr_t>(d->totalBlocks);
        case APE_DECOMPRESS_LENGTH_MS: return static_cast<intptr_t>(d->totalBlocks * 1000 / d->rate);
        case APE_DECOMPRESS_AVERAGE_BITRATE: return static_cast<intptr_t>(d->format->bit_rate / 1000);
        default: return 0;
    }
}

}  // extern "C"

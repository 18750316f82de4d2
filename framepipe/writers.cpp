#include "framepipe/writers.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace framepipe {
namespace {

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void AppendRows(std::vector<uint8_t>& out, const uint8_t* first, int rowBytes, int rows, ptrdiff_t step) {
    for (int y = 0; y < rows; ++y) {
        const uint8_t* row = first + step * y;
        out.insert(out.end(), row, row + rowBytes);
    }
}

}  // namespace

bool IsPlanarType(int t) {
    return t == AVS_CS_YV12 || t == AVS_CS_I420 || t == AVS_CS_YV16 || t == AVS_CS_YV24;
}

ColourSpace ColourSpaceOf(int pixelType, bool yv12Requested) {
    switch (pixelType) {
        case AVS_CS_YV12: return yv12Requested ? ColourSpace{1, "YV12"} : ColourSpace{0, "I420"};
        case AVS_CS_I420: return {0, "I420"};
        case AVS_CS_YV16: return {2, "YV16"};
        case AVS_CS_YV24: return {3, "YV24"};
        case AVS_CS_YUY2: return {4, "YUY2"};
        case AVS_CS_RGB24: return {6, "RGB24"};
        case AVS_CS_RGB32: return {8, "RGB32"};
        default: return {0, ""};
    }
}

std::array<uint8_t, 40> VideoHeader(int code, const AVS_VideoInfo& vi) {
    std::array<uint8_t, 40> h{};
    Put32(&h[0], 40);
    Put32(&h[4], static_cast<uint32_t>(code));
    Put32(&h[8], static_cast<uint32_t>(vi.width));
    Put32(&h[12], static_cast<uint32_t>(vi.height));
    Put32(&h[20], vi.fps_numerator);
    Put32(&h[24], vi.fps_denominator);
    Put32(&h[36], static_cast<uint32_t>(vi.num_frames));
    return h;
}

std::vector<uint8_t> WavHeader(const AVS_VideoInfo& vi) {
    const int bytes = avs_bytes_per_channel_sample(vi);
    if (bytes == 0) return {};
    std::vector<uint8_t> h(44);
    std::memcpy(&h[0], "RIFF", 4);
    Put32(&h[4], 0x7FFFF024);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    Put32(&h[16], 16);
    Put16(&h[20], vi.sample_type == AVS_SAMPLE_FLOAT ? 3 : 1);
    Put16(&h[22], static_cast<uint16_t>(vi.nchannels));
    Put32(&h[24], static_cast<uint32_t>(vi.audio_samples_per_second));
    Put32(&h[28], static_cast<uint32_t>(bytes * vi.audio_samples_per_second * vi.nchannels));
    Put16(&h[32], static_cast<uint16_t>(vi.nchannels * bytes));
    Put16(&h[34], static_cast<uint16_t>(bytes * 8));
    std::memcpy(&h[36], "data", 4);
    Put32(&h[40], 0x7FFFF000);
    return h;
}

int FrameCount(const AVS_VideoInfo& vi, int durationMs) {
    if (durationMs < 0) return vi.num_frames;
    int64_t frames = static_cast<int64_t>(durationMs) * vi.fps_numerator /
                     (static_cast<int64_t>(vi.fps_denominator) * 1000);
    if (durationMs > 0) frames = std::max<int64_t>(frames, 1);
    return static_cast<int>(std::min<int64_t>(frames, vi.num_frames));
}

int64_t SampleCount(const AVS_VideoInfo& vi, int durationMs) {
    if (durationMs < 0) return vi.num_audio_samples;
    int64_t samples = (static_cast<int64_t>(vi.audio_samples_per_second) * durationMs + 500) / 1000;
    return std::min(samples, vi.num_audio_samples);
}

int64_t SamplesDueAfter(const AVS_VideoInfo& vi, int64_t frames) {
    // frames x den x rate can pass 64 bits for long clips at odd rates.
    __int128 due = static_cast<__int128>(frames) * vi.fps_denominator * vi.audio_samples_per_second;
    return static_cast<int64_t>(due / vi.fps_numerator);
}

size_t WriteAll(int fd, const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(fd, p + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void PackFrame(const AVS_VideoFrame& f, int pixelType, std::vector<uint8_t>& out) {
    out.clear();
    const uint8_t* base = avs_get_read_ptr(&f);
    if (IsPlanarType(pixelType)) {
        AppendRows(out, base + f.offset, f.row_size, f.height, f.pitch);
        AppendRows(out, base + f.offsetU, f.row_sizeUV, f.heightUV, f.pitchUV);
        AppendRows(out, base + f.offsetV, f.row_sizeUV, f.heightUV, f.pitchUV);
    } else if (pixelType == AVS_CS_YUY2) {
        AppendRows(out, base + f.offset, f.row_size, f.height, f.pitch);
    } else {
        const uint8_t* last = base + f.offset + static_cast<ptrdiff_t>(f.height - 1) * f.pitch;
        AppendRows(out, last, f.row_size, f.height, -static_cast<ptrdiff_t>(f.pitch));
    }
}

}  // namespace framepipe

// The frame pipe's output formats: the 40-byte video header, raw frames, the 44-byte WAV header,
// and the frame and sample counts for a duration.
#pragma once

#include "platform/avs/avs.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace framepipe {

// The colour space written into the video header and printed after "CSP: ".
struct ColourSpace {
    int code = 0;
    const char* label = "";  // empty for a pixel type without a label
};
ColourSpace ColourSpaceOf(int pixelType, bool yv12Requested);

std::array<uint8_t, 40> VideoHeader(int code, const AVS_VideoInfo& vi);
// Empty when the sample type is unknown.
std::vector<uint8_t> WavHeader(const AVS_VideoInfo& vi);

// Frames for a duration in ms (< 0: the whole clip): at least 1 for a positive duration, never
// more than the clip has. The frame rate must not be 0.
int FrameCount(const AVS_VideoInfo& vi, int durationMs);
// Samples for a duration in ms (< 0: the whole clip), at most the clip's.
int64_t SampleCount(const AVS_VideoInfo& vi, int durationMs);
// The samples due once `frames` frames are out: frames / frame rate x sample rate, truncated.
int64_t SamplesDueAfter(const AVS_VideoInfo& vi, int64_t frames);

// Writes until all is written or a write fails; returns the bytes written.
size_t WriteAll(int fd, const void* data, size_t length);

// Puts a frame's picture into `out` without the pitch padding: planar clips plane by plane
// (Y, U, V), YUY2 top-down, RGB from the last row in memory to the first.
void PackFrame(const AVS_VideoFrame& frame, int pixelType, std::vector<uint8_t>& out);
bool IsPlanarType(int pixelType);

}  // namespace framepipe

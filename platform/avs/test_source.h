// The deterministic clip of the "test" back-end. Its script is a few lines of words:
//
//   video <yv12|i420|yv16|yv24|yuy2|rgb24|rgb32> <W>x<H> fps <num>/<den> frames <N> [pitch <P>]
//   audio <u8|s16|s24|s32|float|other> <rate> <channels> samples <N>
//   fail import <text...> | noclip | take_clip | video_info | get_frame <n> | get_audio <n>
//
// "fail get_audio n" fails every read that reaches sample n. Lines starting with '#' are comments.
// The bytes between a row's end and its pitch hold kTestPadding, so a reader that copies them shows.
#pragma once

#include <cstdint>

namespace avs {

inline constexpr uint8_t kTestPadding = 0xEE;

// The picture byte of plane p (0 Y or the packed plane, 1 U, 2 V) at byte column x of the image row
// y (top-down) in frame n.
inline uint8_t TestPixel(int p, int x, int y, int n) {
    switch (p) {
        case 1: return static_cast<uint8_t>(2 * x + y + 5 * n + 64);
        case 2: return static_cast<uint8_t>(x + 2 * y + 3 * n + 128);
        default: return static_cast<uint8_t>(x + 3 * y + 7 * n);
    }
}

// The integer the sample i of channel c is made from; each sample type keeps its low bytes
// (u8, s16, s24, s32) or maps it into [-1, 1) (float).
inline int64_t TestSampleValue(int64_t i, int c) { return i * 31 + c; }

}  // namespace avs

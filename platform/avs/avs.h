// A small scripting-clip interface with the avs_ entry points the frame pipe and the AviSynth audio
// source call: open a script, convert its clip, read frames and audio samples.
//
// Two back-ends stand behind it, chosen when the environment is created from SQ_AVS_BACKEND:
// - unset or "media": media files and scripts of the statements the engine writes (sources, Trim,
//   DelayAudio, ResampleAudio/SSRC, AmplifydB, AudioDub, ConvertAudioTo16bit; see script.cpp),
//   decoded with libavformat/libavcodec, converted with libswscale and libswresample;
// - "test": a deterministic clip described by a small key/value script, able to fail at every step
//   (see test_source.cpp for the script words).
// Any other value makes avs_create_script_environment fail.
//
// Frames are laid out as the callers expect them: planar YUV as three planes at offset, offsetU and
// offsetV from the frame's base; packed RGB bottom-up (the first row in memory is the picture's last);
// YUY2 top-down. pitch may exceed row_size; the bytes in between are not picture.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Pixel types. A planar YUV type holds 0xA0000000, packed YUV 0x60000000, packed RGB 0x50000000.
inline constexpr int AVS_CS_YV12 = static_cast<int>(0xA0000008u);
inline constexpr int AVS_CS_I420 = static_cast<int>(0xA0000010u);
inline constexpr int AVS_CS_YV16 = static_cast<int>(0xA0000020u);  // planar 4:2:2
inline constexpr int AVS_CS_YV24 = static_cast<int>(0xA0000040u);  // planar 4:4:4
inline constexpr int AVS_CS_YUY2 = 0x60000004;
inline constexpr int AVS_CS_RGB24 = 0x50000001;
inline constexpr int AVS_CS_RGB32 = 0x50000002;

// Audio sample types; the value is not the size (use avs_bytes_per_channel_sample).
enum AvsSampleType : int {
    AVS_SAMPLE_INT8 = 1,  // unsigned 8-bit
    AVS_SAMPLE_INT16 = 2,
    AVS_SAMPLE_INT24 = 4,
    AVS_SAMPLE_INT32 = 8,
    AVS_SAMPLE_FLOAT = 16,
};

struct AVS_VideoInfo {
    int width = 0;
    int height = 0;
    unsigned fps_numerator = 0;
    unsigned fps_denominator = 0;
    int num_frames = 0;
    int pixel_type = 0;  // 0: no video
    int audio_samples_per_second = 0;  // 0: no audio
    int sample_type = 0;
    int nchannels = 0;
    int64_t num_audio_samples = 0;
};

// One frame: the picture's bytes and where its planes lie in them.
struct AVS_VideoFrame {
    std::vector<uint8_t> data;
    int offset = 0, pitch = 0, row_size = 0, height = 0;  // the first (or only) plane
    int offsetU = 0, offsetV = 0, pitchUV = 0, row_sizeUV = 0, heightUV = 0;
};

namespace avs {
class Clip;
}

// A clip handed out by avs_take_clip; released with avs_release_clip.
struct AVS_Clip {
    std::shared_ptr<avs::Clip> clip;
};

struct AVS_ScriptEnvironment;

// The result of avs_invoke: a clip, a text, an error (with its text) or nothing.
struct AVS_Value {
    enum class Type { Void, Clip, String, Error } type = Type::Void;
    std::shared_ptr<avs::Clip> clip;
    std::string text;
};

AVS_Value avs_new_value_string(const std::string& text);
bool avs_is_clip(const AVS_Value& v);
bool avs_is_error(const AVS_Value& v);
const char* avs_as_error(const AVS_Value& v);

// Null when the interface version is not supported or the back-end cannot be had.
AVS_ScriptEnvironment* avs_create_script_environment(int version);
void avs_delete_script_environment(AVS_ScriptEnvironment* env);

// Calls a function by name (case-insensitive): "Import" with a script path, and on a clip
// "SwapUV", "ConvertToYV12", "ConvertToYV16", "ConvertToYV24", "ConvertToYUY2", "ConvertToRGB24",
// "ConvertToRGB32". An unknown name or a failure gives an error value.
AVS_Value avs_invoke(AVS_ScriptEnvironment* env, const char* name, const AVS_Value& arg);

// Null when the value is not a clip or the back-end refuses it.
AVS_Clip* avs_take_clip(const AVS_Value& v, AVS_ScriptEnvironment* env);
void avs_release_clip(AVS_Clip* clip);
// Null on failure; valid while the clip lives.
const AVS_VideoInfo* avs_get_video_info(AVS_Clip* clip);

// The frame n (clamped to the clip); null on failure. Release it with avs_release_video_frame.
AVS_VideoFrame* avs_get_frame(AVS_Clip* clip, int n);
void avs_release_video_frame(AVS_VideoFrame* frame);
const uint8_t* avs_get_read_ptr(const AVS_VideoFrame* frame);

// Reads count interleaved samples from sample start into buf; samples past the clip's end are
// silence. 0 on success, non-zero on failure.
int avs_get_audio(AVS_Clip* clip, void* buf, int64_t start, int64_t count);

int avs_bytes_per_channel_sample(const AVS_VideoInfo& vi);  // 0 for an unknown sample type
bool avs_has_video(const AVS_VideoInfo& vi);
bool avs_has_audio(const AVS_VideoInfo& vi);

#include "framepipe/run.h"

#include "framepipe/compressor.h"
#include "framepipe/writers.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace framepipe {
namespace {

// An argument of digits only is an inherited descriptor (0: no output); anything else names a
// file, created readable and writable by its owner (subject to the umask) and cut to length.
// Returns false when the file cannot be opened.
bool OpenOutput(const char* arg, int& fd) {
    fd = 0;
    if (!*arg) return true;
    if (std::strspn(arg, "0123456789") == std::strlen(arg)) {
        fd = std::atoi(arg);
        return true;
    }
    fd = ::open(arg, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        std::fprintf(stderr, "Cannot open \"%s\": %s\n", arg, std::strerror(errno));
        fd = 0;
        return false;
    }
    if (fd == 0) {  // 0 means "no output": move the file off it
        int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved < 0 ? 0 : moved;
        return moved >= 0;
    }
    return true;
}

void CloseOutput(int& fd) {
    if (fd > 0) ::close(fd);
    fd = 0;
}

bool Is420(int t) { return t == AVS_CS_YV12 || t == AVS_CS_I420; }

class FramePipe {
public:
    ~FramePipe() {
        if (clip_) avs_release_clip(clip_);
        CloseOutput(videoFd_);
        CloseOutput(audioFd_);
        if (env_) avs_delete_script_environment(env_);
    }

    void Run(const char* script, const char* videoArg, const char* audioArg, int duration,
             const std::string& colourSpace, const std::string& compressor) {
        duration_ = duration;
        if (!OpenOutput(videoArg, videoFd_) || !OpenOutput(audioArg, audioFd_)) return;
        env_ = avs_create_script_environment(2);
        if (!env_) {
            std::fprintf(stderr, "AVS: avs_create_script_environment failed\n");
            return;
        }
        AVS_Value res = avs_invoke(env_, "Import", avs_new_value_string(script));
        if (avs_is_error(res)) {
            std::fprintf(stderr, "AVS: Avisynth error: %s\n", avs_as_error(res));
            return;
        }
        bool yv12Requested = false;
        if (!Convert(res, colourSpace, yv12Requested)) return;
        if (!avs_is_clip(res)) {
            std::fprintf(stderr, "AVS: Avisynth doesn't return a clip\n");
            return;
        }
        if (!TakeClip(res)) return;
        // Compressors take 4:2:0 pictures only.
        if (!compressor.empty() && videoFd_ && avs_has_video(*vi_) && !Is420(vi_->pixel_type)) {
            if (!Invoke(res, "ConvertToYV12")) return;
            avs_release_clip(clip_);
            clip_ = nullptr;
            if (!TakeClip(res)) return;
        }

        const bool hasVideo = avs_has_video(*vi_);
        ColourSpace cs = ColourSpaceOf(vi_->pixel_type, yv12Requested);
        if (hasVideo) {
            double fps = vi_->fps_denominator ? double(vi_->fps_numerator) / vi_->fps_denominator : 0.0;
            std::fprintf(stderr, "Video info: %dx%d @ %ffps Pixel Type: 0x%X CSP: %s\n", vi_->width,
                         vi_->height, fps, static_cast<unsigned>(vi_->pixel_type), cs.label);
        }
        // Without a frame rate there is no timing for frames: the video is left out.
        if (!hasVideo || vi_->fps_numerator == 0 || vi_->fps_denominator == 0) CloseOutput(videoFd_);

        if (audioFd_) StartAudio();

        if (videoFd_) {
            audioTotal_ = audioFd_ ? SampleCount(*vi_, duration) : 0;
            const int frames = FrameCount(*vi_, duration);
            if (compressor.empty())
                WriteRawVideo(cs.code, frames);
            else
                WriteCompressedVideo(compressor, frames);
        } else if (audioFd_) {
            audioTotal_ = SampleCount(*vi_, duration == 0 ? -1 : duration);
            if (duration > 0) audioTotal_ = std::max<int64_t>(audioTotal_, 1);
            std::fprintf(stderr, "Duration: %d ms / %lld samples\n", duration,
                         static_cast<long long>(audioTotal_));
            WriteAudioUntil(audioTotal_);
        } else {
            std::fprintf(stderr, "No stream to process.\n");
        }
    }

private:
    bool Invoke(AVS_Value& res, const char* function) {
        res = avs_invoke(env_, function, res);
        if (avs_is_error(res)) {
            std::fprintf(stderr, "AVS: Avisynth error: %s\n", avs_as_error(res));
            return false;
        }
        return true;
    }

    // The requested colour space, by its exact word; other words convert nothing.
    bool Convert(AVS_Value& res, const std::string& word, bool& yv12Requested) {
        static const struct {
            const char* word;
            const char* function;
        } kConversions[] = {
            {"i420", "ConvertToYV12"}, {"i422", "ConvertToYV16"}, {"i444", "ConvertToYV24"},
            {"yuy2", "ConvertToYUY2"}, {"rgb24", "ConvertToRGB24"}, {"rgb32", "ConvertToRGB32"},
        };
        if (!avs_is_clip(res)) return true;
        if (word == "yv12") {
            yv12Requested = true;
            return Invoke(res, "swapuv") && Invoke(res, "ConvertToYV12");
        }
        for (const auto& c : kConversions)
            if (word == c.word) return Invoke(res, c.function);
        return true;
    }

    bool TakeClip(const AVS_Value& res) {
        clip_ = avs_take_clip(res, env_);
        if (!clip_) {
            std::fprintf(stderr, "AVS: avs_take_clip() failed\n");
            return false;
        }
        vi_ = avs_get_video_info(clip_);
        if (!vi_) {
            std::fprintf(stderr, "AVS: avs_get_video_info() call failed\n");
            return false;
        }
        return true;
    }

    void StartAudio() {
        if (!avs_has_audio(*vi_)) {
            std::fprintf(stderr, "Audio: N/A\n");
            CloseOutput(audioFd_);
            return;
        }
        std::vector<uint8_t> header = WavHeader(*vi_);
        if (header.empty()) {
            std::fprintf(stderr, "AVS: unknown audio type, disabling\n");
            CloseOutput(audioFd_);
            return;
        }
        blockAlign_ = avs_bytes_per_channel_sample(*vi_) * vi_->nchannels;
        std::fprintf(stderr, "Audio: %dHz %dch %dbit\n", vi_->audio_samples_per_second, vi_->nchannels,
                     avs_bytes_per_channel_sample(*vi_) * 8);
        if (WriteAll(audioFd_, header.data(), header.size()) != header.size()) {
            std::fprintf(stderr, "Audio pipe closed\n");
            CloseOutput(audioFd_);
        }
    }

    // Writes the samples up to `until` (never past the count for this run) in blocks of at most one
    // second. A failed read or write stops the audio for the rest of the run. With video, audio goes
    // only as far as the frames written have come: audio past the video's end is never sent.
    void WriteAudioUntil(int64_t until) {
        until = std::min(until, audioTotal_);
        while (audioFd_ && audioPos_ < until) {
            const int64_t n = std::min<int64_t>(until - audioPos_, vi_->audio_samples_per_second);
            const size_t bytes = static_cast<size_t>(n) * static_cast<size_t>(blockAlign_);
            audioBuffer_.resize(bytes);
            if (avs_get_audio(clip_, audioBuffer_.data(), audioPos_, n) != 0) {
                std::fprintf(stderr, "AVS: avs_get_audio() failed\n");
                CloseOutput(audioFd_);
                return;
            }
            if (WriteAll(audioFd_, audioBuffer_.data(), bytes) != bytes) {
                std::fprintf(stderr, "Audio pipe closed\n");
                CloseOutput(audioFd_);
                return;
            }
            audioPos_ += n;
        }
    }

    AVS_VideoFrame* GetFrame(int n) {
        AVS_VideoFrame* f = avs_get_frame(clip_, n);
        if (!f) {
            std::fprintf(stderr, "AVS: frame %d could not be read\n", n);
            CloseOutput(videoFd_);
        }
        return f;
    }

    void WriteRawVideo(int code, int frames) {
        const auto header = VideoHeader(code, *vi_);
        if (WriteAll(videoFd_, header.data(), header.size()) != header.size()) {
            std::fprintf(stderr, "Error writing frame data to pipe %d\n", videoFd_);
            CloseOutput(videoFd_);
            return;
        }
        AVS_VideoFrame* frame = GetFrame(0);
        if (!frame) return;
        std::fprintf(stderr, "Frame Size: %dx%d  Total Frames: %d frames  End Pos: %d ms\n", frame->row_size,
                     frame->height, frames, duration_);
        const bool planar = IsPlanarType(vi_->pixel_type);
        std::vector<uint8_t> picture;
        for (int i = 0; i < frames; ++i) {
            if (i > 0 && !(frame = GetFrame(i))) return;
            PackFrame(*frame, vi_->pixel_type, picture);
            avs_release_video_frame(frame);
            frame = nullptr;
            if (WriteAll(videoFd_, picture.data(), picture.size()) != picture.size()) {
                std::fprintf(stderr, "Error writing frame data to pipe %d\n", videoFd_);
                std::fprintf(stderr, "Error writing %s data to pipe %d\n", planar ? "planar" : "packed",
                             videoFd_);
                CloseOutput(videoFd_);
                return;
            }
            std::fprintf(stderr, "%d frames decoded\r", i + 1);
            WriteAudioUntil(SamplesDueAfter(*vi_, i + 1));
        }
        avs_release_video_frame(frame);
    }

    void WriteCompressedVideo(const std::string& name, int frames) {
        Compressor compressor;
        if (!compressor.Find(name) || !compressor.Open(vi_->width, vi_->height, vi_->fps_numerator,
                                                       vi_->fps_denominator) ||
            !compressor.Begin()) {
            std::fprintf(stderr, "ICCompressBegin failed\n");
            CloseOutput(videoFd_);
            return;
        }
        std::fprintf(stderr, "Duration: %d ms / %d frames\n", duration_, frames);
        int rowSize = 0, height = 0;
        for (int i = 0; i < frames; ++i) {
            AVS_VideoFrame* frame = GetFrame(i);
            if (!frame) return;
            rowSize = frame->row_size;
            height = frame->height;
            const int r = compressor.CompressFrame(*frame, videoFd_);
            avs_release_video_frame(frame);
            if (r != 0) {
                std::fprintf(stderr, "Error writing frame data to pipe %d\n", videoFd_);
                CloseOutput(videoFd_);
                return;
            }
            std::fprintf(stderr, "%d frames decoded\r", i + 1);
            WriteAudioUntil(SamplesDueAfter(*vi_, i + 1));
        }
        if (compressor.Finish(videoFd_) != 0) {
            std::fprintf(stderr, "Error writing frame data to pipe %d\n", videoFd_);
            CloseOutput(videoFd_);
            return;
        }
        std::fprintf(stderr, "Frame Size: %dx%d  Total Frames: %d frames  End Pos: %d ms\n", rowSize, height,
                     frames, duration_);
    }

    int videoFd_ = 0;
    int audioFd_ = 0;
    int duration_ = -1;
    AVS_ScriptEnvironment* env_ = nullptr;
    AVS_Clip* clip_ = nullptr;
    const AVS_VideoInfo* vi_ = nullptr;
    int blockAlign_ = 0;
    int64_t audioPos_ = 0;
    int64_t audioTotal_ = 0;
    std::vector<uint8_t> audioBuffer_;
};

}  // namespace

int Run(int argc, char** argv) {
    if (argc < 4) return -1;
    const int duration = argc > 4 ? std::atoi(argv[4]) : -1;
    const std::string colourSpace = argc > 5 ? argv[5] : "";
    const std::string compressor = argc > 6 ? argv[6] : "";
    FramePipe pipe;
    pipe.Run(argv[1], argv[2], argv[3], duration, colourSpace, compressor);
    return 0;
}

}  // namespace framepipe

// The "media" back-end: a media file, or a script whose source statement names one, decoded with
// libavformat/libavcodec. Video and audio each read the file through a demuxer of their own, so
// either can be read ahead of the other without queueing packets.
#include "platform/avs/clip.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

namespace avs {
namespace {

// One stream of one file, decoded in order.
class Decoder {
public:
    ~Decoder() { Close(); }

    bool Open(const std::string& path, AVMediaType type) {
        Close();
        if (OpenStream(path, type)) return true;
        Close();
        return false;
    }

    void Close() {
        av_frame_free(&frame_);
        av_packet_free(&pkt_);
        avcodec_free_context(&dec_);
        avformat_close_input(&fmt_);
        stream_ = -1;
    }

    bool IsOpen() const { return dec_ != nullptr; }

    // The next decoded frame, or null at the end of the stream or on an error.
    AVFrame* Next() {
        for (;;) {
            int r = avcodec_receive_frame(dec_, frame_);
            if (r == 0) return frame_;
            if (r != AVERROR(EAGAIN) || flushed_) return nullptr;
            r = av_read_frame(fmt_, pkt_);
            if (r < 0) {
                flushed_ = true;
                avcodec_send_packet(dec_, nullptr);
                continue;
            }
            if (pkt_->stream_index == stream_) avcodec_send_packet(dec_, pkt_);
            av_packet_unref(pkt_);
        }
    }

    AVCodecContext* context() const { return dec_; }

private:
    bool OpenStream(const std::string& path, AVMediaType type) {
        if (avformat_open_input(&fmt_, path.c_str(), nullptr, nullptr) < 0) return false;
        if (avformat_find_stream_info(fmt_, nullptr) < 0) return false;
        stream_ = av_find_best_stream(fmt_, type, -1, -1, nullptr, 0);
        if (stream_ < 0) return false;
        const AVCodecParameters* par = fmt_->streams[stream_]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        if (!codec) return false;
        dec_ = avcodec_alloc_context3(codec);
        if (!dec_ || avcodec_parameters_to_context(dec_, par) < 0) return false;
        dec_->thread_count = 0;
        if (avcodec_open2(dec_, codec, nullptr) < 0) return false;
        pkt_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        flushed_ = false;
        return pkt_ && frame_;
    }

    AVFormatContext* fmt_ = nullptr;
    AVCodecContext* dec_ = nullptr;
    AVPacket* pkt_ = nullptr;
    AVFrame* frame_ = nullptr;
    int stream_ = -1;
    bool flushed_ = false;
};

// The pixel type a decoded format is given: its own where one fits, else 4:2:0.
int PixelTypeFor(AVPixelFormat f) {
    switch (f) {
        case AV_PIX_FMT_YUYV422: return AVS_CS_YUY2;
        case AV_PIX_FMT_YUV422P:
        case AV_PIX_FMT_YUVJ422P: return AVS_CS_YV16;
        case AV_PIX_FMT_YUV444P:
        case AV_PIX_FMT_YUVJ444P: return AVS_CS_YV24;
        default: break;
    }
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
    if (d && (d->flags & AV_PIX_FMT_FLAG_RGB)) return (d->flags & AV_PIX_FMT_FLAG_ALPHA) ? AVS_CS_RGB32 : AVS_CS_RGB24;
    return AVS_CS_YV12;
}

// Full-range YUV is handed on as it is, like any other YUV: the values are not rescaled.
AVPixelFormat WithoutRange(AVPixelFormat f) {
    switch (f) {
        case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
        default: return f;
    }
}

struct SampleFormat {
    int avsType;
    AVSampleFormat packed;
};

SampleFormat SampleFormatFor(AVSampleFormat f) {
    switch (av_get_packed_sample_fmt(f)) {
        case AV_SAMPLE_FMT_U8: return {AVS_SAMPLE_INT8, AV_SAMPLE_FMT_U8};
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S64: return {AVS_SAMPLE_INT32, AV_SAMPLE_FMT_S32};
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_DBL: return {AVS_SAMPLE_FLOAT, AV_SAMPLE_FMT_FLT};
        default: return {AVS_SAMPLE_INT16, AV_SAMPLE_FMT_S16};
    }
}

class MediaClip : public Clip {
public:
    ~MediaClip() override { swr_free(&swr_); }

    // Reads the streams' properties; counts frames and samples from the packets where the
    // container does not say.
    std::string Open(const std::string& path, bool withVideo) {
        path_ = path;
        AVFormatContext* fmt = nullptr;
        if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
            return "Import: couldn't open \"" + path + "\"";
        std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> guard(
            fmt, [](AVFormatContext* f) { avformat_close_input(&f); });
        if (avformat_find_stream_info(fmt, nullptr) < 0) return "\"" + path + "\" holds no readable streams";
        int v = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        int a = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (v >= 0 && (!withVideo || (fmt->streams[v]->disposition & AV_DISPOSITION_ATTACHED_PIC))) v = -1;
        if (v < 0 && a < 0) return "\"" + path + "\" has neither video nor audio";

        // PCM packets tell their sample count by their size; other audio only by its time stamps.
        const int pcmBits = a >= 0 ? av_get_bits_per_sample(fmt->streams[a]->codecpar->codec_id) : 0;
        const int pcmBlock = a >= 0 ? pcmBits / 8 * fmt->streams[a]->codecpar->ch_layout.nb_channels : 0;
        int64_t packets = 0, audioTicks = 0, pcmSamples = 0, skipped = 0;
        if (v >= 0 || a >= 0) {
            AVPacket* pkt = av_packet_alloc();
            while (pkt && av_read_frame(fmt, pkt) >= 0) {
                if (pkt->stream_index == v) ++packets;
                if (pkt->stream_index == a && pkt->duration > 0) audioTicks += pkt->duration;
                // Encoder delay and padding (MP3, AAC) that the decoder drops are no samples.
                size_t sdSize = 0;
                const uint8_t* sd = pkt->stream_index == a ? av_packet_get_side_data(pkt, AV_PKT_DATA_SKIP_SAMPLES, &sdSize)
                                                          : nullptr;
                if (sd && sdSize >= 8) skipped += static_cast<int64_t>(AV_RL32(sd)) + AV_RL32(sd + 4);
                if (pkt->stream_index == a && pcmBlock > 0) pcmSamples += pkt->size / pcmBlock;
                av_packet_unref(pkt);
            }
            av_packet_free(&pkt);
        }
        if (v >= 0) {
            const AVStream* s = fmt->streams[v];
            AVRational rate = s->avg_frame_rate.num > 0 && s->avg_frame_rate.den > 0 ? s->avg_frame_rate
                                                                                     : s->r_frame_rate;
            if (rate.num <= 0 || rate.den <= 0) rate = {25, 1};
            vi_.width = s->codecpar->width;
            vi_.height = s->codecpar->height;
            vi_.fps_numerator = static_cast<unsigned>(rate.num);
            vi_.fps_denominator = static_cast<unsigned>(rate.den);
            vi_.num_frames = static_cast<int>(s->nb_frames > 0 ? s->nb_frames : packets);
            vi_.pixel_type = PixelTypeFor(static_cast<AVPixelFormat>(s->codecpar->format));
            if (vi_.width <= 0 || vi_.height <= 0 || vi_.num_frames <= 0) vi_.pixel_type = vi_.width = 0;
        }
        if (a >= 0) {
            const AVStream* s = fmt->streams[a];
            const int rate = s->codecpar->sample_rate;
            SampleFormat sf = SampleFormatFor(static_cast<AVSampleFormat>(s->codecpar->format));
            packedFormat_ = sf.packed;
            vi_.audio_samples_per_second = rate;
            vi_.sample_type = sf.avsType;
            vi_.nchannels = s->codecpar->ch_layout.nb_channels;
            int64_t samples = 0;
            if (pcmSamples > 0)
                samples = pcmSamples;
            else if (skipped > 0 && audioTicks > 0)
                samples = std::max<int64_t>(0, av_rescale_q(audioTicks, s->time_base, {1, rate}) - skipped);
            else if (s->duration != AV_NOPTS_VALUE && s->duration > 0)
                samples = av_rescale_q(s->duration, s->time_base, {1, rate});
            else if (fmt->duration > 0)
                samples = av_rescale(fmt->duration, rate, AV_TIME_BASE);
            else if (audioTicks > 0)
                samples = av_rescale_q(audioTicks, s->time_base, {1, rate});
            vi_.num_audio_samples = samples;
            if (rate <= 0 || vi_.nchannels <= 0) vi_.audio_samples_per_second = vi_.nchannels = 0;
        }
        return {};
    }

    std::unique_ptr<AVS_VideoFrame> GetFrame(int n, std::string& error) override {
        if (!video_.IsOpen() || n < lastIndex_) {
            if (!video_.Open(path_, AVMEDIA_TYPE_VIDEO)) {
                error = "the video of \"" + path_ + "\" cannot be decoded";
                return nullptr;
            }
            lastIndex_ = -1;
            last_.reset();
        }
        while (lastIndex_ < n) {
            AVFrame* f = video_.Next();
            if (!f) break;  // past the decodable end: the last frame stands for the rest
            ++lastIndex_;
            if (f->width != vi_.width || f->height != vi_.height) {
                error = "the picture size changes inside the video";
                return nullptr;
            }
            auto fmt = WithoutRange(static_cast<AVPixelFormat>(f->format));
            last_ = scaler_.Convert(fmt, f->data, f->linesize, f->width, f->height, vi_.pixel_type, error);
            if (!last_) return nullptr;
        }
        if (!last_) {
            error = "frame " + std::to_string(n) + " cannot be decoded";
            return nullptr;
        }
        return std::make_unique<AVS_VideoFrame>(*last_);
    }

    bool GetAudio(void* buf, int64_t start, int64_t count) override {
        const size_t block = static_cast<size_t>(avs_bytes_per_channel_sample(vi_)) * vi_.nchannels;
        if (!audio_.IsOpen() || start < pcmStart_) {
            if (!OpenAudio()) return false;
        }
        // Drop what lies before the request: reads go forward.
        int64_t drop = std::min<int64_t>(start - pcmStart_, static_cast<int64_t>(pcm_.size() / block));
        pcm_.erase(pcm_.begin(), pcm_.begin() + static_cast<ptrdiff_t>(drop * block));
        pcmStart_ += drop;
        while (!audioEnded_ && pcmStart_ + static_cast<int64_t>(pcm_.size() / block) < start + count) {
            AVFrame* f = audio_.Next();
            if (!f) {
                audioEnded_ = true;
                break;
            }
            int outSamples = swr_get_out_samples(swr_, f->nb_samples);
            if (outSamples < 0) return false;
            size_t old = pcm_.size();
            pcm_.resize(old + static_cast<size_t>(outSamples) * block);
            uint8_t* out = pcm_.data() + old;
            int got = swr_convert(swr_, &out, outSamples, const_cast<const uint8_t**>(f->extended_data),
                                  f->nb_samples);
            if (got < 0) return false;
            pcm_.resize(old + static_cast<size_t>(got) * block);
            if (pcmStart_ < start) {  // still before the request: keep nothing of it
                int64_t skip = std::min<int64_t>(start - pcmStart_, static_cast<int64_t>(pcm_.size() / block));
                pcm_.erase(pcm_.begin(), pcm_.begin() + static_cast<ptrdiff_t>(skip * block));
                pcmStart_ += skip;
            }
        }
        const size_t want = static_cast<size_t>(count) * block;
        const size_t have = pcmStart_ == start ? std::min(want, pcm_.size()) : 0;
        std::memcpy(buf, pcm_.data(), have);
        std::memset(static_cast<uint8_t*>(buf) + have, vi_.sample_type == AVS_SAMPLE_INT8 ? 0x80 : 0,
                    want - have);
        return true;
    }

private:
    bool OpenAudio() {
        pcm_.clear();
        pcmStart_ = 0;
        audioEnded_ = false;
        swr_free(&swr_);
        if (!audio_.Open(path_, AVMEDIA_TYPE_AUDIO)) return false;
        AVCodecContext* c = audio_.context();
        if (swr_alloc_set_opts2(&swr_, &c->ch_layout, packedFormat_, c->sample_rate, &c->ch_layout,
                                c->sample_fmt, c->sample_rate, 0, nullptr) < 0)
            return false;
        return swr_init(swr_) >= 0;
    }

    std::string path_;
    Decoder video_;
    int lastIndex_ = -1;
    std::unique_ptr<AVS_VideoFrame> last_;
    Scaler scaler_;

    Decoder audio_;
    SwrContext* swr_ = nullptr;
    AVSampleFormat packedFormat_ = AV_SAMPLE_FMT_S16;
    std::vector<uint8_t> pcm_;  // decoded samples from pcmStart_ on
    int64_t pcmStart_ = 0;
    bool audioEnded_ = false;
};

bool EndsWithAvs(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".avs";
}

}  // namespace

std::shared_ptr<Clip> OpenMedia(const std::string& path, bool withVideo, std::string& error) {
    av_log_set_level(AV_LOG_ERROR);
    auto clip = std::make_shared<MediaClip>();
    error = clip->Open(path, withVideo);
    if (!error.empty()) return nullptr;
    return clip;
}

AVS_Value ImportMedia(const std::string& path) {
    if (EndsWithAvs(path)) return RunScript(path);
    std::string error;
    auto clip = OpenMedia(path, true, error);
    if (!clip) return ErrorValue(error);
    return ClipValue(std::move(clip));
}

}  // namespace avs

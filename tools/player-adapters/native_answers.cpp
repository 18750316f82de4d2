#include "native_answers.h"

#include "answer_common.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

namespace {

// An open input with its streams read; only plain local files, so that nothing here waits on a
// pipe or a device (those go to the player and the engine's time limits).
class Input {
public:
    explicit Input(const std::string& path) {
        size_ = PlainFileSize(path);
        if (size_ < 0) return;
        av_log_set_level(AV_LOG_QUIET);
        if (avformat_open_input(&ic_, path.c_str(), nullptr, nullptr) != 0) {
            ic_ = nullptr;
            return;
        }
        if (avformat_find_stream_info(ic_, nullptr) < 0) avformat_close_input(&ic_);
    }
    ~Input() {
        if (ic_) avformat_close_input(&ic_);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    AVFormatContext* get() const { return ic_; }
    int64_t size() const { return size_; }

private:
    AVFormatContext* ic_ = nullptr;
    int64_t size_ = 0;
};

// How the player reads a container: its own audio reader for plain WAVE files, the FFmpeg reader
// (which it prefers) for these containers. Anything else is left to the player.
enum class Reader { kNone, kAudio, kLavfPref };

Reader ReaderOf(const AVFormatContext* ic) {
    const char* name = ic->iformat ? ic->iformat->name : "";
    if (Is(name, "wav")) return Reader::kAudio;
    for (const char* n : {"flac", "ogg", "matroska,webm", "mov,mp4,m4a,3gp,3g2,mj2", "wv"})
        if (Is(name, n)) return Reader::kLavfPref;
    return Reader::kNone;
}

// The player's name and format tag of a codec it decodes through FFmpeg.
struct CodecRow {
    AVCodecID id;
    const char* player;  // "ID_AUDIO_CODEC"
    const char* format;  // "ID_AUDIO_FORMAT" as the player prints it
    bool lossless;       // decoded here sample for sample as the player does
};
constexpr CodecRow kCodecs[] = {
    {AV_CODEC_ID_FLAC, "ffflac", "61868", true},
    {AV_CODEC_ID_WAVPACK, "ffwavpack", "WVPK", true},
    {AV_CODEC_ID_VORBIS, "ffvorbis", "22127", false},
    {AV_CODEC_ID_OPUS, "ffopus", "opus", false},
    {AV_CODEC_ID_AAC, "ffaac", "MP4A", false},
};

const CodecRow* RowOf(AVCodecID id) {
    for (const CodecRow& row : kCodecs)
        if (row.id == id) return &row;
    return nullptr;
}

int Channels(const AVStream* s) { return s->codecpar->ch_layout.nb_channels; }

// The audio stream a request selects: the aid-th audio stream, or the first; -1 when none.
int SelectAudio(const AVFormatContext* ic, int aid) {
    int seen = 0;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        if (ic->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
        if (aid < 0 || seen == aid) return static_cast<int>(i);
        ++seen;
    }
    return -1;
}

// True when every stream is audio in a codec of the table (or PCM in a WAVE file) with 1 or 2
// channels: then the player's output is known line for line.
bool UnderstoodStreams(const AVFormatContext* ic, Reader reader) {
    if (ic->nb_streams == 0) return false;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVCodecParameters* p = ic->streams[i]->codecpar;
        if (p->codec_type != AVMEDIA_TYPE_AUDIO || (ic->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC)) return false;
        const int ch = p->ch_layout.nb_channels;
        if (ch < 1 || ch > 2 || p->sample_rate <= 0) return false;
        const bool pcm = p->codec_id == AV_CODEC_ID_PCM_S16LE || p->codec_id == AV_CODEC_ID_PCM_S24LE ||
                         p->codec_id == AV_CODEC_ID_PCM_S32LE;
        if (reader == Reader::kAudio ? !pcm : !RowOf(p->codec_id)) return false;
        // A stream's language or title adds lines of its own.
        const AVDictionaryEntry* language = av_dict_get(ic->streams[i]->metadata, "language", nullptr, 0);
        if ((language && !Is(language->value, "und")) || av_dict_get(ic->streams[i]->metadata, "title", nullptr, 0))
            return false;
    }
    return true;
}

// The player starts its clock at the first packet's time, before the decoder drops its priming
// samples (so an Opus or AAC file starts a little below 0).
double FirstPacketTime(AVFormatContext* ic) {
    double start = ic->start_time == AV_NOPTS_VALUE ? 0.0 : ic->start_time / 1e6;
    AVPacket* packet = av_packet_alloc();
    if (packet && av_read_frame(ic, packet) == 0) {
        const int64_t t = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (t != AV_NOPTS_VALUE) start = t * av_q2d(ic->streams[packet->stream_index]->time_base);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return start;
}

// ---------------------------------------------------------------------------------------------
// Decoding

// One frame's samples, left-aligned in 32 bits, written interleaved at the output's depth (the
// player's format filter drops the low bits when it narrows and adds zeros when it widens).
bool WriteFrame(int fd, const AVFrame* frame, int bits, std::vector<unsigned char>& out) {
    const int channels = frame->ch_layout.nb_channels;
    const int samples = frame->nb_samples;
    const auto fmt = static_cast<AVSampleFormat>(frame->format);
    const bool planar = av_sample_fmt_is_planar(fmt) != 0;
    const AVSampleFormat packed = av_get_packed_sample_fmt(fmt);
    if (packed != AV_SAMPLE_FMT_S16 && packed != AV_SAMPLE_FMT_S32) return false;
    const int bytes = bits / 8;
    out.resize(static_cast<size_t>(samples) * channels * bytes);
    unsigned char* o = out.data();
    for (int i = 0; i < samples; ++i) {
        for (int c = 0; c < channels; ++c) {
            const int index = planar ? i : i * channels + c;
            const uint8_t* plane = frame->extended_data[planar ? c : 0];
            int32_t v;
            if (packed == AV_SAMPLE_FMT_S16) {
                int16_t s;
                memcpy(&s, plane + 2 * index, 2);
                v = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(s)) << 16);
            } else {
                memcpy(&v, plane + 4 * index, 4);
            }
            const uint32_t u = static_cast<uint32_t>(v) >> (32 - bits);
            for (int b = 0; b < bytes; ++b) *o++ = static_cast<unsigned char>((u >> (8 * b)) & 0xFF);
        }
    }
    return WriteAll(fd, out.data(), out.size());
}

}  // namespace

extern "C" int AnswerIdentify(int argc, char** argv) {
    const Request r = ParseRequest(argc, argv);
    if (!IsIdentifyRequest(r)) return kAskThePlayer;
    Input in(r.input);
    AVFormatContext* ic = in.get();
    if (!ic) return kAskThePlayer;
    const Reader reader = ReaderOf(ic);
    if (reader == Reader::kNone || !UnderstoodStreams(ic, reader)) return kAskThePlayer;
    const int index = SelectAudio(ic, r.aid);
    if (index < 0) return kAskThePlayer;
    const AVStream* s = ic->streams[index];
    const AVCodecParameters* p = s->codecpar;
    if (r.channels && Channels(s) > r.channels) return kAskThePlayer;

    std::string out = r.reallyQuiet ? "" : "Playing " + r.input + ".\n";
    // The player's messages; "-really-quiet" leaves only the "ID_" lines.
    auto line = [&](const std::string& text) {
        if (!r.reallyQuiet) out += text + "\n";
    };
    auto id = [&](const char* key, const std::string& value) { out += std::string("ID_") + key + "=" + value + "\n"; };
    const std::string channels = std::to_string(Channels(s)), rate = std::to_string(p->sample_rate);
    if (reader == Reader::kAudio) {
        WaveFacts facts;
        if (!ReadWaveFacts(r.input, in.size(), &facts)) return kAskThePlayer;
        AppendWaveIdentify(&out, facts, r.input, channels, rate, r.reallyQuiet);
    } else {
        if (ic->duration == AV_NOPTS_VALUE || ic->duration <= 0) return kAskThePlayer;
        const CodecRow* row = RowOf(p->codec_id);
        // The player keeps the rate in bytes per second.
        const std::string bitrate = std::to_string(p->bit_rate / 8 * 8);
        line("libavformat file format detected.");
        int audio = 0;
        for (unsigned i = 0; i < ic->nb_streams; ++i) id("AUDIO_ID", std::to_string(audio++));
        int n = 0;
        for (const AVDictionaryEntry* t = nullptr; (t = av_dict_get(ic->metadata, "", t, AV_DICT_IGNORE_SUFFIX)); ++n) {
            id(("CLIP_INFO_NAME" + std::to_string(n)).c_str(), t->key);
            id(("CLIP_INFO_VALUE" + std::to_string(n)).c_str(), t->value);
        }
        if (n > 0) id("CLIP_INFO_N", std::to_string(n));
        id("FILENAME", r.input);
        id("DEMUXER", "lavfpref");
        id("AUDIO_FORMAT", row->format);
        id("AUDIO_BITRATE", bitrate);
        id("AUDIO_RATE", rate);
        id("AUDIO_NCH", channels);
        id("START_TIME", Fixed2(FirstPacketTime(ic)));
        id("LENGTH", Fixed2(ic->duration / 1e6));
        id("SEEKABLE", "1");
        id("CHAPTERS", std::to_string(ic->nb_chapters));
        id("AUDIO_BITRATE", bitrate);
        id("AUDIO_RATE", rate);
        id("AUDIO_NCH", channels);
        id("AUDIO_CODEC", row->player);
    }
    id("EXIT", "EOF");
    line("");
    line("Exiting... (End of file)");
    return WriteAll(1, out.data(), out.size()) ? 0 : 1;
}

extern "C" int AnswerDecode(int argc, char** argv) {
    const Request r = ParseRequest(argc, argv);
    if (!IsDecodeRequest(r)) return kAskThePlayer;
    bool header = true;
    std::string file;
    int fd = -1;
    ParseAudioOut(r.ao, &header, &file, &fd);
    const int bits = RequestedBits(r);

    Input in(r.input);
    AVFormatContext* ic = in.get();
    if (!ic) return kAskThePlayer;
    const Reader reader = ReaderOf(ic);
    if (reader == Reader::kNone || !UnderstoodStreams(ic, reader)) return kAskThePlayer;
    // More than one audio stream without a choice: which one the player takes is its own rule.
    int audioStreams = 0;
    for (unsigned i = 0; i < ic->nb_streams; ++i) audioStreams += ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    if (audioStreams > 1 && r.aid < 0) return kAskThePlayer;
    const int index = SelectAudio(ic, r.aid);
    if (index < 0) return kAskThePlayer;
    AVStream* s = ic->streams[index];
    const AVCodecParameters* p = s->codecpar;
    const CodecRow* row = RowOf(p->codec_id);
    if (reader == Reader::kLavfPref && (!row || !row->lossless)) return kAskThePlayer;
    if (r.channels && r.channels != Channels(s)) return kAskThePlayer;
    if (reader == Reader::kAudio) {
        WaveFacts facts;
        if (!ReadWaveFacts(r.input, in.size(), &facts)) return kAskThePlayer;
    }

    const AVCodec* codec = avcodec_find_decoder(p->codec_id);
    if (!codec) return kAskThePlayer;
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    if (!dec || avcodec_parameters_to_context(dec, p) < 0 || avcodec_open2(dec, codec, nullptr) < 0) {
        avcodec_free_context(&dec);
        return kAskThePlayer;
    }

    // From here on the request is this program's: failures end it as the player's would.
    signal(SIGPIPE, SIG_IGN);
    bool ownFd = false;
    fd = OpenAudioOut(file, fd, &ownFd);
    if (fd < 0) {
        avcodec_free_context(&dec);
        return 1;
    }
    const int channels = Channels(s);
    unsigned char h[44];
    WaveHeader(h, channels, p->sample_rate, bits, 0x7ffff000u);
    bool ok = !header || WriteAll(fd, h, sizeof h);
    uint64_t written = 0;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<unsigned char> buffer;
    auto drain = [&]() {
        while (ok) {
            const int got = avcodec_receive_frame(dec, frame);
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return;
            if (got < 0) {
                ok = false;
                return;
            }
            if (frame->ch_layout.nb_channels != channels) ok = false;
            else ok = WriteFrame(fd, frame, bits, buffer);
            written += buffer.size();
            av_frame_unref(frame);
        }
    };
    while (ok) {
        const int read = av_read_frame(ic, packet);
        if (read < 0) break;
        if (packet->stream_index == index) {
            // A damaged packet is skipped, as the player skips it.
            if (avcodec_send_packet(dec, packet) == 0) drain();
        }
        av_packet_unref(packet);
    }
    if (ok && avcodec_send_packet(dec, nullptr) == 0) drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&dec);

    // A file gets its true sizes, as the player rewrites them when it can seek.
    if (ok && header && lseek(fd, 0, SEEK_SET) == 0) {
        WaveHeader(h, channels, p->sample_rate, bits, static_cast<uint32_t>(std::min<uint64_t>(written, 0xFFFFFFFFu - 36)));
        ok = WriteAll(fd, h, sizeof h);
    }
    if (ownFd) close(fd);
    return ok ? 0 : 1;
}

#include "native_answers.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
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

bool Is(const char* a, const char* b) { return strcmp(a, b) == 0; }

// The words of a request the adapter may answer; unknown is set by any other option.
struct Request {
    bool identify = false, unknown = false, framesGiven = false, stdinInput = false;
    bool reallyQuiet = false;  // only the "ID_" lines are printed
    std::string vo, ao, af, input;
    int channels = 0;  // -channels, 0 when absent
    int aid = -1;      // -aid, -1 when absent
    bool timed = false;  // -endpos given
};

bool ParseNumber(const char* text, long lo, long hi, long* out) {
    char* end = nullptr;
    errno = 0;
    const long v = strtol(text, &end, 10);
    if (errno || end == text || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}

Request ParseRequest(int argc, char** argv) {
    Request r;
    static const char* const kQuiet[] = {"-benchmark", "-nomsgcolor", "-quiet", "-noautosub", "-nosub"};
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool plain = false;
        for (const char* q : kQuiet) plain |= Is(a, q);
        long n = 0;
        if (plain) continue;
        if (Is(a, "-really-quiet")) {
            r.reallyQuiet = true;
        } else if (Is(a, "-identify")) {
            r.identify = true;
        } else if (Is(a, "-vo") && value) {
            r.vo = argv[++i];
        } else if (Is(a, "-ao") && value) {
            r.ao = argv[++i];
        } else if (Is(a, "-af") && value && r.af.empty()) {
            r.af = argv[++i];
        } else if (Is(a, "-channels") && value && ParseNumber(value, 1, 8, &n)) {
            r.channels = static_cast<int>(n);
            ++i;
        } else if (Is(a, "-aid") && value && ParseNumber(value, 0, 8191, &n)) {
            r.aid = static_cast<int>(n);
            ++i;
        } else if (Is(a, "-frames") && value && ParseNumber(value, 0, 1 << 30, &n)) {
            r.framesGiven = true;
            ++i;
        } else if (Is(a, "-endpos") && value) {
            r.timed = true;
            ++i;
        } else if (Is(a, "-")) {
            r.stdinInput = true;
        } else if (a[0] != '-' && r.input.empty()) {
            r.input = a;
        } else {
            r.unknown = true;
        }
    }
    return r;
}

// An open input with its streams read; only plain local files, so that nothing here waits on a
// pipe or a device (those go to the player and the engine's time limits).
class Input {
public:
    explicit Input(const std::string& path) {
        struct stat st {};
        if (path.empty() || path.find("://") != std::string::npos || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return;
        size_ = st.st_size;
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

// A plain PCM WAVE file as the player's audio reader takes it: tag 1, 16, 24 or 32 bits, 1 or 2
// channels. The data's offset and length come from the file's own chunks.
struct WaveFacts {
    int64_t dataOffset = 0, dataLength = 0;
    uint32_t avgBytes = 0;
};

bool ReadWaveFacts(const std::string& path, int64_t fileSize, WaveFacts* facts) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char head[12];
    bool ok = fread(head, 1, 12, f) == 12 && !memcmp(head, "RIFF", 4) && !memcmp(head + 8, "WAVE", 4);
    bool haveFormat = false;
    int64_t at = 12;
    while (ok) {
        unsigned char chunk[8];
        if (fseek(f, at, SEEK_SET) != 0 || fread(chunk, 1, 8, f) != 8) {
            ok = false;
            break;
        }
        const uint32_t length = chunk[4] | chunk[5] << 8 | chunk[6] << 16 | static_cast<uint32_t>(chunk[7]) << 24;
        if (!memcmp(chunk, "fmt ", 4)) {
            unsigned char fmt[16];
            if (length < 16 || fread(fmt, 1, 16, f) != 16) {
                ok = false;
                break;
            }
            const unsigned tag = fmt[0] | fmt[1] << 8, channels = fmt[2] | fmt[3] << 8, bits = fmt[14] | fmt[15] << 8;
            facts->avgBytes = fmt[8] | fmt[9] << 8 | fmt[10] << 16 | static_cast<uint32_t>(fmt[11]) << 24;
            ok = tag == 1 && (channels == 1 || channels == 2) && (bits == 16 || bits == 24 || bits == 32) &&
                 facts->avgBytes > 0;
            haveFormat = true;
        } else if (!memcmp(chunk, "data", 4)) {
            facts->dataOffset = at + 8;
            facts->dataLength = std::min<int64_t>(length, fileSize - facts->dataOffset);
            break;
        }
        at += 8 + length + (length & 1);
    }
    fclose(f);
    return ok && haveFormat && facts->dataOffset > 0;
}

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

std::string Fixed2(double v) {
    char text[64];
    snprintf(text, sizeof text, "%.2f", v);
    return text;
}

// ---------------------------------------------------------------------------------------------
// Decoding

// The output the request names: "pcm" with "waveheader" or "nowaveheader", "fast", and "file=" or
// "pipe=" (a descriptor, in hex after "0x" or decimal). False for anything else.
bool ParseAudioOut(const std::string& ao, bool* header, std::string* file, int* fd) {
    if (ao.rfind("pcm", 0) != 0 || (ao.size() > 3 && ao[3] != ':')) return false;
    *header = true;
    size_t start = 4;
    while (start < ao.size()) {
        size_t colon = ao.find(':', start);
        const std::string part = ao.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (part == "waveheader") *header = true;
        else if (part == "nowaveheader") *header = false;
        else if (part == "fast") {
        } else if (part.rfind("file=", 0) == 0) {
            // "file=" runs to the end: a path may hold colons.
            *file = ao.substr(start + 5);
            break;
        } else if (part.rfind("pipe=", 0) == 0) {
            const std::string v = part.substr(5);
            char* end = nullptr;
            const long n = v.rfind("0x", 0) == 0 ? strtol(v.c_str() + 2, &end, 16) : strtol(v.c_str(), &end, 10);
            if (!end || *end || n < 0 || n > 65535) return false;
            *fd = static_cast<int>(n);
        } else {
            return false;
        }
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    if (file->rfind("/dev/fd/", 0) == 0) {
        char* end = nullptr;
        const long n = strtol(file->c_str() + 8, &end, 10);
        if (end && !*end && n >= 0 && n <= 65535) {
            *fd = static_cast<int>(n);
            file->clear();
        }
    }
    return !file->empty() || *fd >= 0;
}

bool WriteAll(int fd, const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t put = write(fd, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put, n -= static_cast<size_t>(put);
    }
    return true;
}

void Put16(unsigned char* at, uint32_t v) { at[0] = v & 0xFF, at[1] = (v >> 8) & 0xFF; }
void Put32(unsigned char* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

// The player's header: a PCM format record and, while the length is unknown, the sizes it writes
// for a stream (0x7ffff000 bytes of data).
void WaveHeader(unsigned char* h, int channels, int rate, int bits, uint32_t dataBytes) {
    const uint32_t align = static_cast<uint32_t>(channels * bits / 8);
    memcpy(h, "RIFF", 4);
    Put32(h + 4, dataBytes + 36);
    memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 16);
    Put16(h + 20, 1);
    Put16(h + 22, static_cast<uint32_t>(channels));
    Put32(h + 24, static_cast<uint32_t>(rate));
    Put32(h + 28, static_cast<uint32_t>(rate) * align);
    Put16(h + 32, align);
    Put16(h + 34, static_cast<uint32_t>(bits));
    memcpy(h + 36, "data", 4);
    Put32(h + 40, dataBytes);
}

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

int AnswerIdentify(int argc, char** argv) {
    const Request r = ParseRequest(argc, argv);
    if (!r.identify || r.unknown || r.stdinInput || !r.framesGiven || r.vo != "null" || r.ao != "null" || !r.af.empty())
        return kAskThePlayer;
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
        const std::string bitrate = std::to_string(static_cast<uint64_t>(facts.avgBytes) * 8);
        id("AUDIO_ID", "0");
        line("Audio only file format detected.");
        id("FILENAME", r.input);
        id("DEMUXER", "audio");
        id("AUDIO_FORMAT", "1");
        id("AUDIO_BITRATE", bitrate);
        id("AUDIO_RATE", "0");
        id("AUDIO_NCH", channels);
        id("START_TIME", "0.00");
        id("LENGTH", Fixed2(static_cast<double>(facts.dataLength) / facts.avgBytes));
        id("SEEKABLE", "1");
        id("CHAPTERS", "0");
        id("AUDIO_BITRATE", bitrate);
        id("AUDIO_RATE", rate);
        id("AUDIO_NCH", channels);
        id("AUDIO_CODEC", "pcm");
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

int AnswerDecode(int argc, char** argv) {
    const Request r = ParseRequest(argc, argv);
    if (r.identify || r.unknown || r.stdinInput || r.framesGiven || r.timed || r.vo != "null") return kAskThePlayer;
    bool header = true;
    std::string file;
    int fd = -1;
    if (!ParseAudioOut(r.ao, &header, &file, &fd)) return kAskThePlayer;
    int bits = 0;
    if (r.af == "format=s16le") bits = 16;
    else if (r.af == "format=s24le") bits = 24;
    else if (r.af == "format=s32le") bits = 32;
    else return kAskThePlayer;

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
    if (!file.empty()) {
        fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            fprintf(stderr, "Can't open output file '%s'\n", file.c_str());
            avcodec_free_context(&dec);
            return 1;
        }
        ownFd = true;
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

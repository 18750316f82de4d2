#include "light_answers.h"

#include <FLAC/stream_decoder.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "answer_common.h"
#include "identify_answers.h"

namespace {

// The decode into the output: the samples left-aligned in 32 bits and written at the requested
// depth, as the FFmpeg decoder's output goes through the player's format filter.
struct FlacOutput {
    int fd = -1;
    unsigned channels = 0, bits = 0, outBits = 0;
    uint64_t written = 0;
    bool failed = false;
    std::vector<unsigned char> buffer;
};

FLAC__StreamDecoderWriteStatus WriteFlacFrame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                              const FLAC__int32* const samples[], void* data) {
    auto* out = static_cast<FlacOutput*>(data);
    // A frame that changes the stream's layout is one the FFmpeg decoder refuses, and so skips.
    if (frame->header.channels != out->channels || frame->header.bits_per_sample != out->bits)
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    const unsigned bytes = out->outBits / 8, blocks = frame->header.blocksize;
    out->buffer.resize(static_cast<size_t>(blocks) * out->channels * bytes);
    unsigned char* o = out->buffer.data();
    for (unsigned i = 0; i < blocks; ++i)
        for (unsigned c = 0; c < out->channels; ++c) {
            const uint32_t u = (static_cast<uint32_t>(samples[c][i]) << (32 - out->bits)) >> (32 - out->outBits);
            for (unsigned b = 0; b < bytes; ++b) *o++ = static_cast<unsigned char>((u >> (8 * b)) & 0xFF);
        }
    if (!WriteAll(out->fd, out->buffer.data(), out->buffer.size())) {
        out->failed = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    out->written += out->buffer.size();
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

// A damaged frame is passed over, as the player passes over a packet it cannot decode.
void FlacError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

}  // namespace

int AnswerWaveIdentify(int argc, char** argv) {
    std::string text;
    if (!WaveIdentifyText(ParseRequest(argc, argv), &text)) return kAskThePlayer;
    return WriteAll(1, text.data(), text.size()) ? 0 : 1;
}

int AnswerFlacIdentify(int argc, char** argv) {
    std::string text;
    if (!FlacIdentifyText(ParseRequest(argc, argv), &text)) return kAskThePlayer;
    return WriteAll(1, text.data(), text.size()) ? 0 : 1;
}

int AnswerFlacDecode(int argc, char** argv) {
    const Request r = ParseRequest(argc, argv);
    if (!IsDecodeRequest(r) || r.aid > 0 || PlainFileSize(r.input) < 0) return kAskThePlayer;
    FlacFacts facts;
    if (!ReadFlacFacts(r.input, &facts) || facts.picture || facts.channels < 1 || facts.channels > 2 || facts.rate == 0 ||
        facts.bits < 4 || facts.bits > 24)
        return kAskThePlayer;
    if (r.channels && static_cast<unsigned>(r.channels) != facts.channels) return kAskThePlayer;
    bool header = true;
    std::string file;
    int fd = -1;
    ParseAudioOut(r.ao, &header, &file, &fd);

    std::unique_ptr<FLAC__StreamDecoder, void (*)(FLAC__StreamDecoder*)> decoder(FLAC__stream_decoder_new(),
                                                                                FLAC__stream_decoder_delete);
    FlacOutput out;
    out.channels = facts.channels;
    out.bits = facts.bits;
    out.outBits = static_cast<unsigned>(RequestedBits(r));
    if (!decoder ||
        FLAC__stream_decoder_init_file(decoder.get(), r.input.c_str(), WriteFlacFrame, nullptr, FlacError, &out) !=
            FLAC__STREAM_DECODER_INIT_STATUS_OK)
        return kAskThePlayer;

    // From here on the request is this program's: failures end it as the player's would.
    signal(SIGPIPE, SIG_IGN);
    bool ownFd = false;
    fd = OpenAudioOut(file, fd, &ownFd);
    if (fd < 0) return 1;
    out.fd = fd;
    unsigned char h[44];
    WaveHeader(h, static_cast<int>(facts.channels), static_cast<int>(facts.rate), static_cast<int>(out.outBits), 0x7ffff000u);
    bool ok = !header || WriteAll(fd, h, sizeof h);
    if (ok) ok = FLAC__stream_decoder_process_until_end_of_stream(decoder.get()) && !out.failed;
    FLAC__stream_decoder_finish(decoder.get());
    // A file gets its true sizes, as the player rewrites them when it can seek.
    if (ok && header && lseek(fd, 0, SEEK_SET) == 0) {
        WaveHeader(h, static_cast<int>(facts.channels), static_cast<int>(facts.rate), static_cast<int>(out.outBits),
                   static_cast<uint32_t>(std::min<uint64_t>(out.written, 0xFFFFFFFFu - 36)));
        ok = WriteAll(fd, h, sizeof h);
    }
    if (ownFd) close(fd);
    return ok ? 0 : 1;
}

#include "identify_answers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Every chunk of the WAVE file is one the FFmpeg reader takes without adding a stream or changing
// the codec: no ID3 chunk (its picture is a stream), no video companion, nothing unknown. The chunk
// list is walked past the data too, where such readers look as well.
bool OnlyPlainChunks(FILE* f, int64_t fileSize) {
    static const char* const kPlain[] = {"fmt ", "data", "LIST", "fact", "JUNK", "junk", "PAD "};
    int64_t at = 12;
    while (at + 8 <= fileSize) {
        unsigned char chunk[8];
        if (fseek(f, at, SEEK_SET) != 0 || fread(chunk, 1, 8, f) != 8) return false;
        bool plain = false;
        for (const char* id : kPlain) plain |= memcmp(chunk, id, 4) == 0;
        if (!plain) return false;
        const uint32_t length = Le32(chunk + 4);
        at += 8 + int64_t{length} + (length & 1);
    }
    return true;
}

// The first 64 KiB of the data hold no sync word of compressed audio carried in PCM (an IEC 61937
// burst, a DTS frame): such a file is read as that codec by the FFmpeg reader. Such a stream is
// made of 16-bit words, so only a word's start is looked at: plain samples hold the same four
// bytes straddling two words now and then (one pink-noise file in ten), and the player reads
// those as PCM too.
bool PlainSamples(FILE* f, const WaveFacts& facts) {
    std::vector<unsigned char> data(static_cast<size_t>(std::min<int64_t>(facts.dataLength, (1 << 16) + 16)));
    if (fseek(f, facts.dataOffset, SEEK_SET) != 0 || fread(data.data(), 1, data.size(), f) != data.size()) return false;
    static const unsigned char kSync[][4] = {
        {0x72, 0xF8, 0x1F, 0x4E}, {0xF8, 0x72, 0x4E, 0x1F},  // IEC 61937, both byte orders
        {0x7F, 0xFE, 0x80, 0x01}, {0xFE, 0x7F, 0x01, 0x80},  // DTS
        {0x1F, 0xFF, 0xE8, 0x00}, {0xFF, 0x1F, 0x00, 0xE8},  // DTS in 14-bit words
    };
    for (size_t i = 0; i + 4 <= data.size(); i += 2)
        for (const auto& sync : kSync)
            if (memcmp(data.data() + i, sync, 4) == 0) return false;
    return true;
}

bool ReadComments(const std::vector<unsigned char>& block, FlacFacts* facts) {
    size_t at = 0;
    auto word = [&](uint32_t* v) {
        if (block.size() - at < 4) return false;
        *v = Le32(block.data() + at);
        at += 4;
        return true;
    };
    uint32_t length = 0, count = 0;
    if (!word(&length) || block.size() - at < length) return false;
    at += length;  // the vendor string, which the reader keeps no tag of
    if (!word(&count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (!word(&length) || block.size() - at < length) return false;
        facts->comments.emplace_back(reinterpret_cast<const char*>(block.data() + at), length);
        at += length;
    }
    return true;
}

bool SameKey(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The FFmpeg reader's tag list: keys match without regard to ASCII case; setting a key that is
// there already takes the old entry out (the last entry fills its place) and adds the new one at
// the end, with the old value before the new when appending.
class TagList {
public:
    void Set(const std::string& key, const std::string& value, bool append) {
        std::string joined = value;
        for (size_t i = 0; i < tags_.size(); ++i) {
            if (!SameKey(tags_[i].first, key)) continue;
            if (append) joined = tags_[i].second + value;
            tags_[i] = tags_.back();
            tags_.pop_back();
            break;
        }
        tags_.emplace_back(key, joined);
    }
    bool Has(const std::string& key) const {
        for (const auto& tag : tags_)
            if (SameKey(tag.first, key)) return true;
        return false;
    }
    const std::vector<std::pair<std::string, std::string>>& tags() const { return tags_; }

private:
    std::vector<std::pair<std::string, std::string>> tags_;
};

// The file's comments as the FFmpeg reader lists them: repeated keys joined with ';', four keys
// renamed to their common names. False for a comment that becomes a picture or a chapter there.
bool ReaderTags(const FlacFacts& facts, std::vector<std::pair<std::string, std::string>>* out) {
    TagList read;
    for (const std::string& comment : facts.comments) {
        const size_t eq = comment.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == comment.size()) continue;
        const std::string key = comment.substr(0, eq), value = comment.substr(eq + 1);
        if (SameKey(key, "METADATA_BLOCK_PICTURE") || (key.size() >= 7 && SameKey(key.substr(0, 7), "CHAPTER")))
            return false;
        // A value with a NUL in it ends there in the reader's list.
        if (key.find('\0') != std::string::npos || value.find('\0') != std::string::npos) return false;
        if (read.Has(key)) read.Set(key, ";", true);
        read.Set(key, value, true);
    }
    static const char* const kRenamed[][2] = {
        {"ALBUMARTIST", "album_artist"}, {"TRACKNUMBER", "track"}, {"DISCNUMBER", "disc"}, {"DESCRIPTION", "comment"}};
    TagList renamed;
    for (const auto& [key, value] : read.tags()) {
        std::string name = key;
        for (const auto& pair : kRenamed)
            if (SameKey(key, pair[0])) {
                name = pair[1];
                break;
            }
        renamed.Set(name, value, false);
    }
    *out = renamed.tags();
    return true;
}

}  // namespace

bool ReadFlacFacts(const std::string& path, FlacFacts* facts) {
    File f(fopen(path.c_str(), "rb"));
    unsigned char magic[4];
    if (!f || fread(magic, 1, 4, f.get()) != 4 || memcmp(magic, "fLaC", 4) != 0) return false;
    bool haveInfo = false;
    for (bool last = false; !last;) {
        unsigned char head[4];
        if (fread(head, 1, 4, f.get()) != 4) return false;
        last = head[0] & 0x80;
        const unsigned type = head[0] & 0x7F;
        const long length = head[1] << 16 | head[2] << 8 | head[3];
        if (type == 0 && length >= 18) {
            unsigned char info[18];
            if (fread(info, 1, 18, f.get()) != 18 || fseek(f.get(), length - 18, SEEK_CUR) != 0) return false;
            facts->rate = info[10] << 12 | info[11] << 4 | info[12] >> 4;
            facts->channels = ((info[12] >> 1) & 7) + 1;
            facts->bits = ((info[12] & 1) << 4 | info[13] >> 4) + 1;
            facts->samples = uint64_t{info[13] & 0x0Fu} << 32 | uint64_t{info[14]} << 24 | uint64_t{info[15]} << 16 |
                             uint64_t{info[16]} << 8 | info[17];
            haveInfo = true;
        } else if (type == 4) {
            std::vector<unsigned char> block(static_cast<size_t>(length));
            if (fread(block.data(), 1, block.size(), f.get()) != block.size() || !ReadComments(block, facts)) return false;
            ++facts->commentBlocks;
        } else {
            if (type == 6) facts->picture = true;
            if (type == 5) facts->cueSheet = true;
            if (type == 127 || fseek(f.get(), length, SEEK_CUR) != 0) return false;
        }
    }
    return haveInfo;
}

bool WaveIdentifyText(const Request& r, std::string* text) {
    if (!IsIdentifyRequest(r) || r.aid > 0) return false;
    const int64_t size = PlainFileSize(r.input);
    WaveFacts facts;
    if (size < 0 || !ReadWaveFacts(r.input, size, &facts) || facts.sampleRate == 0) return false;
    if (r.channels && facts.channels > r.channels) return false;
    {
        File f(fopen(r.input.c_str(), "rb"));
        if (!f || !OnlyPlainChunks(f.get(), size) || !PlainSamples(f.get(), facts)) return false;
    }
    std::string out = r.reallyQuiet ? "" : "Playing " + r.input + ".\n";
    auto line = [&](const std::string& text) {
        if (!r.reallyQuiet) out += text + "\n";
    };
    auto id = [&](const char* key, const std::string& value) { out += std::string("ID_") + key + "=" + value + "\n"; };
    const std::string channels = std::to_string(facts.channels), rate = std::to_string(facts.sampleRate);
    AppendWaveIdentify(&out, facts, r.input, channels, rate, r.reallyQuiet);
    id("EXIT", "EOF");
    line("");
    line("Exiting... (End of file)");
    *text = std::move(out);
    return true;
}

bool FlacIdentifyText(const Request& r, std::string* text) {
    if (!IsIdentifyRequest(r) || r.aid > 0 || PlainFileSize(r.input) < 0) return false;
    FlacFacts facts;
    std::vector<std::pair<std::string, std::string>> tags;
    if (!ReadFlacFacts(r.input, &facts) || facts.picture || facts.cueSheet || facts.commentBlocks > 1 ||
        facts.channels < 1 || facts.channels > 2 || facts.rate == 0 || facts.samples == 0 || !ReaderTags(facts, &tags))
        return false;
    if (r.channels && facts.channels > static_cast<unsigned>(r.channels)) return false;
    // The length in microseconds, rounded to the nearest, as the reader gives it.
    const uint64_t micros = (facts.samples * 1000000 + facts.rate / 2) / facts.rate;

    std::string out = r.reallyQuiet ? "" : "Playing " + r.input + ".\n";
    auto line = [&](const std::string& text) {
        if (!r.reallyQuiet) out += text + "\n";
    };
    auto id = [&](const std::string& key, const std::string& value) { out += "ID_" + key + "=" + value + "\n"; };
    const std::string channels = std::to_string(facts.channels), rate = std::to_string(facts.rate);
    // The reader gives a FLAC stream no bitrate.
    const std::string bitrate = "0";
    line("libavformat file format detected.");
    id("AUDIO_ID", "0");
    for (size_t n = 0; n < tags.size(); ++n) {
        id("CLIP_INFO_NAME" + std::to_string(n), tags[n].first);
        id("CLIP_INFO_VALUE" + std::to_string(n), tags[n].second);
    }
    if (!tags.empty()) id("CLIP_INFO_N", std::to_string(tags.size()));
    id("FILENAME", r.input);
    id("DEMUXER", "lavfpref");
    id("AUDIO_FORMAT", "61868");
    id("AUDIO_BITRATE", bitrate);
    id("AUDIO_RATE", rate);
    id("AUDIO_NCH", channels);
    id("START_TIME", "0.00");
    id("LENGTH", Fixed2(static_cast<double>(micros) / 1e6));
    id("SEEKABLE", "1");
    id("CHAPTERS", "0");
    id("AUDIO_BITRATE", bitrate);
    id("AUDIO_RATE", rate);
    id("AUDIO_NCH", channels);
    id("AUDIO_CODEC", "ffflac");
    id("EXIT", "EOF");
    line("");
    line("Exiting... (End of file)");
    *text = std::move(out);
    return true;
}

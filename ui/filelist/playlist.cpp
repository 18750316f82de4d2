#include "ui/filelist/playlist.h"

#include <algorithm>
#include <climits>

#include "engine/queue/queue.h"
#include "ui/filelist/list_text.h"

namespace {

// The leading integer of a token as atoi reads it (a fraction is cut off), clamped to 64 bits'
// safe range; nullopt when the token holds no digit.
std::optional<long long> TokenNumber(std::string_view token) {
    token = filelist::SkipBlanks(token);
    bool negative = false;
    if (!token.empty() && (token[0] == '-' || token[0] == '+')) {
        negative = token[0] == '-';
        token.remove_prefix(1);
    }
    long long value = 0;
    bool digits = false;
    for (char c : token) {
        if (c < '0' || c > '9') break;
        value = std::min<long long>(value * 10 + (c - '0'), 1LL << 40);
        digits = true;
    }
    if (!digits) return std::nullopt;
    return negative ? -value : value;
}

std::vector<std::string_view> SplitList(std::string_view text, size_t most) {
    std::vector<std::string_view> out;
    while (out.size() + 1 < most) {
        const size_t comma = text.find(',');
        if (comma == std::string_view::npos) break;
        out.push_back(text.substr(0, comma));
        text.remove_prefix(comma + 1);
    }
    out.push_back(text);
    return out;
}

// The text between a leading double quote and the next one; nullopt when not quoted that way.
std::optional<std::string> Quoted(std::string_view token) {
    if (token.empty() || token[0] != '"') return std::nullopt;
    const size_t close = token.find('"', 1);
    if (close == std::string_view::npos) return std::nullopt;
    return std::string(token.substr(1, close - 1));
}

template <typename T>
std::optional<T> InRange(std::optional<long long> value, long long most) {
    if (!value || *value < 0 || *value > most) return std::nullopt;
    return static_cast<T>(*value);
}

bool TakeTag(std::string_view& line, std::string_view tag) {
    if (line.compare(0, tag.size(), tag) != 0) return false;
    line.remove_prefix(tag.size());
    return true;
}

void ReadDirective(std::string_view value, PlaylistFields& f) {
    if (TakeTag(value, "EXTINF:")) {
        // "-1" is the usual mark of a stream of unknown length: no duration.
        const auto seconds = TokenNumber(SplitList(value, 2)[0]);
        if (seconds) f.duration = static_cast<int32_t>(std::clamp<long long>(*seconds, 0, INT32_MAX / 1000) * 1000);
    } else if (TakeTag(value, "EXTINF_INFO:")) {
        const auto parts = SplitList(value, 2);
        if (const auto size = InRange<uint32_t>(TokenNumber(parts[0]), UINT32_MAX)) f.size = *size;
        if (parts.size() > 1) {
            if (const auto flags = InRange<uint32_t>(TokenNumber(parts[1]), UINT32_MAX))
                f.flags = (*flags & PlaylistFlagMask()) | (f.destFile ? kItemFlagUserDest : 0);
        }
    } else if (TakeTag(value, "EXTINF_TIME:")) {
        const auto parts = SplitList(value, 5);
        if (parts.size() > 0) f.track = InRange<uint16_t>(TokenNumber(parts[0]), UINT16_MAX);
        if (parts.size() > 1) f.chapter = InRange<uint16_t>(TokenNumber(parts[1]), UINT16_MAX);
        if (parts.size() > 2) f.begin = InRange<uint32_t>(TokenNumber(parts[2]), UINT32_MAX);
        if (parts.size() > 3) f.end = InRange<uint32_t>(TokenNumber(parts[3]), UINT32_MAX);
        if (parts.size() > 4) {
            if (auto root = Quoted(parts[4])) f.discRoot = std::move(*root);
        }
    } else if (TakeTag(value, "EXTINF_SUB:")) {
        if (auto path = Quoted(value)) f.subtitle = std::move(*path);
    } else if (TakeTag(value, "EXTINF_CROP:")) {
        const auto parts = SplitList(value, 4);
        if (parts.size() < 4) return;
        std::array<uint32_t, 4> crop{};
        for (size_t i = 0; i < 4; ++i) {
            const auto v = InRange<uint32_t>(TokenNumber(parts[i]), INT32_MAX);
            if (!v) return;
            crop[i] = *v;
        }
        f.crop = crop;
    } else if (TakeTag(value, "EXTINF_OUTFILE:")) {
        if (!value.empty()) {
            f.destFile = std::string(value);
            f.flags |= kItemFlagUserDest;
        }
    } else if (TakeTag(value, "EXTINF_PRESET:")) {
        if (!value.empty()) f.preset = std::string(value);
    }
}

}  // namespace

uint32_t PlaylistFlagMask() { return kItemFlagHasTags | kItemFlagSkip | kItemFlagUserDest; }

std::vector<PlaylistEntry> ParsePlaylist(std::string_view text) {
    std::vector<PlaylistEntry> out;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.remove_prefix(3);
    const bool extended = text.compare(0, 7, "#EXTM3U") == 0;
    if (extended) {
        const size_t lineEnd = text.find_first_of("\r\n");
        text = lineEnd == std::string_view::npos ? std::string_view{} : text.substr(lineEnd);
    }
    PlaylistFields pending;
    filelist::ForEachLine(text, [&](std::string_view line) {
        if (extended && line[0] == '#') {
            ReadDirective(line.substr(1), pending);
            return;
        }
        out.push_back({std::string(line), std::move(pending)});
        pending = PlaylistFields{};
    });
    return out;
}

void ApplyPlaylistFields(QueueItem* item, const PlaylistFields& f) {
    if (!item) return;
    if (f.duration) item->duration = *f.duration;
    if (f.size) item->size = *f.size;
    if (f.track) item->track = *f.track;
    if (f.chapter) item->chapter = *f.chapter;
    if (f.begin) item->begin = *f.begin;
    if (f.end) item->end = *f.end;
    if (f.discRoot) SetStringField(&item->discRoot, f.discRoot->c_str());
    if (f.crop) {
        item->cropLeft = (*f.crop)[0];
        item->cropTop = (*f.crop)[1];
        item->cropWidth = (*f.crop)[2];
        item->cropHeight = (*f.crop)[3];
    }
    if (f.subtitle) SetStringField(&item->subtitle, f.subtitle->c_str());
    if (f.destFile) SetStringField(&item->destFile, f.destFile->c_str());
    if (f.preset) SetStringField(&item->preset, f.preset->c_str());
    item->flags |= f.flags;
}

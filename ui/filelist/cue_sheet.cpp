#include "ui/filelist/cue_sheet.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "common/charset.h"
#include "engine/queue/queue.h"
#include "ui/filelist/list_text.h"

namespace {

using filelist::SkipBlanks;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The leading decimal number of the text as atoi reads it, clamped to the int range.
long LeadingNumber(std::string_view text) {
    text = SkipBlanks(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = std::min(value * 10 + (c - '0'), 1000000000L);
    }
    return negative ? -value : value;
}

CueLine SplitLine(std::string_view line) {
    CueLine out;
    size_t blank = 0;
    while (blank < line.size() && !IsBlank(line[blank])) ++blank;
    out.keyword.assign(line.substr(0, blank));
    std::string_view after = SkipBlanks(line.substr(blank));
    if (after.empty()) return out;
    if (after[0] == '"') {
        out.quoted = true;
        after.remove_prefix(1);
        const size_t quote = after.find('"');
        out.argument.assign(after.substr(0, quote));  // an unterminated quote runs to the line's end
        if (quote != std::string_view::npos) {
            std::string_view rest = after.substr(quote + 1);
            if (!rest.empty() && IsBlank(rest[0])) rest.remove_prefix(1);
            if (!rest.empty()) out.rest.emplace(rest);
        }
        return out;
    }
    out.argument.assign(after);
    size_t next = 0;
    while (next < after.size() && !IsBlank(after[next])) ++next;
    if (next < after.size()) out.rest.emplace(after.substr(next + 1));
    return out;
}

// FILE's argument resolved against the current path: a drive path, an absolute path or an
// address stands alone; any other name lies in the current path's folder.
std::string ResolveFile(const std::string& current, const CueLine& line) {
    std::string name = line.argument;
    // An unquoted name is followed by the file type ("FILE a.wav WAVE"): the name ends before it.
    if (!line.quoted && line.rest) {
        const size_t lastBlank = name.find_last_of(" \t");
        if (lastBlank != std::string::npos) name.resize(lastBlank);
    }
    if (filelist::IsAbsoluteListPath(name)) return name;
    std::replace(name.begin(), name.end(), '\\', '/');
    return filelist::FolderOfPath(current) + name;
}

bool IsValidUtf8(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        int more = 0;
        if (c < 0x80) {
            ++p;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) more = 1;
        else if (c >= 0xE0 && c <= 0xEF) more = 2;
        else if (c >= 0xF0 && c <= 0xF4) more = 3;
        else return false;
        if (end - p <= more) return false;
        for (int i = 1; i <= more; ++i)
            if ((p[i] & 0xC0) != 0x80) return false;
        p += more + 1;
    }
    return true;
}

// The sheet's text as UTF-8: a UTF-8 byte-order mark is dropped; UTF-16 with its mark and text
// that is not UTF-8 (sheets written by Windows programs, mostly Windows-1252) are converted.
std::string ToUtf8(std::string raw) {
    if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
    const char* from = nullptr;
    if (raw.compare(0, 2, "\xFF\xFE") == 0 || raw.compare(0, 2, "\xFE\xFF") == 0) from = "UTF-16";
    else if (!IsValidUtf8(raw)) from = "CP1252";
    if (!from || raw.empty()) return raw;
    CCharset converter("UTF-8", from);
    if (!converter.IsOpen()) return raw;
    return converter.Convert(raw.data(), static_cast<int>(std::min<size_t>(raw.size(), 0x7FFFFFFF)));
}

}  // namespace

std::optional<uint32_t> ParseCueTime(const std::string& text) {
    uint32_t parts[3] = {0, 0, 0};
    const char* p = text.data();
    const char* end = p + text.size();
    for (int i = 0; i < 3; ++i) {
        const char* start = p;
        while (p < end && *p >= '0' && *p <= '9' && p - start < 6) parts[i] = parts[i] * 10 + static_cast<uint32_t>(*p++ - '0');
        if (p == start) return std::nullopt;
        if (i < 2) {
            if (p == end || *p != ':') return std::nullopt;
            ++p;
        }
    }
    if (p != end && !IsBlank(*p)) return std::nullopt;
    // Seconds and frames within their ranges, and minutes that milliseconds in 32 bits can hold.
    if (parts[1] >= 60 || parts[2] >= 75 || parts[0] > 71000) return std::nullopt;
    return (parts[0] * 60 + parts[1]) * 1000 + parts[2] * 1000 / 75;
}

int CueSheetParse(CueSheet& sheet) {
    std::string_view text = sheet.text;
    int n = 0;
    filelist::ForEachLine(text, [&](std::string_view line) {
        line = SkipBlanks(line);
        if (line.size() > 6 && line.compare(0, 5, "TRACK") == 0 && IsBlank(line[5])) {
            const long number = LeadingNumber(line.substr(6));
            if (number <= kCueMaxTrack) n = std::max<int>(n, static_cast<int>(number));
        }
    });
    sheet.tracks.assign(static_cast<size_t>(n) + 1, CueTrack{});

    int current = 0;                 // the record lines go to; -1 while a refused TRACK's lines run
    std::vector<int> order;          // records in the order of their TRACK lines
    std::vector<bool> indexed(sheet.tracks.size(), false);
    filelist::ForEachLine(text, [&](std::string_view raw) {
        const std::string_view line = SkipBlanks(raw);
        if (line.empty()) return;
        CueLine split = SplitLine(line);
        if (split.keyword == "TRACK") {
            const long number = LeadingNumber(split.argument);
            current = number >= 0 && number <= n ? static_cast<int>(number) : -1;
            if (current > 0) {
                sheet.tracks[current].listed = true;
                sheet.tracks[current].file = sheet.path;
                order.push_back(current);
            }
        }
        if (current < 0) return;
        CueTrack& record = sheet.tracks[current];
        if (split.keyword == "FILE") {
            sheet.path = ResolveFile(sheet.path, split);
        } else if (split.keyword == "INDEX" && split.rest) {
            // INDEX 01 is where a track begins; an INDEX 00 (the pregap) or a later sub-index
            // counts only for a track that has no INDEX 01.
            if (const auto start = ParseCueTime(*split.rest)) {
                const bool primary = LeadingNumber(split.argument) == 1;
                if (primary || (!record.hasIndex01 && !indexed[current])) {
                    record.start = *start;
                    record.file = sheet.path;  // a track lies in the file where it begins
                }
                record.hasIndex01 = record.hasIndex01 || primary;
                indexed[current] = true;
            }
        }
        record.lines.push_back(std::move(split));
    });

    // A track ends where the next track of the same file begins, so the pieces join without a
    // gap (a pregap stays with the track before it).
    for (size_t k = 1; k < order.size(); ++k) {
        CueTrack& previous = sheet.tracks[order[k - 1]];
        const CueTrack& next = sheet.tracks[order[k]];
        if (order[k - 1] == order[k] || !indexed[order[k]] || previous.end != 0) continue;
        if (previous.file == next.file && next.start > previous.start) previous.end = next.start;
    }
    sheet.status = n;
    return n;
}

int CueSheetLoad(CueSheet& sheet, const char* path) {
    CueSheetFree(sheet);
    std::string raw;
    if (!path || !filelist::ReadTextHead(path, kCueMaxBytes, &raw)) {
        sheet.status = -1;
        return -1;
    }
    sheet.text = ToUtf8(std::move(raw));
    sheet.path = path;
    return CueSheetParse(sheet);
}

const CueLine* CueSheetFind(const CueSheet& sheet, int record, const char* keyword) {
    if (record < 0 || static_cast<size_t>(record) >= sheet.tracks.size() || !keyword) return nullptr;
    for (const CueLine& line : sheet.tracks[record].lines)
        if (line.keyword == keyword) return &line;
    return nullptr;
}

int CueSheetGetTrack(const CueSheet& sheet, int i, QueueItem* item) {
    if (!item || i < 0 || static_cast<size_t>(i) >= sheet.tracks.size()) return -1;
    const CueTrack& track = sheet.tracks[i];
    const CueLine* title = CueSheetFind(sheet, i, "TITLE");
    const CueLine* performer = CueSheetFind(sheet, i, "PERFORMER");
    if (!item->file || !*item->file) SetStringField(&item->file, (track.file.empty() ? sheet.path : track.file).c_str());
    if (i >= 1) {
        item->begin = track.start;
        uint32_t end = track.end;
        // A track open to its file's end takes the media's length.
        if (end == 0 && track.listed && item->duration > 0) end = static_cast<uint32_t>(item->duration);
        if (end <= item->begin) end = 0;  // times out of order: open to the end
        item->end = end;
        item->duration = end >= 1 ? static_cast<int32_t>(std::min<uint32_t>(end - item->begin, INT32_MAX)) : 0;
        if (!performer) performer = CueSheetFind(sheet, 0, "PERFORMER");
        item->track = static_cast<uint16_t>(i);
        item->tagTrack = static_cast<uint32_t>(i);
    }
    if (title) {
        item->flags |= kItemFlagHasTags;
        SetStringField(&item->tagTitle, title->argument.c_str());
    }
    if (performer) SetStringField(&item->tagArtist, performer->argument.c_str());
    return 0;
}

void CueSheetFree(CueSheet& sheet) {
    sheet.text.clear();
    sheet.tracks.clear();
    sheet.status = 0;
}

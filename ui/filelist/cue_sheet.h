// The CUE sheet reader: a sheet describes the tracks of one or more media files. Each track is a
// record of the sheet's lines from its TRACK line on, with start and end times in milliseconds;
// record 0 holds the lines before the first TRACK line (the disc). The file list turns each
// track into one queue item limited to its time range.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct QueueItem;

struct CueLine {
    std::string keyword;              // the text up to the first blank
    std::string argument;             // a quoted text without its quotes, or the rest of the line
    std::optional<std::string> rest;  // what follows the argument, when anything does
    bool quoted = false;              // the argument was written in double quotes
};

struct CueTrack {
    std::vector<CueLine> lines;
    uint32_t start = 0;     // ms
    uint32_t end = 0;       // ms; 0 = open (to the end of its file)
    std::string file;       // its media file: the FILE in effect where it begins (its INDEX 01)
    bool listed = false;    // a TRACK line named this record
    bool hasIndex01 = false;
};

struct CueSheet {
    // After reading: the track count n; negative when the file could not be read.
    int32_t status = 0;
    // Set to the sheet's own path before parsing; each FILE line replaces it with the media file.
    std::string path;
    std::vector<CueTrack> tracks;  // n + 1 records
    std::string text;              // the whole sheet, UTF-8
};

// Track numbers above this are not CUE track numbers and are ignored.
inline constexpr int kCueMaxTrack = 99;
// Sheets are read up to this size; what lies beyond is ignored.
inline constexpr size_t kCueMaxBytes = 1 << 20;

// Parses sheet.text (the caller set sheet.path to the sheet's path); returns and stores n.
int CueSheetParse(CueSheet& sheet);
// Reads the sheet at path (text in another charset than UTF-8 is converted) and parses it; the
// status, negative when the file cannot be read.
int CueSheetLoad(CueSheet& sheet, const char* path);
// Fills the item with track i: title and artist tags, file, begin, end, duration and track
// number. 0, or -1 when i is beyond the track count.
int CueSheetGetTrack(const CueSheet& sheet, int i, QueueItem* item);
// The first line of the record whose keyword equals keyword exactly, or null.
const CueLine* CueSheetFind(const CueSheet& sheet, int record, const char* keyword);
void CueSheetFree(CueSheet& sheet);

// "mm:ss:ff" (75 frames per second) in milliseconds; nullopt when it is not such a time.
std::optional<uint32_t> ParseCueTime(const std::string& text);

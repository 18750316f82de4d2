// Writes a set of tags into an audio file with TagLib: ID3v2.4 for MP3, Vorbis comments for Ogg
// and FLAC, MP4 items, APE tags for WavPack, Monkey's Audio and MusePack, ASF attributes for WMA.
#pragma once

#include <optional>
#include <string>

struct TagValues {
    std::optional<std::string> title, artist, album, genre, comment;  // UTF-8
    std::optional<unsigned> track, year;
};

// Reads a whole decimal number (no sign, no trailing text); nullopt otherwise.
std::optional<unsigned> ParseTagNumber(const std::string& text);

// Writes the values that are set into the file. An empty text on failure, else the reason.
std::string WriteTags(const std::string& path, const TagValues& values);

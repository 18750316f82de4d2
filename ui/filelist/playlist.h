// Playlist reading: plain lists of paths (M3U, M3U8, LST) and the extended form that opens with
// "#EXTM3U", whose directive lines preset fields of the next path's queue item.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct QueueItem;

// The queue item fields that directives preset; a field no directive set stays unset.
struct PlaylistFields {
    std::optional<int32_t> duration;  // ms
    std::optional<uint32_t> size;     // KB
    uint32_t flags = 0;               // combined with the new item's own flags
    std::optional<uint16_t> track;
    std::optional<uint16_t> chapter;
    std::optional<uint32_t> begin;    // ms
    std::optional<uint32_t> end;      // ms
    std::optional<std::string> discRoot;
    std::optional<std::array<uint32_t, 4>> crop;  // left, top, width, height
    std::optional<std::string> subtitle;
    std::optional<std::string> destFile;
    std::optional<std::string> preset;
    bool operator==(const PlaylistFields&) const = default;
};

struct PlaylistEntry {
    std::string path;  // the line as written
    PlaylistFields fields;
    bool operator==(const PlaylistEntry&) const = default;
};

// Flags a playlist may set on an item: the skip mark, tags present and the user's destination.
// The others belong to a running job or to stream records a playlist does not carry.
uint32_t PlaylistFlagMask();

// Longer lines name no file this system can open and are passed over.
inline constexpr size_t kPlaylistMaxPath = 4096;
// Playlists are read up to this size; what lies beyond is ignored.
inline constexpr size_t kPlaylistMaxBytes = 16u << 20;

// The entries of a playlist's text, in order.
std::vector<PlaylistEntry> ParsePlaylist(std::string_view text);
// Copies the set fields into the item; flags are added to its own.
void ApplyPlaylistFields(QueueItem* item, const PlaylistFields& fields);

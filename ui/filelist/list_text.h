// Text helpers shared by the playlist and cue sheet readers: a bounded whole-file read, the line
// walk both formats use, and the path rules for names written on either system.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace filelist {

// Reads at most maxBytes of the file into out. False when it cannot be opened or is no regular
// file; a file that is longer is cut, so a hostile file can neither exhaust memory nor stall.
bool ReadTextHead(const std::string& path, size_t maxBytes, std::string* out);

// Calls visit for every non-empty line of text: a line ends at CR or LF, and a run of them is
// one break. Lines that hold a NUL byte are no text and are passed over.
void ForEachLine(std::string_view text, const std::function<void(std::string_view)>& visit);

// Leading spaces and tabs removed.
std::string_view SkipBlanks(std::string_view text);

// A path written on this system or on Windows: absolute when it begins with '/' or '\', has a
// drive letter ("C:"), or is an address ("scheme://").
bool IsAbsoluteListPath(std::string_view path);
// The folder part of a path with its trailing separator ('/' or '\'), or "" when it has none.
std::string FolderOfPath(std::string_view path);
// A relative entry of a list file at listPath made a path beside the list: its '\' separators
// become '/'. Absolute entries and addresses are returned unchanged.
std::string ResolveListEntry(std::string_view listPath, std::string_view entry);

}  // namespace filelist

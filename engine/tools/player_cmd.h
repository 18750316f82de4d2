// Pieces of the outside player's command lines shared by its callers: a path between quote
// characters, the quiet option, the pipe handle text and the disc-title listing line.
#pragma once

#include <string>

// A path between quote characters. A quote or the backslashes before one inside the path are
// escaped, so a file name can never end the quoted part and add options of its own.
std::string QuotedPath(const char* path);

// " -really-quiet" when "overall.ui.quiet" is set, else " -quiet".
std::string PlayerQuietOption();

// The pipe handle as the player's "pipe=0x" option takes it: 16 upper-case hexadecimal digits.
std::string PlayerPipeHandle(int fd);

// The line that lists the titles of a disc: kind 0 Blu-ray, 1 DVD; title 0 lists all.
std::string BuildDiscTitlesLine(int kind, int title, const char* device);

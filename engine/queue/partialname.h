// The name an output is written under until its item is done: beside the final file, hidden, with a
// prefix of the program's own that carries a hash of the final file name, so that a later run can
// tell which leftovers belong to which output. The final name follows the prefix whole, so the
// extension that tools choose their format by stays at the end.
#pragma once

#include <string>

// The folder part (with its '/') and the prefix of every partial file of the final path, e.g.
// "out/.sqpart-0123456789abcdef-" for "out/song.mp3"; "" when the path names no file.
std::string PartialOutputPrefix(const std::string& finalPath);
// Prefix + the final file name; "" when that would be longer than a file name may be.
std::string PartialOutputName(const std::string& finalPath);

// The files of one output while its item runs. A tool writes under the partial name (and may
// derive more files from it: channel files, its own extension); when the item is done each file
// gets its final name as a second link, and the partial names go once the item's end is recorded.
// A run killed anywhere leaves either no final name, or a final name that is still a link of its
// partial file: the next run of the item removes both and converts it again.
#pragma once

#include <string>
#include <utility>
#include <vector>

// Every file written for the final path: (partial path, the final path it stands for).
std::vector<std::pair<std::string, std::string>> PartialOutputFiles(const std::string& finalPath);
// Gives every partial file its final name (a link; a rename where the file system has none).
// True when the final path exists afterwards.
bool CommitPartialOutput(const std::string& finalPath);
// The item's end is recorded: the partial names that are links of their final files go (a partial
// file of another job of the same name, not yet committed, stays).
void ReleasePartialOutput(const std::string& finalPath);
// The output was not done, or is redone: the partial files go, and with them each final name that
// is still a link of one (committed but never recorded as done). No other file is touched.
void DiscardPartialOutput(const std::string& finalPath);

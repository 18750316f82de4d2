// The identify answers of the adapter, as text: the probe's identify run on a plain PCM WAVE file
// (read from its chunks) or a native FLAC file (read from its metadata blocks, its comments listed
// as the FFmpeg reader lists them), printed as the player prints it. Only the C++ library is used,
// so the program itself can give the same answer without starting the adapter. False for a request
// or a file these readers do not fully know (a picture, an ID3 chunk, a burst of compressed audio
// in the PCM): the player decides those.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "answer_common.h"

// Carried in the adapter's file: a player in the program's tools folder that holds these bytes is
// the adapter, whose identify answers the program may give itself.
inline constexpr char kPlayerAdapterMark[] = "sonquill player adapter, identify answers 1";

bool WaveIdentifyText(const Request& r, std::string* text);
bool FlacIdentifyText(const Request& r, std::string* text);

// The stream facts of a native FLAC file ("fLaC" first), its comments and whether it holds a
// picture or a cue sheet (which the FFmpeg reader makes a stream and chapters of).
struct FlacFacts {
    unsigned channels = 0, rate = 0, bits = 0;
    uint64_t samples = 0;
    bool picture = false, cueSheet = false;
    int commentBlocks = 0;
    std::vector<std::string> comments;
};
bool ReadFlacFacts(const std::string& path, FlacFacts* facts);

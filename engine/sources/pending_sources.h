// Sources whose transport (capture device, disc drive) is not part of
// this build yet: they carry their names and refuse to open.
#pragma once

#include "engine/sources/audio_source.h"

class CUnavailableSource : public CAudioSource {
public:
    explicit CUnavailableSource(const char* displayName) { SetName(displayName); }
    bool Open(AudioTask*) override { return false; }
};

class CAudioCapSource : public CUnavailableSource {
public:
    CAudioCapSource() : CUnavailableSource("Audio Capture") {}
};

// A disc track named "<drive letter>:...TrackNN.cda".
class CCDAudioSource : public CUnavailableSource {
public:
    CCDAudioSource() : CUnavailableSource("CD Audio") {}
    // The track number of a ".cda" path (the two characters before its last dot), or 0.
    static int TrackOfPath(const std::string& path);
};

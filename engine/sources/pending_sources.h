// Sources whose transport (plug-in host) is not part of this build yet: they carry their names
// and refuse to open.
#pragma once

#include "engine/sources/audio_source.h"

class CUnavailableSource : public CAudioSource {
public:
    explicit CUnavailableSource(const char* displayName) { SetName(displayName); }
    bool Open(AudioTask*) override { return false; }
};

class CWinampInput : public CUnavailableSource {
public:
    CWinampInput() : CUnavailableSource("Winamp Input Plugins") {}
};


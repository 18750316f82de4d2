// A track of an audio CD as a source: 44100 Hz, 2 channels, 16 bits, read sector by sector from
// the drive named by its path "<drive letter>:\TrackNN.cda".
#pragma once

#include <cstdint>
#include <string>

#include "engine/devices/cdrom.h"
#include "engine/sources/audio_source.h"

struct QueueItem;

class CCDAudioSource : public CAudioSource {
public:
    CCDAudioSource();
    ~CCDAudioSource() override;

    bool Open(AudioTask* task) override;
    void Close() override;
    int32_t Seek(int32_t ms) override;
    int Read(void* buffer, int size) override;

    // The track number of a ".cda" path (the two characters before its last dot), or 0.
    static int TrackOfPath(const std::string& path);

    int32_t firstSector = 0;
    int32_t currentSector = 0;
    int32_t endSector = 0;

private:
    CdDrive* drive_ = nullptr;
};

// Describes a CD track item from the drive's table of contents: its audio record, size and
// duration. 0, or -1 when the path names no track of a disc in a drive.
int ProbeCdaTrack(QueueItem* item);

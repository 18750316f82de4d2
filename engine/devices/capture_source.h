// Live audio from a capture device as a source. The input path is "dshow://" followed by
// comma-separated fields; the device name is the text after the last comma.
#pragma once

#include <string>

#include "engine/devices/capture.h"
#include "engine/sources/audio_source.h"
#include "platform/sync.h"

struct QueueItem;

class CAudioCapSource : public CAudioSource {
public:
    static constexpr int kReadLockMs = 3000;

    CAudioCapSource();
    ~CAudioCapSource() override;

    bool Open(AudioTask* task) override;
    void Close() override;
    int Read(void* buffer, int size) override;
    bool Start() override;
    int Stop() override;
    bool ReadHeader() override;

    // The device name of a capture path, or "" when the path is not one.
    static std::string DeviceNameOfPath(const std::string& path);

    CaptureDevice device;

private:
    platform::RecursiveMutex readLock_;  // serialises Read against Close
    bool headerRead_ = false;
    QueueItem* item_ = nullptr;
};

#include "engine/devices/capture_source.h"

#include <cstring>

#include "engine/context.h"
#include "engine/jobs/audiotask.h"
#include "engine/jobs/itemstate.h"

namespace {
constexpr char kCapturePrefix[] = "dshow://";
}

CAudioCapSource::CAudioCapSource() { SetName("Audio Capture"); }

CAudioCapSource::~CAudioCapSource() { Close(); }

std::string CAudioCapSource::DeviceNameOfPath(const std::string& path) {
    if (path.compare(0, 8, kCapturePrefix) != 0) return "";
    const std::string fields = path.substr(8);
    const size_t comma = fields.find_last_of(',');
    return comma == std::string::npos ? fields : fields.substr(comma + 1);
}

bool CAudioCapSource::Open(AudioTask* task) {
    item_ = task ? task->item : nullptr;
    const std::string path = GetInputPath(item_, -1);
    if (path.compare(0, 8, kCapturePrefix) != 0) return false;
    return device.Open(DeviceNameOfPath(path).c_str(), true, 0, 0, 0, nullptr);
}

void CAudioCapSource::Close() {
    // The device is closed whenever it is open, also when the header was never read.
    bool locked = false;
    if (headerRead_) {
        device.Stop();  // a read waiting for the device gives up at once
        locked = readLock_.lockFor(kReadLockMs);
        headerRead_ = false;
    }
    Stop();
    device.Close();
    if (locked) readLock_.unlock();
}

int CAudioCapSource::Read(void* buffer, int size) {
    // A read that cannot have the lock would race Close.
    if (!readLock_.lockFor(kReadLockMs)) return -1;
    int64_t timeMs = 0;
    int got = 0;
    while (got == 0) got = device.ReadSample(buffer, size, &timeMs);
    readLock_.unlock();
    if (got < 0) {
        if (device.Failed()) {
            RaiseEvent(kEventLogLine, device.Error().c_str());
            if (item_) SetItemError(kItemErrorSourceFail, item_);
        }
        return -1;
    }
    position += static_cast<uint64_t>(got);
    return got;
}

bool CAudioCapSource::Start() { return device.Start(); }

int CAudioCapSource::Stop() {
    device.Stop();
    return 0;
}

bool CAudioCapSource::ReadHeader() {
    CaptureConfig config;
    if (!device.GetConfig(&config)) return false;
    WaveHeader captured;
    memcpy(&captured, config.wave, sizeof captured);
    InitWaveHeader(&header, captured.sampleRate, captured.channels, captured.bitsPerSample, 0);
    headerRead_ = true;
    return true;
}

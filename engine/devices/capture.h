// Live capture from a sound device. The devices are listed under unique names (a second device
// called X is "X #1", a third "X #2"); one is opened by name, and once started a capture thread
// takes it a tenth of a second at a time into a queue of at most ten samples (a slow reader loses
// the oldest). The reader pulls the samples in arrival order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/capture/capture.h"

// Where the device list and the streams come from; tests put their own devices here.
class CaptureBackend {
public:
    virtual ~CaptureBackend() = default;
    virtual std::vector<platform::capture::Endpoint> List(bool audio) = 0;
    virtual std::unique_ptr<platform::capture::Stream> Open(const std::string& id, const platform::capture::Format& wanted) = 0;
};
// Replaces the machine's devices (null: the machine's again).
void SetCaptureBackend(CaptureBackend* backend);

// The first device whose unique name equals name: its endpoint id ("" when none). Without a name,
// the sorted unique names go to *names (when given) and the answer is "".
std::string FindCaptureDevice(const char* name, std::vector<std::string>* names, bool audio);
// "<device>name</device>" for each device, sorted; names escaped for XML.
std::string CaptureDeviceListXml(bool audio);
// The sorted names joined by the separator ("" when there is none).
std::string CaptureDeviceListText(bool audio, const char* separator);

// The configuration record: the kind (0 video, 1 audio, 2 stream), the canonical 44-byte WAV header
// of the captured format, and 4 bytes of zero.
struct CaptureConfig {
    uint32_t kind = 0;
    uint8_t wave[44] = {};
    uint32_t reserved = 0;
};
static_assert(sizeof(CaptureConfig) == 52);

class CaptureDevice {
public:
    static constexpr size_t kQueueLimit = 10;
    static constexpr int kReadWaitMs = 500;

    CaptureDevice() = default;
    ~CaptureDevice() { Close(); }
    CaptureDevice(const CaptureDevice&) = delete;
    CaptureDevice& operator=(const CaptureDevice&) = delete;

    // Opens the device of that name (null or "": the first of the sorted list). Audio devices take
    // 2 channels, 44100 Hz and 16 bits (32-bit float for the chroma "fl32"). Only audio devices
    // are opened here. A failed open leaves the device closed.
    bool Open(const char* name, bool audio, int width, int height, int frameRate, const char* chroma);
    // Starts the capture thread.
    bool Start();
    // Ends the reads: a waiting or later ReadSample answers -1. Capture goes on until Close.
    void Stop();
    bool Close();

    // Up to size bytes of the oldest captured sample and its arrival time in ms; the rest of a
    // sample longer than size is kept for the next read. 0 when nothing arrived within
    // kReadWaitMs; -1 after Stop or Close, or when the device failed.
    int ReadSample(void* buffer, int size, int64_t* timeMs);
    bool GetConfig(CaptureConfig* out);

    bool IsOpen() const { return state_ == 1; }
    // The device stopped delivering (it went away); the reason is in Error().
    bool Failed();
    std::string Error();

    // The capture thread's hand-over of one sample; public so that tests can feed a device.
    void Receive(std::vector<uint8_t> data);

private:
    struct Sample {
        std::vector<uint8_t> data;
        size_t offset = 0;  // bytes already read
        int64_t time100ns = 0;
    };
    void CaptureLoop();

    std::mutex lock_;
    std::condition_variable sampleArrived_;
    std::deque<Sample> queue_;
    std::unique_ptr<platform::capture::Stream> stream_;
    platform::capture::Format format_;
    std::thread thread_;
    bool running_ = false;   // the capture thread should go on
    bool stopped_ = false;   // reads end
    bool failed_ = false;
    std::string error_;
    int kind_ = 1;
    int state_ = 0;  // 0 closed, 1 open
};

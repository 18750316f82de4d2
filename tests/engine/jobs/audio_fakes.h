// In-memory ends for the audio threads: a reader that makes a ramp of 16-bit frames and a writer
// that keeps what it gets, each able to fail or stall the way a dying or hanging tool does.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <chrono>
#include <thread>

#include "engine/jobs/audiopass.h"
#include "engine/jobs/pcmio.h"

namespace sqtest {

// Frame f of track `tag`: left = f + tag * 1000, right = -(f + tag * 1000), as 16-bit values.
inline int16_t RampLeft(int64_t frame, int tag = 0) { return static_cast<int16_t>(frame + tag * 1000); }
inline int16_t RampRight(int64_t frame, int tag = 0) { return static_cast<int16_t>(-(frame + tag * 1000)); }

class RampReader : public PcmReader {
public:
    RampReader(int64_t totalBytes, int tag = 0) : total_(totalBytes), tag_(tag) {}
    // After this many bytes the reader blocks until Stop.
    int64_t stallAfter = -1;
    int32_t maxChunk = 1 << 20;

    int32_t Read(uint8_t* buffer, int32_t size) override {
        if (stallAfter >= 0 && pos_ >= stallAfter) {
            std::unique_lock<std::mutex> lock(m_);
            cv_.wait(lock, [&] { return stopped_; });
            return -1;
        }
        if (pos_ >= total_) return -1;
        int64_t n = std::min<int64_t>({size, total_ - pos_, maxChunk});
        n -= n % 4;
        for (int64_t i = 0; i < n; i += 4) {
            const int64_t frame = (pos_ + i) / 4;
            int16_t lr[2] = {RampLeft(frame, tag_), RampRight(frame, tag_)};
            std::memcpy(buffer + i, lr, 4);
        }
        pos_ += n;
        return static_cast<int32_t>(n);
    }
    void Stop() override {
        std::lock_guard<std::mutex> lock(m_);
        stopped_ = true;
        cv_.notify_all();
    }

private:
    int64_t total_;
    int64_t pos_ = 0;
    int tag_;
    std::mutex m_;
    std::condition_variable cv_;
    bool stopped_ = false;
};

class CaptureWriter : public PcmWriter {
public:
    int64_t failAfter = -1;   // bytes after which Write fails (the tool died)
    int64_t blockAfter = -1;  // bytes after which Write blocks until Cancel (the tool stopped reading)
    std::string data;
    std::vector<int32_t> writes;
    int headers = 0;
    int finishes = 0;

    bool WriteHeader(const WaveHeader&) override {
        ++headers;
        return true;
    }
    int32_t Write(const uint8_t* bytes, int32_t length) override {
        if (failAfter >= 0 && static_cast<int64_t>(data.size()) >= failAfter) return -1;
        if (blockAfter >= 0 && static_cast<int64_t>(data.size()) >= blockAfter) {
            std::unique_lock<std::mutex> lock(m_);
            cv_.wait(lock, [&] { return cancelled_; });
            return -1;
        }
        data.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
        writes.push_back(length);
        return length;
    }
    void Finish() override { ++finishes; }
    void Cancel() override {
        std::lock_guard<std::mutex> lock(m_);
        cancelled_ = true;
        cv_.notify_all();
    }
    int16_t Sample(int64_t index) const {
        int16_t v;
        std::memcpy(&v, data.data() + index * 2, 2);
        return v;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool cancelled_ = false;
};

// A source for the audio pass: a 16-bit stereo 44.1 kHz ramp of the given length, each read
// optionally a little late so that controls meet the item running.
class RampSource : public PassSource {
public:
    explicit RampSource(int64_t bytes, int delayMs = 0) : ramp_(bytes), delayMs_(delayMs) {}
    int32_t Read(uint8_t* buffer, int32_t size) override {
        if (delayMs_) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
        return ramp_.Read(buffer, std::min(size, 8192));
    }
    void Stop() override { ramp_.Stop(); }
    const char* Name() override { return "ramp"; }
    bool Open(AudioTask*) override { return true; }
    bool ReadHeader(AudioTask*) override {
        InitWaveHeader(&header_, 44100, 2, 16, -1);
        return true;
    }
    bool Prepare(AudioTask*) override { return true; }
    const WaveHeader& Header() override { return header_; }
    void Close() override {}

private:
    RampReader ramp_;
    int delayMs_;
    WaveHeader header_{};
};

}  // namespace sqtest

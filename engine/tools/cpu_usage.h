// Processor load: of the whole system and of one process (counted with its process group), as
// shown per encoder and in the statistics; and the processor clock measured with the time-stamp
// counter.
#pragma once

#include <cstdint>
#include <mutex>

class CCpuUsage {
public:
    CCpuUsage() = default;
    virtual ~CCpuUsage() = default;

    // Percent of all processors in use since the previous call; 0 on the first call (and when no
    // time has passed); -1 when the figures cannot be read or the result is negative.
    float GetUsage();
    // Percent of one processor the process used since the previous call, so a process busy on
    // several processors exceeds 100; -1 for process id 0 or a process that is gone; 0 on the first
    // call and when no time has passed.
    virtual float GetProcessUsage(uint32_t processId);

private:
    std::mutex lock_;  // one meter may be read from several threads
    bool first_ = true;
    int64_t lastValue_ = 0;
    int64_t lastTime_ = 0;
};

// The processor clock in MHz: time-stamp counter cycles over the milliseconds since the last
// reference reading (taken now when there is none, when restart is asked for or the counter went
// back; the call then waits 100 ms). 0 where there is no time-stamp counter.
uint32_t CpuClockMHz(bool restart);

// Processor load: of the whole system and of one process (counted with its process group), as
// shown per encoder and in the statistics; the processor clock measured with the time-stamp
// counter; and the processor record the engine keeps for display.
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
// reference reading. With restart (or when the counter went back) the reference is taken now and
// the call waits 100 ms; without one, the first call only takes the reference and answers 0. 0
// where there is no time-stamp counter.
uint32_t CpuClockMHz(bool restart);

// The engine's processor record, kept for display, filled from what Linux tells: [0] family,
// [1] model, [2] stepping, [3]-[13] 1 for each feature the processor has (MMX, extended MMX,
// 3DNow!, extended 3DNow!, SSE, SSE2, SSE3, SSSE3, SSE4a, SSE4.1, SSE4.2), [14] logical
// processors (at least 1), [15] cores, [17] level-1 cache, [18] level-2, [19] level-3 cache in
// KB; [16] and [20]-[22] stay 0 (machine-specific registers are not read). Then the nominal clock.
struct ProcessorRecord {
    int32_t fields[23] = {};
    char vendor[20] = {};
    char name[256] = {};  // runs of blanks collapsed to one
    int32_t clockMHz = 0;  // nominal processor clock; 0 when unknown
};

// Reads the processor's identity once: 0, or -1 when the machine tells nothing.
int32_t LoadSysInfo();
// Fills the record (loading the identity first when needed): 0, or -1 when it cannot be read.
int32_t GetCpuInfo(ProcessorRecord* record);

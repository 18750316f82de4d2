// The CPU meter an encoder keeps beside its tool's process. Reading the system's performance
// figures is not built yet: until it is, every reading is "not available" (-1.0).
#pragma once

#include <cstdint>

class CCpuUsage {
public:
    CCpuUsage() = default;
    virtual ~CCpuUsage() = default;
    // Percent of one processor the process used since the previous call; -1.0 when unknown.
    virtual float GetProcessUsage(uint32_t processId) {
        (void)processId;
        return -1.0f;
    }
};

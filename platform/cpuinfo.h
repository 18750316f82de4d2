// What the machine says about its processor: identity from CPUID (else /proc/cpuinfo), the core
// count from /proc/cpuinfo and the level-1 cache from sysfs (else CPUID).
#pragma once

#include <string>

namespace platform {

struct CpuIdentity {
    std::string vendor;  // e.g. "GenuineIntel"
    std::string name;    // the processor's brand text as the processor reports it
    int cores = 0;       // physical cores per package; 0 when unknown
    int level1CacheKB = 0;  // level-1 data (or unified) cache; 0 when unknown
};

// False when nothing could be read.
bool ReadCpuIdentity(CpuIdentity* out);

}  // namespace platform

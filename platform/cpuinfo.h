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
    int level2CacheKB = 0;
    int level3CacheKB = 0;
    int family = 0, model = 0, stepping = 0;  // as CPUID leaf 1 tells them (extended parts added)
    int clockMHz = 0;  // the nominal clock; 0 when unknown
    std::string flags;  // the feature words of /proc/cpuinfo ("fpu vme ... sse2 ..."), blank-separated
};

// The nominal clock in MHz from what Linux tells, the first that gives one: the frequency driver's
// highest (or base) frequency in kHz, the brand text's "@ 2.40GHz", the "cpu MHz" figure of
// /proc/cpuinfo. 0 when none does.
int NominalClockMHz(const std::string& driverKHz, const std::string& brand, const std::string& cpuinfoMHz);

// True when the blank-separated feature list holds the word.
bool HasCpuFlag(const std::string& flags, const char* word);

// False when nothing could be read.
bool ReadCpuIdentity(CpuIdentity* out);

}  // namespace platform

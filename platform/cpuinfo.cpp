#include "platform/cpuinfo.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define SQ_HAVE_CPUID 1
#endif

namespace platform {

namespace {

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") + 1 - b);
}

// The value of the first "key : value" line of /proc/cpuinfo with this key.
std::string CpuInfoValue(const char* key) {
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);) {
        const size_t colon = line.find(':');
        if (colon != std::string::npos && Trim(line.substr(0, colon)) == key) return Trim(line.substr(colon + 1));
    }
    return {};
}

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return Trim(line);
}

int SysfsLevel1CacheKB() {
    for (int i = 0; i < 8; ++i) {
        const std::string dir = "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(i) + "/";
        const std::string level = ReadLine(dir + "level");
        if (level.empty()) break;
        const std::string type = ReadLine(dir + "type");
        if (level == "1" && (type == "Data" || type == "Unified")) return std::atoi(ReadLine(dir + "size").c_str());
    }
    return 0;
}

}  // namespace

bool ReadCpuIdentity(CpuIdentity* out) {
    *out = CpuIdentity{};
#ifdef SQ_HAVE_CPUID
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(0, &a, &b, &c, &d)) {
        char vendor[13] = {};
        std::memcpy(vendor, &b, 4);
        std::memcpy(vendor + 4, &d, 4);
        std::memcpy(vendor + 8, &c, 4);
        out->vendor = vendor;
    }
    if (__get_cpuid(0x80000000, &a, &b, &c, &d) && a >= 0x80000004) {
        char brand[49] = {};
        for (unsigned leaf = 0; leaf < 3; ++leaf) {
            unsigned r[4] = {};
            __get_cpuid(0x80000002 + leaf, &r[0], &r[1], &r[2], &r[3]);
            std::memcpy(brand + leaf * 16, r, 16);
        }
        out->name = Trim(brand);
        if (a >= 0x80000005 && __get_cpuid(0x80000005, &a, &b, &c, &d)) out->level1CacheKB = static_cast<int>(c >> 24);
    }
#endif
    if (out->vendor.empty()) out->vendor = CpuInfoValue("vendor_id");
    if (out->name.empty()) out->name = CpuInfoValue("model name");
    out->cores = std::atoi(CpuInfoValue("cpu cores").c_str());
    if (const int sysfs = SysfsLevel1CacheKB(); sysfs > 0) out->level1CacheKB = sysfs;
    return !out->vendor.empty() || !out->name.empty() || out->cores > 0;
}

}  // namespace platform

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

// The cache of a level (data or unified for level 1) in KB as sysfs lists it; 0 when not listed.
int SysfsCacheKB(int wanted) {
    for (int i = 0; i < 8; ++i) {
        const std::string dir = "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(i) + "/";
        const std::string level = ReadLine(dir + "level");
        if (level.empty()) break;
        const std::string type = ReadLine(dir + "type");
        if (std::atoi(level.c_str()) == wanted && type != "Instruction") return std::atoi(ReadLine(dir + "size").c_str());
    }
    return 0;
}

}  // namespace

int NominalClockMHz(const std::string& driverKHz, const std::string& brand, const std::string& cpuinfoMHz) {
    const long khz = std::atol(driverKHz.c_str());
    if (khz >= 1000) return static_cast<int>(khz / 1000);
    const size_t at = brand.rfind('@');
    if (at != std::string::npos) {
        char* end = nullptr;
        const double value = std::strtod(brand.c_str() + at + 1, &end);
        const std::string unit = Trim(end ? end : "");
        if (value > 0 && (unit.rfind("GHz", 0) == 0 || unit.rfind("GHZ", 0) == 0)) return static_cast<int>(value * 1000 + 0.5);
        if (value > 0 && (unit.rfind("MHz", 0) == 0 || unit.rfind("MHZ", 0) == 0)) return static_cast<int>(value + 0.5);
    }
    const double mhz = std::strtod(cpuinfoMHz.c_str(), nullptr);
    return mhz >= 1 ? static_cast<int>(mhz + 0.5) : 0;
}

bool HasCpuFlag(const std::string& flags, const char* word) {
    const std::string w = word;
    for (size_t pos = 0; (pos = flags.find(w, pos)) != std::string::npos; pos += w.size()) {
        const bool startsWord = pos == 0 || flags[pos - 1] == ' ';
        const bool endsWord = pos + w.size() == flags.size() || flags[pos + w.size()] == ' ';
        if (startsWord && endsWord) return true;
    }
    return false;
}

bool ReadCpuIdentity(CpuIdentity* out) {
    *out = CpuIdentity{};
#ifdef SQ_HAVE_CPUID
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(0, &a, &b, &c, &d)) {
        if (a >= 1) {
            unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
            __get_cpuid(1, &eax, &ebx, &ecx, &edx);
            const int baseFamily = static_cast<int>((eax >> 8) & 0xF);
            out->family = baseFamily + (baseFamily == 0xF ? static_cast<int>((eax >> 20) & 0xFF) : 0);
            out->model = static_cast<int>((eax >> 4) & 0xF);
            if (baseFamily == 0x6 || baseFamily == 0xF) out->model |= static_cast<int>(((eax >> 16) & 0xF) << 4);
            out->stepping = static_cast<int>(eax & 0xF);
        }
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
    if (const int sysfs = SysfsCacheKB(1); sysfs > 0) out->level1CacheKB = sysfs;
    out->level2CacheKB = SysfsCacheKB(2);
    out->level3CacheKB = SysfsCacheKB(3);
    if (out->family == 0) out->family = std::atoi(CpuInfoValue("cpu family").c_str());
    if (out->model == 0) out->model = std::atoi(CpuInfoValue("model").c_str());
    if (out->stepping == 0) out->stepping = std::atoi(CpuInfoValue("stepping").c_str());
    std::string driverKHz = ReadLine("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq");
    if (driverKHz.empty()) driverKHz = ReadLine("/sys/devices/system/cpu/cpu0/cpufreq/base_frequency");
    out->clockMHz = NominalClockMHz(driverKHz, out->name, CpuInfoValue("cpu MHz"));
    out->flags = CpuInfoValue("flags");
    return !out->vendor.empty() || !out->name.empty() || out->cores > 0;
}

}  // namespace platform

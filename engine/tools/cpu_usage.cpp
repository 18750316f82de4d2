#include "engine/tools/cpu_usage.h"

#include <algorithm>
#include <iterator>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/cpuinfo.h"
#include "platform/procstat.h"
#include "platform/sysinfo.h"

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define SQ_HAVE_TSC 1
#endif

float CCpuUsage::GetUsage() {
    uint64_t idle = 0, total = 0;
    if (!platform::ReadSystemCpuTicks(&idle, &total)) return -1.0f;
    std::lock_guard<std::mutex> guard(lock_);
    const auto value = static_cast<int64_t>(idle);
    const auto time = static_cast<int64_t>(total);
    if (first_) {
        first_ = false;
        lastValue_ = value;
        lastTime_ = time;
        return 0.0f;
    }
    // No tick between two calls gives no figure yet; keep the reference for the next call.
    if (time == lastTime_) return 0.0f;
    const double usage = (1.0 - double(value - lastValue_) / double(time - lastTime_)) * 100.0;
    lastValue_ = value;
    lastTime_ = time;
    return usage < 0 ? -1.0f : static_cast<float>(usage);
}

float CCpuUsage::GetProcessUsage(uint32_t processId) {
    if (processId == 0) return -1.0f;
    uint64_t ticks = 0;
    if (!platform::ReadProcessGroupCpuTicks(static_cast<int>(processId), &ticks)) return -1.0f;
    const int64_t time = platform::MonotonicTime100ns();
    const int64_t value = static_cast<int64_t>(ticks) * 10000000 / platform::CpuTicksPerSecond();
    std::lock_guard<std::mutex> guard(lock_);
    if (first_) {
        first_ = false;
        lastValue_ = value;
        lastTime_ = time;
        return 0.0f;
    }
    if (time <= lastTime_) return 0.0f;
    const float usage = static_cast<float>(value - lastValue_) * 100.0f / static_cast<float>(time - lastTime_);
    lastValue_ = value;
    lastTime_ = time;
    return usage;
}

namespace {

std::mutex g_clockLock;
bool g_clockHasReference = false;
int64_t g_clockRefMs = 0;
uint64_t g_clockRefCycles = 0;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

uint32_t CpuClockMHz(bool restart) {
#ifdef SQ_HAVE_TSC
    std::lock_guard<std::mutex> guard(g_clockLock);
    int64_t ms = NowMs();
    uint64_t cycles = __rdtsc();
    const bool newReference = !g_clockHasReference || cycles < g_clockRefCycles || restart;
    if (newReference) {
        g_clockRefMs = ms;
        g_clockRefCycles = cycles;
        g_clockHasReference = true;
        // A reading that was not asked to start afresh gives no figure yet instead of waiting: it is
        // asked from the window's timer, on the thread the jobs' events wait for.
        if (!restart) return 0;
    }
    if (newReference || ms == g_clockRefMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ms = NowMs();
        cycles = __rdtsc();
    }
    const int64_t elapsedMs = ms - g_clockRefMs;
    const uint64_t elapsedCycles = cycles - g_clockRefCycles;
    g_clockRefMs = ms;
    g_clockRefCycles = cycles;
    if (elapsedMs <= 0) return 0;
    return static_cast<uint32_t>(elapsedCycles / static_cast<uint64_t>(elapsedMs) / 1000);
#else
    (void)restart;
    return 0;
#endif
}

namespace {

std::mutex g_infoLock;
int32_t g_infoStatus = -1;
platform::CpuIdentity g_identity;

}  // namespace

int32_t LoadSysInfo() {
    std::lock_guard<std::mutex> guard(g_infoLock);
    g_infoStatus = platform::ReadCpuIdentity(&g_identity) ? 0 : -1;
    return g_infoStatus;
}

int32_t GetCpuInfo(ProcessorRecord* record) {
    {
        std::lock_guard<std::mutex> guard(g_infoLock);
        if (g_infoStatus != 0) {
            g_infoStatus = platform::ReadCpuIdentity(&g_identity) ? 0 : -1;
            if (g_infoStatus != 0) return -1;
        }
    }
    *record = ProcessorRecord{};
    record->fields[0] = g_identity.family;
    record->fields[1] = g_identity.model;
    record->fields[2] = g_identity.stepping;
    static const char* const kFeatures[] = {"mmx", "mmxext", "3dnow", "3dnowext", "sse", "sse2",
                                            "pni", "ssse3", "sse4a", "sse4_1", "sse4_2"};
    for (size_t i = 0; i < std::size(kFeatures); ++i)
        record->fields[3 + i] = platform::HasCpuFlag(g_identity.flags, kFeatures[i]) ? 1 : 0;
    record->fields[14] = std::max(1, platform::ProcessorCount());
    record->fields[15] = g_identity.cores;
    record->fields[17] = g_identity.level1CacheKB;
    record->fields[18] = g_identity.level2CacheKB;
    record->fields[19] = g_identity.level3CacheKB;
    record->clockMHz = g_identity.clockMHz;
    std::strncpy(record->vendor, g_identity.vendor.c_str(), sizeof record->vendor - 1);
    size_t n = 0;
    for (char ch : g_identity.name) {
        if (n + 1 >= sizeof record->name) break;
        if (ch == ' ' && n > 0 && record->name[n - 1] == ' ') continue;
        record->name[n++] = ch;
    }
    return 0;
}

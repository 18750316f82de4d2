// Processor time figures of the system and of processes, read from /proc.
#pragma once

#include <cstdint>

namespace platform {

// Processor time of all processors since boot, in clock ticks: idle (idle + waiting for I/O) and
// total. False when /proc/stat cannot be read.
bool ReadSystemCpuTicks(uint64_t* idle, uint64_t* total);

// Processor time (user + system) used by a process, in clock ticks; when the process leads a
// process group, every live member of the group is counted, so a tool's helpers count with it.
// False when there is no such process.
bool ReadProcessGroupCpuTicks(int pid, uint64_t* ticks);

// Resident memory of a process and of every process below it (its tools), in bytes; 0 when there
// is no such process.
uint64_t ReadProcessTreeResidentBytes(int pid);

// Memory the system can still give to programs without swapping, in bytes; 0 when unknown.
uint64_t ReadAvailableMemoryBytes();

// Clock ticks per second of the figures above.
long CpuTicksPerSecond();

// A monotonic time in 100 ns units.
int64_t MonotonicTime100ns();

}  // namespace platform

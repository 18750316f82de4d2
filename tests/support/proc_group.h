// The processes of one process group as /proc shows them now: for tests that check what a tool's
// whole group does (stopped, running, the processor time it used).
#pragma once

#include <vector>

namespace sqtest {

struct GroupMember {
    int pid = 0;
    char state = '?';    // R, S, T (stopped), Z, ...
    long cpuTicks = 0;   // user and system clock ticks so far
};

std::vector<GroupMember> ProcessGroupMembers(long group);

}  // namespace sqtest

#include "support/proc_group.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace sqtest {

std::vector<GroupMember> ProcessGroupMembers(long group) {
    std::vector<GroupMember> members;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        // The command name may hold blanks and parentheses: the fields follow its last ')'.
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        std::string state;
        long parent = 0, pgrp = 0, skip = 0, utime = 0, stime = 0;
        rest >> state >> parent >> pgrp;
        if (pgrp != group) continue;
        for (int field = 0; field < 8; ++field) rest >> skip;  // session .. cmajflt
        rest >> utime >> stime;
        members.push_back({std::stoi(name), state.empty() ? '?' : state[0], utime + stime});
    }
    return members;
}

}  // namespace sqtest

#include "platform/shell_open.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "platform/process.h"

extern char** environ;

namespace platform {

bool ShellOpen(const std::string& program, const std::string& argument) {
    InitProcessLayer();
    std::string prog = program.empty() ? "xdg-open" : program;
    std::vector<char*> argv = {prog.data(), const_cast<char*>(argument.c_str()), nullptr};
    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0) return false;
    // A session of its own: the opened program outlives this one's terminal and process group.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int err = posix_spawnp(&pid, prog.c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (err != 0) return false;
    std::thread([pid] {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

}  // namespace platform

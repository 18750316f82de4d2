#include "platform/shell_open.h"

#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>

#include "platform/process.h"

extern char** environ;

namespace platform {

namespace {

std::mutex g_hookMutex;
std::function<bool(const std::string&)> g_hook;

bool IsWebAddress(const std::string& target) {
    return strncasecmp(target.c_str(), "http://", 7) == 0 || strncasecmp(target.c_str(), "https://", 8) == 0;
}

bool IsPlainDocument(const std::string& target) {
    struct stat st{};
    return stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111) == 0;
}

bool SpawnOpener(const std::string& programName, const std::string& target) {
    InitProcessLayer();
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own session: the browser it starts outlives neither our group's signals nor our terminal.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    std::string program = programName.empty() ? "xdg-open" : programName;
    char* argv[] = {program.data(), const_cast<char*>(target.c_str()), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, program.c_str(), &fa, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return false;
    // Reaped on a thread of its own: the caller does not wait for the desktop.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

}  // namespace

bool ShellOpen(const std::string& target) {
    if (target.empty() || target.find_first_of("\r\n") != std::string::npos) return false;
    if (!IsWebAddress(target) && !IsPlainDocument(target)) return false;
    std::function<bool(const std::string&)> hook;
    {
        std::lock_guard lock(g_hookMutex);
        hook = g_hook;
    }
    return hook ? hook(target) : SpawnOpener("", target);
}

bool ShellOpenWith(const std::string& program, const std::string& argument) {
    return SpawnOpener(program, argument);
}

void SetShellOpenHook(std::function<bool(const std::string& target)> hook) {
    std::lock_guard lock(g_hookMutex);
    g_hook = std::move(hook);
}

}  // namespace platform

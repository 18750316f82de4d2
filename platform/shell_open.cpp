#include "platform/shell_open.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <thread>

#include "platform/process.h"

extern char** environ;

namespace platform {
namespace {

std::mutex g_handlerMutex;
std::function<bool(const std::string&)> g_handler;

bool Openable(const std::string& target) {
    auto startsWith = [&](const char* prefix) {
        return target.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
    };
    if (startsWith("http://") || startsWith("https://")) return true;
    struct stat st{};
    return !target.empty() && target.find("://") == std::string::npos && target[0] != '-' &&
           stat(target.c_str(), &st) == 0;
}

bool SpawnOpener(const std::string& target) {
    InitProcessLayer();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    std::string program = "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(target.c_str()), nullptr};
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, "xdg-open", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    // xdg-open hands over to the browser and ends; reap it without holding the caller.
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return true;
}

}  // namespace

bool ShellOpen(const std::string& target) {
    if (!Openable(target)) return false;
    std::function<bool(const std::string&)> handler;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        handler = g_handler;
    }
    return handler ? handler(target) : SpawnOpener(target);
}

void SetShellOpenHandler(std::function<bool(const std::string& target)> handler) {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    g_handler = std::move(handler);
}

}  // namespace platform

#include "support/program_background.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace sqtest {

ProgramInBackground::ProgramInBackground(const std::string& appData, const std::string& workFolder,
                               const std::vector<std::string>& args, const std::string& errFile,
                               const std::string& program) {
    // Everything the child needs is made before the fork: after it only exec's own work is done.
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        const std::string name = var.substr(0, var.find('='));
        if (name != "APPDATA" && name != "SONQUILL_GUI" && name != "DISPLAY" && name != "WAYLAND_DISPLAY") env.push_back(var);
    }
    env.push_back("APPDATA=" + appData);
    env.push_back("SONQUILL_GUI=headless");
    std::vector<char*> rawArgs, rawEnv;
    for (std::string& a : argv) rawArgs.push_back(a.data());
    rawArgs.push_back(nullptr);
    for (std::string& e : env) rawEnv.push_back(e.data());
    rawEnv.push_back(nullptr);
    const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_ = ::fork();
    if (pid_ == 0) {
        if (::chdir(workFolder.c_str()) != 0) ::_exit(126);
        if (err >= 0) ::dup2(err, 2);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
        }
        ::execve(rawArgs[0], rawArgs.data(), rawEnv.data());
        ::_exit(127);
    }
    if (err >= 0) ::close(err);
    if (null >= 0) ::close(null);
}

ProgramInBackground::~ProgramInBackground() {
    if (pid_ <= 0 || status_ >= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

void ProgramInBackground::Signal(int sig) const {
    if (pid_ > 0 && status_ < 0) ::kill(pid_, sig);
}

int ProgramInBackground::Wait(int timeoutMs) {
    if (pid_ <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (status_ < 0) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (r < 0 || std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

int RunProgram(const std::string& appData, const std::string& workFolder, const std::vector<std::string>& args,
               const std::string& errFile, int timeoutMs) {
    ProgramInBackground program(appData, workFolder, args, errFile);
    return program.Wait(timeoutMs);
}

}  // namespace sqtest

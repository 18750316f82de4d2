#include "support/program_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace sqtest {

namespace {

// Runs argv with the environment and working folder given; stderr to errPath, stdout dropped.
// The exit code, or -1 when the child was killed (the limit included) or could not start.
int Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& cwd,
          const std::string& errPath, int limitSeconds) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(127);
        const int out = open("/dev/null", O_WRONLY);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        setpgid(0, 0);  // its own group: the limit ends the tools it started too
        std::vector<char*> args, vars;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& v : env) vars.push_back(const_cast<char*>(v.c_str()));
        vars.push_back(nullptr);
        execve(args[0], args.data(), vars.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0) return -1;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // polling the child's end
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Quiet(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

}  // namespace

ProgramProcess::ProgramProcess(const std::string& extraPrefs) {
    data_.write("Sonquill/prefs.xml",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvexPrefs><node key=\"overall.httpd.port\">0</node>" +
                    extraPrefs + "</QuorvexPrefs>\n");
}

ProcessResult ProgramProcess::Run(const std::vector<std::string>& args, int limitSeconds,
                                  const std::string& programFolder) const {
    std::vector<std::string> argv{programFolder + "/sonquill"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        for (const char* drop : {"DISPLAY=", "WAYLAND_DISPLAY=", "APPDATA=", "SONQUILL_GUI="})
            if (var.rfind(drop, 0) == 0) goto skip;
        env.push_back(var);
    skip:;
    }
    env.push_back("APPDATA=" + data_.path().string());
    env.push_back("SONQUILL_GUI=headless");
    const std::string errPath = data_.file("stderr.txt");
    ProcessResult r;
    r.code = Spawn(argv, env, work_.path().string(), errPath, limitSeconds);
    r.err = ReadFile(errPath);
    return r;
}

bool MakeTone(const std::string& path, double seconds, int rate, int channels) {
    // The name goes to ffmpeg as "file:" plus the path in single quotes, each ' written '\''.
    std::string quoted = "'file:";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    return Quiet("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) +
                 ":duration=" + std::to_string(seconds) + " -ac " + std::to_string(channels) + " " + quoted);
}

double ProbeSeconds(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    std::string out;
    if (FILE* f = popen(("ffprobe -v error -show_entries format=duration -of csv=p=0 " + quoted + " 2>/dev/null").c_str(), "r")) {
        char buf[256];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        pclose(f);
    }
    if (out.empty()) return -1;
    return std::strtod(out.c_str(), nullptr);
}

}  // namespace sqtest

#include "support/headless_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace sqtest {

namespace {

std::string XmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// One word for a POSIX shell: in single quotes, each ' written '\''.
std::string ShellWord(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool Quiet(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

}  // namespace

void WriteUserPrefs(const std::string& dataDir, const UserPrefs& values) {
    std::filesystem::create_directories(dataDir + "/Sonquill");
    std::ofstream f(dataDir + "/Sonquill/prefs.xml", std::ios::trunc);
    f << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvexPrefs><node key=\"overall.httpd.port\">0</node>";
    for (const auto& [key, value] : values) f << "<node key=\"" << XmlEscaped(key) << "\">" << XmlEscaped(value) << "</node>";
    f << "</QuorvexPrefs>\n";
}

HeadlessProgram::HeadlessProgram(const UserPrefs& prefs) { WriteUserPrefs(data_.path().string(), prefs); }

ProgramResult HeadlessProgram::Spawn(const std::vector<std::string>& argv, int limitSeconds) const {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        bool dropped = false;
        for (const char* drop : {"DISPLAY=", "WAYLAND_DISPLAY=", "APPDATA=", "SONQUILL_GUI="})
            dropped = dropped || var.rfind(drop, 0) == 0;
        if (!dropped) env.push_back(var);
    }
    env.push_back("APPDATA=" + data_.path().string());
    env.push_back("SONQUILL_GUI=headless");
    const std::string errPath = data_.file("run.err"), outPath = data_.file("run.out");

    ProgramResult result;
    const pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        if (chdir(work_.path().c_str()) != 0) _exit(127);
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        setpgid(0, 0);  // a group of its own: the limit ends the tools it started too
        std::vector<char*> args, vars;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& v : env) vars.push_back(const_cast<char*>(v.c_str()));
        vars.push_back(nullptr);
        execvpe(args[0], args.data(), vars.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
    int status = 0;
    bool ended = false;
    while (!ended) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            ended = true;
        } else if (done < 0) {
            return result;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            status = -1;
            ended = true;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // polling the child's end
        }
    }
    result.code = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadFile(errPath);
    result.out = ReadFile(outPath);
    return result;
}

ProgramResult HeadlessProgram::Run(const std::vector<std::string>& args, int limitSeconds,
                                   const std::vector<std::string>& prefix, const std::string& programFolder) const {
    std::vector<std::string> argv = prefix;
    argv.push_back(programFolder + "/sonquill");
    argv.insert(argv.end(), args.begin(), args.end());
    return Spawn(argv, limitSeconds);
}

ProgramResult HeadlessProgram::RunOnTerminal(const std::vector<std::string>& args) const {
    // `script` runs its command through a shell: every word is quoted for it.
    std::string command = ShellWord(SQ_OUT_DIR "/sonquill");
    for (const std::string& a : args) command += " " + ShellWord(a);
    return Spawn({"script", "-qec", command, "/dev/null"}, 120);
}

std::string HeadlessProgram::MakeTone(const std::string& name, double seconds) const {
    const std::string path = work_.file(name);
    return sqtest::MakeTone(path, seconds) ? path : std::string();
}

bool MakeTone(const std::string& path, double seconds, int rate, int channels) {
    // The name goes to ffmpeg as "file:" plus the path, so a leading '-' or a ':' is no option.
    return Quiet("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) +
                 ":duration=" + std::to_string(seconds) + " -ac " + std::to_string(channels) + " " +
                 ShellWord("file:" + path));
}

double ProbeSeconds(const std::string& path) {
    std::string out;
    if (FILE* f = popen(("ffprobe -v error -show_entries format=duration -of csv=p=0 " + ShellWord(path) + " 2>/dev/null").c_str(), "r")) {
        char buf[256];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        pclose(f);
    }
    if (out.empty()) return -1;
    return std::strtod(out.c_str(), nullptr);
}

}  // namespace sqtest

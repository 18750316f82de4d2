#include "support/headless_program.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/tempdir.h"

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

}  // namespace

void WriteUserPrefs(const std::string& dataDir, const std::vector<std::pair<std::string, std::string>>& values) {
    std::filesystem::create_directories(dataDir + "/Sonquill");
    std::ofstream f(dataDir + "/Sonquill/prefs.xml", std::ios::trunc);
    f << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvexPrefs><node key=\"overall.httpd.port\">0</node>";
    for (const auto& [key, value] : values) f << "<node key=\"" << XmlEscaped(key) << "\">" << XmlEscaped(value) << "</node>";
    f << "</QuorvexPrefs>\n";
}

ProgramRun RunProgramHeadless(const std::string& args, const std::string& workDir, const std::string& dataDir,
                              int limitSeconds) {
    const std::string err = workDir + "/.program.err";
    const std::string cmd = "cd '" + workDir + "' && env -u DISPLAY -u WAYLAND_DISPLAY APPDATA='" + dataDir + "' timeout " +
                            std::to_string(limitSeconds) + " '" SQ_OUT_DIR "/sonquill' -verbose " + args + " >/dev/null 2>'" + err + "'";
    const int status = std::system(cmd.c_str());
    ProgramRun run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadFile(err);
    std::filesystem::remove(err);
    return run;
}

HeadlessProgram::HeadlessProgram(const std::vector<std::pair<std::string, std::string>>& prefs) {
    WriteUserPrefs(data_.path().string(), prefs);
}

ProgramResult HeadlessProgram::Exec(const std::string& invocation) const {
    const std::string err = work_.file("run.err"), out = work_.file("run.out");
    const std::string cmd = "cd '" + work_.path().string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY SONQUILL_GUI=headless "
                            "APPDATA='" + data_.path().string() + "' timeout 120 " + invocation + " >'" + out + "' 2>'" + err +
                            "' </dev/null";
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(err), ReadFile(out)};
}

ProgramResult HeadlessProgram::Run(const std::string& args, const std::string& prefix) const {
    return Exec(prefix + " '" SQ_OUT_DIR "/sonquill' " + args);
}

ProgramResult HeadlessProgram::RunOnTerminal(const std::string& args) const {
    // `script` runs its command through a shell: the program's path is quoted for it.
    return Exec("script -qec \"'" SQ_OUT_DIR "/sonquill' " + args + "\" /dev/null");
}

std::string HeadlessProgram::MakeTone(const std::string& name, double seconds) const {
    const std::string path = work_.file(name);
    const std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:duration=" + std::to_string(seconds) +
                            " -ac 2 '" + path + "' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0 ? path : std::string();
}

}  // namespace sqtest

#include "support/headless_program.h"

#include <sys/wait.h>

#include <cstdlib>

namespace sqtest {

HeadlessProgram::HeadlessProgram(const std::string& extraPrefs) {
    data_.write("Sonquill/prefs.xml",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvexPrefs><node key=\"overall.httpd.port\">0</node>" +
                    extraPrefs + "</QuorvexPrefs>\n");
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

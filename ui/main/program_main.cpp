// The sonquill executable: the process's arguments become the command-line text the shell reads.
#include <csignal>
#include <cstdlib>
#include <string>

#include "ui/dialogs/prompt.h"
#include "ui/main/shell.h"

namespace {

// Arguments joined by blanks, as the shell's reader takes them back: one holding a blank, a tab or
// a double quote (or none at all) is quoted, with each of its double quotes doubled.
std::string CommandLineText(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!text.empty()) text += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
            text += arg;
            continue;
        }
        text += '"';
        for (char c : arg) text += c == '"' ? std::string("\"\"") : std::string(1, c);
        text += '"';
    }
    return text;
}

bool HasDisplay() {
    const char* gui = std::getenv("SONQUILL_GUI");
    if (gui && std::string(gui) == "headless") return false;
    for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* v = std::getenv(var); v && *v) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (!HasDisplay()) {
        // Nobody can answer a prompt: each takes its default (or the "assume" option's) at once,
        // and what the window would show is written to standard error.
        ui::CDlgPrompt::SetAnswerAtOnce(true);
        ui::Shell().echoToStderr = true;
    }
    const int code = ui::WinMain(CommandLineText(argc, argv).c_str());
    return code < 0 ? 255 : code;
}

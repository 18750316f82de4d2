#include "engine/tools/player_cmd.h"

#include <cstdio>

#include "engine/prefs/prefstore.h"
#include "platform/cmdline.h"

std::string QuotedPath(const char* path) {
    return "\"" + platform::EscapeInQuotes(path ? path : "", true) + "\"";
}

std::string PlayerQuietOption() {
    return GetPrefStore().GetBool("overall.ui.quiet") ? " -really-quiet" : " -quiet";
}

std::string PlayerPipeHandle(int fd) {
    char buf[24];
    snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(static_cast<unsigned>(fd)));
    return buf;
}

std::string BuildDiscTitlesLine(int kind, int title, const char* device) {
    std::string line = kind == 0 ? "mplayer -vo null -nosound -benchmark -bluray-device " : "mplayer -vo null -nosound -benchmark -dvd-device ";
    line += QuotedPath(device);
    line += kind == 0 ? " -identify -endpos 1 br://" : " -identify -endpos 1 dvd://";
    if (title > 0) line += std::to_string(title);
    return line;
}

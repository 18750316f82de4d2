#include "common/sysutil.h"

#include <cstdlib>
#include <cstring>

#include "platform/mixer.h"

extern "C" {

int IsUnderWine(void) {
    if (std::getenv("WINEPREFIX") || std::getenv("XDG_DATA_DIRS")) return 1;
    const char* os = std::getenv("OS");
    if (os && std::strstr(os, "ReactOS")) return 2;
    return 0;
}

int SetVolume(int volume) { return platform::SetMasterVolume(volume) ? 0 : -1; }

int GetVolume(void) { return platform::GetMasterVolume(); }

}  // extern "C"

#include "common/sysutil.h"

#include "platform/mixer.h"

extern "C" {

int IsUnderWine(void) { return 0; }

int SetVolume(int volume) { return platform::SetMasterVolume(volume) ? 0 : -1; }

int GetVolume(void) { return platform::GetMasterVolume(); }

}  // extern "C"

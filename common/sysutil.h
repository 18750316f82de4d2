// Environment and system checks exported by qxcommon.
#pragma once

#include "common/helpers_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// 1 when "WINEPREFIX" or "XDG_DATA_DIRS" is set; otherwise 2 when "OS" is set and contains
// "ReactOS"; otherwise 0.
QXHELPER_API int IsUnderWine(void);

// Sets the master volume (0 silent to 65535 loudest, clamped). 0, or -1 when there is no mixer.
QXHELPER_API int SetVolume(int volume);
// The master volume (0 to 65535); -1 when there is no mixer.
QXHELPER_API int GetVolume(void);

#ifdef __cplusplus
}  // extern "C"
#endif

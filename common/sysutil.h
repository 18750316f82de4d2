// Environment and system checks exported by qxcommon.
#pragma once

#include "common/helpers_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// 0: this build runs natively, never under Wine or ReactOS, whatever the environment holds
// ("XDG_DATA_DIRS" is set on most desktops, so the variables cannot tell). Callers keep their
// Wine-only branches; here they are never taken.
QXHELPER_API int IsUnderWine(void);

// Sets the master volume (0 silent to 65535 loudest, clamped). 0, or -1 when there is no mixer.
QXHELPER_API int SetVolume(int volume);
// The master volume (0 to 65535); -1 when there is no mixer.
QXHELPER_API int GetVolume(void);

#ifdef __cplusplus
}  // extern "C"
#endif

// The system's master volume through the ALSA mixer element "Master".
#pragma once

namespace platform {

// Full scale of the volume as the program counts it: 0 (silent) to 65535 (loudest).
inline constexpr int kVolumeMax = 65535;

// The master volume of the card (an ALSA control name such as "default" or "hw:0") on the
// 0..65535 scale (the first channel); -1 when the card or its "Master" element does not exist.
int GetMasterVolume(const char* card = "default");

// Sets every channel of "Master" to the volume (clamped to 0..65535); false when there is no
// such mixer.
bool SetMasterVolume(int volume, const char* card = "default");

}  // namespace platform

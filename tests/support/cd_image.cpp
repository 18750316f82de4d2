#include "support/cd_image.h"

#include <cstdio>
#include <fstream>

#include "engine/devices/cdrom.h"
#include "platform/cdrom/cdrom.h"

namespace sqtest {

std::string CdImageSectors(uint32_t first, uint32_t count) {
    std::string bytes;
    bytes.reserve(size_t{count} * 2352);
    for (uint32_t s = first; s < first + count; ++s)
        for (int w = 0; w < 588; ++w)
            for (int b = 0; b < 4; ++b) bytes += static_cast<char>((s >> (8 * b)) & 0xFF);
    return bytes;
}

std::string WriteCdImage(const std::string& folder, const std::string& name, const std::vector<uint32_t>& trackSectors) {
    uint32_t total = 0;
    for (uint32_t n : trackSectors) total += n;
    std::ofstream(folder + "/" + name + ".bin", std::ios::binary) << CdImageSectors(0, total);
    std::string cue = "FILE \"" + name + ".bin\" BINARY\n";
    uint32_t start = 0;
    for (size_t t = 0; t < trackSectors.size(); ++t) {
        char line[96];
        snprintf(line, sizeof line, "  TRACK %02zu AUDIO\n    INDEX 01 %02u:%02u:%02u\n", t + 1, start / 4500,
                 start / 75 % 60, start % 75);
        cue += line;
        start += trackSectors[t];
    }
    const std::string path = folder + "/" + name + ".cue";
    std::ofstream(path) << cue;
    return path;
}

CdImageDrives::CdImageDrives(const std::vector<std::string>& images) {
    platform::cdrom::SetDeviceList(images, true);
    CdShutdown();
    CdInit(kCdBackendIoctl);
}

CdImageDrives::~CdImageDrives() {
    CdShutdown();
    platform::cdrom::SetDeviceList({}, false);
}

}  // namespace sqtest

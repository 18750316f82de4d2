// Audio CD images for the CD tests: a .bin of raw 2352-byte sectors and its .cue sheet. Every
// sector holds its own index (its sector number from the start of the disc) in each of its 588
// little-endian 32-bit words, so any read shows which sectors it got. The images stand in for
// drives through platform::cdrom::SetDeviceList.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sqtest {

// Writes <folder>/<name>.bin and .cue with tracks of the given lengths in sectors; the .cue path.
std::string WriteCdImage(const std::string& folder, const std::string& name, const std::vector<uint32_t>& trackSectors);

// The bytes of sectors [first, first + count) of such an image.
std::string CdImageSectors(uint32_t first, uint32_t count);

// Makes images stand for the machine's drives (D:, E:, ...) while it lives, and initialises the
// CD layer.
class CdImageDrives {
public:
    explicit CdImageDrives(const std::vector<std::string>& images);
    ~CdImageDrives();
    CdImageDrives(const CdImageDrives&) = delete;
    CdImageDrives& operator=(const CdImageDrives&) = delete;
};

}  // namespace sqtest

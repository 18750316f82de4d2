// CD-ROM drives of this machine, read through libcdio: the drive list, a disc's table of contents
// and raw CD-DA sectors. libcdio also opens disc images (.cue/.bin, .toc), which is how a drive can
// be stood in for where the machine has none.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::cdrom {

inline constexpr uint32_t kRawSectorBytes = 2352;
// The kernel's audio read takes at most one second of sectors per call.
inline constexpr uint32_t kMaxSectorsPerRead = 75;

struct TrackEntry {
    int number = 0;
    bool data = false;  // a data track (control bit 4)
    uint32_t lsn = 0;   // first sector, counted from the first track's pre-gap end (00:02:00)
};

struct DiscToc {
    int first = 0;
    int last = 0;
    std::vector<TrackEntry> tracks;  // first..last
    uint32_t leadout = 0;            // first sector after the last track
};

// The CD-ROM devices (/dev/sr0, /dev/sr1, ...) in number order, or the list set below.
std::vector<std::string> ListDevices();
// Replaces the device list (disc images or device paths); an empty list with `active` false
// returns to scanning the machine.
void SetDeviceList(const std::vector<std::string>& devices, bool active);

class Drive {
public:
    // Opens a device or a disc image; null when it cannot be opened.
    static std::unique_ptr<Drive> Open(const std::string& path);
    ~Drive();
    Drive(const Drive&) = delete;
    Drive& operator=(const Drive&) = delete;

    // False for an empty drive, an unreadable disc or a table without tracks.
    bool ReadToc(DiscToc* toc);
    // count raw 2352-byte CD-DA sectors from lsn, read in pieces of at most kMaxSectorsPerRead.
    bool ReadAudio(uint32_t lsn, uint32_t count, void* buffer);

private:
    explicit Drive(void* handle) : handle_(handle) {}
    void* handle_;
};

}  // namespace platform::cdrom

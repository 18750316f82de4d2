#include "engine/devices/cdrom.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/cdrom/cdrom.h"

namespace cd = platform::cdrom;

struct CdDrive {
    std::unique_ptr<cd::Drive> device;
};

namespace {

struct Backend {
    const char* name;
    bool available;
};

// On this system the drives answer both the pass-through and the CD-ROM control interface, so
// the level that makes them available is a given; ASPI has no library here.
constexpr int kPlatformLevel = 3;

struct DriveEntry {
    char letter = 0;
    std::string root;    // "D:\"
    std::string device;  // the device or image behind the letter
};

// The back-end table and the drive table are read by the interface and by job threads while the
// picker rescans: one lock guards both.
std::mutex tableLock;
Backend backends[3] = {{"ASPI", false}, {"SPTI", false}, {"IOCTL_CDROM", false}};
int chosen = kCdBackendIoctl;
bool initialised = false;
std::vector<DriveEntry> drives;

// The device behind a drive letter: D: is the machine's first CD-ROM device, E: the second, ...
std::string DeviceOfLetter(char letter) {
    const int index = std::toupper(static_cast<unsigned char>(letter)) - 'D';
    if (index < 0 || index > 'Z' - 'D') return "";
    const std::vector<std::string> devices = cd::ListDevices();
    return static_cast<size_t>(index) < devices.size() ? devices[static_cast<size_t>(index)] : "";
}

void PutMsf(uint8_t* at, uint32_t lsn) {
    const uint64_t frames = uint64_t{lsn} + 150;  // addresses count from the 2 s pre-gap
    at[0] = 0;
    at[1] = static_cast<uint8_t>(std::min<uint64_t>(frames / (60 * 75), 255));
    at[2] = static_cast<uint8_t>(frames / 75 % 60);
    at[3] = static_cast<uint8_t>(frames % 75);
}

const uint8_t* Descriptor(const CdTocBuffer& toc, int i) { return toc.bytes + 4 + 8 * i; }
int64_t Seconds(const uint8_t* d) { return int64_t{d[5]} * 60 + d[6]; }
int64_t Frames(const uint8_t* d) { return Seconds(d) * 75 + d[7]; }

// The TOC of the drive-table entry through the chosen back end; zeroed when it cannot be read.
bool ReadEntryToc(int index, CdTocBuffer* toc) {
    std::string device;
    {
        std::lock_guard<std::mutex> lock(tableLock);
        if (index < 0 || static_cast<size_t>(index) >= drives.size()) return false;
        device = drives[static_cast<size_t>(index)].device;
    }
    CdDrive drive{cd::Drive::Open(device)};
    return drive.device && CdReadTocBuffer(&drive, toc);
}

}  // namespace

int CdInit(int backend) {
    std::lock_guard<std::mutex> lock(tableLock);
    if (initialised) return 0;
    chosen = backend >= kCdBackendAspi && backend <= kCdBackendIoctl ? backend : kCdBackendIoctl;
    backends[kCdBackendAspi].available = false;
    if (chosen == kCdBackendAspi) chosen = kCdBackendSpti;
    backends[kCdBackendSpti].available = backends[kCdBackendIoctl].available = kPlatformLevel >= 3;
    initialised = true;
    return 0;
}

void CdShutdown() {
    std::lock_guard<std::mutex> lock(tableLock);
    for (Backend& b : backends) b.available = false;
    drives.clear();
    initialised = false;
}

int CdGetDriveCount() {
    std::lock_guard<std::mutex> lock(tableLock);
    drives.clear();
    if (!initialised) return 0;
    const std::vector<std::string> devices = cd::ListDevices();
    for (size_t i = 0; i < devices.size() && drives.size() < kCdMaxDrives && i <= 'Z' - 'D'; ++i) {
        const char letter = static_cast<char>('D' + i);
        drives.push_back({letter, std::string(1, letter) + ":\\", devices[i]});
    }
    return static_cast<int>(drives.size());
}

char CdDriveLetter(int index) {
    std::lock_guard<std::mutex> lock(tableLock);
    return index >= 0 && static_cast<size_t>(index) < drives.size() ? drives[static_cast<size_t>(index)].letter : 0;
}

int CdGetTrackCount(int index) {
    CdTocBuffer toc;
    ReadEntryToc(index, &toc);
    return CdTocTrackCount(toc);
}

uint32_t CdGetDiscInfo(int index, char* text) {
    {
        std::lock_guard<std::mutex> lock(tableLock);
        if (!initialised) return ~uint32_t{0};
        if (!backends[chosen].available) {
            if (text) snprintf(text, kCdDiscInfoBytes, "%s interface not available.\n", backends[chosen].name);
            return ~uint32_t{0};
        }
    }
    if (text) *text = 0;
    CdTocBuffer toc;
    ReadEntryToc(index, &toc);
    if (toc.bytes[2] == 0 && toc.bytes[3] == 0) return 0;
    if (text) CddbQueryString(toc, text, kCdDiscInfoBytes);
    return CddbDiscId(toc);
}

std::string CdDiscText(const char* root) {
    if (!root || !*root) return "";
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
    int index = -1;
    {
        std::lock_guard<std::mutex> lock(tableLock);
        for (size_t i = 0; i < drives.size(); ++i)
            if (drives[i].letter == letter) index = static_cast<int>(i);
    }
    if (index < 0) return "";
    char text[kCdDiscInfoBytes] = {};
    const uint32_t id = CdGetDiscInfo(index, text);
    return id == 0 || id == ~uint32_t{0} ? "" : text;
}

int CdTocTrackCount(const CdTocBuffer& toc) {
    const int first = toc.bytes[2], last = toc.bytes[3];
    if (first == 0 && last == 0) return 0;
    const int n = last - first + 1;
    if (first < 1 || n < 1 || n > 99) return 0;
    // The data length counts the two track bytes and every descriptor, the lead-out included.
    const size_t length = (size_t{toc.bytes[0]} << 8) | toc.bytes[1];
    if (length < 2 + 8 * static_cast<size_t>(n + 1) || length + 2 > kCdTocBytes) return 0;
    return n;
}

uint32_t CddbDiscId(const CdTocBuffer& toc) {
    const int n = CdTocTrackCount(toc);
    if (n < 1) return 0;
    uint32_t digitSum = 0;
    for (int i = 0; i < n; ++i)
        for (int64_t s = Seconds(Descriptor(toc, i)); s > 0; s /= 10) digitSum += static_cast<uint32_t>(s % 10);
    const int64_t total = Seconds(Descriptor(toc, n)) - Seconds(Descriptor(toc, 0));
    return ((digitSum % 255) << 24) | (static_cast<uint32_t>(total) << 8) | static_cast<uint32_t>(n);
}

const char* CddbQueryString(const CdTocBuffer& toc, char* buffer, size_t size) {
    if (!buffer || size == 0) return buffer;
    const int n = CdTocTrackCount(toc);
    std::string text;
    char part[32];
    snprintf(part, sizeof part, "cddb query %08x %d", CddbDiscId(toc), n);
    text = part;
    for (int i = 0; i < n; ++i) {
        snprintf(part, sizeof part, " %lld", static_cast<long long>(Frames(Descriptor(toc, i))));
        text += part;
    }
    if (n > 0) {
        snprintf(part, sizeof part, " %lld", static_cast<long long>(Seconds(Descriptor(toc, n))));
        text += part;
    }
    snprintf(buffer, size, "%s", text.c_str());
    return buffer;
}

bool CdReadTocBuffer(CdDrive* drive, CdTocBuffer* toc) {
    *toc = CdTocBuffer{};
    cd::DiscToc disc;
    if (!drive || !drive->device || !drive->device->ReadToc(&disc)) return false;
    const size_t n = disc.tracks.size();
    const size_t length = 2 + 8 * (n + 1);
    toc->bytes[0] = static_cast<uint8_t>(length >> 8);
    toc->bytes[1] = static_cast<uint8_t>(length);
    toc->bytes[2] = static_cast<uint8_t>(disc.first);
    toc->bytes[3] = static_cast<uint8_t>(disc.last);
    for (size_t i = 0; i <= n; ++i) {
        uint8_t* d = toc->bytes + 4 + 8 * i;
        const bool leadout = i == n;
        d[1] = static_cast<uint8_t>(0x10 | (!leadout && disc.tracks[i].data ? 0x04 : 0));
        d[2] = leadout ? 0xAA : static_cast<uint8_t>(disc.tracks[i].number);
        PutMsf(d + 4, leadout ? disc.leadout : disc.tracks[i].lsn);
    }
    return true;
}

CdDrive* CdOpenDrive(char letter) {
    const std::string device = DeviceOfLetter(letter);
    if (device.empty()) return nullptr;
    auto drive = std::make_unique<CdDrive>();
    drive->device = cd::Drive::Open(device);
    if (!drive->device) return nullptr;
    return drive.release();
}

int CdReadToc(CdDrive* drive, std::vector<uint32_t>* starts) {
    starts->clear();
    CdTocBuffer toc;
    if (!CdReadTocBuffer(drive, &toc)) {
        fputs("could not read TOCHDR\n", stderr);
        return 0;
    }
    const int n = CdTocTrackCount(toc);
    for (int i = 0; i <= n && n > 0; ++i) {
        const int64_t lba = Frames(Descriptor(toc, i)) - 150;
        starts->push_back(static_cast<uint32_t>(lba < 0 ? 0 : lba));
    }
    return n;
}

int CdReadSectors(CdDrive* drive, uint32_t lba, void* buffer, uint32_t count) {
    if (!drive || !drive->device || !buffer) return -1;
    return drive->device->ReadAudio(lba, count, buffer) ? 0 : -1;
}

void CdCloseDrive(CdDrive* drive) { delete drive; }

#include "platform/cdrom/cdrom.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <sys/stat.h>

#include <algorithm>
#include <mutex>

namespace platform::cdrom {

namespace {

std::mutex listLock;
std::vector<std::string> listOverride;
bool overrideActive = false;

CdIo_t* Handle(void* h) { return static_cast<CdIo_t*>(h); }

void QuietLibrary() {
    // libcdio reports every probe of a missing or empty device on standard error.
    static std::once_flag once;
    std::call_once(once, [] { cdio_loglevel_default = CDIO_LOG_ERROR; });
}

}  // namespace

std::vector<std::string> ListDevices() {
    {
        std::lock_guard<std::mutex> lock(listLock);
        if (overrideActive) return listOverride;
    }
    std::vector<std::string> found;
    for (int i = 0; i < 32; ++i) {
        const std::string path = "/dev/sr" + std::to_string(i);
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) found.push_back(path);
    }
    return found;
}

void SetDeviceList(const std::vector<std::string>& devices, bool active) {
    std::lock_guard<std::mutex> lock(listLock);
    listOverride = devices;
    overrideActive = active;
}

std::unique_ptr<Drive> Drive::Open(const std::string& path) {
    QuietLibrary();
    if (path.empty()) return nullptr;
    CdIo_t* p = cdio_open(path.c_str(), DRIVER_UNKNOWN);
    if (!p) return nullptr;
    return std::unique_ptr<Drive>(new Drive(p));
}

Drive::~Drive() { cdio_destroy(Handle(handle_)); }

bool Drive::ReadToc(DiscToc* toc) {
    *toc = DiscToc{};
    CdIo_t* p = Handle(handle_);
    const track_t first = cdio_get_first_track_num(p);
    const track_t last = cdio_get_last_track_num(p);
    if (first == CDIO_INVALID_TRACK || last == CDIO_INVALID_TRACK || first < 1 || last < first || last > 99) return false;
    toc->first = first;
    toc->last = last;
    for (track_t t = first; t <= last; ++t) {
        const lsn_t lsn = cdio_get_track_lsn(p, t);
        if (lsn == CDIO_INVALID_LSN || lsn < 0) return false;
        toc->tracks.push_back({t, cdio_get_track_format(p, t) != TRACK_FORMAT_AUDIO, static_cast<uint32_t>(lsn)});
    }
    const lsn_t leadout = cdio_get_track_lsn(p, CDIO_CDROM_LEADOUT_TRACK);
    if (leadout == CDIO_INVALID_LSN || leadout < 0) return false;
    toc->leadout = static_cast<uint32_t>(leadout);
    return true;
}

bool Drive::ReadAudio(uint32_t lsn, uint32_t count, void* buffer) {
    // Sectors past the lead-out are not on the disc (an image would answer with made-up bytes).
    const lsn_t leadout = cdio_get_track_lsn(Handle(handle_), CDIO_CDROM_LEADOUT_TRACK);
    if (leadout == CDIO_INVALID_LSN || uint64_t{lsn} + count > static_cast<uint64_t>(leadout)) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        const uint32_t n = std::min(count, kMaxSectorsPerRead);
        if (cdio_read_audio_sectors(Handle(handle_), out, static_cast<lsn_t>(lsn), n) != DRIVER_OP_SUCCESS) return false;
        out += static_cast<size_t>(n) * kRawSectorBytes;
        lsn += n;
        count -= n;
    }
    return true;
}

}  // namespace platform::cdrom

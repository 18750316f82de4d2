#include "engine/devices/cd_source.h"

#include <strings.h>

#include <algorithm>
#include <vector>

#include "engine/jobs/audiotask.h"
#include "engine/queue/queue.h"
#include "platform/numtext.h"

CCDAudioSource::CCDAudioSource() { SetName("CD Audio"); }

CCDAudioSource::~CCDAudioSource() { Close(); }

int CCDAudioSource::TrackOfPath(const std::string& path) {
    if (path.find(".CDA") == std::string::npos && path.find(".cda") == std::string::npos) return 0;
    size_t dot = path.find_last_of('.');
    if (dot < 2) return 0;
    int track = platform::ParseInt(path.substr(dot - 2, 2).c_str());
    return track >= 1 ? track : 0;
}

bool CCDAudioSource::Open(AudioTask* task) {
    const std::string path = GetInputPath(task ? task->item : nullptr, -1);
    const int track = TrackOfPath(path);
    if (track < 1 || path.empty()) return false;
    Close();
    drive_ = CdOpenDrive(path[0]);
    if (!drive_) return false;
    std::vector<uint32_t> starts;
    const int n = CdReadToc(drive_, &starts);
    if (n < track) {
        Close();
        return false;
    }
    firstSector = currentSector = static_cast<int32_t>(starts[static_cast<size_t>(track - 1)]);
    endSector = static_cast<int32_t>(starts[static_cast<size_t>(track)]);
    return true;
}

void CCDAudioSource::Close() {
    if (drive_) CdCloseDrive(drive_);
    drive_ = nullptr;
    firstSector = currentSector = endSector = 0;
}

int32_t CCDAudioSource::Seek(int32_t ms) {
    if (endSector < 1) return 0;
    const int64_t sector = int64_t{currentSector} + int64_t{ms} * kCdSectorsPerSecond / 1000;
    if (sector < firstSector || sector >= endSector) return 0;
    const int64_t moved = sector - currentSector;
    currentSector = static_cast<int32_t>(sector);
    return static_cast<int32_t>(moved * kCdSectorBytes);
}

int CCDAudioSource::Read(void* buffer, int size) {
    const int count = ClippedCount(size);
    if (count < 0 || currentSector >= endSector || position > byteLimit || count < static_cast<int>(kCdSectorBytes))
        return -1;
    const int32_t sectors = std::min<int32_t>(count / static_cast<int>(kCdSectorBytes), endSector - currentSector);
    auto* out = static_cast<uint8_t*>(buffer);
    int32_t done = 0;
    if (CdReadSectors(drive_, static_cast<uint32_t>(currentSector), out, static_cast<uint32_t>(sectors)) == 0) {
        done = sectors;
    } else {
        // A damaged stretch: take the sectors that still read, one at a time, up to the first bad one.
        while (done < sectors &&
               CdReadSectors(drive_, static_cast<uint32_t>(currentSector + done), out + size_t(done) * kCdSectorBytes, 1) == 0)
            ++done;
        if (done == 0) return -1;
    }
    currentSector += done;
    position += uint64_t(done) * kCdSectorBytes;
    return done * static_cast<int>(kCdSectorBytes);
}

int ProbeCdaTrack(QueueItem* item) {
    if (!item || !item->file) return -1;
    const std::string path = item->file;
    if (path.size() < 4 || strcasecmp(path.c_str() + path.size() - 4, ".cda") != 0) return -1;
    const int track = CCDAudioSource::TrackOfPath(path);
    if (track < 1) return -1;
    if (!item->audio) item->audio = new AudioStreamInfo;
    AudioStreamInfo* a = item->audio;
    SetStringField(&a->codec, "CDDA");
    a->bitrate = 176400;
    a->bitrateMode = 1;
    a->samplerate = 44100;
    a->channels = 2;
    a->samplebits = 16;
    item->cdTrackProbed = 1;
    // The track exists when the disc in the drive has it (there are no track files here).
    CdDrive* drive = CdOpenDrive(path[0]);
    if (!drive) return -1;
    std::vector<uint32_t> starts;
    const int n = CdReadToc(drive, &starts);
    CdCloseDrive(drive);
    if (n < track) return -1;
    const uint64_t sectors = starts[static_cast<size_t>(track)] - starts[static_cast<size_t>(track - 1)];
    item->size = static_cast<uint32_t>(sectors * kCdSectorBytes / 1024);
    item->duration = static_cast<int32_t>(sectors * kCdSectorBytes * 1000 / 176400);
    a->duration = static_cast<uint32_t>(item->duration);
    return 0;
}

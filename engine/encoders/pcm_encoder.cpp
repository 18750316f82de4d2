#include "engine/encoders/pcm_encoder.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace {

int CreateOutput(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

}  // namespace

CPcm::CPcm() {
    flags = kEncoderRawPcm | kEncoderTagsOutput;
    files_.fill(-1);
    fileExt = GetPrefStore().GetInt("audioenc.pcm.format") != 0 ? "pcm" : "wav";
}

CPcm::~CPcm() {
    Close();
    platform::CloseFd(pipeRead_);
}

std::string CPcm::ChannelPath(const std::string& destination, int channel) {
    if (channel <= 1) return destination;
    const size_t slash = destination.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = destination.rfind('.');
    if (dot == std::string::npos || dot < nameStart) dot = destination.size();
    return destination.substr(0, dot) + "_ch" + std::to_string(channel) + destination.substr(dot);
}

bool CPcm::Open(const char* destination, QueueItem* item, const char*) {
    Close();
    platform::CloseFd(pipeRead_);
    PrefStore& prefs = GetPrefStore();
    raw_ = prefs.GetInt("audioenc.pcm.format") != 0;
    fileExt = raw_ ? "pcm" : "wav";
    separate_ = false;
    toPipe_ = false;
    writeFailed_ = false;
    dataSize_ = 0;
    if (!destination) return false;
    if (std::strcmp(destination, "-") == 0) {
        int fds[2];
        if (!platform::MakePipe(fds, 65536)) return false;
        pipeRead_ = fds[0];
        files_[0] = fds[1];
        toPipe_ = true;
        return true;
    }
    if (prefs.GetBool("audioenc.pcm.separate")) {
        separate_ = true;
        const AudioStreamInfo* stream = item ? item->audio : nullptr;
        const int channels = std::min<int>(stream ? static_cast<int>(stream->channels) : 0, kMaxChannelFiles);
        for (int c = 0; c < channels; ++c) {
            paths_[c] = ChannelPath(destination, c + 1);
            files_[c] = CreateOutput(paths_[c]);
            if (files_[c] < 0) LogMessageFormat(&log, "Cannot create %s", paths_[c].c_str());
        }
        return true;
    }
    paths_[0] = destination;
    files_[0] = CreateOutput(paths_[0]);
    return files_[0] >= 0;
}

bool CPcm::WriteHeader(const WaveHeader* header) {
    if (!header) return false;
    header_ = std::make_unique<WaveHeader>(*header);
    bytesPerSample_ = header->bitsPerSample / 8;
    channels_ = header->channels;
    if (separate_) {
        // The PCM decides how samples are dealt: files beyond its channels stay out.
        for (int c = std::min<int>(channels_, kMaxChannelFiles); c < kMaxChannelFiles; ++c) {
            if (files_[c] >= 0) {
                platform::CloseFd(files_[c]);
                platform::RemoveFileEntry(paths_[c].c_str());
            }
        }
        InitWaveHeader(header_.get(), header->sampleRate, 1, header->bitsPerSample, 0);
    }
    header_->dataSize = 0;
    if (raw_) return true;
    WaveHeader out = *header_;
    if (toPipe_) InitWaveHeader(&out, out.sampleRate, out.channels, out.bitsPerSample, -1);
    for (int fd : files_) {
        if (fd >= 0 && platform::WriteFull(fd, &out, sizeof out) != sizeof out) writeFailed_ = true;
    }
    return !writeFailed_;
}

int CPcm::Write(const void* bytes, int length) {
    if (length < 0 || (!bytes && length > 0)) return -1;
    if (length == 0) return 0;
    if (!separate_) {
        if (files_[0] < 0) return -1;
        const size_t n = platform::WriteFull(files_[0], bytes, static_cast<size_t>(length));
        dataSize_ += n;
        if (n != static_cast<size_t>(length)) {
            writeFailed_ = true;
            return -1;
        }
        return length;
    }
    if (channels_ <= 0 || bytesPerSample_ <= 0) return length;
    // Whole frames are dealt, one buffer per channel file, one write per file.
    const size_t frame = static_cast<size_t>(channels_) * bytesPerSample_;
    const size_t frames = static_cast<size_t>(length) / frame;
    const auto* in = static_cast<const uint8_t*>(bytes);
    std::vector<uint8_t> lane(frames * bytesPerSample_);
    for (int c = 0; c < std::min<int>(channels_, kMaxChannelFiles); ++c) {
        if (files_[c] < 0) continue;
        for (size_t f = 0; f < frames; ++f) {
            std::memcpy(&lane[f * bytesPerSample_], in + f * frame + static_cast<size_t>(c) * bytesPerSample_,
                        static_cast<size_t>(bytesPerSample_));
        }
        if (platform::WriteFull(files_[c], lane.data(), lane.size()) != lane.size()) writeFailed_ = true;
    }
    dataSize_ += frames * bytesPerSample_;
    return length;
}

void CPcm::Finish() {
    if (writeFailed_) finishedCleanly_ = false;
    if (header_ && !raw_ && !toPipe_) {
        WaveHeader final = *header_;
        InitWaveHeader(&final, final.sampleRate, final.channels, final.bitsPerSample, static_cast<int64_t>(dataSize_));
        for (int fd : files_) {
            if (fd >= 0 && ::pwrite(fd, &final, sizeof final, 0) != static_cast<ssize_t>(sizeof final)) {
                finishedCleanly_ = false;
            }
        }
    }
    header_.reset();
    // The reader of "-" sees the end of the stream once the write end is closed.
    if (toPipe_) platform::CloseFd(files_[0]);
}

int CPcm::ReadOutput(char* buffer, int size) {
    if (pipeRead_ < 0 || !buffer || size <= 0) return -1;
    pollfd p{pipeRead_, POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) return -1;
    const ssize_t n = platform::ReadRetry(pipeRead_, buffer, static_cast<size_t>(size));
    return n > 0 ? static_cast<int>(n) : -1;
}

void CPcm::CloseFiles() {
    for (int& fd : files_) platform::CloseFd(fd);
}

void CPcm::Close() { CloseFiles(); }

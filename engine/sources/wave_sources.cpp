#include "engine/sources/wave_sources.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "platform/process.h"

namespace {

int OpenReadOnly(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

uint64_t FileLength(int fd) {
    off_t end = lseek(fd, 0, SEEK_END);
    return end > 0 ? static_cast<uint64_t>(end) : 0;
}

// Finds "data" by sliding an 8-byte window through the file from byte 36 (a header whose chunk
// sizes cannot be followed); the offset after its size field, or 0.
uint64_t SlideToData(int fd, uint32_t* size) {
    uint8_t window[8];
    if (pread(fd, window, 8, 36) != 8) return 0;
    uint64_t at = 44;
    std::vector<uint8_t> block(65536);
    size_t have = 0, used = 0;
    for (;;) {
        if (memcmp(window, "data", 4) == 0) {
            *size = static_cast<uint32_t>(window[4] | (window[5] << 8) | (window[6] << 16) | (uint32_t{window[7]} << 24));
            return at;
        }
        if (used == have) {
            ssize_t got = pread(fd, block.data(), block.size(), static_cast<off_t>(at));
            if (got <= 0) return 0;
            have = static_cast<size_t>(got);
            used = 0;
        }
        memmove(window, window + 1, 7);
        window[7] = block[used++];
        ++at;
    }
}

void MakeRaw(WaveHeader* header, WaveFileLayout* layout, uint64_t length) {
    InitWaveHeader(header, 44100, 2, 16, static_cast<int64_t>(std::min<uint64_t>(length, 0x7FFFFFFF)));
    *layout = WaveFileLayout{};
    layout->dataSize = length;
    layout->raw = true;
}

}  // namespace

bool ReadWaveFileHead(int fd, WaveHeader* header, WaveFileLayout* layout) {
    const uint64_t length = FileLength(fd);
    lseek(fd, 0, SEEK_SET);
    RiffWaveInfo info;
    RiffReadFn read = [fd](void* buf, size_t n) -> size_t {
        ssize_t got = platform::ReadRetry(fd, buf, n);
        return got > 0 ? static_cast<size_t>(got) : 0;
    };
    RiffStatus status = WalkRiffWave(read, &info);
    uint8_t head[44] = {};
    const bool riffHead = pread(fd, head, 44, 0) >= 36 && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "WAVE", 4) == 0 &&
                          memcmp(head + 12, "fmt ", 4) == 0;
    if (status == RiffStatus::kBadFormat) return false;
    if (status != RiffStatus::kOk) {
        // Chunk sizes that cannot be followed: look for "data" byte by byte behind the format.
        uint32_t size = 0;
        uint64_t offset = riffHead ? SlideToData(fd, &size) : 0;
        if (!offset || !ParseRiffFormat(head + 20, 16, &info)) {
            MakeRaw(header, layout, length);
            lseek(fd, 0, SEEK_SET);
            return true;
        }
        info.dataOffset = offset;
        info.dataSize = size;
        info.dataSizeKnown = size != 0 && size != 0xFFFFFFFFu;
    }
    *header = info.header;
    *layout = WaveFileLayout{};
    layout->dataOffset = info.dataOffset;
    const uint64_t rest = length > info.dataOffset ? length - info.dataOffset : 0;
    // An unknown size (a file written while streaming) runs to the end of the file.
    layout->dataSize = info.dataSizeKnown ? info.dataSize : rest;
    layout->blockAlign = header->blockAlign;
    layout->byteRate = header->byteRate;
    layout->sampleBytes = static_cast<uint16_t>((header->bitsPerSample + 7) / 8);
    lseek(fd, static_cast<off_t>(info.dataOffset), SEEK_SET);
    return true;
}

// ---------------------------------------------------------------------------------------------
// CWaveFileSource

CWaveFileSource::CWaveFileSource() { SetName("Waveform File"); }
CWaveFileSource::~CWaveFileSource() { CWaveFileSource::Close(); }

uint64_t CWaveFileSource::Delivered(uint64_t fileBytes) const {
    if (widen8) return fileBytes * 2;
    if (float32 || int32) return fileBytes / 2;
    return fileBytes;
}

uint64_t CWaveFileSource::FileBytes(uint64_t delivered) const {
    if (widen8) return delivered / 2;
    if (float32 || int32) return delivered * 2;
    return delivered;
}

bool CWaveFileSource::Open(AudioTask* task) {
    Close();
    std::string path = GetInputPath(task ? task->item : nullptr, task ? task->currentTrack : 0);
    int f = OpenReadOnly(path);
    if (f < 0) return false;
    fd = f;
    widen8 = float32 = int32 = false;
    if (!ReadWaveFileHead(fd, &header, &layout_)) {
        Close();
        return false;
    }
    const uint16_t bits = header.bitsPerSample;
    if (header.formatTag == 3) {
        if (bits != 32) {  // 64-bit float is not read here
            Close();
            return false;
        }
        float32 = true;
    } else if (bits == 8) {
        widen8 = true;
    } else if (bits == 32) {
        int32 = true;
    }
    dataSize = layout_.raw ? 0xFFFFFFFFu : static_cast<uint32_t>(std::min<uint64_t>(layout_.dataSize, 0xFFFFFFFFu));
    if (widen8 || float32 || int32) {
        // The header describes what Read delivers: 16-bit integer samples.
        uint32_t deliveredSize = static_cast<uint32_t>(std::min<uint64_t>(Delivered(layout_.dataSize), 0x7FFFFFFF));
        InitWaveHeader(&header, header.sampleRate, header.channels, 16, deliveredSize);
    }
    byteLimit = Delivered(layout_.dataSize);
    seekOffset_ = 0;
    return true;
}

void CWaveFileSource::Close() {
    if (fd > 0) ::close(fd);
    fd = 0;
}

int32_t CWaveFileSource::Seek(int32_t ms) {
    if (ms == 0) return 0;
    if (ms < 0 || fd <= 0) return ms;
    uint64_t offset = static_cast<uint64_t>(layout_.byteRate) * static_cast<uint64_t>(ms) / 1000;
    offset -= offset % std::max<uint16_t>(layout_.blockAlign, 1);
    offset = std::min(offset, layout_.dataSize);
    lseek(fd, static_cast<off_t>(layout_.dataOffset + offset), SEEK_SET);
    seekOffset_ = offset;
    return ms;
}

bool CWaveFileSource::Prepare(AudioTask* task) {
    position = 0;
    const uint64_t duration = task ? static_cast<uint64_t>(std::max(task->duration, 0)) : 0;
    uint64_t limit = (static_cast<uint64_t>(header.byteRate) * duration / 1000) & ~uint64_t{7};
    const uint64_t total = Delivered(layout_.dataSize);
    if (limit == 0) limit = total;
    byteLimit = std::min(limit, total);
    if (task && task->start != 0) {
        Seek(task->start);
        // The data chunk ends where it ends, whatever the start.
        const uint64_t left = total - std::min(total, Delivered(seekOffset_));
        byteLimit = std::min(byteLimit, left);
    }
    return true;
}

int CWaveFileSource::Read(void* buffer, int size) {
    int count = ClippedCount(size);
    if (count < 0) return -1;
    if (fd <= 0) return -1;
    size_t fileCount;
    if (widen8) fileCount = static_cast<size_t>(count) / 2;
    else if (float32 || int32) fileCount = std::min<size_t>(static_cast<size_t>(count) * 2, static_cast<size_t>(size) & ~size_t{3});
    else fileCount = static_cast<size_t>(count);
    ssize_t got = platform::ReadRetry(fd, buffer, fileCount);
    if (got == 0) {
        inputEnd = InputEnd::kEnded;
        return -1;
    }
    if (got < 0) return errno == EBADF ? 0 : -1;
    size_t n = static_cast<size_t>(got);
    int answer;
    if (float32 || int32) {
        const size_t samples = n / 4;
        auto* in = static_cast<const uint8_t*>(buffer);
        auto* out = static_cast<int16_t*>(buffer);
        for (size_t i = 0; i < samples; ++i) {
            uint32_t u;
            memcpy(&u, in + 4 * i, 4);
            int16_t s;
            if (int32) {
                s = static_cast<int16_t>(static_cast<int32_t>(u) >> 16);
            } else {
                float f;
                memcpy(&f, &u, 4);
                double v = std::isnan(f) ? 0.0 : std::clamp(static_cast<double>(f) * 32768.0, -32768.0, 32767.0);
                s = static_cast<int16_t>(std::lrint(v));
            }
            memcpy(out + i, &s, 2);
        }
        answer = static_cast<int>(samples * 2);
    } else if (widen8) {
        auto* bytes = static_cast<uint8_t*>(buffer);
        for (size_t i = n; i-- > 0;) {
            int16_t s = static_cast<int16_t>((static_cast<int>(bytes[i]) - 128) * 256);
            memcpy(bytes + 2 * i, &s, 2);
        }
        answer = static_cast<int>(n * 2);
    } else {
        answer = static_cast<int>(n);
    }
    position += static_cast<uint64_t>(answer);
    return answer;
}

// ---------------------------------------------------------------------------------------------
// CMultiWaveFileSource

CMultiWaveFileSource::CMultiWaveFileSource() { SetName("Waveform Channel Composer"); }
CMultiWaveFileSource::~CMultiWaveFileSource() { CMultiWaveFileSource::Close(); }

std::string CMultiWaveFileSource::ChannelFilePath(const std::string& input, int channel) {
    std::string path = input;
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = std::string::npos;
    if (dot == std::string::npos || strcasecmp(path.c_str() + dot + 1, "wav") != 0) {
        if (dot != std::string::npos && dot > 0) path.resize(dot);
        path += "1.wav";
        dot = path.size() - 4;
    }
    if (dot == 0) return path;
    const char digit = path[dot - 1];
    std::string key = "audiofilter.channels.channel" + std::to_string(channel);
    path[dot - 1] = static_cast<char>(digit - 1 + GetPrefStore().GetInt(key.c_str()));
    return path;
}

bool CMultiWaveFileSource::Open(AudioTask* task) {
    Close();
    message.clear();
    const int setting = GetPrefStore().GetInt("overall.audio.channels");
    if (setting < 0 || setting > 6) {
        message = "The channel composer takes at most 6 channel files";
        return false;
    }
    static const int kChannels[] = {1, 1, 1, 1, 2, 4, 6};
    channelCount = kChannels[setting];
    const std::string input = GetInputPath(task ? task->item : nullptr, -1);
    for (int i = 0; i < channelCount; ++i) {
        const std::string path = ChannelFilePath(input, i + 1);
        int f = OpenReadOnly(path);
        if (f < 0) {
            message = path + " does not exist which is referenced as waveform file for channel " + static_cast<char>('1' + i);
            Close();
            return false;
        }
        fds[i] = f;
        if (FileLength(f) < 44) {
            message = "Invalid waveform file for channel composition";
            Close();
            return false;
        }
        if (!ReadWaveFileHead(f, &channelHeaders[i], &layouts_[i]) || channelHeaders[i].channels != 1 ||
            channelHeaders[i].bitsPerSample != 16 || channelHeaders[i].formatTag != 1) {
            message = path + " is not a mono waveform file. Waveform file for channel composition must be mono";
            Close();
            return false;
        }
        channelDataSize[i] = layouts_[i].raw ? 0xFFFFFFFFu : static_cast<uint32_t>(std::min<uint64_t>(layouts_[i].dataSize, 0xFFFFFFFFu));
        remaining_[i] = layouts_[i].dataSize;
    }
    InitWaveHeader(&header, channelHeaders[0].sampleRate, static_cast<uint32_t>(channelCount), 16, -1);
    sampleBytes = 2;
    byteLimit = kNoByteLimit;
    return true;
}

void CMultiWaveFileSource::Close() {
    for (int& f : fds) {
        if (f > 0) ::close(f);
        f = 0;
    }
}

int32_t CMultiWaveFileSource::Seek(int32_t ms) {
    if (ms == 0) return 0;
    for (int i = 0; i < channelCount; ++i) {
        if (fds[i] <= 0) continue;
        uint64_t offset = (static_cast<uint64_t>(channelHeaders[i].byteRate) * static_cast<uint64_t>(std::max(ms, 0)) / 1000) & ~uint64_t{1};
        offset = std::min(offset, layouts_[i].dataSize);
        lseek(fds[i], static_cast<off_t>(layouts_[i].dataOffset + offset), SEEK_SET);
        remaining_[i] = layouts_[i].dataSize - offset;
    }
    return ms;
}

bool CMultiWaveFileSource::Prepare(AudioTask* task) {
    position = 0;
    const uint64_t duration = task ? static_cast<uint64_t>(std::max(task->duration, 0)) : 0;
    uint64_t limit = (static_cast<uint64_t>(header.byteRate) * duration / 1000) & ~uint64_t{7};
    byteLimit = limit ? limit : kNoByteLimit;
    if (task && task->start != 0) Seek(task->start);
    return true;
}

int CMultiWaveFileSource::Read(void* buffer, int size) {
    int count = ClippedCount(size);
    if (count < 0) return -1;
    const int frameBytes = channelCount * sampleBytes;
    if (channelCount < 1 || size < frameBytes) return 0;
    if (count < frameBytes) return -1;  // less than a frame left before the limit: the end
    size_t frames = static_cast<size_t>(count / frameBytes);
    // One read per channel file, then interleaved; a file that ends early ends the stream there.
    std::vector<int16_t> channel(frames);
    auto* out = static_cast<uint8_t*>(buffer);
    for (int i = 0; i < channelCount; ++i) {
        size_t want = std::min<uint64_t>(frames * 2, remaining_[i]);
        ssize_t got = want ? platform::ReadRetry(fds[i], channel.data(), want) : 0;
        if (got < 0) got = 0;
        remaining_[i] -= static_cast<uint64_t>(got);
        frames = std::min(frames, static_cast<size_t>(got) / 2);
        for (size_t f = 0; f < frames; ++f) memcpy(out + f * static_cast<size_t>(frameBytes) + static_cast<size_t>(i) * 2, &channel[f], 2);
    }
    if (frames == 0) return -1;
    const int answer = static_cast<int>(frames) * frameBytes;
    position += static_cast<uint64_t>(answer);
    return answer;
}

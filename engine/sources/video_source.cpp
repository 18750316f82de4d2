#include "engine/sources/video_source.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/context.h"
#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/sources/decoder_sources.h"
#include "engine/tools/player_cmd.h"
#include "engine/tools/player_options.h"
#include "engine/tools/process.h"
#include "platform/fs.h"

namespace {

constexpr unsigned kVideoPipeSize = 1048576;
// The player writes up to its audio buffer ahead of the first frame; a pipe that holds less would
// leave it blocked there while the frame stream header is awaited.
constexpr unsigned kAudioPipeSize = 1048576;
constexpr char kStartMessage[] = "Starting playback...";

// Bytes of a 4:2:0 planar frame; odd sizes round the chroma planes up.
uint32_t PlanarFrameSize(uint32_t w, uint32_t h) { return w * h + 2 * (((w + 1) / 2) * ((h + 1) / 2)); }

// Reads rows of rowBytes from the source into dst at the given row pitch; false on a short row.
bool ReadRows(CVideoSource& s, uint8_t* dst, size_t pitch, int rows, int rowBytes) {
    for (int r = 0; r < rows; ++r)
        if (s.ReadVideo(dst + static_cast<size_t>(r) * pitch, rowBytes) != rowBytes) return false;
    return true;
}

}  // namespace

CVideoSource::CVideoSource() { SetName("Video"); }
CVideoSource::~CVideoSource() { CVideoSource::Close(); }

uint32_t CVideoSource::Word(int index) const {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | streamHeader[index * 4 + i];
    return v;
}

void CVideoSource::SetWord(int index, uint32_t value) {
    for (int i = 0; i < 4; ++i) streamHeader[index * 4 + i] = static_cast<uint8_t>(value >> (8 * i));
}

void CVideoSource::Close() {
    if (process) {
        if (process->Wait(250) != 1) process->Terminate();
        process->Close();
    }
    if (videoFd >= 0) ::close(videoFd);
    if (audioFd >= 0) ::close(audioFd);
    videoFd = audioFd = -1;
}

int CVideoSource::Read(void* buffer, int size) {
    if (audioFd < 1) return -1;
    int count = ClippedCount(size);
    if (count < 0) return -1;
    int got = ReadPipeTimed(audioFd, buffer, count, kDecoderStallMs);
    if (got <= 0) return -1;
    position += static_cast<uint64_t>(got);
    return got;
}

void CVideoSource::SetVideoDecodePriority(uint32_t priorityClass) {
    if (!process) return;
    if (priorityClass == 0) {
        const int n = EngineProcessorCount();
        priorityClass = n < 3 ? kPriorityClassBelowNormal : n <= 4 ? kPriorityClassNormal : kPriorityClassAboveNormal;
    }
    process->SetPriority(priorityClass);
    uint32_t mask = static_cast<uint32_t>(GetPrefStore().GetInt("overall.video.decAffinity"));
    if (mask) process->SetAffinity(mask);
}

int CVideoSource::GetDecoderCount() {
    return CountDecoderProcessors(static_cast<uint32_t>(GetPrefStore().GetInt("overall.video.decAffinity")),
                                  EngineProcessorCount());
}

bool CVideoSource::OpenVideo(QueueItem* item, AudioTask* task) {
    item_ = item;
    task_ = task;
    return false;
}

int CVideoSource::ReadVideo(void* buffer, int size) {
    if (videoFd < 0 || size < 0) return -1;
    auto* out = static_cast<char*>(buffer);
    int total = 0;
    while (total < size) {
        ssize_t got = ::read(videoFd, out + total, static_cast<size_t>(size - total));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno != EBADF) return -1;
        if (got <= 0) break;
        total += static_cast<int>(got);
    }
    return total > 0 || size == 0 ? total : -1;
}

int CVideoSource::ReadFrame(void* buffer) {
    if (AtEnd() || frameSize == 0) return -1;
    if (ReadVideo(buffer, static_cast<int>(frameSize)) != static_cast<int>(frameSize)) return -1;
    ++frameIndex;
    return static_cast<int>(frameSize);
}

int CVideoSource::ReadFrameInto(uint8_t* picture, const PictureLayout& layout, int x, int y) {
    if (AtEnd() || !picture) return -1;
    const int64_t w = Width(), h = Height(), stride = layout.stride, planeH = layout.planeHeight;
    // The frame comes from the child: it must fit the caller's picture at (x, y).
    if (w <= 0 || h <= 0 || x < 0 || y < 0 || x + w > stride || y + h > planeH) return -1;
    const int W = static_cast<int>(w), H = static_cast<int>(h);
    switch (layout.format) {
        case 0:
        case 1: {
            const int cw = (W + 1) / 2, ch = (H + 1) / 2;
            if (x / 2 + cw > stride / 2 || y / 2 + ch > planeH / 2) return -1;
            uint8_t* u = picture + stride * planeH;
            uint8_t* v = u + (stride / 2) * (planeH / 2);
            const size_t cp = static_cast<size_t>(stride / 2);
            if (!ReadRows(*this, picture + y * stride + x, stride, H, W) ||
                !ReadRows(*this, u + (y / 2) * cp + x / 2, cp, ch, cw) ||
                !ReadRows(*this, v + (y / 2) * cp + x / 2, cp, ch, cw))
                return -1;
            break;
        }
        case 2: {
            const int cw = (W + 1) / 2;
            if (x / 2 + cw > stride / 2) return -1;
            uint8_t* u = picture + stride * planeH;
            uint8_t* v = u + (stride / 2) * planeH;
            const size_t cp = static_cast<size_t>(stride / 2);
            if (!ReadRows(*this, picture + y * stride + x, stride, H, W) ||
                !ReadRows(*this, u + y * cp + x / 2, cp, H, cw) || !ReadRows(*this, v + y * cp + x / 2, cp, H, cw))
                return -1;
            break;
        }
        case 5:
            if (!ReadRows(*this, picture + y * 3 * stride + 3 * x, static_cast<size_t>(3 * stride), H, 3 * W)) return -1;
            break;
        default: return -1;
    }
    ++frameIndex;
    return static_cast<int>(frameSize);
}

void CVideoSource::PrepareVideo(AudioTask* task) {
    frameIndex = 0;
    totalFrames = -1;
    if (FpsDen() == 0) return;
    int32_t duration = task && task->duration > 0 ? task->duration : 0;
    if (duration == 0 && task && task->item) duration = task->item->duration;
    const double frames = duration / 1000.0 * FpsNum() / FpsDen();
    totalFrames = frames > 0 && frames < 2147483647.0 ? static_cast<int32_t>(frames) : 0;
    if (totalFrames != 0) fprintf(stderr, "Total frames: %d\n", totalFrames);
}

std::string CVideoSource::GetVideoInputPath(const QueueItem* item, const char* separator) {
    if (!item) return "";
    PrefStore& prefs = GetPrefStore();
    const VideoStreamInfo* rec = item->video;
    for (int i = prefs.GetInt("overall.decoding.vid"); rec && i > 0; --i) rec = rec->next;
    if (rec && rec->file && *rec->file) return rec->file;
    if (prefs.GetBool("overall.stack.mode")) return item->file ? item->file : "";
    return JoinGroupPaths(item, separator);
}

bool CVideoSource::ReadStreamHeader(WaveHeader* wave) {
    memset(streamHeader, 0, sizeof streamHeader);
    // Both headers are read as they come: the player may write a pipe's worth of audio before
    // its first frame, and waiting on the video alone would leave it blocked on the audio pipe.
    uint8_t raw[4 + kStreamHeaderSize];
    size_t videoGot = 0, videoNeed = 4, audioGot = 0;
    const size_t audioNeed = wave ? sizeof(WaveHeader) : 0;
    auto* waveBytes = reinterpret_cast<uint8_t*>(wave);
    while (videoGot < videoNeed || audioGot < audioNeed) {
        pollfd p[2] = {{videoFd, POLLIN, 0}, {audioFd, POLLIN, 0}};
        if (videoGot == videoNeed) p[0].fd = -1;
        if (audioGot == audioNeed) p[1].fd = -1;
        int rc = poll(p, 2, kDecoderHeaderWaitMs);
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (!p[i].revents) continue;
            uint8_t* dst = i == 0 ? raw + videoGot : waveBytes + audioGot;
            const size_t want = i == 0 ? videoNeed - videoGot : audioNeed - audioGot;
            ssize_t got = ::read(p[i].fd, dst, want);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got <= 0) return false;
            (i == 0 ? videoGot : audioGot) += static_cast<size_t>(got);
        }
        if (videoNeed == 4 && videoGot == 4) {
            uint32_t length = raw[0] | raw[1] << 8 | raw[2] << 16 | static_cast<uint32_t>(raw[3]) << 24;
            if (length == 0 || length > kStreamHeaderSize) return false;
            videoNeed = 4 + length;
        }
    }
    memcpy(streamHeader, raw + 4, videoNeed - 4);
    return true;
}

// ---------------------------------------------------------------------------------------------

CMPlayerVideoSource::CMPlayerVideoSource() { SetName("MPlayer"); }

std::string BuildVideoCommandLine(const CVideoSource& source, const QueueItem* item, const AudioTask* task,
                                  int videoChildFd, int audioChildFd) {
    PrefStore& prefs = GetPrefStore();
    const AudioStreamInfo* audio = source.withAudio ? AudioStreamOfTrack(item, task ? task->currentTrack : 0) : nullptr;
    std::string line = "mplayer" + PlayerQuietOption();
    if (!prefs.GetBool("videosrc.mplayer.realtime")) line += " -benchmark";
    line += " -nomsgcolor -vo yuvpipe:fd=" + std::to_string(videoChildFd);
    line += BuildPlayerDecodeOptions(item, false, audio, false);
    if (prefs.GetBool("videosrc.mplayer.coreavc")) {
        line += " -vc coreavc";
    } else if (int threads = prefs.GetInt("videosrc.mplayer.threads"); threads > 1) {
        line += " -lavdopts threads=" + std::to_string(threads);
    }
    if (task && task->start > 0) line += " -ss " + FormatPlayerFloat(task->start / 1000.0);
    if (audio) {
        line += BuildPlayerAudioFilters(item, audio) + " -ao pcm:waveheader:fast:pipe=" + std::to_string(audioChildFd);
    } else {
        line += " -nosound";
    }
    return line + " " + QuotedPath(CVideoSource::GetVideoInputPath(item, nullptr).c_str());
}

bool CMPlayerVideoSource::OpenVideo(QueueItem* item, AudioTask* task) {
    Close();
    item_ = item;
    task_ = task;
    byteLimit = kNoByteLimit;
    CreateProcessWrapper(false, waitForStart ? (kProcStdin | kProcStdout) : 0);
    int videoChild = -1, audioChild = -1;
    bool ok = CreateCrtPipe(&videoFd, &videoChild, kVideoPipeSize, false, true);
    if (ok && withAudio) ok = CreateCrtPipe(&audioFd, &audioChild, kAudioPipeSize, false, true);
    if (ok) {
        ok = StartChild(BuildVideoCommandLine(*this, item, task, videoChild, audioChild));
        // A player that ended at once with an error could not open the input; one that ended
        // cleanly has written a short input whole into the pipes.
        int exitCode = 0;
        if (ok && process->Wait(500) == 1 && (process->IsRunning(&exitCode) || exitCode != 0)) ok = false;
    }
    if (videoChild >= 0) platform::CloseFd(videoChild);
    if (audioChild >= 0) platform::CloseFd(audioChild);
    if (!ok) Close();
    return ok;
}

bool CMPlayerVideoSource::ReadHeader() {
    if (waitForStart) {
        // The message may straddle two reads: keep the tail of the last one.
        std::string seen;
        char piece[512];
        for (;;) {
            auto* runner = dynamic_cast<CProcessWrapperCRT*>(process.get());
            int got = ReadPipeTimed(runner ? runner->stdoutReadFd : -1, piece, 511, kVideoStartWaitMs);
            if (got < 1) return false;
            seen.append(piece, static_cast<size_t>(got));
            if (seen.find(kStartMessage) != std::string::npos) break;
            if (seen.size() > sizeof kStartMessage) seen.erase(0, seen.size() - sizeof kStartMessage);
        }
    }
    WaveHeader wave{};
    if (!ReadStreamHeader(withAudio ? &wave : nullptr)) return false;
    // A rate the player cannot have meant comes from the item's record, before the frames are counted.
    const uint32_t num = FpsNum(), den = FpsDen();
    if ((den == 0 || num / den >= 121) && item_ && item_->video) {
        SetWord(4, item_->video->fpsNum);
        SetWord(5, item_->video->fpsDen);
    }
    PrepareVideo(task_);
    if (withAudio) {
        header = wave;
        Prepare(task_);
    }
    frameSize = PlanarFrameSize(Width(), Height());
    SetWord(0, 0);
    return true;
}

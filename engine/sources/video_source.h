// Sources that also deliver decoded pictures: a second pipe carries the frame stream (a header
// giving its length, then width, height and rate, then the raw frames), the first carries the
// audio as a WAVE stream. CMPlayerVideoSource fills both by running the player.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/sources/audio_source.h"

// The stream header is read onto this many bytes; a writer may count its own length word in the
// length it gives (40), and then 36 bytes follow.
inline constexpr uint32_t kStreamHeaderSize = 36;
// A start message that has not come within this time fails the header.
inline constexpr int kVideoStartWaitMs = 10000;

// Where and how a frame goes into a caller's picture.
struct PictureLayout {
    int format = 0;      // 0, 1: 4:2:0 planar; 2: 4:2:2 planar; 5: packed 24-bit
    int stride = 0;      // luma bytes per row (pixels per row for the packed format)
    int planeHeight = 0; // rows of the luma plane
};

class CVideoSource : public CAudioSource {
public:
    CVideoSource();
    ~CVideoSource() override;

    void Close() override;
    // Audio from audioFd.
    int Read(void* buffer, int size) override;
    int Stop() override { return 0; }
    bool IsVideoSource() override { return true; }
    // priorityClass 0 chooses by the number of processors; the mask is "overall.video.decAffinity".
    void SetDecodePriority() override { SetVideoDecodePriority(0); }
    void SetVideoDecodePriority(uint32_t priorityClass);
    int GetDecoderCount() override;

    virtual bool OpenVideo(QueueItem* item, AudioTask* task);
    // Up to size bytes of the frame stream: the count, -1 when none came.
    int ReadVideo(void* buffer, int size);
    // One frame into the picture at column x, row y: frameSize, or -1 at the end or when the
    // frame does not fit or comes short.
    int ReadFrameInto(uint8_t* picture, const PictureLayout& layout, int x, int y);
    // One frame of frameSize bytes: frameSize, or -1.
    int ReadFrame(void* buffer);
    // Counts the frames the task's duration holds at the stream's rate.
    void PrepareVideo(AudioTask* task);
    static std::string GetVideoInputPath(const QueueItem* item, const char* separator);

    uint32_t Width() const { return Word(1); }
    uint32_t Height() const { return Word(2); }
    uint32_t FpsNum() const { return Word(4); }
    uint32_t FpsDen() const { return Word(5); }
    // Word index of the stream header (little-endian).
    uint32_t Word(int index) const;
    void SetWord(int index, uint32_t value);

    int32_t frameIndex = 0;
    int32_t totalFrames = -1;  // -1 or 0: unknown, frames are read until the stream ends
    uint8_t streamHeader[kStreamHeaderSize] = {};
    int videoFd = -1;
    int audioFd = -1;
    bool withAudio = false;
    bool waitForStart = false;
    std::unique_ptr<CVideoSource> next;
    uint32_t frameSize = 0;

protected:
    bool AtEnd() const { return totalFrames > 0 && frameIndex >= totalFrames; }
    // Reads the frame stream's header from videoFd and, with wave, the 44-byte WAVE header from
    // audioFd; false when one is missing, comes short or is malformed.
    bool ReadStreamHeader(WaveHeader* wave);
    AudioTask* task_ = nullptr;
    QueueItem* item_ = nullptr;
};

// The player with its frame pipe ("-vo yuvpipe") and its PCM output.
class CMPlayerVideoSource : public CVideoSource {
public:
    CMPlayerVideoSource();
    bool OpenVideo(QueueItem* item, AudioTask* task) override;
    bool ReadHeader() override;
};

// The player's line for the source; descriptors are the child's ends of the video and audio pipes.
std::string BuildVideoCommandLine(const CVideoSource& source, const QueueItem* item, const AudioTask* task,
                                  int videoChildFd, int audioChildFd);

// The audio task's set-up and one audio pass: making and opening the sources and encoders in a
// fixed order, running the decode and encode threads between them, and tearing everything down.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/encoders/wave_header.h"
#include "engine/jobs/audiotask.h"
#include "engine/jobs/pcmio.h"

// What the pass needs of a source class: the calls it makes in its fixed order, then Read from the
// decode thread, and Close at the end of every pass whatever happened.
class PassSource : public PcmReader {
public:
    virtual const char* Name() = 0;
    virtual void SetFeedFromStdin(bool feed) { (void)feed; }
    virtual bool Configure(AudioTask* task) { (void)task; return true; }
    virtual bool Open(AudioTask* task) = 0;
    virtual void SetDecodePriority() {}
    virtual bool ReadHeader(AudioTask* task) = 0;
    virtual bool Start() { return true; }
    virtual bool Prepare(AudioTask* task) = 0;
    virtual const WaveHeader& Header() = 0;
    virtual void Close() = 0;
    // After the threads ended: why the input was not decoded whole ("" when it was, or when that
    // cannot be told), with expectedMs the length the input should have given (0: unknown).
    virtual std::string InputFailure(int64_t expectedMs) { (void)expectedMs; return {}; }
};

// Makes the source of a source id; null for an id without a class.
using PassSourceMaker = std::unique_ptr<PassSource> (*)(uint32_t sourceId);
// Replaces the maker (tests); null restores the engine's.
void SetPassSourceMaker(PassSourceMaker maker);

// Zeroes the task for its index: pass 1, format tag 1, 1 or 2 input tracks (1 on a system whose
// ANSI code page is 936 or unknown), as many output tracks, the applicator.
void InitAudioTask(AudioTask* task, int index);
// Reads the item's audio settings into the task and chooses the encoder id.
void ReadAudioSettings(AudioTask* task, QueueItem* item);
// Settings, gains cleared, start and duration, track counts, the set-up encoder with the bitrate
// and its range, and the source id (ChooseSourceId of the source classes).
void SetupAudioTask(AudioTask* task, QueueItem* item);
void SetTaskFormat(AudioTask* task, const WaveHeader& header);
// Runs one pass. True when it ran to its end (also after errors that only changed the item's
// state); false when a source, an encoder check or an encoder start failed.
bool RunAudioPass(AudioTask* task, bool analysisPass);
// Destroys what the task still holds (the set-up encoder).
void FreeAudioTask(AudioTask* task);

// True once an encoder of this task opened its output during the run: only then may a failed
// item's output be removed.
bool TaskCreatedOutput(const AudioTask* task);

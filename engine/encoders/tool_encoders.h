// The tool encoders that differ from CAudioEncoder in single operations: mostly their bitrate
// estimate, a few their format check or their start.
#pragma once

#include "engine/encoders/encoder.h"

class CLameMP3 : public CAudioEncoder {
public:
    int EstimateBitrate(QueueItem* item, int ratio) override;
};

class CVorbis : public CAudioEncoder {
public:
    int EstimateBitrate(QueueItem* item, int ratio) override;
};

class CNeroEncoder : public CAudioEncoder {
public:
    int EstimateBitrate(QueueItem* item, int ratio) override;
    // HE-AAC formats need 32000 Hz or more.
    bool CheckFormat(const WaveHeader* format) override;
};

class CFaac : public CAudioEncoder {
public:
    int EstimateBitrate(QueueItem* item, int ratio) override;
};

class CHelixMP3 : public CAudioEncoder {
public:
    int EstimateBitrate(QueueItem* item, int ratio) override;
};

// Starts its tool without the start check.
class CFIISMP3 : public CAudioEncoder {
public:
    int EstimateBitrate(QueueItem* item, int ratio) override;
    bool Open(const char* destination, QueueItem* item, const char* commandLine) override;
};

class CSpeex : public CAudioEncoder {
public:
    int EstimateBitrate(QueueItem* item, int ratio) override;
};

// AMR-WB takes 16000 Hz, AMR-NB 8000 Hz mono.
class CAmr : public CAudioEncoder {
public:
    int EstimateBitrate(QueueItem* item, int ratio) override;
    bool CheckFormat(const WaveHeader* format) override;
};

class CFFmpegAudioEncoder : public CAudioEncoder {
public:
    int EstimateBitrate(QueueItem* item, int ratio) override;
    uint32_t GetBitrateRange() override;
};

// The user's own command line ("audioenc.cli.command").
class CGeneric : public CAudioEncoder {
public:
    CGeneric();
    bool Configure(AudioTask* task) override;
    std::string GetVersion() override { return {}; }
};

// The analysis pass's encoder: takes the PCM and keeps nothing. It has no output to tag, so it
// says the engine's tagging step is not wanted.
class CNullAudioEncoder : public CAudioEncoder {
public:
    CNullAudioEncoder() { flags = kEncoderTagsOutput; }
    void Finish() override {}
    int Write(const void*, int length) override { return length; }
    bool Configure(AudioTask*) override { return true; }
    bool Open(const char*, QueueItem*, const char*) override { return true; }
    void Close() override {}
    bool WaitProgress(EncoderProgress* progress) override;
};

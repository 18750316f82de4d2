// Encoders: the objects that turn the PCM of one output track into an output file.
//
// CEncoder is the root of the encoder and source class trees: it owns the process of an outside
// tool (if any), its CPU meter, the name the encoder is known by and the command line built for
// it. CAudioEncoder runs a tool described in the codecs description, writing a WAV header and
// then PCM into the tool's standard input. The subclasses made by CreateAudioEncoder change
// single operations; the in-process ones (CPcm, CApe, CAACPlus, CNullAudioEncoder) run no tool.
//
// Write and WriteHeader run on the encode thread; SetRunning and SetPriority may be called from
// another thread while the encoder runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/eventlog.h"

class CProcessWrapper;
class CCpuUsage;
struct AudioTask;
struct QueueItem;
struct WaveHeader;

// CEncoder::flags bits.
inline constexpr uint32_t kEncoderRawPcm = 0x1;         // the tool takes raw PCM: no WAV header is sent
inline constexpr uint32_t kEncoderCaptureOutput = 0x8;  // the tool's console output is captured
inline constexpr uint32_t kEncoderTagsOutput = 0x20;    // the tool tags its output; the engine does not

// Encoder ids (the factory's table; "overall.audio.encoder" lists them in this order).
enum EncoderId : int32_t {
    kEncLame = 0,
    kEncVorbis = 1,
    kEncNero = 2,
    kEncQaac = 3,
    kEncFaac = 4,
    kEncAacPlus = 5,
    kEnc3gpp = 6,
    kEncOpus = 7,
    kEncWma = 8,
    kEncHelixMp3 = 9,
    kEncFiisMp3 = 10,
    kEncMusePack = 11,
    kEncSpeex = 12,
    kEncAmr = 13,
    kEncFFmpeg = 14,
    kEncMencoder = 15,
    kEncWavPack = 16,
    kEncFlac = 17,
    kEncApe = 18,
    kEncMp3Hd = 19,
    kEncAls = 20,
    kEncTta = 21,
    kEncPcm = 22,
    kEncOptimFrog = 23,
    kEncGeneric = 24,
    kEncNull = 25,
};

// Where an encoder's tool is in its work: WaitProgress sets position from the tool's "nn.n%".
struct EncoderProgress {
    uint64_t position = 0;
    uint64_t total = 0;
};

class CEncoder {
public:
    CEncoder();
    virtual ~CEncoder();
    CEncoder(const CEncoder&) = delete;
    CEncoder& operator=(const CEncoder&) = delete;

    virtual bool IsReady() { return true; }
    virtual void Finish() {}
    // A source feeds its own child process through this; encoders do not.
    virtual int Feed(const void* bytes, int length);
    // The bytes taken (length), or -1.
    virtual int Write(const void* bytes, int length);
    virtual bool IsAudioEncoder() { return false; }
    virtual const char* GetName() = 0;
    virtual std::string GetVersion() { return {}; }
    // Builds the command line; task may be null (the first configure after creation).
    virtual bool Configure(AudioTask* task);
    // kbit/s the output is expected to have; ratio is "overall.audio.bitrateRatio".
    virtual int EstimateBitrate(QueueItem* item, int ratio);
    virtual int Spare1() { return 0; }
    // Suspends (run false) or resumes (run true) the tool's process group. False without a tool.
    virtual bool SetRunning(bool run);
    // Suspends the tool for ms milliseconds, then resumes it.
    virtual void Throttle(int ms);
    // plain: a CProcessWrapper, else a CProcessWrapperCRT; a CPU meter comes with it.
    virtual void CreateProcessWrapper(bool plain, uint32_t processFlags);
    virtual void DestroyProcessWrapper();
    // 0 takes the class from "overall.generic.priority"; the affinity comes from
    // "overall.audio.encAffinity".
    virtual void SetPriority(uint32_t priorityClass);
    // The tool's captured output, up to size bytes; -1 without a tool.
    virtual int ReadOutput(char* buffer, int size);
    // True when the list or text is missing, or text is an entry of the '|'-separated list.
    virtual bool MatchesList(const char* text);
    virtual const char* GetFileExt(QueueItem* item);
    virtual uint32_t GetProcessId();
    // Percent of the whole machine the tool uses; -1.0 without a meter or a reading.
    virtual double GetCpuUsage();
    virtual const char* GetMatchList() { return nullptr; }

    // Sets name and the log source's name (cut to 31 characters).
    void SetName(const std::string& encoderName);

    uint32_t flags = 0;
    std::unique_ptr<CProcessWrapper> process;
    std::unique_ptr<CCpuUsage> cpuMeter;
    std::string name;            // option text of "overall.audio.encoder"; the tool's @name
    LogSource log;
    std::string fileExt = "out";
    std::string commandLine;     // built by Configure

protected:
    // Guards process against SetRunning/SetPriority from another thread while it is replaced.
    std::recursive_mutex processLock_;
};

// The encoder that runs an outside tool described in the codecs description.
class CAudioEncoder : public CEncoder {
public:
    CAudioEncoder() = default;
    ~CAudioEncoder() override;

    // Closes the tool's input and waits for it to end (it is ended after the limit). The tool's
    // exit status decides FinishedCleanly.
    void Finish() override;
    int Write(const void* bytes, int length) override;
    bool IsAudioEncoder() override { return true; }
    const char* GetName() override { return name.c_str(); }
    std::string GetVersion() override;
    bool Configure(AudioTask* task) override;
    int EstimateBitrate(QueueItem* item, int ratio) override;

    // Starts the tool with commandLine, PCM going to its standard input; destination "-" means the
    // tool writes to standard output. False when it cannot start or ends at once.
    virtual bool Open(const char* destination, QueueItem* item, const char* commandLine);
    virtual void Close();
    virtual bool WaitProgress(EncoderProgress* progress);
    // Sends the 44 header bytes unless the tool takes raw PCM.
    virtual bool WriteHeader(const WaveHeader* header);
    virtual bool CheckFormat(const WaveHeader* format);
    virtual int Spare2() { return 0; }
    // max << 16 | min, kbit/s; 0 for a bound that is not set.
    virtual uint32_t GetBitrateRange();
    virtual bool CheckSampleRate(int rate);
    virtual int GetThreadCount();

    // After Finish: false when the tool failed (non-zero exit), was ended at the time limit or
    // a write into it failed.
    bool FinishedCleanly() const { return finishedCleanly_; }
    // True when the tool ended within kStartCheckMs of its start while its input was still open:
    // it did not start properly, although Open could not see that yet.
    bool StartFailed() const { return startFailed_; }

    static constexpr int64_t kStartCheckMs = 250;
    static constexpr uint32_t kFinishWaitMs = 3000;
    static constexpr uint32_t kVersionWaitMs = 3000;

protected:
    // The start check: true (and StartFailed) when the tool has ended within kStartCheckMs of
    // its start. Costs one look at the process while the check is pending, nothing after;
    // waitForEnd watches the process for the rest of the window (after a refused write, and in
    // Finish when the whole job took less than the window).
    bool ToolEndedEarly(bool waitForEnd = false);

    bool finishedCleanly_ = true;
    bool startFailed_ = false;
    bool startCheckPending_ = false;
    int64_t startedAt_ = 0;
    int64_t bytesWritten_ = 0;  // into the tool's input since Open
};

// Sets progress->position from the last "nn.n%" in text (clamped to 0..100 percent of the total).
void ParseProgressText(const char* text, EncoderProgress* progress);
// The part of a version query's output from `begin` (the whole text when empty or not found) up
// to `end`, else to the first blank line.
std::string CutVersionText(const std::string& output, const std::string& begin, const std::string& end);
// The engine's processor count, at least 1.
int EngineProcessorCount();

// Makes the encoder for an id, named by the option text of "overall.audio.encoder" at the id.
// Null for a negative id.
std::unique_ptr<CAudioEncoder> CreateAudioEncoder(int id);

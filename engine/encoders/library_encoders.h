// Encoders that run a library inside the program instead of a tool: the AAC+ encoder plug-in
// ("enc_aacplus.so") and the Monkey's Audio compression library ("MACDll.so"). Each library is
// looked for in the program folder, then its "codecs/", then on the system's library path.
#pragma once

#include <atomic>
#include <string>

#include "engine/encoders/encoder.h"
#include "engine/encoders/library_abi.h"

// A loaded library, freed with the object.
class EncoderLibrary {
public:
    EncoderLibrary() = default;
    ~EncoderLibrary() { Free(); }
    EncoderLibrary(const EncoderLibrary&) = delete;
    EncoderLibrary& operator=(const EncoderLibrary&) = delete;

    // Loads "<name>.so" from the places above; false when it is nowhere.
    bool Load(const std::string& name);
    void* Symbol(const char* symbol) const;
    bool Loaded() const { return handle_ != nullptr; }
    void Free();

private:
    void* handle_ = nullptr;
};

class CAACPlus : public CAudioEncoder {
public:
    static constexpr const char* kLibraryName = "enc_aacplus";
    static constexpr int kOutputChunk = 32768;

    CAACPlus();
    ~CAACPlus() override;

    bool Configure(AudioTask*) override { return true; }
    bool Open(const char* destination, QueueItem* item, const char* commandLine) override;
    // Nothing is written; false below 32000 Hz, which the plug-in cannot encode.
    bool WriteHeader(const WaveHeader* header) override;
    int Write(const void* bytes, int length) override;
    // Lets the coder give out what it still holds and ends the output.
    void Finish() override;
    int ReadOutput(char* buffer, int size) override;
    void Close() override;
    int EstimateBitrate(QueueItem* item, int ratio) override;

    // The allowed bit/s for a profile (0..2) and channel count, as {min, max}.
    static std::pair<int, int> BitrateRange(int type, int channels);

    uint32_t typeCode;

private:
    void CloseOutput();

    int outFd_ = -1;
    int pipeRead_ = -1;
    std::string destination_;
    LogSource pluginLog_;
    EncoderLibrary library_;
    CreateAudio3Fn createAudio3_ = nullptr;
    GetAudioTypes3Fn getAudioTypes3_ = nullptr;
    FinishAudio3Fn finishAudio3_ = nullptr;
    PrepareToFinishFn prepareToFinish_ = nullptr;
    AudioCoder* coder_ = nullptr;
    int framePos_ = 0;
    std::atomic<int> readsInProgress_{0};
};

class CApe : public CAudioEncoder {
public:
    static constexpr const char* kLibraryName = "MACDll";

    CApe();
    ~CApe() override;

    bool Configure(AudioTask*) override { return true; }
    bool Open(const char* destination, QueueItem* item, const char* commandLine) override;
    int Write(const void* bytes, int length) override;
    void Finish() override {}
    void Close() override;
    void SetPriority(uint32_t) override {}

    // The library's compression level for "audioenc.ape.level" (levels past the last are the last).
    static int CompressionLevel(int setting);

private:
    EncoderLibrary library_;
    ApeCreateFn create_ = nullptr;
    ApeDestroyFn destroy_ = nullptr;
    ApeStartFn start_ = nullptr;
    ApeAddDataFn addData_ = nullptr;
    ApeFinishFn finish_ = nullptr;
    ApeCompressHandle handle_ = nullptr;
};

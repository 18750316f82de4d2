#include "engine/encoders/library_encoders.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "engine/context.h"
#include "engine/encoders/wave_header.h"
#include "engine/jobs/audiotask.h"
#include "engine/jobs/tagging.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace {

constexpr int32_t kItemErrorSettings = 8;

const AudioTask* RunningTask(QueueItem* item) { return item ? item->audioTask.load() : nullptr; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// EncoderLibrary

bool EncoderLibrary::Load(const std::string& name) {
    Free();
    const std::string file = name + ".so";
    const std::string app = platform::AppFolder();
    for (const std::string& path : {app + file, app + "codecs/" + file, file}) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_) return true;
    }
    return false;
}

void* EncoderLibrary::Symbol(const char* symbol) const { return handle_ ? dlsym(handle_, symbol) : nullptr; }

void EncoderLibrary::Free() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// CAACPlus

CAACPlus::CAACPlus() : typeCode(FourCC("AACP")), pluginLog_(MakeLogSource("WAENC")) {
    flags = kEncoderRawPcm;
    fileExt = "aac";
}

CAACPlus::~CAACPlus() {
    Close();
    CloseOutput();
}

std::pair<int, int> CAACPlus::BitrateRange(int type, int channels) {
    static const std::pair<int, int> kRanges[3][3] = {
        {{8000, 65536}, {16000, 131072}, {96000, 213335}},
        {{8000, 163840}, {16000, 327680}, {160000, 327680}},
        {{8000, 163840}, {96000, 262144}, {8000, 262144}},
    };
    const int t = std::clamp(type, 0, 2);
    const int c = channels == 1 ? 0 : channels == 2 ? 1 : 2;
    return kRanges[t][c];
}

int CAACPlus::EstimateBitrate(QueueItem*, int) { return GetPrefStore().GetInt("audioenc.aacplus.bitrate"); }

bool CAACPlus::Open(const char* destination, QueueItem* item, const char*) {
    PrefStore& prefs = GetPrefStore();
    const AudioTask* task = RunningTask(item);
    if (!destination || !task) return false;
    const int kbps = prefs.GetInt("audioenc.aacplus.bitrate");
    const int bitrate = kbps * 1024;
    const int type = std::clamp(prefs.GetInt("audioenc.aacplus.type"), 0, 2);
    const int channels = task->channels;
    const auto [min, max] = BitrateRange(type, channels);
    if (bitrate < min || bitrate > max) {
        MarkItemError(item, kItemErrorSettings);
        LogMessageKey(&pluginLog_, "INVALID_BITRATE", 0);
        return false;
    }
    if (prefs.GetInt("audioenc.aacplus.mode") == 3 && kbps > 48) {
        MarkItemError(item, kItemErrorSettings);
        LogMessageKey(&pluginLog_, "ERROR_PS", 1);
        return false;
    }

    Close();
    CloseOutput();
    destination_ = destination;
    if (destination_ == "-") {
        int fds[2];
        if (!platform::MakePipe(fds, 65536)) return false;
        pipeRead_ = fds[0];
        outFd_ = fds[1];
    } else {
        outFd_ = ::open(destination, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (outFd_ < 0) return false;
        posix_fadvise(outFd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    }

    static const char* const kSections[] = {"audio_aacplus", "audio_aac", "audio_aacplushigh"};
    static const uint32_t kTypeCodes[] = {FourCC("AACP"), FourCC("AACr"), FourCC("AACH")};
    std::string config = std::string("[") + kSections[type] + "]\n";
    config += "samplerate=" + std::to_string(task->sampleRate) + "\n";
    config += "channelmode=" + std::to_string(channels) + "\n";
    config += "bitrate=" + std::to_string(bitrate) + "\n";
    config += "v2enable=" + std::to_string(prefs.GetInt("audioenc.aacplus.v1")) + "\n";
    config += std::string("bitstream=") + (prefs.GetInt("audioenc.aacplus.version") > 0 ? "5" : "0") + "\n";
    config += "signallingmode=0\n";
    typeCode = kTypeCodes[type];

    LogMessage(&pluginLog_, "Writing configuration file", 0);
    std::string folder = prefs.GetString("overall.task.tempdir");
    if (folder.empty()) folder = platform::AppFolder();
    if (folder.back() != '/') folder += '/';
    const std::string configPath = folder + "qx.ini";
    {
        std::ofstream ini(configPath, std::ios::binary | std::ios::trunc);
        ini << config;
    }

    bool loaded = false;
    const std::string libraryFile = std::string(kLibraryName) + ".so";
    if (!library_.Load(kLibraryName)) {
        LogMessageKeyFormat(&pluginLog_, "ERROR_LOADING", libraryFile.c_str(), 0);
        LogMessageFormat(&pluginLog_, "%s was not found in the program folder, its codecs/ or the library path",
                         libraryFile.c_str());
    } else if (!(createAudio3_ = reinterpret_cast<CreateAudio3Fn>(library_.Symbol("CreateAudio3")))) {
        library_.Free();
        LogMessageKey(&pluginLog_, "INCORRECT_VERSION", 0);
    } else {
        getAudioTypes3_ = reinterpret_cast<GetAudioTypes3Fn>(library_.Symbol("GetAudioTypes3"));
        finishAudio3_ = reinterpret_cast<FinishAudio3Fn>(library_.Symbol("FinishAudio3"));
        prepareToFinish_ = reinterpret_cast<PrepareToFinishFn>(library_.Symbol("PrepareToFinish"));
        coder_ = createAudio3_(channels, static_cast<int>(task->sampleRate), task->bitsPerSample, FourCC("PCM "),
                               &typeCode, configPath.c_str());
        if (!coder_) {
            LogMessage(&pluginLog_, "Error starting encoder. This may due to incorrect encoding settings.", 0);
            library_.Free();
        } else {
            LogMessageKeyFormat(&pluginLog_, "LOADED", libraryFile.c_str(), 0);
            loaded = true;
        }
    }
    platform::RemoveFileEntry(configPath.c_str());
    if (!loaded) {
        RaiseEvent(kEventNotice, EngineText("CT_INFO"));
        CloseOutput();
        return false;
    }
    framePos_ = 0;
    return true;
}

bool CAACPlus::WriteHeader(const WaveHeader* header) { return header && header->sampleRate >= 32000; }

int CAACPlus::Write(const void* bytes, int length) {
    if (!coder_ || length < 0 || (!bytes && length > 0)) return -1;
    std::vector<uint8_t> out(kOutputChunk);
    auto* in = static_cast<uint8_t*>(const_cast<void*>(bytes));
    int left = length;
    while (left > 0) {
        int used = 0;
        const int n = coder_->Encode(framePos_++, in, left, &used, out.data(), kOutputChunk);
        if (n < 0) return 0;
        if (n > 0 && platform::WriteFull(outFd_, out.data(), static_cast<size_t>(std::min(n, kOutputChunk))) !=
                         static_cast<size_t>(std::min(n, kOutputChunk))) {
            finishedCleanly_ = false;
            return -1;
        }
        used = std::clamp(used, 0, left);
        if (used == 0 && n == 0) return 0;  // a coder that takes nothing would never finish
        in += used;
        left -= used;
    }
    return length;
}

void CAACPlus::Finish() {
    if (!coder_) return;
    // The coder holds the last frames until it is told the input has ended.
    if (prepareToFinish_) prepareToFinish_(destination_.c_str(), coder_);
    std::vector<uint8_t> out(kOutputChunk);
    for (int i = 0; i < 1024; ++i) {
        int used = 0;
        const int n = coder_->Encode(framePos_++, nullptr, 0, &used, out.data(), kOutputChunk);
        if (n <= 0) break;
        if (platform::WriteFull(outFd_, out.data(), static_cast<size_t>(std::min(n, kOutputChunk))) !=
            static_cast<size_t>(std::min(n, kOutputChunk))) {
            finishedCleanly_ = false;
            break;
        }
    }
    if (pipeRead_ >= 0) {
        platform::CloseFd(outFd_);  // the reader sees the end of the stream
    } else {
        platform::CloseFd(outFd_);
        if (finishAudio3_) finishAudio3_(destination_.c_str(), coder_);
    }
}

int CAACPlus::ReadOutput(char* buffer, int size) {
    if (pipeRead_ < 0 || !buffer || size <= 0) return -1;
    ++readsInProgress_;
    pollfd p{pipeRead_, POLLIN, 0};
    ssize_t n = -1;
    if (::poll(&p, 1, 1000) > 0) n = platform::ReadRetry(pipeRead_, buffer, static_cast<size_t>(size));
    --readsInProgress_;
    return n > 0 ? static_cast<int>(n) : -1;
}

void CAACPlus::Close() {
    if (library_.Loaded()) {
        delete coder_;  // the coder's code lives in the library
        coder_ = nullptr;
        LogMessageKey(&pluginLog_, "UNLOADING_DLL", 0);
        library_.Free();
    }
    platform::CloseFd(outFd_);
    if (pipeRead_ >= 0 && readsInProgress_ == 0) platform::CloseFd(pipeRead_);
}

void CAACPlus::CloseOutput() {
    platform::CloseFd(outFd_);
    platform::CloseFd(pipeRead_);
}

// ---------------------------------------------------------------------------------------------
// CApe

CApe::CApe() {
    flags = kEncoderRawPcm;
    fileExt = "ape";
}

CApe::~CApe() { Close(); }

int CApe::CompressionLevel(int setting) { return (std::clamp(setting, 0, 4) + 1) * 1000; }

bool CApe::Open(const char* destination, QueueItem* item, const char*) {
    Close();
    const AudioTask* task = RunningTask(item);
    if (!destination || !task) return false;
    const std::string libraryFile = std::string(kLibraryName) + ".so";
    if (!library_.Load(kLibraryName)) {
        LogMessageFormat(&log, "%s was not found in the program folder, its codecs/ or the library path",
                         libraryFile.c_str());
        return false;
    }
    create_ = reinterpret_cast<ApeCreateFn>(library_.Symbol("c_APECompress_Create"));
    destroy_ = reinterpret_cast<ApeDestroyFn>(library_.Symbol("c_APECompress_Destroy"));
    start_ = reinterpret_cast<ApeStartFn>(library_.Symbol("c_APECompress_Start"));
    addData_ = reinterpret_cast<ApeAddDataFn>(library_.Symbol("c_APECompress_AddData"));
    finish_ = reinterpret_cast<ApeFinishFn>(library_.Symbol("c_APECompress_Finish"));
    if (!create_ || !destroy_ || !start_ || !addData_ || !finish_) {
        LogMessageFormat(&log, "%s lacks an entry point", libraryFile.c_str());
        library_.Free();
        return false;
    }
    ApeWaveFormat format{};
    format.formatTag = 1;
    format.channels = task->channels;
    format.samplesPerSec = task->sampleRate;
    format.bitsPerSample = task->bitsPerSample;
    format.blockAlign = static_cast<uint16_t>(task->bitsPerSample / 8 * task->channels);
    format.avgBytesPerSec = format.blockAlign * task->sampleRate;
    format.extraSize = 0;
    int error = 0;
    handle_ = create_(&error);
    const int level = CompressionLevel(GetPrefStore().GetInt("audioenc.ape.level"));
    if (!handle_ || start_(handle_, destination, &format, -1, level, nullptr, -1) != 0) {
        if (handle_) destroy_(handle_);
        handle_ = nullptr;
        library_.Free();
        return false;
    }
    return true;
}

int CApe::Write(const void* bytes, int length) {
    if (!handle_ || length < 0) return -1;
    if (addData_(handle_, static_cast<unsigned char*>(const_cast<void*>(bytes)), length) != 0) {
        finishedCleanly_ = false;
        return -1;
    }
    return length;
}

void CApe::Close() {
    if (handle_) {
        if (finish_(handle_, nullptr, 0, 0) != 0) finishedCleanly_ = false;
        destroy_(handle_);
        handle_ = nullptr;
    }
    library_.Free();
}

#include "engine/sources/decoder_sources.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "engine/context.h"
#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/sources/riff_walk.h"
#include "engine/tools/player_cmd.h"
#include "engine/tools/player_options.h"
#include "engine/tools/process.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace {

// A chunk walk over a pipe, each piece waited for at most kDecoderHeaderWaitMs.
bool WalkPipeHeader(int fd, WaveHeader* header) {
    RiffWaveInfo info;
    RiffReadFn read = [fd](void* buf, size_t n) -> size_t {
        int got = ReadPipeTimed(fd, buf, static_cast<int>(n), kDecoderHeaderWaitMs);
        return got > 0 ? static_cast<size_t>(got) : 0;
    };
    if (WalkRiffWave(read, &info) != RiffStatus::kOk) return false;
    *header = info.header;
    return true;
}

// Bits of the PCM a decoder is asked for: the setting, or the stream's own width when that is
// one the tools can write (16, 24 or 32), else 16.
int DecodeBits(const QueueItem* item) {
    switch (GetPrefStore().GetInt("overall.audio.bitDepth")) {
        case 0: {
            uint32_t bits = item && item->audio ? item->audio->samplebits : 0;
            return bits == 24 || bits == 32 ? static_cast<int>(bits) : 16;
        }
        case 2: return 24;
        case 3: return 32;
        default: return 16;
    }
}

}  // namespace

int ReadPipeTimed(int fd, void* buf, int n, int timeoutMs, bool* ended) {
    if (ended) *ended = false;
    if (fd <= 0 || n < 0) return -1;
    int total = 0;
    auto* out = static_cast<char*>(buf);
    while (total < n) {
        pollfd p{fd, POLLIN, 0};
        int rc = poll(&p, 1, timeoutMs);
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) break;  // nothing for timeoutMs: what came so far
        ssize_t got = read(fd, out + total, static_cast<size_t>(n - total));
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got < 0) return total ? total : -1;
        if (got == 0) {
            if (ended) *ended = true;
            break;
        }
        total += static_cast<int>(got);
    }
    return total;
}

namespace {

// One read of a decoder's output, count already clipped to the task's limit: the bytes read, or -1
// at the end, when whether the output ended or broke off is kept for the pass's verdict.
int ReadDecoderOutput(int fd, void* buffer, int count, uint64_t& position, CAudioSource::InputEnd& inputEnd) {
    bool ended = false;
    const int got = ReadPipeTimed(fd, buffer, count, kDecoderStallMs, &ended);
    if (got <= 0) {
        inputEnd = ended ? CAudioSource::InputEnd::kEnded : CAudioSource::InputEnd::kBroken;
        return -1;
    }
    position += static_cast<uint64_t>(got);
    return got;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The player and its encoder

CMplayerSource::CMplayerSource() { SetName("MPlayer"); }
CMplayerSource::~CMplayerSource() { CMplayerSource::Close(); }

std::string CMplayerSource::BuildLine(AudioTask* task, const std::string& handle) {
    const QueueItem* item = task ? task->item : nullptr;
    const AudioStreamInfo* stream = AudioStreamOfTrack(item, task ? task->currentTrack : 0);
    return "mplayer -quiet -nomsgcolor -benchmark -noautosub -nosub" + BuildPlayerDecodeOptions(item, false, stream, false) +
           BuildPlayerAudioFilters(item, stream) + " -vo null -ao pcm:waveheader:fast:pipe=0x" + handle +
           (feedInput ? " -" : " " + QuotedInput(task));
}

CMEncoderAudioSource::CMEncoderAudioSource() { SetName("MEncoder"); }

std::string CMEncoderAudioSource::BuildLine(AudioTask* task, const std::string& handle) {
    const QueueItem* item = task ? task->item : nullptr;
    const AudioStreamInfo* stream = AudioStreamOfTrack(item, task ? task->currentTrack : 0);
    return "mencoder -quiet -noautosub -nosub -oac pcm -pcmopts pipe=0x" + handle + " -ovc frameno -of rawvideo" +
           BuildPlayerDecodeOptions(item, false, stream, false, true) + BuildPlayerAudioFilters(item, stream) + " -o NUL " +
           (feedInput ? std::string("-") : QuotedInput(task));
}

bool CMplayerSource::Open(AudioTask* task) {
    if (pipe > 0) return true;
    int readEnd = -1, writeEnd = -1;
    if (!CreateCrtPipe(&readEnd, &writeEnd, PipeSize(), false, true)) return false;
    pipe = readEnd;
    byteLimit = kNoByteLimit;
    CreateProcessWrapper(false, feedInput ? kProcStdin : 0);
    const bool started = StartChild(BuildLine(task, PlayerPipeHandle(writeEnd)));
    platform::CloseFd(writeEnd);
    return started;
}

void CMplayerSource::Close() {
    if (pipe > 0) ::close(pipe);
    pipe = 0;
    if (process) process->Close();
}

int CMplayerSource::Read(void* buffer, int size) {
    const int count = ClippedCount(size);
    if (count <= 0 || pipe <= 0) return -1;  // a count clipped to 0: the limit is reached
    return ReadDecoderOutput(pipe, buffer, count, position, inputEnd);
}

int CMplayerSource::Stop() {
    if (process) process->Terminate();
    return 0;
}

bool CMplayerSource::ReadHeader() { return WalkPipeHeader(pipe, &header); }

int CMplayerSource::WriteInput(const void* bytes, int length) { return process ? process->Write(bytes, length) : -1; }

// ---------------------------------------------------------------------------------------------
// ffmpeg

CFFmpegAudioSource::CFFmpegAudioSource() { SetName("FFmpeg"); }
CFFmpegAudioSource::~CFFmpegAudioSource() { CFFmpegAudioSource::Close(); }

std::string CFFmpegAudioSource::BuildLine(AudioTask* task, int pipeFd) {
    PrefStore& prefs = GetPrefStore();
    const QueueItem* item = task ? task->item : nullptr;
    // An error while decoding ends the tool with an error code instead of a shortened stream.
    std::string line = "ffmpeg -xerror";
    const char* source = item && item->file ? item->file : "";
    if (strncmp(source, "dshow://", 8) == 0) {
        // Fields separated by commas; the fifth names the capture device.
        std::string rest = source + 8, device;
        int field = 0;
        for (size_t start = 0; field < 5; ++field) {
            size_t comma = rest.find(',', start);
            if (field == 4 && start <= rest.size()) device = rest.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        line += " -f dshow -i audio=" + QuotedPath(device.c_str());
    } else {
        line += " -i " + QuotedInput(task) + " -vn";
    }
    line += " -loglevel quiet";
    if (item && item->group == 0) {
        if (!task || task->inputTracks < 2) {
            int id = item->aid ? item->aid : prefs.GetInt("overall.decoding.aid");
            if (id != 0) {
                int index = 0;
                for (const AudioStreamInfo* a = item->audio; a; a = a->next, ++index) {
                    if (static_cast<int>(a->id) == id) {
                        line += " -map 0:a:" + std::to_string(index);
                        break;  // one stream: ffmpeg cannot write several into one WAVE stream
                    }
                }
            }
        } else {
            line += " -map 0:a:" + std::to_string(task->currentTrack);
        }
    }
    if (task && task->start > 0) line += " -ss " + FormatPlayerFloat(task->start / 1000.0);
    targetRate = prefs.GetInt("audiofilter.resample.samplerate");
    if (targetRate != 0) {
        const uint32_t rate = item && item->audio ? item->audio->samplerate : 0;
        if (!(prefs.GetBool("audiofilter.resample.downSamplingOnly") && rate != 0 && static_cast<int64_t>(rate) <= targetRate))
            line += " -ar " + std::to_string(targetRate);
    }
    static const char* const kChannels[] = {"", " -ac 1", " -ac 1", " -ac 1", " -ac 2", " -ac 4", " -ac 6", " -ac 8"};
    int channels = prefs.GetInt("overall.audio.channels");
    if (channels >= 1 && channels <= 7) line += kChannels[channels];
    const int bits = DecodeBits(item);
    float gain = prefs.GetFloat("audiofilter.volume.gain");
    if (gain != 0.0f) line += " -af volume=" + FormatPlayerFloat(gain) + "dB";
    line += " -c:a pcm_s" + std::to_string(bits) + "le -f wav pipe:" + std::to_string(pipeFd);
    return line;
}

bool CFFmpegAudioSource::Open(AudioTask* task) {
    Close();
    position = 0;
    int readEnd = -1, childEnd = -1;
    if (!CreateCrtPipe(&readEnd, &childEnd, 32768, false, true)) return false;
    fd = readEnd;
    CreateProcessWrapper(false, feedInput ? kProcStdin : 0);
    const bool started = StartChild(BuildLine(task, childEnd));
    platform::CloseFd(childEnd);
    return started;
}

void CFFmpegAudioSource::Close() {
    if (fd > 0) ::close(fd);
    fd = 0;
    if (process) process->Close();
}

bool CFFmpegAudioSource::ReadHeader() { return WalkPipeHeader(fd, &header); }

int CFFmpegAudioSource::Read(void* buffer, int size) {
    const int count = ClippedCount(size);
    if (count <= 0 || fd <= 0) return -1;  // a count clipped to 0: the limit is reached
    return ReadDecoderOutput(fd, buffer, count, position, inputEnd);
}

// ---------------------------------------------------------------------------------------------
// Tool decoders

bool CToolDecoder::Open(AudioTask* task) {
    byteLimit = kNoByteLimit;
    CreateProcessWrapper(true, kProcStdout);
    return StartChild(BuildLine(task), true);
}

void CToolDecoder::Close() {
    if (process) process->Close();
}

int CToolDecoder::Read(void* buffer, int size) {
    const int count = ClippedCount(size);
    if (count <= 0 || !process) return -1;
    return ReadDecoderOutput(process->stdoutRead, buffer, count, position, inputEnd);
}

std::string CToolDecoder::SkipOption(const AudioTask* task) {
    if (!task || task->start <= 0 || !task->item || !task->item->audio) return "";
    const double samples = static_cast<double>(task->item->audio->samplerate) * (task->start / 1000.0);
    return " --skip=" + std::to_string(static_cast<int64_t>(samples));
}

void CToolDecoder::HeaderFromStream(const AudioTask* task, uint32_t bits) {
    const AudioStreamInfo* s = AudioStreamOfTrack(task ? task->item : nullptr, task ? task->currentTrack : 0);
    if (!s || !s->samplerate || !s->channels) return;  // nothing known: the default stands
    InitWaveHeader(&header, s->samplerate, s->channels, bits, -1);
}

CLameDecoder::CLameDecoder() { SetName("LAME Decoder"); }

std::string CLameDecoder::BuildLine(AudioTask* task) {
    PrefStore& prefs = GetPrefStore();
    return "\"" + std::string(prefs.GetString("audioenc.lame.path")) + "\" --silent --decode -t " +
           prefs.GetString("audiosrc.lame.options") + " " + QuotedInput(task) + " -";
}

bool CLameDecoder::Open(AudioTask* task) {
    // Raw samples at the stream's own rate and channel count.
    HeaderFromStream(task, 16);
    byteLimit = kNoByteLimit;
    CreateProcessWrapper(true, kProcStdout);
    return StartChild(BuildLine(task), false);
}

int32_t CLameDecoder::Seek(int32_t ms) {
    // The tool cannot skip: the samples before the start are read and dropped.
    if (ms <= 0 || !process) return ms;
    uint64_t skip = static_cast<uint64_t>(header.byteRate) * static_cast<uint64_t>(ms) / 1000;
    skip -= skip % std::max<uint16_t>(header.blockAlign, 1);
    char scratch[32768];
    while (skip > 0) {
        int got = ReadPipeTimed(process->stdoutRead, scratch, static_cast<int>(std::min<uint64_t>(skip, sizeof scratch)), kDecoderStallMs);
        if (got <= 0) break;
        skip -= static_cast<uint64_t>(got);
    }
    return ms;
}

CFLACDecoder::CFLACDecoder() { SetName("FLAC Decoder"); }

std::string CFLACDecoder::BuildLine(AudioTask* task) {
    return "\"" + std::string(GetPrefStore().GetString("audioenc.flac.path")) + "\" -d -c" + SkipOption(task) + " " + QuotedInput(task);
}

bool CFLACDecoder::ReadHeader() { return process && WalkPipeHeader(process->stdoutRead, &header); }

CWavPackDecoder::CWavPackDecoder() { SetName("WavPack Decoder"); }

std::string CWavPackDecoder::BuildLine(AudioTask* task) {
    // The decoder reads a lone "-" as a second input (standard input); "-o -" names standard
    // output as the output.
    return "\"" + std::string(GetPrefStore().GetString("audioenc.wavpack.decoderPath")) + "\" -r" + SkipOption(task) + " " +
           QuotedInput(task) + " -o -";
}

bool CWavPackDecoder::Open(AudioTask* task) {
    const AudioStreamInfo* s = AudioStreamOfTrack(task ? task->item : nullptr, task ? task->currentTrack : 0);
    HeaderFromStream(task, s && s->samplebits ? s->samplebits : 16);
    return CToolDecoder::Open(task);
}

// ---------------------------------------------------------------------------------------------
// APE decoder library

namespace {
constexpr int kApeSampleRate = 1003, kApeBits = 1004, kApeChannels = 1006, kApeBlockAlign = 1007;
constexpr int kApeCurrentMs = 2001, kApeTotalBlocks = 2002, kApeLengthMs = 2003;
}  // namespace

CAPEDecoder::CAPEDecoder() { SetName("APE Decoder"); }
CAPEDecoder::~CAPEDecoder() { CAPEDecoder::Close(); }

intptr_t CAPEDecoder::Info(int field) { return getInfo && decompressor ? getInfo(decompressor, field, 0, 0) : 0; }

bool CAPEDecoder::Load(const std::string& path) {
    Close();
    std::string lib = platform::AppFolder() + kApeLibraryName;
    if (!library.Open(lib) && !library.OpenFromLibraryPath(kApeLibraryName)) return false;
    create = library.Function<CreateFn>("c_APEDecompress_Create");
    destroy = library.Function<DestroyFn>("c_APEDecompress_Destroy");
    getData = library.Function<GetDataFn>("c_APEDecompress_GetData");
    seek = library.Function<SeekFn>("c_APEDecompress_Seek");
    getInfo = library.Function<GetInfoFn>("c_APEDecompress_GetInfo");
    getId3Tag = library.Symbol("GetID3Tag");
    if (!create || !destroy || !getData || !seek || !getInfo) {
        Close();
        return false;
    }
    int error = 0;
    decompressor = create(path.c_str(), &error);
    if (!decompressor) {
        message = "Error opening APE file";
        Close();
        return false;
    }
    return true;
}

bool CAPEDecoder::Open(AudioTask* task) {
    if (!Load(GetInputPath(task ? task->item : nullptr, -1))) return false;
    blockAlign = static_cast<int>(Info(kApeBlockAlign));
    lengthMs = Info(kApeLengthMs);
    totalBlocks = Info(kApeTotalBlocks);
    const intptr_t rate = Info(kApeSampleRate), bits = Info(kApeBits), channels = Info(kApeChannels);
    if (blockAlign < 1 || rate < 1 || channels < 1 || bits < 1) {
        message = "Error opening APE file";
        Close();
        return false;
    }
    // The PCM is described by the file, not by the default header.
    InitWaveHeader(&header, static_cast<uint32_t>(rate), static_cast<uint32_t>(channels), static_cast<uint32_t>(bits), -1);
    return true;
}

void CAPEDecoder::Close() {
    if (decompressor && destroy) destroy(decompressor);
    decompressor = nullptr;
    library.Close();
    create = nullptr;
    destroy = nullptr;
    getData = nullptr;
    seek = nullptr;
    getInfo = nullptr;
    getId3Tag = nullptr;
}

int CAPEDecoder::Read(void* buffer, int size) {
    int count = ClippedCount(size);
    if (count < 0 || !decompressor || blockAlign < 1) return -1;
    intptr_t retrieved = 0;
    if (getData(decompressor, static_cast<char*>(buffer), count / blockAlign, &retrieved) != 0)
        message = "Decompression error (continuing with checksum, but file is probably corrupt)";
    const int64_t bytes = static_cast<int64_t>(blockAlign) * retrieved;
    if (bytes < 1) return -1;
    position += static_cast<uint64_t>(bytes);
    return static_cast<int>(bytes);
}

int32_t CAPEDecoder::Seek(int32_t ms) {
    if (!decompressor || lengthMs < 1 || totalBlocks < 1) return 0;
    int64_t block = std::clamp<int64_t>(totalBlocks * ms / lengthMs, 0, totalBlocks);
    seek(decompressor, static_cast<intptr_t>(block));
    int64_t t = Info(kApeCurrentMs);
    // Step towards the time, within the file, until it is within 200 ms or stops moving.
    while (t < ms - 200 && block < totalBlocks) {
        seek(decompressor, static_cast<intptr_t>(++block));
        int64_t next = Info(kApeCurrentMs);
        if (next == t && block >= totalBlocks) break;
        t = next;
    }
    while (t > ms + 200 && block > 0) {
        seek(decompressor, static_cast<intptr_t>(--block));
        t = Info(kApeCurrentMs);
    }
    return static_cast<int32_t>(t);
}

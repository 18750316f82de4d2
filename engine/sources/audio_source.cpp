#include "engine/sources/audio_source.h"

#include <cerrno>
#include <unistd.h>

#include <algorithm>
#include <bit>

#include "engine/context.h"
#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/tools/player_cmd.h"
#include "engine/tools/process.h"
#include "platform/cmdline.h"
#include "platform/process.h"

CAudioSource::CAudioSource() {
    SetName("Default Audio Source");
    InitWaveHeader(&header, 44100, 2, 16, 0);
}

CAudioSource::~CAudioSource() {
    if (process) process->Close();
}

bool CAudioSource::Open(AudioTask*) { return true; }
void CAudioSource::Close() {}
int32_t CAudioSource::Seek(int32_t) { return -1; }

int CAudioSource::ClippedCount(int size) const {
    if (position >= byteLimit) return -1;
    if (size < 0) return -1;
    uint64_t count = static_cast<uint64_t>(size);
    if (byteLimit != kNoByteLimit && position + count > byteLimit) count = (byteLimit - position) & ~uint64_t{3};
    return static_cast<int>(count);
}

int CAudioSource::Read(void* buffer, int size) {
    int count = ClippedCount(size);
    if (count <= 0) return -1;  // a count clipped to 0: the limit is reached
    // 0 is "no descriptor": never the program's own standard input.
    if (fd <= 0) return -1;
    ssize_t got = platform::ReadRetry(fd, buffer, static_cast<size_t>(count));
    if (got == 0) {
        inputEnd = InputEnd::kEnded;
        return -1;
    }
    if (got < 0) {
        if (errno == EBADF) return 0;
        inputEnd = InputEnd::kBroken;
        return -1;
    }
    position += static_cast<uint64_t>(got);
    return static_cast<int>(got);
}

std::string CAudioSource::DecodeFailure() {
    if (inputEnd == InputEnd::kBroken) return name + ": the decoder's output broke off";
    if (inputEnd != InputEnd::kEnded || !process || !process->process.handle.Started()) return "";
    // Its output has ended, so the child is ending: a child that still runs after the limit is
    // ended with the pass and not judged.
    if (process->Wait(kDecoderExitWaitMs) != 1) return "";
    int code = 0;
    process->IsRunning(&code);
    if (code == 0) return "";
    return name + ": the decoder ended with error code " + std::to_string(code);
}

bool CAudioSource::Prepare(AudioTask* task) {
    position = 0;
    if (!task) return true;
    if (task->channels == 0) task->channels = header.channels;
    if (task->bitsPerSample == 0) task->bitsPerSample = header.bitsPerSample;
    if (task->sampleRate == 0) task->sampleRate = header.sampleRate;
    if (task->byteRate == 0) task->byteRate = header.byteRate;
    uint64_t limit = (static_cast<uint64_t>(std::max(task->duration, 0)) * task->byteRate / 1000) & ~uint64_t{7};
    byteLimit = limit ? limit : kNoByteLimit;
    if (task->start != 0) return Seek(task->start) != 0;
    return true;
}

std::string CAudioSource::GetInputPath(const QueueItem* item, int track) {
    if (!item) return "";
    if (track < 0) track = GetPrefStore().GetInt("overall.decoding.aid");
    const AudioStreamInfo* rec = item->audio;
    for (int i = 0; rec && i < track; ++i) rec = rec->next;
    if (rec && rec->file && *rec->file) return rec->file;
    if ((item->flags & kItemFlagSeparateAudio) && item->audioFile) return item->audioFile;
    if (item->group == 0) return item->file ? item->file : "";
    return JoinGroupPaths(item, " ");
}

int CAudioSource::WriteInput(const void*, int length) { return length; }

bool CAudioSource::IsAlive() { return process && process->IsRunning(nullptr); }

void CAudioSource::SetDecodePriority() {
    if (!process) return;
    process->SetPriority(EngineProcessorCount() < 2 ? kPriorityClassBelowNormal : kPriorityClassNormal);
    uint32_t mask = static_cast<uint32_t>(GetPrefStore().GetInt("overall.audio.decAffinity"));
    if (mask) process->SetAffinity(mask);
}

int CountDecoderProcessors(uint32_t mask, int processors) {
    if (processors < 1) return 0;
    if (mask == 0) return processors;
    const int n = std::min(processors, 32);
    const uint64_t low = (uint64_t{1} << n) - 1;
    return std::popcount(static_cast<uint64_t>(mask) & low);
}

int CAudioSource::GetDecoderCount() {
    return CountDecoderProcessors(static_cast<uint32_t>(GetPrefStore().GetInt("overall.audio.decAffinity")),
                                  EngineProcessorCount());
}

bool CAudioSource::StartChild(const std::string& line, bool announce) {
    commandLine = line;
    if (announce) RaiseEvent(kEventCommandLine, line.c_str());
    if (!process || !process->Start(line.c_str())) {
        Close();
        return false;
    }
    return true;
}

std::string CAudioSource::QuotedInput(const AudioTask* task) {
    const QueueItem* item = task ? task->item : nullptr;
    std::string path = GetInputPath(item, -1);
    // A joined group is already a list of escaped paths between inner quotes.
    if (item && item->group != 0 && path == JoinGroupPaths(item, " ")) return "\"" + path + "\"";
    return QuotedPath(path.c_str());
}

const AudioStreamInfo* AudioStreamOfTrack(const QueueItem* item, int track) {
    if (!item) return nullptr;
    int n = ((item->flags & kItemFlagAidSet) ? item->aid : GetPrefStore().GetInt("overall.decoding.aid")) + track;
    const AudioStreamInfo* rec = item->audio;
    if (n <= 0) return rec;
    const AudioStreamInfo* at = rec;
    for (int i = 0; at && i < n; ++i) at = at->next;
    return at ? at : rec;
}

std::string JoinGroupPaths(const QueueItem* item, const char* separator) {
    if (!item || !item->file) return "";
    const char* sep = separator && *separator ? separator : " ";
    std::string text = platform::EscapeInQuotes(item->file, true);
    if (item->group == 0) return text;
    QueueLockGuard lock;
    for (QueueItem* next = item->next; next && next->group == item->group; next = next->next) {
        if (!next->file || !*next->file) continue;
        text += "\"";
        text += sep;
        text += "\"";
        text += platform::EscapeInQuotes(next->file, true);
    }
    return text;
}

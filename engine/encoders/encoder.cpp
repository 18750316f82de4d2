#include "engine/encoders/encoder.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "engine/context.h"
#include "engine/encoders/codecs.h"
#include "engine/encoders/wave_header.h"
#include "engine/jobs/audiotask.h"
#include "engine/jobs/tagging.h"
#include "engine/prefs/prefstore.h"
#include "engine/tools/cpu_usage.h"
#include "engine/tools/process.h"
#include "platform/sysinfo.h"

namespace {

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Holds the codecs description's lock for a lookup.
struct CodecsLock {
    CodecsLock() : doc(GetCodecsDocument()) { doc.Lock(); }
    ~CodecsLock() { doc.Unlock(); }
    CXML& doc;
};

// "/codecs/audio/encoder[@name="<name>"]" followed by the child path; false when the name cannot
// be put in the expression or the text is too long.
bool EncoderXPath(const std::string& name, const char* child, char (&out)[256]) {
    if (name.empty() || name.find('"') != std::string::npos) return false;
    const int n = std::snprintf(out, sizeof out, "/codecs/audio/encoder[@name=\"%s\"]%s", name.c_str(), child);
    return n > 0 && n < static_cast<int>(sizeof out);
}

}  // namespace

int EngineProcessorCount() {
    const EngineContext* ctx = GetEngineContext();
    if (ctx && ctx->cpuCount > 0) return ctx->cpuCount;
    return std::max(1, platform::ProcessorCount());
}

// ---------------------------------------------------------------------------------------------
// CEncoder

CEncoder::CEncoder() = default;

CEncoder::~CEncoder() { DestroyProcessWrapper(); }

int CEncoder::Feed(const void*, int) { return -1; }

int CEncoder::Write(const void*, int) { return -1; }

bool CEncoder::Configure(AudioTask*) { return true; }

int CEncoder::EstimateBitrate(QueueItem*, int) { return 0; }

bool CEncoder::SetRunning(bool run) {
    std::lock_guard<std::recursive_mutex> lock(processLock_);
    if (!process || !process->process.handle.Started()) return false;
    return process->Suspend(run);
}

void CEncoder::Throttle(int ms) {
    if (ms <= 0) return;
    {
        std::lock_guard<std::recursive_mutex> lock(processLock_);
        if (!process || !process->Suspend(false)) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    std::lock_guard<std::recursive_mutex> lock(processLock_);
    if (process) process->Suspend(true);
}

void CEncoder::CreateProcessWrapper(bool plain, uint32_t processFlags) {
    std::unique_ptr<CProcessWrapper> made;
    if (plain) {
        made = std::make_unique<CProcessWrapper>(processFlags);
    } else {
        made = std::make_unique<CProcessWrapperCRT>(processFlags);
    }
    std::lock_guard<std::recursive_mutex> lock(processLock_);
    process = std::move(made);
    cpuMeter = std::make_unique<CCpuUsage>();
}

void CEncoder::DestroyProcessWrapper() {
    std::unique_ptr<CProcessWrapper> old;
    {
        std::lock_guard<std::recursive_mutex> lock(processLock_);
        old = std::move(process);
        cpuMeter.reset();
    }
    // Ending and reaping the tool happens outside the lock.
}

void CEncoder::SetPriority(uint32_t priorityClass) {
    if (priorityClass == 0) priorityClass = PriorityClassFromPrefs();
    std::lock_guard<std::recursive_mutex> lock(processLock_);
    if (!process || !process->process.handle.Started()) return;
    process->SetPriority(priorityClass);
    const uint32_t mask = static_cast<uint32_t>(GetPrefStore().GetInt("overall.audio.encAffinity"));
    if (mask != 0) process->SetAffinity(mask);
}

int CEncoder::ReadOutput(char* buffer, int size) {
    if (!process || !buffer || size <= 0) return -1;
    const int n = process->ReadOutput(1000);
    if (n < 0) return -1;
    const int take = std::min(n, size - 1);
    if (take > 0) std::memcpy(buffer, process->buffer, static_cast<size_t>(take));
    buffer[std::max(take, 0)] = 0;
    return take;
}

bool CEncoder::MatchesList(const char* text) {
    const char* list = GetMatchList();
    if (!list || !text) return true;
    const size_t len = std::strlen(text);
    if (len == 0) return false;
    // Whole entries only: "ac3" is not an entry of "eac3|mp2".
    for (const char* p = std::strstr(list, text); p; p = std::strstr(p + 1, text)) {
        const bool startsEntry = p == list || p[-1] == '|';
        const bool endsEntry = p[len] == '|' || p[len] == 0;
        if (startsEntry && endsEntry) return true;
    }
    return false;
}

const char* CEncoder::GetFileExt(QueueItem*) { return fileExt.c_str(); }

uint32_t CEncoder::GetProcessId() {
    std::lock_guard<std::recursive_mutex> lock(processLock_);
    if (!process || !process->process.handle.Started()) return 0;
    return process->process.processId;
}

double CEncoder::GetCpuUsage() {
    std::lock_guard<std::recursive_mutex> lock(processLock_);
    if (!cpuMeter) return -1.0;
    const uint32_t pid = process && process->process.handle.Started() ? process->process.processId : 0;
    const float usage = cpuMeter->GetProcessUsage(pid);
    if (usage < 0) return -1.0;
    return usage / EngineProcessorCount();
}

void CEncoder::SetName(const std::string& encoderName) {
    name = encoderName;
    SetLogSourceName(&log, name.c_str());
}

// ---------------------------------------------------------------------------------------------
// CAudioEncoder

CAudioEncoder::~CAudioEncoder() = default;

bool CAudioEncoder::Configure(AudioTask* task) {
    return BuildEncoderCommandLine(this, task ? task->item : nullptr, &commandLine);
}

bool CAudioEncoder::Open(const char* destination, QueueItem*, const char* cmd) {
    const bool toStdout = destination && std::strcmp(destination, "-") == 0;
    uint32_t processFlags = kProcStdin;
    bool capture = false;
    if ((flags & kEncoderCaptureOutput) && !GetPrefStore().GetBool("overall.ui.console")) {
        processFlags |= kProcStdout | kProcStderrToStdout;
        capture = true;
    } else {
        if (toStdout) processFlags |= kProcStdout;
        if (!toStdout) RaiseEvent(kEventCommandLine, cmd ? cmd : "");
    }
    CreateProcessWrapper(true, processFlags);
    finishedCleanly_ = true;
    startFailed_ = false;
    if (!cmd || !process->Start(cmd)) {
        Close();
        return false;
    }
    if (capture) process->SetBufferSize(4096);  // after Start, which frees an old buffer
    // The tool must still run 250 ms after its start. Rather than sleeping that long here, the
    // first writes and Finish watch the process until the time has passed.
    startedAt_ = NowMs();
    startCheckPending_ = true;
    bytesWritten_ = 0;
    return !ToolEndedEarly();
}

bool CAudioEncoder::ToolEndedEarly(bool waitForEnd) {
    if (!startCheckPending_ || !process) return false;
    const int64_t elapsed = NowMs() - startedAt_;
    const bool within = elapsed < kStartCheckMs;
    // A tool that refused its input is about to end: give it the rest of the window to do so.
    const uint32_t wait = waitForEnd && within ? static_cast<uint32_t>(kStartCheckMs - elapsed) : 0;
    if (process->Wait(wait) == 1) {
        startCheckPending_ = false;
        if (within) {
            startFailed_ = true;
            finishedCleanly_ = false;
        }
        return within;
    }
    if (NowMs() - startedAt_ >= kStartCheckMs) startCheckPending_ = false;
    return false;
}

int CAudioEncoder::Write(const void* bytes, int length) {
    if (length == 0) return 0;
    if (!process || !bytes || length < 0 || ToolEndedEarly()) return -1;
    const int n = process->Write(bytes, length);
    if (n > 0) bytesWritten_ += n;
    if (n != length) {
        ToolEndedEarly(true);
        finishedCleanly_ = false;
        return -1;
    }
    return length;
}

bool CAudioEncoder::WriteHeader(const WaveHeader* header) {
    if (flags & kEncoderRawPcm) return true;
    if (!header) return false;
    return Write(header, static_cast<int>(sizeof(WaveHeader))) == static_cast<int>(sizeof(WaveHeader));
}

void CAudioEncoder::Finish() {
    if (!process || !process->process.handle.Started()) return;
    LogMessageKey(&log, "WAIT_PROCESS", 0);
    // A job shorter than the start window: a tool that has taken input from its pipe is reading,
    // so its start went well and its input can end now. One that took nothing is watched for the
    // rest of the window first, so a tool that quits at once still fails its start.
    const int pending = platform::PipeBytesPending(process->stdinWrite);
    if (pending >= 0 && bytesWritten_ > pending) startCheckPending_ = false;
    ToolEndedEarly(true);
    // A tool that has already ended with input left unread did not encode all of it.
    if (pending > 0 && !process->IsRunning() && platform::PipeBytesPending(process->stdinWrite) > 0)
        finishedCleanly_ = false;
    // A paused tool is let go so it can finish within the limit.
    {
        std::lock_guard<std::recursive_mutex> lock(processLock_);
        while (process->process.handle.IsSuspended() && process->Suspend(true)) {
        }
    }
    process->CloseStdin();
    if (process->Wait(kFinishWaitMs) == 0) {
        process->Terminate();
        process->Wait(kFinishWaitMs);
        finishedCleanly_ = false;
        return;
    }
    int code = 0;
    process->IsRunning(&code);
    if (code != 0) finishedCleanly_ = false;
    startCheckPending_ = false;
}

void CAudioEncoder::Close() { DestroyProcessWrapper(); }

bool CAudioEncoder::WaitProgress(EncoderProgress* progress) {
    if (!process || !process->process.handle.Started()) return false;
    if (!(process->flags & kProcStdout)) return process->Wait(500) == 0;
    if (process->ReadOutput(10000) <= 0) return false;
    ParseProgressText(process->buffer, progress);
    return true;
}

void ParseProgressText(const char* text, EncoderProgress* progress) {
    if (!text || !progress) return;
    // The newest figure is the last one in the text; a '%' without a number before it (a table
    // heading) is passed over.
    for (const char* pct = std::strrchr(text, '%'); pct;) {
        const char* begin = pct;
        while (begin > text && ((begin[-1] >= '0' && begin[-1] <= '9') || begin[-1] == '.')) --begin;
        if (begin < pct) {
            double p = std::strtod(std::string(begin, pct).c_str(), nullptr);
            p = std::clamp(p, 0.0, 100.0);
            progress->position = static_cast<uint64_t>(static_cast<double>(progress->total) * p / 100.0);
            return;
        }
        const char* prev = nullptr;
        for (const char* q = text; q < pct; ++q) {
            if (*q == '%') prev = q;
        }
        pct = prev;
    }
}

bool CAudioEncoder::CheckFormat(const WaveHeader*) { return true; }

uint32_t CAudioEncoder::GetBitrateRange() {
    char xpath[256];
    if (!EncoderXPath(name, "/bitrate", xpath)) return 0;
    CodecsLock lock;
    if (!lock.doc.goToKey(xpath)) return 0;
    const uint32_t min = static_cast<uint32_t>(lock.doc.getAttributeInt("min", 0)) & 0xFFFF;
    const uint32_t max = static_cast<uint32_t>(lock.doc.getAttributeInt("max", 0)) & 0xFFFF;
    return max << 16 | min;
}

bool CAudioEncoder::CheckSampleRate(int rate) {
    char xpath[256];
    if (!EncoderXPath(name, "/samplerate", xpath)) return true;
    CodecsLock lock;
    if (!lock.doc.goToKey(xpath)) return true;
    const int min = lock.doc.getAttributeInt("min", 0);
    const int max = lock.doc.getAttributeInt("max", 0);
    if (min > 0 && min > rate) return false;
    if (max > 0 && max < rate) return false;
    return true;
}

int CAudioEncoder::GetThreadCount() {
    const int count = EngineProcessorCount();
    const uint32_t mask = static_cast<uint32_t>(GetPrefStore().GetInt("overall.audio.encAffinity"));
    if (mask == 0) return count;
    const uint32_t lowBits = count >= 32 ? 0xFFFFFFFFu : ((1u << count) - 1);
    return std::popcount(mask & lowBits);
}

int CAudioEncoder::EstimateBitrate(QueueItem*, int) {
    char xpath[256];
    if (!EncoderXPath(name, "/bitrate", xpath)) return 128;
    CodecsLock lock;
    if (!lock.doc.goToKey(xpath)) return 128;
    float ratio = lock.doc.getAttributeFloat("ratio", 1.0f);
    if (ratio == 0.0f) ratio = 1.0f;
    const float offset = lock.doc.getAttributeFloat("offset", 0.0f);
    double value = 0;
    if (const char* key = lock.doc.getAttribute("key")) {
        PrefStore& prefs = GetPrefStore();
        const PrefNode* node = prefs.FindNode(key);
        // Only numbers count; a key of another type reads as 0.
        if (node && node->type == kPrefInt) value = prefs.GetInt(key);
        else if (node && node->type == kPrefFloat) value = prefs.GetFloat(key);
    } else {
        const char* text = lock.doc.getNodeValue();
        value = text ? std::strtod(text, nullptr) : 0;
    }
    const int kbps = static_cast<int>(value * ratio + offset);
    return kbps == 0 ? 128 : kbps;
}

std::string CAudioEncoder::GetVersion() {
    char pathXPath[256], verXPath[256];
    if (!EncoderXPath(name, "/path", pathXPath) || !EncoderXPath(name, "/verinfo", verXPath)) return {};
    std::string path, begin, end, arg;
    bool haveEnd = false;
    {
        CodecsLock lock;
        auto nodeText = [&]() -> std::string {
            if (const char* key = lock.doc.getAttribute("key")) return GetPrefStore().GetString(key);
            const char* text = lock.doc.getNodeValue();
            return text ? text : "";
        };
        const bool hasPath = lock.doc.goToKey(pathXPath) != nullptr;
        if (hasPath) path = nodeText();
        if (lock.doc.goToKey(verXPath)) {
            if (!hasPath) path = nodeText();
            if (const char* b = lock.doc.getAttribute("begin")) begin = b;
            if (const char* e = lock.doc.getAttribute("end")) {
                end = e;
                haveEnd = true;
            }
            if (const char* a = lock.doc.getAttribute("arg")) arg = a;
        }
    }
    if (path.empty()) return {};
    std::string cmd = "\"" + path + "\"";
    if (!arg.empty()) cmd += " " + arg;
    // Standard input is /dev/null, so a tool that waits for input cannot hold the query up.
    CProcessWrapper tool(kProcGrowingBuffer | kProcStdout | kProcStderrToStdout);
    if (!tool.Start(cmd.c_str())) return {};
    if (tool.Wait(kVersionWaitMs) != 1) {
        tool.Terminate();
        return {};
    }
    std::string out;
    while (tool.ReadOutput(200) > 0) out += tool.buffer;
    return CutVersionText(out, begin, haveEnd ? end : std::string());
}

std::string CutVersionText(const std::string& output, const std::string& begin, const std::string& end) {
    size_t from = 0;
    if (!begin.empty()) {
        const size_t at = output.find(begin);
        if (at != std::string::npos) from = at;
    }
    std::string text = output.substr(from);
    size_t cut = std::string::npos;
    if (!end.empty()) cut = text.find(end);
    if (cut == std::string::npos) {
        cut = text.find("\r\n\r\n");
        if (cut == std::string::npos) cut = text.find("\n\n");
    }
    if (cut != std::string::npos) text.resize(cut);
    return text;
}

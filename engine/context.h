// The record the engine and the user interface share, and the one callback through which the
// engine reports everything: console text, prompts, log lines, status, item states, job and batch
// boundaries and commands for the main window.
//
// The callback runs on whichever thread raises the event (UI, worker, decode, encode, HTTP).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

class CStringTable;
namespace platform {
class RecursiveMutex;
}

// Event codes as the engine sends them. Codes 7, 8, 9, 11, 16 and 22 to 26 are used by the user
// interface for itself; the engine never sends them.
enum EngineEvent : int {
    kEventConsoleText = 1,    // data: text
    kEventNotice = 2,         // data: text (a pop-up notice)
    kEventCommandLine = 3,    // data: a tool's command line about to run
    kEventFinalReport = 4,    // data: text; arg: caption text or 0
    kEventAskYesNoCancel = 5, // data: text; answer 6 yes, 7 no, anything else cancels
    kEventAskCountdown = 6,   // data: text; arg: 0 or caption; non-zero: go on
    kEventLogLine = 10,       // data: one event-log line
    kEventStatusText = 12,    // data: text, or 0 to clear
    kEventItemState = 13,     // data: the new item state
    kEventSettingsChanged = 14,  // data: 2; arg: 0, 2 or 4
    kEventQueueChanged = 15,
    kEventJobStarted = 17,    // data: the item; arg: its index; answer 2 skips it
    kEventJobEnded = 18,      // data: the item or 0; arg: its index
    kEventBatchStarting = 19, // answer 2 cancels the batch
    kEventBatchEnded = 20,    // arg: the job driver's last result; non-zero answer ends the loop
    kEventUiCommand = 21,     // data: command word text; arg: command value; answer: the window's
    kEventFocusedItem = 27,   // answer: the item of the focused list row, or 0
    kEventProbeNotice = 28,   // data: a value of the probe's player source
};

// Answers of the prompts, numbered as the callers expect them.
enum : int { kAnswerYes = 6, kAnswerNo = 7 };

// (code, data, argument) -> answer. data carries a text, an item or a number.
using EngineEventCallback = std::function<int(int code, intptr_t data, int64_t arg)>;

// Owned by the user interface, value-initialised before use; the engine keeps a pointer to it.
// Counters touched by several threads are atomics.
struct EngineContext {
    EngineEventCallback eventCallback;
    std::atomic<int32_t> taskMode{0};
    std::atomic<int32_t> runningWorkers{0};
    std::atomic<int32_t> startedWorkers{0};
    std::atomic<uint64_t> batchStartTime{0};
    std::atomic<int32_t> itemElapsedMs{0};
    std::atomic<int32_t> remainingSeconds{0};
    std::atomic<int32_t> decodedMB{0};
    std::atomic<int32_t> encodedKB{0};
    std::atomic<int32_t> throughput{0};
    std::atomic<int32_t> processedFiles{0};
    std::atomic<int32_t> outputFiles{0};
    std::atomic<int32_t> skippedFiles{0};
    std::atomic<int32_t> errorFiles{0};
    std::atomic<int32_t> processedDurationMs{0};
    std::atomic<int32_t> totalElapsedMs{0};
    std::atomic<float> framesEncoded{0};
    std::atomic<int32_t> totalEncodingMs{0};
    std::atomic<float> compressionRatio{0};
    std::atomic<int32_t> beatCounter{0};
    int32_t cpuCount = 0;
    int32_t processorUsage = 0;
    void* extensionList = nullptr;
    std::atomic<int32_t> httpPort{0};
    int32_t dspArgument = 0;
    std::atomic<float> encodingSpeed{0};
    int32_t openClPresent = 0;
    platform::RecursiveMutex* engineMutex = nullptr;  // made by EngineInit, closed by EngineShutdown
    const char* definitionsText = nullptr;
    uint32_t definitionsLength = 0;
    int32_t buildNumber = 0;
    std::string editionText;
};

// The context kept by the engine (null before the engine is initialised).
EngineContext* GetEngineContext();
void SetEngineContext(EngineContext* context);

// Sends an event through the context's callback, or through the default callback when there is
// no context or it has none.
int RaiseEvent(int code, intptr_t data = 0, int64_t arg = 0);
inline int RaiseEvent(int code, const char* text, int64_t arg = 0) {
    return RaiseEvent(code, reinterpret_cast<intptr_t>(text), arg);
}

// The callback used when the user interface gives none: notices and reports go to standard
// output, a yes/no/cancel question is answered yes, count-down questions 1.
int DefaultEventCallback(int code, intptr_t data, int64_t arg);

// The engine's string table (module "qxcore"): message keys to texts.
CStringTable& GetEngineStrings();
// The engine's text for a message key; the key itself when it has none.
const char* EngineText(const char* key);

// The text up to the first carriage return or line feed.
std::string FirstLine(const char* text);

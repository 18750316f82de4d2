// The user interface's answer to the engine: the one callback the shell puts into the engine
// context. It runs on whichever thread raised the event.
#pragma once

#include <cstdint>
#include <string>

struct QueueItem;

namespace ui {

// code, data, argument -> answer. Codes below 1 or above 27 answer 1.
int EngineEventCallback(int code, intptr_t data, int64_t arg);

// The prompt procedure: a count-down prompt of the kind, modal, under the UI mutex. The answer
// (1 OK or Yes, 0 Cancel or No, the default 0 on time-out); *ticked tells the check box state.
int ShowPrompt(uint32_t kind, const char* text, const char* title, uint32_t countDown, bool withCheckBox = false,
               bool* ticked = nullptr);

// The collected log text (a copy).
std::string LogText();
// Appends one line, trimming the text to about 16384 characters.
void AppendLogLine(std::string& log, const char* line);

// Counters of the running batch.
struct BatchCounters {
    int jobsDone = 0;
    int secondCounter = 0;
    uint64_t batchStart = 0;
    int currentRow = 0;
    uint64_t lastBalloon = 0;
    bool presetLoaded = false;
};
BatchCounters GetBatchCounters();
// Forgets the log and the counters (a new start).
void ResetEventState();

}  // namespace ui

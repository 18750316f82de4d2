// Engine start-up and shut-down, and the engine's own static state.
//
// Start-up runs in three stages:
//   EngineInit      (UI thread) context, processor count, the definitions tree, the default callback;
//   EngineInitLate  (UI thread, after the values files and the user's prefs.xml are applied) the
//                   engine's string table and the control server (SetControlServerCalls), so both
//                   follow the user's language, port and remote settings rather than the
//                   definitions' defaults, then the extension registry the server lists;
//   EngineStart     (start-up thread) task mode, log file, probes, plug-in scan, "inited".
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "engine/context.h"

// The engine's own static state. The queue's head cell with its default formats is kept by the
// queue (GetQueueHead); CoreStateInit gives it its formats, EngineShutdown frees them.
struct CoreState {
    uint64_t reserved[2] = {};
    int32_t displayWidth = 0;
    int32_t displayHeight = 0;
    int32_t overwriteAnswer = 0;   // the overwrite answer kept for the batch
    int32_t audioThreads = 0;      // audio threads running
    std::mutex mutex;              // guards lastFatalMessage
    std::string lastFatalMessage;
};

CoreState& GetCoreState();
void CoreStateInit();

// The defaults that depend on the engine, set after the definitions are loaded: the AviSynth
// folder beside the program and the list of file types from the input table.
void SetEngineDefaults();

// 0, 3 (the definitions text cannot be parsed) or 4 (language data cannot be loaded; EngineInitLate).
int EngineInit(EngineContext* context);
int EngineInitLate(EngineContext* context);
int EngineStart(EngineContext* context);
void EngineShutdown(EngineContext* context);

// Event 2 with the last fatal message, or "Fatal error".
void ReportFatalError();
void SetFatalMessage(const std::string& text);

// The control server belongs to the layer above the engine: start-up hands the engine its start
// and stop, so that EngineInitLate starts it once the user's settings are read and EngineShutdown
// stops it. Without them the engine runs no server.
struct ControlServerCalls {
    int (*start)() = nullptr;  // 0, or -1 when the server could not start
    void (*stop)() = nullptr;
};
void SetControlServerCalls(ControlServerCalls calls);

// Looks both keys up in the engine's string table and sends event 4.
int ShowFinalReport(const char* messageKey, const char* captionKey);

// The program folder with its trailing '/', as read at EngineInit.
const std::string& EngineAppPath();

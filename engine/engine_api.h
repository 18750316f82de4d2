// The flat functions through which the user interface and remote control reach the engine:
// preferences by dotted key, item states, encoder queries, the address builder of the local web
// interface, the plug-in list control, stream probing and a few small text helpers. The queue's
// own functions are in engine/queue/queue.h; the preference files' in engine/prefs/preffiles.h.
//
// Every function is safe to call from the UI, worker and HTTP threads at once. A text result is
// kept per calling thread until that thread's next call of the same function, so two threads
// never overwrite each other's result.
#pragma once

#include <cstdint>
#include <string>

#include "engine/prefs/preffiles.h"
#include "engine/queue/queue.h"

// --- preferences on the global store ---
const void* GetPrefValuePtr(const char* key);
const char* GetPrefEnumText(const char* key, int index);
float GetPrefFloat(const char* key);
int GetPrefInt(const char* key);
const char* GetPrefString(const char* key);
bool SetPrefFromText(const char* key, const char* text);
void SetPrefFloat(const char* key, float value);
void SetPrefInt(const char* key, int value);
void SetPrefString(const char* key, const char* text);

// What GetPrefInfo writes, by selector: 0 the node's key segment (text), 1 the type, 3 the range
// (an enum: 0 and the number of options - 1; otherwise min and max), 4 the label, 5 the description.
struct PrefInfo {
    const char* text = nullptr;
    uint32_t type = 0;
    int32_t range[2] = {0, 0};
};
// 0, or -1 for a missing key, a node of type 0 or another selector.
int GetPrefInfo(const char* key, int selector, PrefInfo* out);

// --- item states ---
// Sets the item's state, or with null the state of every item running a job; then event 13 with
// the state (once, whatever changed). The callback's answer.
int SetItemState(QueueItem* item, uint32_t state);
// The item's state; with null the state of the first item running a job, 0 when none runs.
uint32_t GetItemState(const QueueItem* item);

// --- encoder queries (encoders are created by id, used and destroyed at once) ---
// Kind 0: kbit/s the chosen audio encoder expects to give for an input of the default format;
// -1 for another kind or when the encoder cannot be made.
int GetEstimatedBitrate(int kind);
const char* GetOutputInfoText(int kind, QueueItem* item);
// Kind 0: with a negative id the encoder the format chooser picks for the item; selector 1 gives
// that id as a number (in *chosenId), otherwise the option text of "overall.audio.encoder".
const char* GetEncoderName(int kind, int selector, int encoderId, QueueItem* item, int* chosenId = nullptr);
const char* GetEncoderVersion(int kind, int encoderId);

// --- the local web interface ---
// "http://localhost:<port>/" + the page of the kind; at most size - 1 characters and a NUL are
// written. The length written.
int BuildWebUiUrl(int kind, const char* argument, char* buffer, int size);
// The branch name of an encoder id (0 to 23) on the preference pages; null past the table.
const char* EncoderBranchName(int encoderId);

// --- plug-in lists (0 DSP, 1 input; engine/sources/winamp_host.cpp) ---
// Operations: 0 the description into argument (size bytes), 1 enabled (1) or not (0), 2 enable
// (argument non-null) or disable and rewrite the list's preference, 3 the plug-in's settings (a
// running DSP plug-in's own; an input plug-in is loaded from the folder for it and let go), 4 read
// the list again from the folder.
int WinampPluginControl(int list, int operation, int index, void* argument, int size);

// --- probing and tools ---
// Fills an item's stream information once (flag 0x2 marks it done). 0, or -1.
int ProbeItem(QueueItem* item, int force);
// Runs the tools of a local file's probe on a copy of a waiting item, ahead of its job, and keeps
// their output for the job's own probe (engine/tools/probe_ahead.h). The copy is only read into.
void ProbeItemAhead(QueueItem* copy);
const char* RunMediaTool(int kind, int flags, QueueItem* item);
void DetectAviSynth();

// --- text helpers ---
// Removes a leading "X:\" (three characters) when the second and third characters are ":\".
void StripDrivePrefix(std::string& text);
// The part of text from offset, count characters long, both clamped to the text.
std::string SubString(const char* text, int offset, int count);
// For an address on one of the known video sites, asks the resolver service for the media link;
// both results are cut to their buffer sizes. 1 when a link was found, else 0.
int ResolveVideoPageUrl(char* address, int addressSize, char* title, int titleSize);

// The UI's wait cursor while a probe runs (the user interface installs it; none by default).
using WaitCursorHook = void (*)(bool busy);
void SetWaitCursorHook(WaitCursorHook hook);

// The plug-in host of the engine: input plug-ins ("in_*.so", entry winampGetInModule2) decode a
// file on their own thread and write PCM through the host's output module into a pipe that the
// source CWinampInput reads; DSP plug-ins ("dsp_*.so", entry winampDSPGetHeader2) process each
// decoded block of the decode thread. Both lists are filled at engine start from the plug-in
// folder ("audiosrc.winamp.dir") and live until they are reloaded or the engine shuts down.
//
// Only one CWinampInput reads from a plug-in at a time: the host's output module has one current
// source. A second source waits in Open until the first is closed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/sources/audio_source.h"
#include "engine/sources/winamp_sdk.h"

inline constexpr uint32_t kPluginDisabled = 0x1;

struct InputPluginEntry {
    std::string fileName;     // the library's file name
    std::string extensions;   // ';'-separated, the first entry of the plug-in's extension list
    std::string description;
    uint32_t flags = 0;       // kPluginDisabled
};
using InputPluginList = std::vector<InputPluginEntry>;

struct DspPluginEntry {
    std::string name;                   // the library's file name
    std::string path;                   // where it was found, to load it again after a stop
    std::string description;            // the header's description, kept while stopped
    void* library = nullptr;            // null once stopped
    WinampDspModule* module = nullptr;  // the module of index 0
    WinampDspHeader* header = nullptr;
    // The module's sample entry; null while the plug-in is stopped.
    int (*modifySamples)(WinampDspModule*, short*, int, int, int, int) = nullptr;
    int32_t index = 0;
    uint32_t flags = 0;                 // kPluginDisabled
};
using DspPluginTable = std::vector<DspPluginEntry>;

// Loads an input plug-in and connects it to the host's output module; null when the library does
// not load, lacks the entry or gives no module. The module's hDllInstance is the library handle.
WinampInModule* LoadInputPlugin(const std::string& path, void* window);
// Closes the module's library.
void UnloadInputPlugin(WinampInModule* module);

// Fills the list from "in_*.so" of the folder (plug-ins with an extension list first; "in_mp3.so"
// after them; those without a list last) and marks the ones the disabled text names. The count.
int EnumInputPlugins(const std::string& folder, InputPluginList& list, const char* disabled);
void FreeInputPluginList(InputPluginList& list);

// Fills the table from "dsp_*.so" of the folder with every plug-in whose module starts; all are
// disabled but those the enabled text names. The count.
int EnumDspPlugins(const std::string& folder, DspPluginTable& table, const char* enabled, void* window);
int StartDspPlugin(DspPluginEntry& entry, void* window);
void StopDspPlugin(DspPluginEntry& entry);
void FreeDspPlugins(DspPluginTable& table);

// The engine's lists: filled at engine start, freed at shut-down.
void EnumeratePlugins(const char* folder, const char* disabledInputs, const char* enabledDsp, int dspArgument);
void FreePluginLists();
// Copies of the engine's lists (for display and tests).
InputPluginList InputPlugins();
DspPluginTable DspPlugins();

// The first enabled input plug-in of the engine's list that takes the file: by extension, or
// (for a plug-in without a list) by playing it. Null when none does. Logs to source's log;
// fileName (when given) receives the chosen plug-in's file name.
WinampInModule* PickInputPlugin(CAudioSource* source, const std::string& inputPath, std::string* fileName = nullptr);

// Runs the enabled and started DSP plug-ins over the decode thread's blocks of one pass. A
// plug-in's answer is bounded to what the block holds, so a plug-in answering nonsense never
// makes the thread read or hand on more than the block.
class DspChain {
public:
    DspChain(uint16_t bits, uint16_t channels, uint32_t sampleRate, uint16_t blockAlign);
    // True when a plug-in is running (at the pass's start).
    bool Active() const { return active_; }
    // The most bytes to read into a block so that a plug-in may double them.
    int32_t MaxInput() const;
    // Hands every plug-in one second of silence.
    void WarmUp(uint32_t byteRate);
    // Processes bytes of the block (of capacity bytes) in place; the bytes it holds now.
    int32_t Process(uint8_t* block, int32_t bytes, int32_t capacity);

private:
    bool active_ = false;
    uint16_t bits_, channels_, blockAlign_;
    uint32_t rate_;
    std::vector<uint8_t> scratch_;
};

// Stream information for a file that the media tools could not read (no audio, and no video they
// could describe), from the enabled input plug-in whose extension list names the file's
// extension: the plug-in starts decoding until it announces its format, and its length is kept.
// 1 when the item got an audio stream, 0 when no plug-in describes it, -1 when the plug-in host
// stayed busy with another job (ask again later).
int DescribeWithInputPlugin(QueueItem* item);

class CWinampInput : public CAudioSource {
public:
    CWinampInput();
    ~CWinampInput() override;

    bool Open(AudioTask* task) override;
    void Close() override;
    int32_t Seek(int32_t ms) override;
    // Waits (bounded) for the plug-in to announce its format.
    bool ReadHeader() override;
    bool Prepare(AudioTask* task) override;
    // Ends the stream, so that a blocked Read returns.
    int Stop() override;

    int writeFd = -1;                   // the pipe's write end
    WinampInModule* module = nullptr;

private:
    void EndStream();
    bool holdsHost_ = false;
    std::string pluginName_;            // the chosen plug-in's file name, for its log lines
};

#include "engine/sources/winamp_host.h"

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "engine/engine_api.h"
#include "engine/eventlog.h"
#include "engine/jobs/audiopass.h"
#include "engine/jobs/audiotask.h"
#include "engine/jobs/blockbuffer.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/tools/process.h"
#include "platform/dynlib/dynlib.h"
#include "platform/process.h"

// Locks: the host's mutex (HostState::m), g_inputMutex (the input list) and g_dspMutex (the DSP
// table, re-entrant) are each taken alone, never one under another; the preference store's lock
// may be taken under g_dspMutex and g_inputMutex.

namespace {

constexpr int kPipeBytes = 65536;
constexpr int kTitleBytes = 2048;
constexpr int kWriteSliceMs = 50;

// What the output module's callbacks act on: the current source and its pipe's write end.
struct HostState {
    std::mutex m;
    std::condition_variable cv;
    CWinampInput* current = nullptr;
    int writeFd = -1;
    uint64_t counter = 0;              // bytes the plug-in handed since the source opened
    uint64_t byteLimit = kNoByteLimit;
    int writers = 0;                   // Write calls between taking the end and giving it back
    std::atomic<bool> closing{false};  // the write end is being closed: writers leave
    bool formatSet = false;
    bool formatBad = false;
    bool streamEnded = false;
    WaveHeader format{};
    // One source at a time reads from a plug-in; the others wait in Open.
    bool busy = false;
    std::thread::id busyThread{};
};

constexpr int kDescribeWaitMs = 5000;

HostState& Host() {
    static HostState state;
    return state;
}

// Closes the current write end once no Write is using it. Called with the state's lock held.
void CloseWriteEnd(std::unique_lock<std::mutex>& lock) {
    HostState& h = Host();
    if (h.writeFd < 0) return;
    h.closing = true;
    h.cv.wait(lock, [&] { return h.writers == 0; });
    platform::CloseFd(h.writeFd);
    if (h.current) h.current->writeFd = -1;
    h.streamEnded = true;
    h.cv.notify_all();
}

// --- the output module ---

void OutNothing() {}
void OutNothingWindow(void*) {}
void OutNothingInt(int) {}
int OutZero() { return 0; }
int OutPause(int) { return 0; }

int OutOpen(int sampleRate, int channels, int bits, int, int) {
    HostState& h = Host();
    std::lock_guard<std::mutex> lock(h.m);
    if (!h.current || h.formatSet || h.formatBad) return 0;
    // Only formats the engine can carry; anything else ends the source with an error.
    const bool usable = sampleRate > 0 && sampleRate <= 768000 && channels >= 1 && channels <= 8 &&
                        (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    if (!usable) {
        h.formatBad = true;
        h.cv.notify_all();
        return -1;
    }
    InitWaveHeader(&h.format, static_cast<uint32_t>(sampleRate), static_cast<uint16_t>(channels),
                   static_cast<uint16_t>(bits), 0);
    h.formatSet = true;
    h.cv.notify_all();
    return 0;
}

int OutCanWrite() {
    HostState& h = Host();
    std::lock_guard<std::mutex> lock(h.m);
    if (!h.current) return 1024;
    return h.writeFd >= 0 ? 32768 : -1;
}

int OutWrite(char* buffer, int length) {
    HostState& h = Host();
    std::unique_lock<std::mutex> lock(h.m);
    if (!h.current) return 0;
    if (h.writeFd < 0 || h.closing) return 1;
    if (length <= 0 || !buffer) {
        CloseWriteEnd(lock);
        h.counter = 0;
        return 1;
    }
    // The write that passes the byte limit still hands on the bytes up to the limit, then ends the
    // stream: the output holds exactly the range asked for.
    const uint64_t before = h.counter;
    h.counter += static_cast<uint64_t>(length);
    const bool last = h.counter > h.byteLimit;
    const size_t want = last ? static_cast<size_t>(h.byteLimit > before ? h.byteLimit - before : 0) : static_cast<size_t>(length);
    // The write happens without the lock, so that the reader's side can go on; the end stays open
    // while writers is above 0.
    ++h.writers;
    const int fd = h.writeFd;
    lock.unlock();
    size_t done = 0;
    while (done < want && !h.closing) {
        const ssize_t n = write(fd, buffer + done, want - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, kWriteSliceMs);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    lock.lock();
    --h.writers;
    h.cv.notify_all();
    if (last) {
        CloseWriteEnd(lock);
        h.counter = 0;
        return 1;
    }
    return static_cast<int>(want - done);
}

int OutIsPlaying() {
    HostState& h = Host();
    std::unique_lock<std::mutex> lock(h.m);
    if (!h.current) return 0;
    CloseWriteEnd(lock);
    return 1;
}

WinampOutModule g_outModule = {
    0x10, "", 65537, nullptr, nullptr, OutNothingWindow, OutNothingWindow, OutNothing, OutNothing, OutOpen,
    OutNothing, OutWrite, OutCanWrite, OutIsPlaying, OutPause, OutNothingInt, OutNothingInt, OutNothingInt,
    OutZero, OutZero,
};

// --- what an input module is given besides the output module ---

void VisInit(int, int) {}
void VisPcm(void*, int, int, int) {}
int VisAdd(void*, int, int) { return 0; }
int SpecMode(int*, int*) { return 0; }
int SpecAdd(void*, int) { return 0; }
void SpecInfo(int, int) {}
int DspDoSamples(short*, int frames, int, int, int) { return frames; }

// --- the engine's lists ---

std::mutex g_inputMutex;
InputPluginList g_inputs;
std::string g_folder;
void* g_window = nullptr;

std::recursive_mutex g_dspMutex;
DspPluginTable g_dsp;

std::string Joined(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::vector<std::string> Tokens(const char* text) {
    std::vector<std::string> tokens;
    if (!text) return tokens;
    std::string current;
    for (const char* p = text;; ++p) {
        if (*p == ';' || *p == 0) {
            if (!current.empty()) tokens.push_back(current);
            current.clear();
            if (!*p) break;
        } else {
            current += *p;
        }
    }
    return tokens;
}

bool AnyTokenBeginsWith(const char* text, const std::string& name) {
    for (const std::string& t : Tokens(text))
        if (t.compare(0, name.size(), name) == 0) return true;
    return false;
}

// A plug-in that cannot be used is left out; the log names it and tells why.
void LogLeftOut(const std::string& path, const std::string& why) {
    const size_t slash = path.find_last_of('/');
    LogSource log = MakeLogSource(path.substr(slash == std::string::npos ? 0 : slash + 1).c_str());
    LogMessageFormat(&log, "Plug-in left out: %s", why.c_str());
}

bool IsLastResortPlugin(const std::string& fileName) { return strcasecmp(fileName.c_str(), "in_mp3.so") == 0; }

void Unload(WinampInModule* module, bool initialised) {
    if (!module) return;
    // A plug-in may have started a thread in Init: it ends it in Quit, before its code goes.
    if (initialised && module->Quit) module->Quit();
    UnloadInputPlugin(module);
}

// A stopped plug-in's library is gone: it is loaded again before its module is touched.
bool ReloadDspLibrary(DspPluginEntry& entry) {
    if (entry.library) return true;
    platform::DynLib lib(entry.path);
    if (!lib.IsOpen()) {
        LogLeftOut(entry.path, lib.Error());
        return false;
    }
    auto getHeader = lib.Function<WinampDspGetHeaderFn>("winampDSPGetHeader2");
    WinampDspHeader* header = getHeader ? getHeader() : nullptr;
    if (!header || !header->getModule) {
        LogLeftOut(entry.path, "no DSP header");
        return false;
    }
    entry.header = header;
    entry.library = lib.Release();
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Input plug-ins

WinampInModule* LoadInputPlugin(const std::string& path, void* window) {
    platform::DynLib lib(path);
    if (!lib.IsOpen()) {
        LogLeftOut(path, lib.Error());
        return nullptr;
    }
    auto get = lib.Function<WinampGetInModuleFn>("winampGetInModule2");
    WinampInModule* module = get ? get() : nullptr;
    if (!module) {
        LogLeftOut(path, "no input module");
        return nullptr;
    }
    g_outModule.hMainWindow = window;
    g_outModule.hDllInstance = platform::ProgramModuleHandle();
    module->hMainWindow = window;
    module->hDllInstance = lib.Release();
    module->outMod = &g_outModule;
    module->visInit = VisInit;
    module->visDeInit = OutNothing;
    module->visAddPcm = VisPcm;
    module->visGetMode = OutZero;
    module->visAdd = VisAdd;
    module->specAddPcm = VisPcm;
    module->specGetMode = SpecMode;
    module->specAdd = SpecAdd;
    module->specSetInfo = SpecInfo;
    module->dspIsActive = OutZero;
    module->dspDoSamples = DspDoSamples;
    return module;
}

void UnloadInputPlugin(WinampInModule* module) {
    if (module) platform::CloseLibraryHandle(module->hDllInstance);
}

int EnumInputPlugins(const std::string& folder, InputPluginList& list, const char* disabled) {
    list.clear();
    if (folder.empty()) return 0;
    InputPluginList withList, lastResort, withoutList;
    for (const std::string& name : platform::ListLibraryFiles(folder, "in_*.so")) {
        WinampInModule* module = LoadInputPlugin(Joined(folder, name), nullptr);
        if (!module) continue;
        if (module->UsesOutputPlug && module->FileExtensions) {
            InputPluginEntry entry{name, module->FileExtensions, module->description ? module->description : "", 0};
            if (entry.extensions.empty()) withoutList.push_back(std::move(entry));
            else if (IsLastResortPlugin(name)) lastResort.push_back(std::move(entry));
            else withList.push_back(std::move(entry));
        }
        UnloadInputPlugin(module);
    }
    // Plug-ins with extensions first, the general MPEG decoder after them, probing ones last.
    for (InputPluginList* part : {&withList, &lastResort, &withoutList})
        for (InputPluginEntry& e : *part) list.push_back(std::move(e));
    for (InputPluginEntry& e : list) {
        if (strcasecmp(e.extensions.c_str(), "APE") == 0) e.extensions = "APE;APL";
        else if (strcasecmp(e.extensions.c_str(), "MP4") == 0) e.extensions = "MP4;M4A";
        if (AnyTokenBeginsWith(disabled, e.fileName)) e.flags |= kPluginDisabled;
    }
    return static_cast<int>(list.size());
}

void FreeInputPluginList(InputPluginList& list) { list.clear(); }

WinampInModule* PickInputPlugin(CAudioSource* source, const std::string& inputPath, std::string* fileName) {
    const size_t slash = inputPath.find_last_of('/');
    const size_t dot = inputPath.find_last_of('.');
    const std::string ext = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? inputPath.substr(dot + 1) : "";
    InputPluginList list;
    std::string folder;
    void* window;
    {
        std::lock_guard<std::mutex> lock(g_inputMutex);
        list = g_inputs;
        folder = g_folder;
        window = g_window;
    }
    for (const InputPluginEntry& node : list) {
        if (node.flags & kPluginDisabled) continue;
        WinampInModule* module = LoadInputPlugin(Joined(folder, node.fileName), window);
        if (!module) continue;
        if (module->Init) module->Init();
        bool fits = false;
        if (!node.extensions.empty()) {
            for (const std::string& t : Tokens(node.extensions.c_str()))
                if (strcasecmp(t.c_str(), ext.c_str()) == 0) fits = true;
        } else if (module->Play && module->Play(inputPath.c_str()) == 0) {
            if (module->Stop) module->Stop();
            fits = true;
        }
        if (fits) {
            if (source) LogMessageKeyFormat(&source->log, "FOUND_MATCH_PLUGIN", ext.c_str(), 0);
            if (fileName) *fileName = node.fileName;
            return module;
        }
        Unload(module, true);
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// DSP plug-ins

int EnumDspPlugins(const std::string& folder, DspPluginTable& table, const char* enabled, void* window) {
    std::lock_guard<std::recursive_mutex> lock(g_dspMutex);
    FreeDspPlugins(table);
    if (folder.empty()) return 0;
    for (const std::string& name : platform::ListLibraryFiles(folder, "dsp_*.so")) {
        DspPluginEntry entry;
        entry.name = name;
        entry.path = Joined(folder, name);
        if (!ReloadDspLibrary(entry)) continue;
        if (StartDspPlugin(entry, window) != 0) {
            LogLeftOut(entry.path, "its module did not start");
            platform::CloseLibraryHandle(entry.library);
            continue;
        }
        entry.description = entry.header->description ? entry.header->description : name;
        table.push_back(std::move(entry));
    }
    for (DspPluginEntry& e : table) {
        e.flags |= kPluginDisabled;
        if (AnyTokenBeginsWith(enabled, e.name)) e.flags &= ~kPluginDisabled;
    }
    return static_cast<int>(table.size());
}

int StartDspPlugin(DspPluginEntry& entry, void* window) {
    std::lock_guard<std::recursive_mutex> lock(g_dspMutex);
    if (entry.modifySamples) return 0;  // running already: a second Init would start it twice
    if (!ReloadDspLibrary(entry)) return -1;
    WinampDspModule* module = entry.header->getModule(entry.index);
    if (!module) return -1;
    module->hDllInstance = entry.library;
    module->hwndParent = window;
    if (module->Init && module->Init(module) != 0) return -1;
    entry.module = module;
    entry.modifySamples = module->ModifySamples;
    return 0;
}

void StopDspPlugin(DspPluginEntry& entry) {
    std::lock_guard<std::recursive_mutex> lock(g_dspMutex);
    entry.modifySamples = nullptr;
    if (entry.library && entry.module && entry.module->Quit) entry.module->Quit(entry.module);
    platform::CloseLibraryHandle(entry.library);
    entry.library = nullptr;
    entry.module = nullptr;
    entry.header = nullptr;
}

void FreeDspPlugins(DspPluginTable& table) {
    std::lock_guard<std::recursive_mutex> lock(g_dspMutex);
    for (DspPluginEntry& e : table) StopDspPlugin(e);
    table.clear();
}

// ---------------------------------------------------------------------------------------------
// The engine's lists

void EnumeratePlugins(const char* folder, const char* disabledInputs, const char* enabledDsp, int dspArgument) {
    void* window = reinterpret_cast<void*>(static_cast<intptr_t>(dspArgument));
    const std::string dir = folder ? folder : "";
    InputPluginList inputs;
    EnumInputPlugins(dir, inputs, disabledInputs);
    {
        std::lock_guard<std::mutex> lock(g_inputMutex);
        g_inputs = std::move(inputs);
        g_folder = dir;
        g_window = window;
    }
    EnumDspPlugins(dir, g_dsp, enabledDsp, window);
}

void FreePluginLists() {
    {
        std::lock_guard<std::mutex> lock(g_inputMutex);
        FreeInputPluginList(g_inputs);
    }
    FreeDspPlugins(g_dsp);
}

InputPluginList InputPlugins() {
    std::lock_guard<std::mutex> lock(g_inputMutex);
    return g_inputs;
}

DspPluginTable DspPlugins() {
    std::lock_guard<std::recursive_mutex> lock(g_dspMutex);
    return g_dsp;
}

namespace {

// Operations 0-2 on an entry of either list: its description, whether it is enabled, enabling or
// disabling it and rewriting the list's preference from the names of the enabled entries (or, for
// a list that keeps the disabled ones, of the disabled entries).
template <typename Entry, typename NameOf>
int ControlListEntry(std::vector<Entry>& list, Entry& e, int operation, void* argument, int size, const char* key,
                     bool keepsEnabled, NameOf nameOf) {
    switch (operation) {
    case 0:
        if (argument && size > 0) std::snprintf(static_cast<char*>(argument), static_cast<size_t>(size), "%s", e.description.c_str());
        return 0;
    case 1: return (e.flags & kPluginDisabled) ? 0 : 1;
    case 2: {
        if (argument) e.flags &= ~kPluginDisabled;
        else e.flags |= kPluginDisabled;
        std::string names;
        for (const Entry& d : list)
            if (((d.flags & kPluginDisabled) == 0) == keepsEnabled) names += (names.empty() ? "" : ";") + nameOf(d);
        GetPrefStore().SetString(key, names.c_str());
        return 0;
    }
    default: return 0;
    }
}

}  // namespace

int WinampPluginControl(int list, int operation, int index, void* argument, int size) {
    PrefStore& prefs = GetPrefStore();
    if (list == 0) {
        std::lock_guard<std::recursive_mutex> lock(g_dspMutex);
        if (operation == 4) {
            EnumDspPlugins(prefs.GetString("audiosrc.winamp.dir"), g_dsp, prefs.GetString("audiosrc.winamp.enabledDspPlugins"), g_window);
            return 0;
        }
        if (index < 0 || index >= static_cast<int>(g_dsp.size())) return 0;
        DspPluginEntry& e = g_dsp[static_cast<size_t>(index)];
        if (operation == 3) {
            if (e.modifySamples && e.module && e.module->Config) e.module->Config(e.module);
            return 0;
        }
        return ControlListEntry(g_dsp, e, operation, argument, size, "audiosrc.winamp.enabledDspPlugins", true,
                                [](const DspPluginEntry& d) { return d.name; });
    }
    if (list != 1) return 0;
    std::lock_guard<std::mutex> lock(g_inputMutex);
    if (operation == 4) {
        EnumInputPlugins(prefs.GetString("audiosrc.winamp.dir"), g_inputs, prefs.GetString("audiosrc.winamp.disabledInPlugins"));
        g_folder = prefs.GetString("audiosrc.winamp.dir");
        return 0;
    }
    if (index < 0 || index >= static_cast<int>(g_inputs.size())) return 0;
    if (operation == 3) {
        // The plug-in is loaded from the folder for its settings only, and let go again.
        if (WinampInModule* module = LoadInputPlugin(Joined(g_folder, g_inputs[static_cast<size_t>(index)].fileName), g_window)) {
            if (module->Config) module->Config(nullptr);
            UnloadInputPlugin(module);
        }
        return 0;
    }
    return ControlListEntry(g_inputs, g_inputs[static_cast<size_t>(index)], operation, argument, size,
                            "audiosrc.winamp.disabledInPlugins", false, [](const InputPluginEntry& d) { return d.fileName; });
}

namespace {

// True when the tools told something of a video stream. The player names a video stream in a
// file it cannot read (its last resort takes any data for an MPEG stream) and says nothing more
// of it: such a guess is no video that the file's plug-in should be left out for.
bool VideoDescribed(const VideoStreamInfo* video) {
    for (const VideoStreamInfo* v = video; v; v = v->next)
        if (v->format || v->codec || v->width || v->height || v->fpsNum || v->bitrate) return true;
    return false;
}

}  // namespace

int DescribeWithInputPlugin(QueueItem* item) {
    if (!item || !item->file || item->audio || VideoDescribed(item->video)) return 0;
    const std::string path = item->file;
    const size_t slash = path.find_last_of('/'), dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return 0;
    const std::string ext = path.substr(dot + 1);
    // Only a plug-in that names the extension: one that probes by playing would take any file.
    bool named = false;
    for (const InputPluginEntry& e : InputPlugins()) {
        if (e.flags & kPluginDisabled) continue;
        for (const std::string& t : Tokens(e.extensions.c_str())) named |= strcasecmp(t.c_str(), ext.c_str()) == 0;
    }
    if (!named) return 0;
    {
        // A job reading through a plug-in holds the host. The item's own job waits for it as its
        // source would; anyone else waits a little and leaves the description for later.
        HostState& h = Host();
        std::unique_lock<std::mutex> lock(h.m);
        if (h.busy && h.busyThread == std::this_thread::get_id()) return -1;
        const bool ownJob = item->state.load() == kItemEncoding;
        const auto start = std::chrono::steady_clock::now();
        while (h.busy) {
            if (ownJob ? item->state.load() != kItemEncoding
                       : std::chrono::steady_clock::now() - start > std::chrono::milliseconds(kDescribeWaitMs))
                return -1;
            h.cv.wait_for(lock, std::chrono::milliseconds(100));
        }
    }
    AudioTask task;
    InitAudioTask(&task, 0);
    task.item = item;
    CWinampInput source;
    const bool described = source.Open(&task) && source.ReadHeader();
    if (described) {
        auto* stream = new AudioStreamInfo;
        stream->samplerate = source.header.sampleRate;
        stream->channels = source.header.channels;
        stream->samplebits = source.header.bitsPerSample;
        stream->format = source.header.formatTag;
        stream->duration = source.lengthMs;
        stream->codec = DupString("PCM");
        item->audio = stream;
        if (item->duration <= 0) item->duration = static_cast<int32_t>(source.lengthMs);
    }
    source.Close();
    return described ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// DspChain

DspChain::DspChain(uint16_t bits, uint16_t channels, uint32_t sampleRate, uint16_t blockAlign)
    : bits_(bits), channels_(channels), blockAlign_(blockAlign ? blockAlign : 1), rate_(sampleRate) {
    std::lock_guard<std::recursive_mutex> lock(g_dspMutex);
    for (const DspPluginEntry& e : g_dsp)
        if (!(e.flags & kPluginDisabled) && e.modifySamples) active_ = true;
    // Room for twice a block: a plug-in may double the frames it is given.
    if (active_) scratch_.resize(2 * kAudioBlockBytes);
}

int32_t DspChain::MaxInput() const {
    const int32_t half = kAudioBlockBytes / 2;
    return std::max<int32_t>(half / blockAlign_ * blockAlign_, blockAlign_);
}

void DspChain::WarmUp(uint32_t byteRate) {
    if (!active_) return;
    int64_t remaining = byteRate;
    while (remaining > 0) {
        const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(remaining, MaxInput()));
        std::fill(scratch_.begin(), scratch_.begin() + chunk, 0);
        Process(scratch_.data(), chunk, chunk);
        remaining -= chunk;
    }
}

int32_t DspChain::Process(uint8_t* block, int32_t bytes, int32_t capacity) {
    if (!active_ || bytes < 1) return bytes;
    const int32_t capacityFrames = std::min<int32_t>(capacity, kAudioBlockBytes) / blockAlign_;
    int32_t frames = std::min(bytes / blockAlign_, capacityFrames);
    if (block != scratch_.data()) std::memcpy(scratch_.data(), block, static_cast<size_t>(frames) * blockAlign_);
    std::lock_guard<std::recursive_mutex> lock(g_dspMutex);
    for (DspPluginEntry& e : g_dsp) {
        if ((e.flags & kPluginDisabled) || !e.modifySamples || frames < 1) continue;
        const int32_t given = frames;
        int32_t got = e.modifySamples(e.module, reinterpret_cast<short*>(scratch_.data()), given, bits_, channels_,
                                      static_cast<int>(rate_));
        if (got < 1) {
            frames = 0;
            break;
        }
        const int32_t most = std::min(2 * given, capacityFrames);
        if (got > most) {
            LogSource log = MakeLogSource(e.name.c_str());
            LogMessageFormat(&log, "DSP plug-in answered %d frames for %d; %d kept", got, given, most);
            got = most;
        }
        frames = got;
    }
    const int32_t out = frames * blockAlign_;
    if (block != scratch_.data() && out > 0) std::memcpy(block, scratch_.data(), static_cast<size_t>(out));
    return out;
}

// ---------------------------------------------------------------------------------------------
// CWinampInput

CWinampInput::CWinampInput() { SetName("Winamp Input Plugins"); }

CWinampInput::~CWinampInput() { Close(); }

bool CWinampInput::Open(AudioTask* task) {
    platform::InitProcessLayer();  // a plug-in writing into a closed pipe must not end the program
    position = 0;
    byteLimit = kNoByteLimit;
    const QueueItem* item = task ? task->item : nullptr;
    HostState& h = Host();
    {
        std::unique_lock<std::mutex> lock(h.m);
        if (h.busy && h.busyThread == std::this_thread::get_id()) {
            // The other input track of the same pass: the host has one current source.
            LogMessage(&log, "One input plug-in source at a time: the second track is not read", 0);
            return false;
        }
        while (h.busy) {
            if (item && item->state.load() >= kItemStopping) return false;
            h.cv.wait_for(lock, std::chrono::milliseconds(100));
        }
        h.busy = true;
        h.busyThread = std::this_thread::get_id();
        holdsHost_ = true;
    }
    int readFd = -1, wfd = -1;
    if (!CreateCrtPipe(&readFd, &wfd, kPipeBytes, false, false)) {
        Close();
        return false;
    }
    fd = readFd;
    fcntl(wfd, F_SETFL, fcntl(wfd, F_GETFL) | O_NONBLOCK);

    const std::string path = GetInputPath(item, -1);
    module = PickInputPlugin(this, path, &pluginName_);
    if (!module) {
        platform::CloseFd(wfd);
        LogMessageKeyFormat(&log, "ERROR_DECODE_AUDIO", GetName(), 0);
        Close();
        return false;
    }
    LogMessageKeyFormat(&log, "LOADED", module->description ? module->description : "", 0);
    {
        std::lock_guard<std::mutex> lock(h.m);
        h.current = this;
        // The write end is in place before Play: the plug-in's thread may write at once.
        h.writeFd = writeFd = wfd;
        h.counter = 0;
        h.byteLimit = kNoByteLimit;
        h.closing = false;
        h.formatSet = h.formatBad = h.streamEnded = false;
    }
    char title[kTitleBytes] = {};
    int length = 0;
    if (module->GetFileInfo) module->GetFileInfo(path.c_str(), title, &length);
    lengthMs = length > 0 ? static_cast<uint32_t>(length) : 0;
    if (!module->Play || module->Play(path.c_str()) != 0) {
        Close();
        return false;
    }
    if (module->Pause) module->Pause();
    if (module->IsPaused && module->IsPaused() && module->UnPause) module->UnPause();
    return true;
}

bool CWinampInput::ReadHeader() {
    HostState& h = Host();
    const int timeout = std::max(GetPrefStore().GetInt("overall.audio.timeout"), 1000);
    std::unique_lock<std::mutex> lock(h.m);
    if (h.current != this) return false;
    h.cv.wait_for(lock, std::chrono::milliseconds(timeout), [&] { return h.formatSet || h.formatBad || h.streamEnded; });
    if (h.formatSet) {
        header = h.format;
        return true;
    }
    LogSource pluginLog = MakeLogSource(pluginName_.c_str());
    LogMessage(&pluginLog, h.formatBad ? "The plug-in announced an audio format the engine cannot carry"
                                       : "The plug-in announced no audio format",
               0);
    return false;
}

bool CWinampInput::Prepare(AudioTask* task) {
    const bool ok = CAudioSource::Prepare(task);
    HostState& h = Host();
    std::lock_guard<std::mutex> lock(h.m);
    if (h.current == this) h.byteLimit = byteLimit;
    return ok;
}

void CWinampInput::EndStream() {
    HostState& h = Host();
    std::unique_lock<std::mutex> lock(h.m);
    if (h.current == this) CloseWriteEnd(lock);
}

int CWinampInput::Stop() {
    EndStream();
    return 0;
}

int32_t CWinampInput::Seek(int32_t ms) {
    if (module && module->SetOutputTime) module->SetOutputTime(ms);
    return ms;
}

void CWinampInput::Close() {
    if (module) LogMessageKeyFormat(&log, "UNLOADED", module->description ? module->description : "", 0);
    // The read end goes first: a plug-in thread blocked writing into a full pipe gets an error
    // and can be stopped.
    if (fd > 0) close(fd);
    fd = 0;
    EndStream();
    if (module) {
        if (module->Stop) module->Stop();
        LogMessageKey(&log, "STOPPED", 0);
        Unload(module, true);
        module = nullptr;
    }
    HostState& h = Host();
    std::lock_guard<std::mutex> lock(h.m);
    if (h.current == this) h.current = nullptr;
    writeFd = -1;
    if (holdsHost_) {
        h.busy = false;
        h.busyThread = {};
        holdsHost_ = false;
        h.cv.notify_all();
    }
}

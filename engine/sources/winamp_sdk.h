// The C records an input or DSP plug-in library and the host exchange. An input plug-in exports
// winampGetInModule2 and decodes on a thread of its own, handing its PCM to the output module the
// host gives it; a DSP plug-in exports winampDSPGetHeader2 and processes blocks in place. Only the
// entries the host calls are used; handles are opaque pointers. Plug-ins written in C include it
// too.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct WinampOutModule WinampOutModule;
typedef struct WinampInModule WinampInModule;
typedef struct WinampDspModule WinampDspModule;
typedef struct WinampDspHeader WinampDspHeader;

struct WinampOutModule {
    int32_t version;          // 0x10
    const char* description;
    intptr_t id;
    void* hMainWindow;
    void* hDllInstance;
    void (*Config)(void* parent);
    void (*About)(void* parent);
    void (*Init)(void);
    void (*Quit)(void);
    // The plug-in announces its PCM format; answers 0 when the host takes it.
    int (*Open)(int sampleRate, int channels, int bits, int bufferLenMs, int preBufferMs);
    void (*Close)(void);
    // Hands length bytes of PCM; 0 when all were taken.
    int (*Write)(char* buffer, int length);
    // Bytes the host can take now.
    int (*CanWrite)(void);
    // Non-zero while the host still plays what it was given.
    int (*IsPlaying)(void);
    int (*Pause)(int pause);
    void (*SetVolume)(int volume);
    void (*SetPan)(int pan);
    void (*Flush)(int timeMs);
    int (*GetOutputTime)(void);
    int (*GetWrittenTime)(void);
};

struct WinampInModule {
    int32_t version;
    const char* description;
    void* hMainWindow;
    void* hDllInstance;
    // "ext;ext\0Description\0...\0\0": the first entry is the ';'-separated extension list.
    const char* FileExtensions;
    int32_t isSeekable;
    int32_t UsesOutputPlug;   // non-zero: the plug-in writes through the host's output module
    void (*Config)(void* parent);
    void (*About)(void* parent);
    void (*Init)(void);
    void (*Quit)(void);
    void (*GetFileInfo)(const char* file, char* title, int* lengthMs);
    int (*InfoBox)(const char* file, void* parent);
    int (*IsOurFile)(const char* file);
    // Starts decoding the file on the plug-in's thread; 0 on success.
    int (*Play)(const char* file);
    void (*Pause)(void);
    void (*UnPause)(void);
    int (*IsPaused)(void);
    void (*Stop)(void);
    int (*GetLength)(void);
    int (*GetOutputTime)(void);
    void (*SetOutputTime)(int timeMs);
    void (*SetVolume)(int volume);
    void (*SetPan)(int pan);
    // Visualisation hand-overs, filled by the host.
    void (*visInit)(int maxLatencyMs, int sampleRate);
    void (*visDeInit)(void);
    void (*visAddPcm)(void* pcm, int channels, int bits, int timestamp);
    int (*visGetMode)(void);
    int (*visAdd)(void* data, int timestamp, int csa);
    void (*specAddPcm)(void* pcm, int channels, int bits, int timestamp);
    int (*specGetMode)(int* specNch, int* waveNch);
    int (*specAdd)(void* data, int timestamp);
    void (*specSetInfo)(int sampleRate, int channels);
    // DSP hand-overs, filled by the host.
    int (*dspIsActive)(void);
    int (*dspDoSamples)(short* samples, int frames, int bits, int channels, int sampleRate);
    void (*eqSet)(int on, char data[10], int preamp);
    void (*setInfo)(int bitrate, int sampleRate, int stereo, int synched);
    WinampOutModule* outMod;
};

struct WinampDspModule {
    const char* description;
    void* hwndParent;
    void* hDllInstance;
    void (*Config)(WinampDspModule* module);
    // 0 when the module is ready.
    int (*Init)(WinampDspModule* module);
    // Processes frames in place; answers the frame count now in the block (the block holds room
    // for twice the frames given).
    int (*ModifySamples)(WinampDspModule* module, short* samples, int frames, int bits, int channels, int sampleRate);
    void (*Quit)(WinampDspModule* module);
    void* userData;
};

struct WinampDspHeader {
    int32_t version;
    const char* description;
    WinampDspModule* (*getModule)(int index);
};

typedef WinampInModule* (*WinampGetInModuleFn)(void);
typedef WinampDspHeader* (*WinampDspGetHeaderFn)(void);

#ifdef __cplusplus
}
#endif

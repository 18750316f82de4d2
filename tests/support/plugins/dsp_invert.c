/* A test DSP plug-in that inverts 16-bit samples. Variants: INIT_FAILS (its module refuses to
 * start), NONSENSE (answers a hundred times the frames it was given, having written none of them),
 * DOUBLE (repeats every frame, answering twice the frames). */
#include <stdint.h>
#include <string.h>

#include "engine/sources/winamp_sdk.h"

#ifndef DESCRIPTION
#define DESCRIPTION "Inverter"
#endif

int dsp_init_calls, dsp_quit_calls, dsp_frames_seen;

static int Init(WinampDspModule* m) {
    (void)m;
    ++dsp_init_calls;
#ifdef INIT_FAILS
    return 1;
#else
    return 0;
#endif
}

static void Quit(WinampDspModule* m) {
    (void)m;
    ++dsp_quit_calls;
}

static int Modify(WinampDspModule* m, short* samples, int frames, int bits, int channels, int rate) {
    (void)m;
    (void)rate;
    dsp_frames_seen += frames;
    if (bits != 16) return frames;
#if defined(NONSENSE)
    (void)samples;
    (void)channels;
    return frames * 100;
#elif defined(DOUBLE)
    for (int f = frames - 1; f >= 0; --f)
        for (int c = 0; c < channels; ++c) samples[(2 * f) * channels + c] = samples[(2 * f + 1) * channels + c] = samples[f * channels + c];
    return frames * 2;
#else
    for (int i = 0; i < frames * channels; ++i) samples[i] = (short)(samples[i] == -32768 ? 32767 : -samples[i]);
    return frames;
#endif
}

static WinampDspModule module = {DESCRIPTION, 0, 0, 0, Init, Modify, Quit, 0};

static WinampDspModule* GetModule(int index) { return index == 0 ? &module : 0; }

static WinampDspHeader header = {0x20, DESCRIPTION, GetModule};

__attribute__((visibility("default"))) WinampDspHeader* winampDSPGetHeader2(void) { return &header; }

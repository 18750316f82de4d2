/* A test input plug-in decoding the "tiny" format: "TINY", rate (u32), channels (u16), bits (u16),
 * mode (u32), then raw PCM. It decodes on a thread of its own and writes through the host's output
 * module. The mode makes it misbehave the ways a foreign plug-in may:
 *   0 plays normally; 1 its thread ends half-way without telling the host; 2 never announces a
 *   format; 3 announces 7 channels of 12 bits; 4 hands a negative length half-way; 5 decodes slowly
 *   (10 ms for each 4 KB), for tests that act while a job runs; 6 decodes half, then holds (at most
 *   120 s) until a file named like the input plus ".go" exists, for tests that act while the job
 *   is surely running.
 * Built several times with other extension lists (EXTENSIONS, EXTENSIONS_MPEG), without the entry point (NO_ENTRY)
 * or without using the output module (NO_OUTPUT). */
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "engine/sources/winamp_sdk.h"

#ifdef NO_ENTRY
/* A library without the plug-in entry point. */
__attribute__((visibility("default"))) int not_a_plugin = 1;
#else

#ifdef EXTENSIONS_MPEG
#define EXTENSIONS "MP3;MP2"
#endif
#ifndef EXTENSIONS
#define EXTENSIONS "TNY"
#endif
#ifndef DESCRIPTION
#define DESCRIPTION "Tiny decoder"
#endif

static WinampInModule mod;
static pthread_t thread;
static int running;
static int stopping; /* set by Stop on the host's thread, read by the decoder's */
#define STOPPING() __atomic_load_n(&stopping, __ATOMIC_ACQUIRE)
static volatile int seekMs = -1;
static FILE* input;
static char inputPath[4096];
static int held; /* mode 6 has held once in this play */
static uint32_t rate, mode;
static uint16_t channels, bits;

/* Counters a test reads through dlsym: Init, Quit, Play and Config calls. */
__attribute__((visibility("default"))) int tiny_init_calls, tiny_quit_calls, tiny_play_calls, tiny_config_calls,
    tiny_last_seek = -1;

/* Mode 6: waits, polling, until "<input>.go" exists or the host stops the plug-in. */
static void hold(void) {
    char go[4110];
    snprintf(go, sizeof go, "%s.go", inputPath);
    for (int i = 0; i < 12000 && !STOPPING() && access(go, F_OK) != 0; ++i) usleep(10000);
}

static int read_header(FILE* f) {
    char magic[4];
    if (fread(magic, 1, 4, f) != 4 || memcmp(magic, "TINY", 4) != 0) return -1;
    if (fread(&rate, 4, 1, f) != 1 || fread(&channels, 2, 1, f) != 1 || fread(&bits, 2, 1, f) != 1 ||
        fread(&mode, 4, 1, f) != 1)
        return -1;
    return 0;
}

static void* decode(void* arg) {
    (void)arg;
    WinampOutModule* out = mod.outMod;
    if (mode == 3) {
        out->Open(44100, 7, 12, -1, -1);
    } else if (mode != 2 && out->Open((int)rate, channels, bits, -1, -1) < 0) {
        return NULL;
    }
    const long start = ftell(input);
    fseek(input, 0, SEEK_END);
    const long total = ftell(input) - start;
    fseek(input, start, SEEK_SET);
    const int align = channels * bits / 8 > 0 ? channels * bits / 8 : 1;
    char buf[4096];
    long written = 0;
    while (!STOPPING()) {
        if (seekMs >= 0) {
            fseek(input, start + (long)seekMs * (long)rate / 1000 * align, SEEK_SET);
            seekMs = -1;
        }
        const size_t n = fread(buf, 1, sizeof buf - sizeof buf % (size_t)align, input);
        if (n == 0) break;
        if (mode == 1 && written >= total / 2) return NULL; /* gone without a word */
        if (mode == 5) usleep(10000);
        if (mode == 6 && !held && written >= total / 2) {
            held = 1;
            hold();
        }
        if (mode == 4 && written >= total / 2) {
            out->Write(buf, -5);
            return NULL;
        }
        int can;
        while (!STOPPING() && (can = out->CanWrite()) >= 0 && can < (int)n) usleep(1000);
        if (out->CanWrite() < 0) break;
        if (out->Write(buf, (int)n) != 0) break;
        written += (long)n;
    }
    if (!STOPPING()) out->IsPlaying();
    return NULL;
}

static void Init(void) { ++tiny_init_calls; }
static void Config(void* parent) {
    (void)parent;
    ++tiny_config_calls;
}
static void Quit(void) { ++tiny_quit_calls; }

static void GetFileInfo(const char* file, char* title, int* lengthMs) {
    if (title) snprintf(title, 2048, "%s", file ? file : "");
    if (lengthMs) *lengthMs = 0;
    FILE* f = file ? fopen(file, "rb") : NULL;
    if (!f) return;
    if (read_header(f) == 0 && rate && channels && bits) {
        fseek(f, 0, SEEK_END);
        const long bytes = ftell(f) - 16;
        *lengthMs = (int)(bytes * 1000 / ((long)rate * channels * bits / 8));
    }
    fclose(f);
}

static void Stop(void) {
    __atomic_store_n(&stopping, 1, __ATOMIC_RELEASE);
    if (running) pthread_join(thread, NULL);
    running = 0;
    if (input) fclose(input);
    input = NULL;
}

static int Play(const char* file) {
    ++tiny_play_calls;
    Stop();
    input = fopen(file, "rb");
    if (!input) return -1;
    snprintf(inputPath, sizeof inputPath, "%s", file);
    held = 0;
    if (read_header(input) != 0) {
        fclose(input);
        input = NULL;
        return -1;
    }
    __atomic_store_n(&stopping, 0, __ATOMIC_RELEASE);
    seekMs = -1;
    if (pthread_create(&thread, NULL, decode, NULL) != 0) return -1;
    running = 1;
    return 0;
}

static void Pause(void) {}
static void UnPause(void) {}
static int IsPaused(void) { return 0; }
static void SetOutputTime(int ms) {
    tiny_last_seek = ms;
    seekMs = ms;
}

/* One record for the library's life, as the host may ask again while a copy decodes. */
__attribute__((visibility("default"))) WinampInModule* winampGetInModule2(void) {
    if (mod.version) return &mod;
    mod.version = 0x100;
    mod.description = DESCRIPTION;
    mod.FileExtensions = EXTENSIONS "\0Tiny files\0";
#ifdef NO_OUTPUT
    mod.UsesOutputPlug = 0;
#else
    mod.UsesOutputPlug = 1;
#endif
    mod.Init = Init;
    mod.Config = Config;
    mod.Quit = Quit;
    mod.GetFileInfo = GetFileInfo;
    mod.Play = Play;
    mod.Pause = Pause;
    mod.UnPause = UnPause;
    mod.IsPaused = IsPaused;
    mod.Stop = Stop;
    mod.SetOutputTime = SetOutputTime;
    return &mod;
}
#endif

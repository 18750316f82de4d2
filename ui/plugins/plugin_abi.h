/* The binary contract between the program and a device or user-interface plug-in: a shared
 * library in the program's "plugins" folder exporting GetPluginHeader (and, optionally,
 * GetPluginResource for an XML description or a picture kept inside the library). Plug-ins in C
 * include this header. Window handles are the windowing layer's, made by the plug-in through the
 * qxgui_ functions the program exports. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Host flags: set from the header's flags and the description's "flag" property. */
enum {
    kPluginDock = 0x100,
    kPluginSummary = 0x200,
    kPluginDialog = 0x400,
    kPluginConfirm = 0x800,
    kPluginNoDllFree = 0x1000,
};

/* Event codes sent to the plug-in; the answer 0 means "go on". Events 3, 5, 6 and 7 arrive on the
 * thread that reports the engine's event, not on the UI thread: a plug-in must not touch its
 * windows there. */
enum {
    kPluginEventLoad = 0,        /* non-zero: the load is refused */
    kPluginEventUnload = 1,      /* non-zero: the unload is refused */
    kPluginEventReady = 2,
    kPluginEventBatchStart = 3,
    kPluginEventStopPressed = 4, /* non-zero: the running job is not stopped */
    kPluginEventJobStart = 5,    /* data: the queue item (opaque) */
    kPluginEventJobEnd = 6,      /* data: the queue item (opaque) */
    kPluginEventBatchEnd = 7,
    kPluginEventPlay = 8,        /* data: the current queue item; non-zero: playback refused */
    kPluginEventPreview = 9,
    kPluginEventStopPlay = 10,   /* non-zero: the stop is refused */
    kPluginEventSummary = 12,    /* non-zero: the host leaves its summary alone */
    kPluginEventPreset = 13,     /* data: (selection << 16) | catalog index (from 0) */
};

typedef struct PluginHostCallbacks {
    /* The raw value slot of a preference as the preference store keeps it, or null. */
    void* (*getPref)(const char* key);
    /* Sets a preference from its text form; non-zero when it was set. */
    int (*setPrefFromText)(const char* key, const char* text);
    void (*refreshSummary)(int level);
    void (*openSettings)(const char* keyPrefix);
    void (*applyPresets)(void);
    /* catalog from 0; ignored outside the catalogs shown and the presets of the catalog. */
    void (*selectPreset)(int catalog, int index);
    /* A text of the plug-in string table; "" when missing. */
    const char* (*getString)(const char* key);
} PluginHostCallbacks;

typedef struct PluginHeader {
    const char* name;          /*   0 display name; the description's "name" replaces it */
    uint32_t flags;            /*   8 initial host flags */
    uint32_t reserved0;
    int (*event)(int code, intptr_t data); /* 16 */
    uint16_t xmlResourceId;    /*  24 resource of type "XML", used without a description file */
    uint16_t reserved1;
    uint16_t bitmapResourceId; /*  28 picture of the host's picture button */
    uint16_t reserved2;
    int32_t videoX;            /*  32 the video window inside the sizing window */
    int32_t videoY;            /*  36 */
    int32_t videoWidth;        /*  40 0: the host takes the sizing window's client size */
    int32_t videoHeight;       /*  44 */
    void* module;              /*  48 host: the library handle */
    void* pluginWindow;        /*  56 the plug-in's panel (required) */
    void* sizingWindow;        /*  64 optional window for video playback */
    void* hostWindow;          /*  72 host: the host dialog */
    void* bitmap;              /*  80 host: the picture loaded from bitmapResourceId, or null */
    const char* xmlText;       /*  88 host: the description text (not terminated) */
    uint32_t xmlSize;          /*  96 host: its length in bytes */
    uint32_t reserved3;
    PluginHostCallbacks* callbacks; /* 104 host */
} PluginHeader;

typedef PluginHeader* (*GetPluginHeaderFn)(void);
/* The bytes of a resource of the library ("XML" or "BITMAP"), and their size; null when none. */
typedef const void* (*GetPluginResourceFn)(uint16_t id, const char* type, uint32_t* size);

#ifdef __cplusplus
}

static_assert(offsetof(PluginHeader, flags) == 8);
static_assert(offsetof(PluginHeader, event) == 16);
static_assert(offsetof(PluginHeader, xmlResourceId) == 24);
static_assert(offsetof(PluginHeader, bitmapResourceId) == 28);
static_assert(offsetof(PluginHeader, videoX) == 32);
static_assert(offsetof(PluginHeader, videoHeight) == 44);
static_assert(offsetof(PluginHeader, module) == 48);
static_assert(offsetof(PluginHeader, pluginWindow) == 56);
static_assert(offsetof(PluginHeader, sizingWindow) == 64);
static_assert(offsetof(PluginHeader, hostWindow) == 72);
static_assert(offsetof(PluginHeader, bitmap) == 80);
static_assert(offsetof(PluginHeader, xmlText) == 88);
static_assert(offsetof(PluginHeader, xmlSize) == 96);
static_assert(offsetof(PluginHeader, callbacks) == 104);
static_assert(sizeof(PluginHeader) == 112);
static_assert(sizeof(PluginHostCallbacks) == 7 * sizeof(void*));
#endif

/* A test device plug-in: a panel made through the program's qxgui_ calls, every event recorded for
 * the test (which reads the exported counters), and refusals chosen through the environment:
 * DEVICE_REFUSE_LOAD, DEVICE_REFUSE_UNLOAD, DEVICE_REFUSE_PLAY, DEVICE_REFUSE_STOP (the stop of
 * its batch or of its playback), DEVICE_NO_PANEL, DEVICE_NULL_HEADER. Built with WITH_RESOURCE it
 * carries its description and a picture inside (the description without a terminating
 * character), and with SIZING a second window for video. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "ui/plugins/plugin_abi.h"

void* qxgui_CreateDialogXml(const char* xml, size_t length, void* parent, void* proc, intptr_t param);

#define EXPORT __attribute__((visibility("default")))

EXPORT int device_events[256];
EXPORT intptr_t device_event_data[256];
EXPORT int device_event_count;

static PluginHeader header;

/* A window of its own until the host takes it in. */
static const char kPanel[] = "<dialog id=\"7000\" w=\"100\" h=\"40\" style=\"WS_POPUP\">"
                             "<control id=\"10\" class=\"Edit\" x=\"4\" y=\"4\" w=\"60\" h=\"12\"/>"
                             "<control id=\"11\" class=\"Button\" x=\"70\" y=\"4\" w=\"26\" h=\"12\" caption=\"_start\"/>"
                             "</dialog>";
#ifdef SIZING
static const char kSizing[] = "<dialog id=\"7001\" x=\"2\" y=\"20\" w=\"80\" h=\"16\" style=\"WS_CHILD\"/>";
#endif

static intptr_t PanelProc(void* hwnd, unsigned msg, uintptr_t wParam, intptr_t lParam) {
    (void)hwnd, (void)msg, (void)wParam, (void)lParam;
    return 0;
}

static int Event(int code, intptr_t data) {
    const int n = __atomic_fetch_add(&device_event_count, 1, __ATOMIC_SEQ_CST);
    if (n < 256) {
        device_events[n] = code;
        device_event_data[n] = data;
    }
    if (code == 0 && getenv("DEVICE_REFUSE_LOAD")) return 1;
    if (code == 1 && getenv("DEVICE_REFUSE_UNLOAD")) return 1;
    if (code == 8 && getenv("DEVICE_REFUSE_PLAY")) return 1;
    if ((code == 4 || code == 10) && getenv("DEVICE_REFUSE_STOP")) return 1;
    return 0;
}

#ifdef WITH_RESOURCE
/* What follows the description is not part of it: a reader that looks for a terminator fails. */
static const char kResource[] = "<QuorvexPlugin><properties><name value=\"From resource\"/></properties>"
                                "</QuorvexPlugin><broken";
static const unsigned char kPicture[] = {'B', 'M', 0, 0};
EXPORT const void* GetPluginResource(uint16_t id, const char* type, uint32_t* size) {
    if (id == 9 && strcmp(type, "BITMAP") == 0) {
        *size = sizeof kPicture;
        return kPicture;
    }
    if (id != 7 || strcmp(type, "XML") != 0) return NULL;
    *size = (uint32_t)(strstr(kResource, "<broken") - kResource);
    return kResource;
}
#endif

EXPORT PluginHeader* GetPluginHeader(void) {
    if (getenv("DEVICE_NULL_HEADER")) return NULL;
    memset(&header, 0, sizeof header);
    header.name = "Test device";
    header.flags = kPluginDock;
    header.event = Event;
#ifdef WITH_RESOURCE
    header.xmlResourceId = 7;
    header.bitmapResourceId = 9;
#endif
    if (!getenv("DEVICE_NO_PANEL"))
        header.pluginWindow = qxgui_CreateDialogXml(kPanel, sizeof kPanel - 1, NULL, (void*)PanelProc, 0);
#ifdef SIZING
    if (header.pluginWindow)
        header.sizingWindow = qxgui_CreateDialogXml(kSizing, sizeof kSizing - 1, header.pluginWindow, (void*)PanelProc, 0);
#endif
    return &header;
}

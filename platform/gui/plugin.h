// The window calls a plug-in library makes, as plain C functions of the program (exported from
// the executable, so a plug-in's panels are windows of this layer on every back-end). Handles
// are the layer's own, passed as void*.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/gui/gui.h"

extern "C" {

// A modeless dialog from a template in XML text (the <dialog> form of the resource files), as a
// child of parent when the template has WS_CHILD. Null when the text or the template is bad.
void* qxgui_CreateDialogXml(const char* xml, size_t length, void* parent, gui::DLGPROC proc, intptr_t param);
intptr_t qxgui_SendMessage(void* hwnd, unsigned msg, uintptr_t wParam, intptr_t lParam);
int qxgui_PostMessage(void* hwnd, unsigned msg, uintptr_t wParam, intptr_t lParam);
int qxgui_DestroyWindow(void* hwnd);
void* qxgui_GetDlgItem(void* dialog, int id);
int qxgui_SetWindowText(void* hwnd, const char* text);
void* qxgui_SetParent(void* child, void* parent);

}

// The plug-in window calls: thin C wrappers over the layer, usable from any thread.
#include "platform/gui/plugin.h"

#include <string>

#include "platform/gui/internal.h"

namespace {

gui::HWND H(void* p) { return static_cast<gui::HWND>(p); }

}  // namespace

extern "C" {

void* qxgui_CreateDialogXml(const char* xml, size_t length, void* parent, gui::DLGPROC proc, intptr_t param) {
    if (!xml || !gui::IsRunning()) return nullptr;
    auto t = std::make_shared<gui::DialogTemplate>();
    std::string error;
    // Parsed where the call comes from; created on the UI thread.
    const bool parsed = gui::ParseDialogXml(std::string(xml, length), *t, error);
    return gui::detail::Marshal<gui::HWND>([&]() -> gui::HWND {
        if (!parsed) {
            gui::detail::SetTemplateError("plug-in dialog: " + error);
            return nullptr;
        }
        return gui::detail::CreateDialogFromTemplate(nullptr, t, H(parent), proc, param, false);
    });
}

intptr_t qxgui_SendMessage(void* hwnd, unsigned msg, uintptr_t wParam, intptr_t lParam) {
    return gui::SendMessageA(H(hwnd), msg, wParam, lParam);
}

int qxgui_PostMessage(void* hwnd, unsigned msg, uintptr_t wParam, intptr_t lParam) {
    return gui::PostMessageA(H(hwnd), msg, wParam, lParam);
}

int qxgui_DestroyWindow(void* hwnd) { return gui::DestroyWindow(H(hwnd)); }
void* qxgui_GetDlgItem(void* dialog, int id) { return gui::GetDlgItem(H(dialog), id); }
int qxgui_SetWindowText(void* hwnd, const char* text) { return gui::SetWindowTextA(H(hwnd), text); }
void* qxgui_SetParent(void* child, void* parent) { return gui::SetParent(H(child), H(parent)); }

}

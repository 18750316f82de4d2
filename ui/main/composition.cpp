#include "ui/main/composition.h"

#include "engine/engine_init.h"
#include "engine/tools/preview.h"
#include "platform/gui/gui.h"
#include "remote/handlers/servers.h"

namespace ui {

namespace {

gui::HWND Window(void* window) { return static_cast<gui::HWND>(window); }

}  // namespace

void ConnectEngine() {
    SetControlServerCalls({StartHttpServer, StopHttpServer});

    PreviewWindowCalls window;
    window.isUiThread = [] { return gui::IsUiThread(); };
    window.waitServing = [](uint32_t ms, const std::function<bool()>& ready) { return gui::WaitPumping(ms, ready); };
    window.close = [](void* w) { gui::PostMessageA(Window(w), gui::WM_CLOSE, 0, 0); };
    window.hide = [](void* w) { gui::ShowWindow(Window(w), gui::SW_HIDE); };
    window.nativeId = [](void* w) { return gui::GetNativeWindowId(Window(w)); };
    SetPreviewWindowCalls(window);
}

}  // namespace ui

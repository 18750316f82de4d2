// Opens the display back-end: linked in (the tests link it), or else the module "libsqgtk.so" in the
// program's folder, so that a program without a display never loads GTK or the web view.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/fs.h"
#include "platform/gui/internal.h"

// Defined by the back-end when it is linked into the executable.
extern "C" gui::detail::Backend* sqgui_StartGtkBackend() __attribute__((weak));

namespace gui::detail {

std::unique_ptr<Backend> StartDisplayBackend() {
    using Start = Backend* (*)();
    Start start = sqgui_StartGtkBackend;
    if (!start) {
        // The back-end shows X11 windows: without a display there is nothing to load.
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) return nullptr;
        // Opened once and kept: the back-end's objects live in it until the process ends.
        static void* module = nullptr;
        // The program's folder, else the executable's (a program folder set elsewhere holds data only).
        for (const std::string& folder :
             {platform::AppFolder(), std::filesystem::path(platform::ExecutablePath()).parent_path().string()}) {
            if (module || folder.empty()) continue;
            module = dlopen((std::filesystem::path(folder) / "libsqgtk.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        }
        if (!module) {
            std::fprintf(stderr, "gui: cannot load the display back-end: %s\n", dlerror());
            return nullptr;
        }
        start = reinterpret_cast<Start>(dlsym(module, "sqgui_StartGtkBackend"));
        if (!start) return nullptr;
    }
    return std::unique_ptr<Backend>(start());
}

}  // namespace gui::detail

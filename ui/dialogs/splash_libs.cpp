#include "ui/dialogs/splash_libs.h"

#include <dlfcn.h>

#include <cstdio>

namespace ui {

namespace {

// Opened by the names the Debian packages install them under, and never closed: the splash's
// window, surfaces and X connection live in them until the process ends.
void* OpenLibrary(const char* name) {
    void* lib = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!lib) std::fprintf(stderr, "splash: cannot load %s: %s\n", name, dlerror());
    return lib;
}

template <typename Function>
bool Resolve(void* lib, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(lib, name));
    if (!function) std::fprintf(stderr, "splash: no function %s: %s\n", name, dlerror());
    return function != nullptr;
}

const SplashLibs* Load() {
    void* sdl = OpenLibrary("libSDL-1.2.so.0");
    void* image = sdl ? OpenLibrary("libSDL_image-1.2.so.0") : nullptr;
    void* x11 = image ? OpenLibrary("libX11.so.6") : nullptr;
    if (!x11) return nullptr;
    static SplashLibs libs;
    bool ok = true;
#define SQ_SPLASH_RESOLVE(name) ok = Resolve(lib, #name, libs.name) && ok;
    void* lib = sdl;
    SQ_SPLASH_SDL_FUNCTIONS(SQ_SPLASH_RESOLVE)
    lib = image;
    SQ_SPLASH_IMAGE_FUNCTIONS(SQ_SPLASH_RESOLVE)
    lib = x11;
    SQ_SPLASH_X11_FUNCTIONS(SQ_SPLASH_RESOLVE)
#undef SQ_SPLASH_RESOLVE
    return ok ? &libs : nullptr;
}

}  // namespace

const SplashLibs* SplashLibraries() {
    static const SplashLibs* const libs = Load();
    return libs;
}

}  // namespace ui

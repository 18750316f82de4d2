#include "ui/dialogs/splash_libs.h"

namespace ui {

namespace {

// Kept loaded: the splash's window, surfaces and X connection live in these libraries.
const SplashLibs* Load() {
    static SplashLibs libs;
    platform::FunctionTableLoader loader("splash");
#define SQ_SPLASH_RESOLVE(name) loader.Resolve(#name, libs.name);
    loader.Open("libSDL-1.2.so.0");
    SQ_SPLASH_SDL_FUNCTIONS(SQ_SPLASH_RESOLVE)
    loader.Open("libSDL_image-1.2.so.0");
    SQ_SPLASH_IMAGE_FUNCTIONS(SQ_SPLASH_RESOLVE)
    loader.Open("libX11.so.6");
    SQ_SPLASH_X11_FUNCTIONS(SQ_SPLASH_RESOLVE)
#undef SQ_SPLASH_RESOLVE
    return loader.Finish() ? &libs : nullptr;
}

}  // namespace

const SplashLibs* SplashLibraries() {
    static const SplashLibs* const libs = Load();
    return libs;
}

}  // namespace ui

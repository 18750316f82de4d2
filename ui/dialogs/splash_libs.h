// The splash window's libraries, SDL 1.2, SDL_image and Xlib, opened when a splash is first shown
// instead of linked: a program that never shows one (headless, a batch without a display) does not
// load them, nor what they pull in, at its start. The functions the splash calls are resolved by
// name into one table; the headers still give their types.
//
// Include it last: SDL's window-manager header brings Xlib's macros (None, Font, ...).
#pragma once

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include "platform/dynlib/function_table.h"

// The functions of each library that the splash calls.
#define SQ_SPLASH_SDL_FUNCTIONS(F)                                                                                 \
    F(SDL_Init) F(SDL_Quit) F(SDL_SetVideoMode) F(SDL_WM_SetCaption) F(SDL_GetWMInfo) F(SDL_WaitEvent)             \
    F(SDL_PollEvent) F(SDL_PushEvent) F(SDL_Flip) F(SDL_SetAlpha) F(SDL_UpperBlit) F(SDL_FillRect) F(SDL_MapRGB)     \
    F(SDL_FreeSurface) F(SDL_RWFromConstMem) F(SDL_GetTicks) F(SDL_Delay)
#define SQ_SPLASH_IMAGE_FUNCTIONS(F) F(IMG_Load) F(IMG_Load_RW)
#define SQ_SPLASH_X11_FUNCTIONS(F)                                                                                 \
    F(XOpenDisplay) F(XCloseDisplay) F(XInternAtom) F(XChangeProperty) F(XMoveWindow) F(XSendEvent) F(XMapRaised)  \
    F(XRaiseWindow) F(XFlush)

namespace ui {

// One member per function, under the function's own name and of its own type.
struct SplashLibs {
    SQ_SPLASH_SDL_FUNCTIONS(SQ_TABLE_FUNCTION)
    SQ_SPLASH_IMAGE_FUNCTIONS(SQ_TABLE_FUNCTION)
    SQ_SPLASH_X11_FUNCTIONS(SQ_TABLE_FUNCTION)
};

// The libraries' table, opened on the first call and kept loaded; null, after a line on standard
// error, when a library or one of its functions is missing (tried once).
const SplashLibs* SplashLibraries();

}  // namespace ui

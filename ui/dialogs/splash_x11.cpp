#include "ui/dialogs/splash_x11.h"

#include <X11/Xatom.h>

#include <algorithm>

#include "ui/dialogs/splash_libs.h"

namespace ui {

namespace {
Display* AsDisplay(void* d) { return static_cast<Display*>(d); }
}  // namespace

// A connection exists only once Xlib was loaded, so the calls below find its functions.
XWindowControl::~XWindowControl() {
    if (display_) SplashLibraries()->XCloseDisplay(AsDisplay(display_));
}

bool XWindowControl::Connect() {
    if (!display_) {
        const SplashLibs* x = SplashLibraries();
        if (x) display_ = x->XOpenDisplay(nullptr);
    }
    return display_ != nullptr;
}

void XWindowControl::SetOpacity(unsigned long window, int alpha) {
    std::lock_guard lk(m_);
    if (!window || !Connect()) return;
    const SplashLibs& x = *SplashLibraries();
    Display* d = AsDisplay(display_);
    const unsigned long opacity = static_cast<unsigned long>(std::clamp(alpha, 0, 255)) * 0x01010101ul;
    x.XChangeProperty(d, window, x.XInternAtom(d, "_NET_WM_WINDOW_OPACITY", False), XA_CARDINAL, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(&opacity), 1);
    x.XFlush(d);
}

void XWindowControl::CentreAbove(unsigned long window, int width, int height) {
    std::lock_guard lk(m_);
    if (!window || !Connect()) return;
    const SplashLibs& x = *SplashLibraries();
    Display* d = AsDisplay(display_);
    const int screen = DefaultScreen(d);
    x.XMoveWindow(d, window, (DisplayWidth(d, screen) - width) / 2, (DisplayHeight(d, screen) - height) / 2);
    XEvent above{};
    above.xclient.type = ClientMessage;
    above.xclient.window = window;
    above.xclient.message_type = x.XInternAtom(d, "_NET_WM_STATE", False);
    above.xclient.format = 32;
    above.xclient.data.l[0] = 1;  // add the state
    above.xclient.data.l[1] = static_cast<long>(x.XInternAtom(d, "_NET_WM_STATE_ABOVE", False));
    x.XSendEvent(d, RootWindow(d, screen), False, SubstructureRedirectMask | SubstructureNotifyMask, &above);
    x.XMapRaised(d, window);
    x.XFlush(d);
}

void XWindowControl::Raise(unsigned long window) {
    std::lock_guard lk(m_);
    if (!window || !Connect()) return;
    const SplashLibs& x = *SplashLibraries();
    x.XRaiseWindow(AsDisplay(display_), window);
    x.XFlush(AsDisplay(display_));
}

}  // namespace ui

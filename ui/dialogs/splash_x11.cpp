#include "ui/dialogs/splash_x11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>

namespace ui {

namespace {
Display* AsDisplay(void* d) { return static_cast<Display*>(d); }
}  // namespace

XWindowControl::~XWindowControl() {
    if (display_) XCloseDisplay(AsDisplay(display_));
}

bool XWindowControl::Connect() {
    if (!display_) display_ = XOpenDisplay(nullptr);
    return display_ != nullptr;
}

void XWindowControl::SetOpacity(unsigned long window, int alpha) {
    std::lock_guard lk(m_);
    if (!window || !Connect()) return;
    Display* d = AsDisplay(display_);
    const unsigned long opacity = static_cast<unsigned long>(std::clamp(alpha, 0, 255)) * 0x01010101ul;
    XChangeProperty(d, window, XInternAtom(d, "_NET_WM_WINDOW_OPACITY", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&opacity), 1);
    XFlush(d);
}

void XWindowControl::CentreAbove(unsigned long window, int width, int height) {
    std::lock_guard lk(m_);
    if (!window || !Connect()) return;
    Display* d = AsDisplay(display_);
    const int screen = DefaultScreen(d);
    XMoveWindow(d, window, (DisplayWidth(d, screen) - width) / 2, (DisplayHeight(d, screen) - height) / 2);
    XEvent above{};
    above.xclient.type = ClientMessage;
    above.xclient.window = window;
    above.xclient.message_type = XInternAtom(d, "_NET_WM_STATE", False);
    above.xclient.format = 32;
    above.xclient.data.l[0] = 1;  // add the state
    above.xclient.data.l[1] = static_cast<long>(XInternAtom(d, "_NET_WM_STATE_ABOVE", False));
    XSendEvent(d, RootWindow(d, screen), False, SubstructureRedirectMask | SubstructureNotifyMask, &above);
    XMapRaised(d, window);
    XFlush(d);
}

void XWindowControl::Raise(unsigned long window) {
    std::lock_guard lk(m_);
    if (!window || !Connect()) return;
    XRaiseWindow(AsDisplay(display_), window);
    XFlush(AsDisplay(display_));
}

}  // namespace ui

// Opacity, placement and stacking of a window that another library (SDL) made, through an X
// connection of our own. Every call is serialised; a window id of 0 does nothing.
#pragma once

#include <mutex>

namespace ui {

class XWindowControl {
public:
    XWindowControl() = default;
    ~XWindowControl();
    XWindowControl(const XWindowControl&) = delete;
    XWindowControl& operator=(const XWindowControl&) = delete;

    // alpha 0 (clear) .. 255 (opaque); shown only where a compositor draws opacity.
    void SetOpacity(unsigned long window, int alpha);
    // Centres the window on the screen and asks the window manager to keep it above the others.
    void CentreAbove(unsigned long window, int width, int height);
    void Raise(unsigned long window);

private:
    bool Connect();

    std::mutex m_;
    void* display_ = nullptr;
};

}  // namespace ui

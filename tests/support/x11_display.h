// A private X server (Xvfb) for tests that need real windows, and a plain X11 window on it whose
// picture can be read back.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace sqtest {

class XvfbDisplay {
public:
    // Starts the server with one screen of the given geometry; ok() tells whether it came up.
    explicit XvfbDisplay(const std::string& screen = "320x240x24");
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    bool ok() const { return pid_ > 0; }
    const std::string& name() const { return name_; }  // ":N"

private:
    pid_t pid_ = -1;
    std::string name_;
};

// A shown top-level window with a black background.
class X11Window {
public:
    X11Window(const std::string& display, int width, int height);
    ~X11Window();
    X11Window(const X11Window&) = delete;
    X11Window& operator=(const X11Window&) = delete;

    bool ok() const { return id_ != 0; }
    uint64_t id() const { return id_; }
    // Pixels of the window's current picture that are not black.
    int LitPixels();

private:
    void* display_ = nullptr;
    uint64_t id_ = 0;
    int width_, height_;
};

// What the screen shows in a window's area (another program may draw into its sub-windows): the
// number of pixels unlike the area's most common colour, 0 for a blank area or no such window.
int PixelsUnlikeBackground(const std::string& display, uint64_t window);

// Acts as the user through the server's test extension: a click in the middle of a window's area;
// typing text (lower-case letters, digits, blanks; '\n' is Return). False when the display or the
// extension is missing.
bool ClickMiddle(const std::string& display, uint64_t window);
bool TypeText(const std::string& display, const std::string& text);
// With the pointer moved over a window (so the keyboard goes to it on a display without a window
// manager): a key by its X name ("F10", "f", "Escape"), with a modifier held when one is named
// ("Alt_L", "Control_L"). False when the display, the extension or a key name is missing.
bool PressKey(const std::string& display, uint64_t window, const std::string& key, const std::string& modifier = "");
// The button (1 left, 3 right) pressed and released at a point of the screen.
bool ClickAt(const std::string& display, int x, int y, unsigned button);

}  // namespace sqtest

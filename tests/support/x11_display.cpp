#include "support/x11_display.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

namespace sqtest {

XvfbDisplay::XvfbDisplay(const std::string& screen) {
    // The server picks a free display number itself and writes it to the pipe once it takes
    // connections: parallel tests never share a number, and nobody connects too early.
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return;
    const pid_t pid = fork();
    if (pid == 0) {
        // The server ends with the test, however the test ends, and keeps none of its pipes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        const int fd = dup(ready[1]);  // without close-on-exec
        const std::string fdText = std::to_string(fd);
        // The search starts at a number of this process's own: a number another test's server is
        // just giving up is not taken again at once.
        const std::string first = ":" + std::to_string(100 + getpid() % 4000);
        // -noreset: the server does not start over each time its last client leaves, which
        // refuses the clients that come meanwhile.
        execlp("Xvfb", "Xvfb", first.c_str(), "-displayfd", fdText.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
               "tcp", "-noreset", nullptr);
        _exit(127);
    }
    close(ready[1]);
    if (pid < 0) {
        close(ready[0]);
        return;
    }
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{ready[0], POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0) continue;
        char buf[32];
        const ssize_t n = read(ready[0], buf, sizeof buf);
        if (n <= 0) break;  // the server ended without a display
        number.append(buf, static_cast<size_t>(n));
    }
    close(ready[0]);
    const size_t end = number.find('\n');
    if (end == std::string::npos || end == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return;
    }
    name_ = ":" + number.substr(0, end);
    // A client must get in before the display counts as up.
    Display* probe = nullptr;
    while (!probe && std::chrono::steady_clock::now() < deadline && waitpid(pid, nullptr, WNOHANG) == 0) {
        probe = XOpenDisplay(name_.c_str());
        if (!probe) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!probe) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return;
    }
    XCloseDisplay(probe);
    pid_ = pid;
}

XvfbDisplay::~XvfbDisplay() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

X11Window::X11Window(const std::string& display, int width, int height) : width_(width), height_(height) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return;
    display_ = d;
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, static_cast<unsigned>(width),
                                   static_cast<unsigned>(height), 0, BlackPixel(d, DefaultScreen(d)),
                                   BlackPixel(d, DefaultScreen(d)));
    XMapWindow(d, w);
    XSync(d, False);
    id_ = w;
}

X11Window::~X11Window() {
    if (display_) XCloseDisplay(static_cast<Display*>(display_));
}

int X11Window::LitPixels() {
    if (!display_) return 0;
    Display* d = static_cast<Display*>(display_);
    XImage* image = XGetImage(d, static_cast<Window>(id_), 0, 0, static_cast<unsigned>(width_),
                              static_cast<unsigned>(height_), AllPlanes, ZPixmap);
    if (!image) return 0;
    int lit = 0;
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) lit += (XGetPixel(image, x, y) & 0xFFFFFF) != 0;
    XDestroyImage(image);
    return lit;
}

int PixelsUnlikeBackground(const std::string& display, uint64_t window) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return 0;
    int unlike = 0;
    XWindowAttributes attributes{};
    Window child = 0;
    int x = 0, y = 0;
    const Window root = DefaultRootWindow(d);
    if (XGetWindowAttributes(d, static_cast<Window>(window), &attributes) && attributes.width > 0 &&
        attributes.height > 0 && XTranslateCoordinates(d, static_cast<Window>(window), root, 0, 0, &x, &y, &child)) {
        // Only the part on the screen can be read.
        const int left = std::max(x, 0), top = std::max(y, 0);
        const int width = std::min(x + attributes.width, DisplayWidth(d, DefaultScreen(d))) - left;
        const int height = std::min(y + attributes.height, DisplayHeight(d, DefaultScreen(d))) - top;
        XImage* image = width > 0 && height > 0 ? XGetImage(d, root, left, top, static_cast<unsigned>(width),
                                                            static_cast<unsigned>(height), AllPlanes, ZPixmap)
                                                : nullptr;
        if (image) {
            std::map<unsigned long, int> counts;
            for (int row = 0; row < height; ++row)
                for (int col = 0; col < width; ++col) ++counts[XGetPixel(image, col, row) & 0xFFFFFF];
            int most = 0;
            for (const auto& [colour, n] : counts) most = std::max(most, n);
            unlike = width * height - most;
            XDestroyImage(image);
        }
    }
    XCloseDisplay(d);
    return unlike;
}

namespace {

// The display, when the server has the test extension.
Display* OpenTestDisplay(const std::string& display) {
    Display* d = XOpenDisplay(display.c_str());
    int event = 0, error = 0, major = 0, minor = 0;
    if (d && !XTestQueryExtension(d, &event, &error, &major, &minor)) {
        XCloseDisplay(d);
        return nullptr;
    }
    return d;
}

}  // namespace

bool ClickMiddle(const std::string& display, uint64_t window) {
    Display* d = OpenTestDisplay(display);
    if (!d) return false;
    XWindowAttributes attributes{};
    Window child = 0;
    int x = 0, y = 0;
    const bool ok = XGetWindowAttributes(d, static_cast<Window>(window), &attributes) &&
                    XTranslateCoordinates(d, static_cast<Window>(window), DefaultRootWindow(d), attributes.width / 2,
                                          attributes.height / 2, &x, &y, &child);
    if (ok) {
        XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
        XTestFakeButtonEvent(d, 1, True, CurrentTime);
        XTestFakeButtonEvent(d, 1, False, CurrentTime);
        XSync(d, False);
    }
    XCloseDisplay(d);
    return ok;
}

bool TypeText(const std::string& display, const std::string& text) {
    Display* d = OpenTestDisplay(display);
    if (!d) return false;
    for (char c : text) {
        const KeySym symbol = c == '\n' ? XK_Return : c == ' ' ? XK_space : static_cast<KeySym>(c);
        const KeyCode code = XKeysymToKeycode(d, symbol);
        if (code == 0) continue;
        XTestFakeKeyEvent(d, code, True, CurrentTime);
        XTestFakeKeyEvent(d, code, False, CurrentTime);
    }
    XSync(d, False);
    XCloseDisplay(d);
    return true;
}

bool PressKey(const std::string& display, uint64_t window, const std::string& key, const std::string& modifier) {
    Display* d = OpenTestDisplay(display);
    if (!d) return false;
    const KeyCode code = XKeysymToKeycode(d, XStringToKeysym(key.c_str()));
    const KeyCode mod = modifier.empty() ? 0 : XKeysymToKeycode(d, XStringToKeysym(modifier.c_str()));
    XWindowAttributes attributes{};
    Window child = 0;
    int x = 0, y = 0;
    const bool ok = code != 0 && (modifier.empty() || mod != 0) &&
                    XGetWindowAttributes(d, static_cast<Window>(window), &attributes) &&
                    XTranslateCoordinates(d, static_cast<Window>(window), DefaultRootWindow(d), attributes.width / 2,
                                          attributes.height / 2, &x, &y, &child);
    if (ok) {
        XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
        if (mod) XTestFakeKeyEvent(d, mod, True, CurrentTime);
        XTestFakeKeyEvent(d, code, True, CurrentTime);
        XTestFakeKeyEvent(d, code, False, CurrentTime);
        if (mod) XTestFakeKeyEvent(d, mod, False, CurrentTime);
        XSync(d, False);
    }
    XCloseDisplay(d);
    return ok;
}

bool ClickAt(const std::string& display, int x, int y, unsigned button) {
    Display* d = OpenTestDisplay(display);
    if (!d) return false;
    XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(d, button, True, CurrentTime);
    XTestFakeButtonEvent(d, button, False, CurrentTime);
    XSync(d, False);
    XCloseDisplay(d);
    return true;
}

}  // namespace sqtest

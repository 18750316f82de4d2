#include "support/x11_display.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace sqtest {

XvfbDisplay::XvfbDisplay(const std::string& screen) {
    const std::string geometry = screen + "x24";
    // A display number of this process's own, so that parallel tests do not meet.
    for (int n = 90 + getpid() % 400, tries = 0; tries < 20 && pid_ < 0; ++n, ++tries) {
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
        struct stat st;
        if (stat(socket.c_str(), &st) == 0 || access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0)
            continue;
        name_ = ":" + std::to_string(n);
        pid_t pid = fork();
        if (pid == 0) {
            execlp("Xvfb", "Xvfb", name_.c_str(), "-screen", "0", geometry.c_str(), "-nolisten", "tcp", nullptr);
            _exit(127);
        }
        if (pid < 0) return;
        for (int i = 0; i < 100; ++i) {  // up to 10 s for the server to listen
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (waitpid(pid, nullptr, WNOHANG) == pid) break;
            if (stat(socket.c_str(), &st) == 0) {
                pid_ = pid;
                break;
            }
        }
        if (pid_ < 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
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

}  // namespace sqtest

// The splash on a private X server: its window shows centred at 400 x 374 with the start-up
// picture drawn, and is gone once the splash is destroyed.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/gui/driver.h"
#include "platform/gui/resources.h"
#include "support/x11_display.h"
#include "ui/dialogs/splash.h"
#include "ui/framework/dialog.h"

// Last: Xlib's macros (None, Font, ...) clash with the layer's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

// SDL's X11 driver sets Xlib's locale modifiers, whose copies Xlib keeps for the process's life.
extern "C" const char* __lsan_default_suppressions() { return "leak:libX11.so\n"; }

namespace {

int g_xErrors = 0;
int CountXError(Display*, XErrorEvent*) {
    ++g_xErrors;
    return 0;
}

TEST(SplashOnX11, ShowsThePictureCentredAndCloses) {
    sqtest::XvfbDisplay server("1024x768x24");
    ASSERT_TRUE(server.ok());
    const char* oldDisplay = getenv("DISPLAY");
    const std::string savedDisplay = oldDisplay ? oldDisplay : "";
    setenv("DISPLAY", server.name().c_str(), 1);
    unsetenv("SDL_VIDEODRIVER");
    auto resources = std::make_shared<gui::XmlResourceFolder>();
    std::string error;
    ASSERT_TRUE(resources->Load(std::string(SQ_SOURCE_DIR) + "/data/ui", error)) << error;
    gui::testing::Driver::Options options;
    options.resources = resources;
    gui::testing::Driver driver([](const std::string& what) { ADD_FAILURE() << what; }, options);
    ui::UiModeAtStart = 0;

    ui::StartSplash();
    ui::Csplash* splash = ui::CurrentSplash();
    ASSERT_NE(splash, nullptr);
    const Window window = splash->NativeWindow();
    ASSERT_NE(window, 0u);

    Display* d = XOpenDisplay(server.name().c_str());
    ASSERT_NE(d, nullptr);
    // The picture is drawn by the splash's own thread: wait (bounded) until it is on the screen.
    int lit = 0;
    XWindowAttributes a{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (lit < 1000 && std::chrono::steady_clock::now() < deadline) {
        XSync(d, False);
        ASSERT_TRUE(XGetWindowAttributes(d, window, &a));
        if (a.map_state == IsViewable) {
            XImage* image = XGetImage(d, window, 0, 0, 400, 374, AllPlanes, ZPixmap);
            lit = 0;
            for (int y = 0; image && y < 374; y += 4) {
                for (int x = 0; x < 400; x += 4) lit += (XGetPixel(image, x, y) & 0xFFFFFF) != 0;
            }
            if (image) XDestroyImage(image);
        }
        if (lit < 1000) driver.PumpUntil([] { return false; }, 50);
    }
    EXPECT_EQ(a.width, 400);
    EXPECT_EQ(a.height, 374);
    EXPECT_EQ(a.map_state, IsViewable);
    EXPECT_GE(lit, 1000) << "the start-up picture is not drawn";
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &x, &y, &child);
    EXPECT_EQ(x, (DisplayWidth(d, DefaultScreen(d)) - 400) / 2);

    ui::DestroySplash();
    EXPECT_EQ(ui::CurrentSplash(), nullptr);
    // The window may be gone altogether: that is an X error, counted rather than fatal.
    g_xErrors = 0;
    XSetErrorHandler(CountXError);
    XSync(d, False);
    XWindowAttributes after{};
    const bool exists = XGetWindowAttributes(d, window, &after) != 0;
    XSync(d, False);
    EXPECT_TRUE(!exists || after.map_state != IsViewable) << "the splash window stays on the screen";
    XCloseDisplay(d);
    if (savedDisplay.empty()) unsetenv("DISPLAY");
    else setenv("DISPLAY", savedDisplay.c_str(), 1);
}

}  // namespace

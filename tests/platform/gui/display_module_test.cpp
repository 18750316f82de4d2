// The program loads GTK and the web view only when it shows windows: headless it never maps them,
// on a display it opens its display module. Likewise the media libraries of the script layer (its
// module is opened on the first script), the splash window's SDL (opened when a splash shows),
// libcurl (the first transfer), PulseAudio (the first capture from the sound server) and GIO (the
// first power action).
// What the dynamic loader maps is read from its own trace (LD_DEBUG=files), which also lists the
// libraries opened later with dlopen.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/shell_command.h"
#include "support/tempdir.h"
#include "support/x11_display.h"

namespace {

const std::string kProgram = std::string(SQ_OUT_DIR) + "/sonquill";

// What a headless start with nothing to do never loads: the display module and its toolkit, the
// script layer's module and its media libraries, the splash window's SDL and Xlib, libcurl,
// PulseAudio's client libraries, GIO and GLib. ("libcurl.so": the media-information library, loaded
// as soon as a batch is to start, brings a libcurl-gnutls of its own.)
const char* const kNotForHeadless[] = {"libsqgtk",   "libgtk-3",    "libwebkit2gtk",   "libsqavs",     "libavformat",
                                       "libavcodec", "libswscale",  "libSDL-1.2",      "libSDL_image", "libX11.so",
                                       "libcurl.so", "libpulse.so", "libpulse-simple", "libgio-2.0",   "libglib-2.0"};

class DisplayModule : public ::testing::Test {
protected:
    // The command line that starts the program in a fresh data folder, tracing what it loads.
    std::string Line(const std::string& env, const std::string& args) const {
        return "cd '" + work.path().string() + "' && env -u WAYLAND_DISPLAY " + env + " APPDATA='" +
               work.path().string() + "' LD_DEBUG=files LD_DEBUG_OUTPUT='" + work.file("loads") + "' timeout 60 '" +
               kProgram + "' " + args;
    }
    // Everything the loader traced (one file per process).
    std::string Loaded() const {
        return sqtest::Capture("cat '" + work.path().string() + "'/loads.* 2>/dev/null");
    }

    sqtest::TempDir work;
};

TEST_F(DisplayModule, TheProgramItselfLinksNoLibraryItOpensOnFirstUse) {
    const std::string libraries = sqtest::Capture("ldd '" + kProgram + "'");
    ASSERT_NE(libraries.find("libqxcommon"), std::string::npos) << libraries;
    for (const char* library : kNotForHeadless) EXPECT_EQ(libraries.find(library), std::string::npos) << library;
}

TEST_F(DisplayModule, HeadlessStartLoadsNoLibraryItOpensOnFirstUse) {
    // "-start" with an empty queue: the batch is refused and "-exit" ends the program.
    sqtest::Shell(Line("-u DISPLAY SONQUILL_GUI=headless", "-start -exit"));
    const std::string loaded = Loaded();
    ASSERT_NE(loaded.find("libqxcommon"), std::string::npos) << "no loader trace";
    for (const char* library : kNotForHeadless) EXPECT_EQ(loaded.find(library), std::string::npos) << library;
}

TEST_F(DisplayModule, OnADisplayTheProgramOpensItsWindowsThroughTheModule) {
    sqtest::XvfbDisplay display;
    ASSERT_TRUE(display.ok());
    sqtest::Shell("(" + Line("DISPLAY=" + display.name(), "") + " & echo $! > '" + work.file("pid") + "')");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool opened = false;
    while (!opened && std::chrono::steady_clock::now() < deadline) {
        const std::string loaded = Loaded();
        opened = loaded.find("libsqgtk") != std::string::npos && loaded.find("libgtk-3") != std::string::npos;
        if (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    sqtest::Shell("pkill -P $(cat '" + work.file("pid") + "'); kill $(cat '" + work.file("pid") + "')");
    EXPECT_TRUE(opened) << "the display module was not opened";
}

}  // namespace

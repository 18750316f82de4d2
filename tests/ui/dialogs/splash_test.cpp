// The splash on SDL's dummy video driver: when it shows, how many timer ticks it lives with and
// without a downloaded picture, the cross-fade to that picture, clicks on it (the link, the
// corner), and being destroyed at any moment.
#include "ui/dialogs/splash.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/gui/driver.h"
#include "platform/gui/resources.h"
#include "platform/shell_open.h"
#include "support/shell_run.h"
#include "support/tempdir.h"
#include "ui/framework/dialog.h"
#include "ui/main/shell.h"

#include <SDL.h>

namespace {

using gui::testing::Driver;

class Splash : public ::testing::Test {
protected:
    Splash() {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        oldAppData_ = getenv("APPDATA") ? getenv("APPDATA") : "";
        setenv("APPDATA", appData.path().c_str(), 1);
        ui::ResetDataPath();
        auto resources = std::make_shared<gui::XmlResourceFolder>();
        std::string error;
        EXPECT_TRUE(resources->Load(std::string(SQ_SOURCE_DIR) + "/data/ui", error)) << error;
        Driver::Options options;
        options.resources = resources;
        driver = std::make_unique<Driver>([](const std::string& what) { ADD_FAILURE() << what; }, options);
        platform::SetShellOpenHook([this](const std::string& target) {
            opened.push_back(target);
            return true;
        });
        ui::UiModeAtStart = 0;
    }
    ~Splash() override {
        ui::DestroySplash();
        platform::SetShellOpenHook(nullptr);
        ui::SetSplashLink("");
        driver.reset();
        if (oldAppData_.empty()) unsetenv("APPDATA");
        else setenv("APPDATA", oldAppData_.c_str(), 1);
        ui::ResetDataPath();
    }

    void PutDownloadedPicture() {
        const auto folder = std::filesystem::path(ui::GetDataPath(""));
        std::filesystem::copy_file(SQ_TEST_DATA_DIR "/splash/downloaded.jpg", folder / "splash.jpg");
    }
    // Timer ticks until the splash is gone (at most 12).
    int TicksUntilGone() {
        int ticks = 0;
        while (ui::CurrentSplash() && ticks < 12) {
            driver->Advance(2000);
            ++ticks;
        }
        return ticks;
    }
    bool WaitFor(const std::function<bool()>& done) { return driver->PumpUntil(done, 5000); }
    static void Click(int x, int y) {
        SDL_Event event{};
        event.type = SDL_MOUSEBUTTONDOWN;
        event.button.button = SDL_BUTTON_LEFT;
        event.button.state = SDL_PRESSED;
        event.button.x = static_cast<Uint16>(x);
        event.button.y = static_cast<Uint16>(y);
        ASSERT_EQ(SDL_PushEvent(&event), 0);
    }

    sqtest::TempDir appData;
    std::string oldAppData_;
    std::unique_ptr<Driver> driver;
    std::vector<std::string> opened;
};

TEST_F(Splash, LivesSevenTicksWithoutADownloadedPictureAndEightWithOne) {
    struct Case {
        bool downloaded;
        int ticks;
    };
    for (const Case c : {Case{false, 7}, Case{true, 8}}) {
        if (c.downloaded) PutDownloadedPicture();
        ui::StartSplash();
        ui::Csplash* splash = ui::CurrentSplash();
        ASSERT_NE(splash, nullptr);
        EXPECT_TRUE(splash->HasSurface());
        driver->Advance(2000);
        EXPECT_TRUE(splash->broughtToFront);
        if (c.downloaded) {
            EXPECT_TRUE(WaitFor([&] { return splash->pictureShown.load(); })) << "no cross-fade";
        } else {
            EXPECT_FALSE(splash->pictureShown);
        }
        EXPECT_EQ(1 + TicksUntilGone(), c.ticks) << "downloaded picture: " << c.downloaded;
        EXPECT_EQ(ui::CurrentSplash(), nullptr);
    }
}

TEST_F(Splash, AClickOpensTheLinkOnlyOnTheDownloadedPictureAndOutsideTheCorner) {
    struct Case {
        bool downloaded;
        const char* link;
        int x, y;
        bool opens;
    };
    const Case cases[] = {
        {true, "https://news.example/offer", 100, 100, true},
        {true, "https://news.example/offer", 380, 10, false},   // the close corner
        {true, "https://news.example/offer", 368, 10, true},    // just left of it
        {true, "https://news.example/offer", 380, 32, true},    // just below it
        {false, "https://news.example/offer", 100, 100, false}, // the start-up picture has no link
        {true, "file:///etc/passwd", 100, 100, false},          // only web addresses leave the program
        {true, "", 100, 100, false},
    };
    PutDownloadedPicture();
    for (const auto& c : cases) {
        opened.clear();
        ui::SetSplashLink(c.link);
        ui::StartSplash();
        ui::Csplash* splash = ui::CurrentSplash();
        ASSERT_NE(splash, nullptr);
        if (c.downloaded) {
            driver->Advance(2000);
            ASSERT_TRUE(WaitFor([&] { return splash->pictureShown.load(); }));
        }
        Click(c.x, c.y);
        ASSERT_TRUE(WaitFor([&] { return splash->closing.load(); })) << c.x << "," << c.y;
        EXPECT_EQ(opened.size(), c.opens ? 1u : 0u) << c.link << " at " << c.x << "," << c.y;
        // The next tick takes the closing splash away.
        driver->Advance(2000);
        EXPECT_EQ(ui::CurrentSplash(), nullptr);
    }
}

TEST_F(Splash, NoSplashInDropBoxModeOrWithoutAPicture) {
    ui::UiModeAtStart = 3;
    ui::StartSplash();
    EXPECT_EQ(ui::CurrentSplash(), nullptr);
    ui::UiModeAtStart = 0;

    // Neither the program nor the resource library has a picture: silently no splash (an
    // unexpected message box would fail the test).
    gui::SetResourceProvider(std::make_shared<gui::LiteralResources>());
    ui::StartSplash();
    EXPECT_EQ(ui::CurrentSplash(), nullptr);
    EXPECT_TRUE(driver->Boxes().empty());
}

TEST_F(Splash, DestroyedAtAnyMomentWithoutLeavingItsThreadBehind) {
    PutDownloadedPicture();
    // Right after the start, during the cross-fade, after a click, and twice in a row.
    for (int round = 0; round < 4; ++round) {
        ui::StartSplash();
        ASSERT_NE(ui::CurrentSplash(), nullptr);
        if (round == 1) driver->Advance(2000);  // the cross-fade starts on the event thread
        if (round == 2) Click(10, 10);
        ui::DestroySplash();
        EXPECT_EQ(ui::CurrentSplash(), nullptr);
        ui::DestroySplash();  // nothing left: nothing happens
    }
    // A batch start or the end of the loop after the timer already took it: nothing happens.
    ui::StartSplash();
    EXPECT_EQ(TicksUntilGone(), 8);
    ui::DestroySplash();
}

// In the program the splash covers the wait for the main window and no more: the window's first
// timer tick after it shows ends it.
TEST(SplashInTheProgram, GoesOnceTheMainWindowShows) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ui::UiModeAtStart = 0;
    sqtest::ShellRun run;
    ASSERT_EQ(run.Start(""), 0);
    ASSERT_NE(ui::CurrentSplash(), nullptr) << "no splash while the program started";
    ASSERT_TRUE(gui::IsWindowVisible(ui::Shell().mainHwnd.load()));
    run.driver().Advance(250);
    EXPECT_EQ(ui::CurrentSplash(), nullptr);
    EXPECT_EQ(run.Finish(), 0);
}

}  // namespace

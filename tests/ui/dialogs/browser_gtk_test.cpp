// The browser host with a real web view on a private X server: it shows the program's own
// preference page from the control server, closing hides it and blanks the page, the next page
// reuses the same window and view, a link to another site goes to the user's browser, and the
// engine's helper processes end with the view.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "engine/context.h"
#include "platform/gui/gtk/gtk_backend.h"
#include "platform/gui/gui.h"
#include "support/control_server.h"
#include "support/tempdir.h"
#include "support/gtk_settle.h"
#include "support/x11_display.h"
#include "ui/dialogs/browser.h"

namespace {

using namespace std::chrono_literals;

sqtest::XvfbDisplay& Display() {
    static sqtest::XvfbDisplay display("1024x768x24");
    return display;
}

using sqtest::SettleUntil;

// This process's children whose program name begins with "WebKit".
int WebKitChildren() {
    int count = 0;
    DIR* proc = opendir("/proc");
    if (!proc) return 0;
    while (dirent* entry = readdir(proc)) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        const size_t open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        const std::string name = line.substr(open + 1, close - open - 1);
        char state = 0;
        int parent = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) != 2) continue;
        count += parent == getpid() && state != 'Z' && name.rfind("WebKit", 0) == 0;
    }
    closedir(proc);
    return count;
}

class BrowserOnDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Display().ok()) GTEST_SKIP() << "Xvfb is not available";
        setenv("DISPLAY", Display().name().c_str(), 1);
        ASSERT_TRUE(gui::Init() && gui::gtk::Active());
        server = std::make_unique<sqtest::ControlServer>(SQ_OUT_DIR "/htdocs");
        ASSERT_NE(server->port(), 0);
        GetEngineContext()->httpPort = server->port();
    }
    void TearDown() override {
        ui::DestroyBrowser();
        server.reset();
        if (gui::IsRunning()) gui::Shutdown();
    }

    // The view has loaded the address (and drawn it).
    bool Shows(const std::string& address) {
        gui::WebView* view = ui::EmbeddedView(ui::Browser().Handle());
        return SettleUntil([&] { return view && view->Address() == address && !view->Loading(); }, 60s);
    }

    std::unique_ptr<sqtest::ControlServer> server;
};

TEST_F(BrowserOnDisplay, ShowsOwnPagesReusesTheViewAndEndsItsHelpers) {
    ASSERT_TRUE(ui::CreateBrowserHost());
    const gui::HWND host = ui::Browser().Handle();
    ASSERT_TRUE(ui::Browser().embedded);
    gui::WebView* view = ui::EmbeddedView(host);
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(gui::IsWindowVisible(host));

    const std::string prefs = server->url("/prefs/");
    ASSERT_TRUE(ui::OpenInBrowser(prefs.c_str(), "Settings", 640, 480));
    ui::Browser().Show();
    // Until the page has loaded the title says so; then it is the page's title alone.
    auto title = [&] {
        char text[256] = "";
        gui::GetWindowTextA(host, text, sizeof text);
        return std::string(text);
    };
    EXPECT_EQ(title(), "Settings - Loading...");
    ASSERT_TRUE(Shows(prefs));
    EXPECT_TRUE(SettleUntil([&] { return title() == "Settings"; }, 5s)) << title();
    gui::RECT client{};
    gui::GetClientRect(host, &client);
    EXPECT_EQ(client.right - client.left, 640);
    EXPECT_EQ(client.bottom - client.top, 480);
    // The page's text and table are on the screen in the host's area.
    const uint64_t native = gui::GetNativeWindowId(host);
    EXPECT_TRUE(SettleUntil([&] { return sqtest::PixelsUnlikeBackground(Display().name(), native) > 200; }, 20s))
        << "the host's area stays blank";

    // A link to another site leaves the page where it is and goes to the user's browser.
    ASSERT_TRUE(view->Navigate("http://example.com/other"));
    EXPECT_TRUE(SettleUntil([&] { return !server->opened().empty(); }, 20s));
    EXPECT_EQ(server->opened(), std::vector<std::string>{"http://example.com/other"});
    EXPECT_EQ(view->Address(), prefs);

    // Closing hides the host and blanks it; it stays for the next page.
    gui::SendMessageA(host, gui::WM_CLOSE, 0, 0);
    EXPECT_TRUE(gui::IsWindow(host));
    EXPECT_FALSE(gui::IsWindowVisible(host));
    EXPECT_TRUE(Shows("about:blank"));

    const std::string sys = server->url("/sys/");
    ASSERT_TRUE(ui::OpenInBrowser(sys.c_str(), "System Information", 800, 600));
    ui::Browser().Show();
    EXPECT_EQ(ui::Browser().Handle(), host);
    EXPECT_EQ(ui::EmbeddedView(host), view);
    EXPECT_TRUE(Shows(sys));
    EXPECT_GT(WebKitChildren(), 0);

    ui::DestroyBrowser();
    EXPECT_FALSE(gui::IsWindow(host));
    EXPECT_TRUE(SettleUntil([] { return WebKitChildren() == 0; }, 20s)) << "helper processes still run";
}

// The settings pages are forms: what the user types reaches the page's fields, and Return sends the
// form, although keys pass through the program's own queue first.
TEST_F(BrowserOnDisplay, TypingReachesThePagesFields) {
    sqtest::TempDir root;
    root.write("form.html",
               "<html><body style=\"margin:0\"><form action=\"/typed\">"
               "<input name=\"q\" style=\"width:100%;height:400px\"></form></body></html>");
    server.reset();  // one control server at a time: this one serves the form
    server = std::make_unique<sqtest::ControlServer>(root.path().string());
    GetEngineContext()->httpPort = server->port();
    ASSERT_TRUE(ui::CreateBrowserHost());
    const gui::HWND host = ui::Browser().Handle();
    const std::string form = server->url("/form.html");
    ASSERT_TRUE(ui::OpenInBrowser(form.c_str(), "Form", 400, 400));
    ui::Browser().Show();
    ASSERT_TRUE(Shows(form));
    ASSERT_TRUE(sqtest::ClickMiddle(Display().name(), gui::GetNativeWindowId(host)));
    SettleUntil([] { return false; }, 1s);  // the page takes the click and focuses its field
    ASSERT_TRUE(sqtest::TypeText(Display().name(), "level 42\n"));
    EXPECT_TRUE(Shows(server->url("/typed?q=level+42"))) << ui::EmbeddedView(host)->Address();
}

}  // namespace

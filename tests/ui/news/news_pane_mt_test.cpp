// The program's news pane as a user meets it, run in this process on the headless driver: the saved
// feed and a feed fetched at start-up from a local news server shown as tabs and items, tabs picked
// and items clicked, the "refresh_rss" and "add_rss" commands, and the update notice that start-up
// offers and that opens nothing without a yes.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/queue/queue.h"
#include "platform/shell_open.h"
#include "support/http_test_server.h"
#include "support/shell_run.h"
#include "support/tempdir.h"
#include "support/tree_rows.h"
#include "ui/dialogs/urldialog.h"
#include "ui/filelist/file_list.h"
#include "ui/main/shell.h"
#include "ui/news/newsfeed.h"
#include "ui/news/newsview.h"

namespace {

using gui::HWND;
using gui::testing::BoxRecord;
using gui::testing::Driver;
using sqtest::HttpTestServer;
using sqtest::Lines;

constexpr const char* kFeedPath = "/info/rss/?v=1000&e=audio";

std::string Xml(const std::string& body) { return HttpTestServer::Reply(200, body, "Content-Type: text/xml\r\n"); }

std::string WithServer(std::string text, const HttpTestServer& server) {
    for (size_t at; (at = text.find("__SERVER__")) != std::string::npos;) text.replace(at, 10, server.url(""));
    return text;
}

// A feed of the program's own kind, announcing a build for this edition.
std::string AnnouncingFeed(int build, const std::string& stamp = "") {
    return "<rss><channel name=\"Fresh\"><item><title>From the server</title><link>https://example.org/fresh</link>"
           "</item></channel><update edition=\"audio\"><build>" + std::to_string(build) + "</build>" +
           (stamp.empty() ? "" : "<timestamp>" + stamp + "</timestamp>") + "</update></rss>";
}

class NewsPane : public ::testing::Test {
protected:
    NewsPane() {
        platform::SetShellOpenHook([this](const std::string& target) {
            opened.push_back(target);
            return true;
        });
        server.set("/forum.rss", {Xml("<rss><channel><item><title>Forum post</title>"
                                      "<link>https://forum.example/1</link></item></channel></rss>")});
    }
    ~NewsPane() override {
        run.reset();
        platform::SetShellOpenHook(nullptr);
        unsetenv("SONQUILL_NEWS_SERVERS");
    }

    // Makes the program's run with rss.xml in the data folder (none for empty text), with the news
    // server as the deployment's when `useServer`; Launch starts it.
    void Prepare(const std::string& savedFeed, bool useServer, const std::string& prefs = "") {
        if (useServer) setenv("SONQUILL_NEWS_SERVERS", server.url("").c_str(), 1);
        else unsetenv("SONQUILL_NEWS_SERVERS");
        run = std::make_unique<sqtest::ShellRun>(prefs);
        if (!savedFeed.empty()) {
            std::ofstream(run->dataFolder() + "rss.xml", std::ios::binary) << WithServer(savedFeed, server);
        }
    }
    void Launch() {
        ASSERT_EQ(run->Start(""), 0);
        main = ui::Shell().mainHwnd.load();
        tabs = d().Find(main, ui::dlg::main::news_tabs);
        tree = d().Find(main, ui::dlg::main::news_tree);
        ASSERT_NE(tabs, nullptr);
        ASSERT_NE(tree, nullptr);
    }
    void Start(const std::string& savedFeed, bool useServer, const std::string& prefs = "") {
        Prepare(savedFeed, useServer, prefs);
        Launch();
    }
    Driver& d() { return run->driver(); }
    // Start-up's background work (the refresh, the update notice) has ended.
    void WaitForStartup() { ASSERT_TRUE(d().PumpUntil([] { return ui::Shell().startupDone.load(); }, 30000)); }
    std::vector<std::string> Shown() { return Lines(d().TreeViewDump(tree)); }
    void Send(const char* command) { gui::SendMessageA(main, gui::WM_APP, 0, reinterpret_cast<gui::LPARAM>(command)); }

    HttpTestServer server;
    std::unique_ptr<sqtest::ShellRun> run;
    HWND main = nullptr, tabs = nullptr, tree = nullptr;
    std::vector<std::string> opened;
};

std::string SavedFeed() { return sqtest::ReadFile(SQ_TEST_DATA_DIR "/news/program_rss.xml"); }

TEST_F(NewsPane, TheSavedFeedShowsAsTabsAndItemsThatOpenTheirLinks) {
    Start(SavedFeed(), false);
    // The other edition's channel is left out; the extra link has a tab of its own.
    EXPECT_EQ(d().Items(tabs), (std::vector<std::string>{"Releases", "Tips", "Forum"}));
    EXPECT_EQ(Shown(), (std::vector<std::string>{"[Tue, 01 Dec 2026] Version notes", "Local file"}));
    auto rows = sqtest::TreeRows(tree);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(d().HoverTreeItem(tree, rows[0]), "What changed");

    // By keyboard nothing opens; by mouse a web link opens, a local file never.
    d().SelectTreeItem(tree, rows[0], false);
    EXPECT_TRUE(opened.empty());
    d().SelectTreeItem(tree, rows[1], true);
    EXPECT_TRUE(opened.empty());
    d().SelectTreeItem(tree, rows[0], true);
    EXPECT_EQ(opened, std::vector<std::string>{"https://example.org/notes"});

    // Picking a tab shows its items; the link tab's feed comes from the server.
    ASSERT_TRUE(d().PickTab(tabs, 1));
    EXPECT_EQ(Shown(), std::vector<std::string>{"Batch tip"});
    EXPECT_EQ(d().HoverTreeItem(tree, sqtest::TreeRows(tree)[0]), "2 comments");
    ASSERT_TRUE(d().PickTab(tabs, 2));
    ASSERT_TRUE(d().PumpUntil([&] { return Shown() == std::vector<std::string>{"Forum post"}; }, 10000))
        << d().TreeViewDump(tree);
    opened.clear();
    d().SelectTreeItem(tree, sqtest::TreeRows(tree)[0], true);
    EXPECT_EQ(opened, std::vector<std::string>{"https://forum.example/1"});
}

TEST_F(NewsPane, RefreshCommandPicksTheTabItNames) {
    Start(SavedFeed(), false);
    struct Case {
        const char* command;
        int tab;  // the tab selected after it
        const char* firstRow;
    };
    const Case cases[] = {
        {"refresh_rss 1", 1, "Batch tip"},
        {"refresh_rss", 1, "Batch tip"},                      // keeps the selected tab
        {"refresh_rss 2", 0, "[Tue, 01 Dec 2026] Version notes"},  // a link tab falls back to the first
        {"refresh_rss 1", 1, "Batch tip"},
        {"refresh_rss 99", 0, "[Tue, 01 Dec 2026] Version notes"},
        {"refresh_rss x", 0, "[Tue, 01 Dec 2026] Version notes"},
    };
    for (const Case& c : cases) {
        Send(c.command);
        EXPECT_EQ(d().Selection(tabs), std::vector<int>{c.tab}) << c.command;
        const auto rows = Shown();
        ASSERT_FALSE(rows.empty()) << c.command;
        EXPECT_EQ(rows[0], c.firstRow) << c.command;
        EXPECT_EQ(d().Items(tabs).size(), 3u);
    }
}

TEST_F(NewsPane, WithoutAUsableFeedThePaneSaysSoAndTheWindowWorks) {
    const std::string huge(200000, 'x');
    const std::string cases[] = {
        "",                                     // no rss.xml
        "<rss><channel name=\"broken\"><item>",  // a broken document
        "<rss/>",
        "\x01\x02 not xml at all",
    };
    for (const std::string& saved : cases) {
        Start(saved, false);
        EXPECT_TRUE(d().Items(tabs).empty()) << saved;
        EXPECT_EQ(Shown(), std::vector<std::string>{"No news available"}) << saved;
        d().SelectTreeItem(tree, sqtest::TreeRows(tree)[0], true);
        EXPECT_TRUE(opened.empty());
        Send("refresh_rss 0");
        EXPECT_EQ(Shown(), std::vector<std::string>{"No news available"});
        run.reset();
    }
    // A huge channel name and item stay text of bounded length.
    Start("<rss><channel name=\"" + huge + "\"><item><title>" + huge + "</title></item></channel></rss>", false);
    ASSERT_EQ(d().Items(tabs).size(), 1u);
    EXPECT_EQ(d().Items(tabs)[0].size(), ui::kNewsTextLimit);
    EXPECT_EQ(Shown(), std::vector<std::string>{std::string(ui::kNewsTextLimit, 'x')});
}

TEST_F(NewsPane, StartUpFetchesTheFeedAndOffersTheUpdateOnlyOnce) {
    struct Case {
        const char* what;
        int build;
        const char* prefs;
        int answer;  // the user's answer to the notice (0: no notice expected)
        bool opens;
    };
    const Case cases[] = {
        {"yes opens the update page", 5508, "", gui::IDYES, true},
        {"no opens nothing", 5508, "", gui::IDNO, false},
        {"an ignored build gives no notice", 5508, "<node key=\"overall.generic.ignoredBuild\">5508</node>", 0, false},
        {"silenced notices open nothing by themselves", 5508, "<node key=\"overall.ui.noWelcome\">5508</node>", 0,
         false},
        {"no newer build gives no notice", 1000, "", 0, false},
    };
    for (const Case& c : cases) {
        opened.clear();
        server.set(kFeedPath, {Xml(AnnouncingFeed(c.build))});
        Prepare(SavedFeed(), true, c.prefs);
        // The driver answers the notice once start-up shows it; any other box fails the test.
        if (c.answer) {
            d().ExpectBox(
                [](const BoxRecord& box) {
                    return box.caption == "Confirm" && (box.type & gui::MB_YESNO) && (box.type & gui::MB_ICONQUESTION);
                },
                c.answer);
        }
        Launch();
        WaitForStartup();
        // The start page was asked for with the program's edition.
        const auto requests = server.requests();
        EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [](const std::string& r) {
            return r.rfind("GET /info/start/?v=1000&e=audio ", 0) == 0;
        })) << c.what;
        // The fetched feed replaced the saved one in the pane.
        EXPECT_EQ(d().Items(tabs), std::vector<std::string>{"Fresh"}) << c.what;
        EXPECT_EQ(Shown(), std::vector<std::string>{"From the server"}) << c.what;
        EXPECT_EQ(d().Boxes().size(), c.answer ? 1u : 0u) << c.what;
        ASSERT_EQ(opened.size(), c.opens ? 1u : 0u) << c.what;
        if (c.opens) {
            EXPECT_EQ(opened[0].rfind(server.url("/update/?p="), 0), 0u) << opened[0];
        }
        // The fetched feed is kept for the next start, stamped with this hour.
        ASSERT_EQ(run->Finish(), 0);
        const std::string kept = sqtest::ReadFile(run->dataFolder() + "rss.xml");
        EXPECT_NE(kept.find("From the server"), std::string::npos) << c.what;
        EXPECT_NE(kept.find("<timestamp>" + std::to_string(CurrentNewsStamp()) + "</timestamp>"), std::string::npos);
        run.reset();
    }
}

TEST_F(NewsPane, AFeedFetchedThisHourIsNotFetchedAgain) {
    server.set(kFeedPath, {Xml(AnnouncingFeed(1000))});
    Start(AnnouncingFeed(1000, std::to_string(CurrentNewsStamp())), true);
    WaitForStartup();
    for (const std::string& request : server.requests())
        EXPECT_EQ(request.find("/info/rss/"), std::string::npos) << request;
    EXPECT_EQ(Shown(), std::vector<std::string>{"From the server"});  // the saved copy
}

TEST_F(NewsPane, AddFeedQueuesTheNetworkLinksOfItsItems) {
    server.set("/list.rss",
               {Xml("<rss><channel><item><title>Show one</title><link>http://media.example/one.mp3</link></item>"
                    "<item><title>Local</title><link>/etc/passwd</link></item>"
                    "<item><title>File</title><link>file:///etc/shadow</link></item>"
                    "<item><title>Nested</title><link>https://media.example/more.rss</link></item>"
                    "<item><link>rtsp://media.example/live</link></item></channel>"
                    "<channel><item><title>Second channel</title><link>https://media.example/two.ogg</link></item>"
                    "</channel></rss>")});
    server.set("/gone.rss", {HttpTestServer::Reply(404, "<rss><channel><item><link>http://x/y</link></item></channel></rss>",
                                                   "Content-Type: text/xml\r\n")});
    struct Case {
        std::string address;
        std::vector<std::string> names;  // the rows added, as the list shows them
    };
    Start("", false);
    const Case cases[] = {
        {server.url("/list.rss"), {"Show one", "Nested", "rtsp://media.example/live", "Second channel"}},
        {server.url("/gone.rss"), {}},
        {server.url("/missing.rss"), {}},
        {"http://127.0.0.1:1/refused.rss", {}},
    };
    for (const Case& c : cases) {
        const int before = QueueCount();
        d().OnModal(ui::dlg::url::id, [&](Driver& dd, HWND h) {
            dd.SetTextAsUser(dd.Find(h, 1090), c.address);
            dd.Click(dd.Find(h, gui::IDOK));
        });
        Send("add_rss");
        d().Pump();
        auto names = run->column(ui::kColName);
        names.erase(names.begin(), names.begin() + before);
        EXPECT_EQ(names, c.names) << c.address;
        EXPECT_EQ(d().StatusTexts(d().Find(main, 1170))[0], std::to_string(QueueCount()) + " queued");
        EXPECT_EQ(d().Text(main), ui::TitleText(nullptr));
    }
}

}  // namespace

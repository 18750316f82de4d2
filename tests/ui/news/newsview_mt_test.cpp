// The news view as the main window uses it: tabs and tree filled from a feed file and from a
// linked feed a worker fetches from a local server; selections and tips as the user makes and
// sees them; and hostile feed content that must neither break the view nor leave the program.
#include "ui/news/newsview.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "platform/gui/gui_fixture.h"
#include "platform/shell_open.h"
#include "support/http_test_server.h"
#include "support/tree_rows.h"
#include "ui/news/newsfeed.h"

namespace {

using gui::HWND;

using sqtest::Lines;

class NewsView : public sqtest::GuiTest {
protected:
    void SetUp() override {
        platform::SetShellOpenHook([this](const std::string& target) {
            opened.push_back(target);
            return true;
        });
        parent = MakeWindow();
        tabs = gui::CreateWindowExA(0, gui::kTabClass, "", gui::WS_CHILD | gui::WS_VISIBLE, 0, 0, 300, 20, parent,
                                    reinterpret_cast<gui::HMENU>(1051), nullptr, nullptr);
        tree = gui::CreateWindowExA(0, gui::kTreeViewClass, "", gui::WS_CHILD | gui::WS_VISIBLE | gui::TVS_INFOTIP, 0,
                                    20, 300, 180, parent, reinterpret_cast<gui::HMENU>(1001), nullptr, nullptr);
        view.Attach(tabs, tree);
        // The parent hands the tabs' and the tree's notifications on as the main window does.
        log.handler = [this](HWND, gui::UINT msg, gui::WPARAM, gui::LPARAM lp, bool& handled) -> gui::INT_PTR {
            if (msg == gui::WM_NOTIFY) handled = view.OnNotify(reinterpret_cast<gui::NMHDR*>(lp));
            return 0;
        };
    }
    void TearDown() override {
        log.handler = nullptr;
        platform::SetShellOpenHook(nullptr);
        gui::DestroyWindow(parent);
    }
    void Load(const std::string& xml) {
        ASSERT_EQ(feed.document.Read(xml.c_str(), static_cast<int>(xml.size())), 0);
        ASSERT_TRUE(ParseNewsFeed(feed, "std"));
    }
    std::vector<gui::HTREEITEM> Rows() { return sqtest::TreeRows(tree); }
    void WaitForWorker() { EXPECT_TRUE(drv.PumpUntil([this] { return !view.Fetching(); }, 10000)); }

    NewsFeed feed;
    ui::CNewsView view{feed};
    HWND parent = nullptr, tabs = nullptr, tree = nullptr;
    std::vector<std::string> opened;
};

TEST_F(NewsView, ChannelsAndLinkedFeedsFromFileAndServer) {
    sqtest::HttpTestServer server;
    server.set("/forum.rss", {sqtest::HttpTestServer::Reply(
                                 200, "<rss><channel><item><title>Reply</title><link>https://f.example/1</link>"
                                      "<comments>3</comments></item></channel></rss>",
                                 "Content-Type: text/xml\r\n")});
    ASSERT_EQ(feed.document.Open(SQ_TEST_DATA_DIR "/news/feed.xml"), 0);
    {
        // The forum tab points at the local server.
        ASSERT_TRUE(ParseNewsFeed(feed, "std"));
        std::lock_guard lk(feed.mutex);
        feed.externalLinks[0].link = server.url("/forum.rss");
    }
    view.FillNewsTabs(-1);
    EXPECT_EQ(drv.Items(tabs), (std::vector<std::string>{"News", "Channel 2", "Forum", "Wiki"}));
    const auto rows = Lines(drv.TreeViewDump(tree));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].substr(0, 1), "[");
    EXPECT_NE(rows[0].find("] First"), std::string::npos);
    EXPECT_EQ(rows[1], "[Tue, 01 Dec 2026] Plain & simple");
    EXPECT_EQ(drv.HoverTreeItem(tree, Rows()[0]), "Line one\nLine two");

    // The user picks the first item by mouse: its link opens; by keyboard nothing opens.
    drv.SelectTreeItem(tree, Rows()[1], false);
    EXPECT_TRUE(opened.empty());
    drv.SelectTreeItem(tree, Rows()[0], true);
    EXPECT_EQ(opened, std::vector<std::string>{"https://example.org/1"});

    // The forum's feed is fetched by the worker and shown.
    drv.PickTab(tabs, 2);
    WaitForWorker();
    EXPECT_EQ(drv.TreeViewDump(tree), "Reply\n");
    EXPECT_EQ(drv.HoverTreeItem(tree, Rows()[0]), "3 comments");
    // Refilled tabs keep a channel tab; a link tab falls back to the first.
    view.FillNewsTabs(1);
    EXPECT_EQ(view.ShownTab(), 1);
    view.FillNewsTabs(3);
    EXPECT_EQ(view.ShownTab(), 0);
}

TEST_F(NewsView, HostileContentStaysTextAndNeverLeavesTheProgram) {
    const std::string huge(100000, 'x');
    struct Case {
        std::string title;
        std::string link;
        std::string row;  // what the tree shows
        bool opens;
    };
    const Case cases[] = {
        {"<![CDATA[<script>alert(1)</script>]]>", "https://ok.example/", "<script>alert(1)</script>", true},
        {"tab\tand &amp; entity", "javascript:alert(1)", "tab\tand & entity", false},
        {"run", "$(touch /tmp/sq-news-pwned)", "run", false},
        {"file", "file:///etc/passwd", "file", false},
        {"shell", "https://x.example/;rm -rf ~", "shell", true},  // a web address: handed over as one argument
        {huge, "", std::string(ui::kNewsTextLimit, 'x'), false},
    };
    std::string xml = "<rss><channel name=\"" + huge + "\">";
    for (const auto& c : cases) xml += "<item><title>" + c.title + "</title><link>" + c.link + "</link></item>";
    xml += "</channel><ext id=\"bad\" name=\"Broken\"><link>__URL__</link></ext></rss>";
    sqtest::HttpTestServer server;
    server.set("/broken.rss", {sqtest::HttpTestServer::Reply(200, "<<<\x01 not a feed", "Content-Type: text/xml\r\n")});
    xml.replace(xml.find("__URL__"), 7, server.url("/broken.rss"));
    Load(xml);

    view.FillNewsTabs(-1);
    const auto tabNames = drv.Items(tabs);
    ASSERT_EQ(tabNames.size(), 2u);
    EXPECT_EQ(tabNames[0].size(), ui::kNewsTextLimit);
    const auto rows = Lines(drv.TreeViewDump(tree));
    const auto handles = Rows();
    ASSERT_EQ(rows.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(rows[i], cases[i].row) << i;
        opened.clear();
        drv.SelectTreeItem(tree, handles[i], true);
        EXPECT_EQ(opened.size(), cases[i].opens ? 1u : 0u) << cases[i].link;
        if (cases[i].opens) {
            EXPECT_EQ(opened[0], cases[i].link);
        }
    }
    // A broken linked document shows nothing; the view goes on working.
    view.ShowNewsTab(1);
    WaitForWorker();
    EXPECT_EQ(drv.TreeViewDump(tree), "");
    view.ShowNewsTab(0);
    EXPECT_EQ(Lines(drv.TreeViewDump(tree)).size(), std::size(cases));
}

}  // namespace

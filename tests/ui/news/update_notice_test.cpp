// The update notice after a real refresh from a local news server: when the user is asked, what
// the answer opens, and that nothing is opened without a yes.
#include "ui/news/update_notice.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/prefs/prefstore.h"
#include "platform/gui/driver.h"
#include "platform/shell_open.h"
#include "support/http_test_server.h"
#include "support/pref_builder.h"
#include "support/tempdir.h"
#include "ui/news/newsfeed.h"

namespace {

using gui::testing::BoxRecord;
using gui::testing::Driver;

class UpdateNotice : public ::testing::Test {
protected:
    UpdateNotice() {
        sqtest::PrefBuilder prefs(GetPrefStore());
        prefs.Add("overall.generic.ignoredBuild", kPrefInt, "0");
        prefs.Add("overall.ui.noWelcome", kPrefInt, "0");
        driver = std::make_unique<Driver>([](const std::string& what) { ADD_FAILURE() << what; });
        platform::SetShellOpenHook([this](const std::string& target) {
            opened.push_back(target);
            return true;
        });
    }
    ~UpdateNotice() override {
        platform::SetShellOpenHook(nullptr);
        driver.reset();
    }
    // Refreshes the feed from the local server, which announces the build with the site.
    void Announce(int build, const std::string& site) {
        const std::string feed = "<rss><channel name=\"n\"><item><title>t</title></item></channel>"
                                 "<update edition=\"std\"><build>" + std::to_string(build) + "</build><site>" + site +
                                 "</site></update></rss>";
        server.set("/info/rss/?v=1000&e=std",
                   {sqtest::HttpTestServer::Reply(200, feed, "Content-Type: text/xml\r\n")});
        ConfigureNews({{server.url(""), ""}, data.path().string(), "std", "", 1000, nullptr});
        // Parsed once before, so the announced site becomes the base of the update page.
        ASSERT_TRUE(RefreshNewsFeed(kNewsFetchFeed).has_value());
        ASSERT_TRUE(RefreshNewsFeed(kNewsFetchFeed).has_value());
    }

    sqtest::HttpTestServer server;
    sqtest::TempDir data;
    std::unique_ptr<Driver> driver;
    std::vector<std::string> opened;
};

TEST_F(UpdateNotice, AsksOnceAnUpdateIsAnnouncedAndOpensThePageOnlyOnYes) {
    struct Case {
        int build, ignored, noWelcome;
        const char* site;
        int answer;    // the user's answer to the box
        bool asked;
        bool opens;
    };
    const Case cases[] = {
        {5508, 5507, 0, "https://updates.example", gui::IDYES, true, true},
        {5508, 5507, 0, "https://updates.example", gui::IDNO, true, false},
        {5508, 5508, 0, "https://updates.example", gui::IDYES, false, false},     // the build is ignored
        {5508, 5507, 5508, "https://updates.example", gui::IDYES, false, false},  // notices silenced: nothing by itself
        {5508, 5507, 5507, "https://updates.example", gui::IDYES, true, true},
        {1000, 0, 0, "https://updates.example", gui::IDYES, false, false},        // not newer than this build
        {5508, 5507, 0, "file:///usr/bin", gui::IDYES, true, false},              // not a web address
    };
    for (const auto& c : cases) {
        opened.clear();
        GetPrefStore().SetInt("overall.generic.ignoredBuild", c.ignored);
        GetPrefStore().SetInt("overall.ui.noWelcome", c.noWelcome);
        Announce(c.build, c.site);
        const size_t boxesBefore = driver->Boxes().size();
        if (c.asked) {
            driver->ExpectBox(
                [](const BoxRecord& box) {
                    return box.caption == "Confirm" && (box.type & gui::MB_YESNO) && (box.type & gui::MB_ICONQUESTION);
                },
                c.answer);
        }
        EXPECT_EQ(ui::AskAboutUpdate(nullptr, 8080), c.opens) << c.build << "/" << c.ignored << "/" << c.noWelcome;
        EXPECT_EQ(driver->Boxes().size() - boxesBefore, c.asked ? 1u : 0u) << c.build << "/" << c.noWelcome;
        ASSERT_EQ(opened.size(), c.opens ? 1u : 0u);
        if (c.opens) {
            EXPECT_EQ(opened[0], std::string(c.site) + "/update/?p=8080&ver=1.0.0&build=1000");
            EXPECT_FALSE(IsUpdatePending());
            EXPECT_FALSE(ui::AskAboutUpdate(nullptr, 8080));  // asked once per announcement
        }
    }
}

}  // namespace

#include "ui/news/newsfeed.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/shell_open.h"
#include "support/http_test_server.h"
#include "support/pref_builder.h"
#include "support/tempdir.h"

namespace {

std::string Today() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%02d", local.tm_mon + 1, local.tm_mday);
    return text;
}

bool ParseText(NewsFeed& feed, const std::string& xml, const char* edition) {
    if (feed.document.Read(xml.c_str(), static_cast<int>(xml.size())) != 0) return false;
    return ParseNewsFeed(feed, edition);
}

TEST(NewsFeedParse, ReadsTheShippedFormFromAFile) {
    NewsFeed feed;
    ASSERT_EQ(feed.document.Open(SQ_TEST_DATA_DIR "/news/feed.xml"), 0);
    ASSERT_TRUE(ParseNewsFeed(feed, "std"));

    ASSERT_EQ(feed.channels.size(), 2u);  // the "pro" channel is another edition's
    EXPECT_EQ(feed.channels[0].name, "News");
    EXPECT_EQ(feed.channels[1].name, "Channel 2");
    ASSERT_EQ(feed.channels[0].items.size(), 2u);
    const NewsItem& first = feed.channels[0].items[0];
    EXPECT_EQ(first.title, "First");
    EXPECT_EQ(first.link, "https://example.org/1");
    EXPECT_EQ(first.date, Today());
    EXPECT_EQ(first.comments, 7);
    EXPECT_EQ(first.description, "Line one\nLine two");
    EXPECT_EQ(feed.channels[0].items[1].title, "Plain & simple");

    ASSERT_EQ(feed.externalLinks.size(), 2u);
    EXPECT_EQ(feed.externalLinks[1].id, "wiki");
    EXPECT_EQ(feed.externalLinks[1].link, "https://example.org/wiki");
    EXPECT_EQ(feed.update.build, 5508);
    EXPECT_EQ(feed.update.site, "https://example.org");
    EXPECT_EQ(feed.update.splashUrl, "https://example.org/splash.jpg");
    ASSERT_EQ(feed.wizards.size(), 2u);
    EXPECT_EQ(feed.wizards[0].name, "Start");
    EXPECT_EQ(feed.wizards[1].link, "w/rip");

    ConfigureNews({{"http://base.example", ""}, "", "std", "", 1000, nullptr});
    EXPECT_EQ(feed.GetLink("referral", "none"), "http://base.example/refer/?from=app");
    EXPECT_EQ(feed.GetLink("home", "none"), "https://example.org/home");
    EXPECT_EQ(feed.GetLink("x' or '1'='1", "none"), "none");
}

TEST(NewsFeedParse, ChannelLimitAtomEntriesAndEmptyDocuments) {
    NewsFeed feed;
    std::string many = "<rss>";
    for (int i = 0; i < 11; ++i) many += "<channel name=\"c" + std::to_string(i) + "\"/>";
    many += "</rss>";
    ASSERT_TRUE(ParseText(feed, many, "std"));
    ASSERT_EQ(feed.channels.size(), 10u);
    EXPECT_EQ(feed.channels[9].name, "c9");

    const std::string atom =
        "<feed xmlns:gd=\"http://schemas.google.com/g/2005\">"
        "<entry><title>A</title><link type=\"text/plain\" href=\"no\"/>"
        "<link type=\"text/html\" href=\"https://a\"/><published>2026-01-02</published>"
        "<gd:comments><gd:feedLink countHint=\"4\"/></gd:comments><content>x<br/>y</content></entry>"
        "<entry><title>B</title></entry></feed>";
    ASSERT_TRUE(ParseText(feed, atom, "std"));
    ASSERT_EQ(feed.channels.size(), 1u);
    ASSERT_EQ(feed.channels[0].items.size(), 2u);
    EXPECT_EQ(feed.channels[0].items[0].link, "https://a");
    EXPECT_EQ(feed.channels[0].items[0].comments, 4);
    EXPECT_EQ(feed.channels[0].items[0].description, "xy");
    EXPECT_EQ(feed.channels[0].items[1].title, "B");

    EXPECT_FALSE(ParseText(feed, "<rss/>", "std"));
    EXPECT_TRUE(feed.channels.empty());
}

TEST(NewsFeedParse, AReaderHoldingTheListsKeepsThem) {
    NewsFeed feed;
    ASSERT_TRUE(ParseText(feed, "<rss><channel name=\"kept\"/></rss>", "std"));
    ASSERT_EQ(feed.document.Read("<rss><channel name=\"new\"/></rss>"), 0);
    std::unique_lock reader(feed.mutex);
    bool parsed = true;
    std::thread parser([&] { parsed = ParseNewsFeed(feed, "std"); });
    parser.join();  // gives up after its 3 s wait
    EXPECT_FALSE(parsed);
    ASSERT_EQ(feed.channels.size(), 1u);
    EXPECT_EQ(feed.channels[0].name, "kept");
}

TEST(NewsFeedText, DescriptionsAndDates) {
    const std::pair<std::string, std::string> descriptions[] = {
        {"<p>a</p>\r\n", "a"},
        // After a line feed the next character stays and the line ends following it go.
        {"a\n\r\n\r\nb", "a\n\rb"},
        {"one\ntwo\r\n\nthree", "one\ntwo\r\n\nthree"},
        {"a\nb\r\n\nc", "a\nbc"},
        {"text <unterminated", "text "},
        {"", ""},
    };
    for (const auto& [in, out] : descriptions) EXPECT_EQ(CleanNewsDescription(in), out) << in;

    const std::pair<const char*, uint32_t> dates[] = {
        {"Wed, 21 Oct 2015 07:28:00 GMT", 20151021},
        {"Mon, 01 Dec 2026 00:00:00 GMT", 20261201},
        {"Mon, 5 Xyz 2024 00:00:00 GMT", 20240105},
        {"Mon, 09 Feb 24 00:00:00 GMT", 20240209},
        {"garbage", 20091201},
        {nullptr, 20091201},
    };
    for (const auto& [in, out] : dates) EXPECT_EQ(ParseNewsDate(in), out) << (in ? in : "null");
}

std::string FeedReply(const std::string& body, const char* lastModified,
                      const char* type = "application/rss+xml") {
    std::string headers = std::string("Content-Type: ") + type + "\r\n";
    if (lastModified) headers += std::string("Last-Modified: ") + lastModified + "\r\n";
    return sqtest::HttpTestServer::Reply(200, body, headers);
}

std::string FeedWithBuild(const std::string& build, const std::string& splashUrl = "") {
    return "<rss><channel name=\"n\"><item><title>t</title></item></channel>"
           "<update edition=\"std\"><build>" + build + "</build>" +
           (splashUrl.empty() ? "" : "<splash url=\"" + splashUrl + "\"/>") + "</update></rss>";
}

class NewsRefresh : public ::testing::Test {
protected:
    void SetUp() override {
        sqtest::PrefBuilder prefs(GetPrefStore());
        prefs.Add("overall.generic.ignoredBuild", kPrefInt, "5507");
    }
    void Configure() {
        ConfigureNews({{first.url(""), second.url("")}, data.path().string(), "std", "", 1000,
                       [this](const char* command) { posted += command; }});
    }
    static constexpr const char* kFeedPath = "/info/rss/?v=1000&e=std";
    sqtest::HttpTestServer first;
    sqtest::HttpTestServer second;
    sqtest::TempDir data;
    std::string posted;
};

TEST_F(NewsRefresh, AQuickFirstAnswerLeavesTheSecondServerAlone) {
    first.set(kFeedPath, {FeedReply(FeedWithBuild("5508"), nullptr)});
    Configure();
    auto winner = RefreshNewsFeed(kNewsFetchFeed);
    ASSERT_TRUE(winner.has_value());
    EXPECT_EQ(winner->baseUrl, first.url(""));
    EXPECT_EQ(winner->date, 20091201u);
    EXPECT_TRUE(second.requests().empty());
    EXPECT_EQ(posted, "refresh_rss");
    EXPECT_TRUE(IsUpdatePending());  // 5508 is above the ignored 5507
    EXPECT_TRUE(SaveNewsFeedIfFetched());
    EXPECT_NE(sqtest::ReadFile(data.file("rss.xml")).find("<timestamp>"), std::string::npos);
}

TEST_F(NewsRefresh, TheNewestAnswerWinsAndTheIgnoredBuildGivesNoNotice) {
    struct Case {
        const char* firstDate;
        const char* secondDate;
        bool secondWins;
    };
    const Case cases[] = {
        {"Mon, 01 Dec 2025 00:00:00 GMT", "Tue, 02 Dec 2025 00:00:00 GMT", true},
        {"Tue, 02 Dec 2025 00:00:00 GMT", "Tue, 02 Dec 2025 00:00:00 GMT", false},
        {nullptr, "Mon, 01 Dec 2014 00:00:00 GMT", true},  // no date counts as 2009-12-01
    };
    for (const auto& c : cases) {
        // The first answers late (after 1.5 s), so the second is asked too.
        std::string late = FeedReply(FeedWithBuild("5507"), c.firstDate);
        first.set(kFeedPath, {late, late.size() / 2 + 1, 1500});
        second.set(kFeedPath, {FeedReply(FeedWithBuild("5507"), c.secondDate)});
        Configure();
        auto winner = RefreshNewsFeed(kNewsFetchFeed);
        ASSERT_TRUE(winner.has_value());
        EXPECT_EQ(winner->baseUrl, c.secondWins ? second.url("") : first.url(""));
        EXPECT_EQ(NewsBaseUrl(), winner->baseUrl);
        EXPECT_FALSE(IsUpdatePending());
    }
}

TEST_F(NewsRefresh, UnusableAnswersAreNotWinners) {
    struct Case {
        std::string reply;
        bool answered;
    };
    const Case cases[] = {
        {FeedReply(FeedWithBuild("6000"), nullptr, "text/html"), false},
        {sqtest::HttpTestServer::Reply(200, FeedWithBuild("6000")), false},  // no content type
        {sqtest::HttpTestServer::Reply(404, "gone"), false},
        {"HTTP/1.1 302 Found\r\nLocation: /moved\r\nContent-Length: 0\r\n\r\n", true},
    };
    for (const auto& c : cases) {
        first.set(kFeedPath, {c.reply});
        first.set("/moved", {FeedReply(FeedWithBuild("6000"), nullptr)});
        second.set(kFeedPath, {sqtest::HttpTestServer::Reply(404, "")});
        Configure();
        auto winner = RefreshNewsFeed(kNewsFetchFeed);
        EXPECT_EQ(winner.has_value(), c.answered) << c.reply;
    }
}

TEST_F(NewsRefresh, TheSplashIsRenewedAndAFailedDownloadLeavesNone) {
    const std::string splash = data.write("splash.jpg", "old");
    ASSERT_EQ(chmod(splash.c_str(), 0444), 0);
    first.set("/splash.jpg", {sqtest::HttpTestServer::Reply(200, "JPEGDATA")});
    first.set(kFeedPath, {FeedReply(FeedWithBuild("5508", first.url("/splash.jpg")), nullptr)});
    Configure();
    ASSERT_TRUE(RefreshNewsFeed(kNewsFetchFeed).has_value());
    EXPECT_EQ(sqtest::ReadFile(splash), "JPEGDATA");

    first.set(kFeedPath, {FeedReply(FeedWithBuild("5508", first.url("/missing.jpg")), nullptr)});
    ASSERT_TRUE(RefreshNewsFeed(kNewsFetchFeed).has_value());
    EXPECT_FALSE(std::filesystem::exists(splash));
}

TEST_F(NewsRefresh, ConfiguringStartsAfreshAndTheDeploymentNamesTheServers) {
    first.set(kFeedPath, {FeedReply(FeedWithBuild("5508"), nullptr)});
    Configure();
    ASSERT_TRUE(RefreshNewsFeed(kNewsFetchFeed).has_value());
    ASSERT_TRUE(IsUpdatePending());
    ASSERT_FALSE(GetNewsFeed().channels.empty());
    Configure();  // the same servers: the winner stays the base
    EXPECT_EQ(NewsBaseUrl(), first.url(""));
    EXPECT_FALSE(IsUpdatePending());
    EXPECT_FALSE(GetNewsFeed().fetched);
    EXPECT_TRUE(GetNewsFeed().channels.empty());
    EXPECT_FALSE(SaveNewsFeedIfFetched());

    struct Case {
        const char* env;  // null: unset
        const char* servers[2];
    };
    const Case cases[] = {
        {nullptr, {"", ""}},
        {"  ", {"", ""}},
        {"http://one.example/", {"http://one.example", ""}},
        {" http://one.example\thttp://two.example/x ", {"http://one.example", "http://two.example/x"}},
        {"http://a http://b http://c", {"http://a", "http://b"}},
    };
    for (const Case& c : cases) {
        const std::string env = c.env ? c.env : "";
        if (c.env) setenv("SONQUILL_NEWS_SERVERS", env.c_str(), 1);
        else unsetenv("SONQUILL_NEWS_SERVERS");
        ConfigureNews({{"", ""}, data.path().string(), "std", "", 1000, nullptr});
        EXPECT_EQ(NewsBaseUrl(), c.servers[0]) << env;
        std::string servers[2];
        DeploymentNewsServers(servers);
        EXPECT_EQ(servers[0], c.servers[0]) << env;
        EXPECT_EQ(servers[1], c.servers[1]) << env;
    }
    unsetenv("SONQUILL_NEWS_SERVERS");
}

TEST(NewsLinks, OnlyWebAddressesFromTheFeedAreOpened) {
    std::vector<std::string> opened;
    platform::SetShellOpenHook([&](const std::string& target) {
        opened.push_back(target);
        return true;
    });
    NewsFeed& feed = GetNewsFeed();
    ConfigureNews({{"http://base.example", ""}, "", "std", "", 1000, nullptr});
    ASSERT_EQ(feed.document.Read("<rss><links><link id=\"referral\" link=\"file:///etc/passwd\"/></links></rss>"), 0);
    EXPECT_FALSE(OpenReferralLink());
    ASSERT_EQ(feed.document.Read("<rss><links><link id=\"referral\" link=\"go/here\"/></links></rss>"), 0);
    EXPECT_TRUE(OpenReferralLink());
    EXPECT_TRUE(OpenUpdatePage(8080));
    platform::SetShellOpenHook(nullptr);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], "http://base.example/go/here");
    EXPECT_EQ(opened[1].rfind("/update/?p=8080&ver=1.0.0&build=1000"), opened[1].size() - 36);
    EXPECT_FALSE(IsUpdatePending());
}

}  // namespace

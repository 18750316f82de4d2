// The news feed: an RSS document (Atom entries too) with a few program nodes (update notice,
// named links, wizards), cached as "rss.xml" in the data folder and refreshed from two alternative
// servers in parallel, the newest answer winning. User feeds go through the same parser.
//
// Lock order: NewsFeed::mutex guards the lists against the news view while a parse rebuilds them;
// nothing else is held while it is taken.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/xml.h"
#include "platform/sync.h"

struct NewsItem {
    std::string title;
    std::string link;
    std::string date;
    std::string description;
    int comments = 0;
};

struct NewsChannel {
    std::string name;
    std::vector<NewsItem> items;  // in document order
};

struct NewsLink {
    std::string id;
    std::string name;
    std::string link;
};

struct NewsWizard {
    std::string name;
    std::string link;
};

struct UpdateFacts {
    int build = 0;
    int timestamp = 0;
    std::string site;
    std::string splashLink;
    std::string splashUrl;
};

inline constexpr size_t kMaxNewsChannels = 10;

class NewsFeed {
public:
    // The "link" attribute of /rss/links/link[@id=id]; a link without "://" gets the base URL put
    // in front. defaultLink when there is no such node.
    std::string GetLink(const char* id, const char* defaultLink);

    CXML document;
    std::vector<NewsChannel> channels;
    std::vector<NewsLink> externalLinks;
    std::vector<NewsWizard> wizards;
    UpdateFacts update;
    platform::RecursiveMutex mutex;  // held while the lists are rebuilt or read (NewsFeedLock)
    std::atomic<bool> fetched{false};  // a fetched feed was parsed: save it at exit
};

// Holds a feed's lock for a scope when it can be taken within timeoutMs (on the UI thread the
// wait serves calls sent to it).
class NewsFeedLock {
public:
    explicit NewsFeedLock(platform::RecursiveMutex& feedMutex, uint32_t timeoutMs = 3000)
        : mutex_(feedMutex), owns_(feedMutex.lockFor(timeoutMs)) {}
    ~NewsFeedLock() {
        if (owns_) mutex_.unlock();
    }
    NewsFeedLock(const NewsFeedLock&) = delete;
    NewsFeedLock& operator=(const NewsFeedLock&) = delete;
    bool owns() const { return owns_; }

private:
    platform::RecursiveMutex& mutex_;
    bool owns_;
};

// The program's own feed.
NewsFeed& GetNewsFeed();

// Rebuilds the feed's lists from its document. Channels whose "edition" differs from edition are
// skipped (edition null: none skipped). False when the document has no content, or when the lists
// are still being read after 3 s (they are then left as they were).
bool ParseNewsFeed(NewsFeed& feed, const char* edition);

// Removes tags, cuts trailing line ends, and after each line feed keeps the next character and
// drops any CR or LF that follows it.
std::string CleanNewsDescription(const std::string& text);

// The YYYYMMDD of an HTTP date ("Wed, 21 Oct 2015 07:28:00 GMT"); 20091201 for none.
uint32_t ParseNewsDate(const char* text);

// One alternative server of a refresh.
struct FeedServer {
    std::string baseUrl;
    uint32_t completionTick = 0;  // 0: no answer
    uint32_t date = 0;            // YYYYMMDD of the answer
    std::string body;
    uint16_t attempts = 1;
    uint16_t requestFlags = 0;
};

// Refresh flags.
enum : int {
    kNewsStartPage = 1,  // fetch the start page (short waits)
    kNewsFetchFeed = 2,  // load the answer into the feed
};

// What the refresh needs from the program; set once at start-up.
struct NewsSettings {
    std::string serverUrls[2];      // both empty: the deployment's (SONQUILL_NEWS_SERVERS)
    std::string dataFolder;         // "rss.xml" and "splash.jpg" live here
    std::string edition;            // the program's edition text
    std::string languageSuffix;     // "/zh" for Chinese, else empty
    int build = 1000;
    std::function<void(const char* command)> postUiCommand;  // posts a UI command to the main window
};
// Starts the news state afresh with the settings: the base URL becomes the first server's (unless
// it is already one of theirs), the update notice and the "fetched" mark are cleared, and the
// program's feed is emptied.
void ConfigureNews(NewsSettings settings);

// The news servers of this deployment: up to two base addresses separated by blanks in the
// environment variable SONQUILL_NEWS_SERVERS (none when unset).
void DeploymentNewsServers(std::string (&servers)[2]);

// Fetches from the servers and, with kNewsFetchFeed, loads the newest answer into the program's
// feed. The winning server, or none (no answer, or a refresh already running).
std::optional<FeedServer> RefreshNewsFeed(int flags);

// The base URL of the last winning server (relative feed links and the update page use it).
std::string NewsBaseUrl();

// The body of an HTTP GET answered with a 2xx status, or empty text on failure.
std::string FetchText(const std::string& url);

// Fetches a feed the user named (or a news tab links to) and parses it in a feed of its own: the
// items of all its channels in document order. Empty when it cannot be fetched or is no feed.
std::vector<NewsItem> ReadLinkedFeed(const std::string& url);

// Loads "rss.xml" from the data folder into the program's feed and parses it.
bool LoadNewsFeed();
// Saves the program's feed as "rss.xml" when a fetched feed was parsed. True when saved.
bool SaveNewsFeedIfFetched();

// The stamp of the program's feed (the update's first "timestamp"; 0 without one), and the stamp a
// feed fetched now gets: the local day of the year times 100 plus the hour.
int NewsStamp();
int CurrentNewsStamp();

bool IsUpdatePending();
// The build the last fetched feed announced for this edition (0: none).
int AnnouncedBuild();
// Opens the update page in the browser and clears the update notice.
bool OpenUpdatePage(int httpPort);
// Opens the feed's "referral" link when it has one.
bool OpenReferralLink();

#include "ui/news/newsfeed.h"

#include <libxml/tree.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <sstream>
#include <thread>

#include "common/http.h"
#include "engine/prefs/prefstore.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/shell_open.h"
#include "platform/sync.h"

namespace {

using namespace std::chrono_literals;

std::string TextOf(xmlNode* node) {
    if (!node) return {};
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    if (content) xmlFree(content);
    return text;
}

std::string AttrOf(xmlNode* node, const char* name) {
    xmlChar* value = node ? xmlGetProp(node, reinterpret_cast<const xmlChar*>(name)) : nullptr;
    std::string text = value ? reinterpret_cast<const char*>(value) : "";
    if (value) xmlFree(value);
    return text;
}

bool NameIs(xmlNode* node, const char* name) {
    return node && node->type == XML_ELEMENT_NODE &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

// Element names with a namespace prefix ("gd:comments") are matched with the prefix.
bool QualifiedNameIs(xmlNode* node, const char* prefix, const char* name) {
    if (!NameIs(node, name)) return false;
    const char* nsPrefix = node->ns && node->ns->prefix ? reinterpret_cast<const char*>(node->ns->prefix) : "";
    return std::strcmp(nsPrefix, prefix) == 0;
}

xmlNode* FirstElement(xmlNode* node) {
    for (; node; node = node->next) {
        if (node->type == XML_ELEMENT_NODE) return node;
    }
    return nullptr;
}

xmlNode* FirstChildNamed(xmlNode* parent, const char* name) {
    for (xmlNode* c = parent ? parent->children : nullptr; c; c = c->next) {
        if (NameIs(c, name)) return c;
    }
    return nullptr;
}

int ToInt(const std::string& text) { return static_cast<int>(std::strtol(text.c_str(), nullptr, 10)); }

std::string TodayMonthDay() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%02d", local.tm_mon + 1, local.tm_mday);
    return text;
}

NewsItem ReadRssItem(xmlNode* item) {
    NewsItem out;
    bool haveTitle = false, haveLink = false, haveDate = false;
    for (xmlNode* c = item->children; c; c = c->next) {
        if (NameIs(c, "title") && !haveTitle) {
            out.title = TextOf(c);
            haveTitle = true;
        } else if (NameIs(c, "link") && !haveLink) {
            out.link = TextOf(c);
            haveLink = true;
        } else if (NameIs(c, "pubDate") && !haveDate) {
            out.date = TextOf(c);
            if (out.date == "Latest") out.date = TodayMonthDay();
            haveDate = true;
        } else if (NameIs(c, "comments")) {
            out.comments = ToInt(TextOf(c));
        } else if (NameIs(c, "description")) {
            out.description = CleanNewsDescription(TextOf(c));
        }
    }
    return out;
}

NewsItem ReadAtomEntry(xmlNode* entry) {
    NewsItem out;
    bool haveTitle = false;
    for (xmlNode* c = entry->children; c; c = c->next) {
        if (NameIs(c, "title") && !haveTitle) {
            out.title = TextOf(c);
            haveTitle = true;
        } else if (NameIs(c, "link") && AttrOf(c, "type") == "text/html") {
            out.link = AttrOf(c, "href");
        } else if (NameIs(c, "published")) {
            out.date = TextOf(c);
        } else if (QualifiedNameIs(c, "gd", "comments")) {
            for (xmlNode* f = c->children; f; f = f->next) {
                if (QualifiedNameIs(f, "gd", "feedLink")) out.comments = ToInt(AttrOf(f, "countHint"));
            }
        } else if (NameIs(c, "content")) {
            out.description = CleanNewsDescription(TextOf(c));
        }
    }
    return out;
}

// --- process-wide refresh state ---

std::mutex g_settingsMutex;
NewsSettings g_settings;
std::string g_baseUrl;
std::atomic<bool> g_refreshBusy{false};
std::atomic<bool> g_updatePending{false};
std::atomic<int> g_announcedBuild{0};

NewsSettings Settings() {
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    return g_settings;
}

// One fetch thread's entry. The thread owns it together with the refresh, so a thread that
// outlives its wait finishes on its own and its late answer is simply not read.
struct FetchJob {
    FeedServer server;
    std::string edition;
    std::string languageSuffix;
    int build = 1000;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    bool answered = false;
};

std::string RequestUrl(const FetchJob& job) {
    std::string url;
    if (job.server.requestFlags & kNewsStartPage) {
        url = job.server.baseUrl + "/info/start/?v=" + std::to_string(job.build);
    } else {
        url = job.server.baseUrl + "/info/rss" + job.languageSuffix + "/?v=" + std::to_string(job.build);
    }
    if (!job.edition.empty()) url += "&e=" + job.edition;
    return url;
}

void NewsFetchThread(const std::shared_ptr<FetchJob>& job) {
    const std::string url = RequestUrl(*job);
    FeedServer result = job->server;
    bool answered = false;
    // Redirects are followed by the client (bounded), so each try is one address.
    for (int attempt = 0; attempt < job->server.attempts; ++attempt) {
        HttpRequest request;
        httpInitReq(&request, nullptr);
        httpRequest(&request, url.c_str());
        const int status = request.status;
        if (status == 200 && request.body) {
            const bool wantsXml = (job->server.requestFlags & kNewsStartPage) == 0;
            const bool isXml = request.contentType && std::strstr(request.contentType, "xml");
            if (!wantsXml || isXml) {
                result.body.assign(request.body, static_cast<size_t>(request.bodyLength));
                result.date = ParseNewsDate(request.lastModified);
                result.completionTick = static_cast<uint32_t>(platform::TickCount()) | 1u;
                answered = true;
            }
        }
        httpClean(&request);
        if (status != 0) break;  // any answer ends the tries; only a failed request tries again
    }
    std::lock_guard<std::mutex> lock(job->m);
    job->server = std::move(result);
    job->answered = answered;
    job->done = true;
    job->cv.notify_all();
}

// Waits until the job ended or the deadline passed; true when it ended with an answer.
bool WaitAnswered(FetchJob& job, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(job.m);
    job.cv.wait_until(lock, deadline, [&] { return job.done; });
    return job.done && job.answered;
}

std::string DataFile(const char* name) {
    NewsSettings s = Settings();
    if (s.dataFolder.empty()) return {};
    return s.dataFolder + "/" + name;
}

// Deletes "splash.jpg" (even read-only) and fetches it again when the update names one; a failed
// download leaves none.
void RenewSplash(const std::string& splashUrl) {
    const std::string path = DataFile("splash.jpg");
    if (path.empty()) return;
    ::chmod(path.c_str(), 0644);
    ::unlink(path.c_str());
    if (splashUrl.empty()) return;
    HttpRequest request;
    httpInitReq(&request, nullptr);
    if (httpRequest(&request, splashUrl.c_str()) == 0 && request.status == 200 && request.body) {
        const std::string bytes(request.body, static_cast<size_t>(request.bodyLength));
        platform::ReplaceFileDurably(path, [&](int fd) {
            return platform::WriteFull(fd, bytes.data(), bytes.size()) == bytes.size();
        });
    }
    httpClean(&request);
}

}  // namespace

std::string CleanNewsDescription(const std::string& text) {
    std::string plain;
    plain.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '<') {
            size_t close = text.find('>', i);
            if (close == std::string::npos) break;  // an unterminated tag ends the text
            i = close;
            continue;
        }
        plain.push_back(text[i]);
    }
    while (!plain.empty() && (plain.back() == '\r' || plain.back() == '\n')) plain.pop_back();
    std::string out;
    out.reserve(plain.size());
    for (size_t i = 0; i < plain.size(); ++i) {
        out.push_back(plain[i]);
        if (plain[i] == '\n' && i + 1 < plain.size()) {
            out.push_back(plain[++i]);
            while (i + 1 < plain.size() && (plain[i + 1] == '\r' || plain[i + 1] == '\n')) ++i;
        }
    }
    return out;
}

uint32_t ParseNewsDate(const char* text) {
    constexpr uint32_t kNoDate = 20091201;
    if (!text) return kNoDate;
    const char* p = std::strstr(text, ", ");
    if (!p) return kNoDate;
    p += 2;
    char* end = nullptr;
    long day = std::strtol(p, &end, 10);
    if (end == p) return kNoDate;
    p = end;
    while (*p == ' ') ++p;
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int month = 1;
    for (int m = 0; m < 12; ++m) {
        if (std::strncmp(p, kMonths[m], 3) == 0) month = m + 1;
    }
    while (*p && *p != ' ') ++p;
    long year = std::strtol(p, &end, 10);
    if (end == p) return kNoDate;
    // HTTP dates carry four-digit years; a two-digit one counts from 2000.
    if (year < 100) year += 2000;
    if (day < 1 || day > 31 || year < 1970 || year > 9999) return kNoDate;
    return static_cast<uint32_t>(year * 10000 + month * 100 + day);
}

NewsFeed& GetNewsFeed() {
    static NewsFeed feed;
    return feed;
}

std::string NewsFeed::GetLink(const char* id, const char* defaultLink) {
    std::string fallback = defaultLink ? defaultLink : "";
    if (!id) return fallback;
    std::string link;
    {
        NewsFeedLock lock(mutex);
        if (!lock.owns()) return fallback;
        xmlNode* root = document.doc ? xmlDocGetRootElement(document.doc) : nullptr;
        if (!NameIs(root, "rss")) return fallback;
        bool found = false;
        // Walked by hand rather than through an XPath text, so an id with quotes cannot change
        // the query.
        for (xmlNode* links = root->children; links && !found; links = links->next) {
            if (!NameIs(links, "links")) continue;
            for (xmlNode* l = links->children; l; l = l->next) {
                if (NameIs(l, "link") && AttrOf(l, "id") == id) {
                    link = AttrOf(l, "link");
                    found = true;
                    break;
                }
            }
        }
        if (!found) return fallback;
    }
    if (link.find("://") == std::string::npos) {
        std::string base = NewsBaseUrl();
        if (!base.empty() && base.back() != '/' && (link.empty() || link.front() != '/')) base += '/';
        link = base + link;
    }
    return link;
}

bool ParseNewsFeed(NewsFeed& feed, const char* edition) {
    // Readers hold the lists; rebuilding them under a reader would pull them from under it.
    NewsFeedLock lock(feed.mutex);
    if (!lock.owns()) return false;
    feed.channels.clear();
    feed.externalLinks.clear();
    feed.wizards.clear();
    feed.update = UpdateFacts{};
    xmlNode* root = feed.document.doc ? xmlDocGetRootElement(feed.document.doc) : nullptr;
    if (!root || !FirstElement(root->children)) return false;

    for (xmlNode* child = root->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        if (NameIs(child, "channel")) {
            if (feed.channels.size() >= kMaxNewsChannels) continue;
            xmlChar* channelEdition = xmlGetProp(child, reinterpret_cast<const xmlChar*>("edition"));
            bool skip = channelEdition && edition &&
                        std::strcmp(reinterpret_cast<const char*>(channelEdition), edition) != 0;
            if (channelEdition) xmlFree(channelEdition);
            if (skip) continue;
            NewsChannel channel;
            channel.name = AttrOf(child, "name");
            if (channel.name.empty()) channel.name = "Channel " + std::to_string(feed.channels.size() + 1);
            for (xmlNode* item = child->children; item; item = item->next) {
                if (NameIs(item, "item")) channel.items.push_back(ReadRssItem(item));
            }
            feed.channels.push_back(std::move(channel));
        } else if (NameIs(child, "external") || NameIs(child, "ext")) {
            feed.externalLinks.push_back(
                {AttrOf(child, "id"), AttrOf(child, "name"), TextOf(FirstChildNamed(child, "link"))});
        } else if (NameIs(child, "update")) {
            if (AttrOf(child, "edition") != (edition ? edition : "")) continue;
            feed.update.build = ToInt(TextOf(FirstChildNamed(child, "build")));
            feed.update.timestamp = ToInt(TextOf(FirstChildNamed(child, "timestamp")));
            feed.update.site = TextOf(FirstChildNamed(child, "site"));
            xmlNode* splash = FirstChildNamed(child, "splash");
            feed.update.splashLink = AttrOf(splash, "link");
            feed.update.splashUrl = AttrOf(splash, "url");
        } else if (NameIs(child, "wizards")) {
            // The first element child whatever its name, then every "wizard" after it.
            xmlNode* first = FirstElement(child->children);
            for (xmlNode* w = first; w; w = w->next) {
                if (w == first || NameIs(w, "wizard")) {
                    feed.wizards.push_back({AttrOf(w, "name"), AttrOf(w, "link")});
                }
            }
        } else if (NameIs(child, "entry")) {
            if (feed.channels.empty()) feed.channels.push_back({"Channel 1", {}});
            feed.channels.back().items.push_back(ReadAtomEntry(child));
        }
    }
    return true;
}

void DeploymentNewsServers(std::string (&servers)[2]) {
    servers[0].clear();
    servers[1].clear();
    const char* value = std::getenv("SONQUILL_NEWS_SERVERS");
    if (!value) return;
    std::istringstream words(value);
    for (std::string& server : servers) {
        if (!(words >> server)) break;
        while (!server.empty() && server.back() == '/') server.pop_back();
    }
}

void ConfigureNews(NewsSettings settings) {
    if (settings.serverUrls[0].empty() && settings.serverUrls[1].empty()) DeploymentNewsServers(settings.serverUrls);
    {
        std::lock_guard<std::mutex> lock(g_settingsMutex);
        g_settings = std::move(settings);
        // A server of these settings that won a refresh before stays the base.
        if (g_baseUrl.empty() || (g_baseUrl != g_settings.serverUrls[0] && g_baseUrl != g_settings.serverUrls[1]))
            g_baseUrl = g_settings.serverUrls[0].empty() ? g_settings.serverUrls[1] : g_settings.serverUrls[0];
    }
    g_updatePending = false;
    g_announcedBuild = 0;
    NewsFeed& feed = GetNewsFeed();
    NewsFeedLock lock(feed.mutex);
    if (!lock.owns()) return;
    feed.fetched = false;
    feed.document = CXML();
    feed.channels.clear();
    feed.externalLinks.clear();
    feed.wizards.clear();
    feed.update = UpdateFacts{};
}

std::string NewsBaseUrl() {
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    return g_baseUrl;
}

std::optional<FeedServer> RefreshNewsFeed(int flags) {
    if (g_refreshBusy.exchange(true)) return std::nullopt;
    struct BusyReset {
        ~BusyReset() { g_refreshBusy = false; }
    } busyReset;

    NewsSettings settings = Settings();
    if (settings.serverUrls[0].empty() && settings.serverUrls[1].empty()) DeploymentNewsServers(settings.serverUrls);
    std::shared_ptr<FetchJob> jobs[2];
    for (int i = 0; i < 2; ++i) {
        if (settings.serverUrls[i].empty()) continue;
        auto job = std::make_shared<FetchJob>();
        job->server.baseUrl = settings.serverUrls[i];
        job->server.attempts = i == 0 ? 2 : 1;
        job->server.requestFlags = static_cast<uint16_t>(flags & 3);
        job->edition = settings.edition;
        job->languageSuffix = settings.languageSuffix;
        job->build = settings.build;
        jobs[i] = job;
    }
    auto start = [](const std::shared_ptr<FetchJob>& job) {
        if (job) std::thread(NewsFetchThread, job).detach();
    };
    auto now = [] { return std::chrono::steady_clock::now(); };

    start(jobs[0]);
    bool firstAnswered = jobs[0] && WaitAnswered(*jobs[0], now() + 1000ms);
    if (!firstAnswered) {
        start(jobs[1]);
        if (jobs[0]) firstAnswered = WaitAnswered(*jobs[0], now() + 1000ms);
        const auto deadline = now() + ((flags & kNewsStartPage) ? 1000ms : 5000ms);
        for (const auto& job : jobs) {
            if (job) WaitAnswered(*job, deadline);
        }
    }

    // Only entries whose thread has published an answer with a body take part.
    std::optional<FeedServer> winner;
    for (const auto& job : jobs) {
        if (!job) continue;
        std::lock_guard<std::mutex> lock(job->m);
        if (!job->done || !job->answered || job->server.body.empty()) continue;
        if (!winner || job->server.date > winner->date) winner = job->server;
    }
    if (!winner) return std::nullopt;
    {
        std::lock_guard<std::mutex> lock(g_settingsMutex);
        g_baseUrl = winner->baseUrl;
    }

    if (flags & kNewsFetchFeed) {
        NewsFeed& feed = GetNewsFeed();
        CXML fresh;
        xmlNode* root = nullptr;
        if (fresh.Read(winner->body.c_str(), static_cast<int>(winner->body.size())) == 0) {
            root = xmlDocGetRootElement(fresh.doc);
            if (root && !FirstElement(root->children)) root = nullptr;
        }
        if (root) {
            int newBuild = 0;
            xmlNode* update = nullptr;
            for (xmlNode* c = root->children; c; c = c->next) {
                if (NameIs(c, "update") && AttrOf(c, "edition") == settings.edition) {
                    update = c;
                    break;
                }
            }
            if (update) {
                newBuild = ToInt(TextOf(FirstChildNamed(update, "build")));
                const std::string stamp = std::to_string(CurrentNewsStamp());
                xmlNewTextChild(update, nullptr, reinterpret_cast<const xmlChar*>("timestamp"),
                                reinterpret_cast<const xmlChar*>(stamp.c_str()));
            }
            std::string knownSite;
            {
                NewsFeedLock lock(feed.mutex);
                if (lock.owns()) {
                    knownSite = feed.update.site;
                    feed.document = std::move(fresh);
                }
            }
            if (!knownSite.empty()) {
                std::lock_guard<std::mutex> lock(g_settingsMutex);
                g_baseUrl = knownSite;
            }
            feed.fetched = true;
            if (ParseNewsFeed(feed, settings.edition.c_str()) && settings.postUiCommand) {
                settings.postUiCommand("refresh_rss");
            }
            g_announcedBuild = newBuild;
            if (newBuild > 1000) {
                g_updatePending = newBuild > GetPrefStore().GetInt("overall.generic.ignoredBuild");
            } else {
                g_updatePending = false;
            }
        }
        std::string splashUrl;
        {
            NewsFeedLock lock(feed.mutex);
            if (lock.owns()) splashUrl = feed.update.splashUrl;
        }
        RenewSplash(splashUrl);
    }
    return winner;
}

std::string FetchText(const std::string& url) {
    HttpRequest request;
    httpInitReq(&request, nullptr);
    std::string text;
    // An error page's body is not the document asked for.
    if (httpRequest(&request, url.c_str()) == 0 && request.body && request.status / 100 == 2) {
        text.assign(request.body, static_cast<size_t>(request.bodyLength));
    }
    httpClean(&request);
    return text;
}

std::vector<NewsItem> ReadLinkedFeed(const std::string& url) {
    std::vector<NewsItem> items;
    const std::string text = FetchText(url);
    if (text.empty()) return items;
    // A feed of its own: the program's feed is never touched, and a broken one gives nothing.
    NewsFeed linked;
    if (linked.document.Read(text.c_str(), static_cast<int>(text.size())) != 0 || !ParseNewsFeed(linked, nullptr))
        return items;
    for (NewsChannel& channel : linked.channels)
        for (NewsItem& item : channel.items) items.push_back(std::move(item));
    return items;
}

bool LoadNewsFeed() {
    const std::string path = DataFile("rss.xml");
    NewsFeed& feed = GetNewsFeed();
    if (path.empty()) return false;
    CXML loaded;
    if (loaded.Open(path.c_str()) != 0) return false;
    {
        NewsFeedLock lock(feed.mutex);
        if (!lock.owns()) return false;
        feed.document = std::move(loaded);
    }
    return ParseNewsFeed(feed, Settings().edition.c_str());
}

bool SaveNewsFeedIfFetched() {
    NewsFeed& feed = GetNewsFeed();
    const std::string path = DataFile("rss.xml");
    if (!feed.fetched || path.empty()) return false;
    NewsFeedLock lock(feed.mutex);
    if (!lock.owns()) return false;
    char* text = nullptr;
    int length = feed.document.Dump(&text);
    if (!text || length <= 0) return false;
    return platform::ReplaceFileDurably(path, [&](int fd) {
        return platform::WriteFull(fd, text, static_cast<size_t>(length)) == static_cast<size_t>(length);
    });
}

int NewsStamp() {
    NewsFeed& feed = GetNewsFeed();
    NewsFeedLock lock(feed.mutex);
    return lock.owns() ? feed.update.timestamp : 0;
}

int CurrentNewsStamp() {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return local.tm_yday * 100 + local.tm_hour;
}

bool IsUpdatePending() { return g_updatePending; }
int AnnouncedBuild() { return g_announcedBuild; }

bool OpenUpdatePage(int httpPort) {
    const NewsSettings settings = Settings();
    const std::string base = NewsBaseUrl();
    const std::string url = base + "/update/?p=" + std::to_string(httpPort) +
                            "&ver=1.0.0&build=" + std::to_string(settings.build);
    g_updatePending = false;
    // The base may come from the feed's "site": only a web address goes to the browser.
    if (base.rfind("http://", 0) != 0 && base.rfind("https://", 0) != 0) return false;
    return platform::ShellOpen(url);
}

bool OpenReferralLink() {
    const std::string link = GetNewsFeed().GetLink("referral", "");
    // Links come from the network: only web addresses are handed to the browser.
    return !link.empty() && platform::ShellOpen(link);
}

#include "ui/news/newsview.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/shell_open.h"
#include "ui/framework/window.h"
#include "ui/news/newsfeed.h"

namespace ui {

namespace {

using namespace std::chrono_literals;

// Cuts a text from a feed to what the view shows, at a character boundary (UTF-8).
std::string Shown(const std::string& text) {
    if (text.size() <= kNewsTextLimit) return text;
    size_t cut = kNewsTextLimit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

std::string RowText(const NewsItem& item) {
    if (item.date.empty()) return Shown(item.title);
    return Shown("[" + item.date + "] " + item.title);
}

bool IsWebAddress(const std::string& link) {
    return link.rfind("http://", 0) == 0 || link.rfind("https://", 0) == 0;
}

const char* Ui(const char* key) { return UiStrings().GetString(key, 0, key); }

}  // namespace

struct CNewsView::State {
    mutable std::mutex m;
    std::vector<NewsItem> items;  // the rows of the tree, by their parameter - 1
    uint64_t generation = 0;      // a newer request makes a running worker's result stale
    bool fetching = false;

    // Replaces the tree's rows; runs on any thread (the sends reach the UI thread).
    void Fill(gui::HWND tree, std::vector<NewsItem> rows) {
        gui::SendMessageA(tree, gui::TVM_DELETEITEM, 0, reinterpret_cast<gui::LPARAM>(gui::TVI_ROOT));
        std::vector<std::string> texts;
        texts.reserve(rows.size());
        for (const NewsItem& row : rows) texts.push_back(RowText(row));
        {
            std::lock_guard lk(m);
            items = std::move(rows);
        }
        for (size_t i = 0; i < texts.size(); ++i) {
            gui::TVINSERTSTRUCTA insert;
            insert.hParent = gui::TVI_ROOT;
            insert.hInsertAfter = gui::TVI_LAST;
            insert.item.mask = gui::TVIF_TEXT | gui::TVIF_PARAM;
            insert.item.pszText = texts[i].data();
            insert.item.lParam = static_cast<gui::LPARAM>(i + 1);
            gui::SendMessageA(tree, gui::TVM_INSERTITEMA, 0, reinterpret_cast<gui::LPARAM>(&insert));
        }
    }
};

CNewsView::CNewsView(NewsFeed& feed) : feed_(feed), state_(std::make_shared<State>()) {}

CNewsView::~CNewsView() {
    {
        std::lock_guard lk(state_->m);
        ++state_->generation;  // whatever it fetches is no longer shown
    }
    // The worker holds only the shared state and window handles (dead windows answer 0), so one
    // still waiting on the network may finish on its own.
    if (worker_.joinable()) {
        if (Fetching()) worker_.detach();
        else worker_.join();
    }
}

void CNewsView::Attach(gui::HWND tabs, gui::HWND tree) {
    tabs_ = tabs;
    tree_ = tree;
}

bool CNewsView::Fetching() const {
    std::lock_guard lk(state_->m);
    return state_->fetching;
}

void CNewsView::FillNewsTabs(int index) {
    if (!tabs_) return;
    int selected = static_cast<int>(gui::SendMessageA(tabs_, gui::TCM_GETCURSEL, 0, 0));
    gui::SendMessageA(tabs_, gui::TCM_DELETEALLITEMS, 0, 0);
    std::vector<std::string> names;
    size_t channels = 0;
    {
        NewsFeedLock lock(feed_.mutex);
        if (lock.owns()) {
            channels = feed_.channels.size();
            for (const NewsChannel& c : feed_.channels) names.push_back(Shown(c.name));
            for (const NewsLink& l : feed_.externalLinks) names.push_back(Shown(l.name));
        }
    }
    for (size_t i = 0; i < names.size(); ++i) {
        gui::TCITEMA tab;
        tab.mask = gui::TCIF_TEXT;
        tab.pszText = names[i].data();
        gui::SendMessageA(tabs_, gui::TCM_INSERTITEMA, i, reinterpret_cast<gui::LPARAM>(&tab));
    }
    gui::InvalidateRect(tabs_, nullptr, 1);
    if (names.empty()) {
        // No feed (yet): the tree says so, and nothing in it opens anything.
        shownTab_ = -1;
        NewsItem none;
        none.title = Ui("no_rss");
        if (tree_) state_->Fill(tree_, {none});
        return;
    }
    if (index >= 0) selected = index;
    if (selected < 0 || static_cast<size_t>(selected) >= channels) selected = 0;
    gui::SendMessageA(tabs_, gui::TCM_SETCURSEL, static_cast<gui::WPARAM>(selected), 0);
    ShowNewsTab(selected);
}

void CNewsView::ShowNewsTab(int index) {
    if (!tree_) return;
    // A request waits briefly for a worker still fetching, and gives up when it still runs.
    if (Fetching()) {
        gui::WaitPumping(200, [this] { return !Fetching(); });
        if (Fetching()) return;
    }
    if (worker_.joinable()) worker_.join();
    shownTab_ = index;
    NewsItem loading;
    loading.title = "Loading...";
    state_->Fill(tree_, {loading});

    std::vector<NewsItem> rows;
    std::string link;
    bool isChannel = false;
    {
        NewsFeedLock lock(feed_.mutex);
        if (!lock.owns()) return;
        const size_t channels = feed_.channels.size();
        if (index >= 0 && static_cast<size_t>(index) < channels) {
            isChannel = true;
            rows = feed_.channels[static_cast<size_t>(index)].items;
        } else if (index >= 0 && static_cast<size_t>(index) - channels < feed_.externalLinks.size()) {
            link = feed_.externalLinks[static_cast<size_t>(index) - channels].link;
        }
    }
    if (isChannel) {
        state_->Fill(tree_, std::move(rows));
        return;
    }
    if (!IsWebAddress(link)) {
        state_->Fill(tree_, {});
        return;
    }
    uint64_t generation;
    {
        std::lock_guard lk(state_->m);
        generation = ++state_->generation;
        state_->fetching = true;
    }
    auto state = state_;
    gui::HWND tree = tree_;
    worker_ = std::thread([state, tree, link, generation] {
        // The linked feed goes through the same parser; a broken one shows nothing.
        std::vector<NewsItem> items = ReadLinkedFeed(link);
        bool current;
        {
            std::lock_guard lk(state->m);
            current = state->generation == generation;
        }
        if (current) state->Fill(tree, std::move(items));
        std::lock_guard lk(state->m);
        state->fetching = false;
    });
}

bool CNewsView::OnNotify(gui::NMHDR* header) {
    if (!header) return false;
    if (tabs_ && header->hwndFrom == tabs_ && header->code == gui::TCN_SELCHANGE) {
        const int index = static_cast<int>(gui::SendMessageA(tabs_, gui::TCM_GETCURSEL, 0, 0));
        if (index >= 0 && index != shownTab_) ShowNewsTab(index);
        return true;
    }
    if (!tree_ || header->hwndFrom != tree_) return false;
    if (header->code == gui::TVN_SELCHANGEDA) {
        OnTreeSelect(*reinterpret_cast<gui::NMTREEVIEWA*>(header));
        return true;
    }
    if (header->code == gui::TVN_GETINFOTIPA) {
        auto* tip = reinterpret_cast<gui::NMTVGETINFOTIPA*>(header);
        if (tip->pszText && tip->cchTextMax > 0)
            std::snprintf(tip->pszText, static_cast<size_t>(tip->cchTextMax), "%s", TipFor(tip->hItem).c_str());
        return true;
    }
    return false;
}

bool CNewsView::OnTreeSelect(const gui::NMTREEVIEWA& change) {
    if (change.action != gui::TVC_BYMOUSE) return false;
    gui::TVITEMA item;
    item.mask = gui::TVIF_PARAM | gui::TVIF_HANDLE;
    item.hItem = change.itemNew.hItem;
    if (!gui::SendMessageA(tree_, gui::TVM_GETITEMA, 0, reinterpret_cast<gui::LPARAM>(&item))) return false;
    std::string link;
    {
        std::lock_guard lk(state_->m);
        const auto row = static_cast<size_t>(item.lParam);
        if (row == 0 || row > state_->items.size()) return false;
        link = state_->items[row - 1].link;
    }
    // Links come from the network: only web addresses go to the browser.
    return IsWebAddress(link) && platform::ShellOpen(link);
}

std::string CNewsView::TipFor(gui::HTREEITEM handle) const {
    gui::TVITEMA item;
    item.mask = gui::TVIF_PARAM | gui::TVIF_HANDLE;
    item.hItem = handle;
    if (!gui::SendMessageA(tree_, gui::TVM_GETITEMA, 0, reinterpret_cast<gui::LPARAM>(&item))) return {};
    NewsItem row;
    {
        std::lock_guard lk(state_->m);
        const auto index = static_cast<size_t>(item.lParam);
        if (index == 0 || index > state_->items.size()) return {};
        row = state_->items[index - 1];
    }
    if (!row.description.empty()) return Shown(row.description);
    if (row.comments > 0) return std::to_string(row.comments) + " " + Ui("comments");
    if (!row.link.empty()) return Ui("add_comments");
    return {};
}

}  // namespace ui

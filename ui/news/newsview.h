// The news view: one tab per channel of the program's feed and one per extra link of the feed's
// list, and a tree that shows the items of the selected tab ("[date] title"). A channel tab fills
// the tree at once; an extra link's feed is fetched and parsed by a worker thread. Selecting an
// item with the mouse opens its link in the browser (web addresses only); an item's tip is its
// description, its comment count or the invitation to comment.
//
// Lock order: the view's own lock is a leaf (never held while sending to a window or taking the
// feed's lock); the feed's lock is taken for at most 3 s while its lists are read.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "platform/gui/gui.h"
#include "ui/ids.h"

class NewsFeed;

namespace ui {

// Longest text a tab, a row or a tip shows (longer texts from a feed are cut).
inline constexpr size_t kNewsTextLimit = 512;

class CNewsView {
public:
    explicit CNewsView(NewsFeed& feed);
    ~CNewsView();
    CNewsView(const CNewsView&) = delete;
    CNewsView& operator=(const CNewsView&) = delete;

    void Attach(gui::HWND tabs, gui::HWND tree);
    // Rebuilds the tabs; index -1 keeps the selected one (a tab beyond the channels falls back to
    // the first), then shows the selected tab. Without channels or links the tree says "no_rss".
    void FillNewsTabs(int index);
    void ShowNewsTab(int index);
    int ShownTab() const { return shownTab_; }

    // The parent's notifications from the tabs (a changed tab is shown) and from the tree
    // (selection, tip). True when it was one of them.
    bool OnNotify(gui::NMHDR* header);

    // A tree selection (TVN_SELCHANGEDA): by mouse, the item's link is opened. True when opened.
    bool OnTreeSelect(const gui::NMTREEVIEWA& change);
    // The tip of a tree item (TVN_GETINFOTIPA).
    std::string TipFor(gui::HTREEITEM item) const;

    // Whether a worker is still fetching a linked feed.
    bool Fetching() const;

private:
    struct State;

    NewsFeed& feed_;
    gui::HWND tabs_ = nullptr;
    gui::HWND tree_ = nullptr;
    int shownTab_ = -1;
    std::shared_ptr<State> state_;
    std::thread worker_;
};

}  // namespace ui

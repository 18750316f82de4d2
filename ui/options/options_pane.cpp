#include "ui/options/options_pane.h"

#include "platform/gui/desktop.h"
#include "ui/main/seams.h"
#include "ui/options/option_tabs.h"

namespace ui {

using namespace gui;

namespace {

std::unique_ptr<COptionsPane> g_pane;

// A child's rectangle in its parent's client coordinates.
RECT ChildRect(HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
    MapWindowPoints(nullptr, GetParent(child), corners, 2);
    return {corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

}  // namespace

COptionsPane::~COptionsPane() {
    DropSubPage();
    if (tab_ && tab_->Handle()) tab_->Close();
    tab_.reset();
    if (hwnd_) Close();
}

HWND COptionsPane::Attach(CWindow* mainWindow) {
    if (!mainWindow || !mainWindow->Handle()) return nullptr;
    if (!CreateModeless(MainInstance(), kOptionsPaneTemplate, mainWindow)) return nullptr;
    // The pane goes below what the main window shows, which grows by the pane's height; a status
    // bar keeps to the bottom of the window.
    RECT client{}, pane{}, outer{};
    GetClientRect(mainWindow->Handle(), &client);
    GetWindowRect(hwnd_, &pane);
    GetWindowRect(mainWindow->Handle(), &outer);
    const int height = pane.bottom - pane.top;
    int top = client.bottom;
    if (HWND status = GetDlgItem(mainWindow->Handle(), 1170)) top -= ChildRect(status).bottom - ChildRect(status).top;
    MoveWindow(hwnd_, 0, top, client.right, height, TRUE);
    MoveWindow(mainWindow->Handle(), outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top + height, TRUE);
    ShowWindow(hwnd_, SW_SHOW);
    return hwnd_;
}

bool COptionsPane::OnInitDialog() {
    HWND tabs = GetItem(kIdOptionTabs);
    for (int i = 0; i < 6; ++i) {
        std::unique_ptr<COptionTab> tab(CreateOptionTab(i));
        if (!tab) continue;
        InsertTab(tabs, i, tab->GetTitle());
    }
    ShowOptionTab(0);
    return true;
}

bool COptionsPane::OnNotify(NMHDR* hdr) {
    if (!hdr || hdr->code != TCN_SELCHANGE) return false;
    const auto sel = static_cast<int>(SendMessageA(hdr->hwndFrom, TCM_GETCURSEL, 0, 0));
    if (hdr->idFrom == kIdOptionTabs) {
        ShowOptionTab(sel);
        return true;
    }
    if (hdr->idFrom == kIdEncoderTabs) {
        ShowSubPage(sel);
        return true;
    }
    return false;
}

void COptionsPane::PlacePage(CDialogWindow* page, bool nested) {
    RECT area = ChildRect(GetItem(nested ? kIdEncoderTabs : kIdOptionTabs));
    SendItemMessage(nested ? kIdEncoderTabs : kIdOptionTabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    RECT own{};
    GetWindowRect(page->Handle(), &own);
    int width = own.right - own.left, height = own.bottom - own.top;
    if (nested) {
        width = area.right - area.left;
        height = area.bottom - area.top;
    } else if (HWND row = GetItem(kIdEncoderTabs); row && IsWindowVisible(row)) {
        // A tab with a nested row keeps to the space above it.
        height = std::min(height, ChildRect(row).top - area.top);
    }
    MoveWindow(page->Handle(), area.left, area.top, width, height, TRUE);
}

void COptionsPane::DropSubPage() {
    if (subPage_ && subPage_->Handle()) subPage_->Close();
    subPage_.reset();
}

void COptionsPane::ShowOptionTab(int index) {
    if (index < 0 || index > 5) return;
    DropSubPage();
    if (tab_ && tab_->Handle()) tab_->Close();
    tab_.reset(CreateOptionTab(index));
    tabIndex_ = index;
    SendItemMessage(kIdOptionTabs, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    HWND row = GetItem(kIdEncoderTabs);
    ShowWindow(row, SW_HIDE);
    if (!tab_ || !tab_->CreatePage(hwnd_)) {
        tab_.reset();
        return;
    }
    subPage_.reset(tab_->CreateSubPage(-1, row));
    if (subPage_) ShowWindow(row, SW_SHOW);
    PlacePage(tab_.get(), false);
    tab_->LoadControls();
    ShowWindow(tab_->Handle(), SW_SHOW);
    if (subPage_ && subPage_->CreatePage(hwnd_)) {
        PlacePage(subPage_.get(), true);
        subPage_->LoadControls();
        ShowWindow(subPage_->Handle(), SW_SHOW);
    } else {
        subPage_.reset();
    }
}

void COptionsPane::ShowSubPage(int index) {
    if (!tab_) return;
    DropSubPage();
    subPage_.reset(tab_->CreateSubPage(index, GetItem(kIdEncoderTabs)));
    if (!subPage_ || !subPage_->CreatePage(hwnd_)) {
        subPage_.reset();
        return;
    }
    PlacePage(subPage_.get(), true);
    subPage_->LoadControls();
    ShowWindow(subPage_->Handle(), SW_SHOW);
}

void COptionsPane::Apply(int level) {
    if (level < 1 || !tab_) return;
    tab_->LoadControls();
    if (level >= 3 && subPage_ && tabIndex_ == 0) {
        ShowOptionTab(tabIndex_);
        return;
    }
    // The nested page shows the store too: a preset or a revert changes its keys as well.
    if (subPage_) subPage_->LoadControls();
}

COptionsPane* OptionsPane() { return g_pane.get(); }

HWND CreateOptionsPane(CWindow* mainWindow) {
    g_pane.reset();
    auto pane = std::make_unique<COptionsPane>();
    HWND h = pane->Attach(mainWindow);
    if (h) g_pane = std::move(pane);
    return h;
}

void ApplyOptionsPane(int level) {
    if (g_pane) g_pane->Apply(level);
}

void DestroyOptionsPane() {
    // The popup belongs to the main window as much as the pane does.
    ClosePopup();
    g_pane.reset();
}

}  // namespace ui

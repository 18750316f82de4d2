#include "ui/options/options_pane.h"

#include <algorithm>

#include "platform/gui/desktop.h"
#include "ui/main/window_services.h"
#include "ui/options/option_tabs.h"

namespace ui {

using namespace gui;

namespace {

std::unique_ptr<COptionsPane> g_pane;

}  // namespace

COptionsPane::~COptionsPane() {
    DropSubPage();
    if (tab_ && tab_->Handle()) tab_->Close();
    tab_.reset();
    if (hwnd_) Close();
}

HWND COptionsPane::Attach(CWindow* mainWindow) {
    if (!mainWindow || !mainWindow->Handle()) return nullptr;
    if (!CreateModeless(MainInstance(), dlg::options::id, mainWindow)) return nullptr;
    ShowWindow(hwnd_, SW_SHOW);
    return hwnd_;
}

bool COptionsPane::OnInitDialog() {
    HWND tabs = GetItem(dlg::options::option_tabs);
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
    if (hdr->idFrom == dlg::options::option_tabs) {
        ShowOptionTab(sel);
        return true;
    }
    if (hdr->idFrom == dlg::options::encoder_tabs) {
        ShowSubPage(sel);
        return true;
    }
    return false;
}

bool COptionsPane::OnSize(int width, int height) {
    MoveWindow(GetItem(dlg::options::option_tabs), 0, 0, width, height, TRUE);
    LayOutPages();
    return true;
}

void COptionsPane::LayOutPages() {
    RECT area{};
    GetClientRect(GetItem(dlg::options::option_tabs), &area);
    SendItemMessage(dlg::options::option_tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    const int width = std::max(1, static_cast<int>(area.right - area.left));
    int pageBottom = area.bottom;
    if (tab_ && tab_->Handle()) {
        const int height = subPage_ ? std::min(pageHeight_, static_cast<int>(area.bottom - area.top)) : area.bottom - area.top;
        MoveWindow(tab_->Handle(), area.left, area.top, width, std::max(1, height), TRUE);
        pageBottom = area.top + height;
    }
    if (!subPage_ || !subPage_->Handle()) return;
    RECT row{area.left, pageBottom + 2, area.right, std::max(pageBottom + 2, static_cast<int>(area.bottom))};
    MoveWindow(GetItem(dlg::options::encoder_tabs), row.left, row.top, row.right - row.left, row.bottom - row.top, TRUE);
    RECT inner{0, 0, row.right - row.left, row.bottom - row.top};
    SendItemMessage(dlg::options::encoder_tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&inner));
    MoveWindow(subPage_->Handle(), row.left + inner.left, row.top + inner.top, std::max(1, static_cast<int>(inner.right - inner.left)),
               std::max(1, static_cast<int>(inner.bottom - inner.top)), TRUE);
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
    SendItemMessage(dlg::options::option_tabs, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    // The nested row shows only with a page of the new tab in it: never another tab's.
    HWND row = GetItem(dlg::options::encoder_tabs);
    ShowWindow(row, SW_HIDE);
    SendMessageA(row, TCM_DELETEALLITEMS, 0, 0);
    if (!tab_ || !tab_->CreatePage(hwnd_)) {
        tab_.reset();
        return;
    }
    RECT own{};
    GetWindowRect(tab_->Handle(), &own);
    pageHeight_ = own.bottom - own.top;
    subPage_.reset(tab_->CreateSubPage(-1, row));
    if (subPage_ && !subPage_->CreatePage(hwnd_)) subPage_.reset();
    LayOutPages();
    tab_->LoadControls();
    ShowWindow(tab_->Handle(), SW_SHOW);
    if (subPage_) {
        ShowWindow(row, SW_SHOW);
        subPage_->LoadControls();
        ShowWindow(subPage_->Handle(), SW_SHOW);
    }
}

void COptionsPane::ShowSubPage(int index) {
    if (!tab_) return;
    DropSubPage();
    subPage_.reset(tab_->CreateSubPage(index, GetItem(dlg::options::encoder_tabs)));
    if (!subPage_ || !subPage_->CreatePage(hwnd_)) {
        subPage_.reset();
        return;
    }
    LayOutPages();
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

#include "ui/dialogs/folderwatch.h"

#include <string>
#include <vector>

#include "common/fileutil.h"
#include "engine/engine_api.h"
#include "engine/queue/inputtype.h"
#include "ui/main/window_services.h"

namespace ui {

namespace {

enum : int {
    kList = 1001,
    kDelete = 1024,
    kClear = 1028,
    kAdd = 1065,
    kPatterns = 1072,
    kBrowse = 1078,
    kFolder = 1090,
};

constexpr size_t kSettingSize = 512;  // the setting's text, ';' separators included

std::vector<std::string> SplitEntries(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

}  // namespace

bool CDlgFolderWatcher::OnInitDialog() {
    HWND combo = GetItem(kPatterns);
    gui::SendMessageA(combo, gui::CB_ADDSTRING, 0, reinterpret_cast<gui::LPARAM>("*.*"));
    // Every audio and video extension the program reads, with its description.
    for (int i = 0;; ++i) {
        const InputTypeRow* row = GetInputTypeRow(i);
        if (!row || !row->ext) break;
        if (row->kind != kInputKindAudio && row->kind != kInputKindVideo) continue;
        const std::string entry = std::string("*.") + row->ext + " (" + (row->description ? row->description : "") + ")";
        gui::SendMessageA(combo, gui::CB_ADDSTRING, 0, reinterpret_cast<gui::LPARAM>(entry.c_str()));
    }
    gui::SendMessageA(combo, gui::CB_SETCURSEL, 0, 0);
    RefreshStates();
    return true;
}

void CDlgFolderWatcher::RefreshStates() {
    SendItemMessage(kList, gui::LB_RESETCONTENT, 0, 0);
    const char* setting = GetPrefString(kWatchFoldersKey);
    for (const std::string& entry : SplitEntries(setting ? setting : "")) {
        SendItemMessage(kList, gui::LB_ADDSTRING, 0, reinterpret_cast<gui::LPARAM>(entry.c_str()));
    }
}

void CDlgFolderWatcher::AddEntry() {
    const std::string folder = GetItemText(kFolder);
    if (folder.empty()) return;
    std::string pattern = GetItemText(kPatterns);
    const size_t cut = pattern.find(" (");
    if (cut != std::string::npos && cut > 0) pattern.resize(cut);
    if (pattern.empty()) pattern = "*.*";
    std::string entry = folder;
    if (entry.back() != '/' && entry.back() != '\\') entry += '/';
    entry += pattern;
    const int count = static_cast<int>(SendItemMessage(kList, gui::LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[kSettingSize + 1] = "";
        const auto length = SendItemMessage(kList, gui::LB_GETTEXTLEN, i, 0);
        if (length < 0 || static_cast<size_t>(length) > kSettingSize) continue;
        SendItemMessage(kList, gui::LB_GETTEXT, i, reinterpret_cast<gui::LPARAM>(text));
        if (entry == text) return;  // the list never holds an entry twice
    }
    SendItemMessage(kList, gui::LB_ADDSTRING, 0, reinterpret_cast<gui::LPARAM>(entry.c_str()));
    Save();
}

void CDlgFolderWatcher::Save() {
    // Whole entries only: one cut short would name a folder nobody chose.
    std::string setting;
    const int count = static_cast<int>(SendItemMessage(kList, gui::LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const auto length = SendItemMessage(kList, gui::LB_GETTEXTLEN, i, 0);
        if (length <= 0 || setting.size() + 1 + static_cast<size_t>(length) > kSettingSize - 1) break;
        std::string text(static_cast<size_t>(length) + 1, '\0');
        SendItemMessage(kList, gui::LB_GETTEXT, i, reinterpret_cast<gui::LPARAM>(text.data()));
        text.resize(static_cast<size_t>(length));
        setting += ';' + text;
    }
    SetPrefString(kWatchFoldersKey, setting.empty() ? "" : setting.c_str() + 1);
}

bool CDlgFolderWatcher::OnControlCommand(int id) {
    switch (id) {
    case kAdd: AddEntry(); break;
    case kBrowse: {
        char path[1024] = "";
        if (BrowseForPath(path, sizeof path, nullptr, nullptr) > 0) SetItemText(kFolder, path);
        break;
    }
    case kDelete: {
        const auto selected = SendItemMessage(kList, gui::LB_GETCURSEL, 0, 0);
        if (selected == gui::LB_ERR) break;
        SendItemMessage(kList, gui::LB_DELETESTRING, static_cast<gui::WPARAM>(selected), 0);
        Save();
        break;
    }
    case kClear:
        SendItemMessage(kList, gui::LB_RESETCONTENT, 0, 0);
        Save();
        break;
    case gui::IDCANCEL: gui::PostMessageA(hwnd_, gui::WM_CLOSE, 0, 0); break;
    default: break;
    }
    return true;
}

void ShowFolderWatcherDialog(HWND parent) {
    CDlgFolderWatcher dialog;
    dialog.DoModal(MainInstance(), kFolderWatcherTemplate, parent);
}

}  // namespace ui

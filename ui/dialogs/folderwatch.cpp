#include "ui/dialogs/folderwatch.h"

#include <string>
#include <vector>

#include "common/fileutil.h"
#include "engine/engine_api.h"
#include "engine/queue/inputtype.h"
#include "ui/ids.h"
#include "ui/main/window_services.h"

namespace ui {

namespace {

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
    HWND combo = GetItem(dlg::folderwatch::patterns);
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
    SendItemMessage(dlg::folderwatch::list, gui::LB_RESETCONTENT, 0, 0);
    const char* setting = GetPrefString(kWatchFoldersKey);
    for (const std::string& entry : SplitEntries(setting ? setting : "")) {
        SendItemMessage(dlg::folderwatch::list, gui::LB_ADDSTRING, 0, reinterpret_cast<gui::LPARAM>(entry.c_str()));
    }
}

void CDlgFolderWatcher::AddEntry() {
    const std::string folder = GetItemText(dlg::folderwatch::folder);
    if (folder.empty()) return;
    std::string pattern = GetItemText(dlg::folderwatch::patterns);
    const size_t cut = pattern.find(" (");
    if (cut != std::string::npos && cut > 0) pattern.resize(cut);
    if (pattern.empty()) pattern = "*.*";
    std::string entry = folder;
    if (entry.back() != '/' && entry.back() != '\\') entry += '/';
    entry += pattern;
    const int count = static_cast<int>(SendItemMessage(dlg::folderwatch::list, gui::LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[kSettingSize + 1] = "";
        const auto length = SendItemMessage(dlg::folderwatch::list, gui::LB_GETTEXTLEN, i, 0);
        if (length < 0 || static_cast<size_t>(length) > kSettingSize) continue;
        SendItemMessage(dlg::folderwatch::list, gui::LB_GETTEXT, i, reinterpret_cast<gui::LPARAM>(text));
        if (entry == text) return;  // the list never holds an entry twice
    }
    SendItemMessage(dlg::folderwatch::list, gui::LB_ADDSTRING, 0, reinterpret_cast<gui::LPARAM>(entry.c_str()));
    Save();
}

void CDlgFolderWatcher::Save() {
    // Whole entries only: one cut short would name a folder nobody chose.
    std::string setting;
    const int count = static_cast<int>(SendItemMessage(dlg::folderwatch::list, gui::LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const auto length = SendItemMessage(dlg::folderwatch::list, gui::LB_GETTEXTLEN, i, 0);
        if (length <= 0 || setting.size() + 1 + static_cast<size_t>(length) > kSettingSize - 1) break;
        std::string text(static_cast<size_t>(length) + 1, '\0');
        SendItemMessage(dlg::folderwatch::list, gui::LB_GETTEXT, i, reinterpret_cast<gui::LPARAM>(text.data()));
        text.resize(static_cast<size_t>(length));
        setting += ';' + text;
    }
    SetPrefString(kWatchFoldersKey, setting.empty() ? "" : setting.c_str() + 1);
}

bool CDlgFolderWatcher::OnControlCommand(int id) {
    switch (id) {
    case dlg::folderwatch::add: AddEntry(); break;
    case dlg::folderwatch::browse: {
        char path[1024] = "";
        if (BrowseForPath(path, sizeof path, nullptr, nullptr) > 0) SetItemText(dlg::folderwatch::folder, path);
        break;
    }
    case dlg::folderwatch::remove: {
        const auto selected = SendItemMessage(dlg::folderwatch::list, gui::LB_GETCURSEL, 0, 0);
        if (selected == gui::LB_ERR) break;
        SendItemMessage(dlg::folderwatch::list, gui::LB_DELETESTRING, static_cast<gui::WPARAM>(selected), 0);
        Save();
        break;
    }
    case dlg::folderwatch::clear:
        SendItemMessage(dlg::folderwatch::list, gui::LB_RESETCONTENT, 0, 0);
        Save();
        break;
    case gui::IDCANCEL: gui::PostMessageA(hwnd_, gui::WM_CLOSE, 0, 0); break;
    default: break;
    }
    return true;
}

void ShowFolderWatcherDialog(HWND parent) {
    CDlgFolderWatcher dialog;
    dialog.DoModal(MainInstance(), dlg::folderwatch::id, parent);
}

}  // namespace ui

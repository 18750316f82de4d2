#include "ui/dialogs/fileinfo.h"

#include <string>

#include "engine/engine_api.h"
#include "engine/queue/queue.h"
#include "platform/gui/desktop.h"
#include "ui/ids.h"

namespace ui {
namespace {

std::string Number(long long value, const char* unit = "") { return std::to_string(value) + unit; }

}  // namespace

CDlgFileInfo& FileInfoWindow() {
    static CDlgFileInfo window;
    return window;
}

CDlgFileInfo::~CDlgFileInfo() {
    if (font_) gui::DeleteObject(font_);
}

bool CDlgFileInfo::OnInitDialog() {
    if (!font_) font_ = gui::CreateFontA(14, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, "Courier New");
    SendItemMessage(dlg::fileinfo::tool_text, gui::WM_SETFONT, reinterpret_cast<gui::WPARAM>(font_), 1);
    SetItemText(dlg::fileinfo::tool_text, "Retrieving file information...");
    return true;
}

bool CDlgFileInfo::OnControlCommand(int id) {
    if (id != 2) return false;
    gui::PostMessageA(hwnd_, gui::WM_CLOSE, 0, 0);
    return true;
}

void CDlgFileInfo::Fill(QueueItem* item) {
    if (!hwnd_ || !item) return;
    ProbeItem(item, 1);
    SetItemText(dlg::fileinfo::source, item->file ? item->file : "");
    SetItemText(dlg::fileinfo::artist, item->tagArtist ? item->tagArtist : "");
    SetItemText(dlg::fileinfo::title, item->tagTitle ? item->tagTitle : "");
    SetItemText(dlg::fileinfo::album, item->tagAlbum ? item->tagAlbum : "");
    SetItemText(dlg::fileinfo::genre, item->tagGenre ? item->tagGenre : "");
    SetItemText(dlg::fileinfo::comment, item->tagComment ? item->tagComment : "");
    if (item->tagTrack) SetItemText(dlg::fileinfo::tag_track, Number(item->tagTrack).c_str());
    if (item->track) SetItemText(dlg::fileinfo::track, Number(item->track).c_str());
    if (item->chapter) SetItemText(dlg::fileinfo::chapter, Number(item->chapter).c_str());
    if (item->size > 0) SetItemText(dlg::fileinfo::size, Number(item->size, " KB").c_str());
    SetItemText(dlg::fileinfo::begin, Number(item->begin, " ms").c_str());
    if (item->end) {
        SetItemText(dlg::fileinfo::length, Number(static_cast<long long>(item->end) - item->begin, " ms").c_str());
    } else if (item->duration) {
        SetItemText(dlg::fileinfo::length, Number(item->duration, " ms").c_str());
    }
    SetItemText(dlg::fileinfo::disc_root, item->discRoot ? item->discRoot : "");
    const char* text = RunMediaTool(0, 0, item);
    SetItemText(dlg::fileinfo::tool_text, text ? text : "");
}

void ShowFileInfo(QueueItem* item, HWND mainWindow) {
    if (!item) return;
    CDlgFileInfo& window = FileInfoWindow();
    if (!window.Handle() && !window.CreateModeless(nullptr, dlg::fileinfo::id, mainWindow)) return;
    window.Show();
    window.Fill(item);
}

}  // namespace ui

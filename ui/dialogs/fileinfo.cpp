#include "ui/dialogs/fileinfo.h"

#include <string>

#include "engine/engine_api.h"
#include "engine/queue/queue.h"
#include "platform/gui/desktop.h"

namespace ui {
namespace {

enum : int {
    kToolText = 1070,
    kSource = 1090,
    kArtist = 1091,
    kTitle = 1092,
    kAlbum = 1093,
    kTagTrack = 1094,
    kTrack = 1095,
    kChapter = 1096,
    kGenre = 1097,
    kComment = 1098,
    kBegin = 1099,
    kLength = 1100,
    kSize = 1101,
    kDiscRoot = 1102,
};

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
    SendItemMessage(kToolText, gui::WM_SETFONT, reinterpret_cast<gui::WPARAM>(font_), 1);
    SetItemText(kToolText, "Retrieving file information...");
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
    SetItemText(kSource, item->file ? item->file : "");
    SetItemText(kArtist, item->tagArtist ? item->tagArtist : "");
    SetItemText(kTitle, item->tagTitle ? item->tagTitle : "");
    SetItemText(kAlbum, item->tagAlbum ? item->tagAlbum : "");
    SetItemText(kGenre, item->tagGenre ? item->tagGenre : "");
    SetItemText(kComment, item->tagComment ? item->tagComment : "");
    if (item->tagTrack) SetItemText(kTagTrack, Number(item->tagTrack).c_str());
    if (item->track) SetItemText(kTrack, Number(item->track).c_str());
    if (item->chapter) SetItemText(kChapter, Number(item->chapter).c_str());
    if (item->size > 0) SetItemText(kSize, Number(item->size, " KB").c_str());
    SetItemText(kBegin, Number(item->begin, " ms").c_str());
    if (item->end) {
        SetItemText(kLength, Number(static_cast<long long>(item->end) - item->begin, " ms").c_str());
    } else if (item->duration) {
        SetItemText(kLength, Number(item->duration, " ms").c_str());
    }
    SetItemText(kDiscRoot, item->discRoot ? item->discRoot : "");
    const char* text = RunMediaTool(0, 0, item);
    SetItemText(kToolText, text ? text : "");
}

void ShowFileInfo(QueueItem* item, HWND mainWindow) {
    if (!item) return;
    CDlgFileInfo& window = FileInfoWindow();
    if (!window.Handle() && !window.CreateModeless(nullptr, kFileInfoTemplate, mainWindow)) return;
    window.Show();
    window.Fill(item);
}

}  // namespace ui

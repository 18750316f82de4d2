#include "ui/dialogs/trackpicker.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "engine/context.h"
#include "engine/devices/cdrom.h"
#include "engine/queue/queue.h"
#include "engine/tools/media_probe.h"
#include "platform/fs.h"
#include "platform/gui/shell.h"
#include "ui/ids.h"

namespace ui {

namespace {


const char* const kKindNames[] = {"Bluray", "DVD", "Video CD", "Audio CD"};
const char* const kAddresses[] = {"br://", "dvd://", "vcd://", "cdda://"};

std::mutex probeLock;
CAddTrackDialog::TitleProbe titleProbe;

std::string Probe(int kind, int title, const char* device) {
    CAddTrackDialog::TitleProbe probe;
    {
        std::lock_guard<std::mutex> lock(probeLock);
        probe = titleProbe;
    }
    return probe ? probe(kind, title, device) : ProbeDiscTitles(kind, title, device);
}

// The number after a "KEY=" line of the probe's output; 0 when it is missing.
int CountAfter(const std::string& output, const char* key) {
    const size_t at = output.find(key);
    return at == std::string::npos ? 0 : std::atoi(output.c_str() + at + strlen(key));
}

// A drive root ("E:") keeps the disc's own separator; a folder of this system takes '/'.
std::string InRoot(const std::string& root, const std::string& name) {
    const bool driveRoot = root.size() >= 2 && root[1] == ':';
    return root + (driveRoot ? "\\" : "/") + name;
}

// Names of the root's files matching the pattern, in name order, hidden ones left out.
std::vector<std::string> FilesOf(const std::string& root, const std::string& pattern) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(root, ec)) {
        const std::string name = e.path().filename().string();
        if (name[0] != '.' && platform::WildcardMatch(pattern.c_str(), name.c_str())) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// "[hh:mm:ss]" of a chapter entry in ms; 0 without one.
uint32_t ChapterTime(const std::string& entry) {
    const size_t b = entry.find('[');
    if (b == std::string::npos || entry.size() < b + 9) return 0;
    const char* p = entry.c_str() + b;
    return static_cast<uint32_t>(((std::atoi(p + 1) * 60 + std::atoi(p + 4)) * 60 + std::atoi(p + 7)) * 1000);
}

std::string ListText(HWND list, int index) {
    const auto len = gui::SendMessageA(list, gui::LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (len < 0) return "";
    std::string text(static_cast<size_t>(len) + 1, '\0');
    const auto got = gui::SendMessageA(list, gui::LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

std::vector<int> Selected(HWND list) {
    const auto n = gui::SendMessageA(list, gui::LB_GETSELCOUNT, 0, 0);
    if (n <= 0) return {};
    std::vector<int> items(static_cast<size_t>(n));
    const auto got = gui::SendMessageA(list, gui::LB_GETSELITEMS, static_cast<WPARAM>(n), reinterpret_cast<LPARAM>(items.data()));
    items.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return items;
}

// Adds one item to the queue; a full queue refuses it quietly. True when it was added.
bool AddDiscItem(const std::string& path, const std::string& alias, int track, int chapter, const std::string& root,
                 uint32_t begin = 0, uint32_t end = 0) {
    QueueItem* item = QueueNewItem(path.c_str());
    if (!item) return false;
    SetStringField(&item->alias, alias.c_str());
    SetStringField(&item->discRoot, root.c_str());
    item->track = static_cast<uint16_t>(track);
    item->chapter = static_cast<uint16_t>(chapter);
    item->begin = begin;
    item->end = end;
    if (QueueAppend(item) != 0) {
        QueueFreeItem(item);
        return false;
    }
    return true;
}

void ShowQueueCount() {
    char text[32];
    snprintf(text, sizeof text, "%d queued", QueueCount());
    RaiseEvent(kEventStatusText, text);
}

}  // namespace

void CAddTrackDialog::SetTitleProbe(TitleProbe probe) {
    std::lock_guard<std::mutex> lock(probeLock);
    titleProbe = std::move(probe);
}

bool CAddTrackDialog::OnInit() {
    SendItemMessage(dlg::addtrack::drive, gui::CB_RESETCONTENT, 0, 0);
    const int drives = CdGetDriveCount();
    for (int i = 0; i < drives; ++i) {
        const char root[3] = {CdDriveLetter(i), ':', 0};
        SendItemMessage(dlg::addtrack::drive, gui::CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(root));
    }
    SetComboSel(dlg::addtrack::drive, 0);
    SendItemMessage(dlg::addtrack::kind, gui::CB_RESETCONTENT, 0, 0);
    for (const char* name : kKindNames)
        SendItemMessage(dlg::addtrack::kind, gui::CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    discKind = kBluray;
    SetComboSel(dlg::addtrack::kind, discKind);
    FillTitles();
    return true;
}

std::string CAddTrackDialog::DiscRoot() {
    std::string root = GetItemText(dlg::addtrack::root);
    if (root.empty()) {
        const int drive = GetComboSel(dlg::addtrack::drive);
        root = drive >= 0 ? GetComboText(dlg::addtrack::drive, drive) : "";
        if (root.empty()) return "";
        if (discKind == kDvd) root += "\\VIDEO_TS";
        if (discKind == kVideoCd) root += "\\MPEGAV";
    }
    if (root.size() > 3 && (root.back() == '\\' || root.back() == '/')) root.pop_back();
    return root;
}

void CAddTrackDialog::FillTitles() {
    const std::string root = DiscRoot();
    if (root.empty()) return;
    SetComboSel(dlg::addtrack::kind, discKind);
    HWND titles = GetItem(dlg::addtrack::titles);
    gui::SendMessageA(titles, gui::LB_RESETCONTENT, 0, 0);
    auto add = [&](const std::string& text) {
        gui::SendMessageA(titles, gui::LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    };
    char line[32];
    titleCount = 0;
    switch (discKind) {
        case kBluray:
        case kDvd: {
            const std::string out = Probe(discKind, 0, root.c_str());
            titleCount = CountAfter(out, discKind == kBluray ? "ID_BLURAY_TITLES=" : "ID_DVD_TITLES=");
            add("Whole Disc");
            for (int i = 1; i <= titleCount; ++i) {
                snprintf(line, sizeof line, "Track %d", i);
                add(line);
            }
            break;
        }
        case kVideoCd: {
            add("Whole Disc");
            for (const std::string& name : FilesOf(root, "*.DAT")) {
                add(name.substr(0, 7));
                ++titleCount;
            }
            break;
        }
        case kAudioCd: {
            titleCount = CdGetTrackCount(GetComboSel(dlg::addtrack::drive));
            cdTracks.resize(static_cast<size_t>(titleCount));
            for (int i = 1; i <= titleCount; ++i) {
                snprintf(line, sizeof line, "Track %02d", i);
                add(line);
            }
            const std::string drive = GetComboText(dlg::addtrack::drive, GetComboSel(dlg::addtrack::drive));
            SetItemText(dlg::addtrack::info_text, Probe(kAudioCd, 0, drive.c_str()).c_str());
            break;
        }
        default: break;
    }
}

void CAddTrackDialog::FillChapters() {
    HWND chapters = GetItem(dlg::addtrack::chapters);
    gui::SendMessageA(chapters, gui::LB_RESETCONTENT, 0, 0);
    if (discKind == kVideoCd) return;
    gui::SendMessageA(chapters, gui::LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Whole Track"));
    const int title = static_cast<int>(SendItemMessage(dlg::addtrack::titles, gui::LB_GETCARETINDEX, 0, 0));
    if (title < 1 || (discKind != kBluray && discKind != kDvd)) return;
    const std::string out = Probe(discKind, title, DiscRoot().c_str());
    const size_t at = out.find("CHAPTERS: ");
    if (at == std::string::npos) return;
    const size_t from = at + strlen("CHAPTERS: ");
    const std::string list = out.substr(from, out.find_first_of("\r\n", from) - from);
    int number = 0;
    for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string token = list.substr(start, comma - start);
        if (!token.empty()) {
            const std::string entry = "Chapter " + std::to_string(++number) + " [" + token + "]";
            gui::SendMessageA(chapters, gui::LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
        }
        start = comma + 1;
    }
}

void CAddTrackDialog::AddSelected() {
    const std::string root = DiscRoot();
    if (root.empty()) return;
    const char* address = kAddresses[discKind];
    const std::vector<int> titles = Selected(GetItem(dlg::addtrack::titles));
    const char* kindAlias = discKind == kBluray ? "Bluray" : discKind == kDvd ? "DVD" : "VCD";
    if (titles.empty()) {
        if (discKind != kAudioCd && AddDiscItem(address, kindAlias, 0, 0, root)) ShowQueueCount();
        return;
    }
    HWND chapterList = GetItem(dlg::addtrack::chapters);
    const int chapterCount = static_cast<int>(gui::SendMessageA(chapterList, gui::LB_GETCOUNT, 0, 0));
    char text[64];
    for (int index : titles) {
        const int i = discKind == kAudioCd ? index + 1 : index;
        if (discKind == kBluray || discKind == kDvd) {
            const std::string path = address + std::to_string(i);
            std::vector<int> chapters;
            for (int j : Selected(chapterList))
                if (j >= 1) chapters.push_back(j);
            if (chapters.empty()) {
                snprintf(text, sizeof text, "%s Track %d", kindAlias, i);
                if (AddDiscItem(path, text, i, 0, root)) ShowQueueCount();
            }
            for (int j : chapters) {
                snprintf(text, sizeof text, "%s Track %d Chapter %d", kindAlias, i, j);
                const uint32_t begin = ChapterTime(ListText(chapterList, j));
                const uint32_t end = j + 1 < chapterCount ? ChapterTime(ListText(chapterList, j + 1)) : 0;
                if (AddDiscItem(path, text, i, j, root, begin, end)) ShowQueueCount();
            }
        } else if (discKind == kVideoCd) {
            const std::vector<std::string> files = FilesOf(root, "*" + std::to_string(i) + ".DAT");
            if (files.empty()) continue;
            snprintf(text, sizeof text, "VCD Track %d", i);
            if (AddDiscItem(InRoot(root, files.front()), text, i, 0, root)) ShowQueueCount();
        } else {
            snprintf(text, sizeof text, "Track%02d.cda", i);
            const std::string path = InRoot(root, text);
            snprintf(text, sizeof text, "CD Track %d", i);
            if (!AddDiscItem(path, text, i, 0, root)) continue;
            const size_t t = static_cast<size_t>(i - 1);
            if (t < cdTracks.size()) {
                QueueLockGuard lock;
                if (QueueItem* item = QueueGetItem(QueueCount() - 1)) {
                    if (!cdTracks[t].title.empty()) {
                        SetStringField(&item->tagTitle, cdTracks[t].title.c_str());
                        item->flags |= kItemFlagHasTags;
                    }
                    if (!cdTracks[t].artist.empty()) SetStringField(&item->tagArtist, cdTracks[t].artist.c_str());
                }
            }
            ShowQueueCount();
        }
    }
}

bool CAddTrackDialog::OnCommand(int id, int, HWND) {
    switch (id) {
        case 1: AddSelected(); return true;
        case 2: CloseWindow(); return true;
        case dlg::addtrack::refresh: FillTitles(); return true;
        case dlg::addtrack::browse: {
            if (discKind < kBluray || discKind > kAudioCd) return true;
            if (auto folder = gui::BrowseForFolder(hwnd_, "Set disc root path", GetItemText(dlg::addtrack::root))) {
                SetItemText(dlg::addtrack::root, folder->c_str());
                FillTitles();
            }
            return true;
        }
        case dlg::addtrack::information:
            gui::MessageBoxA(hwnd_, "Function not usable at the moment.", "Information", gui::MB_OK | gui::MB_ICONINFORMATION);
            return true;
        default: return false;
    }
}

void CAddTrackDialog::CloseWindow() {
    HWND h = hwnd_;
    Close();
    if (h) gui::DestroyWindow(h);
}

bool CAddTrackDialog::OnSelChange(int id, int, HWND) {
    switch (id) {
        case dlg::addtrack::titles: FillChapters(); return true;
        case dlg::addtrack::kind: discKind = std::max(0, GetComboSel(dlg::addtrack::kind)); FillTitles(); return true;
        case dlg::addtrack::drive: FillTitles(); return true;
        default: return false;
    }
}

CAddTrackDialog& AddTrackDialog() {
    static CAddTrackDialog dialog;
    return dialog;
}

void ShowAddTrackDialog(HWND parent) {
    CAddTrackDialog& d = AddTrackDialog();
    if (d.Handle()) {
        d.Show();
        d.SetForeground();
        return;
    }
    d.CreateModeless(nullptr, dlg::addtrack::id, parent);
    d.Show();
}

}  // namespace ui

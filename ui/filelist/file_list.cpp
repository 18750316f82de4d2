#include "ui/filelist/file_list.h"

#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <tuple>
#include <unordered_set>

#include "common/fileutil.h"
#include "engine/context.h"
#include "engine/engine_api.h"
#include "engine/queue/inputtype.h"
#include "engine/queue/queue.h"
#include "platform/fs.h"
#include "platform/gui/gui.h"
#include "ui/main/shell.h"

namespace ui {

namespace {

// One list view, in the file list's own window and in the queue window, under one id.
static_assert(dlg::queue::list == dlg::filelist::list);

namespace fs = std::filesystem;

constexpr UINT kFlushRows = 1;
constexpr UINT kWalkEnded = 2;
constexpr int kWalkDepthLimit = 64;  // folders nest at most this deep in a recursive add
constexpr int kRowsPerFlush = 256;   // rows appended in one step of the UI thread

struct ColumnDef {
    const char* key;
    int width;
};
constexpr ColumnDef kColumns[kColumnCount] = {
    {"fl_name", 200}, {"fl_size", 55},  {"fl_duration", 55}, {"fl_state", 60},   {"fl_speed", 50},
    {"fl_type", 130}, {"fl_group", 50}, {"fl_preset", 160},  {"fl_path", 160}, {"fl_destdir", 160},
};

// The state names, translated when the window is first made.
const char* const kStateNames[10] = {"Ready",    "Done",     "Skipped",  "Encoding",  "Paused",
                                     "Splitting", "Stopping", "Skipping", "Finishing", "Error"};
std::string g_stateTexts[10];

const char* Ui(const char* key) { return UiStrings().GetString(key); }

std::string Format(const char* format, double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

std::string LowerExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// The extension list of "overall.generic.fileTypes" (split at ';'), lower case.
std::set<std::string> FileTypes() {
    std::set<std::string> types;
    const std::string text = GetPrefString("overall.generic.fileTypes") ? GetPrefString("overall.generic.fileTypes") : "";
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        std::string ext = text.substr(start, end - start);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!ext.empty()) types.insert(ext);
        start = end + 1;
    }
    return types;
}

// A local file path (no address, no disc or device name).
bool IsLocalFile(const char* path) { return path && *path && !std::strstr(path, "://") && !IsNetworkPath(path); }

gui::LRESULT ListSend(HWND list, UINT msg, WPARAM w, LPARAM l) { return gui::SendMessageA(list, msg, w, l); }

HWND MainWindowHandle() { return Shell().mainHwnd.load(); }

}  // namespace

CFileList& FileList() {
    static CFileList list;
    return list;
}

CFileList::CFileList() = default;

CFileList::~CFileList() {
    stopWalk_ = true;
    if (walker_.joinable()) walker_.join();
    StopWatching();
}

// --- window ---

bool CFileList::Create(HWND parent, int templateId) {
    if (hwnd_) return false;
    for (int i = 0; i < 10; ++i) {
        std::string key = kStateNames[i];
        key[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[0])));
        g_stateTexts[i] = UiStrings().GetString(key.c_str(), 0, kStateNames[i]);
    }
    current_ = nullptr;
    lastSelected_ = -1;
    if (!CreateModeless(nullptr, templateId, parent)) return false;
    RestartWatch(GetPrefString("overall.automation.watchFolders") ? GetPrefString("overall.automation.watchFolders") : "");
    return true;
}

void CFileList::Destroy() {
    stopWalk_ = true;
    WaitFolderAdd();
    if (walker_.joinable()) walker_.join();
    stopWalk_ = false;
    StopWatching();
    window_ = nullptr;
    if (hwnd_) {
        SyncCheckStates();
        Close();
    }
    current_ = nullptr;
    std::lock_guard lk(dirtyLock_);
    dirty_.clear();
    flushPosted_ = false;
    rowsChanged_ = false;
}

bool CFileList::OnInitDialog() {
    window_ = hwnd_;
    HWND list = GetItem(dlg::filelist::list);
    ListSend(list, gui::LVM_SETEXTENDEDLISTVIEWSTYLE, 0, gui::LVS_EX_FULLROWSELECT | gui::LVS_EX_CHECKBOXES);
    for (int i = 0; i < kColumnCount; ++i) {
        gui::LVCOLUMNA col;
        col.mask = gui::LVCF_TEXT | gui::LVCF_WIDTH | gui::LVCF_SUBITEM;
        col.cx = kColumns[i].width;
        col.pszText = const_cast<char*>(Ui(kColumns[i].key));
        col.iSubItem = i;
        ListSend(list, gui::LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&col));
    }
    gui::RECT r;
    gui::GetWindowRect(list, &r);
    gui::POINT at{r.left, r.top};
    gui::ScreenToClient(hwnd_, &at);
    marginLeft_ = at.x;
    marginTop_ = at.y;
    return true;
}

bool CFileList::OnSize(int width, int height) {
    if (HWND list = GetItem(dlg::filelist::list))
        gui::MoveWindow(list, marginLeft_, marginTop_, std::max(0, width - marginLeft_), std::max(0, height - marginTop_), 1);
    return true;
}

bool CFileList::OnClose() {
    SyncCheckStates();
    SendItemMessage(dlg::filelist::list, gui::LVM_DELETEALLITEMS, 0, 0);
    window_ = nullptr;  // the window goes; rows wait for the next one
    return true;
}

// --- rows ---

int CFileList::RowCount() {
    if (!hwnd_) return 0;
    return static_cast<int>(SendItemMessage(dlg::filelist::list, gui::LVM_GETITEMCOUNT, 0, 0));
}

QueueItem* CFileList::RowParam(int row) {
    if (!hwnd_ || row < 0) return nullptr;
    gui::LVITEMA it;
    it.mask = gui::LVIF_PARAM;
    it.iItem = row;
    if (!SendItemMessage(dlg::filelist::list, gui::LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it))) return nullptr;
    return reinterpret_cast<QueueItem*>(it.lParam);
}

QueueItem* CFileList::RowItem(int row) {
    QueueItem* item = RowParam(row);
    return item && QueueIndexOf(item) >= 0 ? item : nullptr;
}

void CFileList::InsertRow(int row, QueueItem* item, bool checked) {
    gui::LVITEMA it;
    it.mask = gui::LVIF_TEXT | gui::LVIF_PARAM | gui::LVIF_STATE;
    it.iItem = row;
    it.pszText = const_cast<char*>("");
    it.lParam = reinterpret_cast<LPARAM>(item);
    it.stateMask = gui::LVIS_STATEIMAGEMASK;
    it.state = gui::INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    SendItemMessage(dlg::filelist::list, gui::LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&it));
    // A new row of a running item gets every cell, not only its progress.
    WriteRowAt(row, item, true);
}

void CFileList::DeleteRow(int row) { SendItemMessage(dlg::filelist::list, gui::LVM_DELETEITEM, static_cast<WPARAM>(row), 0); }

std::string CFileList::SizeText(uint32_t kb) {
    char buf[32];
    if (kb < 10240) std::snprintf(buf, sizeof buf, "%u KB", kb);
    else if (kb < 1048576) std::snprintf(buf, sizeof buf, "%u MB", kb / 1024);
    else std::snprintf(buf, sizeof buf, "%.1f GB", (kb / 1024.0) / 1024.0);
    return buf;
}

std::string CFileList::DurationText(int32_t ms) {
    if (ms <= 0) return {};
    const int s = ms / 1000;
    char buf[32];
    if (s >= 3600) std::snprintf(buf, sizeof buf, "%d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(buf, sizeof buf, "%02d:%02d", s / 60, s % 60);
    return buf;
}

std::string CFileList::StateText(uint32_t state, int32_t errorCode) {
    const uint32_t i = state > 9 ? 9 : state;
    std::string name = g_stateTexts[i].empty() ? kStateNames[i] : g_stateTexts[i];
    if (errorCode != 0) name += " (" + std::to_string(errorCode) + ")";
    return name;
}

std::string CFileList::DisplayName(const QueueItem* item) {
    if (item->alias && *item->alias) return item->alias;
    if ((item->flags.load() & kItemFlagHasTags) && item->tagArtist && item->tagTitle)
        return std::string(item->tagArtist) + " - " + item->tagTitle;
    const std::string file = item->file ? item->file : "";
    auto parts = [&](std::string text) {
        if (item->track) text += " Track " + std::to_string(item->track);
        if (item->chapter) text += " Chapter " + std::to_string(item->chapter);
        return text;
    };
    if (file.rfind("br://", 0) == 0) return parts("Bluray");
    if (file.rfind("dvd://", 0) == 0 || file.rfind("dvdnav://", 0) == 0) return parts("DVD");
    if (file.rfind("vcd://", 0) == 0) return item->track ? "VCD Track " + std::to_string(item->track) : "VCD";
    if (file.find("://") != std::string::npos) return file;
    const char sep = file.find('\\') != std::string::npos ? '\\' : '/';
    std::string name = file.substr(file.find_last_of(sep) == std::string::npos ? 0 : file.find_last_of(sep) + 1);
    if (item->track) {
        name += " (Track " + std::to_string(item->track);
        if (item->chapter) name += " Chapter " + std::to_string(item->chapter);
        name += ")";
    }
    return name;
}

void CFileList::WriteRowAt(int row, QueueItem* item, bool allCells) {
    std::lock_guard lk(rowMutex_);
    HWND list = GetItem(dlg::filelist::list);
    auto cell = [&](int column, const std::string& text) {
        gui::LVITEMA it;
        it.iSubItem = column;
        it.pszText = const_cast<char*>(text.c_str());
        ListSend(list, gui::LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&it));
    };
    const double progress = item->run.progress.load();
    const double speed = item->run.speed.load();
    const bool running = progress > 0 && progress < 100;
    if (running && !allCells) {
        cell(kColState, Format("%.1f%%", progress));
        if (speed > 0) cell(kColSpeed, Format("%.1fX", speed));
        return;
    }
    // Only local files are measured; an address or a missing file keeps its size unknown.
    if (item->size == 0 && item->inputType && item->inputType->typeId != 42 && IsLocalFile(item->file)) {
        const int64_t kb = GetFileKB(item->file);
        if (kb > 0 && kb <= UINT32_MAX) item->size = static_cast<uint32_t>(kb);
    }
    cell(kColSize, item->size >= 1 && item->begin == 0 && item->end == 0 ? SizeText(item->size) : "");
    cell(kColDuration, DurationText(item->duration));
    cell(kColSpeed, speed > 0 ? Format("%.1fX", speed) : "");
    cell(kColGroup, item->group ? std::to_string(item->group) : "");
    cell(kColType, item->inputType && item->inputType->description ? item->inputType->description : "");
    cell(kColState, running ? Format("%.1f%%", progress) : StateText(item->state.load(), item->errorCode.load()));
    cell(kColPath, item->file ? item->file : "");
    cell(kColDestDir, (item->flags.load() & kItemFlagUserDest) && item->destFile ? item->destFile : "");
    cell(kColPreset, item->preset ? item->preset : "");
    cell(kColName, DisplayName(item));
}

void CFileList::RefreshRows() {
    if (!window_.load()) return;
    if (!gui::IsUiThread()) {
        {
            std::lock_guard lk(dirtyLock_);
            rowsChanged_ = true;
        }
        PostFlush();
        return;
    }
    std::lock_guard lk(rowMutex_);
    SendItemMessage(dlg::filelist::list, gui::LVM_DELETEALLITEMS, 0, 0);
    QueueLockGuard queue;
    int row = 0;
    for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it), ++row)
        InsertRow(row, it, !(it->flags.load() & kItemFlagSkip));
}

void CFileList::PostFlush() {
    {
        std::lock_guard lk(dirtyLock_);
        if (flushPosted_) return;
        flushPosted_ = true;
    }
    if (HWND window = window_.load()) gui::PostMessageA(window, gui::WM_USER, kFlushRows, 0);
}

void CFileList::WriteRow(QueueItem* item) {
    if (!item || !window_.load()) return;
    if (!gui::IsUiThread()) {
        {
            std::lock_guard lk(dirtyLock_);
            dirty_.insert(item);
        }
        PostFlush();
        return;
    }
    FlushRows();
    QueueLockGuard queue;
    const int row = QueueIndexOf(item);
    if (row < 0 || row >= RowCount()) return;
    WriteRowAt(row, item);
}

void CFileList::FlushRows(int rowLimit) {
    if (!hwnd_) return;
    std::set<QueueItem*> dirty;
    bool rebuild = false;
    {
        std::lock_guard lk(dirtyLock_);
        dirty.swap(dirty_);
        rebuild = rowsChanged_;
        rowsChanged_ = false;
        flushPosted_ = false;
    }
    if (AppendRows(dirty, rebuild, rowLimit)) PostFlush();
}

// Appends rows for at most rowLimit of the queue's items that have none yet and rewrites the dirty
// rows; true when rows are still missing.
bool CFileList::AppendRows(const std::set<QueueItem*>& dirty, bool rebuild, int rowLimit) {
    std::lock_guard lk(rowMutex_);
    QueueLockGuard queue;
    int rows = RowCount();
    const int count = QueueCount();
    // The rows are a prefix of the queue when the last row still shows the item at its index;
    // then only the missing rows are appended, else the list is rebuilt.
    if (!rebuild && rows <= count && rows > 0) {
        gui::LVITEMA it;
        it.mask = gui::LVIF_PARAM;
        it.iItem = rows - 1;
        SendItemMessage(dlg::filelist::list, gui::LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it));
        rebuild = reinterpret_cast<QueueItem*>(it.lParam) != QueueGetItem(rows - 1);
    } else if (rows > count) {
        rebuild = true;
    }
    if (rebuild) {
        RefreshRows();
        return false;
    }
    if (rows < count) {
        const int last = rows + std::min(count - rows, rowLimit);
        QueueItem* it = QueueGetItem(rows);
        for (; it && rows < last; it = QueueNext(it), ++rows) InsertRow(rows, it, !(it->flags.load() & kItemFlagSkip));
    }
    for (QueueItem* item : dirty) {
        const int row = QueueIndexOf(item);
        if (row >= 0 && row < rows) WriteRowAt(row, item);
    }
    return rows < count;
}

bool CFileList::OnUser(WPARAM wParam, LPARAM lParam) {
    // A large folder arrives in pieces: the window answers between them.
    if (wParam == kFlushRows) FlushRows(kRowsPerFlush);
    // The end of an earlier walk that was waited for already is passed over.
    else if (wParam == kWalkEnded) {
        if (lParam == walkGeneration_.load() && walking_.load()) WalkEnded();
    }
    else return false;
    return true;
}

std::vector<bool> CFileList::CheckStates() {
    std::vector<bool> checked;
    const int rows = RowCount();
    checked.reserve(static_cast<size_t>(rows));
    for (int row = 0; row < rows; ++row) {
        const auto state = static_cast<UINT>(
            SendItemMessage(dlg::filelist::list, gui::LVM_GETITEMSTATE, static_cast<WPARAM>(row), gui::LVIS_STATEIMAGEMASK));
        checked.push_back(state != gui::INDEXTOSTATEIMAGEMASK(1));
    }
    return checked;
}

void CFileList::SyncCheckStates() {
    if (!hwnd_ || !gui::IsUiThread()) return;
    const std::vector<bool> checked = CheckStates();
    // Only items the queue still holds are marked; looked up once, not per row.
    QueueLockGuard queue;
    std::unordered_set<QueueItem*> queued;
    for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) queued.insert(it);
    for (int row = 0; row < static_cast<int>(checked.size()); ++row) {
        QueueItem* item = RowParam(row);
        if (!queued.count(item)) continue;
        if (checked[static_cast<size_t>(row)]) item->flags.fetch_and(~kItemFlagSkip);
        else item->flags.fetch_or(kItemFlagSkip);
    }
}

// --- selection and the current item ---

int CFileList::GetFocusedItem() {
    if (!hwnd_) return -1;
    for (int row = RowCount() - 1; row >= 0; --row)
        if (SendItemMessage(dlg::filelist::list, gui::LVM_GETITEMSTATE, static_cast<WPARAM>(row), gui::LVIS_FOCUSED) &
            gui::LVIS_FOCUSED)
            return row;
    return -1;
}

int CFileList::FirstSelected() { return NextSelected(-2); }

int CFileList::NextSelected(int start) {
    if (!hwnd_) return -1;
    if (start == -1) start = lastSelected_;
    const int rows = RowCount();
    for (int row = std::max(start + 1, 0); row < rows; ++row) {
        if (SendItemMessage(dlg::filelist::list, gui::LVM_GETITEMSTATE, static_cast<WPARAM>(row), gui::LVIS_SELECTED) &
            gui::LVIS_SELECTED) {
            lastSelected_ = row;
            return row;
        }
    }
    lastSelected_ = -1;
    return -1;
}

void CFileList::SelectRow(int row, bool select) {
    if (!hwnd_ || row < 0 || row >= RowCount()) return;
    gui::LVITEMA it;
    it.stateMask = gui::LVIS_SELECTED | (select ? gui::LVIS_FOCUSED : 0);
    it.state = select ? gui::LVIS_SELECTED | gui::LVIS_FOCUSED : 0;
    SendItemMessage(dlg::filelist::list, gui::LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&it));
    if (select) current_ = RowItem(row);
}

QueueItem* CFileList::CurrentItem() {
    QueueItem* item = current_;
    return item && QueueIndexOf(item) >= 0 ? item : nullptr;
}

QueueItem* CFileList::GetCurrentItem() {
    if (QueueItem* item = CurrentItem()) return item;
    SelectFirstRow();
    if (!current_) current_ = QueueGetItem(0);
    return CurrentItem();
}

void CFileList::SetCurrentItem(QueueItem* item) { current_ = item; }

void CFileList::SelectFirstRow() {
    if (RowCount() > 0) SelectRow(0, true);
    else current_ = QueueGetItem(0);
}

void CFileList::InvertSelection() {
    const int rows = RowCount();
    for (int row = 0; row < rows; ++row) {
        const bool selected = SendItemMessage(dlg::filelist::list, gui::LVM_GETITEMSTATE, static_cast<WPARAM>(row),
                                              gui::LVIS_SELECTED) & gui::LVIS_SELECTED;
        gui::LVITEMA it;
        it.stateMask = gui::LVIS_SELECTED;
        it.state = selected ? 0 : gui::LVIS_SELECTED;
        SendItemMessage(dlg::filelist::list, gui::LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&it));
    }
}

void CFileList::SelectAll() {
    for (int row = RowCount() - 1; row >= 0; --row) SelectRow(row, true);
    current_ = QueueGetItem(0);
}

void CFileList::ShowQueueCount() {
    char text[32];
    std::snprintf(text, sizeof text, "%d queued", QueueCount());
    RaiseEvent(13, static_cast<intptr_t>(0), reinterpret_cast<int64_t>(text));
}

// --- adding ---

QueueItem* CFileList::AddFile(const std::string& path, const char* alias, int track, int chapter) {
    platform::PathInfo info;
    if (!path.empty() && path.find("://") == std::string::npos && platform::StatPath(path.c_str(), &info) && info.isDir) {
        AddFolder(path, true);
        return nullptr;
    }
    QueueItem* last = QueueAdder::AddFile(path, alias, track, chapter);
    if (gui::IsUiThread()) {
        FlushRows();
        if (GetFocusedItem() < 0) SelectFirstRow();
        ShowQueueCount();
    }
    return last;
}

QueueItem* CFileList::AddMedia(const std::string& path, const char* alias, int track, int chapter) {
    QueueItem* item = QueueNewItem(path.c_str());
    if (!item) return nullptr;
    SetStringField(&item->alias, alias);
    item->track = static_cast<uint16_t>(std::clamp(track, 0, 65535));
    item->chapter = static_cast<uint16_t>(std::clamp(chapter, 0, 65535));
    // A subtitle file of the same name beside a local file: the first of these that exists.
    if (IsLocalFile(path.c_str())) {
        const size_t nameAt = path.find_last_of('/') + 1;
        const size_t dot = path.rfind('.');
        const std::string base = dot != std::string::npos && dot >= nameAt ? path.substr(0, dot) : path;
        for (const char* ext : {".sub", ".srt", ".ssa", ".ass"}) {
            const std::string candidate = base + ext;
            if (candidate != path && platform::PathExists(candidate.c_str())) {
                SetStringField(&item->subtitle, candidate.c_str());
                break;
            }
        }
    }
    if (QueueAppend(item) != 0) {
        QueueFreeItem(item);
        queueFull_ = true;
        return nullptr;
    }
    OnItemAppended(item);
    return item;
}

void CFileList::OnItemAppended(QueueItem*) {
    // The row is appended by the UI thread's next flush; on the UI thread the adder flushes itself.
    if (!gui::IsUiThread()) PostFlush();
}

void CFileList::OnRowsChanged() {
    if (!gui::IsUiThread()) PostFlush();
}

bool CFileList::OnNewFile(const std::string& folder, const std::string& name) {
    return AddWatchedFile(*this, folder, name);
}

bool CFileList::AddFolder(const std::string& folder, bool recursive) {
    std::string path = folder;
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    {
        std::lock_guard lk(foldersLock_);
        pendingFolders_.emplace_back(path, recursive);
        if (walkerActive_) return true;  // the running walk takes it after the folders before it
        walkerActive_ = true;
    }
    if (walker_.joinable()) walker_.join();
    walkEnded_.Reset();
    walking_ = true;
    queueFull_ = false;
    const LPARAM generation = ++walkGeneration_;
    walker_ = std::thread([this, generation] { WalkFolders(generation); });
    return true;
}

void CFileList::WalkFolders(LPARAM generation) {
    for (;;) {
        std::pair<std::string, bool> next;
        {
            std::lock_guard lk(foldersLock_);
            if (pendingFolders_.empty() || stopWalk_.load()) {
                pendingFolders_.clear();
                walkerActive_ = false;
                break;
            }
            next = std::move(pendingFolders_.front());
            pendingFolders_.pop_front();
        }
        WalkFolder(next.first, next.second);
    }
    walkEnded_.Set();
    if (HWND window = window_.load()) gui::PostMessageA(window, gui::WM_USER, kWalkEnded, generation);
}

void CFileList::WalkFolder(const std::string& folder, bool recursive) {
    const std::set<std::string> types = FileTypes();
    std::string wildcard = GetPrefString("overall.generic.wildcard") ? GetPrefString("overall.generic.wildcard") : "";
    if (wildcard.empty() || wildcard == "*.*") wildcard = "*";
    // Files the queue holds already are not added again; the walk itself meets each path once.
    std::set<std::string> queued;
    {
        QueueLockGuard queue;
        for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it))
            if (it->file) queued.insert(it->file);
    }
    // Folders are entered once each (by device and inode), so links that loop are walked once.
    std::set<std::pair<uint64_t, uint64_t>> visited;
    std::function<void(const std::string&, int)> scan = [&](const std::string& dir, int depth) {
        struct stat st{};
        if (::stat(dir.c_str(), &st) != 0 || !visited.insert({st.st_dev, st.st_ino}).second) return;
        std::error_code ec;
        std::vector<fs::directory_entry> entries;
        for (fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end; !ec && it != end;
             it.increment(ec))
            entries.push_back(*it);
        std::sort(entries.begin(), entries.end(),
                  [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
        for (const fs::directory_entry& entry : entries) {
            if (stopWalk_.load() || queueFull_.load()) return;
            const std::string name = entry.path().filename().string();
            std::error_code e;
            if (entry.is_directory(e)) {
                if (depth != 0 && depth < kWalkDepthLimit + 1) scan(entry.path().string(), depth < 0 ? -1 : depth - 1);
                continue;
            }
            if (fnmatch(wildcard.c_str(), name.c_str(), FNM_CASEFOLD) != 0) continue;
            if (!types.count(LowerExtension(name))) continue;
            const std::string path = entry.path().string();
            if (!queued.insert(path).second) continue;
            QueueAdder::AddFile(path);
        }
    };
    scan(folder, recursive ? -1 : 0);
}

void CFileList::WalkEnded() {
    if (walker_.joinable()) walker_.join();
    walking_ = false;
    if (!hwnd_) return;
    FlushRows();
    if (GetFocusedItem() < 0) SelectFirstRow();
    ShowQueueCount();
}

void CFileList::WaitFolderAdd() {
    if (!walking_.load()) return;
    // Bounded by the walk itself: it ends when the folders queued for it have been scanned.
    walkEnded_.Wait(platform::kInfinite);  // pumps on the UI thread
    if (walking_.load() && gui::IsUiThread()) WalkEnded();
}

std::vector<std::pair<std::string, std::string>> InputTypeFilters() {
    std::vector<std::pair<std::string, std::string>> filters{{"All Files", "*.*"}};
    for (int i = 0;; ++i) {
        const InputTypeRow* row = GetInputTypeRow(i);
        if (!row || !row->ext) break;
        char text[256];
        std::snprintf(text, sizeof text, "%s (%s)", row->description ? row->description : "", row->ext);
        filters.emplace_back(text, std::string("*.") + row->ext);
    }
    return filters;
}

namespace {

// The chosen names of a multi-select buffer: "path\0" alone, or "folder\0name\0name\0\0".
std::vector<std::string> ChosenFiles(const char* buffer) {
    std::vector<std::string> parts;
    for (const char* p = buffer; *p; p += std::strlen(p) + 1) parts.emplace_back(p);
    if (parts.size() <= 1) return parts;
    std::vector<std::string> files;
    std::string folder = parts[0];
    if (folder.back() != '/' && folder.back() != '\\') folder += '/';
    for (size_t i = 1; i < parts.size(); ++i) files.push_back(folder + parts[i]);
    return files;
}

}  // namespace

QueueItem* CFileList::AddFilesDialog(HWND owner) {
    const std::string filter = FileDialogFilter(InputTypeFilters());
    std::vector<char> buffer(16384, 0);
    gui::OPENFILENAMEA ofn{};
    ofn.hwndOwner = owner == reinterpret_cast<HWND>(-1) ? hwnd_ : owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<gui::DWORD>(buffer.size());
    ofn.lpstrTitle = Ui("menu_add_file");
    ofn.Flags = 0x83200;
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    const bool chosen = gui::GetOpenFileNameA(&ofn);
    if (!ec) fs::current_path(cwd, ec);
    if (!chosen) return nullptr;
    QueueItem* last = nullptr;
    for (const std::string& file : ChosenFiles(buffer.data()))
        if (QueueItem* item = AddFile(file)) last = item;
    return last;
}

// --- row commands ---

void CFileList::RemoveSelected() {
    int lastRow = -1;
    for (int row = RowCount() - 1; row >= 0; --row) {
        if (!(SendItemMessage(dlg::filelist::list, gui::LVM_GETITEMSTATE, static_cast<WPARAM>(row), gui::LVIS_SELECTED) &
              gui::LVIS_SELECTED))
            continue;
        QueueItem* item = RowItem(row);
        if (item) {
            if (item->audioTask.load() || QueueRemove(item) < 0) break;
            if (current_ == item) current_ = nullptr;
            QueueFreeItem(item);
        }
        DeleteRow(row);
        lastRow = row;
    }
    if (lastRow >= 0) {
        const int rows = RowCount();
        if (rows > 0) SelectRow(std::min(lastRow, rows - 1), true);
        else current_ = nullptr;
    }
    gui::SetFocus(GetItem(dlg::filelist::list));
    ShowQueueCount();
}

void CFileList::RemoveByState(uint32_t state) {
    int lastRow = -1;
    for (int row = RowCount() - 1; row >= 0; --row) {
        QueueItem* item = RowItem(row);
        if (!item || item->state.load() != state || item->audioTask.load()) continue;
        if (QueueRemove(item) < 0) continue;
        if (current_ == item) current_ = nullptr;
        QueueFreeItem(item);
        DeleteRow(row);
        lastRow = row;
    }
    if (lastRow >= 0 && RowCount() > 0) SelectRow(std::min(lastRow, RowCount() - 1), true);
    gui::SetFocus(GetItem(dlg::filelist::list));
    ShowQueueCount();
}

void CFileList::RemoveAll() {
    current_ = nullptr;
    if (hwnd_) SendItemMessage(dlg::filelist::list, gui::LVM_DELETEALLITEMS, 0, 0);
    QueueClear();
    // Items whose job still runs stay in the queue and keep their rows.
    if (hwnd_ && QueueCount() > 0) RefreshRows();
    ShowQueueCount();
}

void CFileList::SetSelectedState(uint32_t state) {
    for (int row = FirstSelected(); row >= 0; row = NextSelected(row)) {
        QueueItem* item = RowItem(row);
        // A running job's state belongs to its worker.
        if (!item || item->audioTask.load()) continue;
        item->state = state;
        WriteRowAt(row, item);
    }
}

void CFileList::EditSelected(int column) {
    QueueItem* cur = GetCurrentItem();
    std::vector<char> buffer(4096, 0);
    gui::OPENFILENAMEA ofn{};
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<gui::DWORD>(buffer.size());
    std::string filter;
    bool chosen = false;
    if (column == kColPreset) {
        filter = FileDialogFilter({{"Presets", "*.xml"}});
        if (cur && cur->preset) std::snprintf(buffer.data(), buffer.size(), "%s", cur->preset);
        ofn.lpstrFilter = filter.c_str();
        ofn.lpstrTitle = Ui("menu_set_preset");
        chosen = gui::GetOpenFileNameA(&ofn);
    } else if (column == kColDestDir) {
        filter = FileDialogFilter(InputTypeFilters());
        if (cur && (cur->flags.load() & kItemFlagUserDest) && cur->destFile)
            std::snprintf(buffer.data(), buffer.size(), "%s", cur->destFile);
        ofn.lpstrFilter = filter.c_str();
        ofn.lpstrTitle = Ui("menu_set_out_file");
        chosen = gui::GetSaveFileNameA(&ofn);
    } else {
        return;
    }
    // A cancel changes nothing.
    if (!chosen || !buffer[0]) return;
    for (int row = FirstSelected(); row >= 0; row = NextSelected(row)) {
        QueueItem* item = RowItem(row);
        if (!item) continue;
        if (column == kColPreset) {
            SetStringField(&item->preset, buffer.data());
        } else {
            SetStringField(&item->destFile, buffer.data());
            item->flags.fetch_or(kItemFlagUserDest);
        }
        WriteRowAt(row, item);
    }
}

void CFileList::MoveItem(int from, int to) {
    if (from < 0) from = GetFocusedItem();
    const int count = QueueCount();
    if (from < 0 || from >= count || to < 0 || to >= count || from == to) return;
    const std::vector<bool> checked = CheckStates();
    {
        QueueLockGuard queue;
        QueueItem* item = QueueGetItem(from);
        if (!item || QueueRemove(item) < 0) return;
        // Put back where it was when the new place is refused, so the item is never lost.
        if (QueueInsertAt(item, to) != 0 && QueueInsertAt(item, from) != 0) QueueAppend(item);
    }
    RefreshRows();
    std::vector<bool> moved = checked;
    if (static_cast<size_t>(from) < moved.size() && static_cast<size_t>(to) < moved.size()) {
        const bool mark = moved[static_cast<size_t>(from)];
        moved.erase(moved.begin() + from);
        moved.insert(moved.begin() + to, mark);
    }
    CheckRows(moved);
    SelectRow(to, true);
}

namespace {

// The value a column sorts by: a number, or a text compared without regard to case.
struct SortKey {
    double number = 0;
    std::string text;
};

SortKey ColumnKey(const QueueItem* item, int column) {
    SortKey key;
    auto text = [&](const char* value) {
        key.text = value ? value : "";
        for (char& c : key.text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    switch (column) {
    case kColName: text(CFileList::DisplayName(item).c_str()); break;
    // The size a row shows: none for a part of a file.
    case kColSize: key.number = item->begin == 0 && item->end == 0 ? item->size : 0; break;
    case kColDuration: key.number = item->duration; break;
    case kColState: key.number = item->state.load() * 65536.0 + item->errorCode.load(); break;
    case kColSpeed: key.number = item->run.speed.load(); break;
    case kColType: text(item->inputType ? item->inputType->description : nullptr); break;
    case kColGroup: key.number = item->group; break;
    case kColPreset: text(item->preset); break;
    case kColPath: text(item->file); break;
    case kColDestDir: text((item->flags.load() & kItemFlagUserDest) ? item->destFile : nullptr); break;
    default: break;
    }
    return key;
}

}  // namespace

bool SortQueueByColumn(int column, bool falling) {
    if (column < 0 || column >= kColumnCount) return false;
    QueueLockGuard queue;
    std::vector<std::pair<SortKey, QueueItem*>> items;
    for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) items.emplace_back(ColumnKey(it, column), it);
    // Unlinked from the front, where each is found at once.
    for (const auto& entry : items) QueueRemove(entry.second);
    const bool numeric = column == kColSize || column == kColDuration || column == kColState || column == kColSpeed ||
                         column == kColGroup;
    std::stable_sort(items.begin(), items.end(), [&](const auto& a, const auto& b) {
        const auto& [x, y] = falling ? std::tie(b.first, a.first) : std::tie(a.first, b.first);
        return numeric ? x.number < y.number : x.text < y.text;
    });
    // Relinked in the new order; the same items go back, so the queue takes every one again.
    for (const auto& entry : items) QueueAppend(entry.second);
    return true;
}

void CFileList::SortByColumn(int column) {
    if (!hwnd_ || column < 0 || column >= kColumnCount) return;
    sortFalling_ = column == sortColumn_ ? !sortFalling_ : false;
    sortColumn_ = column;
    SyncCheckStates();
    std::set<QueueItem*> selected;
    for (int row = FirstSelected(); row >= 0; row = NextSelected(row))
        if (QueueItem* item = RowItem(row)) selected.insert(item);
    SortQueueByColumn(column, sortFalling_);
    RefreshRows();
    for (int row = 0; !selected.empty() && row < RowCount(); ++row) {
        QueueItem* item = RowParam(row);
        if (!selected.count(item)) continue;
        gui::LVITEMA it;
        it.stateMask = gui::LVIS_SELECTED | (item == current_ ? gui::LVIS_FOCUSED : 0);
        it.state = it.stateMask;
        SendItemMessage(dlg::filelist::list, gui::LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&it));
    }
}

void CFileList::MoveSelected(int by) {
    const int row = FirstSelected();
    if (row < 0) return;
    MoveItem(row, row + by);
}

void CFileList::CheckRows(const std::vector<bool>& checked) {
    for (int row = 0; row < static_cast<int>(checked.size()) && row < RowCount(); ++row) {
        gui::LVITEMA it;
        it.stateMask = gui::LVIS_STATEIMAGEMASK;
        it.state = gui::INDEXTOSTATEIMAGEMASK(checked[static_cast<size_t>(row)] ? 2 : 1);
        SendItemMessage(dlg::filelist::list, gui::LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&it));
    }
}

void CFileList::GroupSelected() {
    int group = 0;
    const int first = FirstSelected();
    if (first < 0) return;
    if (QueueItem* item = RowItem(first)) group = item->group;
    if (group == 0) {
        QueueLockGuard queue;
        for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) group = std::max(group, it->group);
        ++group;
    }
    for (int row = first; row >= 0; row = NextSelected(row))
        if (QueueItem* item = RowItem(row)) {
            item->group = group;
            WriteRowAt(row, item);
        }
}

void CFileList::UngroupSelected() {
    for (int row = FirstSelected(); row >= 0; row = NextSelected(row))
        if (QueueItem* item = RowItem(row)) {
            item->group = 0;
            WriteRowAt(row, item);
        }
}

// --- user input ---

bool CFileList::OnNotify(gui::NMHDR* header) {
    if (!header || static_cast<int>(header->idFrom) != dlg::filelist::list) return false;
    HWND main = MainWindowHandle();
    const bool transcoding = GetItemState(nullptr) == kItemEncoding;
    switch (header->code) {
    case gui::LVN_KEYDOWN: {
        auto* key = reinterpret_cast<gui::NMLVKEYDOWN*>(header);
        if (key->wVKey == gui::VK_DELETE && !transcoding && RowCount() > 0) {
            RemoveSelected();
            SettingsChangedLevel = 0;
        }
        return true;
    }
    case gui::LVN_ITEMACTIVATE:
        if (main) gui::SendMessageA(main, gui::WM_COMMAND, cmd::play, 0);
        return true;
    case gui::NM_RCLICK: ShowMenuAtCursor(menu::row, header->hwndFrom, 0, 0); return true;
    case gui::LVN_COLUMNCLICK: SortByColumn(reinterpret_cast<gui::NMLISTVIEW*>(header)->iSubItem); return true;
    case gui::NM_CLICK: {
        auto* click = reinterpret_cast<gui::NMITEMACTIVATE*>(header);
        int row = click->iItem;
        if (row < 0) row = GetFocusedItem();
        if (row < 0) row = 0;
        if (QueueItem* item = RowItem(row)) {
            current_ = item;
            SettingsChangedLevel = 2;
            ApplyCountdown = transcoding ? 2 : 0;
            if (item->inputType && item->inputType->typeId == 40) RaiseEvent(23, item->file);
        }
        return true;
    }
    default: return false;
    }
}

// Buttons and menu commands of the file list's own window go to the main window; the main
// window's preview and remove buttons open their menus here.
bool CFileList::OnCommand(int id, int code, HWND control) {
    if (id == dlg::main::preview || id == dlg::main::remove_menu) {
        ShowMenu(id == dlg::main::preview ? menu::preview : menu::remove, control, 0, 0);
        return true;
    }
    HWND main = MainWindowHandle();
    if (!main) return false;
    gui::SendMessageA(main, gui::WM_COMMAND, gui::MAKEWPARAM(static_cast<gui::WORD>(id), static_cast<gui::WORD>(code)),
                      reinterpret_cast<LPARAM>(control));
    return true;
}

bool CFileList::OnMenuCommand(int id) {
    HWND main = MainWindowHandle();
    if (!main) return false;
    gui::SendMessageA(main, gui::WM_COMMAND, static_cast<WPARAM>(id), 0);
    return true;
}

}  // namespace ui

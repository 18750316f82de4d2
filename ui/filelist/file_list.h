// The file list: the one window that shows the task queue, one row per queue item in queue order,
// and the road by which files, folders, playlists and cue sheets enter the queue from the user
// interface. It adds through QueueAdder, watches folders as a CFolderWatcher, and its current item
// is the item the main window's commands act on.
//
// Threads: rows (list-view cells) are written on the UI thread only. Other threads (workers, the
// folder walk, the folder watcher) mark items dirty and post WM_USER to the window; the UI thread
// writes them. A folder add walks on a thread of its own, so the window keeps answering.
//
// Lock order: UI mutex -> rowMutex_ -> dirtyLock_ -> the queue lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sync.h"
#include "ui/filelist/folder_watcher.h"
#include "ui/filelist/queue_adder.h"
#include "ui/framework/dialog.h"
#include "ui/ids.h"

struct QueueItem;

namespace ui {

// Columns, in order.
enum FileListColumn {
    kColName = 0,
    kColSize,
    kColDuration,
    kColState,
    kColSpeed,
    kColType,
    kColGroup,
    kColPreset,
    kColPath,
    kColDestDir,
    kColumnCount
};

class CFileList : public CDialogWindow, public QueueAdder, public CFolderWatcher {
public:
    CFileList();
    ~CFileList() override;

    // Makes the window (once) from the template as a child of parent and starts the folder
    // watcher; false when it exists already or cannot be made.
    bool Create(HWND parent, int templateId);
    // Ends a running folder add and the folder watcher, writes the check marks back and closes
    // the window. Safe when nothing was made.
    void Destroy();

    // A folder adds its files (recursively, in the background) and null is returned; a playlist or
    // cue sheet its entries; anything else one item (with a subtitle file of the same name beside
    // it). The last item added, or null.
    QueueItem* AddFile(const std::string& path, const char* alias = nullptr, int track = 0, int chapter = 0);
    // Starts adding the folder's files whose extension is one of "overall.generic.fileTypes"
    // (recursive: subfolders too) on a thread of its own; rows appear as the items come. A file
    // the queue holds already is not added again. A folder given while a folder add runs is
    // walked after the folders before it. True when the folder was taken.
    bool AddFolder(const std::string& folder, bool recursive);
    bool FolderAddRunning() const { return walking_.load(); }
    // Waits (serving the UI thread's messages) until no folder add runs: a batch starts only
    // once the folders given before it have been scanned.
    void WaitFolderAdd();
    // The file-open dialog; the chosen files are added. The last item added, or null.
    QueueItem* AddFilesDialog(HWND owner);

    void RefreshRows();
    // Writes the item's row (any thread: off the UI thread the row is written shortly after).
    void WriteRow(QueueItem* item);
    // Writes every row marked dirty and appends rows for items the list lacks, at most rowLimit of
    // them (the rest in a later flush it posts) (UI thread).
    void FlushRows(int rowLimit = std::numeric_limits<int>::max());
    void SyncCheckStates();

    int RowCount();
    // The focused row, or -1.
    int GetFocusedItem();
    int FirstSelected();
    // The first selected row after start (-1: after the last one returned), or -1.
    int NextSelected(int start);
    void SelectRow(int row, bool select);
    // The current item when it is still in the queue, else null.
    QueueItem* CurrentItem();
    // The current item; without one, row 0 is selected and its item made current.
    QueueItem* GetCurrentItem();
    void SetCurrentItem(QueueItem* item);
    // Row 0 selected and its item current (nothing without rows).
    void SelectFirstRow();
    // The item the row shows, when it is still in the queue; else null.
    QueueItem* RowItem(int row);

    void RemoveSelected();
    void RemoveByState(uint32_t state);
    void RemoveAll();
    void SetSelectedState(uint32_t state);
    // Column kColPreset or kColDestDir: a file dialog; the choice goes to every selected item.
    void EditSelected(int column);
    // Moves the item at row from (< 0: the focused row) to index to.
    void MoveItem(int from, int to);
    void MoveSelected(int by);
    void GroupSelected();
    void UngroupSelected();
    // A click on the column's header: the queue is sorted by that column's value (stable), rising
    // on the first click and falling on a second click on the same column. The rows are rebuilt
    // with their check marks and selection; running items keep running.
    void SortByColumn(int column);
    void InvertSelection();
    void SelectAll();
    // Engine event 13 with "%d queued".
    void ShowQueueCount();

    // Cell texts.
    static std::string DisplayName(const QueueItem* item);
    static std::string SizeText(uint32_t kb);
    static std::string DurationText(int32_t ms);
    static std::string StateText(uint32_t state, int32_t errorCode);

    bool OnInitDialog() override;
    bool OnSize(int width, int height) override;
    bool OnClose() override;
    bool OnNotify(gui::NMHDR* header) override;
    bool OnUser(WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnMenuCommand(int id) override;

protected:
    QueueItem* AddMedia(const std::string& path, const char* alias, int track, int chapter) override;
    void OnItemAppended(QueueItem* item) override;
    void OnRowsChanged() override;
    bool OnNewFile(const std::string& folder, const std::string& name) override;

private:
    // A running item's row changes only its state and speed cells, unless every cell is asked
    // for (a new row).
    void WriteRowAt(int row, QueueItem* item, bool allCells = false);
    void InsertRow(int row, QueueItem* item, bool checked);
    void DeleteRow(int row);
    // The item a row was written for, whether or not the queue still holds it.
    QueueItem* RowParam(int row);
    // Asks the UI thread to flush rows (one post until it ran).
    void PostFlush();
    bool AppendRows(const std::set<QueueItem*>& dirty, bool rebuild, int rowLimit);
    // The walk thread: the queued folders one after the other, then the end is posted.
    void WalkFolders(LPARAM generation);
    void WalkFolder(const std::string& folder, bool recursive);
    void WalkEnded();
    void CheckRows(const std::vector<bool>& checked);
    std::vector<bool> CheckStates();

    QueueItem* current_ = nullptr;
    int lastSelected_ = -1;
    int marginLeft_ = 0, marginTop_ = 0;
    platform::RecursiveMutex rowMutex_;  // held while a row is written
    platform::RecursiveMutex dirtyLock_;  // dirty_, flushPosted_
    std::set<QueueItem*> dirty_;
    bool flushPosted_ = false;
    bool rowsChanged_ = false;
    std::atomic<bool> walking_{false};
    std::atomic<bool> stopWalk_{false};
    std::atomic<bool> queueFull_{false};
    platform::Event walkEnded_{true, true};
    std::thread walker_;
    std::mutex foldersLock_;  // pendingFolders_, walkerActive_
    std::deque<std::pair<std::string, bool>> pendingFolders_;  // folder, recursive
    bool walkerActive_ = false;  // a walk thread takes the pending folders
    std::atomic<LPARAM> walkGeneration_{0};
    int sortColumn_ = -1;        // the column sorted by last (UI thread only)
    bool sortFalling_ = false;
    std::atomic<HWND> window_{nullptr};  // the window, for other threads
};

CFileList& FileList();

// Reorders the queue by the column's value (stable; falling reverses the order of unequal values
// only). Names, types, presets and paths compare without regard to case; size, duration, state,
// speed and group as numbers. False for a column outside the list.
bool SortQueueByColumn(int column, bool falling);

// The file-type filter of the add dialog: "All Files" and one entry per input type.
std::vector<std::pair<std::string, std::string>> InputTypeFilters();

}  // namespace ui

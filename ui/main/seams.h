// Calls into windows and services that other parts of the program reach through one door: the
// file list, and those built later (splash, browser host, news feed, plug-in host, remote
// methods). Until a later one exists it does the least that keeps the program's road working.
#pragma once

#include <functional>

#include "platform/gui/gui.h"

struct QueueItem;

namespace ui {

// The module instance windows and dialogs are made with (null: the program's own resources).
gui::HINSTANCE MainInstance();

// --- file list ---
// Adds a file (a folder: its files, in the background); true when something was added or a
// folder add began.
bool FileListAdd(const char* path);
// The current item (the row last started or selected), or null.
QueueItem* CurrentListItem();
void SetCurrentListItem(QueueItem* item);
// Makes row 0's item current when there is one.
void SelectFirstListRow();
// Row updates and the skip flags taken from the rows' check marks.
void FileListWriteRow(QueueItem* item);
void FileListRefreshRows();
void FileListSyncCheckStates();

// --- later windows and services ---
void SplashStart();
void SplashClose();
bool NewsRefresh(int mode);  // true when a refresh began
void NewsLoadFeed(const char* path);
bool NewsChanged();
void NewsSave(const char* path);
void BrowserHostCreate();
void BrowserHostDestroy();
void PluginHostShow();
void PluginEvent(int code, QueueItem* item);
void StopWatching();
void OpenErrorCodePage(int code);

// The user interface's remote methods: the control server's part fills this in; the shell calls
// it once the main window is up.
using UiMethodsRegistrar = std::function<void()>;
void SetUiMethodsRegistrar(UiMethodsRegistrar registrar);
void RegisterUiMethods();

}  // namespace ui

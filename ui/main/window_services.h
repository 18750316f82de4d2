// The program's long-lived windows and services as plain calls, for the windows and dialogs that
// use them without knowing their classes: the file list, the splash, the news feed, the browser
// host and the device plug-in host.
#pragma once

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

// --- the other windows and services ---
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
// The help page of an item's error code: its address lies outside this program, so nothing opens.
void OpenErrorCodePage(int code);

}  // namespace ui

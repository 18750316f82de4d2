#include "ui/main/window_services.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "engine/context.h"
#include "engine/queue/queue.h"
#include "ui/filelist/file_list.h"
#include "ui/main/shell.h"
#include "ui/main/web_pages.h"
#include "ui/dialogs/browser.h"
#include "ui/dialogs/splash.h"
#include "ui/news/newsfeed.h"
#include "ui/plugins/device_host.h"

namespace ui {

gui::HINSTANCE MainInstance() { return nullptr; }

bool FileListAdd(const char* path) {
    if (!path || !*path) return false;
    const int before = QueueCount();
    FileList().AddFile(path);
    return QueueCount() > before || FileList().FolderAddRunning();
}

QueueItem* CurrentListItem() { return FileList().CurrentItem(); }
void SetCurrentListItem(QueueItem* item) { FileList().SetCurrentItem(item); }
void SelectFirstListRow() { FileList().SelectFirstRow(); }
void FileListWriteRow(QueueItem* item) { FileList().WriteRow(item); }
void FileListRefreshRows() { FileList().RefreshRows(); }
void FileListSyncCheckStates() { FileList().SyncCheckStates(); }

void SplashStart() { StartSplash(); }
void SplashClose() { DestroySplash(); }
bool NewsRefresh(int mode) { return RefreshNewsFeed(mode).has_value(); }
void NewsLoadFeed(const char* path) {
    // The feed lives beside the other per-user files; the servers are the deployment's.
    NewsSettings settings;
    settings.dataFolder = std::filesystem::path(path ? path : "").parent_path().string();
    if (EngineContext* ctx = GetEngineContext()) settings.edition = ctx->editionText;
    settings.languageSuffix = Shell().webLanguage;
    // A fetched feed shows itself in the main window. A posted text must outlive the post: the
    // feed only ever posts this one.
    settings.postUiCommand = [](const char* command) {
        static const char kRefresh[] = "refresh_rss";
        if (!command || std::strcmp(command, kRefresh) != 0) return;
        if (gui::HWND main = Shell().mainHwnd.load())
            gui::PostMessageA(main, gui::WM_APP, 0, reinterpret_cast<gui::LPARAM>(kRefresh));
    };
    ConfigureNews(std::move(settings));
    LoadNewsFeed();
    // A click on the downloaded splash picture opens the feed's splash link.
    NewsFeed& feed = GetNewsFeed();
    NewsFeedLock lock(feed.mutex);
    if (lock.owns()) SetSplashLink(feed.update.splashLink);
}
bool NewsChanged() { return GetNewsFeed().fetched.load(); }
void NewsSave(const char*) { SaveNewsFeedIfFetched(); }
void BrowserHostCreate() {
    CreateBrowserHost();
    InstallSettingsPageOpeners();
}
void BrowserHostDestroy() { DestroyBrowser(); }
void PluginHostShow() { ShowPluginHost(); }
// The event handler passes the plug-in's own codes of the batch's life cycle (3 batch started,
// 5 job started, 6 job ended, 7 batch ended); nothing else reaches the plug-in from here.
void PluginEvent(int code, QueueItem* item) {
    switch (code) {
    case kPluginEventBatchStart:
    case kPluginEventBatchEnd: DeviceHost().SendEvent(code, 0); break;
    case kPluginEventJobStart:
    case kPluginEventJobEnd: DeviceHost().SendEvent(code, reinterpret_cast<intptr_t>(item)); break;
    default: break;
    }
}
void StopWatching() { FileList().StopWatching(); }
void OpenErrorCodePage(int) {}

}  // namespace ui

#include "ui/main/seams.h"

#include <atomic>
#include <mutex>

#include "engine/queue/queue.h"

namespace ui {

namespace {

std::atomic<QueueItem*> g_currentItem{nullptr};
std::mutex g_registrarLock;
UiMethodsRegistrar g_registrar;

}  // namespace

gui::HINSTANCE MainInstance() { return nullptr; }

bool FileListAdd(const char* path) {
    if (!path || !*path) return false;
    QueueItem* item = QueueNewItem(path);
    if (!item) return false;
    if (QueueAppend(item) != 0) {
        QueueFreeItem(item);
        return false;
    }
    return true;
}

QueueItem* CurrentListItem() { return g_currentItem.load(); }
void SetCurrentListItem(QueueItem* item) { g_currentItem = item; }
void SelectFirstListRow() { g_currentItem = QueueGetItem(0); }
void FileListWriteRow(QueueItem*) {}
void FileListRefreshRows() {}
void FileListSyncCheckStates() {}

void SplashStart() {}
void SplashClose() {}
bool NewsRefresh(int) { return false; }
void NewsLoadFeed(const char*) {}
bool NewsChanged() { return false; }
void NewsSave(const char*) {}
void BrowserHostCreate() {}
void BrowserHostDestroy() {}
void PluginHostShow() {}
void PluginEvent(int, QueueItem*) {}
void StopWatching() {}
void OpenErrorCodePage(int) {}

void SetUiMethodsRegistrar(UiMethodsRegistrar registrar) {
    std::lock_guard lk(g_registrarLock);
    g_registrar = std::move(registrar);
}

void RegisterUiMethods() {
    UiMethodsRegistrar registrar;
    {
        std::lock_guard lk(g_registrarLock);
        registrar = g_registrar;
    }
    if (registrar) registrar();
}

}  // namespace ui

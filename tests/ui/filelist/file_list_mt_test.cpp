// A large folder added while the window keeps working: the walk runs beside the UI thread, the
// main window's timer and calls from other threads are answered meanwhile, and every file ends
// up in the queue exactly once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "engine/engine_api.h"
#include "engine/queue/queue.h"
#include "support/shell_run.h"
#include "ui/filelist/file_list.h"
#include "ui/main/main_window.h"
#include "ui/main/shell.h"

namespace {

constexpr int kFiles = 10000;
constexpr int kSmallFiles = 3;

TEST(FileListLargeFolder, TenThousandFilesArriveOnceWhileTheWindowAnswers) {
    sqtest::ShellRun run;
    ASSERT_EQ(run.Start(""), 0);
    SetPrefString("overall.generic.fileTypes", "wav");
    const std::string folder = run.files().file("big");
    std::filesystem::create_directories(folder + "/sub");
    for (int i = 0; i < kFiles; ++i) {
        std::ofstream(folder + (i % 2 ? "/sub/" : "/") + std::to_string(i) + ".wav") << 'x';
    }
    ui::CFileList& list = ui::FileList();
    ui::CDlgMain* main = ui::Shell().mainWindow;
    // A second folder given while the first is walked is walked after it, not dropped.
    const std::string small = run.files().file("small");
    std::filesystem::create_directories(small);
    for (int i = 0; i < kSmallFiles; ++i) std::ofstream(small + "/" + std::to_string(i) + ".wav") << 'x';
    ASSERT_TRUE(list.AddFolder(folder, true));
    EXPECT_TRUE(list.AddFolder(small, false));

    // While the walk runs, the timer fires and a send from another thread comes back.
    const int ticksBefore = main->Ticks();
    std::atomic<int> answered{0};
    std::thread caller([&] {
        for (int i = 0; i < 20; ++i) {
            gui::SendMessageA(main->Handle(), gui::WM_NULL, 0, 0);
            answered.fetch_add(1);
        }
    });
    int ticksWhileWalking = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
    while (list.FolderAddRunning() && std::chrono::steady_clock::now() < deadline) {
        run.driver().Advance(250);
        if (list.FolderAddRunning()) ticksWhileWalking = main->Ticks() - ticksBefore;
        run.driver().PumpUntil([] { return true; }, 10);
    }
    caller.join();
    ASSERT_FALSE(list.FolderAddRunning());
    EXPECT_GT(ticksWhileWalking, 0);
    EXPECT_EQ(answered.load(), 20);

    run.driver().Pump();
    EXPECT_EQ(QueueCount(), kFiles + kSmallFiles);
    EXPECT_EQ(list.RowCount(), kFiles + kSmallFiles);
    std::set<std::string> files;
    for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) files.insert(it->file);
    EXPECT_EQ(files.size(), static_cast<size_t>(kFiles + kSmallFiles));
    EXPECT_EQ(QueueGetItem(kFiles)->file, small + "/0.wav") << "the second folder comes after the first";

    // The same folder again adds nothing.
    ASSERT_TRUE(list.AddFolder(folder, true));
    list.WaitFolderAdd();
    EXPECT_EQ(QueueCount(), kFiles + kSmallFiles);
    EXPECT_EQ(list.RowCount(), kFiles + kSmallFiles);
}

}  // namespace

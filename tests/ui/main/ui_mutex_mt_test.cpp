// The UI mutex between a worker and the UI thread: a worker that holds it while it updates the
// main window, and the UI thread that asks a question (which takes the mutex) at the same moment,
// both finish: the UI thread serves the worker's window calls while it waits.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/gui/gui.h"
#include "support/shell_run.h"
#include "ui/dialogs/prompt.h"
#include "ui/main/engine_events.h"
#include "ui/main/shell.h"

namespace {

using gui::testing::Driver;

TEST(UiMutex, PromptOnTheUiThreadWhileAWorkerHoldingTheMutexUpdatesTheWindow) {
    sqtest::ShellRun run;
    ASSERT_EQ(run.Start(""), 0);
    std::atomic<bool> held{false}, done{false};
    std::thread worker([&] {
        ui::Shell().uiMutex->lock();
        held = true;
        // The title update runs on the UI thread: it needs the UI thread while this one holds the mutex.
        ui::EngineEventCallback(12, reinterpret_cast<intptr_t>("from worker"), 0);
        done = true;  // still under the mutex: the prompt cannot have taken it yet
        ui::Shell().uiMutex->unlock();
    });
    while (!held.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    run.driver().OnModal(ui::dlg::prompt::id, [](Driver& d, gui::HWND dlg) { d.Click(d.Find(dlg, gui::IDOK)); });
    EXPECT_EQ(ui::EngineEventCallback(8, reinterpret_cast<intptr_t>("Continue?"), 0), 1);
    EXPECT_TRUE(done.load()) << "the worker finished before the prompt could take the mutex";
    worker.join();
    EXPECT_EQ(run.driver().Text(ui::Shell().mainHwnd.load()), ui::Shell().caption + " - from worker");
}

}  // namespace

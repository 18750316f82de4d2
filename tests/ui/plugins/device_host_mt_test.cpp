// Job events reach the device plug-in from an engine thread while the UI thread loads and unloads
// it: an event never reaches a plug-in that is gone, and neither side waits on the other for good.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "engine/jobs/job_harness.h"
#include "platform/fs.h"
#include "platform/gui/driver.h"
#include "platform/gui/plugin.h"
#include "support/program_ui.h"
#include "support/tempdir.h"
#include "ui/plugins/device_host.h"

namespace {

namespace fs = std::filesystem;

TEST(DeviceHostThreads, JobEventsFromAWorkerWhileThePluginComesAndGoes) {
    ASSERT_TRUE(sqtest::LoadShippedEngineData());
    gui::testing::Driver drv{[](const std::string& what) { ADD_FAILURE() << what; }, sqtest::ProgramUiOptions()};
    sqtest::TempDir program;
    fs::create_directory(program.path() / "plugins");
    fs::copy_file(std::string(SQ_TEST_PLUGIN_DIR) + "/device.so", program.path() / "plugins/device.so");
    platform::SetAppFolderOverride(program.path().string());
    // The plug-in's panel calls reach the program through these.
    ASSERT_NE(reinterpret_cast<void*>(&qxgui_GetDlgItem), nullptr);

    std::atomic<bool> running{true};
    std::atomic<int> delivered{0};
    std::thread worker([&] {
        while (running) {
            for (int code : {kPluginEventBatchStart, kPluginEventJobStart, kPluginEventJobEnd, kPluginEventBatchEnd})
                ui::DeviceHost().SendEvent(code, 0x1234);
            ++delivered;
        }
    });
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(ui::DeviceHost().LoadPlugin("device.so", nullptr), 1);
        drv.Pump();
        ASSERT_TRUE(ui::DeviceHost().Unload());
    }
    ASSERT_TRUE(drv.PumpUntil([&] { return delivered.load() > 0; }, 10000));
    running = false;
    worker.join();
    ui::ShutdownPluginHost();
    platform::SetAppFolderOverride("");
}

}  // namespace

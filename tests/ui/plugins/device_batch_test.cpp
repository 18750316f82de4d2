// A device plug-in in a batch: its description's presets shape the conversion (a duration, and a
// DSP plug-in to enable), the input plug-in decodes, and the device plug-in hears of the batch and
// of each job with the job's item.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/engine_api.h"
#include "engine/sources/plugin_jobs.h"
#include "platform/gui/driver.h"
#include "platform/gui/plugin.h"
#include "support/plugin_folder.h"
#include "support/program_ui.h"
#include "support/wav_bytes.h"
#include "ui/plugins/device_host.h"

namespace {

namespace fs = std::filesystem;

const std::string kDescription = sqtest::InvertingDeviceDescription();

class DeviceInBatch : public sqtest::PluginJobs {
protected:
    gui::testing::Driver drv{[](const std::string& what) { ADD_FAILURE() << what; }, sqtest::ProgramUiOptions()};
    sqtest::TempDir program;
};

TEST_F(DeviceInBatch, PresetsShapeTheJobAndTheBatchIsReported) {
    const fs::path dir = program.path() / "plugins";
    fs::create_directory(dir);
    fs::copy_file(std::string(SQ_TEST_PLUGIN_DIR) + "/device.so", dir / "pocket.so");
    std::ofstream(dir / "pocket.xml") << kDescription;
    platform::SetAppFolderOverride(program.path().string());
    // The windowing layer's calls reach the plug-in from this program.
    ASSERT_NE(reinterpret_cast<void*>(&qxgui_GetDlgItem), nullptr);

    ASSERT_EQ(ui::DeviceHost().LoadPlugin("pocket.so", nullptr), 1);
    EXPECT_STREQ(GetPrefStore().GetString("audiosrc.winamp.enabledDspPlugins"), "dsp_invert.so");
    // The engine's lists are read again with what the presets chose.
    GetPrefStore().SetString("audiosrc.winamp.dir", plugins.path().c_str());
    WinampPluginControl(0, 4, 0, nullptr, 0);
    WinampPluginControl(1, 4, 0, nullptr, 0);

    auto recorder = events.context().eventCallback;
    events.context().eventCallback = [&](int code, intptr_t data, int64_t arg) {
        ui::ForwardEngineEventToPlugin(code, data);
        return recorder(code, data, arg);
    };
    const std::string pcm = sqtest::Pcm16Ramp(2 * 44100, -20000);
    QueueItem* item = AddTiny("song.tny", pcm);
    RunBatch(1, 60);
    events.context().eventCallback = recorder;

    EXPECT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
    EXPECT_TRUE(OutputPcm(item) == sqtest::Inverted(pcm).substr(0, 17640)) << OutputPcm(item).size() << " bytes";
    const auto heard = sqtest::DevicePluginEvents((dir / "pocket.so").string());
    const auto has = [&](int code, intptr_t data) {
        return std::find(heard.begin(), heard.end(), std::pair<int, intptr_t>{code, data}) != heard.end();
    };
    const intptr_t itemData = reinterpret_cast<intptr_t>(item);
    EXPECT_TRUE(has(kPluginEventBatchStart, 0));
    EXPECT_TRUE(has(kPluginEventJobStart, itemData));
    EXPECT_TRUE(has(kPluginEventJobEnd, itemData));
    EXPECT_TRUE(has(kPluginEventBatchEnd, 0));
    ui::ShutdownPluginHost();
}

}  // namespace

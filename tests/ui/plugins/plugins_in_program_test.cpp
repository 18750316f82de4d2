// The program run with plug-ins of the tests' own: the device plug-in named by the saved settings
// is loaded into the main window, its presets choose the DSP plug-in and a duration, the engine
// lists what it found, and a batch started from the plug-in's panel decodes a tiny file given on
// the command line through the input plug-in into a WAV whose samples show each plug-in's effect
// exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/encoders/encoder.h"
#include "engine/engine_api.h"
#include "engine/queue/queue.h"
#include "engine/sources/audio_source.h"
#include "engine/sources/plugin_jobs.h"
#include "engine/sources/winamp_host.h"
#include "support/plugin_folder.h"
#include "support/shell_run.h"
#include "support/wav_bytes.h"
#include "ui/main/batch.h"
#include "ui/main/engine_events.h"
#include "ui/main/shell.h"
#include "ui/options/option_tabs.h"
#include "ui/plugins/device_host.h"

namespace {

const std::string kDescription =
    sqtest::InvertingDeviceDescription(R"(<properties><name value="Pocket player"/></properties>)");

std::string Node(const std::string& key, const std::string& value) {
    return "<node key=\"" + key + "\">" + value + "</node>";
}

std::string WavPcm(const std::string& wav) {
    const size_t data = wav.find("data");
    return data == std::string::npos ? "" : wav.substr(data + 8);
}

bool DspEnabled(const std::string& name) {
    for (const DspPluginEntry& e : DspPlugins())
        if (e.name == name) return !(e.flags & kPluginDisabled);
    return false;
}

// The settings of a run with the tests' plug-ins: the device plug-in of the program folder, the
// input and DSP plug-ins of the folder given, and the conversion to WAV beside the input.
std::string PluginRunPrefs(const std::string& winampFolder, const std::string& savedChoices) {
    return Node("overall.ui.lastLoadedPlugin", "pocket.so") + Node("overall.ui.pluginParams", savedChoices) +
           Node("audiosrc.winamp.dir", winampFolder) + Node("audiosrc.winamp.enabledDspPlugins", "dsp_double.so") +
           Node("overall.audio.autoSource", "0") + Node("overall.audio.source", std::to_string(kSourceWinamp)) +
           Node("overall.audio.encoder", std::to_string(kEncPcm)) + Node("overall.task.destdir", "");
}

TEST(PluginsInTheProgram, DevicePresetsChooseTheDspAndTheBatchShowsEveryPluginsEffect) {
    const std::string pcm = sqtest::Pcm16Ramp(44100, -20000);  // 0.5 s of stereo
    const size_t cut = 17640;                                  // 100 ms of it
    struct Case {
        const char* what;
        const char* savedChoices;  // "overall.ui.pluginParams"
        bool inverted;
    } cases[] = {
        {"the description's default preset", "", true},
        {"the choice saved at the last unload", "pocket.so,0,-1,-1,-1,-1", false},
        {"another plug-in's saved choice", "pocketbook.so,0", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sqtest::PluginFolder winamp;
        winamp.plant("in_tiny", "in_tiny.so");
        winamp.plant("dsp_invert", "dsp_invert.so");
        winamp.plant("dsp_double", "dsp_double.so");
        sqtest::PluginProgramFolder program;
        program.plantDevice("device", "pocket.so", kDescription);

        const std::string prefs = PluginRunPrefs(winamp.path(), c.savedChoices);
        sqtest::ShellRun run(prefs, program.path());
        const std::string input = run.files().file("song.tny");
        sqtest::WriteTinyFile(input, 44100, 2, 16, pcm);
        ASSERT_EQ(run.Start(input), 0);
        // The engine reads its plug-in folder once the main window is up, on the start-up thread.
        ASSERT_TRUE(run.driver().PumpUntil([] { return ui::Shell().startupDone.load(); }, 30000));

        // Loaded into the main window, and the engine lists what its preset enabled.
        ui::CDeviceDialog& host = ui::DeviceHost();
        ASSERT_NE(host.Header(), nullptr);
        EXPECT_STREQ(host.Header()->name, "Pocket player");
        EXPECT_TRUE(run.driver().Visible(host.Handle()));
        const InputPluginList inputs = InputPlugins();
        ASSERT_EQ(inputs.size(), 1u);
        EXPECT_EQ(inputs[0].fileName, "in_tiny.so");
        EXPECT_EQ(DspEnabled("dsp_invert.so"), c.inverted);
        EXPECT_FALSE(DspEnabled("dsp_double.so"));  // the preset's list replaced the saved one

        // Started from the panel's own button, which turns into its stop button until the batch
        // has ended.
        gui::HWND start = run.driver().Find(host.Handle(), 1132);
        const std::string startLabel = run.driver().Text(start);
        // The batch's final report is read and closed.
        run.driver().OnModal(293, [](gui::testing::Driver& d, gui::HWND box) { d.Click(d.Find(box, 1)); });
        ASSERT_TRUE(run.driver().Click(start));
        EXPECT_TRUE(host.Transcoding());
        EXPECT_NE(run.driver().Text(start), startLabel);
        ASSERT_EQ(ui::WaitWorkerThreads(60000), 1);
        run.driver().Advance(1000);
        EXPECT_FALSE(host.Transcoding());
        EXPECT_EQ(run.driver().Text(start), startLabel);
        QueueItem* item = QueueGetItem(0);
        ASSERT_NE(item, nullptr);
        ASSERT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
        ASSERT_NE(item->destFile, nullptr);
        const std::string expected = (c.inverted ? sqtest::Inverted(pcm) : pcm).substr(0, cut);
        const std::string out = WavPcm(sqtest::ReadFile(item->destFile));
        EXPECT_TRUE(out == expected) << out.size() << " bytes";

        const intptr_t itemData = reinterpret_cast<intptr_t>(item);
        run.Finish();
        const auto heard = sqtest::DevicePluginEvents(program.plugin("pocket.so"));
        const std::vector<std::pair<int, intptr_t>> order = {
            {kPluginEventLoad, 0},   {kPluginEventReady, 0},        {kPluginEventBatchStart, 0},
            {kPluginEventJobStart, itemData}, {kPluginEventJobEnd, itemData}, {kPluginEventBatchEnd, 0},
            {kPluginEventUnload, 0}};
        auto at = heard.begin();
        for (const auto& e : order) {
            at = std::find(at, heard.end(), e);
            EXPECT_NE(at, heard.end()) << "event " << e.first << " missing or out of order";
        }
        // The unload kept the catalog's choice for the next run.
        const std::string saved = sqtest::ReadFile(run.dataFolder() + "prefs.xml");
        EXPECT_NE(saved.find(c.inverted ? "pocket.so,1,-1" : "pocket.so,0,-1"), std::string::npos) << saved;
    }
}

TEST(PluginsInTheProgram, ThePanelsButtonStopsTheRunningJobUnlessThePluginObjects) {
    sqtest::PluginFolder winamp;
    winamp.plant("in_tiny", "in_tiny.so");
    sqtest::PluginProgramFolder program;
    program.plantDevice("device", "pocket.so", "<QuorvexPlugin/>");
    sqtest::ShellRun run(PluginRunPrefs(winamp.path(), ""), program.path());
    const std::string input = run.files().file("long.tny");
    const std::string pcm(30 * 176400, '\x11');
    sqtest::WriteTinyFile(input, 44100, 2, 16, pcm, 5);  // decoded slowly
    ASSERT_EQ(run.Start(input), 0);
    ASSERT_TRUE(run.driver().PumpUntil([] { return ui::Shell().startupDone.load(); }, 30000));
    run.driver().OnModal(293, [](gui::testing::Driver& d, gui::HWND box) { d.Click(d.Find(box, 1)); });

    ui::CDeviceDialog& host = ui::DeviceHost();
    ASSERT_NE(host.Header(), nullptr);
    gui::HWND button = run.driver().Find(host.Handle(), 1132);
    ASSERT_TRUE(run.driver().Click(button));
    QueueItem* item = QueueGetItem(0);
    ASSERT_NE(item, nullptr);
    // Running means decoding through the input plug-in, not only a job set up.
    ASSERT_TRUE(run.driver().PumpUntil(
        [&] {
            return item->state.load() == kItemEncoding && item->audioTask.load() != nullptr && item->run.bytes.load() > 0;
        },
        30000))
        << "state " << item->state.load() << ", error " << item->errorCode.load() << ", log:\n" << ui::LogText()
        << sqtest::ReadFile(run.dataFolder() + "sonquill.log");

    setenv("DEVICE_REFUSE_STOP", "1", 1);
    ASSERT_TRUE(run.driver().Click(button));
    unsetenv("DEVICE_REFUSE_STOP");
    EXPECT_EQ(item->state.load(), kItemEncoding) << "the plug-in kept the job running; error "
                                                 << item->errorCode.load() << ", log:\n" << ui::LogText()
                                                 << sqtest::ReadFile(run.dataFolder() + "sonquill.log");
    EXPECT_TRUE(host.Transcoding());

    ASSERT_TRUE(run.driver().Click(button));
    EXPECT_NE(ui::WaitWorkerThreads(30000), 0);
    run.driver().Advance(1000);
    EXPECT_FALSE(host.Transcoding());
    EXPECT_NE(item->state.load(), kItemDone);
    EXPECT_NE(item->state.load(), kItemEncoding);
    EXPECT_EQ(item->errorCode.load(), 0) << "a stopped job is no failure";
    const auto codes = sqtest::DevicePluginEventCodes(program.plugin("pocket.so"));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kPluginEventStopPressed), 2);
}

}  // namespace

namespace {

TEST(PluginsInTheProgram, ThePanelsTabButtonsOpenTheOptionTabsInThePopup) {
    sqtest::PluginFolder winamp;
    sqtest::PluginProgramFolder program;
    program.plantDevice("device", "pocket.so", "<QuorvexPlugin/>");
    sqtest::ShellRun run(PluginRunPrefs(winamp.path(), ""), program.path());
    ASSERT_EQ(run.Start(""), 0);
    ASSERT_TRUE(run.driver().PumpUntil([] { return ui::Shell().startupDone.load(); }, 30000));
    ui::CDeviceDialog& host = ui::DeviceHost();
    ASSERT_NE(host.Header(), nullptr);
    const struct {
        int command;
        int templateId;
    } cases[] = {{1123, ui::dlg::opt_time::id}, {static_cast<int>(ui::device_cmd::automation), ui::dlg::opt_automation::id}};
    for (const auto& c : cases) {
        gui::SendMessageA(host.Handle(), gui::WM_COMMAND, static_cast<gui::WPARAM>(c.command), 0);
        run.driver().Pump();
        ASSERT_NE(ui::PopupTab(), nullptr) << c.command;
        EXPECT_EQ(ui::PopupTab()->TemplateId(), c.templateId) << c.command;
    }
    ui::ClosePopup();
}

}  // namespace

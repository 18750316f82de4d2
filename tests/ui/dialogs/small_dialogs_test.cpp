#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "engine/queue/queue.h"
#include "platform/gui/gui_fixture.h"
#include "support/shipped_data.h"
#include "support/tempdir.h"
#include "support/wav_bytes.h"
#include "ui/dialogs/fileinfo.h"
#include "ui/dialogs/urldialog.h"

namespace {

using gui::HWND;

class SmallDialogs : public sqtest::GuiTest {
protected:
    void SetUp() override {
        auto folder = std::make_shared<gui::XmlResourceFolder>();
        std::string error;
        ASSERT_TRUE(folder->Load(std::string(SQ_SOURCE_DIR) + "/data/ui", error)) << error;
        gui::SetResourceProvider(folder);
    }
    void TearDown() override {
        drv.Pump();
        gui::SetResourceProvider(nullptr);
    }
};

TEST_F(SmallDialogs, TextEntryAnswersWhatWasTypedOrNothing) {
    struct Case {
        std::string typed;
        int button;
        std::optional<std::string> answer;
    };
    const std::string longText(600, 'x');
    const Case cases[] = {
        {"http://example.org/stream", 1, "http://example.org/stream"},
        {"typed then cancelled", 2, std::nullopt},
        {"", 1, std::nullopt},
        {longText, 1, std::string(511, 'x')},
    };
    for (const auto& c : cases) {
        std::string title, prompt;
        drv.OnModal(ui::kUrlTemplate, [&](gui::testing::Driver& d, HWND h) {
            title = d.Text(h);
            prompt = d.Text(d.Find(h, 1271));
            d.SetTextAsUser(d.Find(h, 1090), c.typed);
            d.Click(d.Find(h, c.button));
        });
        EXPECT_EQ(ui::ShowUrlDialog(nullptr, "Add stream", "Address:"), c.answer) << c.typed.substr(0, 30);
        EXPECT_EQ(title, "Add stream");
        EXPECT_EQ(prompt, "Address:");
    }
}

TEST_F(SmallDialogs, MediaInformationShowsTheItemAndTheToolsText) {
    sqtest::TempDir dir;
    sqtest::WavSpec spec;
    spec.data = sqtest::Pcm16Ramp(44100 * 2);
    const std::string path = dir.write("tone.wav", sqtest::BuildWav(spec));
    QueueItem* item = QueueNewItem(path.c_str());
    SetStringField(&item->tagArtist, "Artist <&>");
    item->tagTrack = 4;
    item->begin = 250;
    item->end = 1250;
    HWND main = MakeWindow();

    ui::ShowFileInfo(nullptr, main);  // nothing to show: no window
    EXPECT_EQ(ui::FileInfoWindow().Handle(), nullptr);
    ui::ShowFileInfo(item, main);
    HWND h = ui::FileInfoWindow().Handle();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(drv.Text(drv.Find(h, 1090)), path);
    EXPECT_EQ(drv.Text(drv.Find(h, 1091)), "Artist <&>");
    EXPECT_EQ(drv.Text(drv.Find(h, 1094)), "4");
    EXPECT_EQ(drv.Text(drv.Find(h, 1099)), "250 ms");
    EXPECT_EQ(drv.Text(drv.Find(h, 1100)), "1000 ms");
    // The real media-information tool describes the file.
    EXPECT_NE(drv.Text(drv.Find(h, 1070)).find("Wave"), std::string::npos) << drv.Text(drv.Find(h, 1070));

    drv.Click(drv.Find(h, 2));
    drv.Pump();
    EXPECT_EQ(ui::FileInfoWindow().Handle(), nullptr);
    QueueFreeItem(item);
    gui::DestroyWindow(main);
}

}  // namespace

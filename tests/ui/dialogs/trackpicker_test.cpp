// The track picker driven headless from its shipped template: audio CD tracks of image drives,
// Video CD files, DVD titles and chapters from a probe answer; what it adds to the queue, with
// its times.
#include "ui/dialogs/trackpicker.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "engine/devices/cd_source.h"
#include "engine/engine_api.h"
#include "engine/queue/queue.h"
#include "platform/gui/driver.h"
#include "platform/gui/resources.h"
#include "support/cd_image.h"
#include "support/event_recorder.h"
#include "support/tempdir.h"

namespace {

using gui::HWND;
using ui::CAddTrackDialog;

std::shared_ptr<gui::XmlResourceFolder> ShippedResources() {
    auto folder = std::make_shared<gui::XmlResourceFolder>();
    std::string error;
    EXPECT_TRUE(folder->Load(std::string(SQ_SOURCE_DIR) + "/data/ui", error)) << error;
    return folder;
}

struct Added {
    std::string path, alias;
    int track, chapter;
    uint32_t begin, end;
    bool operator==(const Added&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Added& a) {
    return os << a.path << " '" << a.alias << "' " << a.track << "/" << a.chapter << " " << a.begin << "-" << a.end;
}

class TrackPicker : public ::testing::Test {
protected:
    void SetUp() override {
        QueueClear();
        drives = std::make_unique<sqtest::CdImageDrives>(std::vector<std::string>{
            sqtest::WriteCdImage(dir.path().string(), "d", {150, 225}),
            sqtest::WriteCdImage(dir.path().string(), "e", {75, 75, 75, 75, 75, 75, 150, 75})});
        CAddTrackDialog::SetTitleProbe([](int kind, int title, const char* device) -> std::string {
            if (kind == CAddTrackDialog::kAudioCd) return "disc text of " + std::string(device);
            if (kind != CAddTrackDialog::kDvd) return "";
            if (title == 0) return "ID_DVD_TITLES=4\n";
            return title == 3 ? "some line\nCHAPTERS: 00:00:00,00:05:00,00:12:30,\nID_EXIT=EOF\n" : "";
        });
        hwnd = dialog.CreateModeless(nullptr, ui::dlg::addtrack::id, static_cast<HWND>(nullptr));
        ASSERT_NE(hwnd, nullptr) << gui::LastTemplateError();
        dialog.Show();
    }
    void TearDown() override {
        dialog.CloseWindow();
        CAddTrackDialog::SetTitleProbe(nullptr);
        QueueClear();
    }
    HWND Item(int id) { return drv.Find(hwnd, id); }
    std::vector<Added> Queue() {
        std::vector<Added> out;
        for (int i = 0; i < QueueCount(); ++i) {
            QueueItem* q = QueueGetItem(i);
            out.push_back({q->file, q->alias ? q->alias : "", q->track, q->chapter, q->begin, q->end});
        }
        return out;
    }

    sqtest::TempDir dir;
    sqtest::EventRecorder events;
    std::unique_ptr<sqtest::CdImageDrives> drives;
    gui::testing::Driver drv{[](const std::string& what) { ADD_FAILURE() << what; }, [] {
                                 gui::testing::Driver::Options o;
                                 o.resources = ShippedResources();
                                 return o;
                             }()};
    CAddTrackDialog dialog;
    HWND hwnd = nullptr;
};

TEST_F(TrackPicker, AudioCdTracksGoIntoTheQueueWithTheirTimes) {
    EXPECT_EQ(drv.Items(Item(1073)), (std::vector<std::string>{"D:", "E:"}));
    ASSERT_TRUE(drv.PickCombo(Item(1072), CAddTrackDialog::kAudioCd));
    EXPECT_EQ(drv.Items(Item(1001)), (std::vector<std::string>{"Track 01", "Track 02"}));
    EXPECT_EQ(drv.Text(Item(1070)), "disc text of D:");
    ASSERT_TRUE(drv.PickList(Item(1001), 0));
    ASSERT_TRUE(drv.PickList(Item(1001), 1, gui::testing::kCtrl));
    ASSERT_TRUE(drv.Click(Item(1)));
    ASSERT_EQ(Queue(), (std::vector<Added>{{"D:\\Track01.cda", "CD Track 1", 1, 0, 0, 0}, {"D:\\Track02.cda", "CD Track 2", 2, 0, 0, 0}}));
    // The queued tracks describe themselves from the disc: 150 and 225 sectors.
    for (int i : {0, 1}) ASSERT_EQ(ProbeItem(QueueGetItem(i), 0), 0);
    EXPECT_EQ(QueueGetItem(0)->duration, 2000);
    EXPECT_EQ(QueueGetItem(1)->duration, 3000);
    EXPECT_EQ(events.texts(kEventStatusText), (std::vector<std::string>{"1 queued", "2 queued"}));

    // Track 7 of drive E: with the path field empty.
    QueueClear();
    ASSERT_TRUE(drv.PickCombo(Item(1073), 1));
    EXPECT_EQ(drv.Items(Item(1001)).size(), 8u);
    ASSERT_TRUE(drv.PickList(Item(1001), 6));
    ASSERT_TRUE(drv.Click(Item(1)));
    ASSERT_EQ(QueueCount(), 1);
    EXPECT_STREQ(QueueGetItem(0)->file, "E:\\Track07.cda");
    ASSERT_EQ(ProbeItem(QueueGetItem(0), 0), 0);
    EXPECT_EQ(QueueGetItem(0)->duration, 2000);
}

TEST_F(TrackPicker, NothingChosenOnAnAudioCdAddsNothingAndCloseEndsTheWindow) {
    ASSERT_TRUE(drv.PickCombo(Item(1072), CAddTrackDialog::kAudioCd));
    ASSERT_TRUE(drv.Click(Item(1)));
    EXPECT_EQ(QueueCount(), 0);
    ASSERT_TRUE(drv.Click(Item(2)));
    EXPECT_EQ(dialog.Handle(), nullptr);
    EXPECT_EQ(drv.LiveWindows(), 0u);
}

TEST_F(TrackPicker, DvdTitlesAndChaptersWithTheirTimes) {
    ASSERT_TRUE(drv.SetTextAsUser(Item(1090), dir.path().string() + "/"));
    ASSERT_TRUE(drv.PickCombo(Item(1072), CAddTrackDialog::kDvd));
    EXPECT_EQ(drv.Items(Item(1001)), (std::vector<std::string>{"Whole Disc", "Track 1", "Track 2", "Track 3", "Track 4"}));
    ASSERT_TRUE(drv.Click(Item(1)));  // nothing selected: the whole disc
    ASSERT_TRUE(drv.PickList(Item(1001), 3));
    EXPECT_EQ(drv.Items(Item(1003)), (std::vector<std::string>{"Whole Track", "Chapter 1 [00:00:00]", "Chapter 2 [00:05:00]",
                                                               "Chapter 3 [00:12:30]"}));
    ASSERT_TRUE(drv.PickList(Item(1003), 2));
    ASSERT_TRUE(drv.PickList(Item(1003), 3, gui::testing::kCtrl));
    ASSERT_TRUE(drv.Click(Item(1)));
    ASSERT_TRUE(drv.PickList(Item(1001), 1));  // a title without chapters: the whole title
    ASSERT_TRUE(drv.Click(Item(1)));
    const std::string root = dir.path().string();
    EXPECT_EQ(Queue(), (std::vector<Added>{{"dvd://", "DVD", 0, 0, 0, 0},
                                           {"dvd://3", "DVD Track 3 Chapter 2", 3, 2, 300000, 750000},
                                           {"dvd://3", "DVD Track 3 Chapter 3", 3, 3, 750000, 0},
                                           {"dvd://1", "DVD Track 1", 1, 0, 0, 0}}));
    EXPECT_STREQ(QueueGetItem(1)->discRoot, root.c_str()) << "one trailing separator dropped";
}

TEST_F(TrackPicker, VideoCdListsItsDatFiles) {
    const std::string root = dir.path().string() + "/MPEGAV";
    std::filesystem::create_directory(root);
    for (const char* name : {"AVSEQ02.DAT", "AVSEQ01.DAT", ".AVSEQ03.DAT", "README.TXT"}) std::ofstream(root + "/" + name) << "x";
    ASSERT_TRUE(drv.SetTextAsUser(Item(1090), root));
    ASSERT_TRUE(drv.PickCombo(Item(1072), CAddTrackDialog::kVideoCd));
    EXPECT_EQ(drv.Items(Item(1001)), (std::vector<std::string>{"Whole Disc", "AVSEQ01", "AVSEQ02"}));
    EXPECT_EQ(dialog.titleCount, 2);
    ASSERT_TRUE(drv.PickList(Item(1001), 2));
    EXPECT_TRUE(drv.Items(Item(1003)).empty());
    ASSERT_TRUE(drv.Click(Item(1)));
    EXPECT_EQ(Queue(), (std::vector<Added>{{root + "/AVSEQ02.DAT", "VCD Track 2", 2, 0, 0, 0}}));
}

}  // namespace

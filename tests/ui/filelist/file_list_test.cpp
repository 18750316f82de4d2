// The file list in the running program, driven as a user drives it: files and folders added
// through the menus and their dialogs, rows removed, moved, checked, grouped and marked, cells of
// the running job, and the texts of each column.
#include "ui/filelist/file_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_api.h"
#include "engine/queue/queue.h"
#include "support/shell_run.h"
#include "ui/dialogs/prompt.h"
#include "ui/main/batch.h"
#include "ui/main/main_window.h"
#include "ui/main/shell.h"

namespace {

using gui::testing::Driver;
using gui::testing::kCtrl;
using Names = std::vector<std::string>;
using gui::UINT;

class FileListTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(run.Start(""), 0);
        main = ui::Shell().mainHwnd.load();
        ASSERT_NE(main, nullptr);
        lv = run.listView();
        ASSERT_NE(lv, nullptr);
    }

    Driver& driver() { return run.driver(); }
    // A menu entry chosen as a user chooses it.
    void Choose(UINT id) {
        ASSERT_TRUE(driver().ChooseMenu(main, id)) << id;
        driver().Pump();
    }
    std::string Status() {
        auto texts = driver().StatusTexts(driver().Find(main, ui::dlg::main::status_bar));
        return texts.empty() ? "" : texts[0];
    }
    // Files made in the test's folder; their paths.
    std::vector<std::string> Make(const Names& names, const std::string& body = "x") {
        std::vector<std::string> paths;
        for (const std::string& name : names) paths.push_back(run.files().write(name, body));
        return paths;
    }
    void AddThroughDialog(const std::vector<std::string>& paths) {
        driver().OnFileDialog([paths](const gui::FileDialogRequest& r) -> std::optional<std::vector<std::string>> {
            EXPECT_FALSE(r.save);
            EXPECT_TRUE(r.multiple);
            EXPECT_EQ(r.filters.front().first, "All Files");
            return paths;
        });
        Choose(40011);
    }

    sqtest::ShellRun run;
    gui::HWND main = nullptr;
    gui::HWND lv = nullptr;
};

TEST_F(FileListTest, FilesAddedThroughTheDialogGetARowEach) {
    const auto paths = Make({"a.mp3", "Movie.avi", "Movie.srt", "Movie.ass"}, std::string(20 * 1024, 'x'));
    AddThroughDialog({paths[0], paths[1]});

    EXPECT_EQ(run.column(ui::kColName), (Names{"a.mp3", "Movie.avi"}));
    EXPECT_EQ(run.column(ui::kColSize), (Names{"20 KB", "20 KB"}));
    EXPECT_EQ(run.column(ui::kColState), (Names{"Ready", "Ready"}));
    EXPECT_EQ(run.column(ui::kColPath), (Names{paths[0], paths[1]}));
    const auto rows = run.rows();
    EXPECT_TRUE(rows[0].checked && rows[1].checked);
    EXPECT_TRUE(rows[0].selected) << "the first row becomes current";
    EXPECT_EQ(ui::FileList().CurrentItem(), QueueGetItem(0));
    // The srt file beside the video is its subtitle (srt comes before ass).
    ASSERT_NE(QueueGetItem(1)->subtitle, nullptr);
    EXPECT_EQ(std::string(QueueGetItem(1)->subtitle), paths[2]);
    EXPECT_EQ(QueueGetItem(0)->subtitle, nullptr);
    EXPECT_EQ(Status(), "2 queued");

    // A cancelled dialog adds nothing.
    driver().OnFileDialog([](const gui::FileDialogRequest&) { return std::nullopt; });
    Choose(40011);
    EXPECT_EQ(QueueCount(), 2);
}

TEST_F(FileListTest, FolderAddsTakeTheFileTypesOnceEach) {
    SetPrefString("overall.generic.fileTypes", "mp3;flac");
    Make({"in/A.MP3", "in/b.flac", "in/c.wav", "in/sub/d.mp3", "in/sub/deeper/e.flac"});
    const std::string folder = run.files().file("in");
    driver().OnFolderDialog([folder](const gui::FileDialogRequest&) { return folder; });
    struct Case {
        UINT command;
        Names names;
    } cases[] = {
        {40012, {"A.MP3", "b.flac"}},
        {40295, {"A.MP3", "b.flac", "d.mp3", "e.flac"}},
    };
    for (const Case& c : cases) {
        Choose(40112);  // remove all
        ASSERT_EQ(QueueCount(), 0);
        for (int round = 0; round < 2; ++round) {
            Choose(c.command);
            ui::FileList().WaitFolderAdd();
            driver().Pump();
            // The second add of the same folder finds every file queued already.
            EXPECT_EQ(run.column(ui::kColName), c.names) << c.command << " round " << round;
        }
        EXPECT_EQ(Status(), std::to_string(c.names.size()) + " queued");
    }
}

TEST_F(FileListTest, RowsAreRemovedMovedCheckedGroupedAndMarked) {
    const auto paths = Make({"a.mp3", "b.mp3", "c.mp3"});
    AddThroughDialog(paths);
    ASSERT_EQ(run.column(ui::kColName), (Names{"a.mp3", "b.mp3", "c.mp3"}));

    ASSERT_TRUE(driver().ClickRow(lv, 1));
    Choose(40098);  // remove
    EXPECT_EQ(run.column(ui::kColName), (Names{"a.mp3", "c.mp3"}));
    EXPECT_TRUE(run.rows()[1].selected);

    ASSERT_TRUE(driver().ClickRow(lv, 0));
    Choose(40324);  // move down
    EXPECT_EQ(run.column(ui::kColName), (Names{"c.mp3", "a.mp3"}));
    EXPECT_TRUE(run.rows()[1].selected);
    Choose(40324);  // the last row stays where it is, and stays in the queue
    EXPECT_EQ(run.column(ui::kColName), (Names{"c.mp3", "a.mp3"}));
    EXPECT_EQ(QueueCount(), 2);
    Choose(40323);  // move up
    EXPECT_EQ(run.column(ui::kColName), (Names{"a.mp3", "c.mp3"}));

    // An unchecked row marks its item to be skipped when the queue is saved; a move keeps marks.
    ASSERT_TRUE(driver().ToggleRowCheck(lv, 1));
    ASSERT_TRUE(driver().ClickRow(lv, 0));
    Choose(40324);
    EXPECT_EQ(run.column(ui::kColName), (Names{"c.mp3", "a.mp3"}));
    EXPECT_FALSE(run.rows()[0].checked);
    EXPECT_TRUE(run.rows()[1].checked);
    const std::string saved = run.files().file("saved");
    driver().OnFileDialog([saved](const gui::FileDialogRequest& r) -> std::optional<std::vector<std::string>> {
        EXPECT_TRUE(r.save);
        return std::vector<std::string>{saved};
    });
    Choose(40095);  // save queue: ".xml" is added to a name without one
    EXPECT_FALSE(sqtest::ReadFile(saved + ".xml").empty());
    EXPECT_EQ(Status(), "Queue saved");
    EXPECT_TRUE(QueueGetItem(0)->flags.load() & kItemFlagSkip);
    EXPECT_FALSE(QueueGetItem(1)->flags.load() & kItemFlagSkip);

    // Both rows grouped, then ungrouped.
    ASSERT_TRUE(driver().ClickRow(lv, 0));
    ASSERT_TRUE(driver().ClickRow(lv, 1, gui::WM_LBUTTONDOWN, kCtrl));
    Choose(40325);
    EXPECT_EQ(run.column(ui::kColGroup), (Names{"1", "1"}));
    Choose(40326);
    EXPECT_EQ(run.column(ui::kColGroup), (Names{"", ""}));

    // One row marked done, then the done rows removed.
    ASSERT_TRUE(driver().ClickRow(lv, 1));
    Choose(40152);
    EXPECT_EQ(run.column(ui::kColState), (Names{"Ready", "Done"}));
    Choose(40163);
    EXPECT_EQ(run.column(ui::kColName), (Names{"c.mp3"}));
    EXPECT_EQ(QueueCount(), 1);

    // The Delete key removes the selected rows.
    ASSERT_TRUE(driver().ClickRow(lv, 0));
    ASSERT_TRUE(driver().Key(gui::VK_DELETE));
    driver().Pump();
    EXPECT_TRUE(run.rows().empty());
    EXPECT_EQ(QueueCount(), 0);
    EXPECT_EQ(ui::FileList().CurrentItem(), nullptr);
}

// A right click on a row opens the row menu where the pointer is, over that row; its entries act
// on the row (here: marked done).
TEST_F(FileListTest, ARightClickOpensTheRowMenuAtTheCursor) {
    AddThroughDialog(Make({"a.mp3", "b.mp3"}));
    std::vector<std::pair<std::string, gui::POINT>> shown;
    driver().OnPopupMenu([&](const std::string& dump, gui::POINT at) -> UINT {
        shown.emplace_back(dump, at);
        return 40152;  // "Mark as done"
    });
    // The pointer over the second row, as the user moves it there.
    driver().Mouse(lv, gui::WM_MOUSEMOVE, 40, 30);
    gui::POINT cursor{40, 30};
    gui::ClientToScreen(lv, &cursor);
    ASSERT_TRUE(driver().ClickRow(lv, 1, gui::WM_RBUTTONDOWN));
    driver().Pump();
    ASSERT_EQ(shown.size(), 1u) << "no row menu";
    EXPECT_EQ(shown[0].second.x, cursor.x);
    EXPECT_EQ(shown[0].second.y, cursor.y);
    EXPECT_NE(shown[0].first.find("[40014]"), std::string::npos) << shown[0].first;  // play
    EXPECT_NE(shown[0].first.find("[40098]"), std::string::npos) << shown[0].first;  // remove
    EXPECT_EQ(shown[0].first.find("menu_"), std::string::npos) << "untranslated: " << shown[0].first;
    EXPECT_EQ(run.column(ui::kColState), (Names{"Ready", "Done"}));
}

// A click on a column's header sorts the queue itself by that column: rising, then falling on a
// second click, and rising again on another column.
TEST_F(FileListTest, HeaderClicksSortTheQueueByEachColumn) {
    const auto paths = Make({"b.mp3", "a.flac", "C.wav"});
    AddThroughDialog(paths);
    struct Values {
        uint32_t size;
        int32_t duration;
        uint32_t state;
        float speed;
        int32_t group;
        const char* preset;
        const char* dest;
    };
    const Values values[] = {
        {300, 5000, kItemDone, 2.0f, 2, "/p/Zeta.xml", "/o/m.mp3"},
        {100, 9000, kItemReady, 0.5f, 3, "/p/alpha.xml", "/o/z.mp3"},
        {200, 1000, kItemError, 1.0f, 1, "/p/Mid.xml", "/o/A.mp3"},
    };
    for (int i = 0; i < 3; ++i) {
        QueueItem* item = QueueGetItem(i);
        const Values& v = values[i];
        item->size = v.size;
        item->duration = v.duration;
        item->state = v.state;
        item->run.speed = v.speed;
        item->group = v.group;
        SetStringField(&item->preset, v.preset);
        SetStringField(&item->destFile, v.dest);
        item->flags.fetch_or(kItemFlagUserDest);
    }
    ui::FileList().RefreshRows();
    struct Case {
        int column;
        Names rising;
    };
    const Case cases[] = {
        {ui::kColName, {"a.flac", "b.mp3", "C.wav"}},     {ui::kColSize, {"a.flac", "C.wav", "b.mp3"}},
        {ui::kColDuration, {"C.wav", "b.mp3", "a.flac"}}, {ui::kColState, {"a.flac", "b.mp3", "C.wav"}},
        {ui::kColSpeed, {"a.flac", "C.wav", "b.mp3"}},    {ui::kColType, {"a.flac", "b.mp3", "C.wav"}},
        {ui::kColGroup, {"C.wav", "b.mp3", "a.flac"}},    {ui::kColPreset, {"a.flac", "C.wav", "b.mp3"}},
        {ui::kColPath, {"a.flac", "b.mp3", "C.wav"}},     {ui::kColDestDir, {"C.wav", "b.mp3", "a.flac"}},
    };
    auto queueOrder = [] {
        Names names;
        for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) names.push_back(ui::CFileList::DisplayName(it));
        return names;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.column);
        ASSERT_TRUE(driver().ClickColumn(lv, c.column));
        EXPECT_EQ(queueOrder(), c.rising);
        EXPECT_EQ(run.column(ui::kColName), c.rising) << "the rows show the queue's order";
        ASSERT_TRUE(driver().ClickColumn(lv, c.column));
        const Names falling(c.rising.rbegin(), c.rising.rend());
        EXPECT_EQ(queueOrder(), falling);
        EXPECT_EQ(run.column(ui::kColName), falling);
    }
    EXPECT_EQ(QueueCount(), 3);
}

// Equal values keep their order both ways; check marks, the selection and the current item go
// with their items; the rebuilt row of an item in progress shows all of its cells.
TEST_F(FileListTest, SortingKeepsTiesMarksAndSelection) {
    const auto paths = Make({"a.mp3", "b.mp3", "c.mp3", "d.mp3"});
    AddThroughDialog(paths);
    QueueGetItem(1)->group = 5;  // b alone has a group; a, c and d tie at none
    QueueGetItem(0)->run.progress = 42.5f;
    ui::FileList().RefreshRows();
    ASSERT_TRUE(driver().ToggleRowCheck(lv, 2));  // c unchecked
    ASSERT_TRUE(driver().ClickRow(lv, 3));        // d selected and current
    QueueItem* d = QueueGetItem(3);

    ASSERT_TRUE(driver().ClickColumn(lv, ui::kColGroup));
    EXPECT_EQ(run.column(ui::kColName), (Names{"a.mp3", "c.mp3", "d.mp3", "b.mp3"}));
    ASSERT_TRUE(driver().ClickColumn(lv, ui::kColGroup));
    EXPECT_EQ(run.column(ui::kColName), (Names{"b.mp3", "a.mp3", "c.mp3", "d.mp3"}));

    const auto rows = run.rows();
    std::vector<bool> checked, selected;
    for (const auto& r : rows) checked.push_back(r.checked), selected.push_back(r.selected);
    EXPECT_EQ(checked, (std::vector<bool>{true, true, false, true}));
    EXPECT_EQ(selected, (std::vector<bool>{false, false, false, true}));
    EXPECT_EQ(ui::FileList().CurrentItem(), d);
    EXPECT_TRUE(QueueGetItem(2)->flags.load() & kItemFlagSkip) << "the mark was written to its item";
    EXPECT_EQ(run.column(ui::kColState)[1], "42.5%");
    EXPECT_EQ(run.column(ui::kColPath)[1], paths[0]);
    QueueGetItem(1)->run.progress = 0;
}

TEST_F(FileListTest, RowsFollowTheRunningJobFromAnyThread) {
    const auto paths = Make({"a.wav", "b.wav"});
    AddThroughDialog(paths);
    QueueItem* item = QueueGetItem(1);

    // A worker writes the row: the window shows it once the UI thread runs again.
    std::thread worker([item] {
        item->state = kItemEncoding;
        item->run.progress = 42.5f;
        item->run.speed = 3.0f;
        ui::FileList().WriteRow(item);
    });
    worker.join();
    ASSERT_TRUE(driver().PumpUntil([&] { return run.column(ui::kColState)[1] == "42.5%"; }, 5000));
    EXPECT_EQ(run.column(ui::kColSpeed)[1], "3.0X");

    struct Case {
        uint32_t state;
        int error;
        float progress;
        const char* shown;
    } cases[] = {
        {kItemEncoding, 0, 0.0f, "Encoding"},
        {kItemDone, 0, 100.0f, "Done"},
        {kItemError, 11, 0.0f, "Error (11)"},
        {42, 0, 0.0f, "Error"},
    };
    for (const Case& c : cases) {
        item->state = c.state;
        item->errorCode = c.error;
        item->run.progress = c.progress;
        ui::FileList().WriteRow(item);
        EXPECT_EQ(run.column(ui::kColState)[1], c.shown) << c.state;
    }
    item->state = kItemReady;
    item->errorCode = 0;
}

TEST_F(FileListTest, ARunBatchEndsWithEveryRowDone) {
    SetPrefString("overall.task.destdir", run.files().file("out").c_str());
    std::filesystem::create_directories(run.files().file("out"));
    const std::string flac = run.files().file("tone.flac");
    const std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:duration=1 -ac 2 '" + flac + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    AddThroughDialog({flac});
    // The notice at the batch's end is answered.
    driver().OnModal(ui::dlg::prompt::id, [](Driver& d, gui::HWND dlg) { d.Click(d.Find(dlg, gui::IDOK)); });
    Choose(40006);
    ASSERT_TRUE(driver().PumpUntil(
        [&] { return run.column(ui::kColState)[0] == "Done" && GetItemState(nullptr) == 0; }, 120000))
        << run.column(ui::kColState)[0];
    EXPECT_NE(ui::WaitWorkerThreads(10000), 0);
    EXPECT_TRUE(std::filesystem::exists(run.files().file("out/tone.mp3")));
}

TEST(FileListCells, SizesDurationsAndNamesReadAsShown) {
    struct SizeCase {
        uint32_t kb;
        const char* shown;
    } sizes[] = {{1, "1 KB"}, {10239, "10239 KB"}, {10240, "10 MB"}, {1048575, "1023 MB"}, {1048576, "1.0 GB"}};
    for (const SizeCase& c : sizes) EXPECT_EQ(ui::CFileList::SizeText(c.kb), c.shown) << c.kb;

    struct DurationCase {
        int32_t ms;
        const char* shown;
    } durations[] = {{0, ""}, {999, "00:00"}, {61000, "01:01"}, {3599999, "59:59"}, {3600000, "1:00:00"}};
    for (const DurationCase& c : durations) EXPECT_EQ(ui::CFileList::DurationText(c.ms), c.shown) << c.ms;

    struct NameCase {
        const char* file;
        const char* alias;
        uint16_t track, chapter;
        bool tags;
        const char* shown;
    } names[] = {
        {"/m/x.flac", "Alias", 0, 0, false, "Alias"},
        {"/m/x.flac", nullptr, 0, 0, true, "Artist - Title"},
        {"br://", nullptr, 2, 3, false, "Bluray Track 2 Chapter 3"},
        {"dvd://", nullptr, 0, 4, false, "DVD Chapter 4"},
        {"dvdnav://", nullptr, 1, 0, false, "DVD Track 1"},
        {"vcd://", nullptr, 2, 0, false, "VCD Track 2"},
        {"vcd://", nullptr, 0, 0, false, "VCD"},
        {"http://host/a.mp3", nullptr, 0, 0, false, "http://host/a.mp3"},
        {"/m/a b.flac", nullptr, 3, 0, false, "a b.flac (Track 3)"},
        {"/m/a.iso", nullptr, 3, 2, false, "a.iso (Track 3 Chapter 2)"},
        {"C:\\m\\x.wav", nullptr, 0, 0, false, "x.wav"},
    };
    for (const NameCase& c : names) {
        QueueItem* item = QueueNewItem(c.file);
        ASSERT_NE(item, nullptr);
        SetStringField(&item->alias, c.alias);
        item->track = c.track;
        item->chapter = c.chapter;
        if (c.tags) {
            item->flags.fetch_or(kItemFlagHasTags);
            SetStringField(&item->tagArtist, "Artist");
            SetStringField(&item->tagTitle, "Title");
        }
        EXPECT_EQ(ui::CFileList::DisplayName(item), c.shown) << c.file;
        QueueFreeItem(item);
    }
}

}  // namespace

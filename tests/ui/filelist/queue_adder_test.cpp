// Playlists and cue sheets into the task queue: real-world sheets (written by hand in the shapes
// ripping and player programs write) give exactly their tracks, times, tags and sizes; playlists
// resolve their entries beside themselves; hostile lists add what they can.
#include "ui/filelist/queue_adder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "engine/queue/queue.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;

// Describes media files from a table instead of running the probe's tools, and counts the hooks.
class RecordingAdder : public QueueAdder {
public:
    std::map<std::string, std::pair<int32_t, uint32_t>> media;  // file name -> (ms, KB)
    std::vector<QueueItem*> appended;
    int rowsChanged = 0;
    std::vector<std::string> probed;

protected:
    int Probe(QueueItem* item) override {
        probed.push_back(item->file);
        auto found = media.find(fs::path(item->file).filename().string());
        if (found == media.end()) return -1;
        item->duration = found->second.first;
        item->size = found->second.second;
        return 0;
    }
    void OnItemAppended(QueueItem* item) override { appended.push_back(item); }
    void OnRowsChanged() override { ++rowsChanged; }
};

class Adding : public ::testing::Test {
protected:
    void SetUp() override { QueueClear(); }
    void TearDown() override { QueueClear(); }

    std::vector<QueueItem*> Items() {
        std::vector<QueueItem*> out;
        for (int i = 0; i < QueueCount(); ++i) out.push_back(QueueGetItem(i));
        return out;
    }
    std::string Fixture(const std::string& name) {
        const std::string target = dir.file(name);
        fs::copy_file(fs::path(SQ_TEST_DATA_DIR) / "cue" / name, target);
        return target;
    }
    void Touch(const std::string& name, size_t bytes = 0) {
        fs::create_directories(fs::path(dir.file(name)).parent_path());
        std::ofstream(dir.file(name)) << std::string(bytes, 'x');
    }

    sqtest::TempDir dir;
    RecordingAdder adder;
};

struct TrackWant {
    const char* file;  // name in the sheet's folder
    uint32_t begin, end;
    const char* title;
    const char* artist;
    uint32_t sizeKB;
};

TEST_F(Adding, CueSheetsOfRealShapesGiveTheirTracks) {
    // Every medium is 1 KB per millisecond, so a track's size equals its length.
    adder.media = {{"Sueños.wav", {600000, 600000}},
                   {"Blue Notes.flac", {7000000, 7000000}},
                   {"01 - One.wav", {200000, 200000}},
                   {"02 - Two.wav", {400000, 400000}}};
    for (const auto& [name, m] : adder.media) Touch(name);
    const struct {
        const char* sheet;
        std::vector<TrackWant> tracks;
    } cases[] = {
        // CRLF, Latin-1 text, REM/CATALOG/ISRC/FLAGS lines, a pregap (INDEX 00) and a PREGAP.
        {"ripped_image_latin1.cue",
         {{"Sueños.wav", 0, 207000, "Intro", "Café Tacvba", 207000},
          {"Sueños.wav", 207000, 421986, "Canción", "Café Tacvba", 214986},
          {"Sueños.wav", 421986, 600000, "Final", "Invitado", 178014}}},
        // UTF-8 with a byte-order mark, tab indents, LF, an index past 99 minutes.
        {"player_tabs_bom.cue",
         {{"Blue Notes.flac", 0, 562200, "So What", "Quill Quartet", 562200},
          {"Blue Notes.flac", 562200, 6005000, "Freddie Freeloader", "Quill Trio", 5442800},
          {"Blue Notes.flac", 6005000, 7000000, "Blue in Green", "Quill Quartet", 995000}}},
        // One file per track, track 2's pregap at the end of the first file.
        {"multi_file_gaps.cue",
         {{"01 - One.wav", 0, 200000, "One", "Quill", 200000},
          {"02 - Two.wav", 0, 250000, "Two", "Quill", 250000},
          {"02 - Two.wav", 250000, 400000, "Three", "Quill", 150000}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sheet);
        QueueClear();
        adder.appended.clear();
        const std::string sheet = Fixture(c.sheet);
        QueueItem* last = adder.AddFile(sheet, nullptr, 0, 5);
        const auto items = Items();
        ASSERT_EQ(items.size(), c.tracks.size());
        EXPECT_EQ(last, items.back());
        EXPECT_EQ(adder.appended, items);
        for (size_t i = 0; i < items.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "track " << i + 1);
            const TrackWant& w = c.tracks[i];
            const QueueItem* item = items[i];
            EXPECT_EQ(item->file, dir.file(w.file));
            EXPECT_EQ(item->begin, w.begin);
            EXPECT_EQ(item->end, w.end);
            EXPECT_EQ(item->duration, static_cast<int32_t>(w.end - w.begin));
            EXPECT_STREQ(item->tagTitle, w.title);
            EXPECT_STREQ(item->tagArtist, w.artist);
            EXPECT_EQ(item->track, i + 1);
            EXPECT_EQ(item->tagTrack, i + 1);
            EXPECT_EQ(item->chapter, 5);
            EXPECT_EQ(item->size, w.sizeKB);
            EXPECT_STREQ(item->discRoot, sheet.c_str());
            EXPECT_TRUE(item->flags & kItemFlagHasTags);
        }
        EXPECT_EQ(QueueItemsInUse(), QueueCount()) << "the templates are freed";
    }
}

TEST_F(Adding, CueSheetWhoseMediaIsMissingTakesTheSheetsName) {
    Touch("Album.flac");
    adder.media = {{"Album.flac", {60000, 600}}};
    const std::string sheet = dir.write("Album.cue", "FILE \"Range.flac\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                                                     "TRACK 02 AUDIO\nINDEX 01 00:30:00\n");
    ASSERT_NE(adder.AddFile(sheet), nullptr);
    const auto items = Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1]->file, dir.file("Album.flac"));
    EXPECT_EQ(items[1]->size, 300u);
}

TEST_F(Adding, UnreadableOrEmptyCueSheetsAddNothing) {
    const std::string empty = dir.write("empty.cue", "REM nothing\nTITLE \"x\"\n");
    for (const std::string& sheet : {dir.file("missing.cue"), empty, dir.path().string()}) {
        EXPECT_EQ(adder.AddFile(sheet), nullptr) << sheet;
        EXPECT_EQ(QueueCount(), 0);
    }
    EXPECT_TRUE(adder.probed.empty());
}

TEST_F(Adding, PlaylistEntriesResolveBesideThePlaylist) {
    Touch("a.mp3", 3000);
    Touch("sub/b.flac");
    Touch("nested.wav", 2048);
    const std::string list = dir.write("list.m3u",
                                       "#EXTM3U\r\n#EXTINF:215,A\r\na.mp3\r\nsub\\b.flac\r\n/abs/missing.ogg\r\n"
                                       "C:\\Music\\c.mp3\r\nhttp://radio/stream\r\n#EXTINF_INFO:77\r\nmore.m3u8\r\nlast.wav\r\n");
    // The nested list names its reader and itself: neither is read again.
    dir.write("more.m3u8", "list.m3u\nmore.m3u8\n../" + dir.path().filename().string() + "/more.m3u8\nnested.wav\n");
    QueueItem* first = adder.AddFile(list);
    const auto items = Items();
    std::vector<std::string> files;
    for (const QueueItem* item : items) files.push_back(item->file);
    EXPECT_EQ(files, (std::vector<std::string>{dir.file("a.mp3"), dir.file("sub/b.flac"), "/abs/missing.ogg",
                                                "C:\\Music\\c.mp3", "http://radio/stream", dir.file("nested.wav"),
                                                dir.file("last.wav")}));
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(first, items[0]);
    EXPECT_EQ(items[0]->duration, 215000);
    EXPECT_EQ(items[0]->size, 2u) << "size of the file when no directive gave one";
    EXPECT_EQ(items[2]->size, 0u) << "a missing file has no size";
    EXPECT_EQ(items[5]->size, 2u) << "the directive before a nested list does not reach its entries";
    EXPECT_EQ(adder.rowsChanged, 2);
}

TEST_F(Adding, HostilePlaylistsAddWhatTheyCan) {
    std::string text = "#EXTM3U\n" + std::string(1 << 20, 'x') + "\n";
    text += std::string("bad\0name.mp3\n", 13) + "ok.mp3\n";
    for (int i = 0; i < 80; ++i) text += "v" + std::to_string(i) + ".mp4\n";
    const std::string list = dir.write("hostile.m3u", text);
    ASSERT_NE(adder.AddFile(list), nullptr);
    EXPECT_EQ(QueueCount(), 1 + kQueueNonAudioLimit) << "the refused videos are freed, the rest queued";
    EXPECT_EQ(QueueItemsInUse(), QueueCount());
    EXPECT_EQ(std::string(QueueGetItem(0)->file), dir.file("ok.mp3"));

    EXPECT_EQ(adder.LoadM3U(dir.file("none.m3u")), nullptr);
    EXPECT_EQ(adder.LoadM3U(dir.write("empty.lst", "")), nullptr);
    EXPECT_EQ(adder.rowsChanged, 1) << "only a list that was read refreshes the rows";
}

TEST_F(Adding, PathsAreRoutedByWhatTheyName) {
    Touch("x.flac");
    dir.write("UP.M3U", "x.flac\n");
    dir.write("plain.lst", "x.flac\n");
    EXPECT_EQ(adder.AddFile(dir.path().string()), nullptr) << "folders are the file list's";
    EXPECT_EQ(QueueCount(), 0);
    QueueItem* media = adder.AddFile(dir.file("x.flac"), "Alias", 3, 4);
    ASSERT_NE(media, nullptr);
    EXPECT_STREQ(media->alias, "Alias");
    EXPECT_EQ(media->track, 3);
    EXPECT_EQ(media->chapter, 4);
    EXPECT_EQ(adder.appended, std::vector<QueueItem*>{media});
    adder.AddFile(dir.file("UP.M3U"));
    adder.AddFile(dir.file("plain.lst"));
    EXPECT_EQ(QueueCount(), 3);
    EXPECT_EQ(adder.rowsChanged, 2);
}

}  // namespace

// The cue sheet reader on sheet texts: times, the ranges tracks get, FILE resolution, tags taken
// from the track or the disc, and hostile lines that must parse without reading past the text.
#include "ui/filelist/cue_sheet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/queue/queue.h"

namespace {

TEST(CueTime, FramesAreSeventyFifthsOfASecond) {
    const struct {
        const char* text;
        std::optional<uint32_t> ms;
    } cases[] = {
        {"03:25:37", 205493},  {"00:00:00", 0},          {"100:00:00", 6000000}, {"1:2:3", 62040},
        {"00:59:74", 59986},   {"00:60:00", std::nullopt}, {"00:00:75", std::nullopt},
        {"3:25", std::nullopt}, {"", std::nullopt},       {"aa:bb:cc", std::nullopt}, {"01:02:03x", std::nullopt},
        {"71000:00:00", 4260000000u}, {"71583:00:00", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseCueTime(c.text), c.ms) << c.text;
}

struct Want {
    int track;
    uint32_t begin, end;
    const char* title;   // null: no title tag
    const char* artist;  // null: no artist tag
    const char* file;    // null: not checked
};

struct SheetCase {
    const char* name;
    std::string text;
    int count;
    std::vector<Want> tracks;
};

// Each track filled into an item over a media file of 600000 ms.
void Check(const SheetCase& c) {
    SCOPED_TRACE(c.name);
    CueSheet sheet;
    sheet.text = c.text;
    sheet.path = "/m/album.cue";
    ASSERT_EQ(CueSheetParse(sheet), c.count);
    for (const Want& w : c.tracks) {
        SCOPED_TRACE(testing::Message() << "track " << w.track);
        QueueItem* item = QueueNewItem(nullptr);
        item->duration = 600000;
        ASSERT_EQ(CueSheetGetTrack(sheet, w.track, item), 0);
        EXPECT_EQ(item->begin, w.begin);
        EXPECT_EQ(item->end, w.end);
        EXPECT_EQ(item->duration, static_cast<int32_t>(w.end ? w.end - w.begin : 0));
        EXPECT_EQ(item->track, w.track);
        EXPECT_EQ(item->tagTrack, static_cast<uint32_t>(w.track));
        EXPECT_STREQ(item->tagTitle, w.title);
        EXPECT_EQ((item->flags & kItemFlagHasTags) != 0, w.title != nullptr);
        EXPECT_STREQ(item->tagArtist, w.artist);
        if (w.file) {
            EXPECT_STREQ(item->file, w.file);
        }
        QueueFreeItem(item);
    }
    QueueItem* beyond = QueueNewItem(nullptr);
    EXPECT_EQ(CueSheetGetTrack(sheet, c.count + 1, beyond), -1);
    QueueFreeItem(beyond);
}

TEST(CueSheetReader, TracksTimesAndTags) {
    const SheetCase cases[] = {
        {"three tracks split one file",
         "PERFORMER \"Disc\"\nTITLE \"Album\"\nFILE \"album.flac\" WAVE\n"
         "TRACK 01 AUDIO\nTITLE \"A\"\nINDEX 01 00:00:00\n"
         "TRACK 02 AUDIO\nTITLE \"B\"\nPERFORMER \"Guest\"\nINDEX 01 03:00:00\n"
         "TRACK 03 AUDIO\nINDEX 01 06:40:00\n",
         3,
         {{1, 0, 180000, "A", "Disc", "/m/album.flac"},
          {2, 180000, 400000, "B", "Guest", nullptr},
          {3, 400000, 600000, nullptr, "Disc", nullptr}}},
        {"pregap stays with the track before; a sub-index does not move the start",
         "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nINDEX 02 01:00:00\n"
         "TRACK 02 AUDIO\nINDEX 00 02:58:00\nINDEX 01 03:00:00\n",
         2,
         {{1, 0, 180000, nullptr, nullptr, nullptr}, {2, 180000, 600000, nullptr, nullptr, nullptr}}},
        {"tracks numbered 2 and 3 leave record 1 empty",
         "FILE \"a.wav\" WAVE\nTRACK 02 AUDIO\nINDEX 01 01:00:00\nTRACK 03 AUDIO\nINDEX 01 02:00:00\n",
         3,
         {{1, 0, 0, nullptr, nullptr, "/m/a.wav"},
          {2, 60000, 120000, nullptr, nullptr, nullptr},
          {3, 120000, 600000, nullptr, nullptr, nullptr}}},
        {"times out of order leave the earlier track open",
         "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 05:00:00\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n",
         2,
         {{1, 300000, 600000, nullptr, nullptr, nullptr}, {2, 60000, 600000, nullptr, nullptr, nullptr}}},
        {"CR line ends, tabs, an unterminated quote and a title at the text's end",
         "\tPERFORMER \"Open\rFILE \"a.wav\" WAVE\r\tTRACK 01 AUDIO\r\t\tINDEX 01 00:00:00\r\t\tTITLE \"Last\"",
         1,
         {{1, 0, 600000, "Last", "Open", "/m/a.wav"}}},
    };
    for (const SheetCase& c : cases) Check(c);
}

TEST(CueSheetReader, FileLinesResolveBesideTheSheet) {
    const struct {
        const char* line;
        const char* file;
    } cases[] = {
        {"FILE \"album.flac\" WAVE", "/m/album.flac"},
        {"FILE \"D:\\x.wav\" WAVE", "D:\\x.wav"},
        {"FILE \"/abs/x.wav\" WAVE", "/abs/x.wav"},
        {"FILE \"disc 1\\side a.wav\" WAVE", "/m/disc 1/side a.wav"},
        {"FILE album.wav WAVE", "/m/album.wav"},
        {"FILE \"http://host/a.mp3\" MP3", "http://host/a.mp3"},
    };
    for (const auto& c : cases) {
        CueSheet sheet;
        sheet.path = "/m/album.cue";
        sheet.text = std::string(c.line) + "\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
        ASSERT_EQ(CueSheetParse(sheet), 1);
        EXPECT_EQ(sheet.tracks[1].file, c.file) << c.line;
        EXPECT_EQ(sheet.path, c.file);
    }
}

// Lines a broken or hostile sheet holds: each parses, keeps what it can and allocates no more
// than the CUE track limit allows.
TEST(CueSheetReader, HostileLines) {
    const struct {
        const char* name;
        std::string text;
        int count;
        uint32_t start1;
    } cases[] = {
        {"huge track number", "TRACK 99999999 AUDIO\nINDEX 01 09:00:00\nTRACK 01 AUDIO\nINDEX 01 00:01:00\n", 1, 1000},
        {"negative track number", "TRACK -5 AUDIO\nTRACK 01 AUDIO\nINDEX 01 00:02:00\n", 1, 2000},
        {"refused track does not move the one before", "TRACK 01 AUDIO\nINDEX 01 00:03:00\nTRACK 400 AUDIO\nINDEX 01 01:00:00\n", 1, 3000},
        {"short and endless index times", "TRACK 01 AUDIO\nINDEX 01 3:25\nINDEX 01 99999999999999999999:00:00\nINDEX\n", 1, 0},
        {"keywords alone", "REM\nTRACK\nTITLE\nFILE\nINDEX 01\nTRACK 01\nPERFORMER \"\n", 1, 0},
        {"a line with a NUL is passed over", std::string("TRACK 01 AUDIO\nINDEX 01 00:05:00") + '\0' + "junk\nINDEX 01 00:04:00\n", 1, 4000},
        {"no tracks", "REM nothing here\nTITLE \"x\"\n", 0, 0},
        {"empty", "", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CueSheet sheet;
        sheet.path = "/m/x.cue";
        sheet.text = c.text;
        ASSERT_EQ(CueSheetParse(sheet), c.count);
        ASSERT_EQ(sheet.tracks.size(), static_cast<size_t>(c.count) + 1);
        if (c.count > 0) {
            EXPECT_EQ(sheet.tracks[1].start, c.start1);
        }
        CueSheetFree(sheet);
        EXPECT_EQ(sheet.status, 0);
        EXPECT_TRUE(sheet.tracks.empty());
    }
}

TEST(CueSheetReader, FindTakesTheRecordsFirstExactKeyword) {
    CueSheet sheet;
    sheet.path = "/m/x.cue";
    sheet.text = "REM GENRE Jazz\nREM DATE 1959\nTRACK 01 AUDIO\nTITLE \"One\" extra words\nTitle \"no\"\n";
    ASSERT_EQ(CueSheetParse(sheet), 1);
    const CueLine* rem = CueSheetFind(sheet, 0, "REM");
    ASSERT_NE(rem, nullptr);
    EXPECT_EQ(rem->argument, "GENRE Jazz");
    EXPECT_EQ(rem->rest, "Jazz");
    const CueLine* title = CueSheetFind(sheet, 1, "TITLE");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->argument, "One");
    EXPECT_EQ(title->rest, "extra words");
    EXPECT_EQ(CueSheetFind(sheet, 1, "REM"), nullptr);
    EXPECT_EQ(CueSheetFind(sheet, 2, "TITLE"), nullptr);
}

}  // namespace

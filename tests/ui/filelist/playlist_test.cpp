// Playlist texts into entries: plain and extended lists, every directive with its limits, and
// the three line-end styles read alike.
#include "ui/filelist/playlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/queue/queue.h"

namespace {

// Fields as the directives of a case set them.
template <typename Set>
PlaylistFields With(Set set) {
    PlaylistFields f;
    set(f);
    return f;
}

std::string WithLineEnds(std::string text, const std::string& end) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += end;
        else out += c;
    }
    return out;
}

TEST(PlaylistText, EntriesAndTheirFields) {
    const struct {
        const char* name;
        std::string text;
        std::vector<PlaylistEntry> entries;
    } cases[] = {
        {"extended with a Windows path", "#EXTM3U\n#EXTINF:215,Artist - Title\nC:\\a.mp3\n",
         {{"C:\\a.mp3", With([](PlaylistFields& f) { f.duration = 215000; })}}},
        {"without the header every line is a path", "#EXTINF:215,x\n\n\na.mp3",
         {{"#EXTINF:215,x", {}}, {"a.mp3", {}}}},
        {"a byte-order mark before the header", "\xEF\xBB\xBF#EXTM3U x\n#EXTINF:5,t\na.mp3\n",
         {{"a.mp3", With([](PlaylistFields& f) { f.duration = 5000; })}}},
        {"size and flags", "#EXTM3U\n#EXTINF_INFO:4096,8388608\na\n#EXTINF_INFO:4096\nb\n",
         {{"a", With([](PlaylistFields& f) { f.size = 4096; f.flags = kItemFlagUserDest; })}, {"b", With([](PlaylistFields& f) { f.size = 4096; })}}},
        {"flags of a running job are not taken", "#EXTM3U\n#EXTINF_INFO:1,66051\na\n",
         {{"a", With([](PlaylistFields& f) { f.size = 1; })}}},
        {"the skip mark is", "#EXTM3U\n#EXTINF_INFO:7,4097\na\n", {{"a", With([](PlaylistFields& f) { f.size = 7; f.flags = kItemFlagSkip; })}}},
        {"time range with a disc root", "#EXTM3U\n#EXTINF_TIME:2,0,60000,120000,\"D:\\\"\nd\n",
         {{"d", With([](PlaylistFields& f) { f.track = 2; f.chapter = 0; f.begin = 60000; f.end = 120000; f.discRoot = "D:\\"; })}}},
        {"fractions are cut, numbers out of range refused", "#EXTM3U\n#EXTINF_TIME:70000,3,1.5,-3\nd\n",
         {{"d", With([](PlaylistFields& f) { f.chapter = 3; f.begin = 1; })}}},
        {"stream of unknown length", "#EXTM3U\n#EXTINF:-1,Radio\nhttp://radio/x\n",
         {{"http://radio/x", With([](PlaylistFields& f) { f.duration = 0; })}}},
        {"a huge length is clamped", "#EXTM3U\n#EXTINF:99999999999999,x\na\n", {{"a", With([](PlaylistFields& f) { f.duration = 2147483000; })}}},
        {"subtitle only when quoted", "#EXTM3U\n#EXTINF_SUB:x.srt\na\n#EXTINF_SUB:\"y.srt\"\nb\n",
         {{"a", {}}, {"b", With([](PlaylistFields& f) { f.subtitle = "y.srt"; })}}},
        {"crop of four whole numbers", "#EXTM3U\n#EXTINF_CROP:1,2,640,480\na\n#EXTINF_CROP:1,-2,3,4\nb\n",
         {{"a", With([](PlaylistFields& f) { f.crop = std::array<uint32_t, 4>{1, 2, 640, 480}; })}, {"b", {}}}},
        {"destination, preset, empty values", "#EXTM3U\n#EXTINF_OUTFILE:/out/x.mp3\n#EXTINF_PRESET:p.xml\na\n"
                                              "#EXTINF_OUTFILE:\n#EXTINF_PRESET:\nb\n",
         {{"a", With([](PlaylistFields& f) { f.flags = kItemFlagUserDest; f.destFile = "/out/x.mp3"; f.preset = "p.xml"; })}, {"b", {}}}},
        {"a repeated directive overwrites; unknown ones are ignored",
         "#EXTM3U\n#EXTINF:1,a\n#EXTINF:2,b\n#EXTINF_FOO:9\n#EXTGENRE:x\na\n", {{"a", With([](PlaylistFields& f) { f.duration = 2000; })}}},
        {"a directive after the last path", "#EXTM3U\na\n#EXTINF:3,x\n", {{"a", {}}}},
        {"a line with a NUL is passed over", std::string("#EXTM3U\na\0b\nc\n", 14), {{"c", {}}}},
    };
    for (const auto& c : cases) {
        for (const char* end : {"\n", "\r\n", "\r"}) {
            SCOPED_TRACE(testing::Message() << c.name << " with line end " << testing::PrintToString(std::string(end)));
            EXPECT_EQ(ParsePlaylist(WithLineEnds(c.text, end)), c.entries);
        }
    }
}

TEST(PlaylistText, FieldsReachTheItemOnTopOfItsOwn) {
    QueueItem* item = QueueNewItem("/m/a.mp3");
    const uint32_t own = item->flags;
    const auto entries = ParsePlaylist("#EXTM3U\n#EXTINF:9,x\n#EXTINF_TIME:3,4,10,20,\"/disc\"\n#EXTINF_OUTFILE:/o.mp3\na\n");
    ASSERT_EQ(entries.size(), 1u);
    ApplyPlaylistFields(item, entries[0].fields);
    EXPECT_EQ(item->duration, 9000);
    EXPECT_EQ(item->track, 3);
    EXPECT_EQ(item->chapter, 4);
    EXPECT_EQ(item->begin, 10u);
    EXPECT_EQ(item->end, 20u);
    EXPECT_STREQ(item->discRoot, "/disc");
    EXPECT_STREQ(item->destFile, "/o.mp3");
    EXPECT_EQ(item->flags, own | kItemFlagUserDest);
    EXPECT_EQ(item->size, 0u) << "a field no directive set keeps the new item's value";
    QueueFreeItem(item);
}

}  // namespace

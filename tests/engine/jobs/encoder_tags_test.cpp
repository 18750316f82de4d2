// Encoders that write their own tags: every tag the item carries (title, artist, album, track,
// year, genre, comment) reaches the output through the tool's own options, read back by
// ffprobe; a tag the item lacks gives no option at all (no empty value, no empty tag).
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "engine/encoders/encoder.h"
#include "engine/jobs/job_fixture.h"

namespace {

using sqtest::Capture;
using sqtest::Shell;

// Title, artist, album, track, year, genre and comment as ffprobe reads them from the container
// and the stream (each tool names them its own way); mediainfo reads the comment frame that lame
// writes, which ffprobe skips.
std::vector<std::string> ReadTags(const std::string& path) {
    const std::string text = Capture("ffprobe -v error -show_entries format_tags:stream_tags -of default=nw=1 '" + path + "'");
    std::map<std::string, std::string> tags;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t eq = line.find('=');
        if (line.rfind("TAG:", 0) != 0 || eq == std::string::npos) continue;
        std::string key = line.substr(4, eq - 4);
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        tags.emplace(key, line.substr(eq + 1));
    }
    auto any = [&](std::initializer_list<const char*> keys) {
        for (const char* k : keys)
            if (auto it = tags.find(k); it != tags.end()) return it->second;
        return std::string();
    };
    std::vector<std::string> fields = {any({"title"}), any({"artist", "author"}), any({"album"}),
                                       any({"track", "tracknumber"}), any({"date", "year"}), any({"genre"}),
                                       any({"comment"})};
    if (fields[6].empty()) fields[6] = Capture("mediainfo --Inform='General;%Comment%' '" + path + "'");
    return fields;
}

class EncoderTags : public sqtest::JobFixture {
protected:
    void SetUp() override {
        JobFixture::SetUp();
        GetPrefStore().SetInt("overall.output.tag", 1);
        input = in.file("in.wav");
        ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + input + "' synth 2 sine 440 vol 0.3"));
    }
    // Every tool line of the run (decoder and encoder), one a line.
    std::string ToolLines() const {
        std::string lines;
        for (const std::string& l : events.texts(kEventCommandLine)) lines += l + "\n";
        return lines;
    }
    std::string input;
};

TEST_F(EncoderTags, EveryTagReachesTheOutputAndAbsentTagsGiveNoOption) {
    const struct {
        int encoder;
        const char* genreOption;  // how the tool is told the genre
    } encoders[] = {{kEncLame, "--tg "},          {kEncVorbis, "-G "},      {kEncOpus, "--genre "},
                    {kEncFlac, "GENRE="},          {kEncWavPack, "Genre="},  {kEncMusePack, "Genre="},
                    {kEncSpeex, "GENRE="},         {kEncWma, "genre="},      {kEncFFmpeg, "genre="}};
    for (const auto& e : encoders) {
        GetPrefStore().SetInt("overall.audio.encoder", e.encoder);
        for (bool full : {true, false}) {
            SCOPED_TRACE(testing::Message() << "encoder " << e.encoder << (full ? " all tags" : " title only"));
            QueueClear();
            events.clear();
            QueueItem* item = Add(input);
            Describe(item, 44100, 2, 2000);
            SetStringField(&item->tagTitle, full ? "Blue Monday (12'' Mix) – Ünï" : "Lone");
            if (full) {
                SetStringField(&item->tagArtist, "The Quill");
                SetStringField(&item->tagAlbum, "Second Album");
                item->tagTrack = 7;
                item->tagYear = 1999;
                SetStringField(&item->tagGenre, "Quill Wave");
                SetStringField(&item->tagComment, "first take");
            }
            item->flags |= kItemFlagHasTags;
            RunBatch(1);
            ASSERT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
            const std::string line = ToolLines();
            const std::vector<std::string> tags = ReadTags(item->destFile);
            if (full) {
                EXPECT_EQ(tags, (std::vector<std::string>{"Blue Monday (12'' Mix) – Ünï", "The Quill", "Second Album", "7",
                                                          "1999", "Quill Wave", "first take"}))
                    << line;
            } else {
                EXPECT_EQ(tags[0], "Lone");
                for (int i : {2, 3, 4, 5, 6}) EXPECT_EQ(tags[i], "") << "field " << i << ": " << line;
                EXPECT_EQ(line.find(e.genreOption), std::string::npos) << line;
                EXPECT_EQ(line.find("\"\""), std::string::npos) << line;
            }
        }
    }
}

}  // namespace

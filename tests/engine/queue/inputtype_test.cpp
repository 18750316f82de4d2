#include "engine/queue/inputtype.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct ClassifyCase {
    const char* path;
    uint32_t typeId;
    const char* description;
    uint32_t kind;
};

TEST(ClassifyInputTest, Table) {
    const std::string longExt = "/music/a." + std::string(300, 'x');
    const std::string longMp3 = "/music/" + std::string(5000, 'n') + ".mp3";
    const std::vector<ClassifyCase> cases = {
        // extensions, any letter case
        {"/music/a.mp3", 11, "MPEG-1 Layer 3", 1},
        {"/music/a.MP3", 11, "MPEG-1 Layer 3", 1},
        {"/music/b.FlAc", 22, "FLAC Audio", 1},
        {"/v/clip.mkv", 26, "Matroska Video", 2},
        {"/v/clip.M2TS", 5, "AVCHD", 2},
        {"/v/clip.264", 31, "H.264 ES", 2},
        {"a.mpa", 9, "MPEG-1 Audio", 1},  // the first of the two "mpa" rows
        {"/s/script.avs", 39, "AviSynth Script", 16},
        {"/s/disc.cue", 33, "CUE Sheet", 16},
        {"/p/list.m3u", 34, "M3U Playlist", 32},
        {"/p/list.lst", 35, "Playlist", 32},
        {"/t/readme.txt", 36, "Plain Text", 8},
        {"/i/photo.jpeg", 40, "JPEG Image", 2},
        {"track.cda", 42, "Audio CD Track", 1},  // the CD row, not the table's "cda" row
        {"x/Track05.CDA", 42, "Audio CD Track", 1},
        // disc schemes, lower case only
        {"br://1", 43, "Bluray Track", 2},
        {"dvd://3", 44, "DVD Track", 2},
        {"vcd://2", 45, "Video CD Track", 2},
        {"cdda://4", 42, "Audio CD Track", 1},
        {"DVD://3", 38, "Network Stream", 2},
        // capture devices come before the network test
        {"dshow://video=cam", 50, "Capture Device", 2},
        {"dvb-t://channel", 50, "Capture Device", 2},
        {"mms://host/stream", 50, "Capture Device", 2},
        {"http://h/a.mp3", 38, "Network Stream", 2},
        {"rtsp://h/live", 38, "Network Stream", 2},
        // folders and unknown names
        {"/home/u/dir.d/file", 0, "", 0},
        {"/home/u/.cache/x", 0, "", 0},
        {"/music/noext", 0, "", 0},
        {"/music/a.", 0, "", 0},
        {"/music/a.xyz", 0, "", 0},
        {"ab", 0, "", 0},
        {"", 0, "", 0},
        {".mp3", 11, "MPEG-1 Layer 3", 1},
        {longExt.c_str(), 0, "", 0},
        {longMp3.c_str(), 11, "MPEG-1 Layer 3", 1},
    };
    for (const ClassifyCase& c : cases) {
        SCOPED_TRACE(std::string(c.path).substr(0, 60));
        const InputTypeRow* row = ClassifyInput(c.path);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->typeId, c.typeId);
        EXPECT_STREQ(row->description, c.description);
        EXPECT_EQ(row->kind, c.kind);
    }
    EXPECT_EQ(ClassifyInput(nullptr), UnknownInputRow());
    EXPECT_STREQ(UnknownInputRow()->mime, "application/octet-stream");
}

TEST(ClassifyInputTest, RowsByIndexAndBounds) {
    EXPECT_STREQ(GetInputTypeRow(0)->ext, "mp2");
    EXPECT_STREQ(GetInputTypeRow(68)->ext, "txt");
    ASSERT_NE(GetInputTypeRow(69), nullptr);
    EXPECT_EQ(GetInputTypeRow(69)->ext, nullptr);  // the terminator callers stop at
    EXPECT_EQ(GetInputTypeRow(70), nullptr);
    EXPECT_EQ(GetInputTypeRow(-1), nullptr);
    // Every extension row is found by its own extension, except the second "mpa".
    for (int i = 0; i < kInputTypeCount; ++i) {
        const InputTypeRow* row = GetInputTypeRow(i);
        std::string path = std::string("/x/file.") + row->ext;
        if (i == 5) {
            EXPECT_EQ(ClassifyInput(path.c_str()), GetInputTypeRow(1));
        } else if (std::strcmp(row->ext, "cda") != 0) {
            EXPECT_EQ(ClassifyInput(path.c_str()), row) << row->ext;
        }
    }
}

TEST(ClassifyInputTest, FileTypesDefault) {
    std::string text = BuildFileTypesDefault();
    EXPECT_EQ(text.rfind("mp2;mpa;mp3;mp4;m4v;mpa;m4a;", 0), 0u);
    // What sits beside an album's tracks is no input of a folder scan.
    const std::string list = ";" + text + ";";
    for (const char* ext : {"jpg", "png", "gif", "log", "txt", "cue", "m3u", "lst", "avs"})
        EXPECT_EQ(list.find(std::string(";") + ext + ";"), std::string::npos) << ext;
    for (const char* ext : {"wav", "flac", "mkv", "wv", "ogg", "divx"})
        EXPECT_NE(list.find(std::string(";") + ext + ";"), std::string::npos) << ext;
}

}  // namespace

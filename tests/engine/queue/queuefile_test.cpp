#include "engine/queue/queuefile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "support/pref_builder.h"
#include "support/tempdir.h"

namespace {

const std::string kData = std::string(SQ_TEST_DATA_DIR) + "/queue/";

std::string Text(const char* text) { return text ? "\"" + std::string(text) + "\"" : "null"; }

// Every field queue.xml keeps, as one text, so two items compare field by field.
std::string Describe(const QueueItem* item) {
    std::string d;
    auto add = [&d](const char* name, const std::string& value) { d += std::string(name) + "=" + value + " "; };
    add("file", Text(item->file));
    add("flags", std::to_string(item->flags.load()));
    add("state", std::to_string(item->state.load()));
    add("destfile", Text(item->destFile));
    add("alias", Text(item->alias));
    add("subtitle", Text(item->subtitle));
    add("audiofile", Text(item->audioFile));
    add("group", std::to_string(item->group));
    add("preset", Text(item->preset));
    add("size", std::to_string(item->size));
    add("duration", std::to_string(item->duration));
    add("begin", std::to_string(item->begin));
    add("end", std::to_string(item->end));
    add("discroot", Text(item->discRoot));
    add("track", std::to_string(item->track));
    add("chapter", std::to_string(item->chapter));
    add("vid", std::to_string(item->vid));
    add("aid", std::to_string(item->aid));
    add("errno", std::to_string(item->errorCode.load()));
    add("container", Text(item->containerFormat) + "/" + std::to_string(item->containerOverhead) + "/" +
                         std::to_string(item->containerBitrate));
    for (const AudioStreamInfo* s = item->audio; s; s = s->next) {
        add("audio", std::to_string(s->id) + "/" + Text(s->codec) + "/" + std::to_string(s->bitrate) + "/" +
                         std::to_string(s->bitrateMode) + "/" + std::to_string(s->channels) + "/" +
                         std::to_string(s->samplerate) + "/" + std::to_string(s->samplebits) + "/" +
                         std::to_string(s->delay));
    }
    for (const VideoStreamInfo* s = item->video; s; s = s->next) {
        add("video", std::to_string(s->id) + "/" + Text(s->format) + "/" + Text(s->codec) + "/" +
                         std::to_string(s->bitrate) + "/" + std::to_string(s->width) + "x" +
                         std::to_string(s->height) + "/" + std::to_string(s->fpsNum) + ":" +
                         std::to_string(s->fpsDen) + "/" + std::to_string(s->darNum) + ":" +
                         std::to_string(s->darDen) + "/" + std::to_string(s->scanMode) + "/" +
                         std::to_string(s->flags));
    }
    if (item->flags.load() & kItemFlagHasTags) {
        add("tags", Text(item->tagTitle) + "/" + Text(item->tagArtist) + "/" + Text(item->tagAlbum) + "/" +
                        std::to_string(item->tagYear) + "/" + std::to_string(item->tagTrack) + "/" +
                        Text(item->tagGenre) + "/" + Text(item->tagComment));
    }
    add("target", std::to_string(item->targetSize) + "/" + std::to_string(item->targetRatio) + "/" +
                      std::to_string(item->targetSplit) + "/" + std::to_string(item->targetWidth) + "x" +
                      std::to_string(item->targetHeight) + "/" + std::to_string(item->targetFpsNum) + ":" +
                      std::to_string(item->targetFpsDen));
    add("crop", std::to_string(item->cropLeft) + "," + std::to_string(item->cropTop) + "," +
                    std::to_string(item->cropWidth) + "," + std::to_string(item->cropHeight));
    return d;
}

std::vector<std::string> DescribeQueue() {
    std::vector<std::string> all;
    QueueLockGuard lock;
    for (QueueItem* item = QueueNext(nullptr); item; item = QueueNext(item)) all.push_back(Describe(item));
    return all;
}

// Text that XML can hold but that breaks careless writers: markup, entities, quotes, blanks at
// both ends, line breaks, and non-ASCII text.
std::string HostileName(int i) {
    static const char* const parts[] = {"&",  "<",   ">",     "\"",        "'",     "&amp;", "]]>", "é",
                                        "日本語", "🎵", "\t",    "\n",        "\r\n",  "\\",    "%d",  "$(Title)",
                                        "<!--", "?>", "&#38;", "<item>", "  ", "Ä ö ü"};
    const int n = sizeof parts / sizeof parts[0];
    std::string name = (i % 3 == 0) ? " " : "";
    name += std::to_string(i);
    for (int k = 0; k < 4; ++k) name += parts[(i * 7 + k * 5) % n];
    if (i % 5 == 0) name += "  ";
    return name;
}

// An item with every kept field set; fields vary with i.
QueueItem* BuildItem(int i, bool video) {
    std::string name = HostileName(i);
    QueueItem* item = QueueNewItem(("/in/" + name + (video ? ".mkv" : ".flac")).c_str());
    item->state = static_cast<uint32_t>(i % 3 == 0 ? kItemDone : (i % 3 == 1 ? kItemError : kItemReady));
    item->flags |= kItemFlagUserDest | kItemFlagHasTags | kItemFlagHasStreams | kItemFlagSeparateAudio;
    SetStringField(&item->destFile, ("/out/" + name + ".mp3").c_str());
    SetStringField(&item->alias, name.c_str());
    SetStringField(&item->subtitle, ("/in/" + name + ".srt").c_str());
    SetStringField(&item->audioFile, ("/in/" + name + ".wav").c_str());
    SetStringField(&item->preset, "/presets/a&b <c>.xml");
    SetStringField(&item->discRoot, "/media/cd \"1\"");
    SetStringField(&item->containerFormat, "Matroska & co");
    item->group = -(i % 4);
    item->size = 4000000000u + static_cast<uint32_t>(i);  // above the signed range
    item->duration = 1000 * i + 7;
    item->begin = 10u * i;
    item->end = 20u * i + 1;
    item->track = static_cast<uint16_t>(60000 + i % 5000);  // above the signed 16-bit range
    item->chapter = static_cast<uint16_t>(i % 100);
    item->vid = static_cast<uint16_t>(i % 7);
    item->aid = 0xFFFF;
    item->errorCode = i % 19;
    item->containerOverhead = 123;
    item->containerBitrate = 256000;
    SetStringField(&item->tagTitle, ("Title " + name).c_str());
    SetStringField(&item->tagArtist, "Artist 'quoted' & <tagged>");
    SetStringField(&item->tagAlbum, "Album ü");
    SetStringField(&item->tagGenre, "Genre");
    SetStringField(&item->tagComment, "line one\nline two");
    item->tagYear = 1999;
    item->tagTrack = static_cast<uint32_t>(i % 30);
    AudioStreamInfo** link = &item->audio;
    for (int a = 0; a < 2; ++a) {
        auto* s = new AudioStreamInfo;
        s->id = static_cast<uint32_t>(a + 1);
        s->codec = DupString(a ? "AC-3" : "AAC & more");
        s->bitrate = 192000;
        s->bitrateMode = 2;
        s->channels = 6;
        s->samplerate = 48000;
        s->samplebits = 24;
        s->delay = 40u * a;
        *link = s;
        link = &s->next;
    }
    if (video) {
        auto* v = new VideoStreamInfo;
        v->id = 0;
        v->format = DupString("MPEG-4 <visual>");
        v->codec = DupString("AVC");
        v->bitrate = 4000000;
        v->width = 1920;
        v->height = 1080;
        v->fpsNum = 30000;
        v->fpsDen = 1001;
        v->darNum = 16;
        v->darDen = 9;
        v->scanMode = 't';
        v->flags = 3;
        item->video = v;
    }
    item->targetSize = static_cast<uint32_t>(i % 2);
    item->targetRatio = (i % 4 == 0) ? 1.0f : 0.5f;
    item->targetSplit = 0;
    item->targetWidth = 640;
    item->targetHeight = 360;
    item->targetFpsNum = 25;
    item->targetFpsDen = 1;
    item->cropLeft = static_cast<uint32_t>(i % 3);
    item->cropTop = 8;
    item->cropWidth = 1904;
    item->cropHeight = 1064;
    return item;
}

class QueueFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefs_.Add("overall.task.removeDone", kPrefBool, "0");
        QueueClear();
        baseline_ = QueueItemsInUse();
    }
    void TearDown() override {
        QueueClear();
        EXPECT_EQ(QueueItemsInUse(), baseline_) << "an item was not freed";
    }
    void Append(QueueItem* item) { ASSERT_EQ(QueueAppend(item), 0); }

    sqtest::PrefBuilder prefs_{GetPrefStore()};
    sqtest::TempDir dir_;
    int baseline_ = 0;
};

TEST_F(QueueFileTest, RoundTripOfTenThousandHostileItems) {
    const int kItems = 10000;
    for (int i = 0; i < kItems; ++i) Append(BuildItem(i, i % 200 == 0));  // 50 video items
    std::vector<std::string> before = DescribeQueue();
    // Flags of a running job are not kept: item 1 comes back as it was before they were set.
    QueueGetItem(1)->flags |= kItemFlagClaimed | kItemFlagStarted | kItemFlagTestPhase;

    const std::string path = dir_.file("queue.xml");
    ASSERT_EQ(SaveQueueFile(path.c_str()), kItems);
    QueueClear();
    ASSERT_EQ(QueueItemsInUse(), baseline_);
    ASSERT_EQ(LoadQueueFile(path.c_str()), kItems);
    EXPECT_EQ(QueueItemsInUse(), baseline_ + kItems);
    std::vector<std::string> after = DescribeQueue();
    ASSERT_EQ(after.size(), before.size());
    for (int i = 0; i < kItems; ++i) ASSERT_EQ(after[i], before[i]) << "item " << i;
    EXPECT_EQ(QueueGetItem(200)->inputType->typeId, 26u);  // classified again from the path

    // No temporary file is left beside the queue.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), std::filesystem::directory_iterator{}), 1);
}

TEST_F(QueueFileTest, ElementsAsWritten) {
    QueueItem* item = QueueNewItem("/m/a & b.mp3");
    item->track = 3;
    item->chapter = 1;
    item->flags |= kItemFlagTestPhase;
    Append(item);
    QueueItem* plain = QueueNewItem("/m/c.mp3");
    plain->targetWidth = 320;  // a target resolution alone is kept too
    Append(plain);
    const std::string path = dir_.file("queue.xml");
    ASSERT_EQ(SaveQueueFile(path.c_str()), 2);
    std::string text = sqtest::ReadFile(path);
    EXPECT_NE(text.find("<item><file>/m/a &amp; b.mp3</file><flags>-2147482624</flags>"
                        "<track>3</track><chapter>1</chapter></item>"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("<item><file>/m/c.mp3</file><flags>-2147482624</flags>"
                        "<target><ratio>1.000000</ratio><width>320</width></target></item>"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("<state>"), std::string::npos);  // zero integers are left out
}

// The file format itself: a hand-written file with every element loads into the right fields
// and saves back element for element, names, order and nesting alike.
TEST_F(QueueFileTest, FullFileLoadsAndSavesAsWritten) {
    const std::string original = sqtest::ReadFile(kData + "full.xml");
    ASSERT_EQ(LoadQueueFile((kData + "full.xml").c_str()), 2);
    const QueueItem* item = QueueGetItem(0);
    ASSERT_NE(item, nullptr);
    EXPECT_STREQ(item->file, "/music/Été & co/01 <live>.mkv");
    EXPECT_EQ(item->flags.load(), 0x80800406u);
    EXPECT_EQ(item->state.load(), static_cast<uint32_t>(kItemError));
    EXPECT_EQ(item->group, -2);
    EXPECT_EQ(item->vid, 0xFFFF);
    EXPECT_EQ(item->aid, 189);
    EXPECT_EQ(item->errorCode.load(), 17);
    EXPECT_EQ(item->containerOverhead, 2);
    ASSERT_NE(item->audio, nullptr);
    ASSERT_NE(item->audio->next, nullptr);
    EXPECT_EQ(item->audio->bitrateMode, 2u);
    EXPECT_STREQ(item->audio->next->codec, "AC-3");
    EXPECT_EQ(item->audio->next->samplebits, 24u);
    ASSERT_NE(item->video, nullptr);
    EXPECT_EQ(item->video->scanMode, static_cast<uint32_t>('t'));
    EXPECT_EQ(item->video->darDen, 9u);
    EXPECT_EQ(item->tagYear, 1999u);
    EXPECT_EQ(item->tagTrack, 7u);
    EXPECT_EQ(item->track, 3);
    EXPECT_EQ(item->targetRatio, 0.5f);
    EXPECT_EQ(item->cropHeight, 1072u);
    EXPECT_EQ(QueueGetItem(1)->state.load(), static_cast<uint32_t>(kItemDone));

    const std::string path = dir_.file("queue.xml");
    ASSERT_EQ(SaveQueueFile(path.c_str()), 2);
    // The writer does not indent: compare without the blanks between elements.
    const std::regex between(">\\s+<");
    EXPECT_EQ(std::regex_replace(sqtest::ReadFile(path), between, "><"),
              std::regex_replace(original, between, "><"));
}

TEST_F(QueueFileTest, CharactersXmlCannotHoldAreDroppedNotTheFile) {
    QueueItem* item = QueueNewItem("/m/bell\x07name.mp3");
    SetStringField(&item->alias, "bad \x01\x1f utf8 \xff\xfe end");
    Append(item);
    Append(QueueNewItem("/m/next.mp3"));
    const std::string path = dir_.file("queue.xml");
    ASSERT_EQ(SaveQueueFile(path.c_str()), 2);
    QueueClear();
    ASSERT_EQ(LoadQueueFile(path.c_str()), 2);
    EXPECT_STREQ(QueueGetItem(0)->file, "/m/bellname.mp3");
    EXPECT_STREQ(QueueGetItem(0)->alias, "bad  utf8  end");
    EXPECT_STREQ(QueueGetItem(1)->file, "/m/next.mp3");
}

TEST_F(QueueFileTest, LoadRestoresInterruptedWorkAndStopsAtAnItemWithoutFile) {
    ASSERT_EQ(LoadQueueFile((kData + "interrupted.xml").c_str()), 7);
    EXPECT_EQ(QueueItemsInUse(), baseline_ + 7);  // the item that could not be made left nothing
    struct Expect {
        const char* file;
        uint32_t state;
        uint32_t flags;
    };
    const std::vector<Expect> expected = {
        {"/music/encoding.mp3", kItemReady, 0x80000402u},  // test phase cleared, streams kept
        {"/music/stopping.mp3", kItemReady, 0x80000400u},
        {"/music/skipping.mp3", kItemReady, 0x80000400u},
        {"/music/finishing.mp3", kItemReady, 0x80000400u},
        {"/music/done.mp3", kItemDone, 0x80000000u},  // unsigned form read; no streams: 0x2 cleared
        {"/music/error.mp3", kItemError, 0x80000400u},
        {"  /music/blanks kept.mp3 ", kItemReady, 0x80000400u},
    };
    for (int i = 0; i < static_cast<int>(expected.size()); ++i) {
        QueueItem* item = QueueGetItem(i);
        ASSERT_NE(item, nullptr);
        EXPECT_STREQ(item->file, expected[i].file);
        EXPECT_EQ(item->state.load(), expected[i].state) << item->file;
        EXPECT_EQ(item->flags.load(), expected[i].flags) << item->file;
    }
    QueueItem* first = QueueGetItem(0);
    ASSERT_NE(first->audio, nullptr);
    EXPECT_STREQ(first->audio->codec, "MP3");
    EXPECT_EQ(first->audio->samplerate, 44100u);
    EXPECT_EQ(QueueGetItem(5)->errorCode.load(), 17);
    QueueItem* blanks = QueueGetItem(6);
    EXPECT_STREQ(blanks->alias, " two  spaces ");
    EXPECT_EQ(blanks->track, 3);
    EXPECT_EQ(blanks->chapter, 1);
    EXPECT_EQ(blanks->vid, 0xFFFF);
    EXPECT_EQ(blanks->aid, 0xFFFF);
    EXPECT_EQ(blanks->size, 0xFFFFFFFFu);
}

// Hand-written and older files: what an item holds decides what it keeps, not its flags word,
// and an item always keeps its source.
TEST_F(QueueFileTest, HandWrittenItemsKeepTheirTagsAndSource) {
    const std::string path = dir_.write("queue.xml",
        "<?xml version=\"1.0\"?><queue>"
        "<item><file>/m/a.flac</file><tags><title>T</title><artist>A &amp; B</artist></tags></item>"
        "<item><file>/m/b.flac</file><flags>-2147482624</flags><tags><year>1999</year></tags></item>"
        "<item><file>/m/c.flac</file><file/></item>"
        "<item><file/><file>/m/d.flac</file></item>"
        "<item><file>/m/e.flac</file><tags/></item>"
        "</queue>");
    struct Expect {
        const char* file;
        bool tags;
    };
    const Expect expected[] = {
        {"/m/a.flac", true}, {"/m/b.flac", true}, {"/m/c.flac", false}, {"/m/d.flac", false}, {"/m/e.flac", false},
    };
    // Loaded, then saved and loaded again: the second load sees what the save kept.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        QueueClear();
        ASSERT_EQ(LoadQueueFile(path.c_str()), 5);
        for (int i = 0; i < 5; ++i) {
            const QueueItem* item = QueueGetItem(i);
            ASSERT_NE(item, nullptr);
            EXPECT_STREQ(item->file, expected[i].file);
            EXPECT_EQ((item->flags.load() & kItemFlagHasTags) != 0, expected[i].tags) << expected[i].file;
        }
        EXPECT_STREQ(QueueGetItem(0)->tagTitle, "T");
        EXPECT_STREQ(QueueGetItem(0)->tagArtist, "A & B");
        EXPECT_EQ(QueueGetItem(1)->tagYear, 1999u);
        ASSERT_EQ(SaveQueueFile(path.c_str()), 5);
    }
}

TEST_F(QueueFileTest, LoadPastTheNonAudioLimitFreesTheRefusedItem) {
    std::string xml = "<?xml version=\"1.0\"?><queue>";
    for (int i = 0; i < kQueueNonAudioLimit + 2; ++i) xml += "<item><file>/v/" + std::to_string(i) + ".avi</file></item>";
    xml += "</queue>";
    const std::string path = dir_.write("queue.xml", xml);
    EXPECT_EQ(LoadQueueFile(path.c_str()), kQueueNonAudioLimit);
    EXPECT_EQ(QueueItemsInUse(), baseline_ + kQueueNonAudioLimit);
}

TEST_F(QueueFileTest, RemoveDoneAndEmptyQueue) {
    const std::string path = dir_.file("queue.xml");
    QueueItem* done = QueueNewItem("/m/done.mp3");
    done->state = static_cast<uint32_t>(kItemDone);
    Append(done);
    GetPrefStore().SetBool("overall.task.removeDone", true);
    EXPECT_EQ(SaveQueueFile(path.c_str()), 1);
    std::string text = sqtest::ReadFile(path);
    EXPECT_NE(text.find("<queue/>"), std::string::npos) << text;
    QueueClear();
    EXPECT_EQ(LoadQueueFile(path.c_str()), 0);

    // An empty queue leaves no file behind.
    EXPECT_EQ(SaveQueueFile(path.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(LoadQueueFile(path.c_str()), kQueueFileMissing);
    EXPECT_EQ(SaveQueueFile(path.c_str()), 0);  // nothing to remove is no failure
}

TEST_F(QueueFileTest, DamagedFileIsReportedAndKept) {
    for (const char* fixture : {"damaged.xml", "otherroot.xml"}) {
        SCOPED_TRACE(fixture);
        const std::string original = sqtest::ReadFile(kData + fixture);
        const std::string path = dir_.write("queue.xml", original);
        EXPECT_EQ(LoadQueueFile(path.c_str()), kQueueFileDamaged);
        EXPECT_EQ(QueueCount(), 0);
        EXPECT_EQ(sqtest::ReadFile(path), original);
        // The empty queue of a failed load does not replace or remove what the user had.
        EXPECT_EQ(SaveQueueFile(path.c_str()), 0);
        EXPECT_EQ(sqtest::ReadFile(path + ".damaged"), original);
        std::filesystem::remove(path + ".damaged");
    }
    // Once set aside, later saves behave as usual.
    const std::string path = dir_.write("queue.xml", sqtest::ReadFile(kData + "damaged.xml"));
    EXPECT_EQ(LoadQueueFile(path.c_str()), kQueueFileDamaged);
    Append(QueueNewItem("/m/new.mp3"));
    EXPECT_EQ(SaveQueueFile(path.c_str()), 1);
    EXPECT_TRUE(std::filesystem::exists(path + ".damaged"));
    std::filesystem::remove(path + ".damaged");
    EXPECT_EQ(SaveQueueFile(path.c_str()), 1);
    EXPECT_FALSE(std::filesystem::exists(path + ".damaged"));
    QueueClear();
    EXPECT_EQ(LoadQueueFile(path.c_str()), 1);
}

TEST_F(QueueFileTest, DamagedFileThatCannotGoAsideIsNotOverwrittenLater) {
    const std::string original = sqtest::ReadFile(kData + "damaged.xml");
    const std::string path = dir_.write("queue.xml", original);
    ASSERT_EQ(LoadQueueFile(path.c_str()), kQueueFileDamaged);
    Append(QueueNewItem("/m/new.mp3"));
    // A folder with something in it where the damaged file would go: the move fails.
    std::filesystem::create_directories(path + ".damaged/x");
    EXPECT_EQ(SaveQueueFile(path.c_str()), -1);
    EXPECT_EQ(sqtest::ReadFile(path), original);
    EXPECT_EQ(SaveQueueFile(path.c_str()), -1);  // still kept, not written over
    EXPECT_EQ(sqtest::ReadFile(path), original);
    std::filesystem::remove_all(path + ".damaged");
    EXPECT_EQ(SaveQueueFile(path.c_str()), 1);
    EXPECT_EQ(sqtest::ReadFile(path + ".damaged"), original);
}

TEST_F(QueueFileTest, FailedSaveIsReported) {
    Append(QueueNewItem("/m/a.mp3"));
    EXPECT_EQ(SaveQueueFile(dir_.file("missing/queue.xml").c_str()), -1);
    EXPECT_EQ(SaveQueueFile(""), -1);
    EXPECT_EQ(SaveQueueFile(nullptr), -1);
    EXPECT_EQ(LoadQueueFile(nullptr), kQueueFileMissing);
}

TEST_F(QueueFileTest, FieldTableWidths) {
    uint16_t small = 0xFFFE;
    uint32_t big = 0xFFFFFFFFu;
    int32_t negative = -5;
    float ratio = 0.25f;
    char* text = DupString(" a<b ");
    QueueFieldDesc table[] = {{"small", &small}, {"big", &big}, {"neg", &negative},
                              {"ratio", &ratio}, {"text", &text}, {}};
    CXML xml;
    xml.New("1.0", "t");
    WriteFieldTable(xml, table);
    char* dump = nullptr;
    xml.Dump(&dump);
    std::string written = dump ? dump : "";
    EXPECT_NE(written.find("<small>65534</small>"), std::string::npos) << written;
    EXPECT_NE(written.find("<big>-1</big>"), std::string::npos) << written;
    EXPECT_NE(written.find("<ratio>0.250000</ratio>"), std::string::npos) << written;
    EXPECT_NE(written.find("<text> a&lt;b </text>"), std::string::npos) << written;

    small = 0;
    big = 0;
    negative = 0;
    ratio = 0;
    SetStringField(&text, nullptr);
    xml.goRoot();
    xml.goChild();
    ReadFieldTable(xml, table);
    EXPECT_EQ(small, 0xFFFE);
    EXPECT_EQ(big, 0xFFFFFFFFu);
    EXPECT_EQ(negative, -5);
    EXPECT_EQ(ratio, 0.25f);
    EXPECT_STREQ(text, " a<b ");
    std::free(text);
}

}  // namespace

// Task variables, output names and temporary names, on the shipped preference definitions.
#include "engine/queue/taskvars.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "engine/context.h"
#include "engine/encoders/encoder_info.h"
#include "engine/jobs/audiotask.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/cpath.h"
#include "engine/queue/queue.h"
#include "platform/cmdline.h"
#include "support/tempdir.h"
#include "support/shipped_data.h"

namespace {

namespace fs = std::filesystem;

using sqtest::DataFile;

// A queue item whose texts and first audio stream belong to the test.
struct TestItem {
    QueueItem q;
    AudioStreamInfo stream;

    explicit TestItem(const char* file) {
        Set(&q.file, file);
        q.flags = kItemFlagInUse;
    }
    ~TestItem() {
        for (char** f : {&q.file, &q.subtitle, &q.audioFile, &q.destFile, &q.alias, &q.preset, &q.tagArtist,
                         &q.tagTitle, &q.tagAlbum, &q.tagGenre, &q.tagComment, &q.userInput})
            Set(f, nullptr);
        Set(&stream.codec, nullptr);
    }
    static void Set(char** field, const char* text) {
        std::free(*field);
        *field = text ? strdup(text) : nullptr;
    }
    void AddStream(uint32_t rate, uint32_t channels, uint32_t bits, const char* codec = nullptr) {
        stream.samplerate = rate;
        stream.channels = channels;
        stream.samplebits = bits;
        Set(&stream.codec, codec);
        q.audio = &stream;
    }
};

class TaskVarsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(LoadPrefDefinitions(false, DataFile("qxcore.xml").c_str(), 0, "QuorvexPrefs"), 0);
        prefs().SetString("overall.task.tempdir", "/tmp/sq temp/");
        ctx.processedFiles = 3;
        SetEngineContext(&ctx);
        SetCommonSourcePrefixLength(0);
    }
    void TearDown() override {
        SetEngineContext(nullptr);
        SetCommonSourcePrefixLength(0);
    }
    static PrefStore& prefs() { return GetPrefStore(); }

    EngineContext ctx;
};

TEST_F(TaskVarsTest, VariableTable) {
    TestItem it("/music/My Album/a b.flac");
    TestItem::Set(&it.q.tagTitle, "Say \"hi\"");
    TestItem::Set(&it.q.tagAlbum, "Alb");
    it.q.tagTrack = 4;
    it.q.duration = 2000;
    it.q.size = 800;
    it.AddStream(44100, 2, 16, "FLAC");

    struct Row {
        const char* name;
        const char* value;
    } const rows[] = {
        {"Counter", "3"},
        {"Counter5", "7"},
        {"Counterx", ""},
        {"%03d", "003"},
        {"%x files", "3 files"},
        {"%%d", "%d"},
        {"Track", "4"},
        {"Track,%02d", "04"},
        {"Title", "Say 'hi'"},
        {"Artist", "Unknown artist"},
        {"Album", "Alb"},
        {"Year", ""},
        {"Comment", ""},
        {"SourceFile", "\"/music/My Album/a b.flac\""},
        {"SourceFileName", "a b"},
        {"SourceFileExt", "flac"},
        {"SourceFileSize", "800"},
        {"SourceFileDuration", "2000"},
        {"SourceFileBitrate", "400"},
        {"AudioBitrate", "128"},
        {"AudioBitrate*1K", "128000"},
        {"AudioBytes", "352800"},
        {"AudioFile", ""},
        {"Channels", "2"},
        {"SampleRate", "44100"},
        {"SampleBits", ""},  // only with a task
        {"DestDir", "/music/My Album/"},
        {"TempDir", "/tmp/sq temp/"},
        {"DestFile", ""},  // only with a task
        {"NowCentury", ""},
        {"title", ""},  // names are case-sensitive
        {"Nothing", ""},
        {"zzz", ""},
    };
    for (const Row& r : rows) EXPECT_EQ(GetTaskVariable(&it.q, nullptr, r.name), r.value) << r.name;

    char year[8];
    std::time_t now = std::time(nullptr);
    std::strftime(year, sizeof year, "%Y", std::localtime(&now));
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "NowYear"), year);
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "NowMonth").size(), 2u);
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "ProcessID"), std::to_string(getpid()));

    it.q.tagTrack = 0;
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "Track,%02d"), "");
    it.q.track = 7;  // a disc track stands in when the tags give none
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "Track,%02d"), "07");
}

// Names are text from preferences that a remote client can set: a name is never a format.
TEST_F(TaskVarsTest, PatternNamesAcceptOnlyOneIntegerConversion) {
    TestItem it("/m/a.wav");
    it.q.tagTrack = 5;
    for (const char* name : {"%s", "%n", "%s%s%s%s%n", "%d%d", "%ld", "%.2f", "%5$d", "%*d", "%9999d", "%", "%-"}) {
        EXPECT_EQ(GetTaskVariable(&it.q, nullptr, name), "") << name;
        EXPECT_EQ(GetTaskVariable(&it.q, nullptr, (std::string("Track,") + name).c_str()), "") << name;
    }
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "%+05i"), "+0003");
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "Track,#%03X"), "#005");
    // The result is bounded: at most 31 characters for a counter pattern.
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "%0200d").size(), 31u);
}

TEST_F(TaskVarsTest, FiguresOfTheTask) {
    TestItem it("/m/a.wav");
    AudioTask task;
    task.item = &it.q;
    task.bitrate = 192;
    task.channels = 6;
    task.sampleRate = 48000;
    task.bitsPerSample = 24;
    task.byteRate = 1536000;
    it.q.duration = 36000000;  // ten hours: the byte count needs 64 bits
    EXPECT_EQ(GetTaskVariable(nullptr, &task, "AudioBytes"), "55296000000");
    EXPECT_EQ(GetTaskVariable(nullptr, &task, "AudioBitrate*1K"), "192000");
    EXPECT_EQ(GetTaskVariable(nullptr, &task, "Channels"), "6");
    EXPECT_EQ(GetTaskVariable(nullptr, &task, "SampleRateKhz"), "48");
    EXPECT_EQ(GetTaskVariable(nullptr, &task, "SampleBits"), "24");

    it.q.duration = 1001;
    task.byteRate = 3000;  // 3003 bytes, rounded down to a multiple of 8
    EXPECT_EQ(GetTaskVariable(nullptr, &task, "AudioBytes"), "3000");
    task.byteRate = 0;
    EXPECT_EQ(GetTaskVariable(nullptr, &task, "AudioBytes"), "0");  // no stream to fall back on

    it.q.duration = 0;
    it.q.size = 500;
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "SourceFileBitrate"), "0");  // no division by zero

    it.q.flags |= kItemFlagSeparateAudio;
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "AudioFile"), "/m/a.wav.wav");
    TestItem::Set(&it.q.audioFile, "/m/track.ac3");
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "AudioFile"), "/m/track.ac3");
}

TEST_F(TaskVarsTest, SourceNamesAndPathParts) {
    struct Row {
        const char* path;
        const char* name;
        const char* ext;
        const char* dir;
    } const rows[] = {
        {"/m/a b.flac", "a b", "flac", "/m/"},
        {"rtsp://cam/x y/z.wav", "rtsp_cam_x_y_z.wav", "wav", "rtsp://cam/x y/"},
        {"http://h//a?b*c:d", "http_h_abcd", "", "http://h//"},
        {"/m/dir.x/file", "file", "", "/m/dir.x/"},  // a dot in a folder starts no extension
        {"/m/.hidden", ".hidden", "", "/m/"},
        {"/m/back\\slash.mp3", "back\\slash", "mp3", "/m/"},  // a backslash is part of the name
        {"plain", "plain", "", ""},
    };
    for (const Row& r : rows) {
        TestItem it(r.path);
        EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "SourceFileName"), r.name) << r.path;
        EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "SourceFileExt"), r.ext) << r.path;
        EXPECT_EQ(CPath(r.path).GetDir(), r.dir) << r.path;
    }
    CPath p("/a/b.c");
    CPath q;
    q.Assign(p);
    q.Assign(q);
    EXPECT_EQ(q.str(), "/a/b.c");
    q.StripExt();
    EXPECT_EQ(q.str(), "/a/b");
    q.StripDir();
    EXPECT_EQ(q.str(), "b");
    EXPECT_EQ(CPath("noslash").GetFileName(), "noslash");
}

TEST_F(TaskVarsTest, ExpansionCopiesWhatIsNotAVariable) {
    TestItem it("/m/a.wav");
    TestItem::Set(&it.q.tagTitle, "T");
    struct Row {
        const char* templ;
        const char* out;
    } const rows[] = {
        {"$(Title)-$(Counter)", "T-3"},
        {"a $(Title", "a $(Title"},
        {"x$(Title)$(Title", "xT$(Title"},
        {"$(Unknown)|$()|$", "||$"},
        {"$$(Title)", "$T"},
        {"no vars", "no vars"},
    };
    for (const Row& r : rows) EXPECT_EQ(ExpandTaskVariables(nullptr, r.templ, &it.q), r.out) << r.templ;
    EXPECT_EQ(ExpandTaskVariables(nullptr, "$(Title)", nullptr), "");
    // A value holding "$(" is not expanded again.
    TestItem::Set(&it.q.tagTitle, "$(Counter)");
    EXPECT_EQ(ExpandTaskVariables(nullptr, "[$(Title)]", &it.q), "[$(Counter)]");
}

TEST_F(TaskVarsTest, FileTimes) {
    sqtest::TempDir dir;
    const std::string f = dir.write("in.wav", "x");
    std::tm tm{};
    tm.tm_year = 121;
    tm.tm_mon = 2;
    tm.tm_mday = 4;
    tm.tm_hour = 5;
    tm.tm_min = 6;
    tm.tm_sec = 7;
    tm.tm_isdst = -1;
    utimbuf times{};
    times.actime = times.modtime = std::mktime(&tm);
    ASSERT_EQ(utime(f.c_str(), &times), 0);
    TestItem it(f.c_str());
    it.q.duration = 7000;
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "FileTimeModified"), "20210304050607");
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "FileTimeCreation"), "20210304050600");
    TestItem missing(dir.file("gone.wav").c_str());
    EXPECT_EQ(GetTaskVariable(&missing.q, nullptr, "FileTimeModified"), "");

    // A named pipe with no writer answers at once instead of waiting for one.
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    TestItem piped(fifo.c_str());
    auto stamp = std::async(std::launch::async, [&] { return GetTaskVariable(&piped.q, nullptr, "FileTimeModified"); });
    if (stamp.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // releases the waiting reader
        stamp.wait();
        if (fd >= 0) close(fd);
        FAIL() << "opening a named pipe waited for a writer";
    }
    EXPECT_EQ(stamp.get().size(), 14u);
}

TEST_F(TaskVarsTest, UserInputAsksTheInterfaceOnce) {
    TestItem it("/m/a.wav");
    TestItem::Set(&it.q.userInput, "stale");
    int calls = 0;
    ctx.eventCallback = [&](int code, intptr_t data, int64_t arg) {
        ++calls;
        EXPECT_EQ(code, kEventUiCommand);
        EXPECT_STREQ(reinterpret_cast<const char*>(data), "user_input");
        auto* item = reinterpret_cast<QueueItem*>(static_cast<intptr_t>(arg));
        EXPECT_EQ(item->userInput, nullptr);
        item->userInput = strdup("typed");
        return 0;
    };
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "UserInput"), "typed");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(it.q.userInput, nullptr);
}

TEST_F(TaskVarsTest, TempNames) {
    TestItem it("/a.wav");
    char pid[16];
    std::snprintf(pid, sizeof pid, "%x", static_cast<unsigned>(getpid()));
    // The last 12 hex digits of the source path's digest, 3df9079c6ce75df6ea6f72d757e9b71d.
    EXPECT_EQ(MakeTempFileName(&it.q), std::string("/tmp/sq temp/qxtemp") + pid + "72d757e9b71d");
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "TempFile.wav"), MakeTempFileName(&it.q));
    EXPECT_EQ(GetTaskVariable(&it.q, nullptr, "PassLogFile"), MakeTempFileName(&it.q) + ".log");
    // A temporary folder written without its trailing separator still gets one.
    prefs().SetString("overall.task.tempdir", "/var/tmp");
    EXPECT_EQ(MakeTempFileName(&it.q).rfind("/var/tmp/qxtemp", 0), 0u);
    prefs().SetString("overall.task.tempdir", std::string(400, 'd').c_str());
    EXPECT_LE(MakeTempFileName(&it.q).size(), 259u);
}

// One output-name case: the preferences and item changes to make, and the expected path.
struct OutputCase {
    const char* what;
    std::function<void(TestItem&, AudioTask&, EngineContext&, const std::string& dir)> setup;
    std::function<std::string(const std::string& dir)> expected;
};

class FileExtEncoder : public CAudioEncoder {
public:
    explicit FileExtEncoder(const char* ext) { fileExt = ext; }
};

TEST_F(TaskVarsTest, OutputNames) {
    PrefStore& p = prefs();
    const std::vector<OutputCase> cases = {
        {"beside the source", [](auto&, auto&, auto&, auto&) {}, [](auto& d) { return d + "a b.mp3"; }},
        {"same name as the source",
         [](TestItem&, AudioTask& t, auto&, auto&) { static FileExtEncoder flac("flac"); t.encoders[0] = &flac; },
         [](auto& d) { return d + "a b_1.flac"; }},
        {"_1 taken",
         [](TestItem&, AudioTask& t, auto&, const std::string& d) {
             static FileExtEncoder flac("flac");
             t.encoders[0] = &flac;
             FILE* f = std::fopen((d + "a b_1.flac").c_str(), "w");
             std::fclose(f);
         },
         [](auto& d) { return d + "a b_2.flac"; }},
        {"source differs in case only",
         [](TestItem& it, AudioTask& t, auto&, const std::string& d) {
             static FileExtEncoder flac("flac");
             t.encoders[0] = &flac;
             TestItem::Set(&it.q.file, (d + "A B.FLAC").c_str());
         },
         [](auto& d) { return d + "A B_1.flac"; }},
        {"source reached through another path",
         [&](TestItem&, AudioTask& t, auto&, const std::string& d) {
             static FileExtEncoder flac("flac");
             t.encoders[0] = &flac;
             p.SetString("overall.task.destdir", (d + ".//").c_str());
         },
         [](auto& d) { return d + ".//a b_1.flac"; }},
        {"source reached through a linked folder",
         [&](TestItem&, AudioTask& t, auto&, const std::string& d) {
             static FileExtEncoder flac("flac");
             t.encoders[0] = &flac;
             fs::create_directory_symlink(d, d + "link");
             p.SetString("overall.task.destdir", (d + "link").c_str());
         },
         [](auto& d) { return d + "link/a b_1.flac"; }},
        {"missing output folder without separator",
         [&](auto&, auto&, auto&, auto&) { p.SetString("overall.task.destdir", "/nowhere/missing dir"); },
         [](auto&) { return std::string("/nowhere/missing dir/a b.mp3"); }},
        {"folder characters are kept",
         [&](auto&, auto&, auto&, auto&) { p.SetString("overall.task.destdir", "/out;x|y/"); },
         [](auto&) { return std::string("/out;x|y/a b.mp3"); }},
        {"name characters are replaced",
         [](TestItem& it, auto&, auto&, const std::string& d) { TestItem::Set(&it.q.file, (d + "a;b:c?.flac").c_str()); },
         [](auto& d) { return d + "a_b_c_.mp3"; }},
        {"disc track and chapter",
         [](TestItem& it, auto&, auto&, auto&) {
             it.q.track = 3;
             it.q.chapter = 2;
         },
         [](auto& d) { return d + "a b.track3.chapter2.mp3"; }},
        {"alias, no folder from it",
         [](TestItem& it, auto&, auto&, auto&) {
             TestItem::Set(&it.q.alias, "My/Alias");
             it.q.track = 3;
         },
         [](auto& d) { return d + "My_Alias.mp3"; }},
        {"forced extension",
         [&](auto&, auto&, auto&, auto&) { p.SetString("overall.output.forceFileExt", "m4a"); },
         [](auto& d) { return d + "a b.m4a"; }},
        {"second output track",
         [](TestItem&, AudioTask& t, auto&, auto&) {
             static FileExtEncoder ogg("ogg");
             t.outputTracks = 2;
             t.currentTrack = 1;
             t.encoders[1] = &ogg;
         },
         [](auto& d) { return d + "a b.1.ogg"; }},
        {"longest name in characters",
         [&](TestItem& it, auto&, auto&, const std::string& d) {
             p.SetInt("overall.output.maxFileNameLen", 3);
             TestItem::Set(&it.q.file, (d + "äöüx.flac").c_str());
         },
         [](auto& d) { return d + "äöü.mp3"; }},
        {"name too long for the file system",
         [](TestItem& it, auto&, auto&, const std::string& d) {
             std::string name(150, 'x');
             for (int i = 0; i < 60; ++i) name += "ü";
             TestItem::Set(&it.q.file, (d + name + ".flac").c_str());
         },
         [](auto& d) {
             // 255 bytes at most, cut on a character boundary.
             std::string name(150, 'x');
             for (int i = 0; i < 50; ++i) name += "ü";
             return d + name + ".mp3";
         }},
        {"test phase",
         [](TestItem& it, auto&, auto&, auto&) { it.q.flags |= kItemFlagTestPhase; },
         [](auto& d) { return d + "a b.mp3_sample"; }},
        // A name already at the file system's 255 bytes keeps its suffixes: the name before them
        // is cut instead.
        {"at the length limit, same name as the source",
         [](TestItem& it, AudioTask& t, auto&, const std::string& d) {
             static FileExtEncoder flac("flac");
             t.encoders[0] = &flac;
             TestItem::Set(&it.q.file, (d + std::string(250, 'n') + ".flac").c_str());
         },
         [](auto& d) { return d + std::string(248, 'n') + "_1.flac"; }},
        {"at the length limit, test phase",
         [](TestItem& it, auto&, auto&, const std::string& d) {
             TestItem::Set(&it.q.file, (d + std::string(251, 'n') + ".wav").c_str());
             it.q.flags |= kItemFlagTestPhase;
         },
         [](auto& d) { return d + std::string(244, 'n') + ".mp3_sample"; }},
        {"both suffixes pass the limit, cut on a character boundary",
         [](TestItem& it, AudioTask& t, auto&, const std::string& d) {
             static FileExtEncoder flac("flac");
             t.encoders[0] = &flac;
             std::string name;  // 242 bytes: "_sample" still fits, "_1" with it does not
             for (int i = 0; i < 121; ++i) name += "ü";
             TestItem::Set(&it.q.file, (d + name + ".flac").c_str());
             it.q.flags |= kItemFlagTestPhase;
         },
         [](auto& d) {
             std::string name;
             for (int i = 0; i < 120; ++i) name += "ü";
             return d + name + "_1.flac_sample";
         }},
        {"standard output", [](auto&, AudioTask& t, auto&, auto&) { t.toStdout = true; },
         [](auto&) { return std::string("-"); }},
        {"benchmark", [](auto&, auto&, EngineContext& c, auto&) { c.taskMode = 2; },
         [](auto&) { return std::string("/dev/null"); }},
        {"streaming over RTP",
         [&](auto&, auto&, EngineContext& c, auto&) {
             c.taskMode = 6;
             p.SetFromText("overall.streaming.protocol", "RTP");
             p.SetString("overall.streaming.dest", "10.0.0.1");
         },
         [](auto&) { return std::string("rtp://10.0.0.1:5004"); }},
        {"streaming over RTMP",
         [&](auto&, auto&, EngineContext& c, auto&) {
             c.taskMode = 6;
             p.SetFromText("overall.streaming.protocol", "RTMP");
             p.SetString("overall.streaming.dest", "srv/live");
         },
         [](auto&) { return std::string("rtmp://srv/live"); }},
        {"user path",
         [](TestItem& it, auto&, auto&, auto&) {
             TestItem::Set(&it.q.destFile, "/u/out.x");
             it.q.flags |= kItemFlagUserDest;
         },
         [](auto&) { return std::string("/u/out.x"); }},
        {"user path keeps its folder in mode 4",
         [](TestItem& it, auto&, EngineContext& c, auto&) {
             TestItem::Set(&it.q.destFile, "/u/o;ut.x");
             it.q.flags |= kItemFlagUserDest;
             c.taskMode = 4;
         },
         [](auto&) { return std::string("/u/o;ut.mp3"); }},
        {"name pattern; a tag makes no folder",
         [&](TestItem& it, auto&, auto&, auto&) {
             p.SetBool("overall.automation.formatting", true);
             p.SetString("overall.automation.fileNameFormat", "$(Artist)/$(Title)");
             TestItem::Set(&it.q.tagArtist, "AC/DC");
             TestItem::Set(&it.q.tagTitle, "T");
             it.q.track = 2;
         },
         [](auto& d) { return d + "AC_DC/T.mp3"; }},
        {"a tag of \"..\" makes no folder step",
         [&](TestItem& it, auto&, auto&, auto&) {
             p.SetBool("overall.automation.formatting", true);
             p.SetString("overall.automation.fileNameFormat", "$(Artist)/$(Title)");
             TestItem::Set(&it.q.tagArtist, "..");
             TestItem::Set(&it.q.tagTitle, ".");
         },
         [](auto& d) { return d + "__/_.mp3"; }},
        {"pattern needs a title the item lacks",
         [&](auto&, auto&, auto&, auto&) {
             p.SetBool("overall.automation.formatting", true);
             p.SetString("overall.automation.fileNameFormat", "$(Title)");
         },
         [](auto& d) { return d + "a b.mp3"; }},
        {"pattern refers to the output path",
         [&](auto&, auto&, auto&, auto&) {
             p.SetBool("overall.automation.formatting", true);
             p.SetString("overall.automation.fileNameFormat", "$(DestFile)x$(DestFileAudio)");
         },
         [](auto& d) { return d + "x.mp3"; }},
        {"network source goes to the temporary folder",
         [](TestItem& it, auto&, auto&, auto&) { TestItem::Set(&it.q.file, "http://host/s.mp3"); },
         [](auto&) { return std::string("/tmp/sq temp/http_host_s.mp3.mp3"); }},
        {"common prefix keeps sub-folders",
         [&](TestItem& it, auto&, auto&, const std::string& d) {
             SetCommonSourcePrefixLength(static_cast<int>(d.size()));
             p.SetBool("overall.automation.dupDir", true);
             p.SetString("overall.task.destdir", "/o/");
             TestItem::Set(&it.q.file, (d + "sub/dir/a.flac").c_str());
         },
         [](auto&) { return std::string("/o/sub/dir/a.mp3"); }},
        {"common prefix without sub-folders",
         [&](TestItem& it, auto&, auto&, const std::string& d) {
             SetCommonSourcePrefixLength(static_cast<int>(d.size()));
             p.SetString("overall.task.destdir", "/o/");
             TestItem::Set(&it.q.file, (d + "sub/dir/a.flac").c_str());
         },
         [](auto&) { return std::string("/o/a.mp3"); }},
        {"source without folder",
         [](TestItem& it, auto&, auto&, auto&) { TestItem::Set(&it.q.file, "a.flac"); },
         [](auto&) { return std::string("a.mp3"); }},
    };
    FileExtEncoder mp3("mp3");
    for (const OutputCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(LoadPrefDefinitions(false, DataFile("qxcore.xml").c_str(), 0, "QuorvexPrefs"), 0);
        p.SetString("overall.task.tempdir", "/tmp/sq temp/");
        ctx.taskMode = 0;
        SetCommonSourcePrefixLength(0);
        sqtest::TempDir tmp;
        const std::string dir = tmp.path().string() + "/";
        TestItem it((dir + "a b.flac").c_str());
        FILE* src = std::fopen(it.q.file, "w");
        ASSERT_NE(src, nullptr);
        std::fclose(src);
        AudioTask task;
        task.item = &it.q;
        task.encoders[0] = &mp3;
        c.setup(it, task, ctx, dir);
        const std::string got = GetTaskVariable(&it.q, &task, "DestFile");
        EXPECT_EQ(got, c.expected(dir));
        EXPECT_EQ(GetTaskVariable(&it.q, &task, "DestFileAudio"), got);
    }
}

TEST_F(TaskVarsTest, OutputPathOfAnItem) {
    TestItem it("/m/a.wav");
    EXPECT_EQ(GetOutputPath(&it.q, false), "");  // no task, no user path
    FileExtEncoder mp3("mp3");
    AudioTask task;
    task.item = &it.q;
    task.encoders[0] = &mp3;
    task.outputPath = "/kept/out.mp3";
    task.state = 2;
    it.q.audioTask = &task;
    it.q.state = kItemEncoding;
    EXPECT_EQ(GetOutputPath(&it.q, false), "/kept/out.mp3");
    EXPECT_EQ(GetOutputPath(&it.q, true), "/m/a.mp3");
    EXPECT_EQ(task.state.load(), 2);  // the running task is not touched
    it.q.state = kItemDone;
    EXPECT_EQ(GetOutputPath(&it.q, false), "/m/a.mp3");
    TestItem::Set(&it.q.destFile, "/u/x.mp3");
    it.q.flags |= kItemFlagUserDest;
    EXPECT_EQ(GetOutputPath(&it.q, true), "/u/x.mp3");
    it.q.audioTask = nullptr;
}

// Paths and tags reach a tool as one argument each, whatever they hold.
TEST_F(TaskVarsTest, CommandLineValuesSplitBackWhole) {
    const std::string weird = "/tmp/d ü & \"q\" $(Title) 'x'\\";
    TestItem it((weird + "/in put.flac").c_str());
    FileExtEncoder mp3("mp3");
    AudioTask task;
    task.item = &it.q;
    task.encoders[0] = &mp3;
    task.sourceId = 1;
    const std::string dest = weird + "/in put.mp3";

    struct Row {
        const char* title;
        const char* line;
        std::vector<std::string> argv;
    };
    const std::vector<Row> rows = {
        {"t", "lame - \"$(DestFile)\"", {"lame", "-", dest}},
        {"t", "flac $(SourceFile) -o \"$(DestFile)\"", {"flac", weird + "/in put.flac", "-o", dest}},
        {"t", "x \"$(SourceFile)\"", {"x", weird + "/in put.flac"}},
        {"t", "x --out=$(DestFile)", {"x", "--out=" + dest}},
        {"AC\\DC\\", "lame --tt \"$(Title)\" -", {"lame", "--tt", "AC\\DC\\", "-"}},
        {"two words", "lame --tt $(Title) -", {"lame", "--tt", "two words", "-"}},
        {"my tool", "$(Title) -x", {"my tool", "-x"}},  // a value as the program word
        {"a\\", "x \"$(Title) b\"", {"x", "a\\ b"}},
        {"a\\", "x \"T=$(Title)\" y", {"x", "T=a\\", "y"}},
        {"$(Album)", "x \"$(Title)\"", {"x", "$(Album)"}},
        {"ünï & ;|`", "x -T \"TITLE=$(Title)\"", {"x", "-T", "TITLE=ünï & ;|`"}},
    };
    for (const Row& r : rows) {
        TestItem::Set(&it.q.tagTitle, r.title);
        const std::string line = ExpandCommandLineVariables(&task, r.line, nullptr);
        EXPECT_EQ(platform::SplitArgs(line), r.argv) << r.line << " -> " << line;
    }
    // A value inserted earlier (as the builder's var does) is not expanded by the later pass.
    TestItem::Set(&it.q.tagTitle, "T");
    const std::string inserted = "x " + QuoteForCommandLine("a$(Title) b", "x ", 0);
    EXPECT_EQ(platform::SplitArgs(ExpandCommandLineVariables(&task, inserted.c_str(), nullptr)),
              (std::vector<std::string>{"x", "a$(Title) b"}));
    EXPECT_EQ(ExpandTaskVariables(&task, inserted.c_str(), nullptr), "x \"a$(Title) b\"");
}

}  // namespace

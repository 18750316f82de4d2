// The encoder classes: the factory, the lookups in the codecs description, the bitrate estimates,
// progress and version text, and the life of a tool encoder's process (start check, writes into a
// dead tool, the bounded finish, exit status, suspend and resume, priority).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <typeindex>

#include "engine/encoders/encoder.h"
#include "engine/encoders/library_encoders.h"
#include "engine/encoders/pcm_encoder.h"
#include "engine/encoders/tool_encoders.h"
#include "engine/encoders/wave_header.h"
#include "engine/encoders/encoder_test_support.h"
#include "support/event_recorder.h"
#include "support/proc_group.h"
#include "support/wait_until.h"

namespace {

using enctest::LoadShippedSettings;
using enctest::WriteScript;

class EncoderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LoadShippedSettings()); }
    PrefStore& prefs = GetPrefStore();
};

TEST_F(EncoderTest, FactoryMakesTheClassOfEachIdNamedByItsOptionText) {
    const std::vector<std::pair<int, std::type_index>> table = {
        {0, typeid(CLameMP3)},         {1, typeid(CVorbis)},  {2, typeid(CNeroEncoder)},    {3, typeid(CAudioEncoder)},
        {4, typeid(CFaac)},            {5, typeid(CAACPlus)}, {6, typeid(CAudioEncoder)},   {7, typeid(CAudioEncoder)},
        {8, typeid(CAudioEncoder)},    {9, typeid(CHelixMP3)}, {10, typeid(CFIISMP3)},      {11, typeid(CAudioEncoder)},
        {12, typeid(CSpeex)},          {13, typeid(CAmr)},    {14, typeid(CFFmpegAudioEncoder)},
        {15, typeid(CAudioEncoder)},   {16, typeid(CAudioEncoder)}, {17, typeid(CAudioEncoder)},
        {18, typeid(CApe)},            {19, typeid(CAudioEncoder)}, {20, typeid(CAudioEncoder)},
        {21, typeid(CAudioEncoder)},   {22, typeid(CPcm)},    {23, typeid(CAudioEncoder)},  {24, typeid(CGeneric)},
        {25, typeid(CNullAudioEncoder)}, {26, typeid(CAudioEncoder)},
    };
    for (const auto& [id, type] : table) {
        SCOPED_TRACE(id);
        auto enc = CreateAudioEncoder(id);
        ASSERT_TRUE(enc);
        CAudioEncoder& ref = *enc;
        EXPECT_EQ(std::type_index(typeid(ref)), type);
        EXPECT_STREQ(enc->GetName(), prefs.GetEnumText("overall.audio.encoder", id));
        EXPECT_EQ(std::string(enc->log.name), std::string(enc->name).substr(0, 31));
        EXPECT_TRUE(enc->IsAudioEncoder());
    }
    EXPECT_STREQ(CreateAudioEncoder(0)->GetName(), "LAME MP3");
    EXPECT_STREQ(CreateAudioEncoder(26)->GetName(), "");  // past the option list
    EXPECT_EQ(CreateAudioEncoder(-1), nullptr);           // "not chosen yet" makes no encoder

    struct Fixed {
        int id;
        uint32_t flags;
        const char* ext;
    };
    for (const Fixed& f : {Fixed{5, 0x1, "aac"}, Fixed{18, 0x1, "ape"}, Fixed{22, 0x21, "wav"}, Fixed{25, 0x20, "out"},
                          Fixed{0, 0, "out"}}) {
        auto enc = CreateAudioEncoder(f.id);
        EXPECT_EQ(enc->flags, f.flags) << f.id;
        EXPECT_STREQ(enc->GetFileExt(nullptr), f.ext) << f.id;
    }
    prefs.SetFromText("audioenc.pcm.format", "Raw PCM");
    EXPECT_STREQ(CreateAudioEncoder(22)->GetFileExt(nullptr), "pcm");
}

class ListEncoder : public CAudioEncoder {
public:
    const char* GetMatchList() override { return list; }
    const char* list = nullptr;
};

TEST(EncoderMatchList, MatchesWholeEntriesOnly) {
    struct Case {
        const char* list;
        const char* text;
        bool match;
    } cases[] = {
        {nullptr, "mp3", true}, {"mp3|aac", nullptr, true}, {"mp3|aac", "mp3", true}, {"mp3|aac", "aac", true},
        {"mp3|aac|", "aac", true}, {"mp3|aac", "mp", false}, {"eac3|mp2", "ac3", false}, {"mp3|aac", "ogg", false},
        {"mp3|aac", "", false},
    };
    for (const Case& c : cases) {
        ListEncoder enc;
        enc.list = c.list;
        EXPECT_EQ(enc.MatchesList(c.text), c.match) << (c.list ? c.list : "(none)") << " / " << (c.text ? c.text : "(none)");
    }
}

constexpr const char* kSnippet = R"(<?xml version="1.0"?>
<codecs><audio>
 <encoder name="Limited"><path>x</path><bitrate min="32" max="320">96</bitrate><samplerate min="8000" max="48000"/></encoder>
 <encoder name="Open"><path>x</path></encoder>
 <encoder name="ByKey"><path>x</path><bitrate key="audioenc.lame.bitrate" ratio="1.5" offset="4"/></encoder>
 <encoder name="ByFloat"><path>x</path><bitrate key="audioenc.ffmpeg.bitrate" ratio="0"/></encoder>
 <encoder name="ByEnum"><path>x</path><bitrate key="audioenc.lame.mode" offset="4"/></encoder>
 <encoder name="ByString"><path>x</path><bitrate key="audioenc.lame.path"/></encoder>
 <encoder name="Zero"><path>x</path><bitrate>0</bitrate></encoder>
</audio></codecs>)";

TEST_F(EncoderTest, CodecsLookupsGiveRangesRatesAndEstimates) {
    ASSERT_EQ(LoadCodecsDefinition(true, kSnippet, 0), 0);
    prefs.SetInt("audioenc.lame.bitrate", 100);
    prefs.SetInt("audioenc.ffmpeg.bitrate", 200);
    auto named = [](const char* name) {
        auto enc = std::make_unique<CAudioEncoder>();
        enc->SetName(name);
        return enc;
    };
    EXPECT_EQ(named("Limited")->GetBitrateRange(), (320u << 16) | 32u);
    EXPECT_EQ(named("Open")->GetBitrateRange(), 0u);
    EXPECT_EQ(named("Missing")->GetBitrateRange(), 0u);

    struct RateCase {
        const char* name;
        int rate;
        bool ok;
    } rates[] = {{"Limited", 7999, false}, {"Limited", 8000, true}, {"Limited", 48000, true},
                 {"Limited", 48001, false}, {"Open", 1, true}, {"Open", 384000, true}};
    for (const RateCase& c : rates) EXPECT_EQ(named(c.name)->CheckSampleRate(c.rate), c.ok) << c.name << " " << c.rate;

    struct EstimateCase {
        const char* name;
        int kbps;
    } estimates[] = {
        {"Limited", 96},  // the node's text
        {"ByKey", 154},   // 100 x 1.5 + 4
        {"ByFloat", 200}, // ratio 0 counts as 1
        {"ByEnum", 4},    // an enum key reads as 0: only the offset is left
        {"ByString", 128},
        {"Zero", 128},
        {"Open", 128},
    };
    for (const EstimateCase& c : estimates) EXPECT_EQ(named(c.name)->EstimateBitrate(nullptr, 0), c.kbps) << c.name;
}

TEST_F(EncoderTest, ClassEstimatesAndFormatChecks) {
    struct Case {
        int id;
        std::vector<std::pair<const char*, const char*>> settings;
        int kbps;
    } cases[] = {
        {0, {{"audioenc.lame.mode", "VBR"}, {"audioenc.lame.quality", "4"}}, 216},
        {0, {{"audioenc.lame.mode", "CBR"}, {"audioenc.lame.bitrate", "320"}}, 320},
        {1, {{"audioenc.vorbis.mode", "0"}, {"audioenc.vorbis.quality", "50"}}, 25},
        {2, {{"audioenc.nero.mode", "0"}, {"audioenc.nero.quality", "50"}, {"overall.audio.format", "LC-AAC"}}, 96},
        {2, {{"audioenc.nero.mode", "0"}, {"audioenc.nero.quality", "50"}, {"overall.audio.format", "HE-AAC"}}, 64},
        {2, {{"audioenc.nero.mode", "0"}, {"audioenc.nero.quality", "50"}, {"overall.audio.format", "HE-AAC V2"}}, 56},
        {12, {{"audioenc.speex.mode", "1"}, {"audioenc.speex.bitrate", "24"}}, 24},
        {12, {{"audioenc.speex.mode", "0"}, {"audioenc.speex.quality", "7"}}, 7},
        {13, {{"audioenc.amr.codec", "AMR-NB"}, {"audioenc.amr.modenb", "7.40 Kbps"}}, 7},
        {13, {{"audioenc.amr.codec", "AMR-WB"}, {"audioenc.amr.modewb", "23.85 Kbps"}}, 23},
        {14, {{"audioenc.ffmpeg.bitrate", "100"}, {"overall.audio.format", "MP2"}}, 96},
        {14, {{"audioenc.ffmpeg.bitrate", "100"}, {"overall.audio.format", "AC-3"}}, 64},
        {14, {{"audioenc.ffmpeg.bitrate", "100"}, {"overall.audio.format", "Opus"}}, 100},
        {5, {{"audioenc.aacplus.bitrate", "48"}}, 48},
    };
    for (const Case& c : cases) {
        for (const auto& [key, value] : c.settings) ASSERT_TRUE(prefs.SetFromText(key, value)) << key << "=" << value;
        EXPECT_EQ(CreateAudioEncoder(c.id)->EstimateBitrate(nullptr, 0), c.kbps) << c.id << " " << c.settings[0].second;
    }

    WaveHeader h;
    struct FormatCase {
        int id;
        const char* key;
        const char* value;
        uint32_t rate, channels;
        bool ok;
    } formats[] = {
        {2, "overall.audio.format", "HE-AAC", 22050, 2, false}, {2, "overall.audio.format", "HE-AAC V2", 32000, 2, true},
        {2, "overall.audio.format", "LC-AAC", 8000, 2, true},   {13, "audioenc.amr.codec", "AMR-NB", 8000, 1, true},
        {13, "audioenc.amr.codec", "AMR-NB", 8000, 2, false},   {13, "audioenc.amr.codec", "AMR-WB", 16000, 2, true},
        {13, "audioenc.amr.codec", "AMR-WB", 8000, 1, false},   {0, "overall.audio.format", "MP3", 8000, 6, true},
    };
    for (const FormatCase& f : formats) {
        ASSERT_TRUE(prefs.SetFromText(f.key, f.value));
        InitWaveHeader(&h, f.rate, f.channels, 16, 0);
        EXPECT_EQ(CreateAudioEncoder(f.id)->CheckFormat(&h), f.ok) << f.id << " " << f.value << " " << f.rate;
    }

    struct RangeCase {
        const char* format;
        uint32_t range;
    } ranges[] = {{"MP2", 384u << 16 | 32}, {"MP3", 320u << 16 | 32}, {"LC-AAC", 576u << 16 | 32},
                  {"AC-3", 640u << 16 | 32}, {"Opus", 0}};
    for (const RangeCase& r : ranges) {
        prefs.SetFromText("overall.audio.format", r.format);
        EXPECT_EQ(CreateAudioEncoder(14)->GetBitrateRange(), r.range) << r.format;
    }
}

TEST_F(EncoderTest, GenericEncoderTakesTheUsersCommandLine) {
    prefs.SetString("audioenc.cli.command", "mytool -o \"$(DestFile)\" -");
    prefs.SetString("audioenc.cli.fileext", "xyz");
    struct Case {
        bool console, pcm;
        uint32_t flags;
    } cases[] = {{false, false, 0x8}, {false, true, 0x9}, {true, false, 0x0}, {true, true, 0x1}};
    for (const Case& c : cases) {
        prefs.SetBool("overall.ui.console", c.console);
        prefs.SetBool("audioenc.cli.pcm", c.pcm);
        auto enc = CreateAudioEncoder(24);
        ASSERT_TRUE(enc->Configure(nullptr));
        EXPECT_EQ(enc->flags, c.flags) << c.console << c.pcm;
        EXPECT_EQ(enc->commandLine, "mytool -o \"$(DestFile)\" -");
        EXPECT_STREQ(enc->GetFileExt(nullptr), "xyz");
        EXPECT_EQ(enc->GetVersion(), "");
    }
}

TEST(EncoderProgressText, TakesTheLastFigureClampedToTheTotal) {
    struct Case {
        const char* text;
        uint64_t expect;
    } cases[] = {
        {"[ 42.5%]", 425},
        {"no figure here", 7},  // kept
        {"150%", 1000},
        {"kbps      %\n  12.0% | 40.5%\r", 405},  // a table heading's bare '%' is passed over
        {"%%", 7},
        {"done 100%", 1000},
    };
    for (const Case& c : cases) {
        EncoderProgress p{7, 1000};
        ParseProgressText(c.text, &p);
        EXPECT_EQ(p.position, c.expect) << c.text;
    }
}

TEST(EncoderVersionText, CutsBetweenBeginAndEndOrABlankLine) {
    struct Case {
        const char* output;
        const char* begin;
        const char* end;
        const char* expect;
    } cases[] = {
        {"junk\nTool 1.2\nmore\n\nusage", "Tool", "", "Tool 1.2\nmore"},
        {"Tool 1.2\r\n\r\nusage", "", "", "Tool 1.2"},
        {"Tool 1.2\nline\n", "", "\n", "Tool 1.2"},
        {"Tool 1.2 (c)", "Missing", "(c)", "Tool 1.2 "},
        {"Tool 1.2", "Tool", "zz", "Tool 1.2"},
    };
    for (const Case& c : cases) EXPECT_EQ(CutVersionText(c.output, c.begin, c.end), c.expect) << c.output;
}

TEST_F(EncoderTest, VersionQueryRunsTheToolAndGivesUpOnOneThatHangs) {
    sqtest::TempDir dir;
    const std::string talker = WriteScript(dir, "talker", "echo \"noise\"; echo \"Talker v3 ($1)\"; echo; echo usage");
    const std::string hanger = WriteScript(dir, "hanger", "echo \"Hanger v1\"; sleep 30");
    const std::string reader = WriteScript(dir, "reader", "cat; echo \"Reader v2\"");
    const std::string xml = "<codecs><audio>"
                            "<encoder name=\"Talker\"><path>" + talker + "</path><verinfo begin=\"Talker\" arg=\"-V\"/></encoder>"
                            "<encoder name=\"Hanger\"><verinfo>" + hanger + "</verinfo></encoder>"
                            "<encoder name=\"Reader\"><path>" + reader + "</path><verinfo/></encoder>"
                            "<encoder name=\"Pathless\"><verinfo arg=\"-V\"/></encoder>"
                            "</audio></codecs>";
    ASSERT_EQ(LoadCodecsDefinition(true, xml.c_str(), 0), 0);
    CAudioEncoder enc;
    enc.SetName("Talker");
    EXPECT_EQ(enc.GetVersion(), "Talker v3 (-V)");
    enc.SetName("Reader");  // its standard input is empty, so it does not wait for any
    EXPECT_EQ(enc.GetVersion(), "Reader v2\n");
    enc.SetName("Pathless");
    EXPECT_EQ(enc.GetVersion(), "");
    enc.SetName("Hanger");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(enc.GetVersion(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(enctest::Capture("pgrep -f " + hanger), "");  // not left behind
}

// Whether every process of the group is stopped (state T), none running on.
bool GroupStopped(pid_t group) {
    const auto members = sqtest::ProcessGroupMembers(group);
    for (const auto& m : members)
        if (m.state != 'T') return false;
    return !members.empty();
}

// CPU time (clock ticks) of every process in the group.
long GroupCpuTicks(pid_t group) {
    long total = 0;
    for (const auto& m : sqtest::ProcessGroupMembers(group)) total += m.cpuTicks;
    return total;
}

class ToolEncoderTest : public EncoderTest {
protected:
    // A tool encoder running the script body; PCM goes to its standard input.
    std::unique_ptr<CAudioEncoder> OpenTool(const std::string& body, bool* opened = nullptr) {
        const std::string path = WriteScript(dir, "tool" + std::to_string(++count), body);
        auto enc = CreateAudioEncoder(16);
        const bool ok = enc->Open(dir.file("out.x").c_str(), nullptr, ("\"" + path + "\"").c_str());
        if (opened) *opened = ok;
        return enc;
    }
    // Writes the header and up to `bytes` of PCM in 16 KiB blocks; false at the first failed write.
    static bool Feed(CAudioEncoder& enc, size_t bytes) {
        WaveHeader h;
        InitWaveHeader(&h, 44100, 2, 16, -1);
        if (!enc.WriteHeader(&h)) return false;
        const std::string block(16384, '\x01');
        for (size_t done = 0; done < bytes; done += block.size()) {
            if (enc.Write(block.data(), static_cast<int>(block.size())) != static_cast<int>(block.size())) return false;
        }
        return true;
    }
    sqtest::TempDir dir;
    int count = 0;
    sqtest::EventRecorder events;
};

TEST_F(ToolEncoderTest, ToolThatEndsAtOnceFailsTheStart) {
    bool opened = false;
    auto enc = OpenTool("exit 3", &opened);
    if (opened) {
        EXPECT_FALSE(Feed(*enc, 4 << 20));  // the first writes see that it is gone
    }
    enc->Finish();
    EXPECT_TRUE(enc->StartFailed());
    EXPECT_FALSE(enc->FinishedCleanly());
    enc->Close();

    // A tool that starts properly is not held up and passes the check.
    auto good = OpenTool("cat > /dev/null", &opened);
    ASSERT_TRUE(opened);
    EXPECT_EQ(events.texts(kEventCommandLine).back(), "\"" + dir.file("tool2") + "\"");
    EXPECT_TRUE(Feed(*good, 1 << 20));
    good->Finish();
    EXPECT_FALSE(good->StartFailed());
    EXPECT_TRUE(good->FinishedCleanly());
}

TEST_F(ToolEncoderTest, FinishJudgesTheToolsEnd) {
    struct Case {
        const char* body;
        size_t bytes;
        bool writesOk;
        bool clean;
        bool startFailed = false;
    } cases[] = {
        {"cat > /dev/null", 1 << 20, true, true},
        {"cat > /dev/null; exit 4", 1 << 20, true, false},           // failed at the end
        {"sleep 0.4; head -c 1024 > /dev/null", 8 << 20, false, false},  // stopped reading: EPIPE, not SIGPIPE
        {"sleep 0.4; kill -9 $$", 8 << 20, false, false},
        {"exit 0", 0, true, false, true},  // the header fits the pipe, but nobody ever read it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        bool opened = false;
        auto enc = OpenTool(c.body, &opened);
        // A tool that ends at once may already be gone when its header is written: then the
        // failed start shows in Open itself.
        if (!opened && c.startFailed) continue;
        ASSERT_TRUE(opened);
        EXPECT_EQ(Feed(*enc, c.bytes), c.writesOk);
        enc->Finish();
        EXPECT_EQ(enc->FinishedCleanly(), c.clean);
        EXPECT_EQ(enc->StartFailed(), c.startFailed);
        enc->Close();
    }
}

TEST_F(ToolEncoderTest, ToolThatEndsWithInputLeftDidNotFinish) {
    // It read 100 bytes, quit with status 0 after the start window and left the rest in its pipe.
    bool opened = false;
    auto enc = OpenTool("dd bs=1 count=100 of=/dev/null 2>/dev/null", &opened);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(Feed(*enc, 16384));  // fits the pipe
    // Past the start check's window, so its end is not taken for a failed start.
    std::this_thread::sleep_for(std::chrono::milliseconds(CAudioEncoder::kStartCheckMs + 150));
    enc->Finish();
    EXPECT_FALSE(enc->FinishedCleanly());
    EXPECT_FALSE(enc->StartFailed());
}

// True when the process is gone or has ended and waits only to be collected.
static bool ProcessEnded(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

TEST_F(ToolEncoderTest, FinishEndsAToolThatDoesNotQuitWithinItsLimit) {
    for (const char* body : {"cat > /dev/null; sleep 30", "exec sleep 30"}) {  // reads to the end / never reads
        SCOPED_TRACE(body);
        bool opened = false;
        auto enc = OpenTool(body, &opened);
        ASSERT_TRUE(opened);
        const pid_t pid = static_cast<pid_t>(enc->GetProcessId());
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(Feed(*enc, 16384));  // fits the pipe
        enc->SetRunning(false);          // even a paused tool is let go and then ended
        const auto start = std::chrono::steady_clock::now();
        enc->Finish();
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, std::chrono::milliseconds(2900));
        EXPECT_LT(took, std::chrono::milliseconds(CAudioEncoder::kFinishWaitMs + 4000));  // bounded, with room for a loaded machine
        EXPECT_FALSE(enc->FinishedCleanly());
        EXPECT_TRUE(ProcessEnded(pid));  // ended; its id stays held until Close collects it
        enc->Close();
        EXPECT_NE(kill(pid, 0), 0);  // collected
    }
}

TEST_F(ToolEncoderTest, SuspendedToolGroupUsesNoProcessorTime) {
    bool opened = false;
    auto enc = OpenTool("(while :; do :; done) & while :; do :; done", &opened);
    ASSERT_TRUE(opened);
    const pid_t group = static_cast<pid_t>(enc->GetProcessId());
    ASSERT_TRUE(sqtest::WaitUntil([&] { return GroupCpuTicks(group) > 0; }));  // the spinners run
    ASSERT_TRUE(enc->SetRunning(false));
    ASSERT_TRUE(sqtest::WaitUntil([&] { return GroupStopped(group); }));
    const long paused = GroupCpuTicks(group);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // time in which a running group would use some
    EXPECT_EQ(GroupCpuTicks(group), paused);
    ASSERT_TRUE(enc->SetRunning(true));
    EXPECT_TRUE(sqtest::WaitUntil([&] { return GroupCpuTicks(group) > paused; }));
    enc->Close();
    EXPECT_FALSE(enc->SetRunning(true));  // no tool any more
    EXPECT_EQ(enc->GetProcessId(), 0u);
}

TEST_F(ToolEncoderTest, PriorityAffinityAndCpuMeterFollowTheSettings) {
    bool opened = false;
    auto enc = OpenTool("exec sleep 30", &opened);
    ASSERT_TRUE(opened);
    const pid_t pid = static_cast<pid_t>(enc->GetProcessId());
    prefs.SetFromText("overall.generic.priority", "2");
    prefs.SetInt("overall.audio.encAffinity", 1);
    enc->SetPriority(0);
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::vector<std::string> f;
    for (std::string s; rest >> s;) f.push_back(s);
    ASSERT_GT(f.size(), 16u);
    EXPECT_EQ(f[16], "10");  // below normal
    cpu_set_t set;
    ASSERT_EQ(sched_getaffinity(pid, sizeof set, &set), 0);
    EXPECT_EQ(CPU_COUNT(&set), 1);
    EXPECT_TRUE(CPU_ISSET(0, &set));
    EXPECT_EQ(enc->GetThreadCount(), 1);
    EXPECT_EQ(enc->GetCpuUsage(), 0.0);  // the first reading only sets the meter's reference
    enc->Close();
    EXPECT_EQ(enc->GetCpuUsage(), -1.0);
}

TEST_F(ToolEncoderTest, ProgressComesFromCapturedOutputOrTheProcessState) {
    prefs.SetBool("overall.ui.console", false);
    const std::string path = WriteScript(dir, "talker", "echo '[ 12%]'; echo '[ 42.5%]'; exec >&- 2>&-; cat > /dev/null");
    CAudioEncoder enc;
    enc.flags |= kEncoderCaptureOutput;
    ASSERT_TRUE(enc.Open("out.x", nullptr, ("\"" + path + "\"").c_str()));
    EncoderProgress p{0, 1000};
    EXPECT_TRUE(enc.WaitProgress(&p));
    EXPECT_EQ(p.position, 425u);
    EXPECT_FALSE(enc.WaitProgress(&p));  // nothing more to read
    enc.Finish();
    EXPECT_TRUE(enc.FinishedCleanly());
    enc.Close();

    bool opened = false;
    auto quiet = OpenTool("cat > /dev/null", &opened);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(quiet->WaitProgress(&p));  // still running after 500 ms
    quiet->Finish();
    EXPECT_FALSE(quiet->WaitProgress(&p));  // ended

    CNullAudioEncoder null;
    EXPECT_TRUE(null.Open("x", nullptr, nullptr));
    EXPECT_EQ(null.Write("abc", 3), 3);
    EXPECT_TRUE(null.WaitProgress(&p));
}

}  // namespace

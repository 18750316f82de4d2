// The whole road with real tools: generated inputs in four formats through the batch into four
// output formats on one and on four workers; and every way a tool can fail ends its item in
// state 9 with its error code while the batch goes on and no earlier file is lost.
#include "engine/jobs/jobdriver.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "engine/encoders/encoder.h"
#include "engine/encoders/wave_header.h"
#include "engine/jobs/audio_fakes.h"
#include "engine/jobs/audiopass.h"
#include "engine/jobs/itemstate.h"
#include "engine/jobs/job_fixture.h"

namespace {

namespace fs = std::filesystem;
using sqtest::Capture;
using sqtest::Shell;

// Child processes of this test still alive (zombies are not counted: they are reaped lazily).
int LiveChildren() {
    int n = 0;
    const std::string self = std::to_string(getpid());
    DIR* d = opendir("/proc");
    while (dirent* e = readdir(d)) {
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string pid, comm, state, ppid;
        if (stat >> pid >> comm >> state >> ppid && ppid == self && state != "Z") ++n;
    }
    closedir(d);
    return n;
}

double Duration(const std::string& path) {
    const std::string s = Capture("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'");
    return s.empty() ? -1 : std::atof(s.c_str());
}

std::string Tag(const std::string& path, const char* name) {
    return Capture(std::string("ffprobe -v error -show_entries format_tags=") + name + ":stream_tags=" + name +
                   " -of default=nw=1:nk=1 '" + path + "' | head -n 1");
}

class Road : public sqtest::JobFixture {
protected:
    // 3 s inputs: WAV stereo 44.1 kHz, FLAC mono 48 kHz, MP3 stereo 44.1 kHz, Ogg mono 48 kHz.
    std::vector<std::string> MakeInputs() {
        struct In {
            const char* name;
            int rate, channels;
        } const ins[] = {{"a.wav", 44100, 2}, {"b.flac", 48000, 1}, {"c.mp3", 44100, 2}, {"d.ogg", 48000, 1}};
        std::vector<std::string> paths;
        for (const In& i : ins) {
            const std::string path = in.file(i.name);
            EXPECT_TRUE(Shell("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=3:sample_rate=" +
                              std::to_string(i.rate) + " -ac " + std::to_string(i.channels) +
                              " -metadata artist=Quill -metadata title=Tone_" + i.name + " -y '" + path + "'"));
            paths.push_back(path);
        }
        return paths;
    }
};

TEST_F(Road, QueueIntoEveryFormat) {
    const std::vector<std::string> inputs = MakeInputs();
    struct Out {
        int encoder;
        const char* ext;
        // One encoder frame plus the start delay the format carries (an MP3 input brings its own).
        double tolerance;
    } const outs[] = {{kEncLame, "mp3", (1152.0 + 1105) / 44100}, {kEncVorbis, "ogg", 2048.0 / 44100},
                      {kEncOpus, "opus", 0.020 + 312.0 / 48000 + 0.001}, {kEncFlac, "flac", 4608.0 / 44100}};
    for (int workers : {1, 4}) {
        for (const Out& o : outs) {
            SCOPED_TRACE(testing::Message() << o.ext << " on " << workers << " workers");
            GetPrefStore().SetInt("overall.audio.encoder", o.encoder);
            QueueClear();
            events.clear();
            std::vector<QueueItem*> items;
            for (size_t i = 0; i < inputs.size(); ++i) {
                items.push_back(Add(inputs[i]));
                Describe(items.back(), i % 2 ? 48000 : 44100, i % 2 ? 1 : 2, 3000, "Quill", "Tone");
            }
            RunBatch(workers);
            for (QueueItem* item : items) {
                SCOPED_TRACE(item->file);
                EXPECT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
                ASSERT_TRUE(item->destFile);
                const std::string output = item->destFile;
                EXPECT_EQ(fs::path(output).extension(), std::string(".") + o.ext);
                EXPECT_NEAR(Duration(output), 3.0, o.tolerance);
                EXPECT_EQ(Tag(output, "artist"), "Quill");
                EXPECT_EQ(LogLinesWith(std::string("Start transcoding ") + item->file), 1) << "run once";
            }
            EXPECT_EQ(LiveChildren(), 0);
        }
    }
}

// Mean volume in dB as ffmpeg's volumedetect measures it.
double MeanVolume(const std::string& path) {
    const std::string s = Capture("ffmpeg -v info -i '" + path + "' -af volumedetect -f null - 2>&1 | "
                                  "sed -n 's/.*mean_volume: \\(-*[0-9.]*\\) dB.*/\\1/p'");
    return s.empty() ? 0 : std::atof(s.c_str());
}

// Normalisation: an analysis pass measures the quiet input, and the output comes out louder.
TEST_F(Road, NormalisationRaisesAQuietInput) {
    const std::string input = in.file("quiet.wav");
    ASSERT_TRUE(Shell("ffmpeg -v error -f lavfi -i 'sine=frequency=440:duration=3:sample_rate=44100' "
                      "-af volume=-30dB -ac 2 -y '" + input + "'"));
    GetPrefStore().SetInt("overall.audio.encoder", kEncFlac);
    GetPrefStore().SetInt("audiofilter.volume.normalization", 1);
    QueueItem* item = Add(input);
    Describe(item, 44100, 2, 3000, "Quill", "Quiet");
    RunBatch(1);
    ASSERT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
    ASSERT_TRUE(item->destFile);
    const double before = MeanVolume(input);
    const double after = MeanVolume(item->destFile);
    EXPECT_GT(after - before, 10.0) << before << " dB in, " << after << " dB out";
}

TEST_F(Road, EventsAndLogInOrderForOneItem) {
    const std::string path = in.file("one.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + path + "' synth 1 sine 440"));
    GetPrefStore().SetInt("overall.audio.encoder", kEncLame);
    QueueItem* item = Add(path);
    Describe(item, 44100, 2, 1000);
    RunBatch(1);
    EXPECT_EQ(item->state.load(), kItemDone);
    // The Part's order: batch start, job start, status, the tool's command line, job end, batch end.
    std::vector<int> seen;
    for (const auto& e : events.events())
        if (e.code == kEventBatchStarting || e.code == kEventJobStarted || e.code == kEventCommandLine ||
            e.code == kEventJobEnded || e.code == kEventBatchEnded)
            if (seen.empty() || seen.back() != e.code) seen.push_back(e.code);
    EXPECT_EQ(seen, (std::vector<int>{kEventBatchStarting, kEventJobStarted, kEventCommandLine, kEventJobEnded,
                                      kEventBatchEnded}));
    std::vector<std::string> order;
    for (const std::string& line : events.texts(kEventLogLine))
        for (const char* key : {"Start transcoding", "LOAD_ENCODER", "Loading", "UNLOADED", "nloaded", "Finished"})
            if (line.find(key) != std::string::npos) order.push_back(key);
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order.front(), "Start transcoding");
    EXPECT_EQ(order.back(), "Finished");
}

}  // namespace

namespace {

// The encoder is a script that fails the way the input's name asks; other inputs are copied.
constexpr const char* kFaultScript = R"sh(case "$1" in
  *exit*) exit 3 ;;
  *deaf*) sleep 30; exit 0 ;;
  *crash*) echo $$ > "$1.pid"; while [ "$(head -c 8192 | wc -c)" -gt 0 ]; do sleep 0.05; done; exit 0 ;;
esac
cat > "$2"
)sh";

class Faults : public Road {};

TEST_F(Faults, EachFailureEndsItsItemAndTheBatchGoesOn) {
    struct Case {
        const char* name;      // input name: tells the script what to do
        int32_t expectError;
        bool fifo;             // the input is a pipe that delivers one second and then stalls
        bool killFromTest;
        rlim_t fileLimit;      // RLIM_INFINITY, or a small limit for a full disk
    } const cases[] = {
        {"exit.wav", kItemErrorEncoderFail, false, false, RLIM_INFINITY},
        {"deaf.wav", kItemErrorEncoderFail, false, false, RLIM_INFINITY},
        {"crash.wav", kItemErrorEncoderFail, false, true, RLIM_INFINITY},
        {"stall.wav", kItemErrorSourceFail, true, false, RLIM_INFINITY},
        {"full.wav", kItemErrorWrite, false, false, 64 * 1024},
    };
    PrefStore& p = GetPrefStore();
    const std::string script = in.write("fault.sh", kFaultScript);
    p.SetInt("overall.audio.encoder", kEncGeneric);
    p.SetString("audioenc.cli.command", ("sh " + script + " $(SourceFile) $(DestFile)").c_str());
    p.SetString("audioenc.cli.fileext", "out");
    p.SetBool("overall.audio.autoSource", false);
    p.SetInt("overall.audio.source", 3);  // FFmpeg: also reads a pipe
    p.SetInt("overall.task.overwrite", 2);
    p.SetString("overall.task.renPostfix", "_old");
    const std::string good = in.file("good.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + good + "' synth 0.1 sine 440"));

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QueueClear();
        const std::string input = in.file(c.name);
        std::thread feeder;
        if (c.fifo) {
            ASSERT_EQ(mkfifo(input.c_str(), 0600), 0);
            feeder = std::thread([input] {
                std::ofstream f(input, std::ios::binary);
                std::string wav(44, '\0');
                WaveHeader h;
                InitWaveHeader(&h, 44100, 2, 16, 10 * 176400);
                wav.assign(reinterpret_cast<const char*>(&h), 44);
                wav.append(176400, '\0');
                f.write(wav.data(), static_cast<std::streamsize>(wav.size()));
                f.flush();
                std::this_thread::sleep_for(std::chrono::seconds(15));  // then stalls, open
            });
        } else {
            ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + input + "' synth 3 sine 440"));
        }
        // An output from an earlier run that must survive whatever happens.
        const std::string earlier = out.write(fs::path(c.name).replace_extension(".out").string(), "earlier run");
        QueueItem* bad = Add(input);
        Describe(bad, 44100, 2, 3000);
        QueueItem* next = Add(good);
        Describe(next, 44100, 2, 100);

        std::atomic<bool> done{false};
        std::thread killer;
        if (c.killFromTest)
            killer = std::thread([&] {
                const std::string pidFile = in.file(c.name) + ".pid";
                while (!done && (!fs::exists(pidFile) || bad->run.bytes.load() < 65536))
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                const pid_t pid = std::atoi(sqtest::ReadFile(pidFile).c_str());
                if (!done && pid > 0) kill(pid, SIGKILL);
            });
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limited = old;
        limited.rlim_cur = c.fileLimit;
        setrlimit(RLIMIT_FSIZE, &limited);
        const auto t0 = std::chrono::steady_clock::now();
        RunBatch(1, 90);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        setrlimit(RLIMIT_FSIZE, &old);
        done = true;
        if (killer.joinable()) killer.join();
        if (feeder.joinable()) feeder.join();

        EXPECT_EQ(bad->state.load(), kItemError);
        EXPECT_EQ(bad->errorCode.load(), c.expectError);
        // One line says why: the path, the code and its meaning.
        EXPECT_EQ(LogLinesWith("Failed " + input + ": error " + std::to_string(c.expectError) + ", " +
                               ItemErrorMeaning(c.expectError)),
                  1);
        EXPECT_LT(seconds, 30.0);
        EXPECT_EQ(next->state.load(), kItemDone) << "the batch goes on";
        EXPECT_EQ(sqtest::ReadFile(fs::path(earlier).replace_filename(fs::path(earlier).stem().string() + "_old.out")),
                  "earlier run");
        EXPECT_FALSE(fs::exists(earlier)) << "the failed run's partial output is removed";
        EXPECT_EQ(LiveChildren(), 0) << "nothing left running";
        for (const auto& e : fs::directory_iterator(out.path())) fs::remove(e.path());
        fs::remove(input);
    }
}

}  // namespace

namespace {

// Batch rules on a ramp source and the in-process PCM writer: no tool runs.
class BatchRules : public sqtest::JobFixture {
protected:
    void SetUp() override {
        JobFixture::SetUp();
        SetPassSourceMaker([](uint32_t) -> std::unique_ptr<PassSource> {
            return std::make_unique<sqtest::RampSource>(176400 / 4);
        });
        GetPrefStore().SetInt("overall.audio.encoder", kEncPcm);
    }
    void TearDown() override {
        SetPassSourceMaker(nullptr);
        GetPrefStore().SetInt("overall.task.mode", 0);
        GetPrefStore().SetBool("overall.automation.autoTask", false);
        JobFixture::TearDown();
    }
    QueueItem* AddInput(const char* name) {
        QueueItem* item = Add(in.write(name, "input"));
        Describe(item, 44100, 2, 250);
        return item;
    }
};

TEST_F(BatchRules, SkippedAndRefusedItemsAreNotRun) {
    QueueItem* marked = AddInput("marked.wav");
    marked->flags |= kItemFlagSkip;
    QueueItem* refused = AddInput("refused.wav");
    QueueItem* plain = AddInput("plain.wav");
    events.answer(kEventJobStarted, 0);
    // The second job start is refused (answer 2): the recorder answers by code, so refuse from the
    // item's own name through a flag the test sets before the batch.
    EngineContext& ctx = events.context();
    auto recorder = ctx.eventCallback;
    ctx.eventCallback = [&](int code, intptr_t data, int64_t arg) {
        const int answer = recorder(code, data, arg);
        return code == kEventJobStarted && reinterpret_cast<QueueItem*>(data) == refused ? 2 : answer;
    };
    RunBatch(1);
    EXPECT_EQ(marked->state.load(), kItemReady);
    EXPECT_EQ(refused->state.load(), kItemReady) << "a refused item shows what it showed before";
    EXPECT_EQ(plain->state.load(), kItemDone);
    EXPECT_EQ(ctx.skippedFiles.load(), 1);
    EXPECT_EQ(LogLinesWith("Start transcoding"), 1);
}

// A stop that reaches an item just after it ended leaves its end as it was (a done item that
// turned "stopping" would lose its output or run again); a running item stops.
TEST_F(BatchRules, StopReachesOnlyItemsStillRunning) {
    const struct {
        uint32_t before, after;
    } cases[] = {
        {kItemDone, kItemDone},         {kItemSkipped, kItemSkipped},   {kItemError, kItemError},
        {kItemEncoding, kItemStopping}, {kItemPaused, kItemStopping},   {kItemFinishing, kItemStopping},
    };
    QueueItem* item = AddInput("item.wav");
    for (const auto& c : cases) {
        item->state = c.before;
        StopItem(item);
        EXPECT_EQ(item->state.load(), c.after) << "from state " << c.before;
    }
    item->state = kItemReady;
}

TEST_F(BatchRules, UnattendedDoneItemsLeaveTheQueue) {
    GetPrefStore().SetBool("overall.automation.autoTask", true);
    AddInput("a.wav");
    AddInput("b.wav");
    RunBatch(2);
    EXPECT_EQ(QueueCount(), 0);
    EXPECT_EQ(events.texts(kEventQueueChanged).size(), 2u);
}

TEST_F(BatchRules, BenchmarkModeLeavesTheNullDevice) {
    GetPrefStore().SetInt("overall.task.mode", 2);
    QueueItem* item = AddInput("bench.wav");
    SetStringField(&item->destFile, "/dev/null");
    item->flags |= kItemFlagUserDest;
    RunBatch(1);
    EXPECT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
    struct stat st {};
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(BatchRules, RenamedFilesStayInTheOutputFolder) {
    PrefStore& p = GetPrefStore();
    p.SetInt("overall.task.mode", 5);
    p.SetString("overall.automation.fileNameFormat", "$(Artist) - $(Title)");
    p.SetBool("overall.task.renameCopy", true);
    QueueItem* item = AddInput("song.wav");
    SetStringField(&item->tagArtist, "../../escape");
    SetStringField(&item->tagTitle, "x/y");
    item->flags |= kItemFlagHasTags;
    RunBatch(1);
    EXPECT_EQ(item->state.load(), kItemDone);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out.path())) names.push_back(e.path().filename().string());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], ".._.._escape - x_y.wav");
    EXPECT_TRUE(fs::exists(in.file("song.wav"))) << "copied, not moved";
}

}  // namespace

namespace {

// A ramp source whose first opening fails the way a decoder that cannot start does.
std::atomic<int> g_flakyOpens{0};
class FlakySource : public sqtest::RampSource {
public:
    FlakySource() : RampSource(176400 / 4) {}
    bool Open(AudioTask*) override { return g_flakyOpens.fetch_add(1) > 0; }
};

class JobSteps : public BatchRules {
protected:
    void TearDown() override {
        PrefStore& p = GetPrefStore();
        p.SetInt("overall.task.testPhase", 0);
        p.SetBool("overall.video.enabled", false);
        BatchRules::TearDown();
    }
    QueueItem* AddInput(const char* name, int group = 0) {
        QueueItem* item = BatchRules::AddInput(name);
        item->group = group;
        return item;
    }
    size_t OutputFiles() const {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(out.path())) n += e.is_regular_file();
        return n;
    }
};

TEST_F(JobSteps, TestPhaseRunsBeforeTheConversion) {
    const struct {
        const char* name;
        int setting;
        bool videoEnabled;
        bool flakySource;
        uint32_t state;
        uint32_t error;
        int starts;  // "Start transcoding" lines: the test phase and the conversion each log one
        size_t outputs;
    } cases[] = {
        {"no test phase", 0, false, false, kItemDone, 0, 1, 1},
        {"video-only test without video", 1, false, false, kItemDone, 0, 1, 1},
        {"video-only test with video", 1, true, false, kItemDone, 0, 2, 1},
        {"always", 2, false, false, kItemDone, 0, 2, 1},
        {"failed test ends the item", 2, false, true, kItemError, kItemErrorSourceFail, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QueueClear();
        events.clear();
        for (const auto& e : fs::directory_iterator(out.path())) fs::remove(e.path());
        PrefStore& p = GetPrefStore();
        p.SetInt("overall.task.testPhase", c.setting);
        p.SetBool("overall.video.enabled", c.videoEnabled);
        p.SetBool("overall.video.copy", false);
        p.SetInt("overall.video.mode", 0);
        g_flakyOpens = 0;
        if (c.flakySource)
            SetPassSourceMaker([](uint32_t) -> std::unique_ptr<PassSource> { return std::make_unique<FlakySource>(); });
        QueueItem* item = AddInput("tested.wav");
        RunBatch(1);
        EXPECT_EQ(item->state.load(), c.state);
        EXPECT_EQ(item->errorCode.load(), c.error);
        EXPECT_EQ(LogLinesWith("Start transcoding"), c.starts);
        EXPECT_EQ(OutputFiles(), c.outputs) << "the trial output never stays beside the real one";
        EXPECT_EQ(events.context().outputFiles.load(), static_cast<int>(c.outputs)) << "a trial is not an output";
        EXPECT_EQ(item->flags.load() & kItemFlagTestPhase, 0u);
        const auto status = events.texts(kEventStatusText);
        const bool announced = std::find(status.begin(), status.end(), EngineText("test_phase")) != status.end();
        EXPECT_EQ(announced, c.starts == 2 || c.flakySource);
        SetPassSourceMaker([](uint32_t) -> std::unique_ptr<PassSource> {
            return std::make_unique<sqtest::RampSource>(176400 / 4);
        });
    }
}

// A joined group is one job: converted once by whichever worker claims its first item, into one
// output; the joined items end as that job ended.
TEST_F(JobSteps, JoinedGroupConvertsAsOneJob) {
    for (int workers : {1, 3}) {
        SCOPED_TRACE(testing::Message() << workers << " workers");
        QueueClear();
        events.clear();
        for (const auto& e : fs::directory_iterator(out.path())) fs::remove(e.path());
        QueueItem* first = AddInput("part1.wav", 4);
        QueueItem* second = AddInput("part2.wav", 4);
        QueueItem* third = AddInput("part3.wav", 4);
        QueueItem* alone = AddInput("alone.wav");
        RunBatch(workers);
        for (QueueItem* item : {first, second, third, alone}) EXPECT_EQ(item->state.load(), kItemDone) << item->file;
        EXPECT_EQ(LogLinesWith("Start transcoding"), 2) << "the group and the single item, each once";
        EXPECT_EQ(LogLinesWith("part2.wav"), 0);
        EXPECT_EQ(OutputFiles(), 2u);
        EXPECT_EQ(events.context().processedFiles.load(), 4);
        EXPECT_EQ(GetQueueProgress(nullptr), 100);
    }
    // Unattended, a converted group leaves the queue whole.
    QueueClear();
    GetPrefStore().SetBool("overall.automation.autoTask", true);
    AddInput("g1.wav", 9);
    AddInput("g2.wav", 9);
    RunBatch(2);
    GetPrefStore().SetBool("overall.automation.autoTask", false);
    EXPECT_EQ(QueueCount(), 0);
}

TEST_F(JobSteps, MismatchedGroupFailsWholeAndTheBatchGoesOn) {
    QueueItem* first = AddInput("a44.wav", 2);
    QueueItem* second = AddInput("b48.wav", 2);
    second->audio->samplerate = 48000;
    QueueItem* alone = AddInput("alone.wav");
    RunBatch(2);
    EXPECT_EQ(first->state.load(), kItemError);
    EXPECT_EQ(second->state.load(), kItemError);
    EXPECT_EQ(alone->state.load(), kItemDone);
    EXPECT_EQ(events.texts(kEventNotice).size(), 1u) << "the mismatch is told once";
    EXPECT_EQ(LogLinesWith("Start transcoding"), 1);
    EXPECT_EQ(first->errorCode.load(), kItemErrorFormat);
    EXPECT_EQ(LogLinesWith("Failed " + std::string(first->file) + ": error 8, "), 1);
    // The batch's report names the failure and is no report of a batch that all went well.
    const std::vector<std::string> reports = events.texts(kEventFinalReport);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].find(EngineText("TRANSCODE_DONE")), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("Failed " + std::string(first->file) + ": error 8, "), std::string::npos) << reports[0];
}

}  // namespace

namespace {

// A tool that reads the input itself and takes longer than the encoder's finishing limit: it
// prints its progress while it works, then writes the output.
constexpr const char* kSelfReadingTool = R"(#!/bin/sh
for p in 20 40 60 80; do echo "[ $p.0%]"; sleep 1; done
cp "$1" "$2"
echo "[100.0%]"
)";

class SelfReading : public sqtest::JobFixture {};

TEST_F(SelfReading, ToolThatReadsTheInputItselfIsFollowedToItsEnd) {
    PrefStore& p = GetPrefStore();
    const std::string script = in.write("copier.sh", kSelfReadingTool);
    p.SetInt("overall.audio.encoder", kEncGeneric);
    p.SetString("audioenc.cli.command", ("sh " + script + " $(SourceFile) $(DestFile)").c_str());
    p.SetString("audioenc.cli.fileext", "out");
    p.SetBool("overall.audio.autoSource", false);
    p.SetInt("overall.audio.source", 0);  // no decoder: the tool reads the file
    const std::string input = in.file("whole.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + input + "' synth 2 sine 440"));
    QueueItem* item = Add(input);
    Describe(item, 44100, 2, 2000);
    RunBatch(1, 60);
    std::string log;
    for (const std::string& line : events.texts(kEventLogLine)) log += line + "\n";
    EXPECT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load() << "\n" << log;
    ASSERT_TRUE(item->destFile);
    EXPECT_EQ(sqtest::ReadFile(item->destFile), sqtest::ReadFile(input)) << "the tool was not cut short";
    EXPECT_EQ(item->run.position.load(), 2000u) << "the progress the tool printed reached the item";
    EXPECT_EQ(LiveChildren(), 0);
}

// An encoder whose command line and output name need nothing of the decoder's header starts beside
// its decoder, as the bare tools started side by side would; one whose line names the format waits
// for the header and gets the decoded format, not the probe's. The stand-in decoder waits (at most
// 5 s) for the encoder's start before it decodes, and notes which came first.
const char kWaitingDecoder[] = R"sh(#!/bin/sh
i=0
while [ ! -e "$MARK" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i+1)); done
if [ -e "$MARK" ]; then echo encoder > "$ORDER"; else echo decoder > "$ORDER"; fi
exec flac "$@"
)sh";

TEST_F(SelfReading, EncoderNeedingNoHeaderStartsBesideItsDecoder) {
    struct Case {
        const char* args;           // the encoder's command line after the script
        const char* encoderFirst;   // "encoder": started before the decoder wrote anything
        const char* firstArgument;  // what the script was given first
    } const cases[] = {
        {"$(DestFile)", "encoder", nullptr},
        {"$(SampleRate) $(DestFile)", "decoder", "22050"},
    };
    PrefStore& p = GetPrefStore();
    const std::string decoder = in.write("flacdec.sh", kWaitingDecoder);
    chmod(decoder.c_str(), 0755);
    const std::string mark = in.file("encoder-started"), order = in.file("order"), args = in.file("args");
    setenv("MARK", mark.c_str(), 1);
    setenv("ORDER", order.c_str(), 1);
    const std::string encoder = in.write("enc.sh", "touch \"$MARK\"\necho \"$1\" > '" + args + "'\nshift $(($# - 1))\ncat > \"$1\"\n");
    p.SetInt("overall.audio.encoder", kEncGeneric);
    p.SetString("audioenc.cli.fileext", "out");
    p.SetString("audioenc.flac.path", decoder.c_str());
    p.SetBool("overall.audio.autoSource", false);
    p.SetInt("overall.audio.source", 8);  // the FLAC tool
    const std::string input = in.file("tone.flac");
    ASSERT_TRUE(Shell("sox -n -r 22050 -c 2 -b 16 '" + input + "' synth 1 sine 440"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        QueueClear();
        fs::remove(mark);
        p.SetString("audioenc.cli.command", ("sh " + encoder + " " + c.args).c_str());
        QueueItem* item = Add(input);
        Describe(item, 44100, 2, 1000);  // the probe's figures; the decoder gives 22050 Hz
        RunBatch(1, 60);
        EXPECT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
        EXPECT_EQ(sqtest::ReadFile(order), std::string(c.encoderFirst) + "\n");
        if (c.firstArgument) {
            EXPECT_EQ(sqtest::ReadFile(args), std::string(c.firstArgument) + "\n");
        }
        ASSERT_TRUE(item->destFile);
        EXPECT_GT(fs::file_size(item->destFile), 22050u * 4) << "the encoder got the decoded samples";
    }
    unsetenv("MARK");
    unsetenv("ORDER");
}

}  // namespace

namespace {

// Two inputs of one name in different folders give one output name: the worker that meets the
// name in use waits for the other job, then applies the overwrite policy to its finished file,
// as one worker would; a job with another name is not held up.
TEST_F(JobSteps, WorkersNeverWriteOneOutputAtOnce) {
    SetPassSourceMaker([](uint32_t) -> std::unique_ptr<PassSource> {
        return std::make_unique<sqtest::RampSource>(2 * 176400, 30);
    });
    PrefStore& p = GetPrefStore();
    p.SetInt("overall.task.overwrite", 2);
    p.SetString("overall.task.renPostfix", "_old");
    fs::create_directories(in.path() / "x");
    fs::create_directories(in.path() / "y");
    QueueItem* first = AddInput("x/song.wav");
    QueueItem* second = AddInput("y/song.wav");
    QueueItem* other = AddInput("other.wav");
    RunBatch(3);
    p.SetInt("overall.task.overwrite", 1);
    for (QueueItem* item : {first, second, other}) EXPECT_EQ(item->state.load(), kItemDone) << item->file;
    QueueItem* earlier = first->run.startTime.load() <= second->run.startTime.load() ? first : second;
    QueueItem* later = earlier == first ? second : first;
    EXPECT_LE(earlier->run.startTime.load() + earlier->run.elapsed.load(), later->run.startTime.load())
        << "the two jobs of one output name overlapped";
    EXPECT_LT(other->run.startTime.load(), later->run.startTime.load()) << "a job of another name waited too";
    EXPECT_EQ(LogLinesWith("Waited for another job writing"), 1);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out.path())) names.push_back(e.path().stem().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"other", "song", "song_old"})) << "the earlier output was moved aside whole";
    for (const auto& e : fs::directory_iterator(out.path())) EXPECT_GT(fs::file_size(e.path()), 2u * 176400) << e.path();
}

}  // namespace

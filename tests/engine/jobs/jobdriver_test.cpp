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

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "engine/encoders/encoder.h"
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

// A batch of real files probed as a user's batch probes them (media information, then the player's
// identify run) on 8 workers sharing the engine mutex: a probe that is slow for one item, or an
// input whose probe hangs, costs that item alone; every other item converts.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/encoders/encoder.h"
#include "engine/jobs/itemstate.h"
#include "engine/jobs/job_fixture.h"
#include "platform/sync.h"

namespace {

class ProbedBatch : public sqtest::JobFixture {
protected:
    void SetUp() override {
        JobFixture::SetUp();
        events.context().engineMutex = &engineMutex_;
        GetPrefStore().SetInt("overall.audio.encoder", kEncLame);
    }
    void TearDown() override {
        events.context().engineMutex = nullptr;
        JobFixture::TearDown();
    }

    // n FLAC files of one second, queued without stream information: the batch probes them.
    std::vector<QueueItem*> AddFlacFiles(int n) {
        std::vector<QueueItem*> items;
        for (int i = 0; i < n; ++i) {
            const std::string file = in.file("tone" + std::to_string(i) + ".flac");
            EXPECT_TRUE(sqtest::Shell("timeout 60 ffmpeg -loglevel error -y -f lavfi -i sine=frequency=" +
                                      std::to_string(300 + 20 * i) + ":sample_rate=44100:duration=1 -ac 2 '" + file + "'"));
            items.push_back(Add(file));
        }
        return items;
    }

    // A stand-in player first on PATH: the first identify run sleeps 15 s (past the probe's own
    // 10 s limit), every other request goes to the program's player.
    void SlowFirstIdentify() {
        const std::string script = "#!/bin/sh\ncase \" $* \" in *\" -identify \"*) mkdir '" + stand.file("slowed") +
                                   "' 2>/dev/null && sleep 15;; esac\nexec '" + std::string(SQ_OUT_DIR) +
                                   "/tools/mplayer' \"$@\"\n";
        const std::string path = stand.write("mplayer", script);
        chmod(path.c_str(), 0755);
        setenv("PATH", (stand.path().string() + ":" + getenv("PATH")).c_str(), 1);
    }

    void ExpectConverted(QueueItem* item) {
        EXPECT_EQ(item->state.load(), static_cast<uint32_t>(kItemDone)) << item->file << " error " << item->errorCode.load();
        const std::string output = item->destFile ? item->destFile : "";
        EXPECT_TRUE(!output.empty() && std::filesystem::exists(output) && std::filesystem::file_size(output) > 0)
            << item->file << " has no output";
    }

    platform::RecursiveMutex engineMutex_;
    sqtest::TempDir stand;
};

TEST_F(ProbedBatch, OneSlowProbeDelaysNoOtherItem) {
    SlowFirstIdentify();
    const std::vector<QueueItem*> items = AddFlacFiles(16);
    RunBatch(8, 200);
    ASSERT_TRUE(std::filesystem::exists(stand.file("slowed"))) << "the stand-in player never ran";
    for (QueueItem* item : items) ExpectConverted(item);
    // The engine mutex was free for each item's setup and after each pass.
    EXPECT_EQ(LogLinesWith("Paralell tasks collision"), 0);
    EXPECT_FALSE(engineMutex_.ownedByCaller());
    EXPECT_TRUE(engineMutex_.try_lock()) << "a worker kept the engine mutex after its item";
    engineMutex_.unlock();
}

TEST_F(ProbedBatch, AnInputWhoseProbeHangsFailsAloneAndSaysWhy) {
    std::vector<QueueItem*> items = AddFlacFiles(3);
    // A named pipe with a sound file's name: nothing ever writes into it, so every probe of it hangs.
    const std::string fifo = in.file("stalled.flac");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    QueueItem* stalled = Add(fifo);
    RunBatch(4, 200);
    for (QueueItem* item : items) ExpectConverted(item);
    EXPECT_EQ(stalled->state.load(), static_cast<uint32_t>(kItemError));
    EXPECT_EQ(stalled->errorCode.load(), static_cast<int32_t>(kItemErrorNoStreams));
    EXPECT_EQ(LogLinesWith("No audio or video stream found in " + fifo), 1);
}

}  // namespace

// Input plug-in jobs on two workers at once: the host serves one source at a time, every output
// holds exactly the range asked for, and files only a plug-in can describe are described in turn.
#include <gtest/gtest.h>

#include <thread>

#include "engine/jobs/audiotask.h"
#include "engine/sources/plugin_jobs.h"
#include "support/wav_bytes.h"

namespace {

using sqtest::PluginJobs;
using sqtest::Pcm16Ramp;
using sqtest::WriteTinyFile;

TEST_F(PluginJobs, ParallelJobsAreServedOneAtATimeAndEachStopsAtItsDuration) {
    Scan("");
    GetPrefStore().SetInt("overall.decoding.duration", 100);  // 17640 bytes, not a multiple of a write
    const std::string pcm = Pcm16Ramp(2 * 44100);
    std::vector<QueueItem*> items;
    for (int i = 0; i < 3; ++i) items.push_back(AddTiny("t" + std::to_string(i) + ".tny", pcm));
    RunBatch(2, 90);
    for (QueueItem* item : items) {
        SCOPED_TRACE(item->file);
        EXPECT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
        EXPECT_TRUE(OutputPcm(item) == pcm.substr(0, 17640)) << OutputPcm(item).size() << " bytes";
    }
}

// Neither item comes described: each job asks the plug-in while the other may hold the host.
TEST_F(PluginJobs, ParallelJobsOfFilesOnlyAPluginDescribesWaitForTheHostInTurn) {
    Scan("");
    const std::string pcm = Pcm16Ramp(2 * 22050);
    std::vector<QueueItem*> items;
    for (int i = 0; i < 2; ++i) {
        const std::string path = in.file("u" + std::to_string(i) + ".tny");
        WriteTinyFile(path, 44100, 2, 16, pcm, 5);  // decoded slowly: the jobs overlap
        items.push_back(Add(path));
    }
    RunBatch(2, 90);
    for (QueueItem* item : items) {
        SCOPED_TRACE(item->file);
        EXPECT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
        EXPECT_TRUE(OutputPcm(item) == pcm) << OutputPcm(item).size() << " bytes";
    }
}

// Asked outside a job while a job holds the host, the description is left for later.
TEST_F(PluginJobs, ADescriptionAskedWhileTheHostIsBusyIsLeftForLater) {
    Scan("");
    WriteTinyFile(in.file("a.tny"), 44100, 2, 16, Pcm16Ramp(4410));
    WriteTinyFile(in.file("b.tny"), 44100, 2, 16, Pcm16Ramp(4410));
    QueueItem* playing = Add(in.file("a.tny"));
    QueueItem* item = Add(in.file("b.tny"));
    CWinampInput source;
    AudioTask task;
    task.item = playing;
    ASSERT_TRUE(source.Open(&task));
    int answer = 0;
    std::thread other([&] { answer = DescribeWithInputPlugin(item); });
    other.join();
    EXPECT_EQ(answer, -1);
    EXPECT_EQ(item->audio, nullptr);
    source.Close();
    EXPECT_EQ(DescribeWithInputPlugin(item), 1);
}

}  // namespace

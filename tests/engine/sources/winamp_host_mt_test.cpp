// Input plug-in jobs on two workers at once: the host serves one source at a time, and every
// output holds exactly the range asked for.
#include <gtest/gtest.h>

#include "engine/sources/plugin_jobs.h"
#include "support/wav_bytes.h"

namespace {

using sqtest::PluginJobs;
using sqtest::Pcm16Ramp;

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

}  // namespace

#include "engine/queue/queue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

class QueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QueueClear(), 0);
        baseline_ = QueueItemsInUse();
    }
    void TearDown() override {
        for (QueueItem* item = QueueNext(nullptr); item; item = item->next) item->audioTask = nullptr;
        QueueClear();
        for (QueueItem* item : loose_) QueueFreeItem(item);
        EXPECT_EQ(QueueItemsInUse(), baseline_) << "an item was not freed";
    }
    QueueItem* Make(const std::string& path) { return QueueNewItem(path.c_str()); }
    QueueItem* Add(const std::string& path) {
        QueueItem* item = Make(path);
        EXPECT_EQ(QueueAppend(item), 0) << path;
        return item;
    }
    // Paths of the queue in order.
    std::vector<std::string> Paths() {
        std::vector<std::string> paths;
        QueueLockGuard lock;
        for (QueueItem* item = QueueNext(nullptr); item; item = QueueNext(item))
            paths.push_back(item->file ? item->file : "(null)");
        return paths;
    }
    std::vector<QueueItem*> loose_;  // made but not linked; freed at the end
    int baseline_ = 0;
};

TEST_F(QueueTest, NewItemDefaults) {
    QueueItem* item = Make("/m/a.flac");
    loose_.push_back(item);
    EXPECT_EQ(item->flags.load(), kItemFlagInUse | kItemFlagMadeByNew);
    EXPECT_STREQ(item->file, "/m/a.flac");
    EXPECT_EQ(item->inputType->typeId, 22u);
    EXPECT_EQ(item->targetRatio, 1.0f);
    EXPECT_EQ(item->state.load(), static_cast<uint32_t>(kItemReady));
    EXPECT_EQ(item->next, nullptr);
    EXPECT_EQ(QueueCount(), 0);  // made, not linked
    EXPECT_EQ(QueueItemsInUse(), baseline_ + 1);

    QueueItem* none = QueueNewItem(nullptr);
    loose_.push_back(none);
    EXPECT_EQ(none->file, nullptr);
    EXPECT_EQ(none->inputType, UnknownInputRow());
}

TEST_F(QueueTest, ListOperations) {
    EXPECT_EQ(QueueNext(nullptr), nullptr);
    QueueItem* a = Add("/a.mp3");
    EXPECT_EQ(QueueNext(nullptr), a);  // appending to an empty queue makes the first item
    QueueItem* c = Add("/c.mp3");
    QueueItem* b = Make("/b.mp3");
    EXPECT_EQ(QueueInsertAt(b, 1), 0);
    QueueItem* d = Make("/d.mp3");
    EXPECT_EQ(QueueInsertAt(d, 3), 0);  // index == count appends
    QueueItem* e = Make("/e.mp3");
    loose_.push_back(e);
    EXPECT_EQ(QueueInsertAt(e, 5), -1);  // one past the end
    EXPECT_EQ(QueueInsertAt(e, -1), -1);
    QueueItem* z = Make("/z.mp3");
    EXPECT_EQ(QueueInsertAt(z, 0), 0);
    EXPECT_EQ(Paths(), (std::vector<std::string>{"/z.mp3", "/a.mp3", "/b.mp3", "/c.mp3", "/d.mp3"}));

    EXPECT_EQ(QueueGetItem(2), b);
    EXPECT_EQ(QueueGetItem(5), nullptr);
    EXPECT_EQ(QueueGetItem(-1), nullptr);
    EXPECT_EQ(QueueIndexOf(d), 4);
    EXPECT_EQ(QueueIndexOf(e), -1);
    EXPECT_EQ(QueueFindByFile("/c.mp3"), c);
    EXPECT_EQ(QueueFindByFile("/C.mp3"), nullptr);
    EXPECT_EQ(QueueNext(d), nullptr);

    EXPECT_EQ(QueueRemove(z), 0);  // the first item
    EXPECT_EQ(QueueRemove(z), -1);  // no longer in the queue
    EXPECT_EQ(QueueRemove(e), -1);  // never was
    EXPECT_EQ(QueueRemove(d), 3);  // the last: a later append goes after c
    loose_.push_back(z);
    loose_.push_back(d);
    QueueItem* f = Add("/f.mp3");
    EXPECT_EQ(Paths(), (std::vector<std::string>{"/a.mp3", "/b.mp3", "/c.mp3", "/f.mp3"}));
    EXPECT_EQ(QueueCount(), 4);
    EXPECT_EQ(QueueIndexOf(f), 3);
}

TEST_F(QueueTest, FindByFilePassesOverItemsWithoutSource) {
    QueueItem* none = QueueNewItem(nullptr);
    ASSERT_EQ(QueueAppend(none), 0);
    QueueItem* a = Add("/a.wav");
    EXPECT_EQ(QueueFindByFile("/a.wav"), a);
    EXPECT_EQ(QueueFindByFile(nullptr), nullptr);
}

TEST_F(QueueTest, LinkedItemAndHeadCellRefused) {
    QueueItem* a = Add("/a.mp3");
    Add("/b.mp3");
    // A second link would make a cycle and every later walk would never end.
    EXPECT_EQ(QueueAppend(a), -1);
    EXPECT_EQ(QueueInsertAt(a, 2), -1);
    EXPECT_EQ(QueueAppend(nullptr), -1);
    EXPECT_EQ(QueueAppend(&GetQueueHead().cell), -1);
    EXPECT_EQ(QueueFreeItem(&GetQueueHead().cell), -1);
    EXPECT_EQ(Paths(), (std::vector<std::string>{"/a.mp3", "/b.mp3"}));
}

TEST_F(QueueTest, NoSlotLimit) {
    // A folder of a few hundred audio files goes in whole.
    for (int i = 0; i < 500; ++i) Add("/album/" + std::to_string(i) + ".flac");
    EXPECT_EQ(QueueCount(), 500);
    EXPECT_EQ(QueueItemsInUse(), baseline_ + 500);
    EXPECT_STREQ(QueueGetItem(499)->file, "/album/499.flac");
    EXPECT_EQ(QueueClear(), 0);
    EXPECT_EQ(QueueItemsInUse(), baseline_);
    EXPECT_EQ(QueueNext(nullptr), nullptr);
}

TEST_F(QueueTest, NonAudioLimit) {
    for (int i = 0; i < kQueueNonAudioLimit; ++i) Add("/v/" + std::to_string(i) + ".mkv");
    QueueItem* video = Make("/v/extra.avi");
    QueueItem* unknown = Make("/v/extra.bin");
    loose_.push_back(video);
    loose_.push_back(unknown);
    EXPECT_EQ(QueueAppend(video), -1);  // the 71st non-audio item
    EXPECT_EQ(QueueInsertAt(video, 0), -1);
    EXPECT_EQ(QueueAppend(unknown), -1);
    QueueItem* audio = Add("/a/song.mp3");  // audio is not limited
    EXPECT_EQ(QueueIndexOf(audio), kQueueNonAudioLimit);

    // Removing a video item makes room for one again.
    QueueItem* first = QueueGetItem(0);
    EXPECT_EQ(QueueRemove(first), 0);
    loose_.push_back(first);
    EXPECT_EQ(QueueInsertAt(video, 0), 0);
    loose_.erase(loose_.begin());
}

TEST_F(QueueTest, CloneOwnsItsOwnData) {
    QueueItem* item = Add("/src/a.mkv");
    SetStringField(&item->alias, "Alias");
    SetStringField(&item->tagTitle, "Title & <more>");
    item->audio = new AudioStreamInfo;
    item->audio->codec = DupString("AAC");
    item->audio->file = DupString("/src/a.aac");
    item->audio->next = new AudioStreamInfo;
    item->audio->next->id = 2;
    item->video = new VideoStreamInfo;
    item->video->codec = DupString("AVC");
    item->video->profile = DupString("High");
    item->segments = new QueueSegment{DupString("seg1"), new QueueSegment{DupString("seg2"), nullptr}};
    item->workBlock = std::malloc(64);
    item->statSamples = static_cast<ItemStatSample*>(std::calloc(4, sizeof(ItemStatSample)));
    item->statSampleCount = 4;
    item->flags |= kItemFlagClaimed | kItemFlagStarted | kItemFlagTestPhase | kItemFlagHasTags;
    item->duration = 1234;
    item->targetRatio = 0.5f;
    item->run.progress = 42.0f;
    Add("/src/b.mkv");

    QueueItem* clone = QueueCloneItem(item, "/src/c.mkv");
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(QueueItemsInUse(), baseline_ + 3);
    EXPECT_STREQ(clone->file, "/src/c.mkv");
    EXPECT_STREQ(item->file, "/src/a.mkv");
    EXPECT_STREQ(clone->alias, "Alias");
    EXPECT_NE(clone->alias, item->alias);
    EXPECT_NE(clone->tagTitle, item->tagTitle);
    ASSERT_NE(clone->audio, nullptr);
    EXPECT_NE(clone->audio, item->audio);
    EXPECT_STREQ(clone->audio->codec, "AAC");
    EXPECT_NE(clone->audio->codec, item->audio->codec);
    ASSERT_NE(clone->audio->next, nullptr);
    EXPECT_EQ(clone->audio->next->id, 2u);
    EXPECT_STREQ(clone->video->profile, "High");
    EXPECT_STREQ(clone->segments->next->text, "seg2");
    EXPECT_NE(clone->segments, item->segments);
    EXPECT_EQ(clone->duration, 1234);
    EXPECT_EQ(clone->targetRatio, 0.5f);
    // Nothing of the running job comes along.
    EXPECT_EQ(clone->next, nullptr);
    EXPECT_EQ(clone->workBlock, nullptr);
    EXPECT_EQ(clone->statSamples, nullptr);
    EXPECT_EQ(clone->audioTask.load(), nullptr);
    EXPECT_EQ(clone->run.progress.load(), 0.0f);
    EXPECT_EQ(clone->flags.load(), kItemFlagInUse | kItemFlagMadeByNew | kItemFlagHasTags);
    EXPECT_EQ(QueueIndexOf(clone), -1);

    // The clone can be linked, and both free without a double free (ASan watches).
    EXPECT_EQ(QueueAppend(clone), 0);
    EXPECT_EQ(QueueFreeItem(item), 0);  // linked: unlinked first
    EXPECT_EQ(Paths(), (std::vector<std::string>{"/src/b.mkv", "/src/c.mkv"}));
    EXPECT_EQ(QueueFreeItem(clone), 0);
    EXPECT_EQ(Paths(), (std::vector<std::string>{"/src/b.mkv"}));
    EXPECT_EQ(QueueCloneItem(nullptr, "/x"), nullptr);
}

TEST_F(QueueTest, RunningItemIsNotFreed) {
    QueueItem* running = Add("/a.mp3");
    Add("/b.mp3");
    static int fakeTask;
    running->audioTask = reinterpret_cast<AudioTask*>(&fakeTask);
    EXPECT_EQ(QueueFreeItem(running), -1);
    EXPECT_EQ(QueueClear(), 1);  // the running item stays; the other goes
    EXPECT_EQ(Paths(), (std::vector<std::string>{"/a.mp3"}));
    running->audioTask = nullptr;
    EXPECT_EQ(QueueClear(), 0);
    EXPECT_EQ(QueueCount(), 0);
}

TEST_F(QueueTest, JobDataReleaseRunsOnFree) {
    static std::vector<std::string> released;
    released.clear();
    SetQueueJobDataRelease([](QueueItem* item) { released.push_back(item->file); });
    Add("/a.mp3");
    QueueItem* loose = Make("/b.mp3");
    QueueFreeItem(loose);
    QueueClear();
    SetQueueJobDataRelease(nullptr);
    EXPECT_EQ(released, (std::vector<std::string>{"/b.mp3", "/a.mp3"}));
}

TEST_F(QueueTest, ClaimOnce) {
    QueueItem* item = Add("/a.mp3");
    EXPECT_TRUE(QueueClaimItem(item));
    EXPECT_FALSE(QueueClaimItem(item));
    EXPECT_TRUE(item->flags.load() & kItemFlagClaimed);
    item->flags &= ~kItemFlagClaimed;
    EXPECT_TRUE(QueueClaimItem(item));
    EXPECT_FALSE(QueueClaimItem(nullptr));
}

TEST_F(QueueTest, StringFieldsAndStates) {
    char* text = nullptr;
    SetStringField(&text, "one");
    EXPECT_STREQ(text, "one");
    SetStringField(&text, text);  // the old text itself
    EXPECT_STREQ(text, "one");
    SetStringField(&text, nullptr);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(DupString(nullptr), nullptr);

    const char* texts[] = {"Ready",    "Done",     "Skipped",  "Encoding",  "Paused",
                           "Splitting", "Stopping", "Skipping", "Finishing", "Error"};
    for (uint32_t s = 0; s < 10; ++s) EXPECT_STREQ(ItemStateText(s), texts[s]);
    EXPECT_STREQ(ItemStateText(10), "");
}

TEST_F(QueueTest, HeadCellDefaults) {
    QueueHead& head = GetQueueHead();
    EXPECT_EQ(head.cell.inputType, UnknownInputRow());
    QueueHeadRelease();
    EXPECT_EQ(head.cell.audio, nullptr);
    QueueHeadInit();
    ASSERT_NE(head.cell.audio, nullptr);
    EXPECT_EQ(head.cell.audio->samplerate, 44100u);
    EXPECT_EQ(head.cell.audio->channels, 2u);
    EXPECT_EQ(head.cell.audio->samplebits, 16u);
    EXPECT_STREQ(head.cell.audio->codec, "");
    ASSERT_NE(head.cell.video, nullptr);
    EXPECT_EQ(head.cell.video->width, 0u);
    EXPECT_STREQ(head.cell.video->codec, "");
}

}  // namespace

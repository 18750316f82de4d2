#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/queue/queue.h"
#include "engine/queue/queuefile.h"
#include "support/pref_builder.h"
#include "support/tempdir.h"

namespace {

// Several threads append and insert, remove and free, walk, save, and claim items as workers do;
// every item is claimed at most once, nothing is freed from under a running job, and the counts
// stay consistent with the list.
TEST(QueueThreadsTest, AppendRemoveWalkAndClaim) {
    sqtest::PrefBuilder prefs(GetPrefStore());
    prefs.Add("overall.task.removeDone", kPrefBool, "0");
    sqtest::TempDir dir;
    QueueClear();
    const int baseline = QueueItemsInUse();

    constexpr int kAdders = 2;
    constexpr int kPerAdder = 1500;
    constexpr int kWorkers = 3;
    std::atomic<int> addersLeft{kAdders};
    std::atomic<bool> inconsistent{false};
    static int taskToken;
    AudioTask* const task = reinterpret_cast<AudioTask*>(&taskToken);

    std::vector<std::thread> threads;
    for (int a = 0; a < kAdders; ++a) {
        threads.emplace_back([a, &addersLeft] {
            for (int i = 0; i < kPerAdder; ++i) {
                std::string path = "/t/" + std::to_string(a) + "-" + std::to_string(i) + ".mp3";
                QueueItem* item = QueueNewItem(path.c_str());
                int result = (i % 4 == 0) ? QueueInsertAt(item, i % 7) : QueueAppend(item);
                if (result != 0) result = QueueAppend(item);  // the index was past the end
                if (result != 0) QueueFreeItem(item);
            }
            addersLeft.fetch_sub(1);
        });
    }
    // Removes and frees items; a running item is refused and goes back in.
    threads.emplace_back([&addersLeft] {
        for (int round = 0; round < 4000 && (addersLeft.load() > 0 || round < 200); ++round) {
            QueueLockGuard lock;
            QueueItem* item = QueueGetItem(round % 11);
            if (!item) continue;
            if (QueueRemove(item) < 0) continue;
            if (QueueFreeItem(item) != 0) QueueAppend(item);
        }
    });
    // Workers: walk under the lock, claim, run the job outside it, release.
    std::vector<std::vector<std::string>> claimed(kWorkers);
    for (int w = 0; w < kWorkers; ++w) {
        threads.emplace_back([w, task, &claimed, &addersLeft] {
            for (int round = 0; round < 400 && (addersLeft.load() > 0 || round < 20); ++round) {
                QueueItem* job = nullptr;
                {
                    QueueLockGuard lock;
                    for (QueueItem* item = QueueNext(nullptr); item; item = QueueNext(item)) {
                        if (QueueClaimItem(item)) {
                            item->audioTask = task;
                            job = item;
                            break;
                        }
                    }
                }
                if (!job) {
                    std::this_thread::yield();
                    continue;
                }
                claimed[w].push_back(job->file);
                job->state = static_cast<uint32_t>(kItemEncoding);
                job->run.progress = 50.0f;
                job->state = static_cast<uint32_t>(kItemDone);
                job->audioTask = nullptr;  // the last touch of the job
            }
        });
    }
    // Walks and checks that the list and its count agree; saves the queue now and then.
    threads.emplace_back([&dir, &addersLeft, &inconsistent] {
        const std::string path = dir.file("queue.xml");
        for (int round = 0; round < 300 && (addersLeft.load() > 0 || round < 10); ++round) {
            {
                QueueLockGuard lock;
                int walked = 0;
                for (QueueItem* item = QueueNext(nullptr); item; item = QueueNext(item)) {
                    if (QueueIndexOf(item) != walked) inconsistent = true;
                    ++walked;
                }
                if (walked != QueueCount()) inconsistent = true;
            }
            if (round % 50 == 0 && SaveQueueFile(path.c_str()) < 0) inconsistent = true;
        }
    });
    for (std::thread& t : threads) t.join();

    EXPECT_FALSE(inconsistent.load());
    std::vector<std::string> all;
    for (const auto& list : claimed) all.insert(all.end(), list.begin(), list.end());
    EXPECT_FALSE(all.empty());
    std::set<std::string> unique(all.begin(), all.end());
    EXPECT_EQ(unique.size(), all.size()) << "an item was claimed twice";
    EXPECT_EQ(QueueItemsInUse(), baseline + QueueCount());  // nothing made and lost
    EXPECT_EQ(QueueClear(), 0);
    EXPECT_EQ(QueueItemsInUse(), baseline);
}

// Cloning a queued item while other threads link and unlink items beside it: the copy is taken
// under the queue lock, so it never reads a link word that another thread is writing.
TEST(QueueThreadsTest, CloneWhileNeighboursChange) {
    QueueClear();
    const int baseline = QueueItemsInUse();
    QueueItem* original = QueueNewItem("/t/template.cue");
    SetStringField(&original->alias, "template");
    ASSERT_EQ(QueueAppend(original), 0);

    std::atomic<bool> cloning{true};
    std::thread changer([&cloning] {
        for (int round = 0; round < 20000 && (cloning.load() || round < 100); ++round) {
            QueueItem* item = QueueNewItem("/t/after.mp3");
            QueueAppend(item);  // linked right after the original
            QueueFreeItem(item);
        }
    });
    int sound = 0;
    for (int i = 0; i < 2000; ++i) {
        QueueItem* clone = QueueCloneItem(original, "/t/track.mp3");
        if (clone && !clone->next && clone->alias && std::string(clone->alias) == "template") ++sound;
        QueueFreeItem(clone);
    }
    cloning = false;
    changer.join();
    EXPECT_EQ(sound, 2000);
    EXPECT_EQ(QueueClear(), 0);
    EXPECT_EQ(QueueItemsInUse(), baseline);
}

}  // namespace

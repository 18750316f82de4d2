#include "common/xml.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/tempdir.h"

namespace {

// Threads that all start with their first Lock must still exclude each other, and the lock is
// re-entrant for its owner.
TEST(XmlLock, FirstLocksExcludeEachOther) {
    CXML xml;
    xml.New("1.0", "r");
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < 200; ++i) {
                xml.Lock();
                xml.Lock();  // re-entrant
                if (inside.fetch_add(1) != 0) overlap = true;
                xml.goRoot();
                xml.addChild("n", t * 1000 + i);
                inside.fetch_sub(1);
                xml.Unlock();
                xml.Unlock();
            }
        });
    }
    go = true;
    for (auto& th : threads) th.join();
    EXPECT_FALSE(overlap.load());
    xml.goRoot();
    EXPECT_EQ(xml.getChildCount(), 800);
}

// Saves of one file from several threads share its one temporary name: they take turns, every
// save succeeds, and the file is always one of the saved documents, whole.
TEST(XmlSafeSaveThreads, SavesOfOneFileTakeTurns) {
    sqtest::TempDir dir;
    const std::string target = dir.file("queue.xml");
    constexpr int kThreads = 4, kSaves = 25, kItems = 2000;
    std::atomic<int> failures{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CXML xml;
            xml.New("1.0", "queue");
            xml.setAttribute("by", t);
            for (int i = 0; i < kItems; ++i) xml.addTextChild("item", "some text to make the file longer");
            for (int i = 0; i < kSaves; ++i) {
                if (SaveXmlFileSafely(xml, target.c_str()) <= 0) ++failures;
            }
        });
    }
    // A reader meanwhile always finds a whole document from one of the writers.
    std::thread reader([&] {
        while (!stop.load()) {
            CXML back;
            if (back.Open(target.c_str()) != 0) continue;  // not written yet
            if (!back.goToKey("/queue/item", kItems - 1) || back.goToKey("/queue/item", kItems)) ++failures;
        }
    });
    for (auto& th : threads) th.join();
    stop = true;
    reader.join();
    EXPECT_EQ(failures.load(), 0);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"queue.xml"});
}

}  // namespace

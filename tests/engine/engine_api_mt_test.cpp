#include "engine/engine_api.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine/prefs/prefstore.h"
#include "platform/msgbox.h"

namespace {

constexpr const char* kDefinitions = R"(<QuorvexPrefs>
 <node type="node" key="overall">
  <node type="node" key="task">
   <node type="int" key="parallelize" min="1" max="8"><value>1</value></node>
   <node type="dir" key="destdir"/>
   <node type="float" key="ratio"><value>1.0</value></node>
  </node>
 </node>
</QuorvexPrefs>)";

// The user interface, a worker and the HTTP thread use the flat functions at once: preference
// reads and writes of numbers and texts, and queue changes and walks.
TEST(EngineApiThreads, PreferencesAndQueueFromSeveralThreads) {
    ASSERT_EQ(LoadPrefDefinitions(true, kDefinitions, 0, "QuorvexPrefs"), 0);
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;

    threads.emplace_back([&] {  // writer of numbers and texts
        for (int i = 0; i < 2000; ++i) {
            SetPrefInt("overall.task.parallelize", 1 + i % 8);
            SetPrefString("overall.task.destdir", ("/out/" + std::to_string(i) + "/").c_str());
            SetPrefFromText("overall.task.ratio", i % 2 ? "0.5" : "2");
        }
        stop = true;
    });
    for (int r = 0; r < 2; ++r) {
        threads.emplace_back([&] {  // readers
            size_t seen = 0;
            while (!stop) {
                int n = GetPrefInt("overall.task.parallelize");
                EXPECT_TRUE(n >= 1 && n <= 8);
                const char* dir = GetPrefString("overall.task.destdir");
                seen += std::string(dir).size();
                float f = GetPrefFloat("overall.task.ratio");
                EXPECT_TRUE(f == 0.5f || f == 2.0f || f == 1.0f);
            }
            EXPECT_GT(seen + 1, 0u);
        });
    }
    for (int w = 0; w < 3; ++w) {
        threads.emplace_back([&, w] {  // queue users
            for (int i = 0; i < 300; ++i) {
                std::string path = "/in/" + std::to_string(w) + "/" + std::to_string(i) + ".wav";
                QueueItem* item = QueueNewItem(path.c_str());
                ASSERT_NE(item, nullptr);
                ASSERT_EQ(QueueAppend(item), 0);
                EXPECT_EQ(QueueFindByFile(path.c_str()), item);
                SetItemState(item, kItemDone);
                if (i % 2) {
                    EXPECT_GE(QueueRemove(item), 0);
                    QueueFreeItem(item);
                }
                GetItemState(nullptr);
            }
        });
    }
    threads.emplace_back([&] {  // a setter of the wrong type on a worker: logged, never blocks
        for (int i = 0; i < 50; ++i) SetPrefString("overall.task.parallelize", "x");
    });
    for (auto& t : threads) t.join();
    EXPECT_EQ(QueueCount(), 3 * 150);
    QueueClear();
    EXPECT_EQ(QueueCount(), 0);
    GetPrefStore().Clear();
}

}  // namespace

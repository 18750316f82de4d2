#include "engine/prefs/prefstore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/pref_builder.h"

namespace {

// Readers use string and numeric values while a writer replaces them. Every string a reader
// holds must stay readable and be one of the texts written; numbers are never torn.
TEST(PrefStoreThreads, ReadersAndAWriter) {
    PrefStore store;
    sqtest::PrefBuilder b(store);
    b.Add("overall.ui.caption", kPrefString, "start");
    b.Add("overall.task.count", kPrefInt, "0");
    b.Add("overall.audio.gain", kPrefFloat, "0");
    b.Add("overall.audio.mode", kPrefEnum, "a", {"a", "b", "c"});

    const std::string texts[] = {"short", "a considerably longer text value", "x"};
    std::atomic<bool> stop{false};
    std::atomic<long> bad{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r) {
        readers.emplace_back([&] {
            while (!stop.load(std::memory_order_relaxed)) {
                const char* s = store.GetString("overall.ui.caption");
                std::string copy = s;  // reads the whole buffer
                if (!copy.empty() && copy.back() == '!') copy.pop_back();
                bool known = copy == "start";
                for (const auto& t : texts) known = known || copy == t;
                int n = store.GetInt("overall.task.count");
                float g = store.GetFloat("overall.audio.gain");
                std::string mode = store.GetValueText("overall.audio.mode");
                PrefOption rows[] = {{"overall.ui.caption", "-c "}, {"overall.task.count", "-n"}, {nullptr, nullptr}};
                std::string fragment = store.AppendOptions(rows, ' ');
                bool ok = known && n >= 0 && n % 2 == 0 && g >= 0.0f && g < 1000.0f && g == static_cast<int>(g) &&
                          (mode == "a" || mode == "b" || mode == "c") && fragment.rfind(" -c ", 0) == 0;
                if (!ok) bad.fetch_add(1);
            }
        });
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    int i = 0;
    while (std::chrono::steady_clock::now() < until) {
        store.SetString("overall.ui.caption", texts[i % 3].c_str());
        store.SetInt("overall.task.count", (i % 1000) * 2);
        store.SetFloat("overall.audio.gain", static_cast<float>(i % 1000));
        store.SetFromText("overall.audio.mode", (i % 2) ? "b" : "c");
        store.ApplyRelative(store.FindNode("overall.ui.caption"), "~+!");
        ++i;
    }
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_GT(i, 0);
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace

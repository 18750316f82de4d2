#include "engine/prefs/preffiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/prefs/prefstore.h"
#include "support/tempdir.h"

namespace {

std::string Fixture(const char* name) { return std::string(SQ_TEST_DATA_DIR) + "/prefs/" + name; }

// Presets, reverts, saves and exports run on different threads against the one working document
// while readers use the values: none of them may see the document half-replaced.
TEST(PrefFilesThreads, LoadsSavesAndExportsOverlap) {
    ASSERT_EQ(LoadPrefDefinitions(false, Fixture("defs.xml").c_str(), 0, "QuorvexPrefs"), 0);
    PrefStore& store = GetPrefStore();
    sqtest::TempDir dir;
    const std::string preset = Fixture("values_flat.xml");
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        while (std::chrono::steady_clock::now() < until) {
            if (LoadPreset(preset.c_str(), nullptr, false) != 0) ++failures;
            RevertPrefs();
        }
    });
    threads.emplace_back([&] {
        std::string out = dir.file("prefs.xml");
        while (std::chrono::steady_clock::now() < until) {
            if (SavePrefs(out.c_str(), nullptr) != 0) ++failures;
        }
    });
    threads.emplace_back([&] {
        while (std::chrono::steady_clock::now() < until) {
            char* text = nullptr;
            if (store.ExportXml(&text, "overall", false, nullptr, 1 | 16, -1) <= 0) ++failures;
            std::free(text);
            if (LoadPrefsFile("<r><node key='overall.ui.mode'>2</node></r>", 0, nullptr) != 0) ++failures;
        }
    });
    threads.emplace_back([&] {
        while (!stop.load()) {
            std::string caption = store.GetString("overall.ui.caption");
            if (caption != "Sonquill" && caption != "Mine") ++failures;
            (void)store.GetFloat("audio.gain");
            (void)store.GetValueText("overall.task.mode");
        }
    });
    for (size_t i = 0; i < 3; ++i) threads[i].join();
    stop = true;
    threads[3].join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace

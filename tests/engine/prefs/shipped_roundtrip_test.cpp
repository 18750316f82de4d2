// The shipped definitions, every shipped values file and a user's prefs.xml: saved and loaded
// again, every key comes back with the same value.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "support/tempdir.h"

namespace {

const std::string kData = std::string(SQ_OUT_DIR) + "/";

void Collect(PrefStore& store, const PrefNode& node, const std::string& prefix, std::map<std::string, std::string>& out) {
    for (const auto& child : node.children) {
        const std::string key = prefix.empty() ? child->key : prefix + "." + child->key;
        if (child->IsValue()) out[key] = store.NodeValueText(child.get());
        else Collect(store, *child, key, out);
    }
}

std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> values;
    PrefStore& store = GetPrefStore();
    Collect(store, store.root, "", values);
    return values;
}

void LoadShipped() {
    ASSERT_EQ(LoadPrefDefinitions(false, (kData + "qxcore.xml").c_str(), 0, "QuorvexPrefs"), 0);
    for (const char* name : {"qxcore64.xml", "defaults.xml", "wine.xml", "sonquill.xml"})
        ASSERT_EQ(LoadPreset((kData + name).c_str(), nullptr, false), 0) << name;
}

TEST(ShippedRoundTrip, EveryKeyKeepsItsValueThroughASavedUserFile) {
    sqtest::TempDir dir;
    LoadShipped();
    PrefStore& store = GetPrefStore();

    // The user's own choices, with text that XML and command lines find hostile.
    store.SetInt("overall.task.parallelize", 3);
    store.SetString("overall.task.destdir", "/home/ü & <me>/\"out\" 'x'\t$(HOME);`id`/");
    store.SetString("overall.automation.fileNameFormat", "$(Artist) - $(Title) \x01\x1f end");
    store.SetFromText("overall.audio.encoder", "Opus");
    store.SetFloat("audiofilter.volume.gain", 1.25f);

    const auto before = Snapshot();
    ASSERT_GT(before.size(), 250u);
    ASSERT_EQ(before.at("overall.task.parallelize"), "3");
    ASSERT_EQ(before.at("overall.audio.encoder"), "Opus");
    ASSERT_EQ(before.at("audiofilter.volume.gain"), "1.250000");
    const std::string prefs = dir.file("prefs.xml");
    ASSERT_EQ(SavePrefs(prefs.c_str(), nullptr), 0);

    store.Clear();
    LoadShipped();
    ASSERT_EQ(LoadPreset(prefs.c_str(), nullptr, false), 0);
    auto after = Snapshot();

    // Characters XML cannot hold are dropped, nothing else.
    auto& pattern = before.at("overall.automation.fileNameFormat");
    EXPECT_EQ(after.at("overall.automation.fileNameFormat"), "$(Artist) - $(Title)  end");
    after["overall.automation.fileNameFormat"] = pattern;
    for (const auto& [key, value] : before) EXPECT_EQ(after[key], value) << key;
    EXPECT_EQ(after.size(), before.size());
    store.Clear();
}

}  // namespace

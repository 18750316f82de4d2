// Key lookup and typed reads by dotted key on a tree of realistic size (about 40 branches of
// 25 leaves each, as the shipped definitions have).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/prefs/prefstore.h"

namespace {

PrefNode* AddNode(PrefNode* parent, const std::string& key, PrefType type) {
    parent->children.push_back(std::make_unique<PrefNode>());
    PrefNode* n = parent->children.back().get();
    n->key = key;
    n->type = type;
    return n;
}

struct Tree {
    Tree() {
        store.root.key = "QuorvexPrefs";
        for (int branch = 0; branch < 40; ++branch) {
            PrefNode* group = AddNode(&store.root, "group" + std::to_string(branch), kPrefNode);
            PrefNode* section = AddNode(group, "section", kPrefNode);
            for (int leaf = 0; leaf < 25; ++leaf) {
                std::string base = "key" + std::to_string(leaf);
                store.SetNodeFromText(AddNode(section, base + "i", kPrefInt), "7");
                store.SetNodeFromText(AddNode(section, base + "s", kPrefString), "some text");
                store.SetNodeFromText(AddNode(section, base + "f", kPrefFloat), "1.5");
            }
        }
    }
    PrefStore store;
};

Tree& SharedTree() {
    static Tree tree;
    return tree;
}

void BM_FindNodeLast(benchmark::State& state) {
    PrefStore& s = SharedTree().store;
    for (auto _ : state) benchmark::DoNotOptimize(s.FindNode("group39.section.key24f"));
}
BENCHMARK(BM_FindNodeLast);

void BM_FindNodeFirst(benchmark::State& state) {
    PrefStore& s = SharedTree().store;
    for (auto _ : state) benchmark::DoNotOptimize(s.FindNode("group0.section.key0i"));
}
BENCHMARK(BM_FindNodeFirst);

void BM_GetInt(benchmark::State& state) {
    PrefStore& s = SharedTree().store;
    for (auto _ : state) benchmark::DoNotOptimize(s.GetInt("group20.section.key12i"));
}
BENCHMARK(BM_GetInt);

void BM_GetString(benchmark::State& state) {
    PrefStore& s = SharedTree().store;
    for (auto _ : state) benchmark::DoNotOptimize(s.GetString("group20.section.key12s"));
}
BENCHMARK(BM_GetString);

void BM_GetFloatSlashed(benchmark::State& state) {
    PrefStore& s = SharedTree().store;
    for (auto _ : state) benchmark::DoNotOptimize(s.GetFloat("group20/section/key12f"));
}
BENCHMARK(BM_GetFloatSlashed);

void BM_GetValueText(benchmark::State& state) {
    PrefStore& s = SharedTree().store;
    for (auto _ : state) benchmark::DoNotOptimize(s.GetValueText("group20.section.key12f"));
}
BENCHMARK(BM_GetValueText);

}  // namespace

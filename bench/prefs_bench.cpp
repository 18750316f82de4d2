// Key lookup and typed reads by dotted key, against the target of 10 M lookups per second for any
// key: on a loaded tree of about 40 branches of 75 leaves each (wider than the shipped one), and on
// the shipped definitions, every key in turn. "x_target" is lookups per second / 10 M.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/prefs/prefstore.h"

namespace {

constexpr double kTargetLookups = 10e6;

// The definitions text of the wide tree: group<n>.section.key<k>{i,s,f}.
std::string WideDefinitions() {
    std::string xml = "<QuorvexPrefs>";
    for (int branch = 0; branch < 40; ++branch) {
        xml += "<node type=\"node\" key=\"group" + std::to_string(branch) + "\"><node type=\"node\" key=\"section\">";
        for (int leaf = 0; leaf < 25; ++leaf) {
            const std::string base = "key" + std::to_string(leaf);
            xml += "<node type=\"int\" key=\"" + base + "i\"><value>7</value></node>";
            xml += "<node type=\"string\" key=\"" + base + "s\"><value>some text</value></node>";
            xml += "<node type=\"float\" key=\"" + base + "f\"><value>1.5</value></node>";
        }
        xml += "</node></node>";
    }
    return xml + "</QuorvexPrefs>";
}

PrefStore& WideTree() {
    static PrefStore* store = [] {
        auto* s = new PrefStore;
        const std::string xml = WideDefinitions();
        s->LoadDefinitionsBuffer(xml.c_str(), static_cast<int>(xml.size()), "QuorvexPrefs");
        return s;
    }();
    return *store;
}

// Lookups per second over the loop that began at start, and that rate / the target.
void CountLookups(benchmark::State& state, std::chrono::steady_clock::time_point start) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double rate = seconds > 0 ? static_cast<double>(state.iterations()) / seconds : 0;
    state.counters["lookups_per_s"] = rate;
    state.counters["x_target"] = rate / kTargetLookups;
}

void BM_FindNodeDeepestLast(benchmark::State& state) {
    PrefStore& s = WideTree();
    if (!s.FindNode("group39.section.key24f")) state.SkipWithError("key missing");
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(s.FindNode("group39.section.key24f"));
    CountLookups(state, start);
}
BENCHMARK(BM_FindNodeDeepestLast);

void BM_FindNodeFirst(benchmark::State& state) {
    PrefStore& s = WideTree();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(s.FindNode("group0.section.key0i"));
    CountLookups(state, start);
}
BENCHMARK(BM_FindNodeFirst);

void BM_GetInt(benchmark::State& state) {
    PrefStore& s = WideTree();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(s.GetInt("group20.section.key12i"));
    CountLookups(state, start);
}
BENCHMARK(BM_GetInt);

void BM_GetString(benchmark::State& state) {
    PrefStore& s = WideTree();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(s.GetString("group20.section.key12s"));
    CountLookups(state, start);
}
BENCHMARK(BM_GetString);

void BM_GetFloatSlashed(benchmark::State& state) {
    PrefStore& s = WideTree();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(s.GetFloat("group20/section/key12f"));
    CountLookups(state, start);
}
BENCHMARK(BM_GetFloatSlashed);

void BM_GetValueText(benchmark::State& state) {
    PrefStore& s = WideTree();
    for (auto _ : state) benchmark::DoNotOptimize(s.GetValueText("group20.section.key12f"));
}
BENCHMARK(BM_GetValueText);

// A missing key is still answered by walking the levels.
void BM_FindNodeMissing(benchmark::State& state) {
    PrefStore& s = WideTree();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(s.FindNode("group39.section.nothere"));
    CountLookups(state, start);
}
BENCHMARK(BM_FindNodeMissing);

// Every key of the shipped definitions in turn, as the engine and the interface read them.
void BM_ShippedEveryKey(benchmark::State& state) {
    static PrefStore store;
    static std::vector<std::string> keys;
    if (keys.empty()) {
        std::ifstream in(std::string(SQ_OUT_DIR) + "/qxcore.xml", std::ios::binary);
        const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (store.LoadDefinitionsBuffer(xml.c_str(), static_cast<int>(xml.size()), "QuorvexPrefs") != 0) {
            state.SkipWithError("shipped definitions missing");
            return;
        }
        std::vector<std::pair<const PrefNode*, std::string>> todo = {{&store.root, ""}};
        while (!todo.empty()) {
            auto [node, prefix] = todo.back();
            todo.pop_back();
            for (const auto& c : node->children) {
                const std::string key = prefix + c->key;
                if (c->IsValue()) keys.push_back(key);
                todo.push_back({c.get(), key + "."});
            }
        }
    }
    size_t i = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.FindNode(keys[i].c_str()));
        if (++i == keys.size()) i = 0;
    }
    state.counters["keys"] = static_cast<double>(keys.size());
    CountLookups(state, start);
}
BENCHMARK(BM_ShippedEveryKey);

}  // namespace

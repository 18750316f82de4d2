// Values and preset files of any bytes over definitions of every node type: the first byte picks
// the road (a buffer, or a preset file through LoadPreset), the values are saved and read back,
// and the saved file must read back to the same numbers, and to the same values from then on.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/xml.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"

namespace {

const char kDefinitions[] =
    "<QuorvexPrefs><node type=\"node\" key=\"t\">"
    "<node type=\"int\" key=\"int\" min=\"-5\" max=\"500\"><value>5</value></node>"
    "<node type=\"bool\" key=\"bool\"><value>true</value></node>"
    "<node type=\"float\" key=\"float\"><value>1.5</value></node>"
    "<node type=\"string\" key=\"str\" max=\"32\"/>"
    "<node type=\"file\" key=\"file\"/><node type=\"dir\" key=\"dir\"/>"
    "<node type=\"enum\" key=\"enum\"><enum>a|b|c</enum><value>a</value></node>"
    "<node type=\"node\" key=\"sub\"><node type=\"int\" key=\"n\"><value>1</value></node></node>"
    "</node></QuorvexPrefs>";

const char* const kKeys[] = {"t.int", "t.bool", "t.float", "t.str", "t.file", "t.dir", "t.enum", "t.sub.n"};

std::string TempName(const char* what) {
    return "/tmp/sq-prefs-fuzz-" + std::to_string(getpid()) + "-" + what + ".xml";
}

// Every value; with numbers only, the numeric values (text values may lose bytes XML cannot hold
// on their first save, never afterwards, and so may the numbers read from those texts).
std::string Snapshot(bool numbersOnly) {
    PrefStore& store = GetPrefStore();
    std::string all;
    for (const char* key : kKeys) {
        const std::string name = key;
        const bool text = name == "t.str" || name == "t.file" || name == "t.dir";
        if (numbersOnly && text) continue;
        const char* s = store.GetString(key);
        // A boolean keeps its truth, not its number: "2" reads as 2 and is saved as "true".
        const int64_t number = name == "t.bool" ? store.GetInt(key) != 0 : store.GetInt(key);
        all += name + "=" + (numbersOnly || !s ? "" : s) + ";" + std::to_string(number) + "\n";
    }
    return all;
}

// Saves the values and loads them back over fresh definitions.
void RoundTrip(const std::string& saved) {
    if (SavePrefs(saved.c_str(), nullptr) != 0) abort();
    LoadPrefDefinitions(true, kDefinitions, sizeof kDefinitions - 1, "QuorvexPrefs");
    if (LoadPreset(saved.c_str(), nullptr, false) != 0) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        CXML::Init();
        return LoadPrefDefinitions(true, kDefinitions, sizeof kDefinitions - 1, "QuorvexPrefs") == 0;
    }();
    if (!ready || size == 0) return 0;
    static const std::string input = TempName("in"), saved = TempName("saved");
    PrefStore& store = GetPrefStore();
    LoadPrefDefinitions(true, kDefinitions, sizeof kDefinitions - 1, "QuorvexPrefs");
    // NUL-terminated: a length of 0 means "up to the NUL" to the buffer reader.
    const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* text = body.c_str();
    const int length = static_cast<int>(body.size());
    if (data[0] & 1) {
        if (FILE* f = std::fopen(input.c_str(), "wb")) {
            std::fwrite(text, 1, static_cast<size_t>(length), f);
            std::fclose(f);
        }
        LoadPreset(input.c_str(), nullptr, false);
    } else {
        store.LoadValuesBuffer(text, length, nullptr, nullptr);
    }
    const std::string numbers = Snapshot(true);
    RoundTrip(saved);
    if (Snapshot(true) != numbers) abort();
    const std::string once = Snapshot(false);
    RoundTrip(saved);
    if (Snapshot(false) != once) abort();
    std::remove(saved.c_str());
    return 0;
}

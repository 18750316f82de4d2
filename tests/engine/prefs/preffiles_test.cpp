#include "engine/prefs/preffiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/xml.h"
#include "engine/engine_init.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/inputtype.h"
#include "support/tempdir.h"

namespace {

std::string Fixture(const char* name) { return std::string(SQ_TEST_DATA_DIR) + "/prefs/" + name; }

// Every leaf of the tree by full key, as value text.
std::map<std::string, std::string> Snapshot(PrefStore& store) {
    std::map<std::string, std::string> out;
    std::function<void(const PrefNode&, const std::string&)> walk = [&](const PrefNode& n, const std::string& key) {
        for (const auto& c : n.children) {
            std::string k = key.empty() ? c->key : key + "." + c->key;
            if (c->IsValue()) out[k] = store.NodeValueText(c.get());
            walk(*c, k);
        }
    };
    walk(store.root, "");
    return out;
}

class PrefFilesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(LoadPrefDefinitions(false, Fixture("defs.xml").c_str(), 0, "QuorvexPrefs"), 0); }
    PrefStore& store = GetPrefStore();
};

TEST_F(PrefFilesTest, BuildTree) {
    EXPECT_EQ(store.root.key, "QuorvexPrefs");
    EXPECT_EQ(store.root.type, kPrefTop);
    EXPECT_EQ(store.root.description, "Test preferences");
    EXPECT_EQ(store.FindNode("overall")->description, "General settings");
    PrefNode* mode = store.FindNode("overall.task.mode");
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->label, "Task mode");
    EXPECT_EQ(mode->description, "What a batch does");
    EXPECT_EQ(mode->OptionCount(), 3);  // "a|b" plus "c"
    EXPECT_EQ(store.FindNode("overall.task.broken")->OptionCount(), 1);  // an empty option ends the list
    EXPECT_EQ(store.GetInt("overall.task.picked"), 1);                   // sel
    EXPECT_TRUE(store.IsDefault(store.FindNode("overall.task.picked")));
    EXPECT_EQ(store.GetInt("overall.task.twice"), 4);                    // the last value wins
    EXPECT_EQ(store.FindNode("overall.task.loops")->min, static_cast<int16_t>(-40000));  // 16 bits kept
    EXPECT_EQ(store.FindNode("overall.task.loops")->max, 100u);
    EXPECT_EQ(store.FindNode("overall.task.name")->max, 260u);           // max 0 on a string
    EXPECT_EQ(store.FindNode("overall.task.empty")->max, 12u);
    EXPECT_EQ(store.FindNode("overall.task.empty")->label, "");          // empty attributes are absent
    EXPECT_EQ(store.FindNode("overall.generic.keep")->flags, kPrefNoSave);  // nosave wins over norevert
    EXPECT_EQ(store.FindNode("overall.generic.guard")->flags, kPrefNoRevert);
    EXPECT_NE(store.FindNode("after.one"), nullptr);
    EXPECT_EQ(store.FindNode("after.hidden"), nullptr);   // after a non-node element
    EXPECT_EQ(store.FindNode("gone"), nullptr);           // unknown type ends the list
    EXPECT_EQ(store.FindNode("unreachable"), nullptr);
    EXPECT_FLOAT_EQ(store.GetFloat("audio.scale"), 1.5f);
    std::string temp = store.GetString("overall.task.tempdir");  // the machine's temporary folder
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), '/');
    EXPECT_TRUE(std::filesystem::is_directory(temp));
    EXPECT_EQ(LoadPrefDefinitions(false, Fixture("missing.xml").c_str(), 0, "QuorvexPrefs"), -1);
}

// Defaults that depend on the machine are set after the definitions (the engine's ones by its
// start-up) and come back on revert.
TEST_F(PrefFilesTest, MachineDefaults) {
    SetEngineDefaults();
    const std::string types = BuildFileTypesDefault();
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(store.GetString("overall.generic.fileTypes"), types);
    EXPECT_TRUE(store.IsDefault(store.FindNode("overall.generic.fileTypes")));
    EXPECT_STREQ(store.GetString("videosrc.avisynth.path"), "");  // no AviSynth beside the program
    store.SetString("overall.generic.fileTypes", "mp3");
    RevertPrefs();
    EXPECT_EQ(store.GetString("overall.generic.fileTypes"), types);

    // With the AviSynth library in the program's codecs folder, that folder is the default. No
    // engine runs here, so the program folder is the working folder.
    ASSERT_EQ(EngineAppPath(), "");
    sqtest::TempDir dir;
    dir.write("codecs/avisynth.dll", "");
    struct Cwd {
        std::filesystem::path saved = std::filesystem::current_path();
        ~Cwd() { std::filesystem::current_path(saved); }
    } cwd;
    std::filesystem::current_path(dir.path());
    ASSERT_EQ(LoadPrefDefinitions(false, Fixture("defs.xml").c_str(), 0, "QuorvexPrefs"), 0);
    SetEngineDefaults();
    EXPECT_STREQ(store.GetString("videosrc.avisynth.path"), "codecs/");
}

TEST_F(PrefFilesTest, FlatNestedAndMixedValuesAgree) {
    std::map<std::string, std::string> results[3];
    const char* files[] = {"values_flat.xml", "values_nested.xml", "values_mixed.xml"};
    for (int i = 0; i < 3; ++i) {
        SetUp();
        ASSERT_EQ(LoadPreset(Fixture(files[i]).c_str(), nullptr, false), 0) << files[i];
        results[i] = Snapshot(store);
    }
    EXPECT_EQ(results[0]["overall.task.mode"], "Rename/copy");
    EXPECT_EQ(results[0]["overall.task.loops"], "7");
    EXPECT_EQ(results[0]["overall.ui.caption"], "Mine");
    EXPECT_EQ(results[0]["audio.gain"], "-2.500000");
    EXPECT_EQ(results[0]["audio.enabled"], "false");
    EXPECT_EQ(results[0]["audio.options"], "-q 2");
    EXPECT_EQ(results[0]["audio.scale"], "1.500000");
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], results[2]);
}

TEST_F(PrefFilesTest, ApplyValuesRules) {
    struct Case {
        const char* xml;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"<r><node key='overall.task.loops' value='5'>6<value>7</value></node></r>", "overall.task.loops", "5"},
        {"<r><node key='overall.task.loops'>6<value>7</value></node></r>", "overall.task.loops", "6"},
        {"<r><node key='overall.task.loops'><value>7</value><value>8</value></node></r>", "overall.task.loops", "8"},
        {"<r><node key='overall.task.loops'/></r>", "overall.task.loops", "1"},       // resets
        {"<r><node key='overall.task.loops' value='~+1'><value>~+1</value></node></r>", "overall.task.loops", "100"},
        {"<r><node key='overall.ui.caption'>  lead</node></r>", "overall.ui.caption", "lead"},
        {"<r><node key='overall'><node key='ui'><node key='mode'>3</node></node></node></r>", "overall.ui.mode", "3"},
        {"<r><item key='overall.ui.mode'>3</item></r>", "overall.ui.mode", "0"},     // not a node element
    };
    for (const Case& c : cases) {
        SetUp();
        store.SetFromText("overall.task.loops", "99");
        ASSERT_EQ(LoadPrefsFile(c.xml, 0, nullptr), 0) << c.xml;
        EXPECT_EQ(store.GetValueText(c.key), c.expected) << c.xml;
    }
    // a skip list leaves a subtree alone
    const char* skip[] = {"overall.ui", nullptr};
    const char* text = "<r><node key='overall.ui.caption'>X</node><node key='audio.enabled'>false</node></r>";
    ASSERT_EQ(store.LoadValuesBuffer(text, 0, skip, nullptr), 0);
    EXPECT_STREQ(store.GetString("overall.ui.caption"), "Sonquill");
    EXPECT_FALSE(store.GetBool("audio.enabled"));
    // an XPath or a start key picks where the values begin
    ASSERT_EQ(store.LoadValuesBuffer("<r><node key='overall'><node key='ui'><node key='mode'>4</node></node></node></r>",
                                     0, nullptr, "//node[@key='ui']"),
              0);
    EXPECT_EQ(store.GetInt("overall.ui.mode"), 4);
    EXPECT_EQ(store.LoadValuesBuffer("<r/>", 0, nullptr, "//none"), -1);
    EXPECT_EQ(LoadPrefsFile("<r xmlns:a='urn:x'><node key='overall.ui.mode'>5</node></r>", 0, "//namespace::*"), -1);
    EXPECT_EQ(store.LoadValuesBuffer("not xml", 0, nullptr, nullptr), -1);
    ASSERT_EQ(store.LoadValuesFile(Fixture("values_nested.xml").c_str(), nullptr, "audio.nothere", nullptr), 0);
    EXPECT_FALSE(store.GetBool("audio.enabled"));
    EXPECT_EQ(store.GetInt("overall.task.loops"), 99);  // outside the start key
}

TEST_F(PrefFilesTest, LoadPrefsFileTellsPathsFromText) {
    sqtest::TempDir dir;
    std::string path = dir.write("p.xml", "<r><node key='overall.ui.mode'>5</node></r>");
    struct Case {
        const char* arg;
        int result;
    };
    const Case cases[] = {
        {path.c_str(), 0},
        {"C:\\x.xml", -1},   // a drive path: tried as a file
        {"/x.xml", -1},
        {"<QuorvexPrefs><node key='overall.ui.mode'>6</node></QuorvexPrefs>", 0},
        {nullptr, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadPrefsFile(c.arg, 0, nullptr), c.result) << (c.arg ? c.arg : "null");
    }
    EXPECT_EQ(store.GetInt("overall.ui.mode"), 6);
}

TEST_F(PrefFilesTest, SaveWritesOnlyChangedValuesInTreeOrder) {
    sqtest::TempDir dir;
    std::string out = dir.file("prefs.xml");
    store.SetString("overall.ui.caption", "Sonquill");   // set to its default: not written
    store.SetInt("overall.ui.mode", 2);
    store.SetFromText("overall.task.mode", "Benchmark");
    store.SetBool("overall.generic.keep", true);         // no-save is not consulted in the flat form
    store.SetString("overall.task.name", "");            // emptied: written with its mark
    ASSERT_EQ(SavePrefs(out.c_str(), nullptr), 0);
    std::string first = sqtest::ReadFile(out);
    EXPECT_EQ(first,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvexPrefs>"
              "<node key=\"overall.task.mode\">Benchmark</node>"
              "<node key=\"overall.task.name\" empty=\"1\"></node>"
              "<node key=\"overall.ui.mode\">2</node>"
              "<node key=\"overall.generic.keep\">true</node>"
              "</QuorvexPrefs>\n");
    ASSERT_EQ(SavePrefs(out.c_str(), nullptr), 0);
    EXPECT_EQ(sqtest::ReadFile(out), first);  // byte for byte
    const char* skip[] = {"overall.ui", nullptr};
    ASSERT_EQ(SavePrefs(out.c_str(), skip), 0);
    EXPECT_EQ(sqtest::ReadFile(out).find("overall.ui.mode"), std::string::npos);
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"prefs.xml"});  // no temporary left behind
}

// Text values that begin with '~' are the user's text, not relative operators: they come back
// from prefs.xml and from a nested export as they were, while operators in other files still apply.
TEST_F(PrefFilesTest, ValuesBeginningWithTildeRoundTrip) {
    sqtest::TempDir dir;
    store.SetString("overall.ui.caption", "~/Music/%a");
    store.SetFromText("overall.task.tempdir", "~/out");
    store.SetString("audio.options", "~+1");
    store.SetFromText("audio.tool", "~");
    const std::map<std::string, std::string> before = Snapshot(store);
    EXPECT_EQ(before.at("overall.task.tempdir"), "~/out/");

    const std::string out = dir.file("prefs.xml");
    ASSERT_EQ(SavePrefs(out.c_str(), nullptr), 0);
    SetUp();
    ASSERT_EQ(LoadPreset(out.c_str(), nullptr, false), 0) << sqtest::ReadFile(out);
    EXPECT_EQ(Snapshot(store), before) << sqtest::ReadFile(out);

    char* text = nullptr;
    const int len = store.ExportXml(&text, nullptr, false, nullptr, 16, -1);
    ASSERT_NE(text, nullptr);
    const std::string nested(text, static_cast<size_t>(len));
    free(text);
    SetUp();
    ASSERT_EQ(LoadPrefsFile(nested.c_str(), 0, nullptr), 0);
    EXPECT_EQ(Snapshot(store), before) << nested;

    // Files without the mark read as they always did.
    ASSERT_EQ(LoadPrefsFile("<r><node key='overall.ui.caption'>~+!</node><node key='overall.task.loops'>~*3</node></r>", 0,
                            nullptr),
              0);
    EXPECT_STREQ(store.GetString("overall.ui.caption"), "~/Music/%a!");
    EXPECT_EQ(store.GetInt("overall.task.loops"), 3);
}

// A text the user emptied where the default is not empty comes back empty, from prefs.xml and from a
// nested export; a value at its default is still not written; an empty element in a file written
// before the mark existed still resets its key to the default.
TEST_F(PrefFilesTest, EmptiedTextsStayEmpty) {
    const struct {
        const char* kind;
        const char* key;
        const char* value;  // what the user sets
        const char* back;   // what reads back
    } cases[] = {
        {"string", "overall.task.name", "", ""},
        {"file", "audio.tool", "", ""},
        {"folder", "overall.task.tempdir", "", ""},
        {"enum text", "overall.task.picked", "", "x"},  // no empty option: the first one
    };
    sqtest::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        SetUp();
        ASSERT_STRNE(store.NodeValueText(store.FindNode(c.key)).c_str(), "");
        ASSERT_TRUE(store.SetFromText(c.key, c.value));
        const std::string out = dir.file("prefs.xml");
        ASSERT_EQ(SavePrefs(out.c_str(), nullptr), 0);
        char* text = nullptr;
        const int len = store.ExportXml(&text, nullptr, false, nullptr, 16, -1);
        ASSERT_NE(text, nullptr);
        const std::string nested(text, static_cast<size_t>(len));
        free(text);
        for (const auto& [form, load] : std::vector<std::pair<const char*, std::function<int()>>>{
                 {"prefs.xml", [&] { return LoadPrefsFile(out.c_str(), 0, nullptr); }},
                 {"nested export", [&] { return LoadPrefsFile(nested.c_str(), 0, nullptr); }}}) {
            SCOPED_TRACE(form);
            SetUp();  // a fresh tree at its defaults
            ASSERT_EQ(load(), 0);
            EXPECT_EQ(store.NodeValueText(store.FindNode(c.key)), c.back) << sqtest::ReadFile(out) << nested;
        }
    }

    SetUp();
    const std::string out = dir.file("defaults.xml");
    ASSERT_EQ(SavePrefs(out.c_str(), nullptr), 0);
    EXPECT_EQ(sqtest::ReadFile(out).find("overall.task.name"), std::string::npos);  // at its default

    store.SetString("overall.task.name", "mine");
    ASSERT_EQ(LoadPrefsFile("<r><node key='overall.task.name'/></r>", 0, nullptr), 0);
    EXPECT_STREQ(store.GetString("overall.task.name"), "plain");
}

// What the user chose outlives the shipped values files, also where it equals the definitions'
// default; a key the user never changed follows the shipped files.
TEST_F(PrefFilesTest, UserChoicesOutliveTheShippedValuesFiles) {
    sqtest::TempDir dir;
    const std::string shipped = dir.write("shipped.xml",
                                          "<QuorvexPrefs><node key='overall.ui.mode'>5</node>"
                                          "<node key='overall.task.loops'>9</node>"
                                          "<node key='overall.ui.caption'>Shipped</node>"
                                          "<node key='audio.options'>-q 5</node>"
                                          "<node key='audio.enabled'>false</node></QuorvexPrefs>");
    const std::string user = dir.file("prefs.xml");
    auto start = [&] {
        SetUp();
        ASSERT_EQ(LoadStartupPrefs({shipped, dir.file("absent.xml")}, user.c_str()), 0);
    };
    start();  // no prefs.xml yet
    EXPECT_EQ(store.GetInt("overall.ui.mode"), 5);
    store.SetInt("overall.ui.mode", 0);                     // back to the definitions' default
    store.SetString("overall.ui.caption", "Sonquill");      // the same
    store.SetInt("overall.task.loops", 3);                  // another value
    store.SetString("audio.options", "");                   // emptied: the default again
    ASSERT_EQ(SavePrefs(user.c_str(), nullptr), 0);

    dir.write("shipped.xml", "<QuorvexPrefs><node key='overall.ui.mode'>5</node><node key='overall.task.loops'>9</node>"
                             "<node key='overall.ui.caption'>Shipped</node><node key='audio.enabled'>true</node>"
                             "<node key='audio.options'>-q 5</node>"
                             "<node key='audio.scale'>2</node></QuorvexPrefs>");
    start();
    EXPECT_EQ(store.GetInt("overall.ui.mode"), 0) << sqtest::ReadFile(user);
    EXPECT_STREQ(store.GetString("overall.ui.caption"), "Sonquill") << sqtest::ReadFile(user);
    EXPECT_EQ(store.GetInt("overall.task.loops"), 3);
    EXPECT_STREQ(store.GetString("audio.options"), "") << sqtest::ReadFile(user);
    EXPECT_FLOAT_EQ(store.GetFloat("audio.scale"), 2.0f);  // never touched: the new shipped value
    // A choice saved as it stood in the shipped file is the user's too.
    EXPECT_FALSE(store.GetBool("audio.enabled"));
}

TEST_F(PrefFilesTest, FailedSaveReportsAndKeepsTheOldFile) {
    sqtest::TempDir dir;
    EXPECT_EQ(SavePrefs(dir.file("no/such/folder/prefs.xml").c_str(), nullptr), -1);
    std::filesystem::create_directories(dir.file("taken/inner"));
    EXPECT_EQ(SavePrefs(dir.file("taken").c_str(), nullptr), -1);  // a folder stands at the name
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken/inner")));
    size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) entries += e.exists() ? 1 : 0;
    EXPECT_EQ(entries, 1u);  // the temporary file was removed
    EXPECT_EQ(SavePrefs(nullptr, nullptr), -1);
}

// A user's values with markup characters, quotes, control characters and non-ASCII text survive
// a save and a strict load; every key reads back the same.
TEST_F(PrefFilesTest, RoundTripWithHostileValues) {
    sqtest::TempDir dir;
    ASSERT_EQ(LoadPreset(Fixture("values_flat.xml").c_str(), nullptr, false), 0);
    store.SetString("overall.ui.caption", "R&B <rock> & \"roll\" 'n' a&b;c");
    store.SetString("audio.options", "-o \"C:\\a&b\\c;d\" \xc3\xa9t\xc3\xa9 \xe2\x82\xac tab\there\r\nnext");
    store.SetString("overall.task.name", "]]> &amp; &#1; <!-- x -->");
    store.SetFromText("overall.task.tempdir", "/tmp/My Stuff & more");
    store.SetFromText("audio.tool", "/opt/t\xc3\xb6\x01ol");  // \x01 cannot be held by XML
    std::map<std::string, std::string> before = Snapshot(store);
    before["audio.tool"] = "/opt/t\xc3\xb6ol";
    std::string out = dir.file("prefs.xml");
    ASSERT_EQ(SavePrefs(out.c_str(), nullptr), 0);

    CXML strict;
    ASSERT_EQ(strict.Open(out.c_str()), 0) << sqtest::ReadFile(out);
    ASSERT_EQ(LoadPrefDefinitions(false, Fixture("defs.xml").c_str(), 0, "QuorvexPrefs"), 0);
    ASSERT_EQ(LoadPreset(out.c_str(), nullptr, false), 0);
    EXPECT_EQ(Snapshot(store), before);
}

TEST_F(PrefFilesTest, ExportDepthAndMasks) {
    store.SetInt("overall.ui.mode", 2);
    char* text = nullptr;
    int len = store.ExportXml(&text, nullptr, false, nullptr, 16, -1);
    ASSERT_NE(text, nullptr);
    std::string all(text, static_cast<size_t>(len));
    free(text);
    EXPECT_NE(all.find("<node key=\"ui\">\n      <node key=\"mode\">\n        <value>2</value>"), std::string::npos) << all;
    EXPECT_EQ(all.find("key=\"loops\""), std::string::npos);  // at its default

    len = store.ExportXml(&text, "overall.ui", false, "s.xsl", 1 | 2 | 4, 1);
    std::string one(text, static_cast<size_t>(len));
    free(text);
    EXPECT_NE(one.find("href=\"s.xsl\""), std::string::npos);
    EXPECT_NE(one.find("<node type=\"node\" text=\"General\" key=\"overall\">"), std::string::npos) << one;
    EXPECT_NE(one.find("<node key=\"ui\" type=\"node\" text=\"Interface\"/>"), std::string::npos) << one;
    EXPECT_EQ(one.find("caption"), std::string::npos);  // depth 1: the start node only

    struct Case {
        int mask;
        const char* needle;
    };
    const Case cases[] = {
        {1 | 16, "<value>1</value>"},                        // every node, even at its default
        {1 | 2, "type=\"int\""},
        {1 | 4, "text=\"Loops\""},
        {1 | 8, "<enum>Rename/copy</enum>"},
        {1 | 32, "<desc>What a batch does</desc>"},
        {1 | 64, "min=\"25536\" max=\"100\""},
    };
    for (const Case& c : cases) {
        len = store.ExportXml(&text, "overall.task", false, nullptr, c.mask, -1);
        std::string part(text, static_cast<size_t>(len));
        free(text);
        EXPECT_NE(part.find(c.needle), std::string::npos) << c.mask << "\n" << part;
    }
    len = store.ExportXml(&text, "overall.ui", true, nullptr, 16, -1);
    std::string flat(text, static_cast<size_t>(len));
    free(text);
    EXPECT_NE(flat.find("<node key=\"overall.ui.mode\">2</node>"), std::string::npos) << flat;
}

TEST_F(PrefFilesTest, RevertKeepsTheSkipList) {
    ASSERT_EQ(LoadPreset(Fixture("values_flat.xml").c_str(), nullptr, false), 0);
    const std::map<std::string, const char*> kept = {
        {"overall.ui.mode", "3"},
        {"overall.generic.logfile", "/var/log/x.log"},
        {"overall.generic.logging", "true"},
        {"overall.subtitle.font", "Serif"},
        {"overall.streaming.ip", "0.0.0.0"},
        {"overall.task.tempdir", "/scratch/"},
    };
    for (auto& [key, text] : kept) ASSERT_TRUE(store.SetFromText(key.c_str(), text)) << key;
    store.SetString("audio.options", "-x");
    store.SetBool("overall.generic.guard", false);  // norevert protects nothing: revert uses its list
    RevertPrefs();
    for (auto& [key, text] : kept) EXPECT_EQ(store.GetValueText(key.c_str()), text) << key;
    EXPECT_STREQ(store.GetString("overall.ui.caption"), "Mine");       // below "overall.ui"
    EXPECT_EQ(store.GetValueText("overall.task.mode"), "Transcode");
    EXPECT_EQ(store.GetInt("overall.task.loops"), 1);
    EXPECT_FLOAT_EQ(store.GetFloat("audio.gain"), 0.0f);
    EXPECT_STREQ(store.GetString("audio.options"), "");               // no definitions value: its default
    EXPECT_TRUE(store.GetBool("overall.generic.guard"));
    EXPECT_TRUE(store.GetBool("audio.enabled"));
}

TEST_F(PrefFilesTest, PresetAppliesRelativeValuesOnceAndRereadsTheFile) {
    std::vector<std::string> log;
    SetPrefLogHook([&](const char* source, const char* text) { log.push_back(std::string(source) + ": " + text); });
    sqtest::TempDir dir;
    std::string preset = dir.write("p.xml", sqtest::ReadFile(Fixture("preset_relative.xml")));
    store.SetString("overall.task.name", "changed");
    ASSERT_EQ(LoadPreset(preset.c_str(), nullptr, true), 0);
    EXPECT_EQ(store.GetInt("overall.task.loops"), 2);   // "~+1" once, not once per form
    EXPECT_FLOAT_EQ(store.GetFloat("audio.scale"), 3.0f);
    EXPECT_STREQ(store.GetString("overall.ui.caption"), "Sonquill (preset)");
    EXPECT_STREQ(store.GetString("overall.task.name"), "plain");  // an empty element resets
    EXPECT_EQ(GetCurrentPresetPath(), preset);

    dir.write("p.xml", "<QuorvexPrefs><node key=\"overall.task.loops\">40</node></QuorvexPrefs>");
    ASSERT_EQ(LoadPreset(preset.c_str(), nullptr, true), 0);
    EXPECT_EQ(store.GetInt("overall.task.loops"), 40);  // read from disk again

    EXPECT_EQ(LoadPreset(dir.file("none.xml").c_str(), nullptr, true), -1);
    ASSERT_EQ(LoadPreset(nullptr, nullptr, false), 0);  // the definitions' defaults
    EXPECT_EQ(store.GetInt("overall.task.loops"), 1);
    SetPrefLogHook({});
    EXPECT_EQ(log, (std::vector<std::string>{"prefs: Loading preset file " + preset,
                                             "prefs: Loading preset file " + preset,
                                             "prefs: Loading preset file " + dir.file("none.xml"),
                                             "prefs: Error loading preset file"}));
    EXPECT_EQ(GetCurrentPresetPath(), preset);
}

// The shipped definitions and values files are read by this loader.
TEST(PrefFilesShipped, DefinitionsAndValuesLoad) {
    const std::string data = std::string(SQ_SOURCE_DIR) + "/data/";
    if (!std::filesystem::exists(data + "qxcore.xml")) GTEST_SKIP() << "no shipped definitions yet";
    ASSERT_EQ(LoadPrefDefinitions(false, (data + "qxcore.xml").c_str(), 0, "QuorvexPrefs"), 0);
    EXPECT_NE(GetPrefStore().FindNode("overall.task.mode"), nullptr);
    for (const char* name : {"qxcore64.xml", "defaults.xml", "wine.xml", "sonquill.xml"}) {
        if (std::filesystem::exists(data + name)) {
            EXPECT_EQ(LoadPreset((data + name).c_str(), nullptr, false), 0) << name;
        }
    }
    RevertPrefs();
}

}  // namespace

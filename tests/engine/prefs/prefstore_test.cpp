#include "engine/prefs/prefstore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/cmdline.h"
#include "platform/msgbox.h"
#include "support/locale_guard.h"
#include "support/pref_builder.h"

namespace {

class PrefStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        sqtest::PrefBuilder b(store);
        b.Add("overall.task.mode", kPrefEnum, "Transcode", {"Transcode", "\tRename/copy", "Benchmark"});
        b.Add("overall.task.tempdir", kPrefDir);
        b.Add("overall.task.count", kPrefInt, "0");
        b.Add("overall.task.limit", kPrefInt, "5");
        b.Add("overall.audio.enabled", kPrefBool, "true");
        b.Add("overall.audio.quiet", kPrefBool, "false");
        b.Add("overall.audio.gain", kPrefFloat, "0");
        b.Add("overall.audio.scale", kPrefFloat, "1.5");
        b.Add("overall.audio.codec", kPrefEnum, "mp3", {"mp3", "aac", "1pass"});
        b.Add("overall.ui.caption", kPrefString, "Sonquill");
        b.Add("overall.ui.dest", kPrefString);
        b.Add("overall.ui.log", kPrefFile, "");
    }
    PrefStore store;
};

TEST_F(PrefStoreTest, FindNode) {
    PrefNode* mode = store.FindNode("overall.task.mode");
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->type, kPrefEnum);
    struct Case {
        const char* key;
        const char* found;  // key of the node found; null: none
    };
    const Case cases[] = {
        {"overall/task/mode", "mode"},
        {"overall.task/mode", "mode"},
        {"overall.task", "task"},
        {"overall.task.mode.", nullptr},     // trailing dot
        {".overall.task.mode", nullptr},     // leading dot: no current branch
        {"overall.tas", nullptr},            // a segment prefix
        {"Overall.task.mode", nullptr},      // case-sensitive
        {"overall.task.mode.x", nullptr},    // below a leaf
        {"", nullptr},
        {"overall..mode", nullptr},
    };
    for (const Case& c : cases) {
        PrefNode* n = store.FindNode(c.key);
        if (!c.found) {
            EXPECT_EQ(n, nullptr) << c.key;
        } else {
            ASSERT_NE(n, nullptr) << c.key;
            EXPECT_EQ(n->key, c.found) << c.key;
        }
    }
    EXPECT_EQ(store.FindNode(nullptr), &store.root);
    EXPECT_EQ(store.FindNode("overall/task/mode"), mode);
}

// Loaded definitions are looked up through a key index; it must find exactly what walking the
// levels finds, also where keys repeat or hold a separator, and a node added later by hand.
TEST(PrefKeyIndex, FindsWhatTheWalkFinds) {
    const std::string defs = R"(<d>
 <node type="int" key="a"><value>1</value></node>
 <node type="node" key="a"><node type="int" key="b"/></node>
 <node type="node" key="g"><node type="int" key="p"/></node>
 <node type="node" key="g"><node type="int" key="q"/></node>
 <node type="int" key="x.y"><value>2</value></node>
 <node type="node" key="x"><node type="int" key="y"><value>3</value></node></node>
 <node type="node" key="e"><node type="int"><value>4</value></node></node>
 <node type="node" key="deep"><node type="node" key="er"><node type="node" key="still">
  <node type="string" key="leaf"><value>d</value></node></node></node></node>
</d>)";
    PrefStore store;
    ASSERT_EQ(store.LoadDefinitionsBuffer(defs.c_str(), static_cast<int>(defs.size()), "R"), 0);
    struct Case {
        const char* key;
        const char* value;  // value text of the node found; null: none
    };
    const Case cases[] = {
        {"a", "1"},         {"a.b", nullptr},   {"g.p", "0"},          {"g.q", nullptr},
        {"x.y", "3"},       {"x/y", "3"},       {"e.", "4"},           {"e", ""},
        {"deep.er.still.leaf", "d"},            {"deep/er.still/leaf", "d"},
        {"deep.er.still.leaf.", nullptr},       {"deep.er.stil", nullptr}, {"zz", nullptr},
    };
    for (const Case& c : cases) {
        const PrefNode* n = store.FindNode(c.key);
        if (!c.value) {
            EXPECT_EQ(n, nullptr) << c.key;
        } else {
            ASSERT_NE(n, nullptr) << c.key;
            EXPECT_EQ(store.NodeValueText(n), c.value) << c.key;
        }
    }
    // Added by hand after loading: found by the walk, then by the index once rebuilt.
    PrefNode* deep = store.FindNode("deep.er.still");
    ASSERT_NE(deep, nullptr);
    deep->children.push_back(std::make_unique<PrefNode>());
    PrefNode* added = deep->children.back().get();
    added->key = "late";
    added->type = kPrefInt;
    EXPECT_EQ(store.FindNode("deep.er.still.late"), added);
    store.RebuildKeyIndex();
    EXPECT_EQ(store.FindNode("deep/er/still/late"), added);
    // Reloading replaces the index with the new tree's keys.
    const std::string other = R"(<d><node type="int" key="only"><value>9</value></node></d>)";
    ASSERT_EQ(store.LoadDefinitionsBuffer(other.c_str(), static_cast<int>(other.size()), "R"), 0);
    EXPECT_EQ(store.FindNode("deep.er.still.late"), nullptr);
    EXPECT_EQ(store.GetInt("only"), 9);
}

TEST_F(PrefStoreTest, GettersNeverReadTheWrongType) {
    store.SetString("overall.ui.caption", "12abc");
    struct Case {
        const char* key;
        int asInt;
        bool asBool;
        float asFloat;
        const char* asString;
    };
    const Case cases[] = {
        {"no.such.key", 0, false, 0.0f, ""},
        {"overall.task", 0, false, 0.0f, ""},             // a branch
        {"overall.task.limit", 5, true, 5.0f, ""},        // GetString on an int
        {"overall.task.mode", 0, false, 0.0f, ""},        // enum index 0
        {"overall.audio.scale", 1, true, 1.5f, ""},       // float truncated for GetInt
        {"overall.ui.caption", 12, true, 0.0f, "12abc"},
        {"overall.ui.dest", 0, false, 0.0f, ""},          // null string value
        {"overall.ui.log", 0, false, 0.0f, ""},           // empty string is false
    };
    for (const Case& c : cases) {
        EXPECT_EQ(store.GetInt(c.key), c.asInt) << c.key;
        EXPECT_EQ(store.GetBool(c.key), c.asBool) << c.key;
        EXPECT_FLOAT_EQ(store.GetFloat(c.key), c.asFloat) << c.key;
        EXPECT_STREQ(store.GetString(c.key), c.asString) << c.key;
    }
    EXPECT_EQ(store.GetStringObj("overall.ui.caption", ' '), " 12abc");
    EXPECT_EQ(store.GetStringObj("overall.ui.log", ' '), " ");   // empty value: the lead alone
    EXPECT_EQ(store.GetStringObj("overall.ui.dest", ' '), "");   // null value
    EXPECT_EQ(store.GetStringObj("overall.task.limit", ' '), "");
    EXPECT_EQ(store.GetValuePtr("no.such"), nullptr);
    EXPECT_EQ(store.GetValuePtr("overall.ui.caption"), store.GetString("overall.ui.caption"));
}

TEST_F(PrefStoreTest, WrongTypeSettersChangeNothing) {
    std::vector<std::string> captions;
    platform::SetUiThread();
    platform::SetMessageBoxHook([&](void*, const char* text, const char* caption, unsigned style) {
        captions.push_back(std::string(caption) + ":" + text);
        EXPECT_EQ(style, platform::kMbSystemModal);
        return platform::kIdOk;
    });
    store.SetInt("overall.ui.caption", 3);
    store.SetBool("overall.task.count", true);
    store.SetFloat("overall.task.count", 2.0f);
    store.SetString("overall.audio.enabled", "x");
    store.SetInt("no.such.key", 1);  // silent
    platform::SetMessageBoxHook({});
    EXPECT_EQ(captions, (std::vector<std::string>{
                            "Integer type expected:overall.ui.caption",
                            "Boolean type expected:overall.task.count",
                            "Float type expected:overall.task.count",
                            "String type expected:overall.audio.enabled",
                        }));
    EXPECT_STREQ(store.GetString("overall.ui.caption"), "Sonquill");
    EXPECT_EQ(store.GetInt("overall.task.count"), 0);
    EXPECT_TRUE(store.GetBool("overall.audio.enabled"));
    store.SetInt("overall.audio.enabled", 0);  // int setter accepts a bool
    EXPECT_FALSE(store.GetBool("overall.audio.enabled"));
    EXPECT_FALSE(store.SetFromText("overall.task", "1"));
    EXPECT_FALSE(store.SetFromText("no.such", "1"));
    EXPECT_FALSE(store.SetFromText("overall.task.count", nullptr));
}

TEST_F(PrefStoreTest, SetFromText) {
    struct Case {
        const char* key;
        const char* text;
        const char* valueText;  // GetValueText afterwards
        int asInt;
    };
    const Case cases[] = {
        {"overall.audio.codec", "AAC", "aac", 1},
        {"overall.audio.codec", "1", "aac", 1},
        {"overall.audio.codec", "1pass", "1pass", 2},   // option text wins over the number
        {"overall.audio.codec", "true", "aac", 1},
        {"overall.audio.codec", "enabled", "aac", 1},
        {"overall.audio.codec", "whatever", "mp3", 0},
        {"overall.audio.codec", "", "mp3", 0},
        {"overall.task.mode", "rename/copy", "Rename/copy", 1},  // leading tab of the option skipped
        {"overall.audio.enabled", "Enabled", "true", 1},
        {"overall.audio.enabled", "DISABLED", "false", 0},
        {"overall.audio.enabled", "2", "true", 2},
        {"overall.task.count", "-12", "-12", -12},
        {"overall.task.count", "99999999999", "2147483647", 2147483647},  // clamped, not undefined
        {"overall.audio.gain", "1.5", "1.500000", 1},
        {"overall.audio.gain", "0.0", "0", 0},
        {"overall.task.tempdir", "C:\\temp", "C:\\temp\\", 0},
        {"overall.task.tempdir", "/tmp", "/tmp/", 0},
        {"overall.task.tempdir", "/tmp/", "/tmp/", 0},
        {"overall.task.tempdir", "C:\\temp\\", "C:\\temp\\", 0},
        {"overall.task.tempdir", "", "", 0},
        {"overall.ui.caption", "a b", "a b", 0},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(store.SetFromText(c.key, c.text)) << c.key << "=" << c.text;
        EXPECT_EQ(store.GetValueText(c.key), c.valueText) << c.key << "=" << c.text;
        EXPECT_EQ(store.GetInt(c.key), c.asInt) << c.key << "=" << c.text;
    }
    EXPECT_TRUE(store.GetBool("overall.audio.enabled"));
}

TEST_F(PrefStoreTest, ValueTextUnderCommaLocale) {
    sqtest::CommaLocale comma;
    store.SetFromText("overall.audio.scale", "2.25");
    EXPECT_FLOAT_EQ(store.GetFloat("overall.audio.scale"), 2.25f);
    EXPECT_EQ(store.GetValueText("overall.audio.scale"), "2.250000");
    char buf[8];
    EXPECT_EQ(store.FormatValue("overall.audio.scale", buf, sizeof buf), 7);  // bounded
    EXPECT_STREQ(buf, "2.25000");
    EXPECT_EQ(store.FormatValue("no.such", buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    PrefOption rows[] = {{"overall.audio.scale", "-s "}, {nullptr, nullptr}};
    EXPECT_EQ(store.AppendOptions(rows, ' '), " -s 2.25");
}

TEST_F(PrefStoreTest, EnumTextPastTheList) {
    store.SetInt("overall.audio.codec", 7);
    EXPECT_EQ(store.GetValueText("overall.audio.codec"), "mp3");  // string form: the first option
    char buf[32];
    EXPECT_EQ(store.FormatValue("overall.audio.codec", buf, sizeof buf), 0);  // buffer form: ""
    EXPECT_STREQ(store.GetEnumText("overall.audio.codec", -1), "");
    EXPECT_STREQ(store.GetEnumText("overall.task.mode", 1), "Rename/copy");
    EXPECT_STREQ(store.GetEnumText("overall.task.mode", 3), "");
    EXPECT_STREQ(store.GetEnumText("overall.task.count", 0), "");  // no list
}

TEST_F(PrefStoreTest, ApplyRelative) {
    struct Case {
        const char* key;
        const char* start;
        const char* op;
        const char* result;
    };
    const Case cases[] = {
        {"overall.task.count", "64", "~*2", "128"},
        {"overall.task.count", "-3", "~*2", "-6"},        // read signed
        {"overall.task.count", "7", "~*0.5", "3"},        // truncated toward zero
        {"overall.task.count", "-7", "~*0.5", "-3"},
        {"overall.task.count", "2000000000", "~*4", "2147483647"},
        {"overall.task.count", "5", "~+3", "8"},
        {"overall.task.count", "5", "~-8", "-3"},
        {"overall.task.count", "5", "~?1", "5"},
        {"overall.task.mode", "Transcode", "~+2", "Benchmark"},
        {"overall.task.mode", "Benchmark", "~*2", "Benchmark"},  // '*' is for int and float only
        {"overall.audio.scale", "1.5", "~*0.5", "0.750000"},
        {"overall.audio.scale", "1.5", "~+0.25", "1.750000"},
        {"overall.audio.scale", "1.5", "~-1.5", "0"},
        {"overall.ui.caption", "a", "~+x", "ax"},
        {"overall.ui.log", "a", "~+x", "a"},              // append is for string nodes only
        {"overall.audio.enabled", "true", "~-1", "true"}, // bool: nothing
    };
    for (const Case& c : cases) {
        PrefNode* n = store.FindNode(c.key);
        ASSERT_NE(n, nullptr);
        store.SetNodeFromText(n, c.start);
        store.ApplyRelative(n, c.op);
        EXPECT_EQ(store.NodeValueText(n), c.result) << c.key << " " << c.start << " " << c.op;
    }
}

TEST_F(PrefStoreTest, AppendOptions) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> settings;  // key, text
        std::vector<PrefOption> rows;
        const char* expected;
    };
    const Case cases[] = {
        {{}, {{"overall.audio.enabled", "-quiet"}, {"overall.task.count", "-vol"}}, " -quiet"},
        {{}, {{"overall.audio.enabled", "-a|-b|-c"}}, " -b|-c"},
        {{}, {{"overall.audio.quiet", "-a|-b"}}, " -a"},
        {{}, {{"overall.audio.quiet", "|-b"}, {"overall.audio.enabled", "-x|"}}, ""},  // empty parts
        {{}, {{"overall.audio.quiet", "-q"}}, ""},
        {{}, {{"overall.task.limit", "-l "}}, " -l 5"},
        {{{"overall.task.limit", "0"}}, {{"overall.task.limit", "-l"}}, " -l0"},  // default non-zero
        {{}, {{"overall.task.mode", "-m"}}, " -m0"},                              // enum always
        {{{"overall.task.mode", "Benchmark"}}, {{"overall.task.mode", "a|b|c"}}, " c"},
        {{{"overall.task.mode", "5"}}, {{"overall.task.mode", "a|b|c"}}, ""},
        {{{"overall.task.count", "-4"}}, {{"overall.task.count", "x|y"}}, " x"},
        {{{"overall.audio.gain", "0.5"}}, {{"overall.audio.gain", "-g "}}, " -g 0.5"},
        {{{"overall.audio.gain", "2"}}, {{"overall.audio.gain", "-g "}}, " -g 2"},
        {{}, {{"overall.audio.scale", "-s "}}, ""},                               // at its default
        {{{"overall.ui.dest", "/music/My Files"}}, {{"overall.ui.dest", "-o "}}, " -o \"/music/My Files\""},
        {{{"overall.task.tempdir", "C:\\My Music"}}, {{"overall.task.tempdir", "-d "}},
         " -d \"C:\\My Music\\\\\""},                                             // trailing backslash doubled
        {{{"overall.task.tempdir", "C:\\Music"}}, {{"overall.task.tempdir", "-d "}}, " -d C:\\Music\\"},
        {{{"overall.ui.dest", "a\"b c"}}, {{"overall.ui.dest", "-o "}}, " -o \"ab c\""},  // quote removed
        {{}, {{"no.such.key", "-n"}, {"overall.task", "-t"}, {"overall.ui.log", "-f "}}, ""},
    };
    for (const Case& c : cases) {
        SetUp();
        for (auto& s : c.settings) ASSERT_TRUE(store.SetFromText(s.first, s.second));
        std::vector<PrefOption> rows = c.rows;
        rows.push_back({nullptr, nullptr});
        EXPECT_EQ(store.AppendOptions(rows.data(), ' '), c.expected) << c.rows[0].pattern;
    }
    PrefOption rows[] = {{"overall.task.limit", "-l"}, {"overall.task.mode", "-m"}, {nullptr, nullptr}};
    EXPECT_EQ(store.AppendOptions(rows, ", "), ", -l5, -m0");
}

// The process runner splits command lines by the Windows C runtime rules: every value comes back
// as one argument, whatever blanks, backslashes or quotes it holds.
TEST_F(PrefStoreTest, AppendOptionsSurvivesTheArgumentSplitter) {
    struct Case {
        const char* key;
        const char* text;
        const char* argument;
    };
    const Case cases[] = {
        {"overall.task.tempdir", "C:\\My Music", "C:\\My Music\\"},
        {"overall.task.tempdir", "/home/u/My Music", "/home/u/My Music/"},
        {"overall.ui.dest", "a\\\\ b\\", "a\\\\ b\\"},
        {"overall.ui.dest", "say \\\"hi\\\" now", "say \\hi\\ now"},  // quotes removed, nothing breaks out
        {"overall.ui.dest", "x; rm -rf $HOME `id`", "x; rm -rf $HOME `id`"},
        {"overall.ui.dest", "tab\there", "tab\there"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(store.SetFromText(c.key, c.text));
        PrefOption rows[] = {{c.key, ""}, {"overall.task.limit", "-l"}, {nullptr, nullptr}};
        std::vector<std::string> args = platform::SplitArgs("tool" + store.AppendOptions(rows, ' '));
        EXPECT_EQ(args, (std::vector<std::string>{"tool", c.argument, "-l5"})) << c.text;
    }
}

TEST_F(PrefStoreTest, DefaultsAndIsDefault) {
    PrefNode* limit = store.FindNode("overall.task.limit");
    PrefNode* scale = store.FindNode("overall.audio.scale");

    // apply follows only while the value was at its default
    store.SetNodeDefault(limit, 9, true);
    EXPECT_EQ(store.GetInt("overall.task.limit"), 9);
    store.SetInt("overall.task.limit", 1);
    store.SetNodeDefault(limit, 11, true);
    EXPECT_EQ(store.GetInt("overall.task.limit"), 1);
    EXPECT_FALSE(store.IsDefault(limit));
    store.ResetToDefault("overall.task.limit");
    EXPECT_EQ(store.GetInt("overall.task.limit"), 11);
    EXPECT_TRUE(store.IsDefault(limit));

    EXPECT_TRUE(store.SetDefault("overall.ui.caption", "New", true));
    EXPECT_STREQ(store.GetString("overall.ui.caption"), "New");
    EXPECT_FALSE(store.SetDefault("no.such", "x", true));
    store.SetString("overall.ui.caption", "mine");
    store.SetDefault("overall.ui.caption", "Newer", true);
    EXPECT_STREQ(store.GetString("overall.ui.caption"), "mine");

    store.SetDefault("overall.audio.scale", 2.5, true);
    EXPECT_FLOAT_EQ(store.GetFloat("overall.audio.scale"), 2.5f);
    store.SetFloat("overall.audio.scale", 1.0f);
    store.SetDefault("overall.audio.scale", 3.0, true);
    EXPECT_FLOAT_EQ(store.GetFloat("overall.audio.scale"), 1.0f);
    EXPECT_FALSE(store.IsDefault(scale));

    struct Case {
        const char* key;
        const char* text;  // null: the string value set to null
        bool isDefault;
    };
    const Case cases[] = {
        {"overall.ui.caption", "Newer", true},
        {"overall.ui.caption", nullptr, true},   // a null string is default
        {"overall.ui.dest", "", true},           // no default: empty is default
        {"overall.ui.dest", "x", false},
        {"overall.ui.log", "", true},
        {"overall.audio.gain", "0", true},
        {"overall.audio.gain", "0.1", false},
        {"overall.task.count", "0", true},
    };
    for (const Case& c : cases) {
        if (c.text) {
            store.SetFromText(c.key, c.text);
        } else {
            store.SetNodeString(store.FindNode(c.key), nullptr);
        }
        EXPECT_EQ(store.IsDefault(store.FindNode(c.key)), c.isDefault) << c.key << "=" << (c.text ? c.text : "null");
    }
    PrefNode* gain = store.FindNode("overall.audio.gain");
    gain->fvalue = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(store.IsDefault(gain));
    EXPECT_TRUE(store.IsDefault(store.FindNode("overall.task")));
}

TEST_F(PrefStoreTest, OldStringsStayValidUntilClear) {
    const char* first = store.GetString("overall.ui.caption");
    store.SetString("overall.ui.caption", "a much longer text than before");
    store.SetString("overall.ui.caption", "b");
    EXPECT_STREQ(first, "Sonquill");  // still readable (ASan would flag a freed buffer)
    EXPECT_STREQ(store.GetString("overall.ui.caption"), "b");
    store.Clear();
    EXPECT_EQ(store.FindNode("overall"), nullptr);
    EXPECT_EQ(store.root.type, kPrefTop);
}

TEST(PrefStoreGlobal, OneStore) {
    EXPECT_EQ(&GetPrefStore(), &GetPrefStore());
    EXPECT_EQ(GetPrefStore().root.type, kPrefTop);
}

}  // namespace

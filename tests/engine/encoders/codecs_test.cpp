// The command-line builder over small descriptions, and the shipped description against the
// shipped preference definitions.
#include "engine/encoders/codecs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/context.h"
#include "engine/encoders/encoder_info.h"
#include "engine/jobs/audiotask.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/queue/taskvars.h"
#include "platform/cmdline.h"
#include "support/pref_builder.h"
#include "support/shipped_data.h"

namespace {

namespace fs = std::filesystem;

using sqtest::DataFile;

struct TestItem {
    QueueItem q;
    AudioStreamInfo stream;
    AudioTask task;
    explicit TestItem(const char* file) {
        q.file = strdup(file);
        task.item = &q;
    }
    ~TestItem() {
        std::free(q.file);
        std::free(q.tagTitle);
        std::free(stream.codec);
    }
    void WithTask() { q.audioTask = &task; }
};

class CodecsTest : public ::testing::Test {
protected:
    void SetUp() override {
        sqtest::PrefBuilder b(GetPrefStore());
        b.Add("t.q", kPrefInt, "0");
        b.Add("t.z", kPrefInt, "0");
        b.Add("t.rate", kPrefInt, "44");
        b.Add("t.hz", kPrefInt, "44100");
        b.Add("t.big", kPrefInt, "1411");
        b.Add("t.e", kPrefEnum, "b", {"a", "b", "c"});
        b.Add("t.b", kPrefBool, "false");
        b.Add("t.on", kPrefBool, "true");
        b.Add("t.f", kPrefFloat, "1.5");
        b.Add("t.s", kPrefString, "");
        b.Add("t.empty", kPrefString, "");
        b.Add("t.path", kPrefFile, "/opt/my tools/enc");
        b.Add("overall.output.tag", kPrefBool, "true");
        GetPrefStore().SetInt("t.q", 2);
        GetPrefStore().SetFloat("t.f", 2.5f);
        GetPrefStore().SetString("t.s", "a b");
    }

    // Parses an encoder entry holding `body` and positions the document on its first child.
    bool Open(const std::string& body) {
        const std::string text = "<codecs><audio><encoder name=\"X\">" + body + "</encoder></audio></codecs>";
        return doc.Read(text.c_str()) == 0 && doc.goToKey("/codecs/audio/encoder[@name=\"X\"]") && doc.goChild();
    }
    std::string Build(const std::string& body, QueueItem* item = nullptr) {
        std::string out;
        EXPECT_TRUE(Open(body)) << body;
        BuildCodecArgs(&enc, item, &doc, out);
        return out;
    }

    CXML doc;
    CAudioEncoder enc;
};

TEST_F(CodecsTest, ArgElements) {
    struct Row {
        const char* xml;
        const char* out;
    } const rows[] = {
        {"<arg key='t.q'>-q</arg>", " -q2"},
        {"<arg key='t.q'>-q </arg>", " -q 2"},
        {"<arg key='t.q' default='2' postfix='!'>-q</arg>", "!"},
        {"<arg key='t.z'>-q </arg>", ""},  // an int at its zero default says nothing
        {"<arg key='t.z' ratio='1'>-q </arg>", " -q 0"},
        {"<arg key='t.rate' prefix='--rate=' ratio='1000'/>", " --rate= 44000"},
        {"<arg key='t.q' prefix=':x'>y</arg>", ":xy2"},
        {"<arg key='no.such' prefix='-p' postfix='!'>x</arg>", " -p"},
        {"<arg key='t.e'>a|b|c</arg>", " b"},
        {"<arg key='t.e'>-e</arg>", " -e1"},
        {"<arg key='t.e' default='b' postfix='.'>-e</arg>", "."},
        {"<arg key='t.b'>off|on</arg>", " off"},
        {"<arg key='t.b'>-x</arg>", ""},
        {"<arg key='t.on'>-x</arg>", " -x"},
        {"<arg key='t.s'>--name </arg>", " --name \"a b\""},
        {"<arg key='t.s' ratio='1'>-n</arg>", " \"a b\""},
        {"<arg key='t.f' ratio='1000'>-f </arg>", " -f 2500"},
        {"<arg key='t.f' ratio='1' default='2.5'>-f</arg>", ""},
        {"<arg key='t.big' ratio='1000'>-b </arg>", " -b 1411000"},  // no exponent form
        {"<arg key='t.hz' ratio='0.001'>-r </arg>", " -r 44.1"},
        {"<arg>/x</arg><arg>plain</arg><arg postfix=';'>a</arg><arg>=v</arg>", "/x plain a;=v"},
        {"<verinfo arg='--version'/><bitrate key='t.q'/><samplerate min='1'/><other/>", ""},
    };
    for (const Row& r : rows) EXPECT_EQ(Build(r.xml), r.out) << r.xml;
}

TEST_F(CodecsTest, Conditions) {
    struct Row {
        const char* what;
        const char* xml;
        std::function<void(TestItem&)> setup;  // null: no item at all
        bool holds;
    };
    auto none = std::function<void(TestItem&)>();
    auto task = [](uint16_t channels, uint32_t rate) {
        return std::function<void(TestItem&)>([=](TestItem& it) {
            it.WithTask();
            it.task.channels = channels;
            it.task.sampleRate = rate;
        });
    };
    auto stream = [](const char* codec, uint32_t channels) {
        return std::function<void(TestItem&)>([=](TestItem& it) {
            it.stream.codec = codec ? strdup(codec) : nullptr;
            it.stream.channels = channels;
            it.q.audio = &it.stream;
        });
    };
    const std::vector<Row> rows = {
        {"enum text equal", "<if test='t.e' value='b'/>", none, true},
        {"enum text differs", "<if test='t.e' value='a'/>", none, false},
        {"int set", "<if test='t.q'/>", none, true},
        {"int zero", "<if test='t.z'/>", none, false},
        {"string not empty", "<if test='t.s'/>", none, true},
        {"string empty", "<if test='t.empty'/>", none, false},
        {"missing key", "<if test='no.such'/>", none, false},
        {"other expr", "<if test='t.q' expr='='/>", none, false},
        {"6 channels > 2", "<if channels='2' expr='>'/>", task(6, 0), true},
        {"2 channels > 2", "<if channels='2' expr='>'/>", task(2, 0), false},
        {"stream channels", "<if channels='1'/>", stream(nullptr, 1), true},
        {"default channels", "<if channels='2'/>", none, true},
        {"44100 in 32000~48000", "<if samplerate='32000~48000'/>", task(2, 44100), true},
        {"48000 in 32000~48000", "<if samplerate='32000~48000'/>", task(2, 48000), true},
        {"32000 in 32000~48000", "<if samplerate='32000~48000'/>", task(2, 32000), false},
        {"any rate in 0~0", "<if samplerate='0~0' expr='&lt;'/>", task(2, 8000), true},
        {"rate below", "<if samplerate='44100' expr='&lt;'/>", task(2, 22050), true},
        {"default rate", "<if samplerate='44100'/>", none, true},
        {"stdin with a decoder", "<if stdin='true'/>", [](TestItem& it) { it.WithTask(); it.task.sourceId = 1; }, true},
        {"stdin, tool reads the file", "<if stdin='TRUE'/>", [](TestItem& it) { it.WithTask(); }, false},
        {"stdin, no task", "<if stdin='true'/>", [](TestItem&) {}, true},
        {"not stdin, no item", "<if stdin='false'/>", none, false},
        {"codec equal", "<if source_acodec='FLAC'/>", stream("FLAC", 2), true},
        {"codec case differs", "<if source_acodec='FLAC'/>", stream("flac", 2), false},
        {"no stream", "<if source_acodec='FLAC'/>", [](TestItem&) {}, false},
        {"no condition", "<if/>", none, true},
    };
    for (const Row& r : rows) {
        ASSERT_TRUE(Open(r.xml)) << r.what;
        TestItem it("/m/a.wav");
        if (r.setup) r.setup(it);
        EXPECT_EQ(EvalCodecCondition(&enc, r.setup ? &it.q : nullptr, &doc), r.holds) << r.what;
    }
}

// Evaluating a tagging condition with an item hands tagging to the tool, whatever it decides.
TEST_F(CodecsTest, TaggingCondition) {
    struct Row {
        const char* value;
        bool withItem;
        bool tags;
        bool holds;
        bool toolTags;
    } const rows[] = {
        {"true", true, true, true, true},
        {"true", true, false, false, true},
        {"no", true, false, true, true},
        {"true", false, false, false, false},
        {"false", false, false, true, false},
    };
    for (const Row& r : rows) {
        ASSERT_TRUE(Open(std::string("<if tagging='") + r.value + "'/>"));
        TestItem it("/m/a.wav");
        if (r.tags) it.q.flags |= kItemFlagHasTags;
        enc.flags = 0;
        EXPECT_EQ(EvalCodecCondition(&enc, r.withItem ? &it.q : nullptr, &doc), r.holds) << r.value;
        EXPECT_EQ((enc.flags & kEncoderTagsOutput) != 0, r.toolTags) << r.value;
    }
}

TEST_F(CodecsTest, OtherElements) {
    EXPECT_EQ(Build("<path key='t.path'/><if test='t.q'><extname>ogg</extname><arg>-a</arg>"
                    "<ifnot test='t.z'><arg>-b</arg></ifnot></if><if test='t.z'><extname>wav</extname></if>"
                    "<arg>-c</arg><input type='pcm'/>"),
              "\"/opt/my tools/enc\" -a -b -c");
    EXPECT_EQ(enc.fileExt, "ogg");
    EXPECT_EQ(enc.flags, kEncoderRawPcm);
    enc.flags = 0;
    Build("<path>tool</path><input type='PCM'/>");
    EXPECT_EQ(enc.flags, 0u);
}

// A line that does not begin with a program cannot be started.
TEST_F(CodecsTest, LineWithoutProgramIsRefused) {
    struct Row {
        const char* xml;
        bool program;
    } const rows[] = {
        {"<path>lame</path><arg>-</arg>", true},
        {"<path key='t.path'/>", true},
        {"<path key='t.empty'/><arg>--silent</arg>", false},
        {"<path key='no.such'/><arg>-</arg>", false},
        {"<arg>--silent</arg><path>lame</path>", false},
        {"<arg>--silent</arg>", false},
    };
    for (const Row& r : rows) {
        ASSERT_TRUE(Open(r.xml));
        std::string out;
        EXPECT_EQ(BuildCodecArgs(&enc, nullptr, &doc, out), r.program) << r.xml;
    }
}

// Values inserted by var stay one argument each and are not expanded again when the line is.
TEST_F(CodecsTest, VarValuesSplitBackWhole) {
    TestItem it("/in ü/a \"b\" & $(Title).wav");
    it.q.tagTitle = strdup("x$(Counter) y\\");
    const char* body =
        "<path>tool</path><var name='SourceFile'/><var name='Title' prefix='--tt '/>"
        "<var name='Title' prefix='-T \"TITLE=' postfix='\"'/><var name='UserInput'/>";
    EXPECT_EQ(Build(body), "tool");  // var needs an item
    int events = 0;
    EngineContext ctx;
    ctx.eventCallback = [&](int, intptr_t, int64_t) { return ++events, 0; };
    SetEngineContext(&ctx);
    const std::string line = Build(body, &it.q);
    const std::string expanded = ExpandCommandLineVariables(nullptr, line.c_str(), &it.q);
    SetEngineContext(nullptr);
    EXPECT_EQ(platform::SplitArgs(expanded),
              (std::vector<std::string>{"tool", "/in ü/a \"b\" & $(Title).wav", "--tt", "x$(Counter) y\\",
                                        "-T", "TITLE=x$(Counter) y\\"}))
        << line;
    EXPECT_EQ(events, 0);  // UserInput is not asked for while the description is locked
}

TEST_F(CodecsTest, EncoderLookupUnderTheLock) {
    const char* text =
        "<codecs><audio>"
        "<encoder name='A'><path>a-tool</path><extname>aa</extname><arg key='t.q'>-q</arg></encoder>"
        "<encoder name='Empty'/>"
        "<encoder name='NoPath'><arg>-x</arg></encoder>"
        "</audio></codecs>";
    ASSERT_EQ(LoadCodecsDefinition(true, text, 0), 0);
    struct Row {
        const char* name;
        bool ok;
        const char* line;
    } const rows[] = {
        {"A", true, "a-tool -q2"},
        {"B", false, "kept"},
        {"Empty", false, "kept"},
        {"NoPath", false, "kept"},
        {"A\"]|//*[@name=\"A", false, "kept"},
        {"", false, "kept"},
    };
    for (const Row& r : rows) {
        CAudioEncoder e;
        e.name = r.name;
        std::string line = "kept";
        EXPECT_EQ(BuildEncoderCommandLine(&e, nullptr, &line), r.ok) << r.name;
        EXPECT_EQ(line, r.line) << r.name;
    }
    CAudioEncoder e;
    e.name = std::string(300, 'n');
    std::string line;
    EXPECT_FALSE(BuildEncoderCommandLine(&e, nullptr, &line));
    EXPECT_EQ(LoadCodecsDefinition(false, "/no/such/qxcodecs.xml", 0), -1);
    EXPECT_EQ(LoadCodecsDefinition(true, nullptr, 0), -1);
}

// The shipped description names the shipped encoders and preferences.
TEST(ShippedCodecs, MatchesTheDefinitions) {
    ASSERT_EQ(LoadPrefDefinitions(false, DataFile("qxcore.xml").c_str(), 0, "QuorvexPrefs"), 0);
    ASSERT_EQ(LoadCodecsDefinition(false, DataFile("qxcodecs.xml").c_str(), 0), 0);
    PrefStore& prefs = GetPrefStore();
    const PrefNode* encoders = prefs.FindNode("overall.audio.encoder");
    ASSERT_NE(encoders, nullptr);
    std::set<std::string> options;
    for (int i = 0; i < encoders->OptionCount(); ++i) options.insert(encoders->OptionText(i));

    CXML& doc = GetCodecsDocument();
    doc.Lock();
    std::set<std::string> described;
    for (int i = 0; doc.goToKey("/codecs/audio/encoder", i); ++i) {
        const char* name = doc.getAttribute("name", "");
        EXPECT_TRUE(options.count(name)) << "not an encoder option: " << name;
        EXPECT_TRUE(described.insert(name).second) << "listed twice: " << name;
    }
    // Every preference the description reads exists, and every compared value is one it can hold.
    for (const char* attr : {"key", "test"}) {
        const std::string xpath = std::string("//*[@") + attr + "]";
        for (int i = 0; doc.goToKey(xpath.c_str(), i); ++i) {
            const char* key = doc.getAttribute(attr);
            const PrefNode* node = prefs.FindNode(key);
            ASSERT_TRUE(node && node->IsValue()) << "no preference " << key;
            const char* value = doc.getAttribute("value");
            if (std::strcmp(attr, "test") == 0 && value && node->type == kPrefEnum) {
                bool found = false;
                for (int o = 0; o < node->OptionCount(); ++o) found |= std::strcmp(node->OptionText(o), value) == 0;
                EXPECT_TRUE(found) << key << " has no option " << value;
            }
        }
    }
    doc.Unlock();
    // Encoders that run in the program itself need no entry; every other one has one with a program.
    const std::set<std::string> inProcess = {"CT AAC+", "APE", "PCM", "CLI", "Null"};
    for (const std::string& name : options) {
        if (inProcess.count(name)) continue;
        EXPECT_TRUE(described.count(name)) << "no entry for " << name;
        CAudioEncoder e;
        e.name = name;
        std::string line;
        EXPECT_TRUE(BuildEncoderCommandLine(&e, nullptr, &line)) << name;
        EXPECT_NE(e.fileExt, "out") << name;
    }
}

}  // namespace

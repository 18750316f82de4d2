// Language selection from the language list, loading of one module's strings, and lookups.
#include "common/stringtable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "env_scope.h"
#include "support/tempdir.h"

namespace {

// String-table paths in the list are relative to the working folder: tests work in this one.
const std::string kFixtures = std::string(SQ_TEST_DATA_DIR) + "/strings";

struct SelectCase {
    const char* name;
    const char* systemCodePage;
    int index;
    const char* expectedId;
    const char* expectedFile;
};

const SelectCase kSelectCases[] = {
    {"auto_matches_second", "936", 0, "简体中文", "chinese.xml"},
    {"auto_matches_third", "1251", 0, "Russian", "english.xml"},
    {"auto_no_match_first", "437", 0, "English", "english.xml"},
    {"index_1", "936", 1, "English", "english.xml"},
    // The <separator/> between the first two languages is not counted.
    {"index_2", "1252", 2, "简体中文", "chinese.xml"},
    {"index_3", "1252", 3, "Russian", "english.xml"},
    {"index_past_end_first", "936", 5, "English", "english.xml"},
    {"negative_index_first", "936", -1, "English", "english.xml"},
};

class SelectTable : public ::testing::TestWithParam<SelectCase> {};

TEST_P(SelectTable, SelectsLanguage) {
    const SelectCase& c = GetParam();
    sqtest::CwdScope cwd(kFixtures);
    sqtest::EnvScope cp("SQ_ANSI_CODEPAGE", c.systemCodePage);
    CStringTable table;
    ASSERT_EQ(table.Load("lang.xml", "qxgui", c.index, nullptr, 0), 0);
    EXPECT_STREQ(table.GetLanguageId(), c.expectedId);
    EXPECT_STREQ(table.GetLanguageFile(), c.expectedFile);
}

INSTANTIATE_TEST_SUITE_P(StringTable, SelectTable, ::testing::ValuesIn(kSelectCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StringTableTest, LastMatchingCodePageWins) {
    sqtest::TempDir dir;
    dir.write("lang.xml",
              "<languages><language id='A' codepage='1252' file='a.xml'/>"
              "<language id='B' codepage='936' file='b.xml'/>"
              "<language id='C' codepage='936' file='c.xml'/></languages>");
    dir.write("c.xml", "<StringTables><StringTable module='m'/></StringTables>");
    sqtest::CwdScope cwd(dir.path());
    sqtest::EnvScope cp("SQ_ANSI_CODEPAGE", "936");
    CStringTable table;
    EXPECT_EQ(table.Load("lang.xml", "m", 0, nullptr, 0), 0);
    EXPECT_STREQ(table.GetLanguageId(), "C");
}

struct ListCase {
    int size;
    int index;
    int result;
    const char* list;
    const char* selected;  // "" when nothing was selected
};

// "English;简体中文;Russian" is 7 + 1 + 12 + 1 + 7 = 28 bytes. An id is listed only while the
// list stays below size - 1 characters; the walk ends at the first that does not fit.
const ListCase kListCases[] = {
    {8, 0, -1, "", ""},
    {9, 0, 0, "English", "English"},
    {21, 3, 0, "English", "English"},  // the third is never reached, so the first stays
    {22, 3, 0, "English;简体中文", "English"},
    {29, 3, 0, "English;简体中文", "English"},
    {30, 3, 0, "English;简体中文;Russian", "Russian"},
    {512, 2, 0, "English;简体中文;Russian", "简体中文"},
};

TEST(StringTableTest, LanguageListBuffer) {
    sqtest::CwdScope cwd(kFixtures);
    sqtest::EnvScope cp("SQ_ANSI_CODEPAGE", "1252");
    for (const ListCase& c : kListCases) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        // Guard bytes after the given size show any write past it.
        std::vector<char> buf(c.size + 16, '#');
        CStringTable table;
        EXPECT_EQ(table.Load("lang.xml", "qxgui", c.index, buf.data(), c.size), c.result);
        EXPECT_STREQ(buf.data(), c.list);
        EXPECT_STREQ(table.GetLanguageId(), c.selected);
        for (std::size_t i = c.size; i < buf.size(); ++i) ASSERT_EQ(buf[i], '#');
    }
}

TEST(StringTableTest, LoadFailures) {
    sqtest::TempDir dir;
    dir.write("notlist.xml", "<StringTables/>");
    dir.write("broken.xml", "<languages><language id='X'");
    dir.write("missingfile.xml", "<languages><language id='X' codepage='1' file='nowhere.xml'/></languages>");
    dir.write("badroot.xml", "<languages><language id='X' codepage='1' file='t.xml'/></languages>");
    dir.write("t.xml", "<languages/>");
    dir.write("empty.xml", "<languages><other/></languages>");
    const std::string fixtureList = kFixtures + "/lang.xml";
    sqtest::CwdScope cwd(dir.path());
    struct {
        const char* list;
        const char* module;
    } cases[] = {
        {"absent.xml", "qxgui"},      {"notlist.xml", "qxgui"},
        {"broken.xml", "qxgui"},      {"missingfile.xml", "qxgui"},
        {"badroot.xml", "qxgui"},     {"empty.xml", "qxgui"},
        {nullptr, "qxgui"},
        {fixtureList.c_str(), "qxgui"},  // string-table file not in the working folder
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list ? c.list : "(null)");
        CStringTable table;
        EXPECT_EQ(table.Load(c.list, c.module, 0, nullptr, 0), -1);
        EXPECT_STREQ(table.GetString("job_done", 0, "dflt"), "dflt");
    }
    sqtest::CwdScope fixtures(kFixtures);
    CStringTable table;
    EXPECT_EQ(table.Load("lang.xml", "no_such_module", 0, nullptr, 0), -1);
}

struct LookupCase {
    const char* key;
    char prefix;
    const char* defValue;
    const char* expected;
};

const LookupCase kLookupCases[] = {
    {"job_done", 0, nullptr, "Job done"},  // a key defined twice keeps its first value
    {"START_JOB", 0, nullptr, "Starting %s"},
    {"A", 0, nullptr, "one letter"},
    {"zeta", 0, nullptr, "last bucket"},
    {"_underscore", 0, nullptr, "between the cases"},
    {"umlaut", 0, nullptr, "Grüße"},
    {"entities", 0, nullptr, "Tom & \"Jerry\" <é>\nline two"},  // references resolved, line feed kept
    {"empty", 0, "dflt", "dflt"},      // an empty value is not a translation
    {"empty", 0, nullptr, "empty"},
    {"novalue", 0, "dflt", "dflt"},    // no value attribute: not loaded
    {"note", 0, "dflt", "dflt"},       // not a string element
    {"later_table", 0, "dflt", "dflt"},
    {"missing", 0, "dflt", "dflt"},
    {"missing", 0, nullptr, "missing"},
    {"$job_done", '$', nullptr, "Job done"},
    {"$missing", '$', nullptr, "missing"},
    {"job_done", '$', "dflt", "job_done"},  // no prefix: returned unchanged
    {"1digit", 0, "dflt", ""},
    // First characters outside 'A'..'z' give "" and never index outside the buckets.
    {"@", 0, "dflt", ""},
    {"{x", 0, "dflt", ""},
    {"\x7f", 0, "dflt", ""},
    {"Ünicode", 0, "dflt", ""},
    {"\xff\xff", 0, "dflt", ""},
    {"", 0, "dflt", ""},
    {"$", '$', "dflt", ""},
    {"$1digit", '$', "dflt", ""},
};

TEST(StringTableTest, GetString) {
    sqtest::CwdScope cwd(kFixtures);
    CStringTable table;
    ASSERT_EQ(table.Load("lang.xml", "qxgui", 1, nullptr, 0), 0);
    for (const LookupCase& c : kLookupCases) {
        SCOPED_TRACE(c.key);
        EXPECT_STREQ(table.GetString(c.key, c.prefix, c.defValue), c.expected);
    }
    const char* key = "job_done";
    EXPECT_EQ(table.GetString(key, '$'), key);
    EXPECT_STREQ(table.GetString(nullptr, 0, "dflt"), "dflt");
}

TEST(StringTableTest, SecondLoadAppendsAndDestroyEmpties) {
    sqtest::CwdScope cwd(kFixtures);
    CStringTable table;
    ASSERT_EQ(table.Load("lang.xml", "qxgui", 1, nullptr, 0), 0);
    const char* kept = table.GetString("job_done");
    ASSERT_EQ(table.Load("lang.xml", "qxgui", 2, nullptr, 0), 0);
    EXPECT_STREQ(table.GetString("job_done"), "Job done");  // the first value stays
    EXPECT_STREQ(table.GetString("chinese_only"), "中文");
    EXPECT_STREQ(kept, "Job done");  // earlier results stay valid while loading more

    CStringTable copy(table);
    table.Destroy();
    EXPECT_STREQ(table.GetString("job_done", 0, "dflt"), "dflt");
    EXPECT_STREQ(copy.GetString("chinese_only"), "中文");  // a copy owns its strings

    ASSERT_EQ(table.Load("lang.xml", "qxgui", 2, nullptr, 0), 0);
    EXPECT_STREQ(table.GetString("job_done"), "任务完成");
}

}  // namespace

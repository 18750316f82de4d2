// The names of the window ids (ui/ids.h, written by scripts/ui_ids.py from data/ui): the ui code
// uses them and no number of a control, template, menu or command; the generator refuses templates
// whose ids it cannot name once.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/tempdir.h"
#include "ui/ids.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every id data/ui gives a window, menu, control or command. Numbers under 100 are left out: the
// standard buttons (1 to 5) share them with counts and indexes everywhere.
std::set<int> TemplateIds() {
    const fs::path data = fs::path(SQ_SOURCE_DIR) / "data" / "ui";
    std::vector<fs::path> files = {data / "accelerators.xml", data / "commands.xml"};
    for (const char* folder : {"dialogs", "menus"})
        for (const auto& entry : fs::directory_iterator(data / folder))
            if (entry.path().extension() == ".xml") files.push_back(entry.path());
    std::set<int> ids;
    const std::regex number(R"re(\b(?:id|cmd)="(\d+)")re");
    for (const fs::path& file : files) {
        const std::string text = Read(file);
        for (std::sregex_iterator m(text.begin(), text.end(), number), end; m != end; ++m)
            if (const int id = std::stoi((*m)[1]); id >= 100) ids.insert(id);
    }
    return ids;
}

// Comments and the insides of string and character literals become blanks; lines stay where
// they were.
std::string CodeOnly(const std::string& text) {
    std::string out = text;
    enum { kCode, kLine, kBlock, kString, kChar } state = kCode;
    for (size_t i = 0; i < out.size(); ++i) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        switch (state) {
        case kCode:
            if (c == '/' && next == '/') state = kLine;
            else if (c == '/' && next == '*') state = kBlock;
            else if (c == '"') state = kString;
            else if (c == '\'' && !(i > 0 && std::isxdigit(static_cast<unsigned char>(text[i - 1])))) state = kChar;
            if (state == kLine || state == kBlock) out[i] = ' ';
            continue;
        case kLine:
            if (c == '\n') state = kCode;
            else out[i] = ' ';
            continue;
        case kBlock:
            if (c == '*' && next == '/') {
                out[i] = out[i + 1] = ' ';
                ++i;
                state = kCode;
            } else if (c != '\n') {
                out[i] = ' ';
            }
            continue;
        case kString:
        case kChar:
            if (c == '\\') {
                out[i] = ' ';
                if (i + 1 < out.size()) out[++i] = ' ';
            } else if (c == (state == kString ? '"' : '\'')) {
                state = kCode;
            } else if (c != '\n') {
                out[i] = ' ';
            }
            continue;
        }
    }
    return out;
}

// Literal numbers where code names a control, window, menu or command: the argument of the
// window helpers, a case label, a comparison with an id, a row of a binding table, a command sent,
// a constant named as an id. Each hit whose number data/ui gives to something is "line: text".
std::vector<std::string> RawIds(const std::string& source, const std::set<int>& ids) {
    static const std::regex kPositions(
        R"re(\b(?:GetItem|SendItemMessage|SetItemText|GetItemText|SetItemInt|SetItemFloat|SetCheck|IsChecked|)re"
        R"re(SetComboSel|GetComboSel|GetComboText|SelectComboString|FillCombo|ShowMenu|ShowMenuAtCursor|)re"
        R"re(OnMenuCommand|OnControlCommand|SetRowKey|Row|CheckMenuItem|EnableMenuItem|CreateModeless|Create|)re"
        R"re(CreateDialogParamA|LoadMenuA|LoadAcceleratorsA|GetDlgItem)\s*\(\s*(?:[^(),;]+,\s*){0,2}?(\d+)\s*[,)+])re"
        R"re(|\bcase\s+(\d+)\s*:)re"
        R"re(|\b(?:id|command|idFrom|cmd)\s*[!=<>]=?\s*(\d+)\b)re"
        R"re(|\bWM_COMMAND\s*,\s*(\d+)\b)re"
        R"re(|\{\s*(\d+)\s*,\s*")re"
        R"re(|\bk(?:Id|Cmd)\w*\s*=\s*(\d+)\b)re"
        R"re(|\bk\w*(?:Template|Menu|Button|Combo|List|Label|Slider|Tree|Tab|Check|Edit)s?\b(?:\[\w*\])?\s*=\s*\{?\s*(\d+)\b)re");
    const std::string code = CodeOnly(source);
    std::vector<std::string> found;
    for (std::sregex_iterator m(code.begin(), code.end(), kPositions), end; m != end; ++m) {
        for (size_t group = 1; group < m->size(); ++group) {
            if (!(*m)[group].matched) continue;
            if (!ids.count(std::stoi((*m)[group]))) continue;
            const auto at = static_cast<size_t>(m->position(0));
            const size_t line = static_cast<size_t>(std::count(code.begin(), code.begin() + static_cast<long>(at), '\n')) + 1;
            const size_t from = source.rfind('\n', at) + 1;
            found.push_back(std::to_string(line) + ": " + source.substr(from, source.find('\n', at) - from));
        }
    }
    return found;
}

TEST(WindowIds, TheUiCodeNamesEveryIdItUses) {
    const std::set<int> ids = TemplateIds();
    ASSERT_GT(ids.size(), 150u);
    std::vector<std::string> raw;
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(SQ_SOURCE_DIR) / "ui")) {
        const auto ext = entry.path().extension();
        if (ext != ".cpp" && ext != ".h") continue;
        ++files;
        for (const std::string& hit : RawIds(Read(entry.path()), ids))
            raw.push_back(fs::relative(entry.path(), SQ_SOURCE_DIR).string() + ":" + hit);
    }
    EXPECT_GT(files, 50u);
    std::string list;
    for (const std::string& r : raw) list += "\n  " + r;
    EXPECT_TRUE(raw.empty()) << "numbers of data/ui ids in the ui code (use the names of ui/ids.h):" << list;
}

// The scan above would pass on code it cannot see into: each of these holds one raw id or none.
TEST(WindowIds, TheScanFindsANumberWhereAnIdGoes) {
    const std::set<int> ids = {101, 1067, 40014};
    const struct {
        const char* code;
        size_t hits;
    } cases[] = {
        {"EnableWindow(GetItem(1067), on);", 1},
        {"SendItemMessage(1067, CB_RESETCONTENT, 0, 0);", 1},
        {"switch (id) {\ncase 40014: Play(); break;\n}", 1},
        {"if (id == 1067) return true;", 1},
        {"const ControlBinding kRows[] = {{1067, \"overall.audio.channels\", 0, kComboBox}};", 1},
        {"gui::SendMessageA(main, gui::WM_COMMAND, 40014, 0);", 1},
        {"d.CreateModeless(nullptr, 101, parent);", 1},
        {"inline constexpr int kIdLog = 1067;", 1},
        {"constexpr int kCatalogCombos[5] = {1067, 1, 2, 3, 4};", 1},
        {"for (int i = 0; i < 16; ++i) SetCheck(1067 + i, on);", 1},
        // Names, other numbers, comments and texts are no hits.
        {"EnableWindow(GetItem(dlg::opt_audio::sample_rate), on);", 0},
        {"SetTimer(hwnd_, kTimer, 1067, nullptr);", 0},
        {"// GetItem(1067) was the combo\nint x = 0;", 0},
        {"Log(\"case 40014: old\");", 0},
        {"if (id == 1066) return true;", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(RawIds(c.code, ids).size(), c.hits) << c.code;
}

// The names reach the code as they stand in the templates.
TEST(WindowIds, TheHeaderHoldsTheTemplatesNames) {
    const std::string main = Read(fs::path(SQ_SOURCE_DIR) / "data/ui/dialogs/101-main.xml");
    EXPECT_NE(main.find("<dialog id=\"101\" name=\"main\""), std::string::npos);
    EXPECT_NE(main.find("id=\"1086\" name=\"log\""), std::string::npos);
    EXPECT_EQ(ui::dlg::main::id, 101);
    EXPECT_EQ(ui::dlg::main::log, 1086);
    EXPECT_EQ(ui::cmd::play, 40014);
    EXPECT_EQ(ui::menu::main, 110);
}

// scripts/ui_ids.py on a small data folder: it writes the names, and refuses what it cannot name
// once, saying where.
class IdHeaderGenerator : public ::testing::Test {
protected:
    void Write(const std::string& dialog, const std::string& menu, const std::string& keys, const std::string& commands) {
        dir.write("ui/dialogs/7-small.xml", dialog);
        dir.write("ui/menus/8-popup.xml", menu);
        dir.write("ui/accelerators.xml", keys);
        dir.write("ui/commands.xml", commands);
        dir.write("ui/images.xml", R"(<images><image id="9" name="logo" type="png" file="images/9.png"/></images>)");
    }
    // The script's exit status (0 when it wrote the header) and what it printed.
    int Run(std::string& printed) {
        const std::string command = "python3 " + std::string(SQ_SOURCE_DIR) + "/scripts/ui_ids.py " + dir.file("ui") + " " +
                                    dir.file("out/ui/ids.h") + " > " + dir.file("printed") + " 2>&1";
        const int status = std::system(command.c_str());
        printed = sqtest::ReadFile(dir.file("printed"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    sqtest::TempDir dir;
};

constexpr const char* kDialog = R"(<dialog id="7" name="small" w="10" h="10">
  <control id="-1" class="Static" w="5" h="5" caption="_label"/>
  <control id="1001" name="list" class="ListBox" w="5" h="5"/>
</dialog>)";
constexpr const char* kMenu = R"(<menu id="8" name="popup"><popup text="p"><item id="40001" name="open" text="o"/></popup></menu>)";
constexpr const char* kKeys = R"(<accelerators id="6" name="keys"><accel key="O" mods="ctrl" cmd="40001" name="open"/></accelerators>)";
constexpr const char* kCommands = R"(<commands><command id="40002" name="close"/>
  <group name="panel_cmd"><command id="40001" name="run"/></group></commands>)";

TEST_F(IdHeaderGenerator, WritesOneNamePerIdInItsScope) {
    Write(kDialog, kMenu, kKeys, kCommands);
    std::string printed;
    ASSERT_EQ(Run(printed), 0) << printed;
    const std::string header = sqtest::ReadFile(dir.file("out/ui/ids.h"));
    for (const char* line : {"namespace small {", "inline constexpr int id = 7;", "inline constexpr int list = 1001;",
                             "inline constexpr int popup = 8;", "inline constexpr int open = 40001;",
                             "inline constexpr int close = 40002;", "namespace panel_cmd {", "inline constexpr int run = 40001;",
                             "inline constexpr int keys = 6;", "inline constexpr int logo = 9;"})
        EXPECT_NE(header.find(line), std::string::npos) << line << "\n" << header;
    // Nothing changed: the header is left as it was, so that nothing that includes it is rebuilt.
    const auto written = fs::last_write_time(dir.file("out/ui/ids.h"));
    fs::last_write_time(dir.file("out/ui/ids.h"), written - std::chrono::hours(1));
    ASSERT_EQ(Run(printed), 0) << printed;
    EXPECT_EQ(fs::last_write_time(dir.file("out/ui/ids.h")), written - std::chrono::hours(1));
}

TEST_F(IdHeaderGenerator, RefusesIdsItCannotNameOnce) {
    const std::string dialog = kDialog;
    const struct {
        const char* what;
        std::string dialog, menu, keys;
        const char* says;
    } cases[] = {
        {"a control without a name", std::regex_replace(dialog, std::regex(R"( name="list")"), ""), kMenu, kKeys,
         "dialogs/7-small.xml: id 1001 has no name"},
        {"a name that is no identifier", std::regex_replace(dialog, std::regex(R"(name="list")"), R"(name="List-1")"), kMenu,
         kKeys, "name \"List-1\" is not a lower-case identifier"},
        {"a C++ keyword", std::regex_replace(dialog, std::regex(R"(name="list")"), R"(name="delete")"), kMenu, kKeys,
         "name \"delete\" is a C++ keyword"},
        {"one name for two controls",
         std::regex_replace(dialog, std::regex("</dialog>"), R"(<control id="1002" name="list" class="Edit" w="5" h="5"/></dialog>)"),
         kMenu, kKeys, "name \"list\" is 1001 elsewhere in dialog small, here 1002"},
        {"a command named two ways", dialog, kMenu,
         R"(<accelerators id="6" name="keys"><accel key="O" cmd="40001" name="open_file"/></accelerators>)",
         "id 40001 is named \"open\" elsewhere, here \"open_file\""},
    };
    for (const auto& c : cases) {
        Write(c.dialog, c.menu, c.keys, kCommands);
        std::string printed;
        EXPECT_EQ(Run(printed), 1) << c.what;
        EXPECT_NE(printed.find(c.says), std::string::npos) << c.what << ": " << printed;
    }
}

}  // namespace

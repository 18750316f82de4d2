// Controls bound to keys of the shipped definitions: what a user types, picks, drags and checks
// lands in the preference tree, the page shows it back, and a revert shows the defaults again.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_api.h"
#include "engine/prefs/preffiles.h"
#include "platform/gui/driver.h"
#include "platform/gui/resources.h"
#include "support/shipped_data.h"
#include "support/tempdir.h"
#include "ui/framework/dialog.h"

using namespace gui;
using ui::CDialogWindow;
using ui::ControlBinding;

namespace {

constexpr int kPage = 6001;

// One control of every kind, as the resource files write them.
const char* const kPageXml = R"(
<dialog id="6001" name="bound" w="300" h="200" caption="bound" style="WS_POPUP WS_CAPTION WS_VISIBLE">
  <control id="1001" class="Edit" x="4" y="4" w="60" h="12" style="WS_TABSTOP"/>
  <control id="1002" class="Edit" x="4" y="20" w="60" h="12"/>
  <control id="1003" class="Edit" x="4" y="36" w="60" h="12"/>
  <control id="1004" class="Edit" x="4" y="52" w="60" h="12"/>
  <control id="1005" class="ComboBox" x="80" y="4" w="60" h="80" style="CBS_DROPDOWNLIST"/>
  <control id="1006" class="ComboBox" x="80" y="20" w="60" h="80" style="CBS_DROPDOWNLIST"/>
  <control id="1007" class="ComboBox" x="80" y="36" w="60" h="80" style="CBS_DROPDOWN"/>
  <control id="1008" class="Button" x="150" y="4" w="60" h="12" style="BS_AUTOCHECKBOX"/>
  <control id="1009" class="Button" x="150" y="20" w="60" h="12" style="BS_AUTORADIOBUTTON WS_GROUP"/>
  <control id="1010" class="Button" x="150" y="36" w="60" h="12" style="BS_AUTORADIOBUTTON"/>
  <control id="1011" class="Button" x="150" y="52" w="60" h="12" style="BS_AUTORADIOBUTTON"/>
  <control id="1012" class="Button" x="150" y="68" w="60" h="12" style="BS_PUSHBUTTON WS_GROUP"/>
  <control id="1013" class="msctls_trackbar32" x="4" y="80" w="120" h="14"/>
  <control id="1014" class="Button" x="150" y="84" w="60" h="12" style="BS_AUTO3STATE"/>
  <control id="1015" class="Button" x="150" y="100" w="60" h="12" style="BS_GROUPBOX"/>
  <control id="1016" class="ComboBox" x="80" y="52" w="60" h="80" style="CBS_DROPDOWNLIST"/>
</dialog>)";

ControlBinding g_rows[] = {
    {1001, "overall.task.parallelize", 0, 0},      // int 1..8
    {1002, "overall.generic.encodingSpeed", 2, 0},  // float 0..16, two decimals
    {1003, "overall.task.destdir", 0, 0},           // folder
    {1004, "overall.task.renPostfix", 0, 0},        // string
    {1005, "overall.generic.priority", 0, 0},       // enum
    {1006, "overall.task.saveQueue", 0, 0},         // int 0..2 on a list
    {1007, "overall.generic.logfile", 0, 0},        // file on an editable combo
    {1008, "overall.generic.logging", 0, 0},        // bool
    {1009, "overall.task.overwrite", 0, 0},         // radio group
    {1010, "overall.task.overwrite", 1, 0},
    {1011, "overall.task.overwrite", 2, 0},
    {1012, "overall.task.keepTemp", 0, 0},          // bool on a push button
    {1013, "overall.subtitle.blur", 0, 0},          // float 0..8 on a trackbar
    {1014, "overall.task.removeDone", 0, 0},
    {1015, "overall.task.renameCopy", 0, 0},
    {1016, "overall.task.loops", 0, 0},             // int 1..100: no number list
    {0, nullptr, 0, 0},
};

class BoundPage : public CDialogWindow {
public:
    ControlBinding* GetBindings() override { return g_rows; }
    std::vector<int> hooks;
    bool OnControlEditChange(int id) override { return hooks.push_back(id), true; }
    bool OnControlCommand(int id) override { return hooks.push_back(id), true; }
    bool OnControlSelChange(int id) override { return hooks.push_back(id), true; }
};

// The key's value as text.
std::string Stored(const char* key) {
    PrefInfo info;
    GetPrefInfo(key, 1, &info);
    char buf[64];
    switch (info.type) {
    case 4: std::snprintf(buf, sizeof buf, "%g", static_cast<double>(GetPrefFloat(key))); return buf;
    case 5:
    case 6:
    case 7: return GetPrefString(key);
    default: return std::to_string(GetPrefInt(key));
    }
}

class BindingTest : public ::testing::Test {
protected:
    std::shared_ptr<LiteralResources> resources = std::make_shared<LiteralResources>();
    gui::testing::Driver drv{[](const std::string& what) { ADD_FAILURE() << what; }, Options()};
    BoundPage page;
    HWND h = nullptr;

    gui::testing::Driver::Options Options() {
        DialogTemplate t;
        std::string error;
        EXPECT_TRUE(ParseDialogXml(kPageXml, t, error)) << error;
        resources->Add(t);
        gui::testing::Driver::Options o;
        o.resources = resources;
        return o;
    }
    void SetUp() override {
        ASSERT_EQ(LoadPrefDefinitions(false, sqtest::DataFile("qxcore.xml").c_str(), 0, "QuorvexPrefs"), 0);
        const auto cwd = std::filesystem::current_path();
        std::filesystem::current_path(std::filesystem::path(sqtest::DataFile("lang.xml")).parent_path());
        ASSERT_EQ(ui::UiStrings().Load("lang.xml", "qxgui", 0, nullptr, 0), 0);
        std::filesystem::current_path(cwd);
        h = page.CreateModeless(nullptr, kPage, static_cast<HWND>(nullptr));
        ASSERT_NE(h, nullptr);
        page.LoadControls();
    }
    void TearDown() override {
        page.Close();
        drv.Pump();
        ui::UiStrings().Destroy();
    }
    HWND Item(int id) { return drv.Find(h, id); }
    std::vector<int> Radios() { return {drv.Check(Item(1009)), drv.Check(Item(1010)), drv.Check(Item(1011))}; }
};

TEST_F(BindingTest, BindingLearnsEachControlsKindFromItsClassAndStyle) {
    struct Case {
        int id;
        uint32_t kind;
        uint32_t value;
    };
    // Tri-state boxes and group boxes are push buttons to the binding, never radio buttons.
    const Case cases[] = {{1001, ui::kTextField, 0}, {1005, ui::kComboBox, 1}, {1007, ui::kComboBox, 0},
                          {1008, ui::kCheckBox, 0},  {1009, ui::kRadioButton, 0}, {1011, ui::kRadioButton, 2},
                          {1012, ui::kPushButton, 0}, {1013, ui::kTrackbar, 0}, {1014, ui::kPushButton, 0},
                          {1015, ui::kPushButton, 0}};
    for (const auto& c : cases) {
        const ControlBinding* row = nullptr;
        for (const ControlBinding* r = g_rows; r->id; ++r)
            if (static_cast<int>(r->id) == c.id) row = r;
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->kind, c.kind) << c.id;
        EXPECT_EQ(row->value, c.value) << c.id;
    }
    EXPECT_EQ(drv.Items(Item(1005)).front(), "Automatic");
    EXPECT_EQ(drv.Items(Item(1006)), (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_TRUE(drv.Items(Item(1016)).empty());  // maximum 100: no list of numbers
}

TEST_F(BindingTest, UserInputIsStoredAndShownBackAndRevertShowsTheDefaults) {
    struct Step {
        const char* what;
        std::function<bool(gui::testing::Driver&, HWND)> act;
        int id;
        const char* key;
        std::string stored;
        std::string shown;  // the control's text, or its check, selection or position as a number
    };
    auto type = [](std::string t) { return [t](gui::testing::Driver& d, HWND c) { return d.SetTextAsUser(c, t); }; };
    auto pick = [](int i) { return [i](gui::testing::Driver& d, HWND c) { return d.PickCombo(c, i); }; };
    auto click = [](gui::testing::Driver& d, HWND c) { return d.Click(c); };
    const std::vector<Step> steps = {
        {"int in range", type("4"), 1001, "overall.task.parallelize", "4", "4"},
        {"int above range: kept as typed, not stored", type("9"), 1001, "overall.task.parallelize", "4", "9"},
        {"int that overflows", type("99999999999"), 1001, "overall.task.parallelize", "4", "99999999999"},
        {"float", type("2.5"), 1002, "overall.generic.encodingSpeed", "2.5", "2.5"},
        {"float above range", type("17"), 1002, "overall.generic.encodingSpeed", "2.5", "17"},
        {"folder placeholder is not stored", type("<x>"), 1003, "overall.task.destdir", "", "<x>"},
        {"folder", type("/music/Ünïcode"), 1003, "overall.task.destdir", "/music/Ünïcode", "/music/Ünïcode"},
        {"string with markup", type("<a&b>\"ü\""), 1004, "overall.task.renPostfix", "<a&b>\"ü\"", "<a&b>\"ü\""},
        {"enum list", pick(2), 1005, "overall.generic.priority", "2", "Lowest"},
        {"int list", pick(1), 1006, "overall.task.saveQueue", "1", "1"},
        {"file combo typed", [](gui::testing::Driver& d, HWND c) { return d.TypeCombo(c, "/tmp/a.log"); }, 1007,
         "overall.generic.logfile", "/tmp/a.log", "/tmp/a.log"},
        {"check box", click, 1008, "overall.generic.logging", "1", "1"},
        {"radio of value 2", click, 1011, "overall.task.overwrite", "2", "2"},
        {"push button toggles", click, 1012, "overall.task.keepTemp", "1", "1"},
        {"trackbar drag ends at 7", [](gui::testing::Driver& d, HWND c) { return d.DragTrack(c, {30, 45, 7}); },
         1013, "overall.subtitle.blur", "0.7", "7"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        ASSERT_TRUE(s.act(drv, Item(s.id)));
        drv.Pump();
        EXPECT_EQ(Stored(s.key), s.stored);
        HWND c = Item(s.id);
        std::string shown;
        switch (s.id) {
        case 1008: shown = std::to_string(drv.Check(c)); break;
        case 1011: shown = std::to_string(Radios()[0] * 0 + Radios()[1] * 1 + Radios()[2] * 2); break;
        case 1012: shown = drv.Pushed(c) ? "1" : "0"; break;
        case 1013: shown = std::to_string(drv.Position(c)); break;
        default: shown = drv.Text(c);
        }
        EXPECT_EQ(shown, s.shown);
    }
    EXPECT_EQ(Radios(), (std::vector<int>{0, 0, 1}));  // the refill checks only the chosen radio

    RevertPrefs();
    page.LoadControls();
    EXPECT_EQ(drv.Text(Item(1001)), "1");
    EXPECT_EQ(drv.Text(Item(1002)), "0.00");
    EXPECT_EQ(drv.Text(Item(1003)), "<original folder>");
    EXPECT_EQ(drv.Text(Item(1004)), "_old");
    EXPECT_EQ(drv.Text(Item(1005)), "Automatic");
    EXPECT_EQ(drv.Text(Item(1007)), "/tmp/a.log");  // the log settings are kept by a revert
    EXPECT_EQ(drv.Check(Item(1008)), 1);
    EXPECT_EQ(Radios(), (std::vector<int>{1, 0, 0}));
    EXPECT_FALSE(drv.Pushed(Item(1012)));
    EXPECT_EQ(drv.Position(Item(1013)), 20);
}

TEST_F(BindingTest, TrackbarStoresOnlyWhenTheDragEnds) {
    HWND track = Item(1013);
    // Mid-drag positions arrive as thumb-track codes: nothing is stored until the release.
    SendMessageA(h, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 40), reinterpret_cast<LPARAM>(track));
    EXPECT_EQ(Stored("overall.subtitle.blur"), "2");
    ASSERT_TRUE(drv.DragTrack(track, {55}));
    EXPECT_EQ(Stored("overall.subtitle.blur"), "5.5");
    EXPECT_EQ(drv.Position(track), 55);
}

TEST_F(BindingTest, RefillLeavesTheFieldBeingTypedIntoAlone) {
    // Typing "1" then "12" into a float field: the refill after each change must not rewrite the
    // text into "1.00", or the user could not go on typing.
    ASSERT_TRUE(drv.SetTextAsUser(Item(1002), ""));
    ASSERT_TRUE(drv.TypeKeys(Item(1002), "12"));
    EXPECT_EQ(drv.Text(Item(1002)), "12");
    EXPECT_EQ(Stored("overall.generic.encodingSpeed"), "12");
    // Another control's change refills the field from the store.
    ASSERT_TRUE(drv.Click(Item(1008)));
    EXPECT_EQ(drv.Text(Item(1002)), "12.00");
}

TEST_F(BindingTest, BoundTextRoundTripsThroughTheSavedValuesFile) {
    sqtest::TempDir dir;
    const std::string text = "<a&b>\"ü\" 日本";
    ASSERT_TRUE(drv.SetTextAsUser(Item(1004), text));
    const std::string file = (dir.path() / "prefs.xml").string();
    ASSERT_EQ(SavePrefs(file.c_str(), nullptr), 0);
    RevertPrefs();
    ASSERT_EQ(Stored("overall.task.renPostfix"), "_old");
    ASSERT_EQ(LoadPrefsFile(file.c_str(), 0, nullptr), 0);
    page.LoadControls();
    EXPECT_EQ(Stored("overall.task.renPostfix"), text);
    EXPECT_EQ(drv.Text(Item(1004)), text);
}

TEST_F(BindingTest, NotificationsDuringARefillWriteNothing) {
    // The loaded values differ from what the controls show, and the refill's own EN_CHANGE
    // notifications must not write the controls' old texts back.
    SetPrefInt("overall.task.parallelize", 3);
    SetPrefString("overall.task.renPostfix", "_new");
    page.LoadControls();
    EXPECT_EQ(Stored("overall.task.parallelize"), "3");
    EXPECT_EQ(Stored("overall.task.renPostfix"), "_new");
    EXPECT_EQ(drv.Text(Item(1001)), "3");
    EXPECT_TRUE(page.hooks.empty());
}

}  // namespace

// Dialog templates: the XML form, its errors, the resource folder, and what creating a dialog
// from a template does.
#include <fstream>

#include "gui_fixture.h"
#include "support/tempdir.h"

namespace {

using namespace gui;
using sqtest::Ctl;
using sqtest::Dlg;

TEST(DialogXml, ShippedTemplatesLoad) {
    XmlResourceFolder folder;
    std::string error;
    ASSERT_TRUE(folder.Load(std::string(SQ_SOURCE_DIR) + "/data/ui", error)) << error;
    auto t = folder.FindDialog(nullptr, 293);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->caption, "_prompt");
    EXPECT_EQ(t->style, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
    ASSERT_EQ(t->controls.size(), 5u);
    EXPECT_TRUE(t->controls[1].hidden);
    EXPECT_EQ(t->controls[1].style, SS_NOTIFY);
    EXPECT_EQ(t->controls[3].style, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP);
}

TEST(DialogXml, BadTemplatesFailWithAClearError) {
    const std::string head = R"(<dialog id="9" w="10" h="10">)";
    struct Case {
        const char* name;
        std::string xml;
        const char* error;
    } cases[] = {
        {"unknown class", head + R"(<control id="1" class="Fancy" w="1" h="1"/></dialog>)", "unknown class \"Fancy\""},
        {"repeated id", head + R"(<control id="1" class="Edit" w="1" h="1"/><control id="1" class="Static" w="1" h="1"/></dialog>)",
         "control 1: the id is used twice"},
        {"unknown style", head + R"(<control id="1" class="Edit" w="1" h="1" style="ES_SHOUTING"/></dialog>)",
         "unknown style ES_SHOUTING"},
        {"style of another class", head + R"(<control id="1" class="Edit" w="1" h="1" style="BS_AUTOCHECKBOX"/></dialog>)",
         "does not fit the class"},
        {"sorted list", head + R"(<control id="1" class="ListBox" w="1" h="1" style="LBS_SORT"/></dialog>)",
         "sorted lists are not supported"},
        {"sorted list by number", head + R"(<control id="1" class="ComboBox" w="1" h="1" style="0x103"/></dialog>)",
         "sorted lists are not supported"},
        {"huge control", head + R"(<control id="1" class="Edit" w="2000000000" h="1"/></dialog>)",
         "control 1: a position or size is out of range"},
        {"huge dialog", R"(<dialog id="9" w="10" h="10" x="-40000"/>)", "dialog 9: a position or size is out of range"},
        {"no id", R"(<dialog w="1" h="1"/>)", "\"id\" is missing"},
        {"id not a number", R"(<dialog id="12a" w="1" h="1"/>)", "not a number"},
        {"unknown element", head + R"(<button id="1"/></dialog>)", "unknown element <button>"},
        {"wrong root", R"(<menu id="1"/>)", "not a <dialog>"},
        {"not xml", "", "not XML"},
        {"unclosed dialog", head + R"(<control id="1" class="Edit" w="1" h="1"/>)", "not well-formed XML"},
        {"cut after the first control", head + R"(<control id="1" class="Edit" w="1" h="1"/><control id="2" cl)",
         "not well-formed XML"},
        {"mismatched end tag", head + R"(<control id="1" class="Edit" w="1" h="1"></dialog>)", "not well-formed XML"},
    };
    for (const auto& c : cases) {
        DialogTemplate t;
        std::string error;
        EXPECT_FALSE(ParseDialogXml(c.xml, t, error)) << c.name;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
    }
    // Labels may share the anonymous id.
    DialogTemplate t;
    std::string error;
    EXPECT_TRUE(ParseDialogXml(head + R"(<control id="-1" class="Static" w="1" h="1"/><control id="-1" class="Static" w="1" h="1"/></dialog>)",
                               t, error))
        << error;
}

TEST(DialogXml, FolderChecksNamesAndIds) {
    sqtest::TempDir dir;
    std::filesystem::create_directories(dir.path() / "dialogs");
    auto write = [&](const std::string& name, int id) {
        std::ofstream(dir.path() / "dialogs" / name) << "<dialog id=\"" << id << "\" w=\"10\" h=\"10\"/>";
    };
    write("10-good.xml", 10);
    write("11-wrongname.xml", 12);
    write("13-a.xml", 13);
    write("13-b.xml", 13);
    std::ofstream(dir.path() / "dialogs" / "14-broken.xml") << "<dialog id=\"14\"";
    XmlResourceFolder folder;
    std::string error;
    EXPECT_FALSE(folder.Load(dir.path().string(), error));
    EXPECT_NE(error.find("11-wrongname.xml: the file name does not start with the id 12"), std::string::npos) << error;
    EXPECT_NE(error.find("13-b.xml: the id 13 is used by another file"), std::string::npos) << error;
    EXPECT_NE(error.find("14-broken.xml: not well-formed XML"), std::string::npos) << error;
    EXPECT_EQ(folder.DialogIds(), (std::vector<int>{10, 13})) << "what was read stays available";
}

TEST(ResourceImages, ListedPicturesAndModules) {
    sqtest::TempDir dir;
    std::filesystem::create_directories(dir.path() / "images");
    std::ofstream(dir.path() / "images" / "splash.png", std::ios::binary) << std::string("\x89PNG\0data", 9);
    std::ofstream(dir.path() / "images.xml") << R"(<images>
        <image id="299" type="png" file="images/splash.png"/>
        <image id="300" type="gif" file="images/splash.png"/>
        <image id="301" type="png" file="../secret.png"/>
        <image id="302" type="png" file="images/missing.png"/>
        <image id="299" type="png" file="images/splash.png"/>
      </images>)";
    auto folder = std::make_shared<XmlResourceFolder>();
    std::string error;
    EXPECT_FALSE(folder->Load(dir.path().string(), error));
    for (const char* e : {"image 300: unknown type \"gif\"", "image 301: the file must lie in the resource folder",
                          "image 302: cannot read", "image 299: the id is used twice"})
        EXPECT_NE(error.find(e), std::string::npos) << e << "\n" << error;
    SetResourceProvider(folder);
    EXPECT_EQ(LoadResourceBytes(nullptr, 299), std::optional<std::string>(std::string("\x89PNG\0data", 9)));
    EXPECT_FALSE(LoadResourceBytes(nullptr, 300));

    // A registered library answers for its own instance only.
    auto library = reinterpret_cast<HINSTANCE>(0x5000);
    RegisterResourceModule(library, [](int id) -> std::optional<std::string> {
        if (id == 292) return std::string("png 292");
        return std::nullopt;
    });
    EXPECT_EQ(LoadResourceBytes(library, 292), std::optional<std::string>("png 292"));
    EXPECT_FALSE(LoadResourceBytes(library, 299));
    EXPECT_FALSE(LoadResourceBytes(nullptr, 292));
    RegisterResourceModule(library, nullptr);
    SetResourceProvider(nullptr);
}

class Templates : public sqtest::GuiTest {};

// Every resource shipped in data/ui loads, and every dialog and menu in it can be made.
TEST_F(Templates, EveryShippedResourceLoadsAndIsMade) {
    auto folder = std::make_shared<XmlResourceFolder>();
    std::string error;
    ASSERT_TRUE(folder->Load(std::string(SQ_SOURCE_DIR) + "/data/ui", error)) << error;
    SetResourceProvider(folder);
    HWND host = MakeWindow();
    ASSERT_FALSE(folder->DialogIds().empty());
    for (int id : folder->DialogIds()) {
        HWND d = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(id), host, sqtest::RecordingDlgProc, 0);
        EXPECT_NE(d, nullptr) << id << ": " << LastTemplateError();
        DestroyWindow(d);
    }
    for (int id : folder->MenuIds()) {
        HMENU m = LoadMenuA(nullptr, MAKEINTRESOURCEA(id));
        EXPECT_NE(m, nullptr) << id;
        DestroyMenu(m);
    }
    DestroyWindow(host);
}


TEST_F(Templates, CreationFailsCleanlyOnABadTemplate) {
    struct Case {
        const char* name;
        DialogTemplate t;
        const char* error;
    } cases[] = {
        {"unknown class", Dlg(400, WS_POPUP, {Ctl(1, "NoSuchClass")}), "unknown class \"NoSuchClass\""},
        {"repeated id", Dlg(401, WS_POPUP, {Ctl(1, kEditClass), Ctl(1, kButtonClass)}), "the id is used twice"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(OpenDialog(c.t), nullptr) << c.name;
        EXPECT_NE(LastTemplateError().find(c.error), std::string::npos) << c.name << ": " << LastTemplateError();
        EXPECT_EQ(drv.LiveWindows(), 0u) << c.name;
    }
    EXPECT_EQ(CreateDialogParamA(nullptr, MAKEINTRESOURCEA(499), nullptr, sqtest::RecordingDlgProc, 0), nullptr);
    EXPECT_EQ(LastTemplateError(), "no dialog template 499");
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(499), nullptr, sqtest::RecordingDlgProc, 0), -1);
}

TEST_F(Templates, DialogFromTheShippedPromptTemplate) {
    auto folder = std::make_shared<XmlResourceFolder>();
    std::string error;
    ASSERT_TRUE(folder->Load(std::string(SQ_SOURCE_DIR) + "/data/ui", error)) << error;
    SetResourceProvider(folder);
    HWND d = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(293), nullptr, sqtest::RecordingDlgProc, 77);
    ASSERT_NE(d, nullptr) << LastTemplateError();

    // The dialog hears WM_GETMINMAXINFO, then WM_INITDIALOG with the first tab stop and the parameter.
    std::vector<UINT> life;
    for (const auto& r : log.all)
        if (r.hwnd == d && (r.msg == WM_GETMINMAXINFO || r.msg == WM_INITDIALOG)) life.push_back(r.msg);
    EXPECT_EQ(life, (std::vector<UINT>{WM_GETMINMAXINFO, WM_INITDIALOG}));
    for (const auto& r : log.all) {
        if (r.msg != WM_INITDIALOG) continue;
        EXPECT_EQ(r.lParam, 77);
        EXPECT_EQ(reinterpret_cast<HWND>(r.wParam), drv.Find(d, 1243));
    }
    EXPECT_EQ(drv.TemplateOf(d), 293);
    EXPECT_FALSE(drv.Visible(d)) << "no WS_VISIBLE: a modeless dialog waits to be shown";
    EXPECT_EQ(drv.Text(d), "_prompt") << "captions stay verbatim";
    EXPECT_FALSE(drv.Visible(drv.Find(d, 1245)));
    EXPECT_EQ(GetWindowLongPtrA(drv.Find(d, 1245), GWL_STYLE) & (WS_CHILD | WS_VISIBLE), WS_CHILD);
    EXPECT_EQ(GetWindowLongPtrA(drv.Find(d, 1244), GWL_STYLE) & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);

    // Dialog units: x * 6 / 4 and y * 13 / 8; the client area is the template's size.
    RECT client, r1;
    GetClientRect(d, &client);
    EXPECT_EQ(client.right, 222 * 6 / 4);
    EXPECT_EQ(client.bottom, 90 * 13 / 8);
    GetWindowRect(drv.Find(d, 1), &r1);
    RECT dr;
    GetWindowRect(d, &dr);
    EXPECT_EQ(r1.left - dr.left, 3 + 110 * 6 / 4);  // frame 3, caption 23
    EXPECT_EQ(r1.top - dr.top, 3 + 23 + 70 * 13 / 8);
    EXPECT_EQ(r1.right - r1.left, 50 * 6 / 4);

    ShowWindow(d, SW_SHOW);
    EXPECT_EQ(drv.Focus(), drv.Find(d, 1243)) << "WM_INITDIALOG answered TRUE: the first tab stop";
    drv.Key(VK_RETURN);
    log.Clear();
    drv.Pump();
    EXPECT_EQ(log.Commands(), (std::vector<std::pair<int, int>>{{IDOK, BN_CLICKED}})) << "the default button";
    DestroyWindow(d);
}

}  // namespace

// A drop-down combo box is one line high whatever height its template or a move gives it (that
// height is its list's); a simple combo box keeps the height it is given.
TEST_F(Templates, DropDownComboBoxesAreOneLineHigh) {
    const struct {
        DWORD style;
        int templateHeight;
        int shownHeight;  // pixels; the base units here are 6 x 13
    } cases[] = {
        {CBS_DROPDOWNLIST, 80, 13 + 8},
        {CBS_DROPDOWN, 120, 13 + 8},
        {CBS_DROPDOWNLIST, 8, 13 + 8},
        {CBS_SIMPLE, 80, 80 * 13 / 8},
    };
    int id = 410;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.style);
        ControlTemplate combo = sqtest::Ctl(1, kComboBoxClass, c.style);
        combo.h = c.templateHeight;
        HWND d = OpenDialog(sqtest::Dlg(id++, WS_POPUP, {combo}));
        ASSERT_NE(d, nullptr) << LastTemplateError();
        HWND h = drv.Find(d, 1);
        EXPECT_EQ(drv.Rect(h).bottom - drv.Rect(h).top, c.shownHeight);
        MoveWindow(h, 0, 0, 100, 200, TRUE);
        EXPECT_EQ(drv.Rect(h).bottom - drv.Rect(h).top, c.style == CBS_SIMPLE ? 200 : c.shownHeight);
        EXPECT_EQ(drv.Rect(h).right - drv.Rect(h).left, 100);
        DestroyWindow(d);
    }
}

// The plug-in window calls: a panel from XML text, made from the UI thread or a plug-in's own
// thread, embedded in a host window and driven through the C functions.
#include "gui_fixture.h"
#include "platform/gui/plugin.h"

namespace {

using namespace gui;

class PluginAbi : public sqtest::GuiTest {};

const char kPanel[] = R"(<dialog id="7000" w="100" h="40" style="WS_CHILD">
  <control id="10" class="Edit" x="4" y="4" w="60" h="12" style="WS_TABSTOP"/>
  <control id="11" class="Button" x="70" y="4" w="26" h="12" style="BS_AUTOCHECKBOX" caption="On"/>
</dialog>)";

TEST_F(PluginAbi, PanelFromXmlEmbeddedInAHost) {
    HWND host = MakeWindow();
    void* panel = qxgui_CreateDialogXml(kPanel, sizeof kPanel - 1, host, sqtest::RecordingDlgProc, 5);
    ASSERT_NE(panel, nullptr) << LastTemplateError();
    EXPECT_EQ(GetParent(static_cast<HWND>(panel)), host);
    ShowWindow(static_cast<HWND>(panel), SW_SHOW);  // the host shows the panel it embeds
    void* edit = qxgui_GetDlgItem(panel, 10);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(qxgui_SetWindowText(edit, "48000"));
    EXPECT_EQ(drv.Text(static_cast<HWND>(edit)), "48000");
    EXPECT_TRUE(drv.Click(static_cast<HWND>(qxgui_GetDlgItem(panel, 11))));
    EXPECT_EQ(qxgui_SendMessage(qxgui_GetDlgItem(panel, 11), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(log.Commands().back(), (std::pair<int, int>{11, BN_CLICKED}));

    HWND other = MakeWindow();
    EXPECT_EQ(qxgui_SetParent(panel, other), host);
    EXPECT_TRUE(qxgui_PostMessage(panel, WM_USER, 1, 2));
    EXPECT_TRUE(qxgui_DestroyWindow(panel));
    EXPECT_FALSE(qxgui_PostMessage(panel, WM_USER, 1, 2));
    DestroyWindow(other);
    DestroyWindow(host);
}

TEST_F(PluginAbi, BadTextIsRefusedAndWorkersGetPanelsToo) {
    const std::string cut(kPanel, 60);
    EXPECT_EQ(qxgui_CreateDialogXml(cut.data(), cut.size(), nullptr, sqtest::RecordingDlgProc, 0), nullptr);
    EXPECT_NE(LastTemplateError().find("plug-in dialog: not well-formed XML"), std::string::npos) << LastTemplateError();

    HWND host = MakeWindow();
    void* panel = nullptr;
    sqtest::Worker worker([&] { panel = qxgui_CreateDialogXml(kPanel, sizeof kPanel - 1, host, sqtest::RecordingDlgProc, 0); });
    JoinServing(worker);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(GetParent(static_cast<HWND>(panel)), host);
    DestroyWindow(host);
}

}  // namespace

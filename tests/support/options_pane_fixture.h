// The running program (in-process, headless) with its main window's option tabs, and the steps a
// user takes to reach a tab or an encoder page.
#pragma once

#include <gtest/gtest.h>

#include "support/shell_run.h"
#include "ui/options/options_pane.h"

namespace sqtest {

class OptionsPaneFixture : public ::testing::Test {
public:
    // Starts the program and finds its options pane.
    void StartWithPane() {
        ASSERT_EQ(run.Start(""), 0);
        pane = ui::OptionsPane();
        ASSERT_NE(pane, nullptr);
    }

    gui::testing::Driver& d() { return run.driver(); }
    gui::HWND PaneItem(int id) { return d().Find(pane->Handle(), id); }
    gui::HWND TabItem(int id) { return d().Find(pane->Tab()->Handle(), id); }
    gui::HWND PageItem(int id) { return d().Find(pane->SubPage()->Handle(), id); }
    // Shows the tab afresh (a tab picked again would not be built again).
    void ChooseTab(int index) {
        if (pane->TabIndex() == index) {
            ASSERT_TRUE(d().PickTab(PaneItem(ui::dlg::options::option_tabs), index == 0 ? 1 : 0));
        }
        ASSERT_TRUE(d().PickTab(PaneItem(ui::dlg::options::option_tabs), index));
    }
    void ChooseEncoderPage(int encoderId) {
        ChooseTab(0);
        ASSERT_TRUE(d().PickTab(PaneItem(ui::dlg::options::encoder_tabs), encoderId + 1));
        ASSERT_NE(pane->SubPage(), nullptr);
    }

    ShellRun run;
    ui::COptionsPane* pane = nullptr;
};

}  // namespace sqtest

// The program started in this process with its main window up, for tests that act on that window.
#pragma once

#include <gtest/gtest.h>

#include "platform/gui/driver.h"
#include "support/shell_run.h"
#include "ui/main/shell.h"

namespace sqtest {

class ProgramWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(run.Start(""), 0);
        main = ui::Shell().mainHwnd.load();
        ASSERT_NE(main, nullptr);
    }

    gui::testing::Driver& driver() { return run.driver(); }
    // Chooses an entry of the main window's menu and lets its effect happen.
    void Choose(gui::UINT id) {
        ASSERT_TRUE(driver().ChooseMenu(main, id)) << id;
        driver().Pump();
    }

    ShellRun run;
    gui::HWND main = nullptr;
};

}  // namespace sqtest

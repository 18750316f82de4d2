// The program started in this process on the headless test driver: the build's output folder as
// the program folder, a temporary data folder ($APPDATA) holding a prefs.xml that lets the control
// server take any free port, and the shell's state reset before and after.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/gui/driver.h"
#include "support/tempdir.h"

namespace sqtest {

class ShellRun {
public:
    // extraPrefs: more <node key="...">value</node> lines for the data folder's prefs.xml;
    // programFolder: the program's folder (the build's output folder when empty).
    explicit ShellRun(const std::string& extraPrefs = "", const std::string& programFolder = "");
    ~ShellRun();
    ShellRun(const ShellRun&) = delete;
    ShellRun& operator=(const ShellRun&) = delete;

    gui::testing::Driver& driver() { return *driver_; }
    // The data folder (with its trailing '/').
    std::string dataFolder() const { return appData_.path().string() + "/Sonquill/"; }
    const TempDir& files() const { return files_; }

    // StartProgram with the text; 0 when the main window is up.
    int Start(const std::string& commandLine);
    // Closes the main window, pumps its end and shuts the program down; the exit code.
    int Finish(int exitCode = 0);
    bool started() const { return started_; }

    // The file list's list view, its rows as the user sees them, and one column's texts.
    gui::HWND listView();
    std::vector<gui::testing::RowRecord> rows();
    std::vector<std::string> column(int column);

private:
    TempDir appData_;
    TempDir files_;
    std::string oldAppData_, oldPath_, oldCwd_;
    bool hadAppData_ = false;
    std::unique_ptr<gui::testing::Driver> driver_;
    bool started_ = false;
    bool finished_ = false;
};

}  // namespace sqtest

#include "support/shell_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/fs.h"
#include "platform/gui/resources.h"
#include "ui/filelist/file_list.h"
#include "ui/main/shell.h"

namespace sqtest {

ShellRun::ShellRun(const std::string& extraPrefs, const std::string& programFolder) {
    const std::string program = programFolder.empty() ? std::string(SQ_OUT_DIR) : programFolder;
    if (const char* v = std::getenv("APPDATA")) oldAppData_ = v, hadAppData_ = true;
    oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    oldCwd_ = std::filesystem::current_path().string();
    setenv("APPDATA", appData_.path().c_str(), 1);
    appData_.write("Sonquill/.keep", "");
    appData_.write("Sonquill/prefs.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvexPrefs>"
                                         "<node key=\"overall.httpd.port\">0</node>" +
                                             extraPrefs + "</QuorvexPrefs>\n");
    platform::SetAppFolderOverride(program);
    ui::ResetShellState();

    auto resources = std::make_shared<gui::XmlResourceFolder>();
    std::string error;
    EXPECT_TRUE(resources->Load(program + "/ui", error)) << error;
    gui::testing::Driver::Options options;
    options.resources = resources;
    driver_ = std::make_unique<gui::testing::Driver>([](const std::string& what) { ADD_FAILURE() << what; }, options);
}

int ShellRun::Start(const std::string& commandLine) {
    const int result = ui::StartProgram(commandLine.c_str());
    started_ = result == 0;
    if (result != 0) finished_ = true;  // a failed start has shut down already
    return result;
}

int ShellRun::Finish(int exitCode) {
    if (finished_) return exitCode;
    finished_ = true;
    ui::CloseMainWindow();
    driver_->Pump();  // the main window's destruction after its end
    return ui::FinishProgram(exitCode);
}

gui::HWND ShellRun::listView() { return driver_->Find(ui::FileList().Handle(), ui::dlg::filelist::list); }

std::vector<gui::testing::RowRecord> ShellRun::rows() { return driver_->Rows(listView()); }

std::vector<std::string> ShellRun::column(int column) {
    std::vector<std::string> texts;
    for (const auto& row : rows())
        texts.push_back(column < static_cast<int>(row.cells.size()) ? row.cells[static_cast<size_t>(column)] : "");
    return texts;
}

ShellRun::~ShellRun() {
    Finish();
    driver_->Pump();
    driver_.reset();
    ui::ResetShellState();
    platform::SetAppFolderOverride("");
    setenv("PATH", oldPath_.c_str(), 1);
    if (hadAppData_) setenv("APPDATA", oldAppData_.c_str(), 1);
    else unsetenv("APPDATA");
    std::error_code ec;
    std::filesystem::current_path(oldCwd_, ec);
}

}  // namespace sqtest

// The file list with 10,000 rows, in the program started on the headless layer: adding a folder of
// 10,000 small files (from the add until the last row is shown), rebuilding 10,000 rows, and
// sorting them by a column as a header click does (the queue reordered, the rows rebuilt).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "engine/engine_api.h"
#include "engine/queue/queue.h"
#include "platform/fs.h"
#include "platform/gui/driver.h"
#include "platform/gui/resources.h"
#include "ui/filelist/file_list.h"
#include "ui/main/shell.h"

namespace {

constexpr int kFiles = 10000;
std::string g_folder;
gui::testing::Driver* g_driver = nullptr;

void AddFolder(benchmark::State& state) {
    ui::CFileList& list = ui::FileList();
    for (auto _ : state) {
        state.PauseTiming();
        list.RemoveAll();
        g_driver->Pump();
        state.ResumeTiming();
        list.AddFolder(g_folder, false);
        while (list.FolderAddRunning() || list.RowCount() < kFiles) g_driver->PumpUntil([] { return true; }, 1);
    }
    if (list.RowCount() != kFiles) state.SkipWithError("rows missing");
    state.counters["rows"] = list.RowCount();
}
BENCHMARK(AddFolder)->Unit(benchmark::kMillisecond)->UseRealTime();

void RefreshRows(benchmark::State& state) {
    ui::CFileList& list = ui::FileList();
    if (list.RowCount() < kFiles) {
        list.AddFolder(g_folder, false);
        list.WaitFolderAdd();
    }
    for (auto _ : state) list.RefreshRows();
    state.counters["rows"] = list.RowCount();
}
BENCHMARK(RefreshRows)->Unit(benchmark::kMillisecond);

// Each pass clicks the name column's header once, so the order flips between rising and falling.
void SortByName(benchmark::State& state) {
    ui::CFileList& list = ui::FileList();
    if (list.RowCount() < kFiles) {
        list.AddFolder(g_folder, false);
        list.WaitFolderAdd();
    }
    gui::HWND view = gui::GetDlgItem(list.Handle(), ui::dlg::filelist::list);
    for (auto _ : state) g_driver->ClickColumn(view, ui::kColName);
    if (QueueCount() != kFiles) state.SkipWithError("items lost");
    state.counters["rows"] = list.RowCount();
}
BENCHMARK(SortByName)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const auto root = std::filesystem::temp_directory_path() / ("sq-filelist-bench-" + std::to_string(getpid()));
    g_folder = (root / "files").string();
    std::filesystem::create_directories(root / "data" / "Sonquill");
    std::filesystem::create_directories(g_folder);
    std::ofstream(root / "data" / "Sonquill" / "prefs.xml")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvexPrefs><node key=\"overall.httpd.port\">0</node>"
           "<node key=\"overall.generic.fileTypes\">wav</node></QuorvexPrefs>\n";
    for (int i = 0; i < kFiles; ++i) std::ofstream(g_folder + "/" + std::to_string(i) + ".wav") << 'x';
    setenv("APPDATA", (root / "data").c_str(), 1);
    platform::SetAppFolderOverride(SQ_OUT_DIR);
    auto resources = std::make_shared<gui::XmlResourceFolder>();
    std::string error;
    resources->Load(std::string(SQ_OUT_DIR) + "/ui", error);
    gui::testing::Driver::Options options;
    options.resources = resources;
    options.idleLimitMs = 600000;
    {
        gui::testing::Driver driver([](const std::string& what) { std::fprintf(stderr, "layer: %s\n", what.c_str()); },
                                    options);
        g_driver = &driver;
        if (ui::StartProgram("") != 0) return 1;
        benchmark::RunSpecifiedBenchmarks();
        ui::FileList().RemoveAll();
        ui::CloseMainWindow();
        driver.Pump();
        ui::FinishProgram(0);
        driver.Pump();
    }
    benchmark::Shutdown();
    std::filesystem::remove_all(root);
    return 0;
}

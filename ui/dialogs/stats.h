// The statistics window: a modeless tool window docked beside the main window that shows the
// running batch (processor loads and clock, memory, times, counters, the figures of the item being
// converted) and, when serial output is on, sends the same figures to an external display. It
// lives on the user-interface thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "remote/serial/serial_port.h"
#include "ui/framework/dialog.h"
#include "ui/ids.h"

struct QueueItem;

namespace ui {

// Processor and memory figures by kind: 1 and 2 the two partial loads (sources, encoders), 3 the
// clock in MHz, 4 the program's memory in MiB, any other the total load; -1 when unknown.
using StatsFigureSource = std::function<int(int kind)>;

class CDlgStats : public CDialogWindow {
public:
    bool OnInitDialog() override;
    bool OnClose() override;
    bool OnControlCommand(int id) override;

    // Opens the window (or resets its item figures when it is open) and the serial console.
    void Open(HWND mainWindow);
    void UpdateBatchCounters();
    void ShowItemStats(QueueItem* item);
    // The periodic refresh; shown is the item whose figures the window follows (may be null).
    void UpdateStatsPanel(QueueItem* shown);
    void Dock();

    bool SerialOpen() const { return console_ != nullptr; }
    void SetFigureSource(StatsFigureSource source) { figures_ = std::move(source); }

private:
    HWND mainWindow_ = nullptr;
    std::unique_ptr<CSerialConsole> console_;
    std::string mins_;
    std::string secs_;
    uint64_t lastClockRefresh_ = 0;
    bool clockRefreshed_ = false;
    StatsFigureSource figures_;
};

// The one statistics window of the process.
CDlgStats& StatsWindow();

// The entry points the main window calls.
void ShowStats(HWND mainWindow);
void UpdateBatchCounters();
void ShowItemStats(QueueItem* item);
void UpdateStatsPanel(QueueItem* shown);
void DockStats();

// Texts of the window, exposed for the tests: remaining time ("2 mins", "45 secs" or empty) and
// throughput ("512MB/s", "20GB/s").
std::string RemainingTimeText(int seconds, const char* mins, const char* secs);
std::string ThroughputText(int megabytesPerSecond);

}  // namespace ui

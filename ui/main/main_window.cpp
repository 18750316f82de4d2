#include "ui/main/main_window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/engine_api.h"
#include "engine/engine_init.h"
#include "engine/jobs/jobdriver.h"
#include "engine/jobs/jobstats.h"
#include "engine/tools/cpu_usage.h"
#include "engine/tools/preview.h"
#include "remote/handlers/servers.h"
#include "ui/dialogs/stats.h"
#include "ui/filelist/file_list.h"
#include "ui/main/batch.h"
#include "ui/main/console_report.h"
#include "ui/main/engine_events.h"
#include "ui/main/shell.h"
#include "ui/main/window_services.h"
#include "ui/news/newsfeed.h"
#include "ui/news/newsview.h"
#include "ui/options/option_tabs.h"
#include "ui/options/options_pane.h"
#include "ui/plugins/device_host.h"

namespace ui {

namespace {

constexpr gui::UINT_PTR kTimer = 0;
constexpr int kNoPosition = static_cast<int>(0x80000002u);
constexpr int kMinWidth = 200, kMinHeight = 150;  // a smaller saved size falls back to the template's
constexpr int kVisibleMargin = 48;                // a saved position keeps this much inside the work area

const char* Ui(const char* key) { return UiStrings().GetString(key); }

ControlBinding g_bindings[] = {
    {dlg::main::dest_dir, "overall.task.destdir", 0, kTextField},
    {dlg::main::task_mode, "overall.task.mode", 1, kComboBox},
    {0, nullptr, 0, 0},
};
ControlBinding g_noBindings[] = {{0, nullptr, 0, 0}};

bool Running(const QueueItem* item) { return item->audioTask.load() != nullptr; }

// The processor and memory figures of the statistics panel; the clock falls back to the
// processor's nominal clock when it cannot be measured.
int StatusFigure(int kind) {
    const int figure = GetCpuLoad(kind);
    if (kind != 3 || figure > 0) return figure;
    static const int nominal = [] {
        ProcessorRecord record;
        return GetCpuInfo(&record) == 0 ? record.clockMHz : 0;
    }();
    return nominal;
}

// Fills the first %d and %.1f conversions of a translated progress text in order; a text holding
// any other conversion is replaced by the plain figure, so a translation can never misread them.
std::string FormatProgress(const char* format, int pass, int passes, double percent) {
    std::string out;
    int ints = 0;
    for (const char* p = format; *p; ++p) {
        if (p[0] != '%') {
            out += *p;
            continue;
        }
        char buf[64];
        if (p[1] == '%') {
            out += '%';
            ++p;
        } else if (p[1] == 'd') {
            std::snprintf(buf, sizeof buf, "%d", ints++ == 0 ? pass : passes);
            out += buf;
            ++p;
        } else if (std::strncmp(p, "%.1f", 4) == 0) {
            std::snprintf(buf, sizeof buf, "%.1f", percent);
            out += buf;
            p += 3;
        } else {
            std::snprintf(buf, sizeof buf, "%.1f%%", percent);
            return buf;
        }
    }
    return out;
}

}  // namespace

CDlgMain::CDlgMain() : news_(std::make_unique<CNewsView>(GetNewsFeed())) {}

CDlgMain::~CDlgMain() {
    DestroyOptionsPane();
    if (hwnd_) Close();
}

int CurrentUiMode() {
    const int mode = GetPrefInt("overall.ui.mode");
    return mode >= kUiSimple && mode <= kUiDropBox ? mode : kUiNormal;
}

// The drop-box window binds no controls.
ControlBinding* CDlgMain::GetBindings() { return dropBox_ ? g_noBindings : g_bindings; }

HWND CDlgMain::CreateMainWindow() {
    dropBox_ = CurrentUiMode() == kUiDropBox;
    return CreateModeless(MainInstance(), dropBox_ ? dlg::dropbox::id : dlg::main::id, static_cast<HWND>(nullptr));
}

bool CDlgMain::OnInitDialog() {
    gui::SetClassLongPtrA(hwnd_, gui::GCLP_HICON,
                          reinterpret_cast<uintptr_t>(gui::LoadIconA(MainInstance(), gui::MAKEINTRESOURCEA(kAppIcon))));
    FillLanguageMenu();
    TranslateControls(nullptr);
    static const int kParts[] = {220, 560, -1};
    SendItemMessage(dlg::main::status_bar, gui::SB_SETPARTS, 3, reinterpret_cast<LPARAM>(kParts));
    AddToolTip(dlg::main::start, Ui("tip_start"));
    AddToolTip(dlg::main::pause, Ui("tip_pause"));
    SetTitleText(nullptr);
    ShowItemState(GetItemState(nullptr));
    if (dropBox_) {
        // The drop box keeps its own small size; the saved placement is the main window's.
        gui::RECT own;
        gui::GetWindowRect(hwnd_, &own);
        CenterOnWorkArea(own.right - own.left, own.bottom - own.top);
    } else {
        CreateOptionsPane(this);
        optionsShown_ = OptionsPane() && OptionsPane()->Handle();
        // The device plug-in's panel opens the time, audio and automation tabs in the option tabs'
        // popup.
        DeviceHost().SetTabOpener([](int command, HWND owner) {
            COptionTab* tab = command == dlg::device_child::time_tab    ? CreateOptionTab(5)
                              : command == dlg::device_child::audio_tab ? CreateAudioCfgTab()
                              : command == device_cmd::automation       ? CreateOptionTab(3)
                                                                        : nullptr;
            if (tab) ShowTabInPopup(tab, owner);
        });
        // The saved size is that of the window in its mode, so the mode is laid out first.
        LayOutMode(CurrentUiMode());
        RestorePlacement();
    }
    traySetting_ = GetPrefInt("overall.ui.trayConfig");
    if (traySetting_ != 0 && !SetTrayIcon(gui::NIM_ADD, nullptr, nullptr, nullptr)) traySetting_ = 0;
    RaiseEvent(25, reinterpret_cast<intptr_t>(hwnd_));
    StatsWindow().SetFigureSource(StatusFigure);
    // In the drop-box mode the queue has a window of its own, made from its menu entry; the
    // watched folders are watched all the same.
    if (dropBox_) {
        const char* folders = GetPrefString("overall.automation.watchFolders");
        FileList().RestartWatch(folders ? folders : "");
    } else if (FileList().Create(hwnd_, dlg::filelist::id)) {
        gui::RECT client;
        gui::GetClientRect(hwnd_, &client);
        LayOut(client.right, client.bottom);
    }
    news_->Attach(GetItem(dlg::main::news_tabs), GetItem(dlg::main::news_tree));
    FillNewsTabs(-1);
    timerId_ = gui::SetTimer(hwnd_, kTimer, 250, nullptr);
    return true;
}

void CDlgMain::FillNewsTabs(int index) { news_->FillNewsTabs(index); }

void CDlgMain::ShowNewsTab(int index) { news_->ShowNewsTab(index); }

bool CDlgMain::OnNotify(gui::NMHDR* header) { return news_->OnNotify(header); }

void CDlgMain::SetTitleText(const char* text) { SetText(TitleText(text).c_str()); }

void CDlgMain::SetStatusText(int part, const char* text) {
    if (part == 0 && text) ConsoleStatus(text);
    SendItemMessage(dlg::main::status_bar, gui::SB_SETTEXTA, static_cast<WPARAM>(part),
                    reinterpret_cast<LPARAM>(text ? text : ""));
}

void CDlgMain::ShowItemState(uint32_t state) {
    const char* key = nullptr;
    switch (state) {
    case kItemReady: key = "state_idle"; break;
    case kItemEncoding: key = Shell().context.taskMode.load() == 2 ? "benchmarking" : "transcoding"; break;
    case kItemPaused: key = "paused"; break;
    case kItemSplitting: key = "splitting"; break;
    case kItemStopping: key = "stopping"; break;
    case kItemError: key = "error"; break;
    default: return;
    }
    SetStatusText(0, Ui(key));
}

void CDlgMain::ShowProgress(QueueItem* item) {
    if (!item) {
        SendItemMessage(dlg::main::item_progress, gui::PBM_SETPOS, 0, 0);
        SendItemMessage(dlg::main::overall_progress, gui::PBM_SETPOS, 0, 0);
        return;
    }
    // The summary bar is the whole queue's progress, not the shown item's.
    const int overall = GetQueueProgress(nullptr);
    if (overall >= 0) SendItemMessage(dlg::main::overall_progress, gui::PBM_SETPOS, static_cast<WPARAM>(overall), 0);
    const double progress = item->run.progress.load();
    char title[128];
    if (minimised_) {
        std::snprintf(title, sizeof title, "%.1f%% / %.1f%%", progress, static_cast<double>(overall));
        SetText(title);
        return;
    }
    if (progress <= 0) return;
    SendItemMessage(dlg::main::item_progress, gui::PBM_SETPOS, static_cast<WPARAM>(progress), 0);
    const char* key = "progress_npass";
    if (item->flags.load() & kItemFlagTestPhase) key = "progress_test";
    else if (item->flags.load() & kItemFlagStarted && item->run.passCount.load() == 0) key = "progress_audio";
    else if (item->run.passCount.load() < 2) key = "progress_1pass";
    SetTitleText(FormatProgress(Ui(key), item->run.pass.load(), item->run.passCount.load(), progress).c_str());
}

void CDlgMain::SetLogText(const std::string& text) {
    SetItemText(dlg::main::log, text.c_str());
    SendItemMessage(dlg::main::log, gui::EM_SETSEL, text.size(), static_cast<LPARAM>(text.size()));
    SendItemMessage(dlg::main::log, gui::EM_SCROLLCARET, 0, 0);
}

void CDlgMain::SetExpertText(const char* text) { SetItemText(dlg::main::expert_pane, text ? text : ""); }

void CDlgMain::ApplySettings(int code) {
    if (applying_) return;
    applying_ = true;
    if (GetItemState(nullptr) == 0) {
        std::string summary;
        if (GetPrefInt("overall.video.enabled"))
            summary += std::string(Ui("video")) + ": " + GetPrefEnumText("overall.video.format", GetPrefInt("overall.video.format")) + "  ";
        // The encoder the batch will use: the format's own when it is chosen automatically.
        if (GetPrefInt("overall.audio.enabled"))
            summary += std::string(Ui("audio")) + ": " + GetEncoderName(0, 0, -1, CurrentListItem()) + "  ";
        SetStatusText(2, summary.c_str());
    }
    ApplyOptionsPane(code);
    LoadControls();
    applying_ = false;
}

void CDlgMain::ShowJobStarted(QueueItem* item) {
    // The item served last may have left the queue since the last batch.
    if (!item) lastServed_ = nullptr;
    // A new job's bar starts empty, not at the end of the job before.
    else SendItemMessage(dlg::main::item_progress, gui::PBM_SETPOS, 0, 0);
    gui::SendDlgItemMessageA(hwnd_, dlg::main::start, gui::WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Ui("menu_stop")));
    // "overall.ui.stats" hides the statistics window; otherwise it follows the batch, refreshed
    // by this window's timer.
    if (!dropBox_ && !GetPrefInt("overall.ui.stats")) ShowStats(hwnd_);
}

void CDlgMain::ShowBatchEnded() {
    gui::SendDlgItemMessageA(hwnd_, dlg::main::start, gui::WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Ui("menu_start")));
    ShowItemState(GetItemState(nullptr));
    SetTitleText(nullptr);
    lastServed_ = nullptr;  // the queue may change before the next batch
    // Closed as the user closes it, so the serial display hears of it too.
    if (!GetPrefInt("overall.ui.stats") && StatsWindow().Handle())
        gui::SendMessageA(StatsWindow().Handle(), gui::WM_CLOSE, 0, 0);
}

void CDlgMain::ShowBalloon(const char* text, const char* title) {
    if (traySetting_ != 0) SetTrayIcon(gui::NIM_MODIFY, Shell().caption.c_str(), text, title);
}

bool CDlgMain::OnTimer(gui::UINT_PTR id) {
    if (id != kTimer) return false;
    ShellState& s = Shell();
    // The splash is for the wait before the window: once the window shows it goes, rather than
    // cover it.
    if (!splashDone_ && gui::IsWindowVisible(hwnd_) && !gui::IsIconic(hwnd_)) {
        splashDone_ = true;
        SplashClose();
    }
    // Settings apply.
    if (SettingsChangedLevel.load() > 0) {
        if (ApplyCountdown.load() > 0) ApplyCountdown.fetch_sub(1);
        if (ApplyCountdown.load() <= 0) {
            ApplySettings(SettingsChangedLevel.load());
            SettingsChangedLevel = 0;
            ApplyCountdown = 0;
            autoStartTicks_ = GetPrefInt("overall.automation.autoTask") ? GetPrefInt("overall.automation.autoStartDelay") : 0;
        }
    }
    // The running job, one item per tick when several run. The UI mutex is only tried: a worker
    // that holds it is busy updating the window itself.
    if (s.context.runningWorkers.load() > 0 && s.uiMutex && s.uiMutex->try_lock()) {
        QueueItem* found = nullptr;
        {
            QueueLockGuard lock;
            QueueItem* start = lastServed_ && QueueIndexOf(lastServed_) >= 0 ? QueueNext(lastServed_) : nullptr;
            for (QueueItem* it = start ? start : QueueNext(nullptr); it && !found; it = QueueNext(it))
                if (Running(it)) found = it;
            for (QueueItem* it = QueueNext(nullptr); it && it != start && !found; it = QueueNext(it))
                if (Running(it)) found = it;
            if (found) {
                // Detailed: the remaining time, throughput and speed the panels show come from here.
                if (found->state.load() == kItemEncoding) UpdateItemStats(found, true);
                if (found == CurrentListItem() || s.context.runningWorkers.load() == 1) ShowProgress(found);
                FileListWriteRow(found);
            }
            lastServed_ = found;
        }
        ConsoleProgress(found);
        // The statistics window (when open) follows the same item.
        UpdateStatsPanel(found);
        UpdateBatchCounters();
        s.uiMutex->unlock();
    }
    ++ticks_;
    s.context.beatCounter.fetch_add(1);
    return true;
}

// Accelerators arrive here as command code 1.
bool CDlgMain::OnControlSelChange(int id) { return OnMenuCommand(id); }

bool CDlgMain::OnSelChange(int id, int code, HWND control) {
    const bool handled = CDialogWindow::OnSelChange(id, code, control);
    if (id != dlg::main::task_mode || loading_) return handled;
    const int mode = GetComboSel(dlg::main::task_mode);
    if (Shell().context.taskMode.load() == 6 && mode != 6) StopStreamingServer();
    Shell().context.taskMode = mode;
    if (mode == 0) {
        SetPrefFloat("overall.generic.encodingSpeed", 0.0f);
        SettingsChangedLevel = 1;
    }
    return true;
}

bool CDlgMain::OnTrayNotify(WPARAM, LPARAM lParam) {
    if (static_cast<UINT>(lParam) == gui::WM_LBUTTONUP) return OnMenuCommand(cmd::show_ui);
    if (static_cast<UINT>(lParam) == gui::WM_RBUTTONUP) {
        gui::HMENU menu = gui::LoadMenuA(MainInstance(), gui::MAKEINTRESOURCEA(menu::tray));
        if (!menu) return true;
        TranslateMenu(menu);
        TrackPopup(menu, -1, -1);
        gui::DestroyMenu(menu);
    }
    return true;
}

bool CDlgMain::OnTaskbarCreated(UINT, WPARAM, LPARAM) {
    if (traySetting_ != 0) SetTrayIcon(gui::NIM_ADD, nullptr, nullptr, nullptr);
    return true;
}

bool CDlgMain::OnWindowPosChanged() {
    gui::WINDOWPLACEMENT wp;
    gui::GetWindowPlacement(hwnd_, &wp);
    minimised_ = wp.showCmd == gui::SW_SHOWMINIMIZED;
    if (minimised_ && traySetting_ == 2) Hide();
    return false;
}

void CDlgMain::LayOutMode(int mode) {
    gui::HMENU menu = gui::GetMenu(hwnd_);
    for (int m = kUiSimple; m <= kUiExpert; ++m)
        if (menu)
            gui::CheckMenuItem(menu, static_cast<UINT>(kUiModeCommands[m]),
                               gui::MF_BYCOMMAND | (m == mode ? gui::MF_CHECKED : gui::MF_UNCHECKED));
    auto show = [this](int id, bool on) {
        if (HWND h = GetItem(id)) gui::ShowWindow(h, on ? gui::SW_SHOW : gui::SW_HIDE);
    };
    show(dlg::main::task_mode, mode != kUiSimple);
    show(dlg::main::task_mode_label, mode != kUiSimple);
    // The options pane shows in the normal and expert modes, the expert pane in the expert mode.
    optionsShown_ = mode != kUiSimple;
    if (COptionsPane* pane = OptionsPane(); pane && pane->Handle())
        gui::ShowWindow(pane->Handle(), optionsShown_ ? gui::SW_SHOW : gui::SW_HIDE);
    show(dlg::main::expert_pane, mode == kUiExpert);
    uiMode_ = mode;
    gui::RECT client;
    gui::GetClientRect(hwnd_, &client);
    LayOut(client.right, client.bottom);
}

namespace {

gui::RECT ClientRectOf(HWND parent, HWND child) {
    gui::RECT r{};
    if (!child) return r;
    gui::GetWindowRect(child, &r);
    gui::POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
    gui::MapWindowPoints(nullptr, parent, corners, 2);
    return {corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

int Height(const gui::RECT& r) { return r.bottom - r.top; }
int Width(const gui::RECT& r) { return r.right - r.left; }

}  // namespace

bool CDlgMain::OnSize(int width, int height) {
    if (!dropBox_) LayOut(width, height);
    return false;
}

// The rows above the list keep their places in the template, the task mode at the right edge.
// Below them the options pane takes the right-hand side at its own width, down to the status
// bar; left of it the list and the log share the height the progress rows and the news leave,
// so a larger window gives both more room.
void CDlgMain::LayOut(int width, int height) {
    TemplatePlaces& t = places_;
    if (!t.taken) {
        t.list = ClientRectOf(hwnd_, GetItem(dlg::main::file_list_frame));
        t.itemLabel = ClientRectOf(hwnd_, GetItem(dlg::main::item_progress_label));
        t.itemBar = ClientRectOf(hwnd_, GetItem(dlg::main::item_progress));
        t.overallLabel = ClientRectOf(hwnd_, GetItem(dlg::main::overall_progress_label));
        t.overallBar = ClientRectOf(hwnd_, GetItem(dlg::main::overall_progress));
        t.log = ClientRectOf(hwnd_, GetItem(dlg::main::log));
        t.newsTabs = ClientRectOf(hwnd_, GetItem(dlg::main::news_tabs));
        t.newsTree = ClientRectOf(hwnd_, GetItem(dlg::main::news_tree));
        t.modeLabel = ClientRectOf(hwnd_, GetItem(dlg::main::task_mode_label));
        t.modeCombo = ClientRectOf(hwnd_, GetItem(dlg::main::task_mode));
        t.destDir = ClientRectOf(hwnd_, GetItem(dlg::main::dest_dir));
        if (COptionsPane* pane = OptionsPane(); pane && pane->Handle()) {
            gui::RECT r;
            gui::GetWindowRect(pane->Handle(), &r);
            t.paneWidth = Width(r);
        }
        t.taken = true;
    }
    auto place = [this](int id, int x, int y, int w, int h) {
        if (HWND c = GetItem(id)) gui::MoveWindow(c, x, y, std::max(1, w), std::max(1, h), 1);
    };
    const int margin = t.list.left;
    const int gap = std::max(2, margin / 2);
    // The top rows: the separator across, the task mode at the right edge, the folder between.
    if (HWND line = GetItem(dlg::main::top_separator)) {
        const gui::RECT r = ClientRectOf(hwnd_, line);
        gui::MoveWindow(line, 0, r.top, width, Height(r), 1);
    }
    const int modeX = std::max(t.destDir.left + 40, width - margin - Width(t.modeCombo));
    place(dlg::main::task_mode, modeX, t.modeCombo.top, Width(t.modeCombo), Height(t.modeCombo));
    place(dlg::main::task_mode_label, modeX, t.modeLabel.top, Width(t.modeLabel), Height(t.modeLabel));
    int folderRight = modeX - gap;
    if (HWND choose = GetItem(dlg::main::set_output)) {  // the folder's "..." button at its right end
        const gui::RECT r = ClientRectOf(hwnd_, choose);
        folderRight -= Width(r);
        gui::MoveWindow(choose, folderRight, r.top, Width(r), Height(r), 1);
        folderRight -= 2;
    }
    place(dlg::main::dest_dir, t.destDir.left, t.destDir.top, folderRight - t.destDir.left, Height(t.destDir));

    int bottom = height - gap;
    if (HWND status = GetItem(dlg::main::status_bar)) {
        gui::SendMessageA(status, gui::WM_SIZE, 0, 0);  // the status bar keeps to the bottom edge
        bottom = ClientRectOf(hwnd_, status).top - gap;
    }
    int right = width - margin;
    if (COptionsPane* pane = OptionsPane(); pane && pane->Handle() && optionsShown_) {
        const int paneLeft = std::max(margin + 120, width - margin - t.paneWidth);
        gui::MoveWindow(pane->Handle(), paneLeft, t.list.top, width - margin - paneLeft, std::max(1, bottom - t.list.top), 1);
        right = paneLeft - gap;
    }
    const int columnWidth = std::max(1, right - margin);
    const int progress = t.overallBar.bottom - t.itemLabel.top;
    const int news = t.newsTree.bottom - t.newsTabs.top;
    const int flexible = std::max(2, bottom - t.list.top - progress - news - 3 * gap);
    const int listHeight = flexible * 11 / 20;
    const int logHeight = flexible - listHeight;

    place(dlg::main::file_list_frame, margin, t.list.top, columnWidth, listHeight);
    if (HWND list = FileList().Handle()) gui::MoveWindow(list, margin, t.list.top, columnWidth, listHeight, 1);
    int y = t.list.top + listHeight + gap;
    place(dlg::main::item_progress_label, t.itemLabel.left, y + t.itemLabel.top - t.itemLabel.top, Width(t.itemLabel),
          Height(t.itemLabel));
    place(dlg::main::item_progress, t.itemBar.left, y + t.itemBar.top - t.itemLabel.top, right - t.itemBar.left,
          Height(t.itemBar));
    place(dlg::main::overall_progress_label, t.overallLabel.left, y + t.overallLabel.top - t.itemLabel.top,
          Width(t.overallLabel), Height(t.overallLabel));
    place(dlg::main::overall_progress, t.overallBar.left, y + t.overallBar.top - t.itemLabel.top, right - t.overallBar.left,
          Height(t.overallBar));
    y += progress + gap;
    // The expert pane shares the log's place: the log above, the expert view below.
    if (uiMode_ == kUiExpert) {
        const int half = logHeight / 2;
        place(dlg::main::log, margin, y, columnWidth, half - 2);
        place(dlg::main::expert_pane, margin, y + half, columnWidth, logHeight - half);
    } else {
        place(dlg::main::log, margin, y, columnWidth, logHeight);
        place(dlg::main::expert_pane, margin, y, columnWidth, logHeight);
    }
    y += logHeight + gap;
    place(dlg::main::news_tabs, margin, y, columnWidth, Height(t.newsTabs));
    place(dlg::main::news_tree, margin, y + t.newsTree.top - t.newsTabs.top, columnWidth, Height(t.newsTree));
}

void CDlgMain::ApplyUiMode() {
    const int mode = CurrentUiMode();
    if (mode == kUiDropBox || dropBox_) {
        Shell().rebuild = true;
        gui::SendMessageA(hwnd_, gui::WM_CLOSE, 0, 0);
        return;
    }
    LayOutMode(mode);
}

bool CDlgMain::OnClose() {
    // Closing for a new window of another mode keeps the batch running and asks nothing.
    if (GetItemState(nullptr) != 0 && !Shell().rebuild.load()) {
        if (RaiseEvent(6, Ui("EXIT_CONFIRM")) == 0) return false;
        StopItem(nullptr);
    }
    gui::KillTimer(hwnd_, kTimer);
    FileList().Destroy();
    if (traySetting_ != 0) {
        SetTrayIcon(gui::NIM_DELETE, nullptr, nullptr, nullptr);
        traySetting_ = 0;
    }
    SavePlacementAndQuit();
    return true;
}

void CDlgMain::RestorePlacement() {
    const std::string param = GetPrefString("overall.ui.param");
    int v[5] = {0, 0, kNoPosition, kNoPosition, -1};
    const char* p = param.c_str();
    for (int i = 0; i < 5 && *p; ++i) {
        v[i] = static_cast<int>(std::strtol(p, nullptr, 10));
        p = std::strchr(p, ',');
        if (!p) break;
        ++p;
    }
    opacity_ = v[4];
    gui::LONG_PTR ex = gui::GetWindowLongPtrA(hwnd_, gui::GWL_EXSTYLE);
    if (opacity_ >= 1 && opacity_ <= 254) {
        gui::SetWindowLongPtrA(hwnd_, gui::GWL_EXSTYLE, ex | gui::WS_EX_LAYERED);
        gui::SetLayeredWindowAttributes(hwnd_, 0, static_cast<gui::BYTE>(opacity_), gui::LWA_ALPHA);
    } else {
        gui::SetWindowLongPtrA(hwnd_, gui::GWL_EXSTYLE, ex & ~static_cast<gui::LONG_PTR>(gui::WS_EX_LAYERED));
    }
    gui::RECT own;
    gui::GetWindowRect(hwnd_, &own);
    int width = v[0], height = v[1];
    // A size too small to use, or none, is the template's.
    if (width < kMinWidth || height < kMinHeight) {
        width = own.right - own.left;
        height = own.bottom - own.top;
    }
    gui::RECT work;
    gui::SystemParametersInfoA(gui::SPI_GETWORKAREA, 0, &work, 0);
    int x = v[2], y = v[3];
    const bool saved = !(x == kNoPosition && y == kNoPosition);
    // A size saved on a larger screen is cut to this one's, and the window then fills it that way.
    if (width > work.right - work.left) {
        width = work.right - work.left;
        if (saved) x = work.left;
    }
    if (height > work.bottom - work.top) {
        height = work.bottom - work.top;
        if (saved) y = work.top;
    }
    // Some of the window must lie inside the work area, or it could never be reached.
    if (saved && x + width >= work.left + kVisibleMargin && y + height >= work.top + kVisibleMargin &&
        x <= work.right - kVisibleMargin && y <= work.bottom - kVisibleMargin) {
        MoveTo(x, y, width, height);
    } else {
        CenterOnWorkArea(width, height);
    }
}

void CDlgMain::SavePlacementAndQuit() {
    gui::ShowWindow(hwnd_, gui::SW_RESTORE);
    gui::RECT r;
    gui::GetWindowRect(hwnd_, &r);
    char text[96];
    // The opacity read at start is written back, so closing never drops it.
    if (opacity_ >= 0)
        std::snprintf(text, sizeof text, "%d,%d,%d,%d,%d", r.right - r.left, r.bottom - r.top, r.left, r.top, opacity_);
    else
        std::snprintf(text, sizeof text, "%d,%d,%d,%d", r.right - r.left, r.bottom - r.top, r.left, r.top);
    // The placement is the main window's; the drop box's small size would shrink it.
    if (!dropBox_) SetPrefString("overall.ui.param", text);
    StopPreviewPlayer();
    Hide();
    gui::PostQuitMessage(0);
}

}  // namespace ui

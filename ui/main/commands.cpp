// The main window's two command roads: numeric command ids (menus, accelerators, buttons, the tray
// menu) and text commands (UiCommand) sent or posted by the engine, the shell and remote control.
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/fileutil.h"
#include "engine/engine_api.h"
#include "engine/jobs/jobdriver.h"
#include "engine/prefs/preffiles.h"
#include "engine/queue/queue.h"
#include "engine/queue/queuefile.h"
#include "engine/tools/preview.h"
#include "platform/fs.h"
#include "platform/shell_open.h"
#include "ui/dialogs/browser.h"
#include "ui/dialogs/fileinfo.h"
#include "ui/dialogs/prompt.h"
#include "ui/dialogs/folderwatch.h"
#include "ui/dialogs/stats.h"
#include "ui/dialogs/trackpicker.h"
#include "ui/dialogs/urldialog.h"
#include "ui/dialogs/userinput.h"
#include "ui/filelist/file_list.h"
#include "ui/main/batch.h"
#include "ui/main/main_window.h"
#include "ui/main/window_services.h"
#include "ui/main/shell.h"
#include "ui/main/web_pages.h"
#include "ui/news/newsfeed.h"
#include "ui/options/option_tabs.h"
#include "ui/plugins/device_host.h"

namespace ui {

namespace {

const char* Ui(const char* key) { return UiStrings().GetString(key); }

// Words of the add entries: they go through engine event 21 and come back as text commands.
struct AddCommand {
    int id;
    const char* word;
};
constexpr AddCommand kAddCommands[] = {
    {cmd::add_file, "add_file"}, {cmd::add_dir, "add_dir"}, {cmd::add_dir_all, "add_dirs"},
    {cmd::add_track, "add_track"}, {cmd::add_url, "add_url"}, {cmd::add_rss, "add_rss"},
    {cmd::add_folder_watcher, "add_folder_watcher"},
};

// Player commands of the menu.
struct PlayerMenuCommand {
    int id;
    const char* command;
};
constexpr PlayerMenuCommand kPlayerCommands[] = {
    {cmd::audio_track_1, "switch_audio 1"}, {cmd::audio_track_0, "switch_audio 0"},
    {cmd::audio_track_2, "switch_audio 2"}, {cmd::audio_track_3, "switch_audio 3"},
    {cmd::audio_track_4, "switch_audio 4"}, {cmd::audio_track_5, "switch_audio 5"},
    {cmd::next_audio, "switch_audio"},      {cmd::volume_up, "volume 1"},
    {cmd::volume_down, "volume -1"},        {cmd::mute, "mute"},
    {cmd::player_pause, "pause"},           {cmd::fullscreen, "vo_fullscreen"},
    {cmd::on_top, "vo_ontop"},
};

// Preference values set by a menu entry.
struct PrefMenuCommand {
    int id;
    const char* key;
    int value;
};
constexpr PrefMenuCommand kPrefCommands[] = {
    {cmd::ui_normal, "overall.ui.mode", 1},         {cmd::ui_expert, "overall.ui.mode", 2},
    {cmd::ui_simple, "overall.ui.mode", 0},         {cmd::dropbox_mode, "overall.ui.mode", 3},
    {cmd::crop_disabled, "videofilter.crop.mode", 0}, {cmd::crop_manual, "videofilter.crop.mode", 1},
    {cmd::crop_to_fit, "videofilter.crop.mode", 2},   {cmd::expand_to_fit, "videofilter.crop.mode", 3},
};

// Items removed by state.
struct RemoveCommand {
    int id;
    uint32_t state;
};
constexpr RemoveCommand kRemoveCommands[] = {
    {cmd::remove_finished, kItemDone}, {cmd::remove_error, kItemError}, {cmd::remove_skipped, kItemSkipped}};

// Numbered entries the window adds to its menus: language n, extension n and wizard n.
constexpr int kCmdLanguageBase = cmd::language_auto;
constexpr int kCmdExtensionBase = cmd::extension_base;
constexpr int kCmdWizardBase = cmd::wizard_base;


// A file dialog with one choice; the path, or "" for a cancel.
std::string ChooseFile(HWND owner, bool save, const std::string& filter, const char* title, gui::DWORD flags,
                       const char* initialDir = nullptr) {
    std::vector<char> buffer(4096, 0);
    gui::OPENFILENAMEA ofn{};
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<gui::DWORD>(buffer.size());
    ofn.lpstrTitle = title;
    ofn.lpstrInitialDir = initialDir;
    ofn.Flags = flags;
    std::error_code ec;
    const auto cwd = std::filesystem::current_path(ec);
    const bool chosen = save ? gui::GetSaveFileNameA(&ofn) : gui::GetOpenFileNameA(&ofn);
    if (!ec) std::filesystem::current_path(cwd, ec);
    return chosen ? std::string(buffer.data()) : std::string();
}

// ".xml" appended when the file name itself (not a folder on the way) has no '.'.
std::string WithXmlExtension(std::string path) {
    const size_t name = path.find_last_of("/\\");
    if (path.find('.', name == std::string::npos ? 0 : name + 1) == std::string::npos) path += ".xml";
    return path;
}

bool Idle() { return GetItemState(nullptr) == 0; }

// With no item converting, whether no batch is running either, so that a new one may start. Workers
// still alive then are between two items, about to take their first, or ending their batch: the
// wait (bounded, serving the window) lasts until they have ended or one converts again. False
// when the running batch goes on: it takes the ready items itself.
bool BatchEndsWhileIdle() {
    if (WorkerCount() == 0) return true;
    gui::WaitPumping(3000, [] { return WorkerCount() == 0 || GetItemState(nullptr) != 0; });
    return GetItemState(nullptr) == 0;
}

// Reads the feed at url and queues the link of each of its items under the item's title. The feed
// is read off the UI thread, which keeps serving the window meanwhile. Only network addresses
// enter the queue: a feed from the network never queues a file of this machine, and a linked
// feed is queued as it is, never read in turn.
void AddFeedLinks(CDlgMain& window, const std::string& url) {
    struct Reading {
        std::vector<NewsItem> items;
        std::atomic<bool> done{false};
    };
    auto reading = std::make_shared<Reading>();
    window.SetTitleText(Ui("fetch_rss"));
    std::thread reader([reading, url] {
        reading->items = ReadLinkedFeed(url);
        reading->done = true;
    });
    gui::WaitPumping(platform::kInfinite, [&] { return reading->done.load(); });
    reader.join();
    for (const NewsItem& item : reading->items) {
        if (!IsNetworkPath(item.link.c_str())) continue;
        window.SetTitleText(Ui("fetch_rss"));
        FileList().AddFile(item.link, item.title.empty() ? nullptr : item.title.c_str());
    }
    window.SetTitleText(nullptr);
    char queued[64];
    std::snprintf(queued, sizeof queued, "%d queued", QueueCount());
    window.SetStatusText(0, queued);
}

// The focused item's output file when it exists, else "".
std::string ExistingOutput(QueueItem* item) {
    if (!item || !item->destFile || !*item->destFile) return {};
    return platform::PathExists(item->destFile) ? item->destFile : "";
}

}  // namespace

bool ParseSeekArgument(const std::string& arg, float* value, int* mode) {
    if (arg.empty()) return false;
    const char first = arg[0];
    const char* number = arg.c_str() + ((first == '+' || first == ' ') ? 1 : 0);
    double v = 0;
    // Read without regard to the locale; no infinity or NaN.
    const auto [end, error] = std::from_chars(number, arg.c_str() + arg.size(), v, std::chars_format::fixed);
    if (error != std::errc() || end == number || !std::isfinite(v)) return false;
    *value = static_cast<float>(v);
    *mode = (first == '+' || first == ' ' || first == '-') ? 0 : 2;
    return true;
}

void CDlgMain::StopAll() {
    StopItem(nullptr);
    WaitWorkerThreads(3000);
}

void CDlgMain::SaveQueueAs(const std::string& path, bool report) {
    FileList().SyncCheckStates();
    const int result = SaveQueueFile(path.c_str());
    if (report && result > 0) SetStatusText(0, "Queue saved");
}

void CDlgMain::PlayFocused(const std::string& arg, uint32_t flags) {
    if (GetPlayerInfo(1) == kPlayerPlaying) {
        PlayerStop();
        HWND window = reinterpret_cast<HWND>(std::strtoull(arg.c_str(), nullptr, 0));
        if (window && gui::IsWindow(window)) gui::InvalidateRect(window, nullptr, 1);
        return;
    }
    QueueItem* item = FileList().GetCurrentItem();
    if (!item) {
        RaiseEvent(2, Ui("NO_FILE"));
        return;
    }
    // The window: a handle of this program's own windows only, then "a,b,w,h" after a ',' or a blank.
    HWND window = nullptr;
    int width = 0, height = 0;
    if (!arg.empty()) {
        char* end = nullptr;
        window = reinterpret_cast<HWND>(std::strtoull(arg.c_str(), &end, 0));
        if (window && !gui::IsWindow(window)) window = nullptr;
        int v[4] = {0, 0, 0, 0};
        int n = 0;
        for (const char* p = end; p && *p && n < 4;) {
            while (*p == ',' || *p == ' ') ++p;
            if (!*p) break;
            char* next = nullptr;
            v[n++] = static_cast<int>(std::strtol(p, &next, 10));
            if (next == p) break;
            p = next;
        }
        if (window) {
            gui::RECT r;
            gui::GetClientRect(window, &r);
            width = r.right - r.left;
            height = r.bottom - r.top;
        }
        if (n == 4) width = v[2], height = v[3];
    }
    uint32_t key = 0;
    if (window) key = static_cast<uint32_t>(gui::SendMessageA(window, gui::WM_USER, 0, 0)) & kPlayColorKeyMask;
    std::string options = "-nokeepaspect";
    if (width < height) options += std::string(" -vf-add rotate=") + std::to_string(GetPrefInt("videofilter.rotate.mode"));
    // The colour key travels in the flags' low bits, where the player takes it from.
    PlayItem(item, window, (flags & ~kPlayColorKeyMask) | key, options.c_str(), nullptr);
}

// --- text commands ---

bool CDlgMain::OnAppCommand(WPARAM wParam, LPARAM lParam) {
    const char* text = reinterpret_cast<const char*>(lParam);
    if (!text) return false;
    const std::string command(text);
    const size_t blank = command.find(' ');
    const std::string word = command.substr(0, blank);
    const std::string arg = blank == std::string::npos ? "" : command.substr(blank + 1);
    RunAppCommand(word, arg, wParam);
    return true;
}

namespace {

// The add entries' words (the menus send them through the engine): the dialog asks, owned by the
// asking window, and what it chose is queued. False for any other word.
bool RunAddWord(CDlgMain& window, const std::string& word, HWND asking) {
    if (word == "add_file") {
        if (FileList().AddFilesDialog(asking)) window.ApplySettings(2);
    } else if (word == "add_dir" || word == "add_dirs") {
        const bool all = word == "add_dirs";
        auto folder = gui::BrowseForFolder(asking, Ui(all ? "menu_add_dir_all" : "menu_add_dir"), "");
        if (!folder) return true;
        FileList().AddFolder(*folder, all);
        window.ApplySettings(2);
    } else if (word == "add_track") {
        if (!AddTrackDialog().Handle()) ShowAddTrackDialog(asking);
    } else if (word == "add_url" || word == "add_rss") {
        const bool url = word == "add_url";
        auto answer = ShowUrlDialog(asking, Ui(url ? "menu_add_url" : "menu_add_rss"), Ui("enter_url"));
        if (!answer || answer->empty()) return true;
        if (url) FileList().AddFile(*answer);
        else AddFeedLinks(window, *answer);
    } else if (word == "add_folder_watcher") {
        if (!CDlgPrompt::AnswersAtOnce()) ShowFolderWatcherDialog(asking);
        const char* folders = GetPrefString("overall.automation.watchFolders");
        FileList().RestartWatch(folders ? folders : "");
    } else {
        return false;
    }
    return true;
}

}  // namespace

void CDlgMain::RunAppCommand(const std::string& word, const std::string& arg, WPARAM wParam) {
    ShellState& s = Shell();
    HWND asking = wParam ? reinterpret_cast<HWND>(wParam) : hwnd_;
    if (!gui::IsWindow(asking)) asking = hwnd_;
    if (word == "transcode" || word == "start") {
        SetForeground();
        if (GetItemState(nullptr) != 0) {
            StopAll();
        } else if (BatchEndsWhileIdle()) {
            if (StartTranscoding() != 0 && s.exitFlag.load()) gui::PostMessageA(hwnd_, gui::WM_QUIT, static_cast<WPARAM>(-1), 0);
        }
    } else if (word == "stop_transcode" || word == "stop") {
        SetForeground();
        StopAll();
    } else if (word == "set_time") {
        ShowTabInPopup(CreateOptionTab(5), hwnd_);
    } else if (word == "mpcmd") {
        PlayerCommand(arg.c_str(), nullptr);
    } else if (word == "seek") {
        float value = 0;
        int mode = 0;
        if (ParseSeekArgument(arg, &value, &mode)) PlayerSeek(value, mode);
    } else if (word == "preview" || word == "play") {
        PlayFocused(arg, word == "preview" ? 0xA000010u : 0x8000010u);
    } else if (word == "stop_play") {
        PlayerStop();
    } else if (word == "karaoke") {
        SetPrefInt("overall.audio.karaoke", arg == "true" ? 1 : 0);
    } else if (word == "user_input") {
        // The engine sends the item whose input it asks for in place of an asking window. Without
        // anyone to answer (no display) the item keeps no input, as an empty answer would.
        QueueItem* item = reinterpret_cast<QueueItem*>(wParam);
        if (item && QueueIndexOf(item) >= 0 && !CDlgPrompt::AnswersAtOnce()) AskUserInput(hwnd_, item);
    } else if (word == "load_plugin") {
        if (!arg.empty() && IsPluginFileName(arg)) {
            CDeviceDialog& host = DeviceHost();
            if (host.Handle()) host.Hide();
            host.Unload();
            host.SetEmbedded(false);
            host.LoadPlugin(arg.c_str(), hwnd_);
        }
    } else if (word == "refresh_rss") {
        int index = -1;
        if (!arg.empty()) {
            const auto [end, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), index);
            if (ec != std::errc() || index < 0) index = -1;
        }
        FillNewsTabs(index);
    } else if (RunAddWord(*this, word, asking)) {
        // An add entry's dialog ran.
    } else if (word == "show_ui") {
        if (!arg.empty() && arg[0] == '0') {
            Minimize();
            return;
        }
        gui::ShowWindow(hwnd_, gui::SW_RESTORE);
        Show();
        PluginHostShow();
        SetForeground();
    } else if (word == "qxid") {
        // The client id is only taken from a text handed in by the program itself.
    } else if (word == "show") {
        if (arg == "time") return RunAppCommand("set_time", "", wParam);
        gui::ShowWindow(hwnd_, gui::SW_RESTORE);
        Show();
        PluginHostShow();
        SetForeground();
    } else if (word == "open_web") {
        // The sender made the record with new; it is freed here.
        std::unique_ptr<WebPageRecord> page(reinterpret_cast<WebPageRecord*>(wParam));
        if (!page) return;
        page->address[sizeof page->address - 1] = '\0';
        OpenWebPage(page->address, page->title, page->width, page->height);
    } else if (word == "close_web") {
        if (Browser().Handle()) Browser().Hide();
    } else if (word == "load_ui") {
        if (arg.empty() || !platform::PathExists(arg.c_str())) return;
        LoadPresetKeepingPrefs(arg);
    } else {
        RaiseEvent(2, Ui("COMMAND_ERROR"));
    }
}

// A preset over the defaults; when it cannot be loaded the user's own settings come back.
bool CDlgMain::LoadPresetKeepingPrefs(const std::string& path) {
    RevertPrefs();
    LoadPreset(Shell().options.defaultsFile, nullptr, false);
    if (LoadPreset(path.c_str(), nullptr, true) == 0) {
        SettingsChangedLevel = 2;
        ApplyCountdown = 0;
        return true;
    }
    RevertPrefs();
    LoadPreset(GetDataPath("prefs.xml").c_str(), nullptr, false);
    SettingsChangedLevel = 2;
    ApplyCountdown = 0;
    return false;
}

// The queue's own window: the file list made from the queue-window template when it has no
// window (the drop-box mode), shown with its rows.
void CDlgMain::ShowQueueWindow() {
    CFileList& list = FileList();
    const bool made = !list.Handle() && list.Create(hwnd_, dlg::queue::id);
    list.RefreshRows();
    if (made) {
        list.Show();
        list.SetForeground();
    }
}

// What a drop-box description holds is not read here: the chosen file or address is kept for
// the drop-box mode, which is then applied.
void CDlgMain::LoadDropBox(bool fromUrl) {
    std::string chosen;
    if (fromUrl) {
        auto answer = ShowUrlDialog(hwnd_, Ui("menu_load_dropbox_url"), "Dropbox URL");
        if (answer) chosen = *answer;
    } else {
        chosen = ChooseFile(hwnd_, true, FileDialogFilter({{"DropBox XML File", "*.xml"}}), Ui("menu_load_dropbox_file"),
                            gui::OFN_EXPLORER, "dropbox");
    }
    if (chosen.empty()) return;
    Shell().dropBoxDescription = chosen;
    SetPrefInt("overall.ui.mode", kUiDropBox);
    ApplyUiMode();
}

// --- command ids ---

// The commands of the menus, keys, buttons and tray, each a named step; the table below says which
// id runs which. Ids of a kind (add, player, preference, remove, after-batch entries) go through
// the data tables above, numbered entries through RunNumbered.
struct CDlgMain::Commands {
    using Handler = void (*)(CDlgMain& window, int id);
    struct Entry {
        int id;
        Handler run;
    };

    static bool RunFromTables(CDlgMain& window, int id);
    static bool RunNumbered(CDlgMain& window, int id);
    static const Entry* Find(int id);

    // Transcoding.
    static void Start(CDlgMain& window, int id);
    static void StartAudioOnly(CDlgMain& window, int id);
    static void Stop(CDlgMain&, int) { StopItem(nullptr); }
    static void PauseItem(CDlgMain& window, int id);
    static void SkipItem(CDlgMain& window, int id);
    static void FinishJob(CDlgMain&, int) { SetItemState(nullptr, kItemFinishing); }
    static void Exit(CDlgMain& window, int) { gui::SendMessageA(window.hwnd_, gui::WM_CLOSE, 0, 0); }

    // Playing.
    static void PlayOutput(CDlgMain& window, int id);
    static void Preview(CDlgMain& window, int) { window.PlayFocused("", 0x8000010u); }
    static void StopPlaying(CDlgMain&, int) { PlayerStop(); }
    static void ToggleExternalPlayer(CDlgMain& window, int id);
    static void ChooseExternalPlayer(CDlgMain& window, int id);

    // Settings, presets and the queue file.
    static void ChooseOutputFolder(CDlgMain& window, int id);
    static void LoadPresetFile(CDlgMain& window, int id);
    static void SavePresetFile(CDlgMain& window, int id);
    static void Revert(CDlgMain& window, int id);
    static void SaveSettings(CDlgMain& window, int id);
    static void LoadQueue(CDlgMain& window, int id);
    static void SaveQueue(CDlgMain& window, int id);

    // The rows of the file list.
    static void RemoveSelected(CDlgMain& window, int id);
    static void RemoveAll(CDlgMain& window, int id);
    static void MarkDone(CDlgMain&, int) { FileList().SetSelectedState(kItemDone); }
    static void MarkUndone(CDlgMain&, int) { FileList().SetSelectedState(kItemReady); }
    static void ResetStates(CDlgMain& window, int id);
    static void ShowDetails(CDlgMain& window, int id);
    static void EditOutputFile(CDlgMain&, int) { FileList().EditSelected(kColDestDir); }
    static void EditPreset(CDlgMain&, int) { FileList().EditSelected(kColPreset); }
    static void InvertSelection(CDlgMain&, int) { FileList().InvertSelection(); }
    static void SelectAll(CDlgMain&, int) { FileList().SelectAll(); }
    static void MoveUp(CDlgMain&, int) { FileList().MoveSelected(-1); }
    static void MoveDown(CDlgMain&, int) { FileList().MoveSelected(1); }
    static void Group(CDlgMain&, int) { FileList().GroupSelected(); }
    static void Ungroup(CDlgMain&, int) { FileList().UngroupSelected(); }

    // Windows and pages.
    static void About(CDlgMain& window, int id);
    static void ShowEncoderVersion(CDlgMain& window, int id);
    static void ToggleConsole(CDlgMain& window, int id);
    static void ToggleStats(CDlgMain& window, int id);
    static void ToggleWindow(CDlgMain& window, int id);
    static void ShowQueueWindow(CDlgMain& window, int) { window.ShowQueueWindow(); }
    static void LoadDropBoxFromUrl(CDlgMain& window, int) { window.LoadDropBox(true); }
    static void LoadDropBoxFromFile(CDlgMain& window, int) { window.LoadDropBox(false); }
    static void SwitchDropBoxMode(CDlgMain& window, int id);
    static void CheckUpdate(CDlgMain&, int) { OpenUpdatePage(Shell().context.httpPort.load()); }
    static void ShowTranscodingStats(CDlgMain& window, int id);
    static void OpenSettings(CDlgMain&, int) { OpenPreferencePage(nullptr); }
    static void OpenDspPluginsPage(CDlgMain&, int) { OpenWebUiPage(3, nullptr, "Winamp DSP Plugins", 800, 600); }
    static void OpenSystemInfoPage(CDlgMain&, int) { OpenWebUiPage(5, "sys/", "System Information", 800, 600); }
    static void AskRemoteExtension(CDlgMain& window, int id);
    // Pages of the maker's web site, which this system has not.
    static void Nothing(CDlgMain&, int) {}
};

const CDlgMain::Commands::Entry* CDlgMain::Commands::Find(int id) {
    static constexpr Entry kTable[] = {
        {cmd::start, Start},
        {cmd::start_audio_only, StartAudioOnly},
        {cmd::stop, Stop},
        {cmd::pause, PauseItem},
        {cmd::skip, SkipItem},
        {cmd::finish_job, FinishJob},
        {cmd::exit, Exit},

        {cmd::play, PlayOutput},
        {cmd::play_output, PlayOutput},
        {cmd::preview, Preview},
        {cmd::stop_playing, StopPlaying},
        {cmd::stop_player, StopPlaying},
        {cmd::external_player, ToggleExternalPlayer},
        {cmd::set_external_player, ChooseExternalPlayer},

        {cmd::set_output_folder, ChooseOutputFolder},
        {cmd::load_preset, LoadPresetFile},
        {cmd::save_preset, SavePresetFile},
        {cmd::revert, Revert},
        {cmd::save_settings, SaveSettings},
        {cmd::load_queue, LoadQueue},
        {cmd::save_queue, SaveQueue},

        {cmd::remove, RemoveSelected},
        {cmd::remove_all, RemoveAll},
        {cmd::state_done, MarkDone},
        {cmd::state_undone, MarkUndone},
        {cmd::state_reset, ResetStates},
        {cmd::output_details, ShowDetails},
        {cmd::source_details, ShowDetails},
        {cmd::set_output_file, EditOutputFile},
        {cmd::set_preset, EditPreset},
        {cmd::invert_selection, InvertSelection},
        {cmd::select_all, SelectAll},
        {cmd::move_up, MoveUp},
        {cmd::move_down, MoveDown},
        {cmd::group, Group},
        {cmd::ungroup, Ungroup},

        {cmd::about, About},
        {cmd::audio_encoder_version, ShowEncoderVersion},
        {cmd::video_encoder_version, ShowEncoderVersion},
        {cmd::muxer_version, ShowEncoderVersion},
        {cmd::toggle_console, ToggleConsole},
        {cmd::toggle_stats, ToggleStats},
        {cmd::show_ui, ToggleWindow},
        {cmd::queue_manager, ShowQueueWindow},
        {cmd::load_dropbox_url, LoadDropBoxFromUrl},
        {cmd::load_dropbox_file, LoadDropBoxFromFile},
        {cmd::switch_ui, SwitchDropBoxMode},
        {cmd::check_update, CheckUpdate},
        {cmd::transcoding_stats, ShowTranscodingStats},
        {cmd::settings, OpenSettings},
        {cmd::dsp_plugins_page, OpenDspPluginsPage},
        {cmd::system_info_page, OpenSystemInfoPage},
        {cmd::load_remote_extension, AskRemoteExtension},
        {cmd::website, Nothing},
        {cmd::forum, Nothing},
        {cmd::dropbox_builder, Nothing},
        {cmd::benchmark_result, Nothing},
        {cmd::report, Nothing},
    };
    for (const Entry& e : kTable)
        if (e.id == id) return &e;
    return nullptr;
}

bool CDlgMain::OnMenuCommand(int id) {
    if (Commands::RunFromTables(*this, id)) return true;
    if (const Commands::Entry* command = Commands::Find(id)) {
        command->run(*this, id);
        return true;
    }
    return Commands::RunNumbered(*this, id);
}

// The add, player, preference, remove and after-batch entries; false for any other id.
bool CDlgMain::Commands::RunFromTables(CDlgMain& window, int id) {
    for (const AddCommand& c : kAddCommands)
        if (c.id == id) {
            RaiseEvent(21, c.word, static_cast<int64_t>(reinterpret_cast<intptr_t>(window.hwnd_)));
            return true;
        }
    for (const PlayerMenuCommand& c : kPlayerCommands)
        if (c.id == id) {
            PlayerCommand(c.command, nullptr);
            return true;
        }
    for (const PrefMenuCommand& c : kPrefCommands)
        if (c.id == id) {
            SetPrefInt(c.key, c.value);
            if (std::strcmp(c.key, "overall.ui.mode") == 0) window.ApplyUiMode();
            return true;
        }
    for (const RemoveCommand& c : kRemoveCommands)
        if (c.id == id) {
            if (Idle()) {
                FileList().RemoveByState(c.state);
                window.ApplySettings(1);
            }
            return true;
        }
    ShellState& s = Shell();
    for (int action = 0; action < 6; ++action) {
        if (id != kAfterBatchCommands[action]) continue;
        s.afterBatchAction = action;
        // Power off, reboot and log off end the program after the batch; the command line's
        // "exit" holds whatever is chosen.
        s.exitFlag = action == 1 || action == 4 || action == 5 || s.options.exit;
        return true;
    }
    return false;
}

// Language n, wizard n and extension n of the menus the window fills; false for any other id.
bool CDlgMain::Commands::RunNumbered(CDlgMain& window, int id) {
    if (id >= kCmdLanguageBase && id < kCmdExtensionBase) {
        const int language = id - kCmdLanguageBase;
        if (GetPrefInt("overall.ui.language") != language) {
            SetPrefInt("overall.ui.language", language);
            window.MarkLanguage();
            RaiseEvent(2, Ui("need_restart"));
        }
        return true;
    }
    if (id >= kCmdWizardBase) {
        std::string link;
        {
            NewsFeed& feed = GetNewsFeed();
            NewsFeedLock lock(feed.mutex);
            const size_t index = static_cast<size_t>(id - kCmdWizardBase);
            if (lock.owns() && index < feed.wizards.size()) link = feed.wizards[index].link;
        }
        if (!link.empty()) OpenSetupWizard(link.c_str());
        return true;
    }
    // Extension entries come from a list this window does not show yet.
    return id >= kCmdExtensionBase && id < kCmdExtensionBase + 100;
}

void CDlgMain::Commands::Start(CDlgMain& window, int) {
    StartTranscoding();
    window.SetForeground();
}

// Audio only: the video is switched off first.
void CDlgMain::Commands::StartAudioOnly(CDlgMain& window, int id) {
    SetPrefInt("overall.video.enabled", 0);
    Start(window, id);
}

void CDlgMain::Commands::PauseItem(CDlgMain&, int) {
    if (TogglePauseItem(FileList().GetCurrentItem()) != 0) RaiseEvent(2, Ui("pause_error"));
}

void CDlgMain::Commands::SkipItem(CDlgMain&, int) {
    if (QueueItem* item = FileList().GetCurrentItem(); item && item->state.load() == kItemEncoding)
        SetItemState(item, kItemSkipping);
}

// The focused item's output file, when it exists.
void CDlgMain::Commands::PlayOutput(CDlgMain&, int) {
    const std::string output = ExistingOutput(FileList().GetCurrentItem());
    if (!output.empty()) PlayFile(output.c_str(), nullptr);
}

void CDlgMain::Commands::ToggleExternalPlayer(CDlgMain&, int) {
    SetPrefInt("overall.preview.extPlayer", GetPrefInt("overall.preview.extPlayer") ? 0 : 1);
}

void CDlgMain::Commands::ChooseExternalPlayer(CDlgMain& window, int) {
    const std::string path =
        ChooseFile(window.hwnd_, false, FileDialogFilter({{"Application", "*"}}), Ui("menu_set_ext_player"), 0);
    if (path.empty()) return;
    SetPrefString("overall.preview.extPlayerPath", path.c_str());
    SetPrefInt("overall.preview.extPlayer", 1);
}

void CDlgMain::Commands::ChooseOutputFolder(CDlgMain& window, int) {
    const char* dest = GetPrefString("overall.task.destdir");
    auto folder = gui::BrowseForFolder(window.hwnd_, Ui("menu_set_out_folder"), dest ? dest : "");
    if (folder) {
        SetPrefString("overall.task.destdir", folder->c_str());
        window.LoadControls();
    }
}

void CDlgMain::Commands::LoadPresetFile(CDlgMain& window, int) {
    const std::string path =
        ChooseFile(window.hwnd_, false, FileDialogFilter({{"Presets", "*.xml"}}), Ui("menu_load_preset"), 0x83000);
    if (path.empty()) return;
    window.SetStatusText(0, Ui(window.LoadPresetKeepingPrefs(path) ? "preset_loaded" : "preset_load_failed"));
}

void CDlgMain::Commands::SavePresetFile(CDlgMain& window, int) {
    std::string path =
        ChooseFile(window.hwnd_, true, FileDialogFilter({{"Presets", "*.xml"}}), Ui("menu_save_preset"), 0x80802);
    if (path.empty()) return;
    if (SavePrefs(WithXmlExtension(path).c_str(), kRevertSkipList) == 0) window.SetStatusText(0, Ui("preset_saved"));
}

// The settings of the core, the defaults and the program's own file, in that order.
void CDlgMain::Commands::Revert(CDlgMain& window, int) {
    RevertPrefs();
    LoadPreset("qxcore64.xml", nullptr, false);
    LoadPreset(Shell().options.defaultsFile, nullptr, false);
    LoadPreset("sonquill.xml", nullptr, false);
    window.ApplySettings(2);
}

void CDlgMain::Commands::SaveSettings(CDlgMain& window, int) {
    SavePrefs(GetDataPath("prefs.xml").c_str(), nullptr);
    if (GetPrefInt("overall.task.saveQueue")) window.SaveQueueAs(GetDataPath("queue.xml"), false);
    window.SetStatusText(0, "Saved as defaults");
}

void CDlgMain::Commands::LoadQueue(CDlgMain& window, int) {
    const std::string path = ChooseFile(window.hwnd_, false, FileDialogFilter({{"Quorvex Queue XML", "*.xml"}}),
                                        "Load Queue", gui::OFN_FILEMUSTEXIST);
    if (path.empty()) return;
    const int loaded = LoadQueueFile(path.c_str());
    FileList().RefreshRows();
    if (loaded > 0) window.SetStatusText(0, "Queue loaded");
}

void CDlgMain::Commands::SaveQueue(CDlgMain& window, int) {
    const std::string path = ChooseFile(window.hwnd_, true, FileDialogFilter({{"Quorvex Queue XML", "*.xml"}}),
                                        "Save Queue", gui::OFN_OVERWRITEPROMPT);
    if (!path.empty()) window.SaveQueueAs(WithXmlExtension(path), true);
}

void CDlgMain::Commands::RemoveSelected(CDlgMain& window, int) {
    if (!Idle()) return;
    FileList().RemoveSelected();
    window.ApplySettings(1);
}

void CDlgMain::Commands::RemoveAll(CDlgMain& window, int) {
    if (!Idle()) return;
    FileList().RemoveAll();
    window.ApplySettings(1);
}

// Every item back to ready, but those of an audio task.
void CDlgMain::Commands::ResetStates(CDlgMain&, int) {
    QueueLockGuard queue;
    for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it))
        if (!it->audioTask.load()) it->state = kItemReady;
    FileList().RefreshRows();
}

// The file information of the focused item, or of its output file through a passing item.
void CDlgMain::Commands::ShowDetails(CDlgMain& window, int id) {
    QueueItem* item = FileList().GetCurrentItem();
    if (!item) return;
    if (id != cmd::output_details) {
        ShowFileInfo(item, window.hwnd_);
        return;
    }
    const std::string output = ExistingOutput(item);
    if (output.empty()) return;
    QueueItem* temp = QueueNewItem(output.c_str());
    ShowFileInfo(temp, window.hwnd_);
    QueueFreeItem(temp);
}

void CDlgMain::Commands::About(CDlgMain& window, int) {
    const char* caption = UiStrings().GetString("menu_version", 0, "Information");
    gui::MessageBoxA(window.hwnd_, Shell().aboutText.c_str(), caption, gui::MB_OK | gui::MB_ICONINFORMATION);
}

// The version of the chosen audio encoder, video encoder or muxer; without one, the encoder's name
// in the "no version" text.
void CDlgMain::Commands::ShowEncoderVersion(CDlgMain& window, int id) {
    const int kind = id == cmd::audio_encoder_version ? 0 : id == cmd::video_encoder_version ? 1 : 2;
    const char* key = kind == 0 ? "overall.audio.encoder" : kind == 1 ? "overall.video.encoder" : "overall.container.muxer";
    const char* caption = kind == 0 ? "Audio encoder version" : kind == 1 ? "Video encoder version" : "Container muxer version";
    const int encoder = GetPrefInt(key);
    const char* version = GetEncoderVersion(kind, encoder);
    std::string text = version ? version : "";
    if (text.empty()) {
        const char* name = GetPrefEnumText(key, encoder);
        char buf[512];
        std::snprintf(buf, sizeof buf, "%s", Ui("NO_ENCODER_VER"));
        const std::string format = buf;
        const size_t at = format.find("%s");
        text = at == std::string::npos ? format : format.substr(0, at) + (name ? name : "") + format.substr(at + 2);
    }
    gui::MessageBoxA(window.hwnd_, text.c_str(), caption, gui::MB_OK | gui::MB_ICONINFORMATION);
}

void CDlgMain::Commands::ToggleConsole(CDlgMain& window, int) {
    SetPrefInt("overall.ui.console", GetPrefInt("overall.ui.console") ? 0 : 1);
    window.SetForeground();
}

void CDlgMain::Commands::ToggleStats(CDlgMain& window, int) {
    if (StatsWindow().Handle()) gui::SendMessageA(StatsWindow().Handle(), gui::WM_CLOSE, 0, 0);
    else ShowStats(window.hwnd_);
}

// A hidden or minimised window comes back to the front; a shown one is minimised.
void CDlgMain::Commands::ToggleWindow(CDlgMain& window, int) {
    if (!gui::IsWindowVisible(window.hwnd_) || gui::IsIconic(window.hwnd_)) {
        gui::ShowWindow(window.hwnd_, gui::SW_RESTORE);
        window.Show();
        PluginHostShow();
        window.SetForeground();
    } else {
        window.Minimize();
    }
}

void CDlgMain::Commands::SwitchDropBoxMode(CDlgMain& window, int) {
    SetPrefInt("overall.ui.mode", CurrentUiMode() == kUiDropBox ? kUiNormal : kUiDropBox);
    window.ApplyUiMode();
}

// The statistics page of the feed's "stats" link, which reads the figures from the control server;
// only once an item has figures.
void CDlgMain::Commands::ShowTranscodingStats(CDlgMain& window, int) {
    bool any = false;
    {
        QueueLockGuard queue;
        for (QueueItem* it = QueueNext(nullptr); it && !any; it = QueueNext(it)) any = it->statSampleCount > 0;
    }
    if (!any) {
        gui::MessageBoxA(window.hwnd_, Ui("select_processed"), "Information", gui::MB_OK | gui::MB_ICONINFORMATION);
        return;
    }
    const std::string link = GetNewsFeed().GetLink("stats", "");
    if (!link.empty() && EnsureControlServer())
        OpenWebPage((link + "?p=" + std::to_string(Shell().context.httpPort.load())).c_str(), Ui("menu_transcoding_stats"),
                    800, 600);
}

// Remote extensions are not loaded by this system: the address asked for goes nowhere.
void CDlgMain::Commands::AskRemoteExtension(CDlgMain& window, int) {
    auto address = ShowUrlDialog(window.hwnd_, "Load Remote Extension", Ui("enter_url"));
    (void)address;
}

// Buttons of the main window.
bool CDlgMain::OnControlCommand(int id) {
    switch (id) {
    case dlg::main::start:
        if (Idle() && WorkerCount() == 0) return OnMenuCommand(cmd::start);
        ShowMenu(menu::stop, GetItem(id), 0, 0);
        return true;
    case dlg::main::pause:
        if (GetItemState(nullptr) != kItemEncoding && GetItemState(nullptr) != kItemPaused) PlayerPause();
        else OnMenuCommand(cmd::pause);
        return true;
    case dlg::main::add: ShowMenu(menu::add, GetItem(id), 0, 0); return true;
    case dlg::main::preview: {
        if (GetPlayerInfo(1) == kPlayerPlaying) {
            PlayerStop();
            return true;
        }
        QueueItem* item = FileList().CurrentItem();
        uint32_t grey = 0;
        if (!item || ExistingOutput(item).empty()) grey |= (1u << 3) | (1u << 4);
        if (!item || (item->state.load() != kItemEncoding && item->state.load() != kItemPaused)) grey |= 1u << 2;
        ShowMenu(menu::preview, GetItem(id), GetPrefInt("overall.preview.extPlayer") ? 1u << 5 : 0, grey);
        return true;
    }
    case dlg::main::info: ShowMenu(menu::info, GetItem(id), 0, 0); return true;
    case dlg::dropbox::load_button: ShowMenu(menu::load_dropbox, GetItem(id), 0, 0); return true;
    case dlg::main::remove: return OnMenuCommand(cmd::remove);
    case dlg::main::set_output: return OnMenuCommand(cmd::set_output_folder);
    case dlg::main::source_details: return OnMenuCommand(cmd::source_details);
    case dlg::main::remove_menu: ShowMenu(menu::remove, GetItem(id), 0, 0); return true;
    case dlg::main::open_output: {
        // Only an existing folder is opened, never a program.
        const char* dest = GetPrefString("overall.task.destdir");
        std::string folder = dest ? dest : "";
        if (folder.empty())
            if (QueueItem* item = FileList().CurrentItem(); item && item->file && item->file[0] == '/')
                folder = std::string(item->file).substr(0, std::string(item->file).find_last_of('/') + 1);
        platform::PathInfo info;
        if (!folder.empty() && platform::StatPath(folder.c_str(), &info) && info.isDir) platform::ShellOpen(folder);
        return true;
    }
    default: return false;
    }
}

bool CDlgMain::OnEnterMenuLoop() {
    gui::HMENU menu = gui::GetMenu(hwnd_);
    if (!menu) return false;
    const int current = Shell().afterBatchAction.load();
    for (int action = 0; action < 6; ++action)
        gui::CheckMenuItem(menu, static_cast<UINT>(kAfterBatchCommands[action]),
                           gui::MF_BYCOMMAND | (action == current ? gui::MF_CHECKED : gui::MF_UNCHECKED));
    gui::CheckMenuItem(menu, cmd::external_player,
                       gui::MF_BYCOMMAND | (GetPrefInt("overall.preview.extPlayer") ? gui::MF_CHECKED : gui::MF_UNCHECKED));
    MarkLanguage();
    return true;
}

namespace {

// The submenu of a menu (or of its submenus) that holds the command.
gui::HMENU SubMenuHolding(gui::HMENU menu, UINT id) {
    const int count = gui::GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        if (gui::GetMenuItemID(menu, i) == id) return menu;
        if (gui::HMENU sub = gui::GetSubMenu(menu, i))
            if (gui::HMENU found = SubMenuHolding(sub, id)) return found;
    }
    return nullptr;
}

}  // namespace

void CDlgMain::FillLanguageMenu() {
    gui::HMENU menu = gui::GetMenu(hwnd_);
    gui::HMENU languages = menu ? SubMenuHolding(menu, kCmdLanguageBase) : nullptr;
    if (!languages) return;
    // The first entry ("menu_default", automatic choice) stays; the languages follow it.
    while (gui::GetMenuItemCount(languages) > 1) gui::DeleteMenu(languages, 1, gui::MF_BYPOSITION);
    const std::string names = GetPrefString("overall.presets.languages");
    size_t start = 0;
    // At most 99: the ids after those are the extensions'.
    for (int n = 1; start < names.size() && n < kCmdExtensionBase - kCmdLanguageBase; ++n) {
        size_t end = names.find(';', start);
        if (end == std::string::npos) end = names.size();
        const std::string name = names.substr(start, end - start);
        if (!name.empty()) gui::AppendMenuA(languages, gui::MF_STRING, static_cast<UINT>(kCmdLanguageBase + n), name.c_str());
        start = end + 1;
    }
    MarkLanguage();
}

void CDlgMain::MarkLanguage() {
    gui::HMENU menu = gui::GetMenu(hwnd_);
    gui::HMENU languages = menu ? SubMenuHolding(menu, kCmdLanguageBase) : nullptr;
    if (!languages) return;
    const int current = GetPrefInt("overall.ui.language");
    const int count = gui::GetMenuItemCount(languages);
    for (int i = 0; i < count; ++i) {
        const UINT id = gui::GetMenuItemID(languages, i);
        if (id == static_cast<UINT>(-1)) continue;
        const bool on = static_cast<int>(id) - kCmdLanguageBase == current;
        gui::CheckMenuItem(languages, static_cast<UINT>(i), gui::MF_BYPOSITION | (on ? gui::MF_CHECKED : gui::MF_UNCHECKED));
    }
}

}  // namespace ui

// Locks: eventLock_ (held around each event and the unload) is the host's only lock; under it run
// only the plug-in's event code and what its callbacks take (the preference store's lock, the
// engine's plug-in list locks when a preset changes the lists).
#include "ui/plugins/device_host.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "engine/context.h"
#include "engine/engine_api.h"
#include "engine/eventlog.h"
#include "engine/jobs/jobdriver.h"
#include "engine/queue/queue.h"
#include "engine/tools/preview.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "platform/dynlib/dynlib.h"
#include "platform/fs.h"
#include "platform/gui/menus.h"
#include "platform/gui/views.h"
#include "platform/shell_open.h"
#include "ui/main/batch.h"
#include "ui/main/window_services.h"

namespace ui {

using namespace gui;

namespace {

constexpr const char* kRoot = "/QuorvexPlugin";
constexpr const char* kLibraryExtension = ".so";
// The host's controls: the window of its own (template device) has those of the child (template
// device_child) but the tab buttons, under the same ids.
namespace host = dlg::device_child;
static_assert(dlg::device::catalog0 == host::catalog0 && dlg::device::catalog4 == host::catalog4 &&
              dlg::device::summary_tree == host::summary_tree && dlg::device::picture == host::picture &&
              dlg::device::progress == host::progress && dlg::device::seek == host::seek && dlg::device::play == host::play &&
              dlg::device::menu == host::menu && dlg::device::start == host::start &&
              dlg::device::device_label == host::device_label && dlg::device::time_tab == host::time_tab);
constexpr int kCatalogCombos[kPresetCatalogs] = {host::catalog0, host::catalog1, host::catalog2, host::catalog3, host::catalog4};
constexpr int kCatalogLabels[kPresetCatalogs] = {host::catalog0_label, host::catalog1_label, host::catalog2_label,
                                                 host::catalog3_label, host::catalog4_label};
constexpr int kDefaultPicture = 240;
constexpr gui::UINT_PTR kPlaybackTimer = 0;
constexpr gui::UINT_PTR kBatchTimer = 1;
constexpr uint32_t kPlayInput = 0x10;            // as the main window plays an item
constexpr uint32_t kPlayDevicePreview = 0x2000010;

const char* Text(const char* key) {
    const char* text = UiStrings().GetString(key, 0, key);
    return text ? text : key;
}

// A preset or catalog text: "_key" is a user-interface text; anything else stands as it is.
std::string PresetText(const char* text) {
    if (!text) return "";
    if (*text == '_') return Text(text + 1);
    return text;
}

// --- the callbacks the plug-in is given ---

void* CbGetPref(const char* key) { return key ? const_cast<void*>(GetPrefValuePtr(key)) : nullptr; }
int CbSetPref(const char* key, const char* text) { return key && text && SetPrefFromText(key, text) ? 1 : 0; }
void CbRefreshSummary(int level) {
    DeviceHost().RefreshSummary();
    SettingsChangedLevel = level;
    ApplyCountdown = 0;
}
void CbOpenSettings(const char* prefix) { DeviceHost().OpenSettings(prefix); }
void CbApplyPresets() { DeviceHost().ApplyPresets(); }
void CbSelectPreset(int catalog, int index) { DeviceHost().SelectPreset(catalog, index); }
const char* CbGetString(const char* key) {
    if (!key) return "";
    const char* text = PluginStrings().GetString(key, 0, "");
    return text ? text : "";
}

PluginHostCallbacks g_callbacks = {CbGetPref, CbSetPref, CbRefreshSummary, CbOpenSettings,
                                   CbApplyPresets, CbSelectPreset, CbGetString};

std::string ReadWhole(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return f ? std::string(std::istreambuf_iterator<char>(f), {}) : std::string();
}

// Why a plug-in was not loaded, in the log under the plug-in's file name.
void LogNotLoaded(const std::string& name, const std::string& why) {
    LogSource log = MakeLogSource(name.empty() ? "plug-in" : name.c_str());
    LogMessageFormat(&log, "Plug-in not loaded: %s", why.c_str());
}

bool FlagOn(const char* value) { return value && *value && *value != '0'; }

}  // namespace

CDeviceDialog& DeviceHost() {
    static CDeviceDialog host;
    return host;
}

bool IsPluginFileName(const std::string& name) {
    const size_t ext = std::strlen(kLibraryExtension);
    if (name.size() <= ext || name.compare(name.size() - ext, ext, kLibraryExtension) != 0) return false;
    if (name.front() == '.' || name.find_first_of("/\\") != std::string::npos || name.find("..") != std::string::npos)
        return false;
    return true;
}

std::string DescriptionPath(const std::string& libraryPath) {
    const size_t slash = libraryPath.find_last_of('/');
    const size_t dot = libraryPath.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return libraryPath + ".xml";
    return libraryPath.substr(0, dot + 1) + "xml";
}

CDeviceDialog::CDeviceDialog() { title_ = "device"; }

// The menu goes with the plug-in (ForgetPlugin): at process exit the windowing layer may be gone.
CDeviceDialog::~CDeviceDialog() = default;

int CDeviceDialog::CatalogCombo(int catalog) {
    return catalog >= 0 && catalog < kPresetCatalogs ? kCatalogCombos[catalog] : 0;
}

int CDeviceDialog::LoadPlugin(const char* name, HWND parent) {
    const std::string file = name ? name : "";
    const std::string path = platform::AppFolder() + "plugins/" + file;
    if (header_ && !Unload()) return 0;
    // Only a library of the plug-in folder: a name from a preference or a remote command never
    // reaches another folder.
    platform::DynLib library;
    const bool named = IsPluginFileName(file);
    if (!named || !library.Open(path)) {
        LogNotLoaded(file, named ? library.Error() : "not a library name of the plug-in folder");
        MessageBoxA(parent, path.c_str(), "Error loading DLL", MB_ICONINFORMATION);
        return 0;
    }
    auto getHeader = library.Function<GetPluginHeaderFn>("GetPluginHeader");
    PluginHeader* header = getHeader ? getHeader() : nullptr;
    if (!header) {
        LogNotLoaded(file, getHeader ? "no header" : "no GetPluginHeader");
        return 0;  // the library goes with `library`
    }
    if (!hwnd_) CreateModeless(nullptr, embedded_ ? dlg::device_child::id : dlg::device::id, parent);
    if (!hwnd_) return 0;
    parent_ = parent;
    name_ = file;
    ReadDescription(path, library, *header);
    LoadPicture(library, *header);
    // A plug-in stays mapped once its header was handed out: its code may still run on threads
    // of its own.
    void* module = library.Release();
    header->hostWindow = hwnd_;
    header->module = module;
    header->callbacks = &g_callbacks;
    header->xmlText = xmlText_.empty() ? nullptr : xmlText_.data();
    header->xmlSize = static_cast<uint32_t>(xmlText_.size());
    {
        std::lock_guard<platform::RecursiveMutex> lock(eventLock_);
        header_ = header;
        pluginName_ = header->name;
    }
    // The panel is required: without one the plug-in is refused like one that refuses itself.
    // It is taken in (hidden) first, so that a refused load takes it along with the host window.
    HWND panel = static_cast<HWND>(header->pluginWindow);
    if (panel && GetParent(panel) != hwnd_) SetParent(panel, hwnd_);
    if (!panel || SendEvent(kPluginEventLoad, 0) != 0) {
        LogNotLoaded(file, panel ? "the plug-in refused" : "no panel window");
        ForgetPlugin();
        DestroyHost();
        return 0;
    }

    HWND sizing = static_cast<HWND>(header->sizingWindow);
    if (header->videoWidth == 0 && sizing) {
        RECT rc{};
        GetClientRect(sizing, &rc);
        header->videoWidth = rc.right - rc.left;
        header->videoHeight = rc.bottom - rc.top;
    }
    TranslateControls(panel);
    ShowWindow(panel, SW_SHOW);

    link_.clear();
    url_.clear();
    hostFlags_ = header->flags;
    summaryWidth_ = summaryHeight_ = 0;
    catalogCount_ = 0;
    for (int id : kCatalogCombos) SendItemMessage(id, CB_RESETCONTENT, 0, 0);

    doc_ = std::make_unique<CXML>();
    if (xmlText_.empty() || doc_->Read(xmlText_.data(), static_cast<int>(xmlText_.size())) != 0 || !doc_->goToKey(kRoot)) {
        doc_.reset();
        RaiseEvent(kEventNotice, Text("PLUGIN_XML_ERROR"));
        BuildMenu();
    } else {
        ReadProperties();
        BuildMenu();
        FillCatalogs();
    }

    Layout();
    if (!defaultBitmap_) defaultBitmap_ = LoadBitmapA(MainInstance(), MAKEINTRESOURCEA(kDefaultPicture));
    gui::HBITMAP picture = header_->bitmap ? static_cast<gui::HBITMAP>(header_->bitmap) : defaultBitmap_;
    SendItemMessage(host::picture, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
    SetItemText(host::device_label, Text("device"));
    SetItemText(host::play, Text("play"));
    SetItemText(host::start, Text("start"));
    SendEvent(kPluginEventReady, 0);
    ApplyPresets();
    if (!embedded_ && header_ && header_->name) SetWindowTextA(hwnd_, header_->name);
    LoadControls();
    ShowWindow(hwnd_, SW_SHOW);
    Dock();
    SettingsChangedLevel = 0;
    ApplyCountdown = 0;
    return 1;
}

void CDeviceDialog::ReadDescription(const std::string& libraryPath, const platform::DynLib& library,
                                    const PluginHeader& header) {
    xmlText_ = ReadWhole(DescriptionPath(libraryPath));
    if (!xmlText_.empty() || header.xmlResourceId == 0) return;
    // The library's own description is not terminated: it is copied by its size.
    auto getResource = library.Function<GetPluginResourceFn>("GetPluginResource");
    uint32_t size = 0;
    const void* bytes = getResource ? getResource(header.xmlResourceId, "XML", &size) : nullptr;
    if (bytes && size) xmlText_.assign(static_cast<const char*>(bytes), size);
}

void CDeviceDialog::ReadProperties() {
    if (!doc_->goToKey((std::string(kRoot) + "/properties").c_str()) || !doc_->goChild()) return;
    static const struct {
        const char* name;
        uint32_t bit;
    } kFlags[] = {{"dock", kPluginDock}, {"summary", kPluginSummary}, {"dialog", kPluginDialog},
                  {"confirm", kPluginConfirm}, {"nodllfree", kPluginNoDllFree}};
    do {
        const std::string kind = doc_->getNodeName() ? doc_->getNodeName() : "";
        if (kind == "link") {
            link_ = doc_->getAttribute("value", "");
        } else if (kind == "url") {
            url_ = doc_->getAttribute("value", "");
        } else if (kind == "name") {
            // The text is the host's own: the document's strings change as it is read.
            const char* value = doc_->getAttribute("value", "");
            if (value && *value) {
                displayName_ = value;
                header_->name = displayName_.c_str();
            }
        } else if (kind == "flag") {
            for (const auto& f : kFlags) {
                if (FlagOn(doc_->getAttribute(f.name, nullptr))) hostFlags_ |= f.bit;
                else hostFlags_ &= ~f.bit;
            }
        } else if (kind == "summary") {
            summaryWidth_ = doc_->getAttributeInt("width", summaryWidth_);
            summaryHeight_ = doc_->getAttributeInt("height", summaryHeight_);
        }
    } while (doc_->goNext());
}

void CDeviceDialog::BuildMenu() {
    // Made again for each plug-in, so that one plug-in's entries never stay behind for the next.
    if (menu_) DestroyMenu(menu_);
    menu_ = CreatePopupMenu();
    menuKeys_.clear();
    static const struct {
        int id;
        const char* text;  // null: a separator
        bool translated;
    } kFixed[] = {
        {device_cmd::use_avs, "use_avs", true},
        {device_cmd::parallel, "parallel", true},
        {device_cmd::display_frames, "display_frames", true},
        {0, nullptr, false},
        {device_cmd::scale, "scale", true},
        {device_cmd::thumbnails, "thumbnails", true},
        {device_cmd::deinterlace, "deint", true},
        {device_cmd::effects, "effects", true},
        {device_cmd::delogo, "delogo", true},
        {0, nullptr, false},
        {device_cmd::ffmpeg, "FFmpeg", true},
        {device_cmd::xvid, "Xvid", true},
        {device_cmd::x264, "x264", true},
        {device_cmd::cuda_encoder, "CUDA Encoder", false},
        {device_cmd::intel_encoder, "Intel Encoder", false}};
    for (const auto& e : kFixed) {
        if (!e.text) AppendMenuA(menu_, MF_SEPARATOR, 0, nullptr);
        else AppendMenuA(menu_, MF_STRING, static_cast<UINT_PTR>(e.id), e.translated ? Text(e.text) : e.text);
    }
    if (doc_ && doc_->goToKey((std::string(kRoot) + "/menus").c_str()) && doc_->goChild()) {
        AppendMenuA(menu_, MF_SEPARATOR, 0, nullptr);
        do {
            if (std::strcmp(doc_->getNodeName(), "menu") != 0) continue;
            const int id = device_cmd::first_plugin_menu + static_cast<int>(menuKeys_.size());
            AppendMenuA(menu_, MF_STRING, static_cast<UINT_PTR>(id), Text(doc_->getAttribute("text", "")));
            const char* key = doc_->getAttribute("key", nullptr);
            menuKeys_.push_back(key ? key : "");
        } while (doc_->goNext());
    }
    PrefStore& p = GetPrefStore();
    CheckMenuItem(menu_, device_cmd::parallel, p.GetInt("overall.task.parallelize") >= 2 ? MF_CHECKED : MF_UNCHECKED);
    CheckMenuItem(menu_, device_cmd::display_frames, p.GetInt("overall.preview.mode") > 0 ? MF_CHECKED : MF_UNCHECKED);
    const bool avs = !p.GetBool("overall.video.autoSource") && p.GetInt("overall.video.source") == 1;
    CheckMenuItem(menu_, device_cmd::use_avs, avs ? MF_CHECKED : MF_UNCHECKED);
}

void CDeviceDialog::FillCatalogs() {
    // Saved choices count only when they are this plug-in's: its name, then ','.
    const char* saved = GetPrefStore().GetString("overall.ui.pluginParams");
    const std::string prefix = name_ + ",";
    const char* choices = saved && std::strncmp(saved, prefix.c_str(), prefix.size()) == 0 ? saved + prefix.size() : nullptr;
    if (!doc_->goToKey((std::string(kRoot) + "/presets").c_str()) || !doc_->goChild()) return;
    int catalogNumber = 0;
    do {
        if (std::strcmp(doc_->getNodeName(), "catalog") != 0) continue;
        ++catalogNumber;
        if (catalogCount_ >= kPresetCatalogs) break;
        XmlNode catalog = doc_->node;
        const std::string label = PresetText(doc_->getAttribute("text", ""));
        const int combo = kCatalogCombos[catalogCount_];
        int count = 0, selection = -1;
        if (doc_->goChild()) {
            do {
                if (std::strcmp(doc_->getNodeName(), "preset") != 0) continue;
                const std::string text = PresetText(doc_->getAttribute("text", ""));
                SendItemMessage(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
                if (doc_->getAttribute("sel", nullptr)) selection = count;
                ++count;
            } while (doc_->goNext());
            doc_->SetCurrentNode(catalog);
        }
        if (count == 0) continue;  // a catalog without presets gets no combo
        if (choices && std::isdigit(static_cast<unsigned char>(*choices))) {
            const int chosen = std::atoi(choices);
            if (chosen < count) selection = chosen;
            const char* comma = std::strchr(choices, ',');
            choices = comma ? comma + 1 : nullptr;
        } else {
            choices = nullptr;  // a catalog left empty last time: the rest keep their defaults
        }
        SetItemText(kCatalogLabels[catalogCount_], label.c_str());
        SetComboSel(combo, selection);
        catalogNode_[catalogCount_] = catalogNumber;
        ++catalogCount_;
    } while (doc_->goNext());
}

void CDeviceDialog::Layout() {
    for (int i = 0; i < kPresetCatalogs; ++i) {
        ShowWindow(GetItem(kCatalogCombos[i]), i < catalogCount_ ? SW_SHOW : SW_HIDE);
        ShowWindow(GetItem(kCatalogLabels[i]), i < catalogCount_ ? SW_SHOW : SW_HIDE);
    }
    const bool summary = hostFlags_ & kPluginSummary;
    HWND tree = GetItem(host::summary_tree);
    ShowWindow(tree, summary ? SW_SHOW : SW_HIDE);
    if (!header_ || !header_->pluginWindow) return;
    HWND panel = static_cast<HWND>(header_->pluginWindow);
    RECT pr{}, cr{};
    GetWindowRect(panel, &pr);
    GetWindowRect(GetItem(kCatalogCombos[0]), &cr);
    const int pw = pr.right - pr.left, ph = pr.bottom - pr.top;
    const int combosRight = 10 + (cr.right - cr.left) + 10;
    const int combosBottom = 10 + catalogCount_ * 40;
    const int treeWidth = (summaryWidth_ ? summaryWidth_ : 160) + 6;
    const int treeHeight = summaryHeight_ ? summaryHeight_ : 160;
    if (!(hostFlags_ & kPluginDialog)) {
        // Beside the combos, at least 320 high: a smaller panel is centred in that height.
        const int top = ph < 320 && !embedded_ ? 10 + (320 - ph) / 2 : 10;
        MoveWindow(panel, combosRight, top, pw, ph, TRUE);
        MoveWindow(tree, 10, combosBottom, combosRight - 20, treeHeight, TRUE);
    } else if (hostFlags_ & kPluginDock) {
        MoveWindow(panel, 10, combosBottom, pw, ph, TRUE);
        MoveWindow(tree, 10 + pw + 10, combosBottom, treeWidth, treeHeight, TRUE);
    } else {
        const int panelTop = summary ? combosBottom + treeHeight + 10 : combosBottom;
        MoveWindow(tree, 10, combosBottom, treeWidth, treeHeight, TRUE);
        MoveWindow(panel, 10, panelTop, pw, ph, TRUE);
    }
}

void CDeviceDialog::ForgetPlugin() {
    std::lock_guard<platform::RecursiveMutex> lock(eventLock_);
    if (header_) {
        // What pointed into the host's own texts goes with them.
        header_->name = pluginName_;
        header_->xmlText = nullptr;
        header_->xmlSize = 0;
    }
    header_ = nullptr;
    doc_.reset();
    xmlText_.clear();
    displayName_.clear();
    menuKeys_.clear();
    if (menu_) DestroyMenu(menu_);
    menu_ = nullptr;
    catalogCount_ = 0;
    name_.clear();
}

bool CDeviceDialog::Unload(bool force) {
    std::lock_guard<platform::RecursiveMutex> lock(eventLock_);
    if (!header_) return true;
    if (SendEvent(kPluginEventUnload, 0) != 0 && !force) return false;
    std::string params = name_;
    for (int i = 0; i < kPresetCatalogs; ++i) params += "," + std::to_string(i < catalogCount_ ? GetComboSel(kCatalogCombos[i]) : -1);
    GetPrefStore().SetString("overall.ui.pluginParams", params.c_str());
    if (header_->pluginWindow) ShowWindow(static_cast<HWND>(header_->pluginWindow), SW_HIDE);
    if (header_->bitmap) DeleteObject(static_cast<gui::HGDIOBJ>(header_->bitmap));
    header_->bitmap = nullptr;
    ForgetPlugin();
    return true;
}

int CDeviceDialog::SendEvent(int code, intptr_t data) {
    std::lock_guard<platform::RecursiveMutex> lock(eventLock_);
    if (!header_ || !header_->event) return 0;
    return header_->event(code, data);
}

void CDeviceDialog::ApplyPresets() {
    // A preset may enable or disable the engine's input and DSP plug-ins: the lists are read
    // again when it did, so that the next job runs with what the preset chose.
    static const struct {
        int list;
        const char* key;
    } kPluginLists[] = {{0, "audiosrc.winamp.enabledDspPlugins"}, {1, "audiosrc.winamp.disabledInPlugins"}};
    auto text = [](const char* key) {
        const char* value = GetPrefStore().GetString(key);
        return std::string(value ? value : "");
    };
    std::string before[2];
    for (int i = 0; i < 2; ++i) before[i] = text(kPluginLists[i].key);
    if (!xmlText_.empty() && doc_) {
        const int size = static_cast<int>(xmlText_.size());
        LoadPrefsFile(xmlText_.c_str(), size, (std::string(kRoot) + "/presets/common").c_str());
        for (int i = 0; i < catalogCount_; ++i) {
            const int s = GetComboSel(kCatalogCombos[i]);
            if (s < 0) continue;
            char node[128];
            std::snprintf(node, sizeof node, "%s/presets/catalog[%d]/preset[%d]", kRoot, catalogNode_[i], s + 1);
            LoadPrefsFile(xmlText_.c_str(), size, node);
        }
    }
    for (int i = 0; i < 2; ++i)
        if (text(kPluginLists[i].key) != before[i]) WinampPluginControl(kPluginLists[i].list, 4, 0, nullptr, 0);
    SettingsChangedLevel = 1;
    ApplyCountdown = 0;
}

void CDeviceDialog::SelectPreset(int catalog, int index) {
    if (catalog < 0 || catalog >= catalogCount_) return;
    const int combo = kCatalogCombos[catalog];
    if (index < 0 || index >= static_cast<int>(SendItemMessage(combo, CB_GETCOUNT, 0, 0))) return;
    SetComboSel(combo, index);
    ApplyPresets();
}

void CDeviceDialog::OpenSettings(const char* keyPrefix) {
    char url[2048] = {};
    BuildWebUiUrl(0, keyPrefix && *keyPrefix ? keyPrefix : nullptr, url, sizeof url);
    settingsUrl_ = url;
    if (openSettings_) openSettings_(settingsUrl_);
}

void CDeviceDialog::RefreshSummary() {
    if (SendEvent(kPluginEventSummary, 0) != 0) return;
    if (hwnd_ && (hostFlags_ & kPluginSummary)) FillSummary();
}

void CDeviceDialog::FillSummary() {
    HWND tree = GetItem(host::summary_tree);
    SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    PrefStore& p = GetPrefStore();
    auto add = [&](HTREEITEM parent, const std::string& text) {
        TVINSERTSTRUCTA ins{};
        ins.hParent = parent;
        ins.hInsertAfter = TVI_LAST;
        ins.item.mask = TVIF_TEXT;
        ins.item.pszText = const_cast<char*>(text.c_str());
        return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
    };
    auto option = [&](const char* key) {
        const char* text = p.GetEnumText(key, p.GetInt(key));
        return std::string(text ? text : "");
    };
    auto labelled = [&](HTREEITEM parent, const char* format, const char* label, auto... values) {
        char line[256];
        std::snprintf(line, sizeof line, format, Text(label), values...);
        add(parent, line);
    };
    if (p.GetBool("overall.video.enabled")) {
        HTREEITEM video = add(TVI_ROOT, Text("video"));
        add(video, option("overall.video.format"));
        // Rate modes: ABR, VBR, CBR, CQP, two-pass, three-pass.
        switch (p.GetInt("overall.video.mode")) {
        case 1: labelled(video, "%s: %d%%", "quality", p.GetInt("overall.video.quality")); break;
        case 3: labelled(video, "%s: %d", "video_quant", p.GetInt("overall.video.quant")); break;
        default: labelled(video, "%s: %d Kbps", "bitrate", p.GetInt("overall.video.bitrate")); break;
        }
        if (p.GetBool("videofilter.scale.enabled"))
            labelled(video, "%s: %dx%d", "resolution", p.GetInt("videofilter.scale.width"), p.GetInt("videofilter.scale.height"));
        if (p.GetBool("videofilter.frame.enabled") && p.GetInt("videofilter.frame.fps") > 0)
            labelled(video, "%s: %.2f fps", "framerate",
                     static_cast<double>(p.GetInt("videofilter.frame.fps")) / std::max(p.GetInt("videofilter.frame.fpsScale"), 1));
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(video));
    }
    if (p.GetBool("overall.audio.enabled")) {
        HTREEITEM audio = add(TVI_ROOT, Text("audio"));
        add(audio, option("overall.audio.format"));
        // The encoder's rate: its quality in a quality mode, else its bit rate.
        const char* branch = EncoderBranchName(p.GetInt("overall.audio.encoder"));
        const std::string b = branch ? branch : "";
        const std::string key = "audioenc." + b + ".";
        if (b == "amr") {
            add(audio, option((key + (p.GetInt((key + "codec").c_str()) == 0 ? "modenb" : "modewb")).c_str()));
        } else if (b == "lame" || b == "vorbis" || b == "nero" || b == "faac" || b == "ffmpeg") {
            const std::string mode = b == "ffmpeg" ? "" : option((key + "mode").c_str());
            if (mode == "VBR" || mode == "Quality") labelled(audio, "%s: %d", "quality", p.GetInt((key + "quality").c_str()));
            else labelled(audio, "%s: %d Kbps", "bitrate", p.GetInt((key + "bitrate").c_str()));
        }
        if (const int rate = p.GetInt("audiofilter.resample.samplerate")) labelled(audio, "%s: %d Hz", "samplerate", rate);
        add(audio, option("overall.audio.channels"));
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(audio));
    }
    HTREEITEM container = add(TVI_ROOT, option("overall.container.format"));
    add(container, option("overall.container.muxer"));
    // Split mode: the length of each piece, in seconds or kilobytes.
    if (p.GetInt("overall.task.mode") == 4) {
        char line[256];
        std::snprintf(line, sizeof line, "%s %d %s", Text("split_into"), p.GetInt("overall.task.splitParam"),
                      Text(p.GetInt("overall.task.splitMode") == 1 ? "KB" : "secs"));
        add(TVI_ROOT, line);
    }
}

void CDeviceDialog::ToggleMenuCheck(int id) {
    if (!menu_) return;
    const bool checked = (GetMenuState(menu_, static_cast<UINT>(id), MF_BYCOMMAND) & MF_CHECKED) != 0;
    CheckMenuItem(menu_, static_cast<UINT>(id), checked ? MF_UNCHECKED : MF_CHECKED);
    auto on = [&](int item) { return (GetMenuState(menu_, static_cast<UINT>(item), MF_BYCOMMAND) & MF_CHECKED) != 0; };
    PrefStore& p = GetPrefStore();
    p.SetInt("overall.video.source", on(device_cmd::use_avs) ? 1 : 0);
    p.SetInt("overall.task.parallelize", on(device_cmd::parallel) ? 2 : 1);
    const bool sizing = header_ && header_->sizingWindow;
    p.SetInt("overall.preview.mode", !on(device_cmd::display_frames) ? 0 : sizing ? 1 : 2);
}

bool CDeviceDialog::OnControlCommand(int id) {
    switch (id) {
    case host::menu: {
        if (!menu_) {
            OpenSettings("");
            return true;
        }
        RECT rc{};
        GetWindowRect(GetItem(host::menu), &rc);
        TrackPopupMenu(menu_, 0, rc.left, rc.bottom - 1, 0, hwnd_, nullptr);
        return true;
    }
    case device_cmd::use_avs:
    case device_cmd::parallel:
    case device_cmd::display_frames: ToggleMenuCheck(id); return true;
    case host::picture:
        if (!link_.empty()) platform::ShellOpen(link_);
        return true;
    case host::play: PlayOrStop(); return true;
    case device_cmd::play:
        if (playState_ == 0) PlayOrStop();
        return true;
    case device_cmd::device_preview: DevicePreview(); return true;
    case host::start: StartOrStop(); return true;
    case host::time_tab:
    case host::audio_tab:
    case device_cmd::automation:
        if (openTab_) openTab_(id, hwnd_);
        return true;
    default: break;
    }
    if (id >= device_cmd::first_plugin_menu && id < device_cmd::first_plugin_menu + static_cast<int>(menuKeys_.size())) {
        // An entry without a key opens nothing.
        const std::string& key = menuKeys_[static_cast<size_t>(id - device_cmd::first_plugin_menu)];
        if (!key.empty()) OpenSettings(key.c_str());
        return true;
    }
    return false;
}

bool CDeviceDialog::OnControlSelChange(int id) {
    for (int i = 0; i < catalogCount_; ++i) {
        if (kCatalogCombos[i] != id) continue;
        ApplyPresets();
        SendEvent(kPluginEventPreset, (static_cast<intptr_t>(GetComboSel(id)) << 16) | i);
        SettingsChangedLevel = 2;
        ApplyCountdown = 0;
        return true;
    }
    return false;
}

bool CDeviceDialog::OnClose() {
    // A plug-in that refuses to go keeps its host window, and with it its panel.
    if (Unload()) DestroyHost();
    return false;
}

void CDeviceDialog::DestroyHost() {
    if (playState_ != 0) StopPlayback(false);
    if (hwnd_) {
        KillTimer(hwnd_, kBatchTimer);
        transcoding_ = false;
    }
    // A modeless dialog is destroyed, not ended: ending would only hide it.
    HWND h = hwnd_;
    Close();
    if (h && IsWindow(h)) DestroyWindow(h);
}

void CDeviceDialog::ReleasePictures() {
    if (defaultBitmap_) DeleteObject(defaultBitmap_);
    defaultBitmap_ = nullptr;
}

void CDeviceDialog::LoadPicture(const platform::DynLib& library, PluginHeader& header) {
    header.bitmap = nullptr;
    if (header.bitmapResourceId == 0) return;
    auto getResource = library.Function<GetPluginResourceFn>("GetPluginResource");
    uint32_t size = 0;
    if (!getResource || !getResource(header.bitmapResourceId, "BITMAP", &size) || size == 0) return;
    header.bitmap = LoadBitmapA(static_cast<HINSTANCE>(nullptr), MAKEINTRESOURCEA(header.bitmapResourceId));
}

void CDeviceDialog::Dock() {
    // Beside the main window, on its left; the main window moves right when the screen has no
    // room there, and the host gives up docking when both cannot fit.
    if (embedded_ || !(hostFlags_ & kPluginDock) || !parent_ || !hwnd_) return;
    RECT work{}, host{}, main{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(hwnd_, &host);
    GetWindowRect(parent_, &main);
    const int hostWidth = host.right - host.left, hostHeight = host.bottom - host.top;
    const int mainWidth = main.right - main.left, mainHeight = main.bottom - main.top;
    int mainLeft = main.left;
    if (mainLeft - hostWidth < work.left) mainLeft = work.left + hostWidth;
    if (mainLeft + mainWidth > work.right) {
        hostFlags_ &= ~static_cast<uint32_t>(kPluginDock);
        return;
    }
    if (mainLeft != main.left) MoveWindow(parent_, mainLeft, main.top, mainWidth, mainHeight, TRUE);
    MoveWindow(hwnd_, mainLeft - hostWidth, main.top, hostWidth, hostHeight, TRUE);
}

bool CDeviceDialog::PlayInPanel(QueueItem* item, uint32_t flags, const std::string& options, int state) {
    HWND sizing = static_cast<HWND>(header_->sizingWindow);
    videoWindow_ = CreateWindowExA(0, kStaticClass, "", WS_CHILD | WS_VISIBLE, header_->videoX, header_->videoY,
                                   header_->videoWidth, header_->videoHeight, sizing, nullptr, nullptr, nullptr);
    if (!videoWindow_ || PlayItem(item, videoWindow_, flags, options.empty() ? nullptr : options.c_str(), nullptr) < 0) {
        if (videoWindow_) DestroyWindow(videoWindow_);
        videoWindow_ = nullptr;
        return false;
    }
    playState_ = state;
    SetTimer(hwnd_, kPlaybackTimer, 1000, nullptr);
    // The seek slider stands in for the progress bar while the item plays.
    const int length = std::max(GetPlayerInfo(3), static_cast<int>(item->duration)) / 1000;
    HWND slider = GetItem(host::seek);
    SendMessageA(slider, TBM_SETRANGE, TRUE, MAKELPARAM(0, length));
    SendMessageA(slider, TBM_SETPOS, TRUE, 0);
    EnableWindow(slider, TRUE);
    if (!embedded_) {
        ShowWindow(GetItem(host::progress), SW_HIDE);
        ShowWindow(slider, SW_SHOW);
    }
    return true;
}

void CDeviceDialog::PlayOrStop() {
    if (!header_) return;
    if (playState_ != 0) {
        StopPlayback(true);
        return;
    }
    QueueItem* item = CurrentListItem();
    if (!item) return;
    if (SendEvent(kPluginEventPlay, reinterpret_cast<intptr_t>(item)) != 0) {
        RaiseEvent(kEventNotice, Text("NO_FILE"));
        return;
    }
    PrefStore& p = GetPrefStore();
    if (header_->sizingWindow && p.GetBool("overall.ui.pluginWindowPlayback")) {
        std::string options;
        if (header_->videoWidth < header_->videoHeight)
            options = " -vf-add rotate=" + std::to_string(p.GetInt("videofilter.rotate.mode"));
        PlayInPanel(item, kPlayInput, options, 1);
        return;
    }
    // No panel to play in: the item plays as the main window plays it.
    PlayItem(item, nullptr, kPlayInput, nullptr, nullptr);
}

void CDeviceDialog::DevicePreview() {
    if (!header_ || playState_ != 0) return;
    QueueItem* item = CurrentListItem();
    if (!item) return;
    SendEvent(kPluginEventPreview, 0);
    if (header_->sizingWindow && GetPrefStore().GetBool("overall.ui.pluginWindowPlayback"))
        PlayInPanel(item, kPlayDevicePreview, "", 2);
}

void CDeviceDialog::StopPlayback(bool askPlugin) {
    if (askPlugin && SendEvent(kPluginEventStopPlay, 0) != 0) return;
    PlayerStop();
    if (videoWindow_ && IsWindow(videoWindow_)) DestroyWindow(videoWindow_);
    videoWindow_ = nullptr;
    playState_ = 0;
    seekDrag_ = false;
    if (!hwnd_) return;
    KillTimer(hwnd_, kPlaybackTimer);
    HWND slider = GetItem(host::seek);
    SendMessageA(slider, TBM_SETPOS, TRUE, 0);
    EnableWindow(slider, FALSE);
    if (!embedded_) {
        ShowWindow(slider, SW_HIDE);
        ShowWindow(GetItem(host::progress), SW_SHOW);
    }
}

void CDeviceDialog::StartOrStop() {
    if (!hwnd_) return;
    // A batch whose workers run counts as converting even before its first job has begun: a
    // second press never starts a second batch.
    if (GetItemState(nullptr) != kItemEncoding && WorkerCount() == 0) {
        transcoding_ = true;
        SetItemText(host::start, Text("stop"));
        StartTranscoding();
        // The batch timer notices the end, also of a batch that did not start.
        SetTimer(hwnd_, kBatchTimer, 1000, nullptr);
        return;
    }
    if (SendEvent(kPluginEventStopPressed, 0) != 0) return;
    StopItem(nullptr);
    WaitWorkerThreads(3000);
}

bool CDeviceDialog::OnTimer(gui::UINT_PTR id) {
    if (id == kPlaybackTimer) {
        if (playState_ == 0) return true;
        if (GetPlayerInfo(1) == kPlayerStopped) {
            // The item played to its end.
            if (videoWindow_ && IsWindow(videoWindow_)) DestroyWindow(videoWindow_);
            videoWindow_ = nullptr;
            playState_ = 0;
            KillTimer(hwnd_, kPlaybackTimer);
            SendItemMessage(host::seek, TBM_SETPOS, TRUE, 0);
        } else if (!seekDrag_) {
            SendItemMessage(host::seek, TBM_SETPOS, TRUE, std::max(GetPlayerInfo(0), 0) / 1000);
        }
        return true;
    }
    if (id == kBatchTimer) {
        if (WorkerCount() == 0) {
            transcoding_ = false;
            SetItemText(host::start, Text("start"));
            SendItemMessage(host::progress, PBM_SETPOS, 0, 0);
            KillTimer(hwnd_, kBatchTimer);
        } else if (QueueItem* item = CurrentListItem()) {
            SendItemMessage(host::progress, PBM_SETPOS, static_cast<WPARAM>(std::max(item->run.progress.load(), 0.0f)), 0);
        }
        return true;
    }
    return false;
}

bool CDeviceDialog::OnControlScroll(int id, int code) {
    if (id != host::seek) return false;
    if (code == static_cast<int>(TB_THUMBTRACK)) {
        seekDrag_ = true;
    } else if (code == static_cast<int>(TB_ENDTRACK) || code == static_cast<int>(TB_THUMBPOSITION)) {
        if (seekDrag_ && playState_ != 0)
            PlayerSeek(static_cast<float>(SendItemMessage(host::seek, TBM_GETPOS, 0, 0)), 2);
        seekDrag_ = false;
    }
    return true;
}

void ForwardEngineEventToPlugin(int engineCode, intptr_t data) {
    switch (engineCode) {
    case kEventBatchStarting: DeviceHost().SendEvent(kPluginEventBatchStart, 0); break;
    case kEventJobStarted: DeviceHost().SendEvent(kPluginEventJobStart, data); break;
    case kEventJobEnded: DeviceHost().SendEvent(kPluginEventJobEnd, data); break;
    case kEventBatchEnded: DeviceHost().SendEvent(kPluginEventBatchEnd, 0); break;
    default: break;
    }
}

namespace {

// The user-interface plug-in of this program run: its name is read once, and forgotten when it
// fails to load.
struct UiPluginName {
    std::mutex lock;
    bool read = false;
    std::string name;
} g_uiPlugin;

}  // namespace

int LoadUiPlugin(HWND mainWindow) {
    std::string name;
    {
        std::lock_guard lk(g_uiPlugin.lock);
        if (!g_uiPlugin.read) {
            const char* saved = GetPrefStore().GetString("overall.ui.lastLoadedPlugin");
            g_uiPlugin.name = saved ? saved : "";
            g_uiPlugin.read = true;
        }
        name = g_uiPlugin.name;
    }
    if (name.empty()) return 0;
    CDeviceDialog& host = DeviceHost();
    if (host.Header()) {
        if (HWND h = host.Handle()) ShowWindow(h, SW_HIDE);
        host.Unload(true);
        host.DestroyHost();
    }
    const bool ownWindow = GetPrefStore().GetBool("overall.ui.pluginWindow");
    host.SetEmbedded(!ownWindow);
    if (host.LoadPlugin(name.c_str(), mainWindow) != 1) {
        MessageBoxA(mainWindow, "Error loading UI plugin", name.c_str(), MB_ICONINFORMATION);
        std::lock_guard lk(g_uiPlugin.lock);
        g_uiPlugin.name.clear();
        return 0;
    }
    if (HWND h = host.Handle(); h && ownWindow) {
        // A tool window beside the main window: no system menu, no title.
        SetWindowLongPtrA(h, GWL_STYLE, GetWindowLongPtrA(h, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_SYSMENU));
        SetWindowLongPtrA(h, GWL_EXSTYLE, GetWindowLongPtrA(h, GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
        SetWindowTextA(h, "");
    }
    return 1;
}

void ShowPluginHost() {
    CDeviceDialog& host = DeviceHost();
    if (host.Header() && host.Handle()) ShowWindow(host.Handle(), SW_SHOW);
}

void UnloadUiPlugin() {
    CDeviceDialog& host = DeviceHost();
    // The plug-in is told, but its refusal cannot keep a window that is going.
    host.Unload(true);
    host.DestroyHost();
}

void ShutdownPluginHost() {
    UnloadUiPlugin();
    DeviceHost().ReleasePictures();
    std::lock_guard lk(g_uiPlugin.lock);
    g_uiPlugin.read = false;
    g_uiPlugin.name.clear();
}

}  // namespace ui

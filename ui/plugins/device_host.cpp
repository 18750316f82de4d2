#include "ui/plugins/device_host.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "engine/context.h"
#include "engine/engine_api.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "platform/dynlib/dynlib.h"
#include "platform/fs.h"
#include "platform/gui/menus.h"
#include "platform/gui/views.h"

namespace ui {

using namespace gui;

namespace {

constexpr const char* kRoot = "/QuorvexPlugin";
constexpr const char* kLibraryExtension = ".so";
constexpr int kCatalogCombos[kPresetCatalogs] = {1182, 1110, 1111, 1112, 1113};
constexpr int kCatalogLabels[kPresetCatalogs] = {1183, 1184, 1185, 1186, 1188};
constexpr int kSummaryTree = 1085;
constexpr int kPictureButton = 1180;
constexpr int kProgress = 1015;
constexpr int kSeekSlider = 1282;
constexpr int kPlayButton = 3;
constexpr int kMenuButton = 1122;
constexpr int kStartButton = 1132;
constexpr int kDeviceLabel = 1187;

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
    if (!IsPluginFileName(file) || !library.Open(path)) {
        MessageBoxA(parent, path.c_str(), "Error loading DLL", MB_ICONINFORMATION);
        return 0;
    }
    auto getHeader = library.Function<GetPluginHeaderFn>("GetPluginHeader");
    PluginHeader* header = getHeader ? getHeader() : nullptr;
    if (!header) return 0;  // the library goes with `library`
    if (!hwnd_) CreateModeless(nullptr, embedded_ ? kDeviceDialogChild : kDeviceDialogOwn, parent);
    if (!hwnd_) return 0;
    name_ = file;
    ReadDescription(path, library, *header);
    // A plug-in stays mapped once its header was handed out: its code may still run on threads
    // of its own.
    void* module = library.Release();
    header->hostWindow = hwnd_;
    header->module = module;
    header->callbacks = &g_callbacks;
    header->bitmap = nullptr;  // pictures of plug-in libraries are not shown
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
    SetItemText(kDeviceLabel, Text("device"));
    SetItemText(kPlayButton, Text("play"));
    SetItemText(kStartButton, Text("start"));
    SendEvent(kPluginEventReady, 0);
    ApplyPresets();
    if (!embedded_ && header_ && header_->name) SetWindowTextA(hwnd_, header_->name);
    LoadControls();
    ShowWindow(hwnd_, SW_SHOW);
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
    } kFixed[] = {{kCmdUseAvs, "use_avs", true}, {kCmdParallel, "parallel", true}, {kCmdDisplayFrames, "display_frames", true},
                  {0, nullptr, false}, {60003, "scale", true}, {60004, "thumbnails", true}, {60005, "deint", true},
                  {60006, "effects", true}, {60007, "delogo", true}, {0, nullptr, false}, {60008, "FFmpeg", true},
                  {60009, "Xvid", true}, {60010, "x264", true}, {kCmdCudaEncoder, "CUDA Encoder", false},
                  {kCmdIntelEncoder, "Intel Encoder", false}};
    for (const auto& e : kFixed) {
        if (!e.text) AppendMenuA(menu_, MF_SEPARATOR, 0, nullptr);
        else AppendMenuA(menu_, MF_STRING, static_cast<UINT_PTR>(e.id), e.translated ? Text(e.text) : e.text);
    }
    if (doc_ && doc_->goToKey((std::string(kRoot) + "/menus").c_str()) && doc_->goChild()) {
        AppendMenuA(menu_, MF_SEPARATOR, 0, nullptr);
        do {
            if (std::strcmp(doc_->getNodeName(), "menu") != 0) continue;
            const int id = kCmdFirstPluginMenu + static_cast<int>(menuKeys_.size());
            AppendMenuA(menu_, MF_STRING, static_cast<UINT_PTR>(id), Text(doc_->getAttribute("text", "")));
            const char* key = doc_->getAttribute("key", nullptr);
            menuKeys_.push_back(key ? key : "");
        } while (doc_->goNext());
    }
    PrefStore& p = GetPrefStore();
    CheckMenuItem(menu_, kCmdParallel, p.GetInt("overall.task.parallelize") >= 2 ? MF_CHECKED : MF_UNCHECKED);
    CheckMenuItem(menu_, kCmdDisplayFrames, p.GetInt("overall.preview.mode") > 0 ? MF_CHECKED : MF_UNCHECKED);
    const bool avs = !p.GetBool("overall.video.autoSource") && p.GetInt("overall.video.source") == 1;
    CheckMenuItem(menu_, kCmdUseAvs, avs ? MF_CHECKED : MF_UNCHECKED);
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
    HWND tree = GetItem(kSummaryTree);
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
    HWND tree = GetItem(kSummaryTree);
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
    char line[256];
    if (p.GetBool("overall.video.enabled")) {
        HTREEITEM video = add(TVI_ROOT, Text("video"));
        add(video, option("overall.video.format"));
        if (p.GetBool("videofilter.scale.enabled")) {
            std::snprintf(line, sizeof line, "%s: %dx%d", Text("resolution"), p.GetInt("videofilter.scale.width"),
                          p.GetInt("videofilter.scale.height"));
            add(video, line);
        }
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(video));
    }
    if (p.GetBool("overall.audio.enabled")) {
        HTREEITEM audio = add(TVI_ROOT, Text("audio"));
        add(audio, option("overall.audio.format"));
        if (const int rate = p.GetInt("audiofilter.resample.samplerate")) {
            std::snprintf(line, sizeof line, "%s: %d Hz", Text("samplerate"), rate);
            add(audio, line);
        }
        add(audio, option("overall.audio.channels"));
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(audio));
    }
    add(TVI_ROOT, option("overall.container.format"));
}

void CDeviceDialog::ToggleMenuCheck(int id) {
    if (!menu_) return;
    const bool checked = (GetMenuState(menu_, static_cast<UINT>(id), MF_BYCOMMAND) & MF_CHECKED) != 0;
    CheckMenuItem(menu_, static_cast<UINT>(id), checked ? MF_UNCHECKED : MF_CHECKED);
    auto on = [&](int item) { return (GetMenuState(menu_, static_cast<UINT>(item), MF_BYCOMMAND) & MF_CHECKED) != 0; };
    PrefStore& p = GetPrefStore();
    p.SetInt("overall.video.source", on(kCmdUseAvs) ? 1 : 0);
    p.SetInt("overall.task.parallelize", on(kCmdParallel) ? 2 : 1);
    const bool sizing = header_ && header_->sizingWindow;
    p.SetInt("overall.preview.mode", !on(kCmdDisplayFrames) ? 0 : sizing ? 1 : 2);
}

bool CDeviceDialog::OnControlCommand(int id) {
    switch (id) {
    case kMenuButton: {
        if (!menu_) {
            OpenSettings("");
            return true;
        }
        RECT rc{};
        GetWindowRect(GetItem(kMenuButton), &rc);
        TrackPopupMenu(menu_, 0, rc.left, rc.bottom - 1, 0, hwnd_, nullptr);
        return true;
    }
    case kCmdUseAvs:
    case kCmdParallel:
    case kCmdDisplayFrames: ToggleMenuCheck(id); return true;
    case kPictureButton: return true;  // the link opens through the program's browser window
    default: break;
    }
    if (id >= kCmdFirstPluginMenu && id < kCmdFirstPluginMenu + static_cast<int>(menuKeys_.size())) {
        // An entry without a key opens nothing.
        const std::string& key = menuKeys_[static_cast<size_t>(id - kCmdFirstPluginMenu)];
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
    // A modeless dialog is destroyed, not ended: ending would only hide it.
    HWND h = hwnd_;
    Close();
    if (h && IsWindow(h)) DestroyWindow(h);
}

int LoadLastPlugin(HWND parent) {
    const char* name = GetPrefStore().GetString("overall.ui.lastLoadedPlugin");
    if (!name || !*name) return 0;
    return DeviceHost().LoadPlugin(name, parent);
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

void ShutdownPluginHost() {
    CDeviceDialog& host = DeviceHost();
    // The program is ending: the plug-in is told, but its refusal cannot keep it.
    host.Unload(true);
    host.DestroyHost();
}

}  // namespace ui

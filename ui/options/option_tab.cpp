#include "ui/options/option_tab.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/engine_api.h"
#include "engine/encoders/encoder.h"
#include "ui/main/window_services.h"

namespace ui {

using namespace gui;

namespace {

SettingsPageOpener g_opener;

// The output formats of each encoder, by id; several joined by '|'. Rows follow the encoder ids
// of the factory, so the PCM writer (22) offers "PCM", the generic command line (24) and ALS (20)
// only the default format.
const char* const kFormatSupport[] = {
    "MP3",                                   // LAME MP3
    "Vorbis",                                // Vorbis
    "LC-AAC|HE-AAC|HE-AAC V2",               // Nero
    "LC-AAC|HE-AAC",                         // QAAC
    "LC-AAC",                                // FAAC
    "LC-AAC|HE-AAC|HE-AAC V2",               // CT AAC+
    "HE-AAC|HE-AAC V2",                      // 3GPP AAC+
    "Opus",                                  // Opus
    "WMA 9",                                 // WMA
    "MP3",                                   // Helix MP3
    "MP3",                                   // Fraunhofer MP3
    "MusePack",                              // MusePack
    "Speex",                                 // Speex
    "AMR",                                   // AMR
    "MP3|AC-3|LC-AAC|MP2|ALAC|PCM|ADPCM",    // FFmpeg
    "MP3|AC-3|MP2|PCM",                      // MEncoder
    "WavPack",                               // WavPack
    "FLAC",                                  // FLAC
    "APE",                                   // APE
    "MP3",                                   // MP3HD
    "Default",                               // ALS
    "TTA",                                   // TTA
    "PCM",                                   // PCM
    "OptimFROG",                             // OptimFROG
    "Default",                               // CLI
};

}  // namespace

COptionPage::COptionPage(int templateId, const char* title, bool translated, const ControlBinding* table)
    : templateId_(templateId) {
    titleText_ = translated ? UiStrings().GetString(title, 0, title) : (title ? title : "");
    for (const ControlBinding* row = table; row && row->id; ++row) rows_.push_back(*row);
    rows_.push_back({0, nullptr, 0, 0});
    title_ = titleText_.c_str();
}

HWND COptionPage::CreatePage(HWND parent) { return CreateModeless(MainInstance(), templateId_, parent); }

ControlBinding* COptionPage::Row(int id) {
    for (ControlBinding& row : rows_)
        if (static_cast<int>(row.id) == id) return &row;
    return nullptr;
}

void COptionPage::SetRowKey(int id, const char* key) {
    for (ControlBinding& row : rows_)
        if (static_cast<int>(row.id) == id) row.key = key;
}

namespace {

// Whether the queue holds the item; compares addresses only, so a freed item is never read.
bool InQueue(const QueueItem* item) {
    QueueLockGuard lock;
    for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it))
        if (it == item) return true;
    return false;
}

}  // namespace

QueueItem* OptionsCurrentItem() {
    // The list's current item counts only while the queue still holds it (a cleared queue has
    // freed it).
    if (QueueItem* item = CurrentListItem(); item && InQueue(item)) return item;
    SelectFirstListRow();
    if (QueueItem* item = CurrentListItem(); item && InQueue(item)) return item;
    return QueueGetItem(0);
}

bool ItemBusy(const QueueItem* item) {
    if (!item) return false;
    const uint32_t state = item->state.load();
    return state >= kItemEncoding && state <= kItemFinishing;
}

void InsertTab(HWND tabControl, int at, const std::string& text) {
    std::string copy = text;
    TCITEMA item;
    item.mask = TCIF_TEXT;
    item.pszText = copy.data();
    SendMessageA(tabControl, TCM_INSERTITEMA, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&item));
}

HTREEITEM InsertTreeItem(HWND tree, HTREEITEM parent, const char* text, LPARAM data) {
    TVINSERTSTRUCTA ins;
    ins.hParent = parent;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM;
    std::string copy = text ? text : "";
    ins.item.pszText = copy.data();
    ins.item.lParam = data;
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
}

void ShowControl(HWND control, bool shown) { ShowWindow(control, shown ? SW_SHOW : SW_HIDE); }

void AnnounceChange(int level, int countdown) {
    SettingsChangedLevel = level;
    ApplyCountdown = countdown;
}

std::vector<std::string> SplitListText(const std::string& text) {
    char sep = '|';
    if (text.find('|') == std::string::npos) {
        sep = '\0';
        for (char c : {';', ',', ':'})
            if (text.find(c) != std::string::npos) {
                sep = c;
                break;
            }
    }
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t end = sep ? text.find(sep, start) : std::string::npos;
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (parts.size() == 1 && parts[0].empty()) parts.clear();
    return parts;
}

void FillCombo(HWND combo, const std::vector<std::string>& items) {
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items) SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

bool EncoderSupportsFormat(int encoderId, const char* format) {
    if (encoderId < 0 || encoderId >= static_cast<int>(std::size(kFormatSupport)) || !format) return true;
    // Whole names only: "PCM" is not supported by an encoder that writes "ADPCM".
    for (const std::string& name : SplitListText(kFormatSupport[encoderId]))
        if (name == format) return true;
    return false;
}

bool SetIntInRange(const char* key, long long value) {
    PrefInfo info;
    if (GetPrefInfo(key, 3, &info) != 0) return false;
    if (!(info.range[0] == 0 && info.range[1] == 0) && (value < info.range[0] || value > info.range[1])) return false;
    if (value < INT32_MIN || value > INT32_MAX) return false;
    SetPrefInt(key, static_cast<int>(value));
    return true;
}

bool SetFloatInRange(const char* key, double value) {
    PrefInfo info;
    if (GetPrefInfo(key, 3, &info) != 0 || !std::isfinite(value)) return false;
    if (!(info.range[0] == 0 && info.range[1] == 0) && (value < info.range[0] || value > info.range[1])) return false;
    SetPrefFloat(key, static_cast<float>(value));
    return true;
}

bool LeadingNumber(const std::string& text, long long& out) {
    const char* p = text.c_str();
    while (*p == ' ') ++p;
    if (!(*p >= '0' && *p <= '9') && !(*p == '-' && p[1] >= '0' && p[1] <= '9')) return false;
    errno = 0;
    char* end = nullptr;
    out = std::strtoll(p, &end, 10);
    return errno != ERANGE;
}

void SetSettingsPageOpener(SettingsPageOpener opener) { g_opener = std::move(opener); }

void OpenSettingsPage(const char* keyPrefix, const char* title, int width, int height) {
    char url[2048] = {};
    BuildWebUiUrl(0, keyPrefix && *keyPrefix ? keyPrefix : nullptr, url, sizeof url);
    if (g_opener) g_opener(url, title ? title : "", width, height);
}

}  // namespace ui

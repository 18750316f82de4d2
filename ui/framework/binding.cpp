#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/engine_api.h"
#include "engine/prefs/prefnode.h"
#include "platform/numtext.h"
#include "ui/framework/dialog.h"

namespace ui {

using namespace gui;

std::atomic<int> SettingsChangedLevel{0};
std::atomic<int> ApplyCountdown{0};
std::atomic<int> UiModeAtStart{0};

void TranslateControlsOf(HWND hwnd);  // window.cpp

bool KeyRange(const char* key, int& lo, int& hi) {
    PrefInfo info;
    if (GetPrefInfo(key, 3, &info) != 0) return false;
    lo = info.range[0];
    hi = info.range[1];
    return true;
}

namespace {

// The control whose value a writer just stored: the refill leaves it alone so that what the user
// is typing is not overwritten.
struct SkipControl {
    int id = 0;
    HWND hwnd = nullptr;
};
SkipControl g_skip;

int KeyType(const char* key) {
    PrefInfo info;
    return GetPrefInfo(key, 1, &info) == 0 ? static_cast<int>(info.type) : 0;
}

std::string ClassOf(HWND h) {
    char name[65] = "";
    GetClassNameA(h, name, sizeof name);
    return name;
}

// The button kind from the type in the low four style bits, compared as a whole: a tri-state box
// or a group box is neither a radio button nor a check box.
uint32_t ButtonKind(DWORD style) {
    switch (style & BS_TYPEMASK) {
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: return kRadioButton;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX: return kCheckBox;
    default: return kPushButton;
    }
}

// A whole decimal integer within int; false for an empty text, junk or an overflow.
bool ParseInt(const std::string& text, int& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno == ERANGE || end == text.c_str() || v < INT32_MIN || v > INT32_MAX) return false;
    while (*end == ' ') ++end;
    if (*end) return false;
    out = static_cast<int>(v);
    return true;
}

// Whether a number may be stored in the key: range 0..0 means no limit, a maximum of 0 none above.
bool IntAllowed(const char* key, double v) {
    int lo = 0, hi = 0;
    if (!KeyRange(key, lo, hi) || (lo == 0 && hi == 0)) return true;
    return v >= lo && (hi == 0 || v <= hi);
}

bool IsEmptyFolderPlaceholder(const std::string& text) { return !text.empty() && text[0] == '<'; }

}  // namespace

CDialogWindow::CDialogWindow() = default;

ControlBinding* CDialogWindow::GetBindings() {
    static ControlBinding none[] = {{0, nullptr, 0, 0}};
    return none;
}

ControlBinding* CDialogWindow::FindRow(int id) {
    for (ControlBinding* row = GetBindings(); row && row->id; ++row)
        if (static_cast<int>(row->id) == id && row->key) return row;
    return nullptr;
}

void CDialogWindow::TranslateControls(HWND window) { TranslateControlsOf(window ? window : hwnd_); }

bool CDialogWindow::OnInit() {
    BindControls();
    return OnInitDialog();
}

int CDialogWindow::FillEnumCombo(const char* key, HWND combo) {
    int lo = 0, hi = -1;
    if (!KeyRange(key, lo, hi)) return 0;
    int added = 0;
    for (int i = 0; i <= hi; ++i) {
        const char* text = GetPrefEnumText(key, i);
        if (!text) break;
        if (*text == '\t' || *text == ' ') ++text;
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        ++added;
    }
    return added;
}

void CDialogWindow::FillSampleRateCombo(int comboId, const char* list) {
    std::string text = list ? list : "";
    char sep = '|';
    if (text.find('|') == std::string::npos) {
        size_t at = text.find_first_of(";,:");
        sep = at == std::string::npos ? '\0' : text[at];
    }
    HWND combo = GetItem(comboId);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = sep ? text.find(sep, start) : std::string::npos;
        std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty()) {
            part += " Hz";
            SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(part.c_str()));
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
}

void CDialogWindow::BindControls() {
    TranslateControls(nullptr);
    for (ControlBinding* row = GetBindings(); row && row->id; ++row) {
        if (!row->key) continue;
        HWND ctl = GetItem(static_cast<int>(row->id));
        std::string cls = ClassOf(ctl);
        int type = KeyType(row->key);
        auto style = static_cast<DWORD>(GetWindowLongPtrA(ctl, GWL_STYLE));
        if (cls == kComboBoxClass) {
            int lo = 0, hi = 0;
            if (type == kPrefInt) {
                SendMessageA(ctl, CB_RESETCONTENT, 0, 0);
                if (KeyRange(row->key, lo, hi) && hi >= 1 && hi <= 99)
                    for (int v = lo; v <= hi; ++v)
                        SendMessageA(ctl, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_string(v).c_str()));
            } else if (type == kPrefEnum) {
                SendMessageA(ctl, CB_RESETCONTENT, 0, 0);
                FillEnumCombo(row->key, ctl);
            }
            row->kind = kComboBox;
            row->value = (style & CBS_DROPDOWNLIST) == CBS_DROPDOWNLIST ? 1 : 0;
        } else if (cls == kTrackbarClass) {
            int lo = 0, hi = 0;
            KeyRange(row->key, lo, hi);
            if (type == kPrefFloat) {
                lo *= 10;
                hi *= 10;
            }
            SendMessageA(ctl, TBM_SETRANGE, TRUE, MAKELPARAM(static_cast<unsigned>(lo), static_cast<unsigned>(hi)));
            row->kind = kTrackbar;
        } else if (cls == kButtonClass) {
            row->kind = ButtonKind(style);
        } else if (cls == kEditClass || cls == "TextBox") {
            row->kind = kTextField;
        }
    }
    g_skip = {0, hwnd_};
}

void CDialogWindow::LoadControls() {
    if (loading_) return;
    ++loading_;
    for (ControlBinding* row = GetBindings(); row && row->id; ++row) {
        int id = static_cast<int>(row->id);
        if (g_skip.hwnd == hwnd_ && g_skip.id == id) continue;
        if (g_skip.hwnd != hwnd_) g_skip.id = 0;
        if (!row->key) continue;
        int type = KeyType(row->key);
        HWND ctl = GetItem(id);
        bool listOnly = row->value == 1;
        switch (row->kind) {
        case kTextField:
            switch (type) {
            case kPrefInt: SetItemInt(id, GetPrefInt(row->key)); break;
            case kPrefEnum: SetItemText(id, GetPrefEnumText(row->key, GetPrefInt(row->key))); break;
            case kPrefBool: EnableWindow(ctl, GetPrefInt(row->key) != 0); break;
            case kPrefFloat: SetItemFloat(id, GetPrefFloat(row->key), static_cast<int>(row->value)); break;
            case kPrefDir: {
                const char* v = GetPrefString(row->key);
                if (v && *v) {
                    SetItemText(id, v);
                } else {
                    std::string shown = std::string("<") + UiStrings().GetString("original_folder", 0, "") + ">";
                    SetItemText(id, shown.c_str());
                }
                break;
            }
            case kPrefString:
            case kPrefFile: SetItemText(id, GetPrefString(row->key)); break;
            default: break;
            }
            break;
        case kComboBox:
            switch (type) {
            case kPrefInt:
                if (listOnly)
                    SetComboSel(id, GetPrefInt(row->key));
                else
                    SetItemInt(id, GetPrefInt(row->key));
                break;
            case kPrefEnum: SetComboSel(id, GetPrefInt(row->key)); break;
            case kPrefBool: EnableWindow(ctl, GetPrefInt(row->key) != 0); break;
            case kPrefString: SetItemText(id, GetPrefString(row->key)); break;
            default: {
                std::string text;
                if (type == kPrefFloat) {
                    text = platform::FormatShortest(GetPrefFloat(row->key));
                } else if (const char* v = GetPrefString(row->key)) {
                    text = v;
                }
                if (listOnly)
                    SelectComboString(id, text.c_str());
                else
                    SetItemText(id, text.c_str());
                break;
            }
            }
            break;
        case kPushButton:
            if (type == kPrefBool) SendMessageA(ctl, BM_SETSTATE, GetPrefInt(row->key) != 0, 0);
            break;
        case kCheckBox: SetCheck(id, GetPrefInt(row->key) != 0); break;
        case kRadioButton: SetCheck(id, GetPrefInt(row->key) == static_cast<int>(row->value)); break;
        case kTrackbar: {
            // Rounded: a stored 0.7 is 0.6999... as a float and must show at 7, not 6.
            int pos = type == kPrefFloat ? static_cast<int>(std::lround(GetPrefFloat(row->key) * 10.0))
                                         : GetPrefInt(row->key);
            SendMessageA(ctl, TBM_SETPOS, TRUE, pos);
            break;
        }
        default: break;
        }
    }
    // The skip serves the one refill that follows a user's change; a later refill (a revert, a
    // preset) must show every control again.
    if (g_skip.hwnd == hwnd_) g_skip.id = 0;
    --loading_;
    RefreshStates();
    if (UiModeAtStart.load() == 2) {
        SettingsChangedLevel = 1;
        ApplyCountdown = 0;
    }
}

bool CDialogWindow::OnScroll(int id, int code) {
    if (loading_) return false;
    ControlBinding* row = FindRow(id);
    if (!row || code != static_cast<int>(TB_ENDTRACK)) return OnControlScroll(id, code), false;
    auto pos = static_cast<int>(SendItemMessage(id, TBM_GETPOS, 0, 0));
    switch (KeyType(row->key)) {
    case kPrefInt:
    case kPrefEnum: SetPrefInt(row->key, pos); break;
    case kPrefFloat: SetPrefFloat(row->key, static_cast<float>(pos * 0.1)); break;
    default: break;
    }
    g_skip = {id, hwnd_};
    LoadControls();
    OnControlScroll(id, code);
    return true;
}

bool CDialogWindow::OnCommand(int id, int, HWND) {
    if (loading_) return false;
    ControlBinding* row = FindRow(id);
    if (!row) return OnControlCommand(id);
    int type = KeyType(row->key);
    switch (row->kind) {
    case kPushButton:
        if (type == kPrefBool) SetPrefInt(row->key, GetPrefInt(row->key) ? 0 : 1);
        break;
    case kCheckBox: SetPrefInt(row->key, IsChecked(id) ? 1 : 0); break;
    case kRadioButton: SetPrefInt(row->key, static_cast<int>(row->value)); break;
    default: break;
    }
    LoadControls();
    return OnControlCommand(id);
}

bool CDialogWindow::OnSelChange(int id, int, HWND) {
    if (loading_) return false;
    ControlBinding* row = FindRow(id);
    if (!row) return OnControlSelChange(id);
    bool listOnly = row->value == 1;
    int sel = GetComboSel(id);
    // On a pick the chosen entry's text is read from the list, never from the edit part.
    std::string text = GetComboText(id, -1);
    switch (KeyType(row->key)) {
    case kPrefInt:
        if (listOnly) {
            SetPrefInt(row->key, sel);
        } else {
            int v = 0;
            if (ParseInt(text, v) && IntAllowed(row->key, v)) SetPrefInt(row->key, v);
        }
        break;
    case kPrefEnum: SetPrefInt(row->key, sel); break;
    case kPrefBool: SetPrefInt(row->key, sel > 0 ? 1 : 0); break;
    case kPrefFloat:
        if (!text.empty()) {
            double v = platform::ParseDouble(text.c_str());
            if (IntAllowed(row->key, v)) SetPrefFloat(row->key, static_cast<float>(v));
        }
        break;
    case kPrefString:
        if (!text.empty()) SetPrefString(row->key, text.c_str());
        break;
    default:
        SetPrefString(row->key, (listOnly || sel >= 0 ? text : GetItemText(id)).c_str());
        break;
    }
    g_skip = {id, hwnd_};
    LoadControls();
    return OnControlSelChange(id);
}

bool CDialogWindow::OnEditChange(int id, int, HWND) {
    if (loading_) return false;
    ControlBinding* row = nullptr;
    int type = 0;
    for (ControlBinding* r = GetBindings(); r && r->id; ++r) {
        if (static_cast<int>(r->id) != id || !r->key) continue;
        int t = KeyType(r->key);
        if (t == kPrefInt || t == kPrefFloat || t == kPrefString || t == kPrefFile || t == kPrefDir) {
            row = r;
            type = t;
            break;
        }
    }
    if (!row) return OnControlEditChange(id);
    std::string text = GetItemText(id);
    switch (type) {
    case kPrefInt: {
        // A number outside the range, or one that is no number at all, is not stored: the field
        // keeps what was typed and the key its previous value.
        int v = 0;
        if (text.empty())
            v = 0;
        else if (!ParseInt(text, v))
            break;
        if (IntAllowed(row->key, v)) SetPrefInt(row->key, v);
        break;
    }
    case kPrefFloat: {
        double v = platform::ParseDouble(text.c_str());
        if (IntAllowed(row->key, v)) SetPrefFloat(row->key, static_cast<float>(v));
        break;
    }
    case kPrefString: SetPrefString(row->key, text.c_str()); break;
    default:
        if (!IsEmptyFolderPlaceholder(text)) SetPrefString(row->key, text.c_str());
        break;
    }
    g_skip = {id, hwnd_};
    LoadControls();
    return OnControlEditChange(id);
}

}  // namespace ui

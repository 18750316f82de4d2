// The built-in controls: their models, their messages, and what a user action does to them.
// Programmatic changes are silent; user actions change the model first and then tell the parent
// (WM_COMMAND or WM_H/VSCROLL). The one exception: WM_SETTEXT on a single-line edit reports
// EN_CHANGE when the text actually changes.
#include <algorithm>
#include <cstring>

#include "platform/gui/controls_model.h"

namespace gui::detail {

namespace {

const char* TextArg(LPARAM lp) { return lp ? reinterpret_cast<const char*>(lp) : ""; }

bool ListOnly(const Window& w) { return (w.style & 3) == CBS_DROPDOWNLIST; }
bool MultiSelect(const Window& w) { return (w.style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0; }

int ClampTo(int v, int lo, int hi) { return hi < lo ? lo : std::clamp(v, lo, hi); }

// Splits UTF-8 text into characters (a broken sequence counts byte by byte).
std::vector<std::string> Characters(const std::string& text) {
    std::vector<std::string> out;
    for (size_t i = 0; i < text.size();) {
        size_t n = 1;
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0xF0) n = 4;
        else if (c >= 0xE0) n = 3;
        else if (c >= 0xC0) n = 2;
        if (i + n > text.size()) n = 1;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) n = 1;
        out.push_back(text.substr(i, n));
        i += n;
    }
    return out;
}

// Item list messages shared by combo and list boxes. Answers true when it handled msg.
bool ItemMessage(std::vector<std::string>& items, UINT msg, WPARAM wp, LPARAM lp, bool combo, LRESULT& result,
                 const std::function<void(int)>& onInsert, const std::function<void(int)>& onDelete) {
    auto pick = [combo](UINT c, UINT l) { return combo ? c : l; };
    const UINT add = pick(CB_ADDSTRING, LB_ADDSTRING), insert = pick(CB_INSERTSTRING, LB_INSERTSTRING),
               del = pick(CB_DELETESTRING, LB_DELETESTRING), count = pick(CB_GETCOUNT, LB_GETCOUNT),
               text = pick(CB_GETLBTEXT, LB_GETTEXT), len = pick(CB_GETLBTEXTLEN, LB_GETTEXTLEN);
    const int n = static_cast<int>(items.size());
    const int i = static_cast<int>(static_cast<intptr_t>(wp));
    if (msg == add || msg == insert) {
        int at = msg == add || i < 0 || i > n ? n : i;
        if (msg == insert && i > n) {
            result = -1;
            return true;
        }
        items.insert(items.begin() + at, TextArg(lp));
        onInsert(at);
        result = at;
    } else if (msg == del) {
        if (i < 0 || i >= n) {
            result = -1;
            return true;
        }
        items.erase(items.begin() + i);
        onDelete(i);
        result = n - 1;
    } else if (msg == count) {
        result = n;
    } else if (msg == text) {
        if (i < 0 || i >= n || !lp) {
            result = -1;
            return true;
        }
        // The caller sized the buffer from the length message.
        std::memcpy(reinterpret_cast<char*>(lp), items[static_cast<size_t>(i)].c_str(), items[static_cast<size_t>(i)].size() + 1);
        result = static_cast<LRESULT>(items[static_cast<size_t>(i)].size());
    } else if (msg == len) {
        result = i < 0 || i >= n ? -1 : static_cast<LRESULT>(items[static_cast<size_t>(i)].size());
    } else {
        return false;
    }
    return true;
}

void SendScroll(Window& w, UINT code, int pos) {
    if (!w.parent) return;
    UINT msg = (w.style & TBS_VERT) ? WM_VSCROLL : WM_HSCROLL;
    WPARAM wp = (code == TB_THUMBTRACK || code == TB_THUMBPOSITION) ? MAKEWPARAM(code, static_cast<unsigned>(pos)) : code;
    SendMessageA(w.parent->handle, msg, wp, reinterpret_cast<LPARAM>(w.handle));
}

void ClearRadioGroup(Window& button) {
    if (!button.parent) return;
    auto& sib = button.parent->children;
    auto it = std::find(sib.begin(), sib.end(), &button);
    if (it == sib.end()) return;
    size_t i = static_cast<size_t>(it - sib.begin()), start = i, end = i + 1;
    while (start > 0 && !(sib[start]->style & WS_GROUP)) --start;
    while (end < sib.size() && !(sib[end]->style & WS_GROUP)) ++end;
    for (size_t k = start; k < end; ++k) {
        Window* o = sib[k];
        if (o == &button || KindOf(*o) != ControlKind::Button) continue;
        DWORD type = o->style & BS_TYPEMASK;
        if (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) {
            if (auto* m = ModelOf<ButtonModel>(o)) m->check = BST_UNCHECKED;
        }
    }
}

}  // namespace

Window* InputTarget(HWND h) {
    Window* w = Raw(h);
    return w && CanTakeInput(*w) ? w : nullptr;
}

Window* FocusForInput(HWND h) {
    SetFocus(h);
    return InputTarget(h);
}

std::unique_ptr<ControlModel> MakeModel(ControlKind kind, const Window&) {
    switch (kind) {
    case ControlKind::Button: return std::make_unique<ButtonModel>();
    case ControlKind::Edit: return std::make_unique<EditModel>();
    case ControlKind::ComboBox: return std::make_unique<ComboModel>();
    case ControlKind::ListBox: return std::make_unique<ListModel>();
    case ControlKind::Trackbar: return std::make_unique<TrackModel>();
    case ControlKind::Progress: return std::make_unique<ProgressModel>();
    default: return MakeViewModel(kind);
    }
}

LRESULT ButtonProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Window* w = Raw(h);
    auto* m = ModelOf<ButtonModel>(w);
    if (!m) return DefWindowProcA(h, msg, wp, lp);
    switch (msg) {
    case BM_GETCHECK: return m->check;
    case BM_SETCHECK: {
        DWORD type = w->style & BS_TYPEMASK;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == BS_GROUPBOX) return 0;
        m->check = static_cast<int>(wp == BST_CHECKED || wp == BST_INDETERMINATE ? wp : WPARAM{BST_UNCHECKED});
        return 0;
    }
    case BM_GETSTATE:
        return m->check | (m->pushed ? int{BST_PUSHED} : 0) | (S().focus == h ? int{BST_FOCUS} : 0);
    case BM_SETSTATE: m->pushed = wp != 0; return 0;
    case BM_SETSTYLE: w->style = (w->style & 0xFFFF0000u) | static_cast<DWORD>(wp & 0xFFFF); return 0;
    case BM_GETIMAGE: return wp == m->imageType ? m->image : 0;
    case BM_SETIMAGE: {
        LPARAM old = m->image;
        m->image = lp;
        m->imageType = wp;
        return old;
    }
    default: return DefWindowProcA(h, msg, wp, lp);
    }
}

LRESULT StaticProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcA(h, msg, wp, lp); }

LRESULT EditProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Window* w = Raw(h);
    auto* m = ModelOf<EditModel>(w);
    if (!m) return DefWindowProcA(h, msg, wp, lp);
    const int len = static_cast<int>(w->text.size());
    switch (msg) {
    case WM_SETTEXT: {
        std::string next = TextArg(lp);
        bool changed = next != w->text;
        w->text = std::move(next);
        m->selStart = m->selEnd = 0;
        if (changed && !(w->style & ES_MULTILINE)) NotifyParent(*w, EN_CHANGE);
        return TRUE;
    }
    case EM_SETSEL: {
        int a = static_cast<int>(static_cast<intptr_t>(wp)), b = static_cast<int>(lp);
        if (a < 0) {
            m->selStart = m->selEnd = len;  // -1 removes the selection
            return 0;
        }
        if (b < 0 || b > len) b = len;
        a = std::min(a, len);
        m->selStart = std::min(a, b);
        m->selEnd = std::max(a, b);
        return 0;
    }
    case EM_GETSEL:
        if (wp) *reinterpret_cast<DWORD*>(wp) = static_cast<DWORD>(m->selStart);
        if (lp) *reinterpret_cast<DWORD*>(lp) = static_cast<DWORD>(m->selEnd);
        return MAKELPARAM(static_cast<unsigned>(m->selStart), static_cast<unsigned>(m->selEnd));
    case EM_SCROLLCARET: return TRUE;
    case EM_CHARFROMPOS: return MAKELPARAM(static_cast<unsigned>(len), 0);
    case EM_SETREADONLY:
        if (wp) w->style |= ES_READONLY;
        else w->style &= ~ES_READONLY;
        return TRUE;
    default: return DefWindowProcA(h, msg, wp, lp);
    }
}

LRESULT ComboBoxProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Window* w = Raw(h);
    auto* m = ModelOf<ComboModel>(w);
    if (!m) return DefWindowProcA(h, msg, wp, lp);
    LRESULT r = 0;
    auto onInsert = [&](int at) {
        if (m->index >= at) ++m->index;
    };
    auto onDelete = [&](int at) {
        if (m->index == at) m->index = -1;
        else if (m->index > at) --m->index;
    };
    if (ItemMessage(m->items, msg, wp, lp, true, r, onInsert, onDelete)) return r;
    const int n = static_cast<int>(m->items.size());
    switch (msg) {
    case CB_RESETCONTENT:
        m->items.clear();
        m->index = -1;
        m->edit.clear();
        return 0;
    case CB_GETCURSEL: return m->index;
    case CB_SETCURSEL: {
        int i = static_cast<int>(static_cast<intptr_t>(wp));
        if (i < 0 || i >= n) {
            m->index = -1;
            m->edit.clear();
            return CB_ERR;
        }
        m->index = i;
        m->edit = m->items[static_cast<size_t>(i)];
        return i;
    }
    case CB_FINDSTRINGEXACT: {
        std::string want = Lower(TextArg(lp));
        int start = static_cast<int>(static_cast<intptr_t>(wp));
        for (int k = 0; k < n; ++k) {
            int i = (start + 1 + k) % n;
            if (start < 0) i = k;
            if (Lower(m->items[static_cast<size_t>(i)]) == want) return i;
        }
        return CB_ERR;
    }
    case WM_SETTEXT: {
        std::string text = TextArg(lp);
        if (!ListOnly(*w)) {
            m->edit = text;
            return TRUE;
        }
        auto it = std::find(m->items.begin(), m->items.end(), text);
        if (it == m->items.end()) return CB_ERR;
        m->index = static_cast<int>(it - m->items.begin());
        return TRUE;
    }
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: {
        const std::string empty;
        const std::string& text = !ListOnly(*w) ? m->edit : (m->index >= 0 ? m->items[static_cast<size_t>(m->index)] : empty);
        if (msg == WM_GETTEXTLENGTH) return static_cast<LRESULT>(text.size());
        return CopyText(text, reinterpret_cast<char*>(lp), wp);
    }
    default: return DefWindowProcA(h, msg, wp, lp);
    }
}

LRESULT ListBoxProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Window* w = Raw(h);
    auto* m = ModelOf<ListModel>(w);
    if (!m) return DefWindowProcA(h, msg, wp, lp);
    const bool multi = MultiSelect(*w);
    LRESULT r = 0;
    auto onInsert = [&](int at) {
        m->selected.insert(m->selected.begin() + at, false);
        if (m->index >= at) ++m->index;
    };
    auto onDelete = [&](int at) {
        m->selected.erase(m->selected.begin() + at);
        if (m->index == at) m->index = -1;
        else if (m->index > at) --m->index;
        if (m->caret >= static_cast<int>(m->items.size())) m->caret = std::max(0, static_cast<int>(m->items.size()) - 1);
    };
    if (ItemMessage(m->items, msg, wp, lp, false, r, onInsert, onDelete)) return r;
    const int n = static_cast<int>(m->items.size());
    const int i = static_cast<int>(static_cast<intptr_t>(wp));
    switch (msg) {
    case LB_RESETCONTENT:
        m->items.clear();
        m->selected.clear();
        m->index = -1;
        m->caret = m->anchor = 0;
        return 0;
    case LB_GETCURSEL:
        if (!multi) return m->index;
        return n ? m->caret : LB_ERR;
    case LB_SETCURSEL:
        if (multi) return LB_ERR;
        if (i < 0 || i >= n) {
            m->index = -1;
            return LB_ERR;
        }
        m->index = m->caret = i;
        return i;
    case LB_SETSEL: {
        if (!multi) return LB_ERR;
        int at = static_cast<int>(lp);
        if (at == -1) {
            std::fill(m->selected.begin(), m->selected.end(), wp != 0);
            return 0;
        }
        if (at < 0 || at >= n) return LB_ERR;
        m->selected[static_cast<size_t>(at)] = wp != 0;
        return 0;
    }
    case LB_GETSEL:
        if (i < 0 || i >= n) return LB_ERR;
        return multi ? (m->selected[static_cast<size_t>(i)] ? 1 : 0) : (m->index == i ? 1 : 0);
    case LB_GETSELCOUNT:
        if (!multi) return LB_ERR;
        return std::count(m->selected.begin(), m->selected.end(), true);
    case LB_GETSELITEMS: {
        if (!multi) return LB_ERR;
        int* out = reinterpret_cast<int*>(lp);
        int written = 0;
        for (int k = 0; k < n && written < i && out; ++k)
            if (m->selected[static_cast<size_t>(k)]) out[written++] = k;
        return written;
    }
    case LB_GETCARETINDEX: return multi ? m->caret : m->index;
    default: return DefWindowProcA(h, msg, wp, lp);
    }
}

LRESULT TrackbarProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Window* w = Raw(h);
    auto* m = ModelOf<TrackModel>(w);
    if (!m) return DefWindowProcA(h, msg, wp, lp);
    switch (msg) {
    case TBM_GETPOS: return m->pos;
    case TBM_GETRANGEMIN: return m->min;
    case TBM_GETRANGEMAX: return m->max;
    case TBM_SETPOS: m->pos = ClampTo(static_cast<int>(lp), m->min, m->max); return 0;
    case TBM_SETRANGE:
        m->min = static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(lp)));
        m->max = static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(lp)));
        m->pos = ClampTo(m->pos, m->min, m->max);  // a new range re-clamps silently
        return 0;
    case TBM_SETRANGEMIN: m->min = static_cast<int>(lp); m->pos = ClampTo(m->pos, m->min, m->max); return 0;
    case TBM_SETRANGEMAX: m->max = static_cast<int>(lp); m->pos = ClampTo(m->pos, m->min, m->max); return 0;
    case TBM_SETPAGESIZE: {
        int old = m->page;
        m->page = static_cast<int>(lp);
        return old;
    }
    case TBM_GETPAGESIZE: return m->page;
    case TBM_SETLINESIZE: {
        int old = m->line;
        m->line = static_cast<int>(lp);
        return old;
    }
    case TBM_GETLINESIZE: return m->line;
    default: return DefWindowProcA(h, msg, wp, lp);
    }
}

LRESULT ProgressProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Window* w = Raw(h);
    auto* m = ModelOf<ProgressModel>(w);
    if (!m) return DefWindowProcA(h, msg, wp, lp);
    switch (msg) {
    case PBM_SETRANGE: {
        LRESULT old = MAKELPARAM(static_cast<unsigned>(m->min), static_cast<unsigned>(m->max));
        m->min = LOWORD(static_cast<uintptr_t>(lp));
        m->max = HIWORD(static_cast<uintptr_t>(lp));
        m->pos = ClampTo(m->pos, m->min, m->max);
        return old;
    }
    case PBM_SETRANGE32: {
        LRESULT old = MAKELPARAM(static_cast<unsigned>(m->min), static_cast<unsigned>(m->max));
        m->min = static_cast<int>(static_cast<intptr_t>(wp));
        m->max = static_cast<int>(lp);
        m->pos = ClampTo(m->pos, m->min, m->max);
        return old;
    }
    case PBM_SETPOS: {
        int old = m->pos;
        m->pos = ClampTo(static_cast<int>(static_cast<intptr_t>(wp)), m->min, m->max);
        return old;
    }
    case PBM_DELTAPOS: {
        int old = m->pos;
        m->pos = ClampTo(old + static_cast<int>(static_cast<intptr_t>(wp)), m->min, m->max);
        return old;
    }
    case PBM_GETPOS: return m->pos;
    default: return DefWindowProcA(h, msg, wp, lp);
    }
}

// ---------------------------------------------------------------------------------------------
// User actions

bool UserClick(HWND h) {
    Window* w = InputTarget(h);
    if (!w) return false;
    switch (KindOf(*w)) {
    case ControlKind::Button: {
        const DWORD type = w->style & BS_TYPEMASK;
        if (type == BS_GROUPBOX) return false;
        if (!(w = FocusForInput(h))) return false;
        auto* m = ModelOf<ButtonModel>(w);
        if (type == BS_AUTOCHECKBOX) m->check = m->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        else if (type == BS_AUTO3STATE) m->check = (m->check + 1) % 3;
        else if (type == BS_AUTORADIOBUTTON) {
            m->check = BST_CHECKED;
            ClearRadioGroup(*w);
        }
        NotifyParent(*w, BN_CLICKED);
        return true;
    }
    case ControlKind::Static:
        if (w->style & SS_NOTIFY) NotifyParent(*w, STN_CLICKED);
        return true;
    case ControlKind::Edit:
    case ControlKind::ComboBox:
    case ControlKind::ListBox:
    case ControlKind::Trackbar: return FocusForInput(h) != nullptr;
    default: return true;
    }
}

bool UserReplaceText(HWND h, const std::string& text) {
    Window* w = InputTarget(h);
    if (!w) return false;
    if (KindOf(*w) == ControlKind::Edit) {
        if (w->style & ES_READONLY) return false;
        if (!(w = FocusForInput(h))) return false;
        if (text == w->text) return true;
        w->text = text;
        auto* m = ModelOf<EditModel>(w);
        m->selStart = m->selEnd = static_cast<int>(text.size());
        NotifyParent(*w, EN_CHANGE);
        return true;
    }
    if (KindOf(*w) == ControlKind::ComboBox && !ListOnly(*w)) {
        if (!(w = FocusForInput(h))) return false;
        auto* m = ModelOf<ComboModel>(w);
        if (text == m->edit) return true;
        m->edit = text;
        m->index = -1;
        NotifyParent(*w, CBN_EDITUPDATE);
        if (IsWindow(h)) NotifyParent(*w, CBN_EDITCHANGE);
        return true;
    }
    return false;
}

bool UserTypeText(HWND h, const std::string& text) {
    Window* w = InputTarget(h);
    if (!w) return false;
    const bool edit = KindOf(*w) == ControlKind::Edit && !(w->style & ES_READONLY);
    const bool combo = KindOf(*w) == ControlKind::ComboBox && !ListOnly(*w);
    if (!edit && !combo) return false;
    if (!FocusForInput(h)) return false;
    for (const std::string& ch : Characters(text)) {
        w = InputTarget(h);
        if (!w) return false;
        if (edit) {
            w->text += ch;
            auto* m = ModelOf<EditModel>(w);
            m->selStart = m->selEnd = static_cast<int>(w->text.size());
            NotifyParent(*w, EN_CHANGE);
        } else {
            auto* m = ModelOf<ComboModel>(w);
            m->edit += ch;
            m->index = -1;
            NotifyParent(*w, CBN_EDITUPDATE);
            if (IsWindow(h)) NotifyParent(*w, CBN_EDITCHANGE);
        }
    }
    return true;
}

bool UserPickCombo(HWND h, int index) {
    if (!ModelOf<ComboModel>(InputTarget(h))) return false;
    Window* w = FocusForInput(h);
    auto* m = ModelOf<ComboModel>(w);
    if (!m || index < 0 || index >= static_cast<int>(m->items.size())) return false;
    m->index = index;
    m->edit = m->items[static_cast<size_t>(index)];  // the text is set before the parent hears of it
    NotifyParent(*w, CBN_SELCHANGE);
    return true;
}

bool UserPickList(HWND h, int index, unsigned mods) {
    if (!ModelOf<ListModel>(InputTarget(h))) return false;
    Window* w = FocusForInput(h);
    auto* m = ModelOf<ListModel>(w);
    if (!m || index < 0 || index >= static_cast<int>(m->items.size())) return false;
    const size_t i = static_cast<size_t>(index);
    if (w->style & LBS_EXTENDEDSEL) {
        if (mods & kShift) {
            int lo = std::min(m->anchor, index), hi = std::max(m->anchor, index);
            for (int k = 0; k < static_cast<int>(m->selected.size()); ++k)
                m->selected[static_cast<size_t>(k)] = k >= lo && k <= hi;
        } else if (mods & kCtrl) {
            m->selected[i] = !m->selected[i];
            m->anchor = index;
        } else {
            std::fill(m->selected.begin(), m->selected.end(), false);
            m->selected[i] = true;
            m->anchor = index;
        }
    } else if (w->style & LBS_MULTIPLESEL) {
        m->selected[i] = !m->selected[i];
    } else {
        m->index = index;
    }
    m->caret = index;
    if (w->style & LBS_NOTIFY) NotifyParent(*w, LBN_SELCHANGE);
    return true;
}

bool UserDragTrack(HWND h, const std::vector<int>& positions) {
    if (!ModelOf<TrackModel>(InputTarget(h))) return false;
    Window* w = FocusForInput(h);
    auto* m = ModelOf<TrackModel>(w);
    if (!m) return false;
    for (int p : positions) {
        if (!(m = ModelOf<TrackModel>(Raw(h)))) return false;
        m->pos = ClampTo(p, m->min, m->max);
        SendScroll(*w, TB_THUMBTRACK, m->pos);
    }
    if (!(m = ModelOf<TrackModel>(Raw(h)))) return false;
    SendScroll(*w, TB_THUMBPOSITION, m->pos);
    if (IsWindow(h)) SendScroll(*w, TB_ENDTRACK, 0);
    return true;
}

bool UserKeyTrack(HWND h, UINT vk) {
    if (!ModelOf<TrackModel>(InputTarget(h))) return false;
    if (vk != VK_LEFT && vk != VK_UP && vk != VK_RIGHT && vk != VK_DOWN && vk != VK_PRIOR && vk != VK_NEXT &&
        vk != VK_HOME && vk != VK_END)
        return false;
    Window* w = FocusForInput(h);
    auto* m = ModelOf<TrackModel>(w);
    if (!m) return false;
    UINT code;
    int pos = m->pos;
    switch (vk) {
    case VK_LEFT:
    case VK_UP: code = TB_LINEUP; pos -= m->line; break;
    case VK_RIGHT:
    case VK_DOWN: code = TB_LINEDOWN; pos += m->line; break;
    case VK_PRIOR: code = TB_PAGEUP; pos -= m->page; break;
    case VK_NEXT: code = TB_PAGEDOWN; pos += m->page; break;
    case VK_HOME: code = TB_TOP; pos = m->min; break;
    case VK_END: code = TB_BOTTOM; pos = m->max; break;
    default: return false;
    }
    m->pos = ClampTo(pos, m->min, m->max);
    SendScroll(*w, code, m->pos);
    if (IsWindow(h)) SendScroll(*w, TB_ENDTRACK, 0);  // the key's release
    return true;
}

std::vector<std::string> ItemsOf(HWND h) {
    Window* w = Raw(h);
    if (auto* c = ModelOf<ComboModel>(w)) return c->items;
    if (auto* l = ModelOf<ListModel>(w)) return l->items;
    return ViewItemsOf(w);
}

std::vector<int> SelectionOf(HWND h) {
    Window* w = Raw(h);
    std::vector<int> out;
    if (auto* c = ModelOf<ComboModel>(w)) {
        if (c->index >= 0) out.push_back(c->index);
    } else if (auto* l = ModelOf<ListModel>(w)) {
        if (MultiSelect(*w)) {
            for (size_t k = 0; k < l->selected.size(); ++k)
                if (l->selected[k]) out.push_back(static_cast<int>(k));
        } else if (l->index >= 0) {
            out.push_back(l->index);
        }
    } else {
        out = ViewSelectionOf(w);
    }
    return out;
}

int PositionOf(HWND h) {
    Window* w = Raw(h);
    if (auto* t = ModelOf<TrackModel>(w)) return t->pos;
    if (auto* p = ModelOf<ProgressModel>(w)) return p->pos;
    if (auto* b = ModelOf<ButtonModel>(w)) return b->check;
    return 0;
}

Window* DefaultButtonOf(Window* dialog) {
    for (Window* c : dialog->children) {
        if (KindOf(*c) == ControlKind::Button && (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON && CanTakeInput(*c))
            return c;
        if (Window* d = DefaultButtonOf(c)) return d;
    }
    return nullptr;
}

}  // namespace gui::detail

// The view controls: list view, tree view, tab, status bar and tool tips. Messages change the
// models silently; user actions change the model first and then send WM_NOTIFY to the parent.
#include <algorithm>
#include <atomic>

#include "platform/gui/internal.h"
#include "platform/gui/views_model.h"

namespace gui::detail {

namespace {

const char* TextArg(const char* p) { return p ? p : ""; }

// Copies into a caller's buffer of cch bytes (nothing when it has none).
int CopyOut(const std::string& text, char* buffer, int cch) {
    return cch > 0 ? CopyText(text, buffer, static_cast<size_t>(cch)) : 0;
}

UINT KeyFlags(unsigned mods) {
    return ((mods & kCtrl) ? LVKF_CONTROL : 0u) | ((mods & kShift) ? LVKF_SHIFT : 0u) | ((mods & kAlt) ? LVKF_ALT : 0u);
}

unsigned HeldMods() {
    return (KeyDown(VK_CONTROL) ? kCtrl : 0u) | (KeyDown(VK_SHIFT) ? kShift : 0u) | (KeyDown(VK_MENU) ? kAlt : 0u);
}

// ---------------------------------------------------------------------------------------------
// List view

int RowCount(const ListViewModel& m) { return static_cast<int>(m.rows.size()); }

int HeaderHeight(const Window& w) { return (w.style & LVS_NOCOLUMNHEADER) ? 0 : kListHeaderHeight; }

int PageRows(const Window& w) {
    const int h = static_cast<int>(w.rect.bottom - w.rect.top) - HeaderHeight(w);
    return std::max(0, h / kListRowHeight);
}

void ClampScroll(const Window& w, ListViewModel& m) {
    const int content = RowCount(m) * kListRowHeight;
    const int view = std::max(0, static_cast<int>(w.rect.bottom - w.rect.top) - HeaderHeight(w));
    m.scrollY = std::clamp(m.scrollY, 0, std::max(0, content - view));
}

UINT RowState(const ListRow& r) {
    return (r.selected ? LVIS_SELECTED : 0u) | (r.focused ? LVIS_FOCUSED : 0u) | INDEXTOSTATEIMAGEMASK(r.stateImage);
}

void SetRowState(const Window& w, ListViewModel& m, int i, UINT state, UINT mask) {
    ListRow& r = m.rows[static_cast<size_t>(i)];
    if (mask & LVIS_SELECTED) {
        const bool sel = (state & LVIS_SELECTED) != 0;
        if (sel && (w.style & LVS_SINGLESEL))
            for (auto& o : m.rows) o.selected = false;
        r.selected = sel;
    }
    if (mask & LVIS_FOCUSED) {
        const bool focus = (state & LVIS_FOCUSED) != 0;
        if (focus)
            for (auto& o : m.rows) o.focused = false;  // one focused row at most
        r.focused = focus;
    }
    if (mask & LVIS_STATEIMAGEMASK) r.stateImage = (state & LVIS_STATEIMAGEMASK) >> 12;
}

std::string& Cell(ListRow& r, int sub) {
    if (sub >= static_cast<int>(r.cells.size())) r.cells.resize(static_cast<size_t>(sub) + 1);
    return r.cells[static_cast<size_t>(sub)];
}

bool Matches(const ListRow& r, UINT flags) {
    if ((flags & LVNI_SELECTED) && !r.selected) return false;
    if ((flags & LVNI_FOCUSED) && !r.focused) return false;
    return true;
}

int NextItem(const ListViewModel& m, int start, UINT flags) {
    const int n = RowCount(m);
    if (flags & LVNI_ABOVE) {
        for (int i = std::min(start, n) - 1; i >= 0; --i)
            if (Matches(m.rows[static_cast<size_t>(i)], flags)) return i;
        return -1;
    }
    for (int i = std::max(start + 1, 0); i < n; ++i)
        if (Matches(m.rows[static_cast<size_t>(i)], flags)) return i;
    return -1;
}

void EnsureVisible(const Window& w, ListViewModel& m, int i) {
    const int top = i * kListRowHeight, bottom = top + kListRowHeight;
    const int view = std::max(0, static_cast<int>(w.rect.bottom - w.rect.top) - HeaderHeight(w));
    if (top < m.scrollY) m.scrollY = top;
    else if (bottom > m.scrollY + view) m.scrollY = bottom - view;
    ClampScroll(w, m);
}

void FillItem(ListViewModel& m, int i, LVITEMA& item) {
    ListRow& r = m.rows[static_cast<size_t>(i)];
    if (item.mask & LVIF_TEXT) CopyOut(Cell(r, item.iSubItem), item.pszText, item.cchTextMax);
    if (item.mask & LVIF_STATE) item.state = RowState(r) & item.stateMask;
    if (item.mask & LVIF_PARAM) item.lParam = r.param;
    if (item.mask & LVIF_IMAGE) item.iImage = r.image;
}

void StoreItem(const Window& w, ListViewModel& m, int i, const LVITEMA& item) {
    ListRow& r = m.rows[static_cast<size_t>(i)];
    if (item.mask & LVIF_TEXT) Cell(r, item.iSubItem) = TextArg(item.pszText);
    if (item.mask & LVIF_PARAM) r.param = item.lParam;
    if (item.mask & LVIF_IMAGE) r.image = item.iImage;
    if (item.mask & LVIF_STATE) SetRowState(w, m, i, item.state, item.stateMask);
}

LRESULT NotifyRow(Window& w, UINT code, int row, unsigned mods) {
    auto* m = ModelOf<ListViewModel>(&w);
    NMITEMACTIVATE nm;
    nm.iItem = row;
    nm.uKeyFlags = KeyFlags(mods);
    if (m && row >= 0 && row < RowCount(*m)) {
        nm.lParam = m->rows[static_cast<size_t>(row)].param;
        nm.ptAction = POINT{4, HeaderHeight(w) + row * kListRowHeight - m->scrollY + kListRowHeight / 2};
    }
    return NotifyParentNm(w, code, &nm.hdr);
}

// A click's effect on the selection: plain selects the row alone, Ctrl toggles it, Shift selects
// the range from the anchor. A right click on a selected row keeps the selection. Off the rows
// (row -1) a plain click clears it.
void ClickSelect(const Window& w, ListViewModel& m, int row, bool right, unsigned mods) {
    const int n = RowCount(m);
    if (row < 0 || row >= n) {
        if (!(mods & (kCtrl | kShift)))
            for (auto& r : m.rows) r.selected = false;
        return;
    }
    ListRow& r = m.rows[static_cast<size_t>(row)];
    const bool multi = !(w.style & LVS_SINGLESEL);
    if (right && r.selected) {
    } else if (multi && (mods & kShift)) {
        const int lo = std::min(m.anchor, row), hi = std::max(m.anchor, row);
        for (int i = 0; i < n; ++i) {
            bool inRange = i >= lo && i <= hi;
            auto& o = m.rows[static_cast<size_t>(i)];
            o.selected = inRange || ((mods & kCtrl) && o.selected);
        }
    } else if (multi && (mods & kCtrl)) {
        r.selected = !r.selected;
        m.anchor = row;
    } else {
        for (auto& o : m.rows) o.selected = false;
        r.selected = true;
        m.anchor = row;
    }
    for (auto& o : m.rows) o.focused = false;
    r.focused = true;
}

void KeyMove(const Window& w, ListViewModel& m, UINT vk, unsigned mods) {
    const int n = RowCount(m);
    if (n == 0) return;
    int focus = NextItem(m, -1, LVNI_FOCUSED);
    int to = focus;
    switch (vk) {
    case VK_UP: to = focus < 0 ? 0 : std::max(0, focus - 1); break;
    case VK_DOWN: to = focus < 0 ? 0 : std::min(n - 1, focus + 1); break;
    case VK_HOME: to = 0; break;
    case VK_END: to = n - 1; break;
    case VK_PRIOR: to = std::max(0, (focus < 0 ? 0 : focus) - std::max(1, PageRows(w) - 1)); break;
    case VK_NEXT: to = std::min(n - 1, (focus < 0 ? 0 : focus) + std::max(1, PageRows(w) - 1)); break;
    default: return;
    }
    if (mods & kCtrl) {  // Ctrl moves the focus only
        for (auto& o : m.rows) o.focused = false;
        m.rows[static_cast<size_t>(to)].focused = true;
    } else {
        ClickSelect(w, m, to, false, mods & kShift);
    }
    EnsureVisible(w, m, to);
}

// ---------------------------------------------------------------------------------------------
// Tree view

std::atomic<uintptr_t> g_nextTreeItem{0x20010};  // never reused, apart from window handles

TreeNode* FindNode(TreeNode& root, HTREEITEM h) {
    if (root.handle == h) return &root;
    for (auto& c : root.children)
        if (TreeNode* f = FindNode(*c, h)) return f;
    return nullptr;
}

TreeNode* NodeOf(TreeViewModel& m, HTREEITEM h) {
    if (!h || h == TVI_ROOT) return nullptr;
    return FindNode(m.root, h);
}

bool Contains(const TreeNode& n, HTREEITEM h) {
    if (n.handle == h) return true;
    for (const auto& c : n.children)
        if (Contains(*c, h)) return true;
    return false;
}

HTREEITEM Sibling(const TreeNode* node, int step) {
    if (!node || !node->parent) return nullptr;
    auto& list = node->parent->children;
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].get() != node) continue;
        const long j = static_cast<long>(i) + step;
        return j >= 0 && j < static_cast<long>(list.size()) ? list[static_cast<size_t>(j)]->handle : nullptr;
    }
    return nullptr;
}

void FillNode(TreeViewModel& m, TreeNode& n, TVITEMA& item) {
    if (item.mask & TVIF_TEXT) CopyOut(n.text, item.pszText, item.cchTextMax);
    if (item.mask & TVIF_PARAM) item.lParam = n.param;
    if (item.mask & TVIF_STATE)
        item.state = ((m.selected == n.handle ? TVIS_SELECTED : 0u) | (n.expanded ? TVIS_EXPANDED : 0u)) & item.stateMask;
    if (item.mask & TVIF_CHILDREN) item.cChildren = n.children.empty() ? 0 : 1;
    if (item.mask & TVIF_IMAGE) item.iImage = n.image;
}

// ---------------------------------------------------------------------------------------------
// Status bar

void Dock(Window& w) {
    if (!w.parent) return;
    RECT c;
    GetClientRect(w.parent->handle, &c);
    w.rect = RECT{0, c.bottom - kStatusBarHeight, c.right, c.bottom};
}

}  // namespace

std::unique_ptr<ControlModel> MakeViewModel(ControlKind kind) {
    switch (kind) {
    case ControlKind::ListView: return std::make_unique<ListViewModel>();
    case ControlKind::TreeView: return std::make_unique<TreeViewModel>();
    case ControlKind::Tab: return std::make_unique<TabModel>();
    case ControlKind::StatusBar: return std::make_unique<StatusBarModel>();
    case ControlKind::Tooltips: return std::make_unique<TooltipsModel>();
    default: return nullptr;
    }
}

LRESULT ListViewProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Window* w = Raw(h);
    auto* m = ModelOf<ListViewModel>(w);
    if (!m) return DefWindowProcA(h, msg, wp, lp);
    const int n = RowCount(*m);
    const int i = static_cast<int>(static_cast<intptr_t>(wp));
    auto item = reinterpret_cast<LVITEMA*>(lp);
    switch (msg) {
    case LVM_GETITEMCOUNT: return n;
    case LVM_INSERTCOLUMNA: {
        auto* col = reinterpret_cast<const LVCOLUMNA*>(lp);
        if (!col) return -1;
        const int at = std::clamp(i, 0, static_cast<int>(m->columns.size()));
        ListColumn c;
        if (col->mask & LVCF_TEXT) c.text = TextArg(col->pszText);
        if (col->mask & LVCF_WIDTH) c.width = col->cx;
        m->columns.insert(m->columns.begin() + at, c);
        return at;
    }
    case LVM_DELETECOLUMN:
        if (i < 0 || i >= static_cast<int>(m->columns.size())) return FALSE;
        m->columns.erase(m->columns.begin() + i);
        return TRUE;
    case LVM_GETCOLUMNWIDTH:
        return i >= 0 && i < static_cast<int>(m->columns.size()) ? m->columns[static_cast<size_t>(i)].width : 0;
    case LVM_SETCOLUMNWIDTH:
        if (i < 0 || i >= static_cast<int>(m->columns.size())) return FALSE;
        m->columns[static_cast<size_t>(i)].width = static_cast<int>(static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(lp))));
        return TRUE;
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
        const DWORD old = m->exStyle;
        const DWORD mask = wp ? static_cast<DWORD>(wp) : 0xFFFFFFFFu;
        m->exStyle = (m->exStyle & ~mask) | (static_cast<DWORD>(lp) & mask);
        return old;
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE: return m->exStyle;
    case LVM_INSERTITEMA: {
        if (!item) return -1;
        const int at = std::clamp(item->iItem, 0, n);
        ListRow r;
        r.cells.resize(std::max<size_t>(1, m->columns.size()));
        m->rows.insert(m->rows.begin() + at, r);
        if (m->anchor >= at && n > 0) ++m->anchor;
        LVITEMA first = *item;
        first.iSubItem = 0;
        StoreItem(*w, *m, at, first);
        return at;
    }
    case LVM_DELETEITEM:
        if (i < 0 || i >= n) return FALSE;
        m->rows.erase(m->rows.begin() + i);
        if (m->anchor > i) --m->anchor;
        ClampScroll(*w, *m);
        return TRUE;
    case LVM_DELETEALLITEMS:
        m->rows.clear();
        m->anchor = 0;
        m->scrollY = 0;
        return TRUE;
    case LVM_GETITEMA:
        if (!item || item->iItem < 0 || item->iItem >= n) return FALSE;
        FillItem(*m, item->iItem, *item);
        return TRUE;
    case LVM_SETITEMA:
        if (!item || item->iItem < 0 || item->iItem >= n) return FALSE;
        StoreItem(*w, *m, item->iItem, *item);
        return TRUE;
    case LVM_GETITEMTEXTA: {
        if (!item || i < 0 || i >= n) return 0;
        return CopyOut(Cell(m->rows[static_cast<size_t>(i)], item->iSubItem), item->pszText, item->cchTextMax);
    }
    case LVM_SETITEMTEXTA:
        if (!item || i < 0 || i >= n) return FALSE;
        Cell(m->rows[static_cast<size_t>(i)], item->iSubItem) = TextArg(item->pszText);
        return TRUE;
    case LVM_SETITEMSTATE:
        if (!item) return FALSE;
        if (i == -1) {
            // Every row; focus cannot go to all of them, so only clearing it applies.
            for (int k = 0; k < n; ++k)
                SetRowState(*w, *m, k, item->state, item->stateMask & ~((item->state & LVIS_FOCUSED) ? LVIS_FOCUSED : 0u));
            return TRUE;
        }
        if (i < 0 || i >= n) return FALSE;
        SetRowState(*w, *m, i, item->state, item->stateMask);
        return TRUE;
    case LVM_GETITEMSTATE:
        if (i < 0 || i >= n) return 0;
        return RowState(m->rows[static_cast<size_t>(i)]) & static_cast<UINT>(lp);
    case LVM_GETSELECTEDCOUNT:
        return std::count_if(m->rows.begin(), m->rows.end(), [](const ListRow& r) { return r.selected; });
    case LVM_GETNEXTITEM: return NextItem(*m, i, static_cast<UINT>(lp));
    case LVM_ENSUREVISIBLE:
        if (i < 0 || i >= n) return FALSE;
        EnsureVisible(*w, *m, i);
        return TRUE;
    case LVM_SCROLL:
        m->scrollY += static_cast<int>(lp);
        ClampScroll(*w, *m);
        return TRUE;
    case LVM_GETTOPINDEX: return m->scrollY / kListRowHeight;
    case LVM_GETCOUNTPERPAGE: return PageRows(*w);
    case WM_KEYDOWN: {
        // The parent hears of every key first, then the key does its work.
        const unsigned mods = HeldMods();
        NMLVKEYDOWN nk;
        nk.wVKey = static_cast<WORD>(wp);
        NotifyParentNm(*w, LVN_KEYDOWN, &nk.hdr);
        if (!(w = InputTarget(h)) || !(m = ModelOf<ListViewModel>(w))) return 0;
        if (wp == VK_RETURN) {
            NotifyRow(*w, LVN_ITEMACTIVATE, NextItem(*m, -1, LVNI_FOCUSED), mods);
        } else if (wp == VK_SPACE && (m->exStyle & LVS_EX_CHECKBOXES)) {
            for (auto& r : m->rows)
                if (r.selected) r.stateImage = r.stateImage == 2 ? 1 : 2;
        } else {
            KeyMove(*w, *m, static_cast<UINT>(wp), mods);
        }
        return 0;
    }
    case WM_SIZE: ClampScroll(*w, *m); return 0;
    default: return DefWindowProcA(h, msg, wp, lp);
    }
}

LRESULT TreeViewProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Window* w = Raw(h);
    auto* m = ModelOf<TreeViewModel>(w);
    if (!m) return DefWindowProcA(h, msg, wp, lp);
    switch (msg) {
    case TVM_INSERTITEMA: {
        auto* ins = reinterpret_cast<const TVINSERTSTRUCTA*>(lp);
        if (!ins) return 0;
        TreeNode* parent = ins->hParent == nullptr || ins->hParent == TVI_ROOT ? &m->root : NodeOf(*m, ins->hParent);
        if (!parent) return 0;
        auto node = std::make_unique<TreeNode>();
        node->handle = reinterpret_cast<HTREEITEM>(g_nextTreeItem.fetch_add(4));
        node->parent = parent;
        if (ins->item.mask & TVIF_TEXT) node->text = TextArg(ins->item.pszText);
        if (ins->item.mask & TVIF_PARAM) node->param = ins->item.lParam;
        if (ins->item.mask & TVIF_IMAGE) node->image = ins->item.iImage;
        if ((ins->item.mask & TVIF_STATE) && (ins->item.stateMask & TVIS_EXPANDED))
            node->expanded = (ins->item.state & TVIS_EXPANDED) != 0;
        HTREEITEM handle = node->handle;
        auto& list = parent->children;
        auto at = list.end();
        if (ins->hInsertAfter == TVI_FIRST) at = list.begin();
        else if (ins->hInsertAfter && ins->hInsertAfter != TVI_LAST) {
            for (auto it = list.begin(); it != list.end(); ++it)
                if ((*it)->handle == ins->hInsertAfter) at = std::next(it);
        }
        list.insert(at, std::move(node));
        return reinterpret_cast<LRESULT>(handle);
    }
    case TVM_DELETEITEM: {
        auto target = reinterpret_cast<HTREEITEM>(lp);
        if (target == TVI_ROOT || target == nullptr) {
            m->root.children.clear();
            m->selected = nullptr;
            return TRUE;
        }
        TreeNode* n = NodeOf(*m, target);
        if (!n) return FALSE;
        if (m->selected && Contains(*n, m->selected)) m->selected = nullptr;  // silent, as every deletion
        auto& list = n->parent->children;
        list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& c) { return c.get() == n; }), list.end());
        return TRUE;
    }
    case TVM_EXPAND: {
        TreeNode* n = NodeOf(*m, reinterpret_cast<HTREEITEM>(lp));
        if (!n) return FALSE;
        switch (wp & 3) {
        case TVE_COLLAPSE: n->expanded = false; break;
        case TVE_EXPAND: n->expanded = true; break;
        case TVE_TOGGLE: n->expanded = !n->expanded; break;
        default: return FALSE;
        }
        return TRUE;
    }
    case TVM_GETCOUNT: {
        std::function<int(const TreeNode&)> count = [&](const TreeNode& t) {
            int c = static_cast<int>(t.children.size());
            for (const auto& k : t.children) c += count(*k);
            return c;
        };
        return count(m->root);
    }
    case TVM_GETNEXTITEM: {
        TreeNode* n = NodeOf(*m, reinterpret_cast<HTREEITEM>(lp));
        HTREEITEM r = nullptr;
        switch (wp) {
        case TVGN_ROOT: r = m->root.children.empty() ? nullptr : m->root.children.front()->handle; break;
        case TVGN_NEXT: r = Sibling(n, 1); break;
        case TVGN_PREVIOUS: r = Sibling(n, -1); break;
        case TVGN_PARENT: r = n && n->parent != &m->root ? n->parent->handle : nullptr; break;
        case TVGN_CHILD: {
            TreeNode* p = lp ? n : &m->root;
            r = p && !p->children.empty() ? p->children.front()->handle : nullptr;
            break;
        }
        case TVGN_CARET: r = m->selected; break;
        default: break;
        }
        return reinterpret_cast<LRESULT>(r);
    }
    case TVM_SELECTITEM:
        if (wp != TVGN_CARET) return FALSE;
        if (lp && !NodeOf(*m, reinterpret_cast<HTREEITEM>(lp))) return FALSE;
        m->selected = reinterpret_cast<HTREEITEM>(lp);
        return TRUE;
    case TVM_GETITEMA:
    case TVM_SETITEMA: {
        auto* item = reinterpret_cast<TVITEMA*>(lp);
        TreeNode* n = item ? NodeOf(*m, item->hItem) : nullptr;
        if (!n) return FALSE;
        if (msg == TVM_GETITEMA) {
            FillNode(*m, *n, *item);
            return TRUE;
        }
        if (item->mask & TVIF_TEXT) n->text = TextArg(item->pszText);
        if (item->mask & TVIF_PARAM) n->param = item->lParam;
        if (item->mask & TVIF_IMAGE) n->image = item->iImage;
        if ((item->mask & TVIF_STATE) && (item->stateMask & TVIS_EXPANDED))
            n->expanded = (item->state & TVIS_EXPANDED) != 0;
        return TRUE;
    }
    default: return DefWindowProcA(h, msg, wp, lp);
    }
}

LRESULT TabProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Window* w = Raw(h);
    auto* m = ModelOf<TabModel>(w);
    if (!m) return DefWindowProcA(h, msg, wp, lp);
    const int n = static_cast<int>(m->items.size());
    const int i = static_cast<int>(static_cast<intptr_t>(wp));
    switch (msg) {
    case TCM_GETITEMCOUNT: return n;
    case TCM_INSERTITEMA: {
        auto* item = reinterpret_cast<const TCITEMA*>(lp);
        if (!item || i < 0) return -1;
        const int at = std::min(i, n);
        TabItem t;
        if (item->mask & TCIF_TEXT) t.text = TextArg(item->pszText);
        if (item->mask & TCIF_PARAM) t.param = item->lParam;
        m->items.insert(m->items.begin() + at, t);
        if (m->index >= at) ++m->index;
        if (m->index < 0) m->index = 0;  // the first tab becomes the current one
        return at;
    }
    case TCM_GETITEMA: {
        auto* item = reinterpret_cast<TCITEMA*>(lp);
        if (!item || i < 0 || i >= n) return FALSE;
        if (item->mask & TCIF_TEXT) CopyOut(m->items[static_cast<size_t>(i)].text, item->pszText, item->cchTextMax);
        if (item->mask & TCIF_PARAM) item->lParam = m->items[static_cast<size_t>(i)].param;
        return TRUE;
    }
    case TCM_DELETEITEM:
        if (i < 0 || i >= n) return FALSE;
        m->items.erase(m->items.begin() + i);
        if (m->index == i) m->index = -1;
        else if (m->index > i) --m->index;
        return TRUE;
    case TCM_DELETEALLITEMS:
        m->items.clear();
        m->index = -1;
        return TRUE;
    case TCM_GETCURSEL: return m->index;
    case TCM_SETCURSEL: {
        if (i < 0 || i >= n) return -1;
        const int old = m->index;
        m->index = i;
        return old;
    }
    case TCM_ADJUSTRECT: {
        auto* r = reinterpret_cast<RECT*>(lp);
        if (!r) return 0;
        const int sign = wp ? -1 : 1;  // TRUE: display area to window rectangle
        r->left += sign * kTabBorder;
        r->right -= sign * kTabBorder;
        r->top += sign * (kTabStripHeight + kTabBorder);
        r->bottom -= sign * kTabBorder;
        return 0;
    }
    default: return DefWindowProcA(h, msg, wp, lp);
    }
}

LRESULT StatusBarProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Window* w = Raw(h);
    auto* m = ModelOf<StatusBarModel>(w);
    if (!m) return DefWindowProcA(h, msg, wp, lp);
    switch (msg) {
    case WM_CREATE:
    case WM_SIZE: Dock(*w); return 0;
    case SB_SETPARTS: {
        const int count = static_cast<int>(wp);
        auto* edges = reinterpret_cast<const int*>(lp);
        if (count < 1 || count > 256 || !edges) return FALSE;
        m->edges.assign(edges, edges + count);
        m->texts.resize(static_cast<size_t>(count));
        return TRUE;
    }
    case SB_GETPARTS: {
        auto* out = reinterpret_cast<int*>(lp);
        const int count = static_cast<int>(m->edges.size());
        for (int k = 0; out && k < count && k < static_cast<int>(wp); ++k) out[k] = m->edges[static_cast<size_t>(k)];
        return count;
    }
    case SB_SETTEXTA: {
        const size_t part = wp & 0xFF;  // the high byte holds drawing flags
        if (part >= m->texts.size()) return FALSE;
        m->texts[part] = lp ? reinterpret_cast<const char*>(lp) : "";
        return TRUE;
    }
    case SB_GETTEXTA:
    case SB_GETTEXTLENGTHA: {
        const size_t part = wp & 0xFF;
        if (part >= m->texts.size()) return 0;
        const std::string& t = m->texts[part];
        // Callers size their buffer by SB_GETTEXTLENGTHA.
        if (msg == SB_GETTEXTA && lp) CopyText(t, reinterpret_cast<char*>(lp), t.size() + 1);
        return static_cast<LRESULT>(t.size());
    }
    case WM_SETTEXT:
        m->texts[0] = lp ? reinterpret_cast<const char*>(lp) : "";
        return TRUE;
    case WM_GETTEXT: return CopyText(m->texts[0], reinterpret_cast<char*>(lp), wp);
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(m->texts[0].size());
    default: return DefWindowProcA(h, msg, wp, lp);
    }
}

LRESULT TooltipsProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Window* w = Raw(h);
    auto* m = ModelOf<TooltipsModel>(w);
    if (!m) return DefWindowProcA(h, msg, wp, lp);
    auto* info = reinterpret_cast<const TOOLINFOA*>(lp);
    auto find = [&](const TOOLINFOA* t) {
        return std::find_if(m->tools.begin(), m->tools.end(),
                            [&](const Tool& x) { return x.hwnd == t->hwnd && x.id == t->uId; });
    };
    switch (msg) {
    case TTM_ADDTOOLA: {
        if (!info) return FALSE;
        Tool t{info->hwnd, info->uId, info->uFlags, info->rect, TextArg(info->lpszText)};
        auto it = find(info);
        if (it != m->tools.end()) *it = t;
        else m->tools.push_back(t);
        return TRUE;
    }
    case TTM_DELTOOLA:
        if (info) {
            auto it = find(info);
            if (it != m->tools.end()) m->tools.erase(it);
        }
        return 0;
    case TTM_UPDATETIPTEXTA:
        if (info) {
            auto it = find(info);
            if (it != m->tools.end()) it->text = TextArg(info->lpszText);
        }
        return 0;
    case TTM_GETTOOLCOUNT: return static_cast<LRESULT>(m->tools.size());
    case TTM_SETDELAYTIME:
        if (wp == TTDT_AUTOMATIC) {
            const int t = static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(lp)));
            m->initial = t;
            m->reshow = t / 5;
            m->autopop = t * 10;
        } else if (wp == TTDT_INITIAL) {
            m->initial = static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(lp)));
        } else if (wp == TTDT_AUTOPOP) {
            m->autopop = static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(lp)));
        } else if (wp == TTDT_RESHOW) {
            m->reshow = static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(lp)));
        }
        return 0;
    case TTM_GETDELAYTIME:
        return wp == TTDT_INITIAL ? m->initial : wp == TTDT_AUTOPOP ? m->autopop : wp == TTDT_RESHOW ? m->reshow : 0;
    case TTM_ACTIVATE: m->active = wp != 0; return 0;
    case TTM_SETMAXTIPWIDTH: {
        const int old = m->maxWidth;
        m->maxWidth = static_cast<int>(lp);
        return old;
    }
    default: return DefWindowProcA(h, msg, wp, lp);
    }
}

std::vector<std::string> ViewItemsOf(Window* w) {
    std::vector<std::string> out;
    if (auto* t = ModelOf<TabModel>(w))
        for (const auto& i : t->items) out.push_back(i.text);
    if (auto* l = ModelOf<ListViewModel>(w))
        for (const auto& r : l->rows) out.push_back(r.cells.empty() ? std::string() : r.cells[0]);
    return out;
}

std::vector<int> ViewSelectionOf(Window* w) {
    std::vector<int> out;
    if (auto* t = ModelOf<TabModel>(w)) {
        if (t->index >= 0) out.push_back(t->index);
    }
    if (auto* l = ModelOf<ListViewModel>(w))
        for (size_t i = 0; i < l->rows.size(); ++i)
            if (l->rows[i].selected) out.push_back(static_cast<int>(i));
    return out;
}

// ---------------------------------------------------------------------------------------------
// User actions

bool UserClickRow(HWND h, int row, bool right, unsigned mods) {
    if (!ModelOf<ListViewModel>(InputTarget(h))) return false;
    Window* w = FocusForInput(h);
    auto* m = ModelOf<ListViewModel>(w);
    if (!m || row < -1 || row >= RowCount(*m)) return false;
    ClickSelect(*w, *m, row, right, mods);
    if (row >= 0) EnsureVisible(*w, *m, row);
    NotifyRow(*w, right ? NM_RCLICK : NM_CLICK, row, mods);
    return true;
}

bool UserDoubleClickRow(HWND h, int row) {
    if (!UserClickRow(h, row, false, kNoMods)) return false;
    Window* w = InputTarget(h);
    if (!w) return true;
    NotifyRow(*w, NM_DBLCLK, row, kNoMods);
    if (row >= 0 && (w = InputTarget(h))) NotifyRow(*w, LVN_ITEMACTIVATE, row, kNoMods);
    return true;
}

bool UserToggleRowCheck(HWND h, int row) {
    auto* m = ModelOf<ListViewModel>(InputTarget(h));
    if (!m || !(m->exStyle & LVS_EX_CHECKBOXES) || row < 0 || row >= RowCount(*m)) return false;
    ListRow& r = m->rows[static_cast<size_t>(row)];
    r.stateImage = r.stateImage == 2 ? 1 : 2;  // silent, as a click on the box is
    return true;
}

bool UserClickColumn(HWND h, int column) {
    Window* w = InputTarget(h);
    auto* m = ModelOf<ListViewModel>(w);
    if (!m || (w->style & 3) != LVS_REPORT || (w->style & (LVS_NOSORTHEADER | LVS_NOCOLUMNHEADER)) || column < 0 ||
        column >= static_cast<int>(m->columns.size()))
        return false;
    NMLISTVIEW nm;
    nm.iSubItem = column;
    NotifyParentNm(*w, LVN_COLUMNCLICK, &nm.hdr);
    return true;
}

bool UserSelectTreeItem(HWND h, HTREEITEM item, bool byMouse) {
    if (!ModelOf<TreeViewModel>(InputTarget(h))) return false;
    Window* w = FocusForInput(h);
    auto* m = ModelOf<TreeViewModel>(w);
    TreeNode* n = m ? NodeOf(*m, item) : nullptr;
    if (!n) return false;
    if (m->selected == item) return true;
    NMTREEVIEWA nm;
    nm.action = byMouse ? TVC_BYMOUSE : TVC_BYKEYBOARD;
    nm.itemOld.hItem = m->selected;
    if (TreeNode* old = NodeOf(*m, m->selected)) nm.itemOld.lParam = old->param;
    nm.itemOld.mask = nm.itemNew.mask = TVIF_HANDLE | TVIF_PARAM;
    nm.itemNew.hItem = item;
    nm.itemNew.lParam = n->param;
    m->selected = item;
    for (TreeNode* p = n->parent; p && p != &m->root; p = p->parent) p->expanded = true;  // a selection is shown
    NotifyParentNm(*w, TVN_SELCHANGEDA, &nm.hdr);
    return true;
}

std::string UserHoverTreeItem(HWND h, HTREEITEM item) {
    Window* w = InputTarget(h);
    auto* m = ModelOf<TreeViewModel>(w);
    TreeNode* n = m ? NodeOf(*m, item) : nullptr;
    if (!n || !(w->style & TVS_INFOTIP)) return {};
    char buffer[1024] = "";
    NMTVGETINFOTIPA nm;
    nm.pszText = buffer;
    nm.cchTextMax = static_cast<int>(sizeof buffer);
    nm.hItem = item;
    nm.lParam = n->param;
    NotifyParentNm(*w, TVN_GETINFOTIPA, &nm.hdr);
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

bool UserPickTab(HWND h, int index) {
    if (!ModelOf<TabModel>(InputTarget(h))) return false;
    Window* w = FocusForInput(h);
    auto* m = ModelOf<TabModel>(w);
    if (!m || index < 0 || index >= static_cast<int>(m->items.size())) return false;
    if (index == m->index) return true;
    NMHDR nm;
    if (NotifyParentNm(*w, TCN_SELCHANGING, &nm) != 0) return true;  // vetoed
    if (!(w = InputTarget(h)) || !(m = ModelOf<TabModel>(w)) || index >= static_cast<int>(m->items.size())) return false;
    m->index = index;
    NMHDR changed;
    NotifyParentNm(*w, TCN_SELCHANGE, &changed);
    return true;
}

}  // namespace gui::detail

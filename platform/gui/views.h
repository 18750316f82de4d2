// The view controls: list view (report view), tree view, tab, status bar and tool tips. Their
// records, messages, styles and notifications. Included by gui.h.
//
// Notifications reach the parent as WM_NOTIFY(control id, NMHDR*) and only for user actions;
// every message below changes the model silently.
#pragma once

namespace gui {

struct HTREEITEM__;
using HTREEITEM = HTREEITEM__*;

inline constexpr const char* kListViewClass = "SysListView32";
inline constexpr const char* kTreeViewClass = "SysTreeView32";
inline constexpr const char* kTabClass = "SysTabControl32";
inline constexpr const char* kStatusBarClass = "msctls_statusbar32";
inline constexpr const char* kTooltipsClass = "tooltips_class32";

// ---------------------------------------------------------------------------------------------
// Notification records
// ---------------------------------------------------------------------------------------------

inline constexpr UINT NM_CLICK = static_cast<UINT>(-2);
inline constexpr UINT NM_DBLCLK = static_cast<UINT>(-3);
inline constexpr UINT NM_RETURN = static_cast<UINT>(-4);
inline constexpr UINT NM_RCLICK = static_cast<UINT>(-5);

// Modifier flags of NMITEMACTIVATE::uKeyFlags.
inline constexpr UINT LVKF_ALT = 0x1;
inline constexpr UINT LVKF_CONTROL = 0x2;
inline constexpr UINT LVKF_SHIFT = 0x4;

// NM_CLICK, NM_RCLICK, NM_DBLCLK and LVN_ITEMACTIVATE of a list view. iItem is -1 off the rows.
struct NMITEMACTIVATE {
    NMHDR hdr;
    int iItem = -1;
    int iSubItem = 0;
    UINT uNewState = 0;
    UINT uOldState = 0;
    UINT uChanged = 0;
    POINT ptAction;
    LPARAM lParam = 0;
    UINT uKeyFlags = 0;
};

// LVN_COLUMNCLICK of a list view: iSubItem is the column whose header was clicked, iItem -1.
struct NMLISTVIEW {
    NMHDR hdr;
    int iItem = -1;
    int iSubItem = 0;
    UINT uNewState = 0;
    UINT uOldState = 0;
    UINT uChanged = 0;
    POINT ptAction;
    LPARAM lParam = 0;
};

struct NMLVKEYDOWN {
    NMHDR hdr;
    WORD wVKey = 0;
    UINT flags = 0;
};

// ---------------------------------------------------------------------------------------------
// List view: report view with columns, rows of cells, selection, focus, check-box state images
// and a vertical scroll position in pixels (rows are 17 pixels high, below a 20-pixel header).
// Row -1 in LVM_SETITEMSTATE means every row.
// ---------------------------------------------------------------------------------------------

inline constexpr DWORD LVS_ICON = 0x0;
inline constexpr DWORD LVS_REPORT = 0x1;
inline constexpr DWORD LVS_SMALLICON = 0x2;
inline constexpr DWORD LVS_LIST = 0x3;
inline constexpr DWORD LVS_SINGLESEL = 0x4;
inline constexpr DWORD LVS_SHOWSELALWAYS = 0x8;
inline constexpr DWORD LVS_SORTASCENDING = 0x10;
inline constexpr DWORD LVS_SORTDESCENDING = 0x20;
inline constexpr DWORD LVS_NOLABELWRAP = 0x80;
inline constexpr DWORD LVS_NOCOLUMNHEADER = 0x4000;
inline constexpr DWORD LVS_NOSORTHEADER = 0x8000;

inline constexpr DWORD LVS_EX_GRIDLINES = 0x1;
inline constexpr DWORD LVS_EX_CHECKBOXES = 0x4;
inline constexpr DWORD LVS_EX_FULLROWSELECT = 0x20;

inline constexpr UINT LVM_GETITEMCOUNT = 0x1004;
inline constexpr UINT LVM_GETITEMA = 0x1005;
inline constexpr UINT LVM_SETITEMA = 0x1006;
inline constexpr UINT LVM_INSERTITEMA = 0x1007;
inline constexpr UINT LVM_DELETEITEM = 0x1008;
inline constexpr UINT LVM_DELETEALLITEMS = 0x1009;
inline constexpr UINT LVM_GETNEXTITEM = 0x100C;
inline constexpr UINT LVM_ENSUREVISIBLE = 0x1013;
inline constexpr UINT LVM_SCROLL = 0x1014;
inline constexpr UINT LVM_INSERTCOLUMNA = 0x101B;
inline constexpr UINT LVM_DELETECOLUMN = 0x101C;
inline constexpr UINT LVM_GETCOLUMNWIDTH = 0x101D;
inline constexpr UINT LVM_SETCOLUMNWIDTH = 0x101E;
inline constexpr UINT LVM_GETTOPINDEX = 0x1027;
inline constexpr UINT LVM_GETCOUNTPERPAGE = 0x1028;
inline constexpr UINT LVM_SETITEMSTATE = 0x102B;
inline constexpr UINT LVM_GETITEMSTATE = 0x102C;
inline constexpr UINT LVM_GETITEMTEXTA = 0x102D;
inline constexpr UINT LVM_SETITEMTEXTA = 0x102E;
inline constexpr UINT LVM_GETSELECTEDCOUNT = 0x1032;
inline constexpr UINT LVM_SETEXTENDEDLISTVIEWSTYLE = 0x1036;
inline constexpr UINT LVM_GETEXTENDEDLISTVIEWSTYLE = 0x1037;

inline constexpr UINT LVIF_TEXT = 0x1;
inline constexpr UINT LVIF_IMAGE = 0x2;
inline constexpr UINT LVIF_PARAM = 0x4;
inline constexpr UINT LVIF_STATE = 0x8;

inline constexpr UINT LVIS_FOCUSED = 0x1;
inline constexpr UINT LVIS_SELECTED = 0x2;
inline constexpr UINT LVIS_STATEIMAGEMASK = 0xF000;
// The check-box state images: 1 unchecked, 2 checked.
constexpr UINT INDEXTOSTATEIMAGEMASK(UINT i) { return i << 12; }

// LVM_GETNEXTITEM flags: state conditions (all must hold) and a direction (default: below).
inline constexpr UINT LVNI_ALL = 0x0;
inline constexpr UINT LVNI_FOCUSED = 0x1;
inline constexpr UINT LVNI_SELECTED = 0x2;
inline constexpr UINT LVNI_ABOVE = 0x100;
inline constexpr UINT LVNI_BELOW = 0x200;

inline constexpr UINT LVCF_FMT = 0x1;
inline constexpr UINT LVCF_WIDTH = 0x2;
inline constexpr UINT LVCF_TEXT = 0x4;
inline constexpr UINT LVCF_SUBITEM = 0x8;

inline constexpr UINT LVN_ITEMCHANGED = static_cast<UINT>(-101);  // never sent: no code relies on it
inline constexpr UINT LVN_COLUMNCLICK = static_cast<UINT>(-108);  // not with LVS_NOSORTHEADER
inline constexpr UINT LVN_ITEMACTIVATE = static_cast<UINT>(-114);
inline constexpr UINT LVN_KEYDOWN = static_cast<UINT>(-155);

struct LVCOLUMNA {
    UINT mask = 0;
    int fmt = 0;
    int cx = 0;
    LPSTR pszText = nullptr;
    int cchTextMax = 0;
    int iSubItem = 0;
};

struct LVITEMA {
    UINT mask = 0;
    int iItem = 0;
    int iSubItem = 0;
    UINT state = 0;
    UINT stateMask = 0;
    LPSTR pszText = nullptr;
    int cchTextMax = 0;
    int iImage = 0;
    LPARAM lParam = 0;
};

// ---------------------------------------------------------------------------------------------
// Tree view: nodes with never-reused handles, text, a parameter, expanded state and children;
// one selection.
// ---------------------------------------------------------------------------------------------

inline constexpr DWORD TVS_HASBUTTONS = 0x1;
inline constexpr DWORD TVS_HASLINES = 0x2;
inline constexpr DWORD TVS_LINESATROOT = 0x4;
inline constexpr DWORD TVS_SHOWSELALWAYS = 0x20;
inline constexpr DWORD TVS_INFOTIP = 0x800;

inline const HTREEITEM TVI_ROOT = reinterpret_cast<HTREEITEM>(static_cast<intptr_t>(-0x10000));
inline const HTREEITEM TVI_FIRST = reinterpret_cast<HTREEITEM>(static_cast<intptr_t>(-0x0FFFF));
inline const HTREEITEM TVI_LAST = reinterpret_cast<HTREEITEM>(static_cast<intptr_t>(-0x0FFFE));

inline constexpr UINT TVM_INSERTITEMA = 0x1100;
inline constexpr UINT TVM_DELETEITEM = 0x1101;
inline constexpr UINT TVM_EXPAND = 0x1102;
inline constexpr UINT TVM_GETCOUNT = 0x1105;
inline constexpr UINT TVM_GETNEXTITEM = 0x110A;
inline constexpr UINT TVM_SELECTITEM = 0x110B;
inline constexpr UINT TVM_GETITEMA = 0x110C;
inline constexpr UINT TVM_SETITEMA = 0x110D;

inline constexpr WPARAM TVGN_ROOT = 0x0;
inline constexpr WPARAM TVGN_NEXT = 0x1;
inline constexpr WPARAM TVGN_PREVIOUS = 0x2;
inline constexpr WPARAM TVGN_PARENT = 0x3;
inline constexpr WPARAM TVGN_CHILD = 0x4;
inline constexpr WPARAM TVGN_CARET = 0x9;

inline constexpr WPARAM TVE_COLLAPSE = 0x1;
inline constexpr WPARAM TVE_EXPAND = 0x2;
inline constexpr WPARAM TVE_TOGGLE = 0x3;

inline constexpr UINT TVIF_TEXT = 0x1;
inline constexpr UINT TVIF_IMAGE = 0x2;
inline constexpr UINT TVIF_PARAM = 0x4;
inline constexpr UINT TVIF_STATE = 0x8;
inline constexpr UINT TVIF_HANDLE = 0x10;
inline constexpr UINT TVIF_CHILDREN = 0x40;
inline constexpr UINT TVIS_SELECTED = 0x2;
inline constexpr UINT TVIS_EXPANDED = 0x20;

inline constexpr UINT TVN_SELCHANGEDA = static_cast<UINT>(-402);
inline constexpr UINT TVN_GETINFOTIPA = static_cast<UINT>(-413);
inline constexpr UINT TVC_UNKNOWN = 0;
inline constexpr UINT TVC_BYMOUSE = 1;
inline constexpr UINT TVC_BYKEYBOARD = 2;

struct TVITEMA {
    UINT mask = 0;
    HTREEITEM hItem = nullptr;
    UINT state = 0;
    UINT stateMask = 0;
    LPSTR pszText = nullptr;
    int cchTextMax = 0;
    int iImage = 0;
    int iSelectedImage = 0;
    int cChildren = 0;
    LPARAM lParam = 0;
};

struct TVINSERTSTRUCTA {
    HTREEITEM hParent = nullptr;
    HTREEITEM hInsertAfter = nullptr;
    TVITEMA item;
};

struct NMTREEVIEWA {
    NMHDR hdr;
    UINT action = 0;
    TVITEMA itemOld;
    TVITEMA itemNew;
    POINT ptDrag;
};

// Asks the parent for a node's tip: it writes at most cchTextMax bytes into pszText.
struct NMTVGETINFOTIPA {
    NMHDR hdr;
    LPSTR pszText = nullptr;
    int cchTextMax = 0;
    HTREEITEM hItem = nullptr;
    LPARAM lParam = 0;
};

// ---------------------------------------------------------------------------------------------
// Tab control: items {text, parameter} and one current index. The pages are the caller's own
// windows placed over the display area (TCM_ADJUSTRECT).
// ---------------------------------------------------------------------------------------------

inline constexpr UINT TCM_GETITEMCOUNT = 0x1304;
inline constexpr UINT TCM_GETITEMA = 0x1305;
inline constexpr UINT TCM_INSERTITEMA = 0x1307;
inline constexpr UINT TCM_DELETEITEM = 0x1308;
inline constexpr UINT TCM_DELETEALLITEMS = 0x1309;
inline constexpr UINT TCM_GETCURSEL = 0x130B;
inline constexpr UINT TCM_SETCURSEL = 0x130C;
inline constexpr UINT TCM_ADJUSTRECT = 0x1328;

inline constexpr UINT TCIF_TEXT = 0x1;
inline constexpr UINT TCIF_IMAGE = 0x2;
inline constexpr UINT TCIF_PARAM = 0x8;

// A non-zero answer to TCN_SELCHANGING (DWLP_MSGRESULT in a dialog) keeps the current tab.
inline constexpr UINT TCN_SELCHANGE = static_cast<UINT>(-551);
inline constexpr UINT TCN_SELCHANGING = static_cast<UINT>(-552);

struct TCITEMA {
    UINT mask = 0;
    DWORD dwState = 0;
    DWORD dwStateMask = 0;
    LPSTR pszText = nullptr;
    int cchTextMax = 0;
    int iImage = 0;
    LPARAM lParam = 0;
};

// ---------------------------------------------------------------------------------------------
// Status bar: parts with right edges (-1: to the end) and texts. It docks to its parent's bottom
// when created and whenever it receives WM_SIZE (the parent forwards its own).
// ---------------------------------------------------------------------------------------------

inline constexpr DWORD SBARS_SIZEGRIP = 0x100;
inline constexpr UINT SB_SETTEXTA = WM_USER + 1;
inline constexpr UINT SB_GETTEXTA = WM_USER + 2;
inline constexpr UINT SB_GETTEXTLENGTHA = WM_USER + 3;
inline constexpr UINT SB_SETPARTS = WM_USER + 4;
inline constexpr UINT SB_GETPARTS = WM_USER + 6;
inline constexpr int kStatusBarHeight = 20;

// ---------------------------------------------------------------------------------------------
// Tool tips: tools keyed by (window, id); adding the same key again replaces the tool.
// ---------------------------------------------------------------------------------------------

inline constexpr DWORD TTS_ALWAYSTIP = 0x1;
inline constexpr DWORD TTS_NOPREFIX = 0x2;
inline constexpr UINT TTF_IDISHWND = 0x1;
inline constexpr UINT TTF_SUBCLASS = 0x10;
inline constexpr UINT TTM_ACTIVATE = WM_USER + 1;
inline constexpr UINT TTM_SETDELAYTIME = WM_USER + 3;
inline constexpr UINT TTM_ADDTOOLA = WM_USER + 4;
inline constexpr UINT TTM_DELTOOLA = WM_USER + 5;
inline constexpr UINT TTM_GETDELAYTIME = WM_USER + 21;
inline constexpr UINT TTM_GETTOOLCOUNT = WM_USER + 13;
inline constexpr UINT TTM_UPDATETIPTEXTA = WM_USER + 12;
inline constexpr UINT TTM_SETMAXTIPWIDTH = WM_USER + 24;
inline constexpr WPARAM TTDT_AUTOMATIC = 0;
inline constexpr WPARAM TTDT_RESHOW = 1;
inline constexpr WPARAM TTDT_AUTOPOP = 2;
inline constexpr WPARAM TTDT_INITIAL = 3;

struct TOOLINFOA {
    UINT cbSize = sizeof(TOOLINFOA);
    UINT uFlags = 0;
    HWND hwnd = nullptr;
    UINT_PTR uId = 0;
    RECT rect;
    HINSTANCE hinst = nullptr;
    LPSTR lpszText = nullptr;
    LPARAM lParam = 0;
};

}  // namespace gui

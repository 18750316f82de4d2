// The desktop around the windows: file and folder dialogs, the tray icon, and files or text
// dropped on a window. Included by gui.h.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace gui {

// ---------------------------------------------------------------------------------------------
// File dialogs
//
// lpstrFile holds the initial name on the way in and the choice on the way out: one file as
// "/dir/a.flac\0"; several (OFN_ALLOWMULTISELECT) as "/dir\0a.flac\0b.flac\0\0", all from one
// folder. nFileOffset is where the (first) name starts. A choice that does not fit nMaxFile
// answers FALSE with CommDlgExtendedError() == FNERR_BUFFERTOOSMALL and the size needed in the
// buffer's first two bytes.
// ---------------------------------------------------------------------------------------------

inline constexpr DWORD OFN_READONLY = 0x1;
inline constexpr DWORD OFN_OVERWRITEPROMPT = 0x2;
inline constexpr DWORD OFN_HIDEREADONLY = 0x4;
inline constexpr DWORD OFN_NOCHANGEDIR = 0x8;
inline constexpr DWORD OFN_ALLOWMULTISELECT = 0x200;
inline constexpr DWORD OFN_PATHMUSTEXIST = 0x800;
inline constexpr DWORD OFN_FILEMUSTEXIST = 0x1000;
inline constexpr DWORD OFN_CREATEPROMPT = 0x2000;
inline constexpr DWORD OFN_EXPLORER = 0x80000;
inline constexpr DWORD FNERR_BUFFERTOOSMALL = 0x3003;

struct OPENFILENAMEA {
    DWORD lStructSize = sizeof(OPENFILENAMEA);
    HWND hwndOwner = nullptr;
    HINSTANCE hInstance = nullptr;
    LPCSTR lpstrFilter = nullptr;  // "Audio\0*.mp3;*.wav\0All files\0*.*\0\0"
    LPSTR lpstrCustomFilter = nullptr;
    DWORD nMaxCustFilter = 0;
    DWORD nFilterIndex = 0;  // 1-based
    LPSTR lpstrFile = nullptr;
    DWORD nMaxFile = 0;
    LPSTR lpstrFileTitle = nullptr;
    DWORD nMaxFileTitle = 0;
    LPCSTR lpstrInitialDir = nullptr;
    LPCSTR lpstrTitle = nullptr;
    DWORD Flags = 0;
    WORD nFileOffset = 0;
    WORD nFileExtension = 0;
    LPCSTR lpstrDefExt = nullptr;
    LPARAM lCustData = 0;
    void* lpfnHook = nullptr;
    LPCSTR lpTemplateName = nullptr;
};

BOOL GetOpenFileNameA(OPENFILENAMEA* ofn);
BOOL GetSaveFileNameA(OPENFILENAMEA* ofn);
// 0 after a choice or a cancel; FNERR_BUFFERTOOSMALL after a choice that did not fit.
DWORD CommDlgExtendedError();

// What a file or folder dialog asks, for the one who answers it (a test script, a real chooser).
struct FileDialogRequest {
    HWND owner = nullptr;
    bool save = false;
    bool multiple = false;
    DWORD flags = 0;
    std::string title;
    std::string initialDir;
    std::string initialName;
    std::vector<std::pair<std::string, std::string>> filters;  // {description, patterns}
    int filterIndex = 0;                                       // 0-based
};

// The chosen paths (absolute), or none for a cancel.
using FileDialogResponder = std::function<std::optional<std::vector<std::string>>(const FileDialogRequest&)>;
void SetFileDialogResponder(FileDialogResponder responder);
// Folder dialogs: the request's title and initialDir apply; the chosen folder, or none.
using FolderDialogResponder = std::function<std::optional<std::string>(const FileDialogRequest&)>;
void SetFolderDialogResponder(FolderDialogResponder responder);
std::optional<std::string> BrowseForFolder(HWND owner, const std::string& title, const std::string& initialDir);

// ---------------------------------------------------------------------------------------------
// Tray icon: {window, id} with a callback message, icon, tip and balloons. A button released on
// the icon posts the callback message (wParam id, lParam WM_LBUTTONUP or WM_RBUTTONUP). When the
// desktop has no tray, NIM_ADD answers FALSE; when a tray appears again, top-level windows
// receive the registered "TaskbarCreated" message.
// ---------------------------------------------------------------------------------------------

inline constexpr DWORD NIM_ADD = 0x0;
inline constexpr DWORD NIM_MODIFY = 0x1;
inline constexpr DWORD NIM_DELETE = 0x2;
inline constexpr UINT NIF_MESSAGE = 0x1;
inline constexpr UINT NIF_ICON = 0x2;
inline constexpr UINT NIF_TIP = 0x4;
inline constexpr UINT NIF_INFO = 0x10;
inline constexpr DWORD NIIF_NONE = 0x0;
inline constexpr DWORD NIIF_INFO = 0x1;
inline constexpr DWORD NIIF_WARNING = 0x2;
inline constexpr DWORD NIIF_ERROR = 0x3;
inline constexpr DWORD NIIF_NOSOUND = 0x10;

struct NOTIFYICONDATAA {
    DWORD cbSize = sizeof(NOTIFYICONDATAA);
    HWND hWnd = nullptr;
    UINT uID = 0;
    UINT uFlags = 0;
    UINT uCallbackMessage = 0;
    HICON hIcon = nullptr;
    char szTip[128] = {};
    DWORD dwState = 0;
    DWORD dwStateMask = 0;
    char szInfo[256] = {};
    UINT uTimeout = 0;
    char szInfoTitle[64] = {};
    DWORD dwInfoFlags = 0;
};

BOOL Shell_NotifyIconA(DWORD message, const NOTIFYICONDATAA* data);

// ---------------------------------------------------------------------------------------------
// Drop targets. A window registers an IDropTarget; a drop of files or text calls DragEnter,
// DragOver, then Drop (or DragLeave when the target refused). Files arrive as CF_HDROP: a
// DROPFILES record with UTF-8 names (fWide 0), read with DragQueryFileA; text as CF_TEXT.
// ---------------------------------------------------------------------------------------------

using HRESULT = int32_t;
using HGLOBAL = void*;
using HDROP = HGLOBAL;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT DV_E_FORMATETC = static_cast<HRESULT>(0x80040064u);
inline constexpr HRESULT DRAGDROP_E_ALREADYREGISTERED = static_cast<HRESULT>(0x80040101u);
inline constexpr HRESULT DRAGDROP_E_NOTREGISTERED = static_cast<HRESULT>(0x80040100u);

struct GUID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};
};
using IID = GUID;
inline bool operator==(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::equal(std::begin(a.Data4), std::end(a.Data4), std::begin(b.Data4));
}
inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDropTarget{0x00000122, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

inline constexpr WORD CF_TEXT = 1;
inline constexpr WORD CF_HDROP = 15;
inline constexpr DWORD TYMED_HGLOBAL = 1;
inline constexpr DWORD DVASPECT_CONTENT = 1;
inline constexpr DWORD DROPEFFECT_NONE = 0;
inline constexpr DWORD DROPEFFECT_COPY = 1;
inline constexpr DWORD DROPEFFECT_MOVE = 2;
inline constexpr DWORD DROPEFFECT_LINK = 4;
inline constexpr DWORD MK_LBUTTON = 0x1;
inline constexpr DWORD MK_RBUTTON = 0x2;
inline constexpr DWORD MK_SHIFT = 0x4;
inline constexpr DWORD MK_CONTROL = 0x8;

struct POINTL {
    LONG x = 0;
    LONG y = 0;
};

struct FORMATETC {
    WORD cfFormat = 0;
    void* ptd = nullptr;
    DWORD dwAspect = DVASPECT_CONTENT;
    LONG lindex = -1;
    DWORD tymed = TYMED_HGLOBAL;
};

struct STGMEDIUM {
    DWORD tymed = 0;
    HGLOBAL hGlobal = nullptr;
    void* pUnkForRelease = nullptr;
};

struct DROPFILES {
    DWORD pFiles = sizeof(DROPFILES);  // offset of the names: "a\0b\0\0"
    POINT pt;
    BOOL fNC = FALSE;
    BOOL fWide = FALSE;
};

class IUnknown {
public:
    virtual HRESULT QueryInterface(const IID& iid, void** out) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

class IDataObject : public IUnknown {
public:
    virtual HRESULT GetData(const FORMATETC* format, STGMEDIUM* medium) = 0;
    virtual HRESULT QueryGetData(const FORMATETC* format) = 0;

protected:
    ~IDataObject() = default;
};

class IDropTarget : public IUnknown {
public:
    virtual HRESULT DragEnter(IDataObject* data, DWORD keys, POINTL pt, DWORD* effect) = 0;
    virtual HRESULT DragOver(DWORD keys, POINTL pt, DWORD* effect) = 0;
    virtual HRESULT DragLeave() = 0;
    virtual HRESULT Drop(IDataObject* data, DWORD keys, POINTL pt, DWORD* effect) = 0;

protected:
    ~IDropTarget() = default;
};

// Registration keeps a reference (AddRef) until RevokeDragDrop or the window's end.
HRESULT RegisterDragDrop(HWND hwnd, IDropTarget* target);
HRESULT RevokeDragDrop(HWND hwnd);
HRESULT OleInitialize(void* reserved);  // no-ops: nothing to set up
void OleUninitialize();

HGLOBAL GlobalAlloc(UINT flags, size_t bytes);
void* GlobalLock(HGLOBAL memory);
BOOL GlobalUnlock(HGLOBAL memory);
size_t GlobalSize(HGLOBAL memory);
HGLOBAL GlobalFree(HGLOBAL memory);
void ReleaseStgMedium(STGMEDIUM* medium);
// index 0xFFFFFFFF: the file count; a null buffer: the name's length; else the bytes copied.
UINT DragQueryFileA(HDROP drop, UINT index, LPSTR buffer, UINT size);

}  // namespace gui

// File and folder dialogs, the tray icon and drop targets. The answers come from a responder:
// the test driver's script, or a real chooser; without one (no display) a dialog is cancelled.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/gui/internal.h"

namespace gui {
namespace detail {

namespace {

thread_local DWORD t_dialogError = 0;

// The pairs of a filter string "desc\0patterns\0...\0\0".
std::vector<std::pair<std::string, std::string>> ParseFilter(LPCSTR filter) {
    std::vector<std::pair<std::string, std::string>> out;
    if (!filter) return out;
    for (const char* p = filter; *p;) {
        std::string description = p;
        p += description.size() + 1;
        if (!*p) break;
        std::string patterns = p;
        p += patterns.size() + 1;
        out.emplace_back(std::move(description), std::move(patterns));
    }
    return out;
}

size_t NameStart(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

std::string FolderOf(const std::string& path) {
    size_t start = NameStart(path);
    if (start == 0) return {};
    return start == 1 ? "/" : path.substr(0, start - 1);
}

// Writes the choice into the caller's OPENFILENAMEA; false when it does not fit.
bool FillChoice(OPENFILENAMEA& ofn, std::vector<std::string> paths) {
    std::string buffer;
    WORD offset = 0, extension = 0;
    if (paths.size() == 1) {
        std::string& path = paths[0];
        if (ofn.lpstrDefExt && *ofn.lpstrDefExt && path.find('.', NameStart(path)) == std::string::npos)
            path += std::string(".") + ofn.lpstrDefExt;
        const size_t start = NameStart(path), dot = path.find_last_of('.');
        offset = static_cast<WORD>(std::min<size_t>(start, 0xFFFF));
        extension = dot != std::string::npos && dot >= start ? static_cast<WORD>(std::min<size_t>(dot + 1, 0xFFFF)) : 0;
        buffer = path;
        buffer.push_back('\0');
    } else {
        const std::string folder = FolderOf(paths[0]);
        buffer = folder;
        buffer.push_back('\0');
        offset = static_cast<WORD>(std::min<size_t>(buffer.size(), 0xFFFF));
        for (const std::string& p : paths) {
            if (FolderOf(p) != folder) return false;  // one folder per choice, as a chooser gives
            buffer += p.substr(NameStart(p));
            buffer.push_back('\0');
        }
    }
    buffer.push_back('\0');  // the list's end (and a harmless second terminator for one file)
    if (!ofn.lpstrFile || buffer.size() > ofn.nMaxFile) {
        if (ofn.lpstrFile && ofn.nMaxFile >= 2) {
            const WORD need = static_cast<WORD>(std::min<size_t>(buffer.size(), 0xFFFF));
            std::memcpy(ofn.lpstrFile, &need, sizeof need);
        }
        t_dialogError = FNERR_BUFFERTOOSMALL;
        return false;
    }
    std::memcpy(ofn.lpstrFile, buffer.data(), buffer.size());
    ofn.nFileOffset = offset;
    ofn.nFileExtension = extension;
    if (ofn.lpstrFileTitle && ofn.nMaxFileTitle > 0)
        CopyText(paths[0].substr(NameStart(paths[0])), ofn.lpstrFileTitle, ofn.nMaxFileTitle);
    return true;
}

BOOL RunFileDialog(OPENFILENAMEA* ofn, bool save) {
    t_dialogError = 0;
    if (!ofn) return FALSE;
    FileDialogRequest request;
    request.owner = ofn->hwndOwner;
    request.save = save;
    request.multiple = !save && (ofn->Flags & OFN_ALLOWMULTISELECT);
    request.flags = ofn->Flags;
    request.title = ofn->lpstrTitle ? ofn->lpstrTitle : "";
    request.initialDir = ofn->lpstrInitialDir ? ofn->lpstrInitialDir : "";
    if (ofn->lpstrFile && ofn->nMaxFile > 0)
        request.initialName.assign(ofn->lpstrFile, strnlen(ofn->lpstrFile, ofn->nMaxFile));
    request.filters = ParseFilter(ofn->lpstrFilter);
    request.filterIndex = ofn->nFilterIndex > 0 ? static_cast<int>(ofn->nFilterIndex) - 1 : 0;
    FileDialogResponder responder = S().fileResponder;
    if (!responder) {
        std::fprintf(stderr, "no display: file dialog \"%s\" cancelled\n", request.title.c_str());
        return FALSE;
    }
    auto owner = request.owner;
    const bool reenable = owner && IsWindowEnabled(owner);
    if (reenable) EnableWindow(owner, FALSE);  // modal: the owner waits
    auto paths = responder(request);
    if (reenable && IsWindow(owner)) EnableWindow(owner, TRUE);
    if (!paths || paths->empty()) return FALSE;
    if (paths->size() > 1 && !request.multiple) paths->resize(1);
    return FillChoice(*ofn, std::move(*paths)) ? TRUE : FALSE;
}

// The data of one drop: files or text.
class DropData final : public IDataObject {
public:
    DropData(std::vector<std::string> files, const std::string* text, POINT pt)
        : files_(std::move(files)), hasText_(text != nullptr), text_(text ? *text : ""), pt_(pt) {}

    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (!out) return E_INVALIDARG;
        *out = iid == IID_IUnknown ? this : nullptr;
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    uint32_t AddRef() override { return ++refs_; }
    uint32_t Release() override {
        const uint32_t left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT QueryGetData(const FORMATETC* f) override {
        if (!f || !(f->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
        if (f->cfFormat == CF_HDROP && !hasText_) return S_OK;
        if (f->cfFormat == CF_TEXT && hasText_) return S_OK;
        return DV_E_FORMATETC;
    }
    HRESULT GetData(const FORMATETC* f, STGMEDIUM* medium) override {
        if (!medium || QueryGetData(f) != S_OK) return DV_E_FORMATETC;
        std::string bytes;
        if (f->cfFormat == CF_TEXT) {
            bytes = text_;
            bytes.push_back('\0');
        } else {
            DROPFILES head;
            head.pt = pt_;
            bytes.assign(reinterpret_cast<const char*>(&head), sizeof head);
            for (const auto& name : files_) {
                bytes += name;
                bytes.push_back('\0');
            }
            bytes.push_back('\0');
        }
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = GlobalAlloc(0, bytes.size());
        medium->pUnkForRelease = nullptr;
        std::memcpy(GlobalLock(medium->hGlobal), bytes.data(), bytes.size());
        GlobalUnlock(medium->hGlobal);
        return S_OK;
    }

private:
    ~DropData() = default;
    std::atomic<uint32_t> refs_{1};
    std::vector<std::string> files_;
    bool hasText_;
    std::string text_;
    POINT pt_;
};

struct GlobalBlock {
    std::vector<char> bytes;
};

}  // namespace

DWORD UserDrop(HWND hwnd, const std::vector<std::string>& files, const std::string* text, DWORD keys, POINT pt) {
    // The drop goes to the nearest window, up from hwnd, that registered a target.
    IDropTarget* target = nullptr;
    for (Window* w = Raw(hwnd); w && !target; w = w->parent) {
        if (!CanTakeInput(*w)) return DROPEFFECT_NONE;
        auto it = S().dropTargets.find(reinterpret_cast<uintptr_t>(w->handle));
        if (it != S().dropTargets.end()) target = it->second;
    }
    if (!target) return DROPEFFECT_NONE;
    target->AddRef();
    auto* data = new DropData(files, text, pt);
    RECT r{};
    GetWindowRect(hwnd, &r);
    const POINTL screen{r.left + pt.x, r.top + pt.y};
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    target->DragEnter(data, keys, screen, &effect);
    if (effect != DROPEFFECT_NONE) {
        effect = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
        target->DragOver(keys, screen, &effect);
    }
    if (effect != DROPEFFECT_NONE) {
        effect = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
        target->Drop(data, keys & ~(MK_LBUTTON | MK_RBUTTON), screen, &effect);  // the button is up now
    } else {
        target->DragLeave();
    }
    data->Release();
    target->Release();
    return effect;
}

void ForgetDropTarget(HWND hwnd) {
    auto& targets = S().dropTargets;
    auto it = targets.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == targets.end()) return;
    IDropTarget* t = it->second;
    targets.erase(it);
    t->Release();
    if (S().backend && IsWindow(hwnd)) S().backend->DropTarget(hwnd, false);
}

}  // namespace detail

using namespace detail;

BOOL GetOpenFileNameA(OPENFILENAMEA* ofn) {
    if (!OnUi()) return Marshal<BOOL>([&] { return GetOpenFileNameA(ofn); });
    return RunFileDialog(ofn, false);
}

BOOL GetSaveFileNameA(OPENFILENAMEA* ofn) {
    if (!OnUi()) return Marshal<BOOL>([&] { return GetSaveFileNameA(ofn); });
    return RunFileDialog(ofn, true);
}

DWORD CommDlgExtendedError() { return t_dialogError; }

void SetFileDialogResponder(FileDialogResponder responder) {
    if (!OnUi()) {
        RunOnUiThread([&] { SetFileDialogResponder(std::move(responder)); });
        return;
    }
    S().fileResponder = std::move(responder);
}

void SetFolderDialogResponder(FolderDialogResponder responder) {
    if (!OnUi()) {
        RunOnUiThread([&] { SetFolderDialogResponder(std::move(responder)); });
        return;
    }
    S().folderResponder = std::move(responder);
}

std::optional<std::string> BrowseForFolder(HWND owner, const std::string& title, const std::string& initialDir) {
    if (!OnUi()) {
        std::optional<std::string> out;
        RunOnUiThread([&] { out = BrowseForFolder(owner, title, initialDir); });
        return out;
    }
    FolderDialogResponder responder = S().folderResponder;
    if (!responder) {
        std::fprintf(stderr, "no display: folder dialog \"%s\" cancelled\n", title.c_str());
        return std::nullopt;
    }
    FileDialogRequest request;
    request.owner = owner;
    request.title = title;
    request.initialDir = initialDir;
    return responder(request);
}

BOOL Shell_NotifyIconA(DWORD message, const NOTIFYICONDATAA* data) {
    if (!OnUi()) return Marshal<BOOL>([&] { return Shell_NotifyIconA(message, data); });
    if (!data) return FALSE;
    State& s = S();
    auto it = std::find_if(s.tray.begin(), s.tray.end(),
                           [&](const TrayIcon& t) { return t.hwnd == data->hWnd && t.id == data->uID; });
    auto apply = [&](TrayIcon& t) {
        if (data->uFlags & NIF_MESSAGE) t.callback = data->uCallbackMessage;
        if (data->uFlags & NIF_ICON) t.icon = data->hIcon;
        if (data->uFlags & NIF_TIP) t.tip.assign(data->szTip, strnlen(data->szTip, sizeof data->szTip));
        if ((data->uFlags & NIF_INFO) && data->szInfo[0])
            t.balloons.push_back({std::string(data->szInfoTitle, strnlen(data->szInfoTitle, sizeof data->szInfoTitle)),
                                  std::string(data->szInfo, strnlen(data->szInfo, sizeof data->szInfo)),
                                  data->dwInfoFlags, data->uTimeout});
    };
    switch (message) {
    case NIM_ADD: {
        if (!s.trayAvailable || it != s.tray.end() || !IsWindow(data->hWnd)) return FALSE;
        TrayIcon t;
        t.hwnd = data->hWnd;
        t.id = data->uID;
        apply(t);
        if (s.backend && !s.backend->TrayAdd(t)) return FALSE;  // no tray on this desktop
        s.tray.push_back(std::move(t));
        return TRUE;
    }
    case NIM_MODIFY: {
        if (it == s.tray.end()) return FALSE;
        const size_t balloons = it->balloons.size();
        apply(*it);
        if (s.backend) s.backend->TrayChanged(*it, it->balloons.size() > balloons);
        return TRUE;
    }
    case NIM_DELETE:
        if (it == s.tray.end()) return FALSE;
        if (s.backend) s.backend->TrayRemoved(*it);
        s.tray.erase(it);
        return TRUE;
    default: return FALSE;
    }
}

HRESULT RegisterDragDrop(HWND hwnd, IDropTarget* target) {
    if (!OnUi()) return Marshal<HRESULT>([&] { return RegisterDragDrop(hwnd, target); });
    if (!target || !IsWindow(hwnd)) return E_INVALIDARG;
    auto& targets = S().dropTargets;
    if (targets.count(reinterpret_cast<uintptr_t>(hwnd))) return DRAGDROP_E_ALREADYREGISTERED;
    target->AddRef();
    targets[reinterpret_cast<uintptr_t>(hwnd)] = target;
    if (S().backend) S().backend->DropTarget(hwnd, true);
    return S_OK;
}

HRESULT RevokeDragDrop(HWND hwnd) {
    if (!OnUi()) return Marshal<HRESULT>([&] { return RevokeDragDrop(hwnd); });
    if (!S().dropTargets.count(reinterpret_cast<uintptr_t>(hwnd))) return DRAGDROP_E_NOTREGISTERED;
    ForgetDropTarget(hwnd);
    return S_OK;
}

HRESULT OleInitialize(void*) { return S_OK; }
void OleUninitialize() {}

HGLOBAL GlobalAlloc(UINT, size_t bytes) {
    auto* block = new GlobalBlock;
    block->bytes.assign(bytes, '\0');
    return block;
}

void* GlobalLock(HGLOBAL memory) { return memory ? static_cast<GlobalBlock*>(memory)->bytes.data() : nullptr; }
BOOL GlobalUnlock(HGLOBAL memory) { return memory ? TRUE : FALSE; }
size_t GlobalSize(HGLOBAL memory) { return memory ? static_cast<GlobalBlock*>(memory)->bytes.size() : 0; }

HGLOBAL GlobalFree(HGLOBAL memory) {
    delete static_cast<GlobalBlock*>(memory);
    return nullptr;
}

void ReleaseStgMedium(STGMEDIUM* medium) {
    if (!medium) return;
    if (medium->tymed == TYMED_HGLOBAL && medium->hGlobal) GlobalFree(medium->hGlobal);
    medium->hGlobal = nullptr;
    medium->tymed = 0;
}

UINT DragQueryFileA(HDROP drop, UINT index, LPSTR buffer, UINT size) {
    if (!drop) return 0;
    const auto& bytes = static_cast<GlobalBlock*>(drop)->bytes;
    if (bytes.size() < sizeof(DROPFILES)) return 0;
    DROPFILES head;
    std::memcpy(&head, bytes.data(), sizeof head);
    if (head.fWide || head.pFiles > bytes.size()) return 0;
    // Names up to the empty one, never past the block's end.
    std::vector<std::string> names;
    for (size_t p = head.pFiles; p < bytes.size() && bytes[p] != '\0';) {
        const size_t end = std::find(bytes.begin() + static_cast<long>(p), bytes.end(), '\0') - bytes.begin();
        names.emplace_back(bytes.data() + p, end - p);
        p = end + 1;
    }
    if (index == 0xFFFFFFFFu) return static_cast<UINT>(names.size());
    if (index >= names.size()) return 0;
    if (!buffer) return static_cast<UINT>(names[index].size());
    return size ? static_cast<UINT>(CopyText(names[index], buffer, size)) : 0;
}

}  // namespace gui

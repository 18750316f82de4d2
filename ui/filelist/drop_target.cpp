#include "ui/filelist/drop_target.h"

#include <cstring>

using namespace gui;

namespace {

bool Offers(IDataObject* data, WORD format) {
    FORMATETC f;
    f.cfFormat = format;
    f.dwAspect = DVASPECT_CONTENT;
    f.tymed = TYMED_HGLOBAL;
    return data && data->QueryGetData(&f) == S_OK;
}

}  // namespace

DWORD ChooseDropEffect(DWORD keys, DWORD allowed) {
    const DWORD first = (keys & MK_CONTROL) ? DROPEFFECT_COPY : DROPEFFECT_MOVE;
    const DWORD second = first == DROPEFFECT_COPY ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
    if (allowed & first) return first;
    if (allowed & second) return second;
    return DROPEFFECT_NONE;
}

std::vector<std::string> DroppedFiles(HDROP files) {
    std::vector<std::string> out;
    const UINT count = DragQueryFileA(files, 0xFFFFFFFFu, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::string name(DragQueryFileA(files, i, nullptr, 0) + 1, '\0');
        name.resize(DragQueryFileA(files, i, name.data(), static_cast<UINT>(name.size())));
        out.push_back(std::move(name));
    }
    return out;
}

CDropTarget& CDropTarget::Instance() {
    static CDropTarget target;
    return target;
}

void CDropTarget::SetCallbacks(TextCallback text, FilesCallback files) {
    text_ = std::move(text);
    files_ = std::move(files);
}

HRESULT CDropTarget::QueryInterface(const IID& iid, void** out) {
    if (!out) return E_INVALIDARG;
    if (iid == IID_IUnknown || iid == IID_IDropTarget) {
        *out = static_cast<IDropTarget*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

uint32_t CDropTarget::AddRef() { return ++refs_; }

uint32_t CDropTarget::Release() { return --refs_; }

void CDropTarget::MoveCaret(POINTL pt) {
    if (!window_) return;
    SetFocus(window_);
    const LPARAM at = MAKELPARAM(pt.x, pt.y);
    const LRESULT position = SendMessageA(window_, EM_CHARFROMPOS, 0, at);
    SendMessageA(window_, EM_SETSEL, LOWORD(position), LOWORD(position));
}

HRESULT CDropTarget::DragEnter(IDataObject* data, DWORD keys, POINTL pt, DWORD* effect) {
    accept_ = Offers(data, CF_HDROP) || Offers(data, CF_TEXT);
    return DragOver(keys, pt, effect);
}

HRESULT CDropTarget::DragOver(DWORD keys, POINTL pt, DWORD* effect) {
    if (!effect) return E_INVALIDARG;
    if (!accept_) {
        *effect = DROPEFFECT_NONE;
        return S_OK;
    }
    *effect = ChooseDropEffect(keys, *effect);
    MoveCaret(pt);
    return S_OK;
}

HRESULT CDropTarget::DragLeave() { return S_OK; }

HRESULT CDropTarget::Drop(IDataObject* data, DWORD keys, POINTL pt, DWORD* effect) {
    if (!effect) return E_INVALIDARG;
    MoveCaret(pt);
    if (!accept_ || !data) {
        *effect = DROPEFFECT_NONE;
        return S_OK;
    }
    FORMATETC format;
    STGMEDIUM medium;
    format.cfFormat = Offers(data, CF_HDROP) ? CF_HDROP : CF_TEXT;
    if (data->GetData(&format, &medium) == S_OK && medium.hGlobal) {
        if (void* block = GlobalLock(medium.hGlobal)) {
            if (format.cfFormat == CF_HDROP) {
                if (files_) files_(medium.hGlobal);
            } else if (text_) {
                // The text ends at its NUL or at the block's end, whichever comes first.
                const auto* bytes = static_cast<const char*>(block);
                const std::string text(bytes, strnlen(bytes, GlobalSize(medium.hGlobal)));
                text_(text.c_str());
            }
            GlobalUnlock(medium.hGlobal);
        }
        ReleaseStgMedium(&medium);
    }
    *effect = ChooseDropEffect(keys, *effect);
    return S_OK;
}

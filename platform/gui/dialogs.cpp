// Dialogs made from templates, the modal loop around them, EndDialog, and message boxes.
#include <algorithm>
#include <cstdio>

#include "platform/gui/internal.h"

namespace gui {
namespace detail {

namespace {

std::mutex g_providerLock;

void Fail(const std::string& text) {
    S().lastTemplateError = text;
    std::fprintf(stderr, "dialog: %s\n", text.c_str());
}

bool IsColorMessage(UINT msg) { return msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC; }

// The first control that would take the focus once the dialog shows.
Window* FirstTabStopOf(Window* w) {
    for (Window* c : w->children) {
        if ((c->style & WS_TABSTOP) && (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED)) return c;
        if (Window* d = FirstTabStopOf(c)) return d;
    }
    return nullptr;
}

}  // namespace

void SetTemplateError(const std::string& text) { Fail(text); }

HWND CreateDialogFromTemplate(HINSTANCE instance, const std::shared_ptr<const DialogTemplate>& t, HWND parent,
                              DLGPROC proc, LPARAM param, bool modal) {
    State& s = S();
    s.lastTemplateError.clear();
    const int id = t->id;
    std::string problem = CheckDialogTemplate(*t);
    for (const auto& c : t->controls) {
        if (problem.empty() && !FindClass(instance, c.className))
            problem = "dialog " + std::to_string(id) + ": control " + std::to_string(c.id) + " has the unknown class \"" +
                      c.className + "\"";
    }
    if (!problem.empty()) {
        Fail(problem);
        return nullptr;
    }
    const int bx = s.options.baseUnitX, by = s.options.baseUnitY;
    auto px = [&](int v) { return v * bx / 4; };
    auto py = [&](int v) { return v * by / 8; };
    const bool child = (t->style & WS_CHILD) != 0;
    int x = px(t->x), y = py(t->y);
    HWND h = CreateWindowInternal(t->exStyle, FindClass(nullptr, kDialogClass), t->caption.c_str(), t->style & ~WS_VISIBLE,
                                  x, y, px(t->w), py(t->h), parent, nullptr, instance, nullptr, false);
    if (!h) {
        Fail("dialog " + std::to_string(id) + ": the parent window is gone");
        return nullptr;
    }
    WindowPtr w = Lookup(h);
    w->isDialog = true;
    w->dlgProc = proc;
    w->templateId = id;
    w->modal = modal;
    if (t->menuId && !child) {
        w->menu = LoadMenuA(instance, MAKEINTRESOURCEA(t->menuId));
        if (!w->menu) {
            Fail("dialog " + std::to_string(id) + ": no menu " + std::to_string(t->menuId));
            DestroyWindow(h);
            return nullptr;
        }
    }
    if (!child) {
        // The template gives the client size: add the frame, and centre when asked.
        RECT c;
        GetClientRect(h, &c);
        int fw = px(t->w) - c.right, fh = py(t->h) - c.bottom;
        int width = px(t->w) + fw, height = py(t->h) + fh;
        if (t->style & DS_CENTER) {
            const RECT& a = s.options.workArea;
            x = a.left + std::max(0, (a.right - a.left - width) / 2);
            y = a.top + std::max(0, (a.bottom - a.top - height) / 2);
        }
        w->rect = w->normalRect = RECT{x, y, x + width, y + height};
    }
    for (const auto& c : t->controls) {
        DWORD style = c.style | WS_CHILD | (c.hidden ? DWORD{0} : DWORD{WS_VISIBLE});
        HMENU idAsMenu = reinterpret_cast<HMENU>(static_cast<intptr_t>(c.id == kAnonymousControlId ? 0xFFFF : c.id));
        HWND ch = CreateWindowInternal(c.exStyle, FindClass(instance, c.className), c.caption.c_str(), style, px(c.x),
                                       py(c.y), px(c.w), py(c.h), h, idAsMenu, instance, nullptr, true);
        if (!ch) {
            Fail("dialog " + std::to_string(id) + ": control " + std::to_string(c.id) + " could not be created");
            DestroyWindow(h);
            return nullptr;
        }
    }
    MINMAXINFO mmi;
    SendMessageA(h, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
    Window* first = w->alive ? FirstTabStopOf(w.get()) : nullptr;
    LRESULT focusFirst = SendMessageA(h, WM_INITDIALOG, reinterpret_cast<WPARAM>(first ? first->handle : nullptr), param);
    if (!w->alive) return nullptr;
    if (focusFirst) {
        if (Window* f = FirstTabStopOf(w.get())) {
            if (w->style & WS_VISIBLE) SetFocus(f->handle);
            else w->lastFocus = f->handle;  // taken when the dialog is shown
        }
    }
    if (!modal && (t->style & WS_VISIBLE) && w->alive && !w->ended) ShowWindow(h, SW_SHOW);
    return w->alive ? h : nullptr;
}

namespace {

HWND CreateFromTemplate(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC proc, LPARAM param,
                        bool modal) {
    S().lastTemplateError.clear();
    if (!templateName || !IS_INTRESOURCE(templateName)) {
        Fail("dialog templates are addressed by number");
        return nullptr;
    }
    const int id = static_cast<int>(reinterpret_cast<uintptr_t>(templateName));
    auto provider = GetResourceProvider();
    auto t = provider ? provider->FindDialog(instance, id) : nullptr;
    if (!t) {
        Fail("no dialog template " + std::to_string(id));
        return nullptr;
    }
    return CreateDialogFromTemplate(instance, t, parent, proc, param, modal);
}

}  // namespace

LRESULT DialogClassProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    WindowPtr w = Lookup(h);
    if (!w) return 0;
    DLGPROC proc = w->dlgProc;
    w->msgResult = 0;  // a handled message answers what its own handling stored, never an older value
    INT_PTR handled = proc ? proc(h, msg, wp, lp) : 0;
    if (handled) {
        // These answer with the procedure's own value; the rest with DWLP_MSGRESULT.
        if (msg == WM_INITDIALOG || IsColorMessage(msg)) return handled;
        return w->alive ? w->msgResult : 0;
    }
    switch (msg) {
    case WM_CLOSE: return 0;  // a dialog closes through its procedure, never by default
    case WM_INITDIALOG: return 0;
    default: return DefWindowProcA(h, msg, wp, lp);
    }
}

}  // namespace detail

using namespace detail;

void SetResourceProvider(std::shared_ptr<ResourceProvider> provider) {
    std::lock_guard lk(g_providerLock);
    S().resources = std::move(provider);
}

std::shared_ptr<ResourceProvider> GetResourceProvider() {
    std::lock_guard lk(g_providerLock);
    return S().resources;
}

HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC proc, LPARAM param) {
    if (!OnUi()) return Marshal<HWND>([&] { return CreateDialogParamA(instance, templateName, parent, proc, param); });
    return CreateFromTemplate(instance, templateName, parent, proc, param, false);
}

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM param) {
    if (!OnUi()) return Marshal<INT_PTR>([&] { return DialogBoxParamA(instance, templateName, owner, proc, param); });
    State& s = S();
    Window* ownerTop = RootOf(Raw(owner));
    HWND ownerH = ownerTop ? ownerTop->handle : nullptr;
    HWND h = CreateFromTemplate(instance, templateName, ownerH, proc, param, true);
    if (!h) return -1;
    WindowPtr w = Lookup(h);
    bool reenable = false;
    if (ownerH && IsWindowEnabled(ownerH)) {
        EnableWindow(ownerH, FALSE);
        reenable = true;
    }
    if (w->alive && !w->ended) ShowWindow(h, SW_SHOW);
    s.modalStack.push_back(h);
    const bool noQuit = RunModalLoop([&] { return !w->alive || w->ended; });
    auto it = std::find(s.modalStack.rbegin(), s.modalStack.rend(), h);
    if (it != s.modalStack.rend()) s.modalStack.erase(std::next(it).base());
    const INT_PTR result = noQuit ? w->result : 0;  // a quit answers 0, the safe No/Cancel
    if (reenable && IsWindow(ownerH)) EnableWindow(ownerH, TRUE);
    if (w->alive) DestroyWindow(h);
    if (Window* o = Raw(ownerH)) Activate(o);
    return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    if (!OnUi()) return Marshal<BOOL>([&] { return EndDialog(dialog, result); });
    WindowPtr w = Lookup(dialog);
    if (!w || !w->isDialog) return FALSE;
    w->result = result;
    if (w->ended) return TRUE;
    w->ended = true;
    if (w->modal) {
        WakeUi();
        return TRUE;
    }
    // A modeless dialog is hidden now and destroyed once back in a message loop, so the procedure
    // that ended it finishes on a live handle.
    ShowWindow(dialog, SW_HIDE);
    S().pendingDestroy.push_back(dialog);
    WakeUi();
    return TRUE;
}

int SafeMessageBoxAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OK: return IDOK;
    case MB_YESNO: return IDNO;
    default: return IDCANCEL;
    }
}

void SetMessageBoxResponder(MessageBoxResponder responder) {
    if (!OnUi()) {
        RunOnUiThread([&] { SetMessageBoxResponder(std::move(responder)); });
        return;
    }
    S().boxResponder = std::move(responder);
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (!OnUi() && Running()) return Marshal<int>([&] { return MessageBoxA(owner, text, caption, type); });
    const std::string t = text ? text : "", c = caption ? caption : "";
    if (OnUi()) {
        if (auto responder = S().boxResponder) return responder(owner, t, c, type);
    }
    std::fprintf(stderr, "[%s] %s\n", c.c_str(), t.c_str());
    return SafeMessageBoxAnswer(type);
}

}  // namespace gui

#include "ui/dialogs/urldialog.h"
#include "ui/ids.h"

namespace ui {
namespace {
constexpr size_t kMaxText = 512;
}  // namespace

bool CDlgUrl::OnInitDialog() {
    if (windowTitle_) SetText(windowTitle_);
    SetItemText(dlg::url::prompt, prompt_ ? prompt_ : "");
    SetItemText(dlg::url::address, text.c_str());
    return true;
}

bool CDlgUrl::OnCommand(int id, int, HWND) {
    // Cancel closes without taking the text (left unhandled, the button would do nothing).
    if (id == 2) {
        gui::PostMessageA(hwnd_, gui::WM_CLOSE, 0, 0);
        return true;
    }
    if (id != 1) return false;
    std::string entered = GetItemText(dlg::url::address);
    if (entered.size() > kMaxText - 1) entered.resize(kMaxText - 1);
    text = entered;
    gui::PostMessageA(hwnd_, gui::WM_CLOSE, 0, 0);
    return true;
}

std::optional<std::string> ShowUrlDialog(HWND parent, const char* title, const char* prompt) {
    CDlgUrl dialog(title, prompt);
    dialog.DoModal(nullptr, dlg::url::id, parent);
    if (dialog.text.empty()) return std::nullopt;
    return dialog.text;
}

}  // namespace ui

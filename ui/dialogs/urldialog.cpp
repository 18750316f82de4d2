#include "ui/dialogs/urldialog.h"

namespace ui {
namespace {
enum : int { kEdit = 1090, kPrompt = 1271 };
constexpr size_t kMaxText = 512;
}  // namespace

bool CDlgUrl::OnInitDialog() {
    if (windowTitle_) SetText(windowTitle_);
    SetItemText(kPrompt, prompt_ ? prompt_ : "");
    SetItemText(kEdit, text.c_str());
    return true;
}

bool CDlgUrl::OnCommand(int id, int, HWND) {
    // Cancel closes without taking the text (left unhandled, the button would do nothing).
    if (id == 2) {
        gui::PostMessageA(hwnd_, gui::WM_CLOSE, 0, 0);
        return true;
    }
    if (id != 1) return false;
    std::string entered = GetItemText(kEdit);
    if (entered.size() > kMaxText - 1) entered.resize(kMaxText - 1);
    text = entered;
    gui::PostMessageA(hwnd_, gui::WM_CLOSE, 0, 0);
    return true;
}

std::optional<std::string> ShowUrlDialog(HWND parent, const char* title, const char* prompt) {
    CDlgUrl dialog(title, prompt);
    dialog.DoModal(nullptr, kUrlTemplate, parent);
    if (dialog.text.empty()) return std::nullopt;
    return dialog.text;
}

}  // namespace ui

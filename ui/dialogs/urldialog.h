// The text entry dialog: asks for one line of text (an address, a name) with a title and a prompt.
#pragma once

#include <optional>
#include <string>

#include "ui/framework/dialog.h"
#include "ui/ids.h"

namespace ui {

class CDlgUrl : public CDialogWindow {
public:
    CDlgUrl(const char* title, const char* prompt) : windowTitle_(title), prompt_(prompt) {}

    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;

    std::string text;

private:
    const char* windowTitle_;
    const char* prompt_;
};

// Modal: the text entered, or none when nothing was.
std::optional<std::string> ShowUrlDialog(HWND parent, const char* title, const char* prompt);

}  // namespace ui

// The drop target of the main window: it takes dropped file lists and dropped text and hands
// them to the shell's two callbacks, which add them. One object serves the process; the shell
// registers it on the main window and sets the callbacks.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/gui/gui.h"

class CDropTarget final : public gui::IDropTarget {
public:
    // A dropped text (zero-terminated).
    using TextCallback = std::function<void(const char* text)>;
    // A dropped file list: the DROPFILES block (read it with gui::DragQueryFileA or DroppedFiles).
    using FilesCallback = std::function<void(gui::HDROP files)>;

    static CDropTarget& Instance();

    void SetWindow(gui::HWND window) { window_ = window; }
    void SetCallbacks(TextCallback text, FilesCallback files);

    gui::HRESULT QueryInterface(const gui::IID& iid, void** out) override;
    uint32_t AddRef() override;
    // The new count; the object itself is never freed.
    uint32_t Release() override;
    gui::HRESULT DragEnter(gui::IDataObject* data, gui::DWORD keys, gui::POINTL pt, gui::DWORD* effect) override;
    gui::HRESULT DragOver(gui::DWORD keys, gui::POINTL pt, gui::DWORD* effect) override;
    gui::HRESULT DragLeave() override;
    gui::HRESULT Drop(gui::IDataObject* data, gui::DWORD keys, gui::POINTL pt, gui::DWORD* effect) override;

private:
    CDropTarget() = default;
    void MoveCaret(gui::POINTL pt);

    std::atomic<uint32_t> refs_{1};
    gui::HWND window_ = nullptr;
    bool accept_ = false;
    TextCallback text_;
    FilesCallback files_;
};

// The effect of a drop with these keys (MK_CONTROL, MK_SHIFT) among the allowed effects: with
// Control a copy, with Shift a move, else a move; the other one when that is not allowed, none
// when neither is.
gui::DWORD ChooseDropEffect(gui::DWORD keys, gui::DWORD allowed);

// The names of a DROPFILES block, in order.
std::vector<std::string> DroppedFiles(gui::HDROP files);

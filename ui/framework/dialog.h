// Dialogs whose controls are bound to preference keys. Each dialog class has one static table of
// ControlBinding rows; opening the dialog prepares the controls from the keys' definitions, every
// user change is written straight into the preference store, and the page is shown again.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "ui/framework/window.h"

namespace ui {

enum ControlKind : uint32_t {
    kTextField = 0,
    kComboBox = 1,
    kPushButton = 2,
    kCheckBox = 3,
    kRadioButton = 4,
    kTrackbar = 5,
};

struct ControlBinding {
    uint32_t id;       // the dialog item; 0 ends the table
    const char* key;   // dotted preference key; rows without one are ignored
    uint32_t value;    // radio: the value it stands for; text on a float key: decimals; combo: 1 = list only
    uint32_t kind;     // ControlKind, set from the control's class when the dialog opens
};

// A request for the main window's timer to apply changed settings: the level (1 settings, 2 a
// preset loaded or the batch ended, 3 a job started or the format changed; 0 nothing pending) and
// the ticks still to wait.
extern std::atomic<int> SettingsChangedLevel;
extern std::atomic<int> ApplyCountdown;
// The user-interface mode read at start-up ("overall.ui.mode"); in mode 2 every refill of a page
// requests an apply.
extern std::atomic<int> UiModeAtStart;

// The range of a key as the preference tree gives it (an enum: 0 .. count - 1); false for a key
// the tree does not define.
bool KeyRange(const char* key, int& lo, int& hi);

class CDialogWindow : public CWindow {
public:
    CDialogWindow();

    bool OnInit() override;
    bool OnScroll(int id, int code) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnSelChange(int id, int code, HWND control) override;
    bool OnEditChange(int id, int code, HWND control) override;

    virtual void RefreshStates() {}
    virtual bool FillsHost() { return false; }
    virtual const char* GetTitle() { return title_; }
    virtual ControlBinding* GetBindings();
    virtual bool OnControlCommand(int) { return false; }
    virtual bool OnControlSelChange(int) { return false; }
    virtual bool OnControlEditChange(int) { return false; }
    virtual bool OnInitDialog() { return true; }
    virtual bool OnControlScroll(int, int) { return false; }

    void BindControls();
    void LoadControls();
    // Captions and menu texts of the window (this dialog when null) and its children.
    void TranslateControls(HWND window);

    // Adds the option texts of an enumeration key to a combo box; the count added.
    static int FillEnumCombo(const char* key, HWND combo);
    // Fills a combo box with the parts of a list text, each followed by " Hz", and selects entry 0.
    void FillSampleRateCombo(int comboId, const char* list);

protected:
    uint64_t spare_ = 0;
    int loading_ = 0;
    const char* title_ = "";

private:
    ControlBinding* FindRow(int id);
};

}  // namespace ui

// The options pane of the main window: the row of option tabs, the shown tab, and for the audio
// and tasking tabs their nested row (the encoder tabs) with its shown page. The main window creates it
// once, applies changed settings through it and closes it with itself.
#pragma once

#include <memory>

#include "ui/ids.h"
#include "ui/options/option_tab.h"

namespace ui {

class COptionsPane : public CDialogWindow {
public:
    ~COptionsPane() override;

    // Creates the pane in the main window (which places it) and shows tab 0. Null on failure.
    HWND Attach(CWindow* mainWindow);

    bool OnInitDialog() override;
    bool OnNotify(gui::NMHDR* hdr) override;
    // The tab row fills the pane; the shown page keeps its own height at its top and the nested
    // row takes the rest below it.
    bool OnSize(int width, int height) override;

    // Hides the shown tab and shows tab index (0 to 5) with its nested row when it has one.
    void ShowOptionTab(int index);
    // Shows the nested row's page of index (the tab's own rule decides what that index means).
    void ShowSubPage(int index);
    // Settings changed (level 1 to 3): the shown tab and the shown nested page show the store's
    // values again; level 3 also rebuilds the nested row (a new encoder, a new format).
    void Apply(int level);

    COptionTab* Tab() const { return tab_.get(); }
    COptionPage* SubPage() const { return subPage_.get(); }
    int TabIndex() const { return tabIndex_; }

private:
    void LayOutPages();
    void DropSubPage();

    std::unique_ptr<COptionTab> tab_;
    std::unique_ptr<COptionPage> subPage_;
    int tabIndex_ = -1;
    int pageHeight_ = 0;  // the shown tab's own height, from its template
};

// The main window's pane: created by it, null before and after.
COptionsPane* OptionsPane();
HWND CreateOptionsPane(CWindow* mainWindow);
void ApplyOptionsPane(int level);
void DestroyOptionsPane();

}  // namespace ui

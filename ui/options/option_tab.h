// The pages of the main window's settings area: option tabs and encoder pages. Every page is a
// child dialog whose controls are bound to preference keys; each page object keeps its own copy
// of its class's binding table, so that re-binding a row (a slider moved to another key, a combo
// found to be a list) on one open page never changes another page of the same class.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/gui/gui.h"
#include "platform/gui/views.h"
#include "ui/framework/dialog.h"

struct QueueItem;

namespace ui {

// A page built from a dialog template, with a title and its own binding rows.
class COptionPage : public CDialogWindow {
public:
    // The title is the text given, or, when translated is set, the user-interface text of that key.
    COptionPage(int templateId, const char* title, bool translated, const ControlBinding* table);

    int TemplateId() const { return templateId_; }
    const char* GetTitle() override { return titleText_.c_str(); }
    ControlBinding* GetBindings() override { return rows_.data(); }
    // Creates the page's window as a child of parent; null on failure.
    HWND CreatePage(HWND parent);

protected:
    ControlBinding* Row(int id);
    // Gives the row of control id another key (the next bind and load use it).
    void SetRowKey(int id, const char* key);

    int templateId_;
    std::string titleText_;
    std::vector<ControlBinding> rows_;
};

// An option tab: a page that may host a second row of tabs of its own.
class COptionTab : public COptionPage {
public:
    using COptionPage::COptionPage;
    // The page for a tab of the nested row (index below 0 builds the row in tabControl and gives
    // its first page), or null when the tab has no nested row.
    virtual COptionPage* CreateSubPage(int /*index*/, HWND /*tabControl*/) { return nullptr; }
};

// The tabs by index: 0 audio, 1 sound, 2 tasking, 3 automation, 4 tagging, 5 time; null above.
COptionTab* CreateOptionTab(int index);
// The tasking tab's nested row by n: 2 tagging, 3 plug-ins, any other automation.
COptionTab* CreateOutputSubTab(int n);

// --- helpers the pages share ---

// The item whose details the tabs show: the file list's current item; when none is set, row 0
// is selected and the first queue item taken. Null with an empty queue.
QueueItem* OptionsCurrentItem();
// Whether an item is being transcoded or paused (its fields are in use by a worker).
bool ItemBusy(const QueueItem* item);
// Asks the main window to apply the changed settings.
void AnnounceChange(int level, int countdown);
// Splits a list text at '|' when it holds one, else at ';', ',' or ':' (the first found).
std::vector<std::string> SplitListText(const std::string& text);
// Empties a combo box and adds the pieces of a list text, or the translated texts of the keys.
void FillCombo(HWND combo, const std::vector<std::string>& items);
// Whether an encoder (by id) can produce a format (an option text of "overall.audio.format").
bool EncoderSupportsFormat(int encoderId, const char* format);
// Adds a tab to a tab control at a position.
void InsertTab(HWND tabControl, int at, const std::string& text);
// Adds a node to a tree view (with item data); the new node.
gui::HTREEITEM InsertTreeItem(HWND tree, gui::HTREEITEM parent, const char* text, LPARAM data = 0);
// Shows or hides a control.
void ShowControl(HWND control, bool shown);
// Stores an integer only when it lies within the key's range; false when it does not.
bool SetIntInRange(const char* key, long long value);
bool SetFloatInRange(const char* key, double value);
// A whole decimal number at the start of a text (a unit may follow); false when none.
bool LeadingNumber(const std::string& text, long long& out);

// Opens the settings page of a key prefix (empty: all settings) in the browser window, with a
// title and a size. The opener is installed by whoever hosts the browser; none: nothing opens.
using SettingsPageOpener = std::function<void(const std::string& url, const std::string& title, int w, int h)>;
void SetSettingsPageOpener(SettingsPageOpener opener);
void OpenSettingsPage(const char* keyPrefix, const char* title, int width, int height);

}  // namespace ui

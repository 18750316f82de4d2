// What the basic controls keep: shared by their procedures and the display back-end's widgets.
#pragma once

#include <string>
#include <vector>

#include "platform/gui/internal.h"

namespace gui::detail {

struct ButtonModel : ControlModel {
    int check = BST_UNCHECKED;
    bool pushed = false;
    LPARAM image = 0;
    WPARAM imageType = IMAGE_BITMAP;
};

struct EditModel : ControlModel {
    int selStart = 0;
    int selEnd = 0;
};

struct ComboModel : ControlModel {
    std::vector<std::string> items;
    int index = -1;
    std::string edit;  // the edit part of an editable combo
};

struct ListModel : ControlModel {
    std::vector<std::string> items;
    std::vector<bool> selected;  // multiple-selection lists
    int index = -1;              // single-selection lists
    int caret = 0;
    int anchor = 0;
};

struct TrackModel : ControlModel {
    int min = 0;
    int max = 100;
    int pos = 0;
    int page = 20;
    int line = 1;
};

struct ProgressModel : ControlModel {
    int min = 0;
    int max = 100;
    int pos = 0;
};

}  // namespace gui::detail

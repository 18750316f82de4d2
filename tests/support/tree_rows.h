// The top-level nodes of a tree view in order, and a text's lines (as TreeViewDump gives them).
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "platform/gui/gui.h"

namespace sqtest {

inline std::vector<gui::HTREEITEM> TreeRows(gui::HWND tree) {
    std::vector<gui::HTREEITEM> out;
    auto h = reinterpret_cast<gui::HTREEITEM>(gui::SendMessageA(tree, gui::TVM_GETNEXTITEM, gui::TVGN_ROOT, 0));
    while (h) {
        out.push_back(h);
        h = reinterpret_cast<gui::HTREEITEM>(
            gui::SendMessageA(tree, gui::TVM_GETNEXTITEM, gui::TVGN_NEXT, reinterpret_cast<gui::LPARAM>(h)));
    }
    return out;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

}  // namespace sqtest

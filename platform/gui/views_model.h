// What the view controls keep: shared by their procedures and the driver's reads.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/gui/internal.h"

namespace gui::detail {

inline constexpr int kListRowHeight = 17;
inline constexpr int kListHeaderHeight = 20;
inline constexpr int kTabStripHeight = 21;
inline constexpr int kTabBorder = 3;

struct ListColumn {
    std::string text;
    int width = 0;
};

struct ListRow {
    std::vector<std::string> cells;
    LPARAM param = 0;
    int image = 0;
    bool selected = false;
    bool focused = false;
    UINT stateImage = 1;  // check boxes: 1 unchecked, 2 checked
};

struct ListViewModel : ControlModel {
    std::vector<ListColumn> columns;
    std::vector<ListRow> rows;
    DWORD exStyle = 0;
    int scrollY = 0;  // pixels
    int anchor = 0;   // where a Shift range starts
};

struct TreeNode {
    HTREEITEM handle = nullptr;
    TreeNode* parent = nullptr;
    std::string text;
    LPARAM param = 0;
    int image = 0;
    bool expanded = false;
    std::vector<std::unique_ptr<TreeNode>> children;
};

struct TreeViewModel : ControlModel {
    TreeNode root;  // holds the top-level nodes; its own handle is null
    HTREEITEM selected = nullptr;
};

struct TabItem {
    std::string text;
    LPARAM param = 0;
};

struct TabModel : ControlModel {
    std::vector<TabItem> items;
    int index = -1;
};

struct StatusBarModel : ControlModel {
    std::vector<int> edges{-1};
    std::vector<std::string> texts{""};
};

struct Tool {
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    UINT flags = 0;
    RECT rect;
    std::string text;
};

struct TooltipsModel : ControlModel {
    std::vector<Tool> tools;
    int initial = 500;
    int autopop = 5000;
    int reshow = 100;
    int maxWidth = -1;
    bool active = true;
};

}  // namespace gui::detail

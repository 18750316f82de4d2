// What the GTK back-end keeps per window, shared by its start-up and its widget code.
#pragma once

#include <string>
#include <vector>

#include "platform/gui/gtk/gtk_backend.h"

namespace gui::gtk::detail {

using gui::detail::Window;

struct GtkPeer : gui::detail::Peer {
    HWND handle = nullptr;
    GtkWidget* outer = nullptr;    // placed in the parent's container; a GtkWindow for top-levels
    GtkWidget* control = nullptr;  // the widget users act on
    GtkWidget* container = nullptr;  // where children go (GtkFixed)
    GtkWidget* menuBar = nullptr;
    GtkWidget* noneRadio = nullptr;  // radio buttons: the hidden member that is active when unchecked
    GtkListStore* list = nullptr;    // list boxes and list views
    GtkTreeStore* tree = nullptr;    // tree views
    std::vector<GtkWidget*> parts;   // status bar texts
    std::vector<int> dragged;        // trackbar positions of a drag in progress
    HMENU shownMenu = nullptr;
    std::string shownMenuDump;  // the menu bar's items as last built
    bool menuOpen = false;      // a menu of the bar is open: it is rebuilt once closed
    int suppress = 0;  // raised while the widgets are set from the model: their signals are ours
    bool top = false;
    bool placed = false;  // top-levels: the rectangle last given to the display
    RECT placedRect{};

    ~GtkPeer() override;
};

// Raises a peer's suppress counter for a scope.
struct Suppress {
    explicit Suppress(GtkPeer& p) : peer(p) { ++peer.suppress; }
    ~Suppress() { --peer.suppress; }
    GtkPeer& peer;
};

GtkPeer* PeerOf(Window* w);
GtkPeer* PeerOf(HWND h);
// Makes the widgets of a new window and places them in its parent's container.
void CreateWidgets(Window& w);
// Sets the widgets from the model, without echo.
void SyncWidgets(Window& w);
// A GtkMenu (or menu bar items into shell) for a menu of the model; activate posts nothing:
// chosen receives the id.
void FillMenu(GtkMenuShell* shell, HMENU menu, UINT* chosen, HWND owner);
// Brings the check marks and greyed states of built menu items up to the model's, in place (an
// open menu stays open).
void RefreshMenu(GtkMenuShell* shell, HMENU menu);
HWND HandleOfWidget(GtkWidget* widget);
// Tray icons and drops (the desktop side).
bool AddTrayIcon(const gui::detail::TrayIcon& t);
void UpdateTrayIcon(const gui::detail::TrayIcon& t, bool newBalloon);
void RemoveTrayIcon(const gui::detail::TrayIcon& t);
void ClearTrayIcons();
void SetDropTarget(HWND hwnd, bool on);

}  // namespace gui::gtk::detail

// The GTK 3 back-end: real windows on an X11 display for the layer's model. Everything here runs on
// the UI thread.
#pragma once

#include <string>
#include <vector>

// The layer's names first: GLib defines TRUE and FALSE as macros.
#include "platform/gui/internal.h"

#include <gtk/gtk.h>

namespace gui::gtk {

// The widget that shows a window (a GtkWindow for top-levels), or null.
GtkWidget* WidgetOf(HWND hwnd);
// The control widget itself (the entry, button, scale, tree view ...), or null.
GtkWidget* ControlOf(HWND hwnd);
// The container a window's children are placed in, or null.
GtkWidget* ContainerOf(HWND hwnd);
// Brings every widget up to date and handles the display's pending events.
void Settle();
// Whether the GTK back-end is the one running.
bool Active();

namespace detail {

// Maps a GDK key value to a virtual key (0: not one the program knows).
UINT VirtualKeyOf(guint keyval);
// "&x" mnemonics become "_x", and a literal '_' is doubled.
std::string MnemonicText(const std::string& text);
// The local file names of a dropped URI list (others are skipped).
std::vector<std::string> FilesOfUris(const gchar* const* uris);

}  // namespace detail

}  // namespace gui::gtk

// The GTK back-end's web view (WebKitGTK).
#pragma once

#include <memory>

#include "platform/gui/gtk/gtk_backend.h"
#include "platform/gui/webview.h"

namespace gui::gtk::detail {

// A web view in the window's child container, sized to its client area; null without one.
std::unique_ptr<WebView> MakeWebView(HWND hwnd, WebViewOptions options);

}  // namespace gui::gtk::detail

// A web view filling a window's client area, on the display back-ends that have one. The headless
// layer has none: CreateWebView answers null there, and callers open pages some other way.
// UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/gui/gui.h"

namespace gui {

class WebView {
public:
    virtual ~WebView() = default;
    // Starts loading the address; false when it was not started.
    virtual bool Navigate(const std::string& address) = 0;
    // The view's size in pixels (it sits at the client area's top-left corner).
    virtual void Resize(int width, int height) = 0;
    // The address shown or being loaded ("" before the first).
    virtual std::string Address() const = 0;
    virtual bool Loading() const = 0;
};

struct WebViewOptions {
    // Asked before the view follows a link, a redirect or a page's request for a new window; an
    // address it refuses is not loaded (null: every address is followed in the view).
    std::function<bool(const std::string& address)> allow;
    // Receives each refused address.
    std::function<void(const std::string& address)> refused;
};

// Whether this display can host a web view at all.
bool WebViewAvailable();
// A web view in hwnd's client area, or null (no display, no such window, or the engine failed).
std::unique_ptr<WebView> CreateWebView(HWND hwnd, WebViewOptions options = {});

}  // namespace gui

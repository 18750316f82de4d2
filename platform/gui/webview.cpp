#include "platform/gui/webview.h"

#include "platform/gui/internal.h"

namespace gui {

bool WebViewAvailable() {
    if (!detail::OnUi()) return false;
    const auto& backend = detail::S().backend;
    return backend && backend->HasWebView();
}

std::unique_ptr<WebView> CreateWebView(HWND hwnd, WebViewOptions options) {
    if (!WebViewAvailable()) return nullptr;
    detail::Window* w = detail::Raw(hwnd);
    if (!w) return nullptr;
    return detail::S().backend->CreateWebView(*w, std::move(options));
}

}  // namespace gui

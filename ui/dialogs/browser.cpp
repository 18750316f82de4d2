#include "ui/dialogs/browser.h"

#include <charconv>
#include <map>
#include <memory>

#include "engine/context.h"
#include "platform/shell_open.h"
#include "ui/main/shell.h"
#include "ui/main/window_services.h"

namespace ui {

namespace {

constexpr uint32_t kHostScrollNo = 8;  // the host is a child window: the page does not scroll it
constexpr const char* kBlankPage = "about:blank";
constexpr gui::UINT_PTR kLoadingTimer = 1;
constexpr gui::UINT kLoadingCheckMs = 100;

// The web view of each window that has one (UI thread only).
std::map<HWND, std::unique_ptr<gui::WebView>>& Views() {
    static std::map<HWND, std::unique_ptr<gui::WebView>> views;
    return views;
}

// Host flags of the last embedding.
uint32_t g_hostFlags = 0;

}  // namespace

CBrowser& Browser() {
    static CBrowser browser;
    return browser;
}

bool IsOwnWebPage(const std::string& address) {
    if (address == kBlankPage) return true;
    constexpr std::string_view kScheme = "http://";
    if (address.compare(0, kScheme.size(), kScheme) != 0) return false;
    const size_t start = kScheme.size();
    const size_t end = address.find_first_of("/?#", start);
    const std::string authority = address.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const size_t colon = authority.rfind(':');
    if (colon == std::string::npos) return false;
    const std::string host = authority.substr(0, colon);
    if (host != "localhost" && host != "127.0.0.1" && host != "[::1]") return false;
    const std::string portText = authority.substr(colon + 1);
    int port = 0;
    const auto [p, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (ec != std::errc() || p != portText.data() + portText.size() || portText.empty()) return false;
    const EngineContext* ctx = GetEngineContext();
    return ctx && port != 0 && port == ctx->httpPort.load();
}

int EmbedBrowser(HWND window, uint32_t flags) {
    g_hostFlags = flags;
    if (!gui::WebViewAvailable()) return kEmbedNoWebView;
    if (!gui::IsWindow(window)) return kEmbedLaterStep;
    if (Views().count(window)) return 0;
    gui::WebViewOptions options;
    options.allow = IsOwnWebPage;
    options.refused = [](const std::string& address) { platform::ShellOpen(address); };
    auto view = gui::CreateWebView(window, std::move(options));
    if (!view) return kEmbedCreateFailed;
    gui::RECT client{};
    gui::GetClientRect(window, &client);
    view->Resize(client.right - client.left, client.bottom - client.top);
    Views()[window] = std::move(view);
    return 0;
}

void UnembedBrowser(HWND window) { Views().erase(window); }

gui::WebView* EmbeddedView(HWND window) {
    auto it = Views().find(window);
    return it == Views().end() ? nullptr : it->second.get();
}

int Navigate(HWND window, const char* address) {
    gui::WebView* view = EmbeddedView(window);
    if (!view) return kNavigateNotEmbedded;
    if (!address || !*address) return kNavigateBadAddress;
    return view->Navigate(address) ? 0 : kNavigateBadAddress;
}

bool CBrowser::OnInit() {
    gui::SetClassLongPtrA(hwnd_, gui::GCLP_HICON,
                          reinterpret_cast<uintptr_t>(gui::LoadIconA(MainInstance(), gui::MAKEINTRESOURCEA(kAppIcon))));
    const auto style = static_cast<gui::DWORD>(gui::GetWindowLongPtrA(hwnd_, gui::GWL_STYLE));
    embedded = EmbedBrowser(hwnd_, (style & gui::WS_CHILD) ? kHostScrollNo : 0) == 0;
    return true;
}

bool CBrowser::OnSize(int width, int height) {
    if (gui::WebView* view = EmbeddedView(hwnd_)) view->Resize(width, height);
    return true;
}

gui::HBRUSH CBrowser::OnControlColor(gui::HDC dc, int kind, HWND) {
    constexpr int kDialogColor = 4;
    if (kind != kDialogColor) return nullptr;
    gui::SetBkColor(dc, 0);
    return reinterpret_cast<gui::HBRUSH>(gui::GetStockObject(gui::BLACK_BRUSH));
}

void CBrowser::ShowLoading(const char* title) {
    if (!hwnd_) return;
    const bool loadingBefore = gui::KillTimer(hwnd_, kLoadingTimer) != 0;
    if (title) {
        title_ = title;
    } else if (!loadingBefore) {  // else the window shows the loading text of the page before
        char own[256] = "";
        gui::GetWindowTextA(hwnd_, own, sizeof own);
        title_ = own;
    }
    SetText((title_ + " - Loading...").c_str());
    gui::SetTimer(hwnd_, kLoadingTimer, kLoadingCheckMs, nullptr);
}

bool CBrowser::OnTimer(gui::UINT_PTR id) {
    if (id != kLoadingTimer) return false;
    gui::WebView* view = EmbeddedView(hwnd_);
    if (view && view->Loading()) return true;
    gui::KillTimer(hwnd_, kLoadingTimer);
    SetText(title_.c_str());
    return true;
}

bool CBrowser::OnClose() {
    if (gui::KillTimer(hwnd_, kLoadingTimer)) SetText(title_.c_str());
    Hide();
    Navigate(hwnd_, kBlankPage);
    // An embedded host stays, hidden, for the next page.
    return !embedded;
}

bool OpenInBrowser(const char* address, const char* title, int width, int height) {
    if (!address || !*address) return false;
    if (!IsOwnWebPage(address)) {
        platform::ShellOpen(address);
        return false;
    }
    CBrowser& browser = Browser();
    HWND host = browser.Handle();
    if (host && width > 0 && height > 0) {
        gui::RECT frame{0, 0, width, height};
        gui::AdjustWindowRect(&frame, static_cast<gui::DWORD>(gui::GetWindowLongPtrA(host, gui::GWL_STYLE)), false);
        browser.CenterOnWorkArea(frame.right - frame.left, frame.bottom - frame.top);
    }
    if (host && title) browser.SetText(title);
    if (Navigate(host, address) != 0) {
        if (host) gui::SendMessageA(host, gui::WM_CLOSE, 0, 0);
        platform::ShellOpen(address);
        return false;
    }
    browser.ShowLoading(title);
    return true;
}

bool CreateBrowserHost() {
    CBrowser& browser = Browser();
    if (browser.Handle()) return true;
    return browser.Create(gui::WS_POPUP | gui::WS_OVERLAPPEDWINDOW, 0, static_cast<HWND>(nullptr)) != nullptr;
}

void DestroyBrowser() {
    CBrowser& browser = Browser();
    if (browser.embedded) {
        UnembedBrowser(browser.Handle());
        browser.embedded = false;
    }
    browser.Close();
    // Views of windows that went away some other way.
    Views().clear();
}

}  // namespace ui

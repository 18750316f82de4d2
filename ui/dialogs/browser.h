// The browser host: one hidden window, made at start-up and reused for every page of the program's
// own web interface. On a display with a web view the page shows inside it; without one (the
// headless layer, or an engine that failed) every page goes to the user's browser instead.
// Closing the window only hides it and blanks the page. UI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/gui/webview.h"
#include "ui/framework/window.h"

namespace ui {

class CBrowser : public CWindow {
public:
    bool OnInit() override;
    bool OnSize(int width, int height) override;
    gui::HBRUSH OnControlColor(gui::HDC dc, int kind, HWND control) override;
    bool OnClose() override;
    bool OnTimer(gui::UINT_PTR id) override;
    // The title shows that the page loads (the engine may take seconds to show anything) until it
    // has loaded.
    void ShowLoading(const char* title);

    bool embedded = false;

private:
    std::string title_;
};

// The program's one browser host object.
CBrowser& Browser();

// The record of the "open_web" command: made with new by the sender, freed by the handler.
struct WebPageRecord {
    char address[256] = {};
    const char* title = nullptr;
    int width = 0;
    int height = 0;
};

// Embedding results.
inline constexpr int kEmbedNoMemory = -1;
inline constexpr int kEmbedNoWebView = -2;   // this display has no web view
inline constexpr int kEmbedCreateFailed = -3;
inline constexpr int kEmbedLaterStep = -4;
inline constexpr int kNavigateNotEmbedded = -5;
inline constexpr int kNavigateBadAddress = -6;

// Puts a web view into the window's client area (flags: 8 when it is a child window). 0 or one of
// the results above.
int EmbedBrowser(HWND window, uint32_t flags);
// Takes the window's web view out and ends it.
void UnembedBrowser(HWND window);
// 0 when loading began; -5 without a web view in the window; -6 for an address it cannot take.
int Navigate(HWND window, const char* address);
// The web view of a window, or null.
gui::WebView* EmbeddedView(HWND window);

// Whether an address may be shown inside the host: a page of the program's own control server on
// the loopback address, or the blank page. Everything else goes to the user's browser.
bool IsOwnWebPage(const std::string& address);

// Shows a page: sizes the host to a client area of width x height (both given) centred in the work
// area, takes the title, and navigates. An address that is not the program's own, or a failed
// navigation, goes to the user's browser instead (the host is then closed). True when the page is
// in the host (the caller shows it).
bool OpenInBrowser(const char* address, const char* title, int width, int height);

// Creates the hidden host window when there is none.
bool CreateBrowserHost();
// Shut-down: ends the web view and destroys the host window.
void DestroyBrowser();

}  // namespace ui

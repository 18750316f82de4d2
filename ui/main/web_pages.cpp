#include "ui/main/web_pages.h"

#include <string>

#include "common/sysutil.h"
#include "engine/context.h"
#include "engine/engine_api.h"
#include "engine/engine_init.h"
#include "platform/shell_open.h"
#include "remote/handlers/servers.h"
#include "ui/dialogs/browser.h"
#include "ui/framework/window.h"
#include "ui/main/shell.h"
#include "ui/options/option_tab.h"
#include "ui/plugins/device_host.h"

namespace ui {

namespace {

// A preference path from an address the settings code built ("...?path=audioenc.opus").
std::string PathOfPreferenceAddress(const std::string& address) {
    const size_t at = address.find("?path=");
    return at == std::string::npos ? std::string() : address.substr(at + 6);
}

}  // namespace

bool EnsureControlServer() {
    EngineContext* ctx = GetEngineContext();
    if (ctx && ctx->httpPort.load() != 0) return true;
    SetPrefInt("overall.httpd.enabled", 1);
    if (StartHttpServer() == 0 && ctx && ctx->httpPort.load() != 0) {
        Shell().httpRunning = true;
        return true;
    }
    RaiseEvent(2, UiStrings().GetString("httpd_error"));
    return false;
}

int OpenWebPage(const char* address, const char* title, int width, int height) {
    CBrowser& host = Browser();
    if (!address) {
        if (host.Handle()) host.Hide();
        return 0;
    }
    if (!EnsureControlServer()) return -1;
    if (IsUnderWine()) {
        platform::ShellOpen(address);
        return 0;
    }
    if (OpenInBrowser(address, title, width, height)) {
        host.Show();
        host.SetForeground();
    }
    return 0;
}

int OpenWebUiPage(int kind, const char* argument, const char* title, int width, int height) {
    if (!EnsureControlServer()) return -1;
    char address[2048] = {};
    BuildWebUiUrl(kind, argument, address, sizeof address);
    return OpenWebPage(address, title, width, height);
}

int OpenPreferencePage(const char* keyPath) {
    return OpenWebUiPage(0, keyPath && *keyPath ? keyPath : nullptr, UiStrings().GetString(kSettingsTitleKey),
                         kSettingsPageWidth, kSettingsPageHeight);
}

int OpenSetupWizard(const char* page) {
    if (!page || !*page) return -1;
    if (!EnsureControlServer()) return -1;
    const EngineContext& ctx = *GetEngineContext();
    std::string address = std::string(page) + "?p=" + std::to_string(ctx.httpPort.load()) +
                          "&b=" + std::to_string(ctx.buildNumber);
    if (!ctx.editionText.empty()) address += "&e=" + std::string(ctx.editionText);
    return OpenWebPage(address.c_str(), UiStrings().GetString("menu_setup_wizard"), 1050, 808);
}

void InstallSettingsPageOpeners() {
    // The pages build their address before the server may run: the path is taken from it and the
    // address built again once the server has its port.
    SetSettingsPageOpener([](const std::string& address, const std::string& title, int width, int height) {
        const std::string path = PathOfPreferenceAddress(address);
        OpenWebUiPage(0, path.empty() ? nullptr : path.c_str(), title.c_str(), width, height);
    });
    DeviceHost().SetSettingsOpener([](const std::string& address) {
        const std::string path = PathOfPreferenceAddress(address);
        OpenPreferencePage(path.empty() ? nullptr : path.c_str());
    });
}

}  // namespace ui

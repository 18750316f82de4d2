// The shell's pages of the local web interface: each is shown in the browser host once the control
// server runs (it is started for the page when it does not).
#pragma once

namespace ui {

// The settings page's title key and size.
inline constexpr const char* kSettingsTitleKey = "menu_settings";
inline constexpr int kSettingsPageWidth = 780;
inline constexpr int kSettingsPageHeight = 600;

// Starts the control server when it is not running ("overall.httpd.enabled" := 1); false, after an
// "httpd_error" notice, when it cannot start.
bool EnsureControlServer();

// Shows an address in the browser host and brings the host to the front (a null address hides
// it). 0, or -1 when the control server cannot start.
int OpenWebPage(const char* address, const char* title, int width, int height);

// The web-interface page of a kind and argument (the engine's address builder), built once the
// server runs so that the address holds its port, then shown as above.
int OpenWebUiPage(int kind, const char* argument, const char* title, int width, int height);

// The preference page of a key path (null: the whole tree), titled "menu_settings", 780 x 600.
int OpenPreferencePage(const char* keyPath);

// The setup wizard at a page address: "page?p=<port>&b=<build>" with "&e=<edition>" when the program
// has one, titled "menu_setup_wizard", 1050 x 808.
int OpenSetupWizard(const char* page);

// Hands the option tabs, the encoder pages and the plug-in host the road to their settings pages.
void InstallSettingsPageOpeners();

}  // namespace ui

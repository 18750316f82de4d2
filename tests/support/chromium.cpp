#include "support/chromium.h"

#include <filesystem>

#include "remote/httpd/httpd_fixture.h"

namespace sqtest {

namespace {

std::string Command(const std::string& profileDir, int budgetMs) {
    return "chromium --headless --no-sandbox --disable-gpu --disable-dev-shm-usage --no-first-run "
           "--disable-background-networking --disable-component-update --disable-sync --hide-scrollbars --disable-features=GenerateXSLTWarningBanner "
           "--user-data-dir='" + profileDir + "' --virtual-time-budget=" + std::to_string(budgetMs) + " ";
}

}  // namespace

bool ChromiumAvailable() { return httpdtest::Shell("which chromium").exitCode == 0; }

std::string ChromiumDom(const std::string& url, const std::string& profileDir, int budgetMs) {
    const httpdtest::CommandResult r = httpdtest::Shell(Command(profileDir, budgetMs) + "--dump-dom '" + url + "'", 90);
    return r.output;
}

bool ChromiumScreenshot(const std::string& url, const std::string& profileDir, const std::string& png, int width,
                        int height) {
    std::error_code ec;
    std::filesystem::remove(png, ec);
    httpdtest::Shell(Command(profileDir, 10000) + "--window-size=" + std::to_string(width) + "," + std::to_string(height) +
                         " --screenshot='" + png + "' '" + url + "'",
                     90);
    return std::filesystem::file_size(png, ec) > 0 && !ec;
}

std::string TestOutputFolder(const std::string& name) {
    const std::string dir = std::string(SQ_OUT_DIR) + "/../test-output/" + name + "/";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
}

}  // namespace sqtest

// Headless Chromium for tests of the program's web pages: each run has a profile of its own and a
// time limit, and gives the page's DOM after its scripts ran, or a screenshot.
#pragma once

#include <string>

namespace sqtest {

// False when Debian's chromium is not installed.
bool ChromiumAvailable();

// Loads url in headless Chromium (profile in profileDir) and returns the DOM once the page and its
// scripts are done or budgetMs of virtual time passed; "" when Chromium did not run.
std::string ChromiumDom(const std::string& url, const std::string& profileDir, int budgetMs = 20000);

// Loads url and saves a screenshot of width x height pixels as png. False when no file was made.
bool ChromiumScreenshot(const std::string& url, const std::string& profileDir, const std::string& png, int width = 1000,
                        int height = 600);

// A folder kept after the test for what it shows (screenshots): <build>/test-output/<name>/.
std::string TestOutputFolder(const std::string& name);

}  // namespace sqtest

// The plug-in page (prefs/plugin.htm over prefs/plugin.xml) with the tests' own plug-ins loaded by
// the engine: headless Chromium sees every input plug-in and switches one off; curl switches a DSP
// plug-in on and opens an input plug-in's settings.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "engine/engine_api.h"
#include "engine/prefs/prefstore.h"
#include "engine/sources/winamp_host.h"
#include "support/chromium.h"
#include "support/control_server.h"
#include "support/plugin_folder.h"
#include "support/tempdir.h"

namespace {

// Lists the rows of the input page as "description:on|off,", unchecks the box of in_tiny.so,
// waits for the page to load the list again and lists the rows once more.
const char kDriver[] = R"(<!DOCTYPE html>
<html><body><iframe id="f" src="/prefs/plugin.htm?type=input"></iframe><pre id="out">waiting</pre>
<script>
window.onerror = function (m) { document.getElementById('out').textContent += ' error: ' + m; };
var f = document.getElementById('f');
function rows(d) {
  var text = '';
  var trs = d.querySelectorAll('#plugins tr');
  for (var i = 0; i < trs.length; i++)
    text += trs[i].cells[0].textContent + ':' + (trs[i].querySelector('input').checked ? 'on' : 'off') + ',';
  return text;
}
f.onload = function () {
  var d = f.contentDocument;
  (function first() {
    if (!d.body || d.body.getAttribute('data-ready') !== '1') return setTimeout(first, 20);
    var before = rows(d);
    d.querySelector('input[name="in_tiny.so"]').click();
    (function second() {
      if (d.body.getAttribute('data-ready') !== '2') return setTimeout(second, 20);
      document.getElementById('out').textContent = 'before=' + before + ';after=' + rows(d);
    })();
  })();
};
</script></body></html>)";

int IndexOfInput(const std::string& fileName) {
    const InputPluginList list = InputPlugins();
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].fileName == fileName) return static_cast<int>(i);
    return -1;
}

// The names of a ';'-separated list in sorted order (the folder's order is the file system's).
std::string Sorted(const std::string& list) {
    std::vector<std::string> names;
    for (size_t at = 0; at <= list.size();) {
        size_t end = list.find(';', at);
        if (end == std::string::npos) end = list.size();
        if (end > at) names.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ";") + n;
    return out;
}

class PluginPage : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = tmp_.file("htdocs");
        std::filesystem::copy(std::string(SQ_SOURCE_DIR) + "/data/htdocs", root_, std::filesystem::copy_options::recursive);
        winamp_.plant("in_tiny", "in_tiny.so");
        winamp_.plant("in_ape", "in_ape.so");
        winamp_.plant("dsp_invert", "dsp_invert.so");
        winamp_.plant("dsp_double", "dsp_double.so");
        server_ = std::make_unique<sqtest::ControlServer>(root_);
        ASSERT_GT(server_->port(), 0);
        GetPrefStore().SetString("audiosrc.winamp.dir", winamp_.path().c_str());
        EnumeratePlugins(winamp_.path().c_str(), "", "dsp_invert.so", 0);
    }
    void TearDown() override {
        FreePluginLists();
        server_.reset();
    }
    std::string Xml(const std::string& query) { return sqtest::Curl("'" + server_->url("/prefs/plugin.xml?" + query) + "'").body; }

    sqtest::TempDir tmp_;
    sqtest::PluginFolder winamp_;
    std::string root_;
    std::unique_ptr<sqtest::ControlServer> server_;
};

TEST_F(PluginPage, ChromiumListsTheInputPluginsAndSwitchesOneOff) {
    if (!sqtest::ChromiumAvailable()) GTEST_SKIP() << "chromium is not installed";
    ASSERT_EQ(InputPlugins().size(), 2u);
    tmp_.write("htdocs/driver.htm", kDriver);
    const std::string dom = sqtest::ChromiumDom(server_->url("/driver.htm"), tmp_.file("profile"));
    const std::regex shown("before=(APE decoder:on,Tiny decoder:on,|Tiny decoder:on,APE decoder:on,);"
                           "after=(APE decoder:on,Tiny decoder:off,|Tiny decoder:off,APE decoder:on,)");
    EXPECT_TRUE(std::regex_search(dom, shown)) << dom;
    // The engine's list and its preference hold the change.
    EXPECT_EQ(WinampPluginControl(1, 1, IndexOfInput("in_tiny.so"), nullptr, 0), 0);
    EXPECT_EQ(WinampPluginControl(1, 1, IndexOfInput("in_ape.so"), nullptr, 0), 1);
    EXPECT_STREQ(GetPrefStore().GetString("audiosrc.winamp.disabledInPlugins"), "in_tiny.so");
}

TEST_F(PluginPage, ListsChangesAndSettingsOfEachKind) {
    const std::string dsp = Xml("type=dsp");
    EXPECT_NE(dsp.find("<plugin id=\"dsp_invert.so\" desc=\"Inverter\" enabled=\"1\"/>"), std::string::npos) << dsp;
    EXPECT_NE(dsp.find("<plugin id=\"dsp_double.so\" desc=\"Doubler\" enabled=\"0\"/>"), std::string::npos) << dsp;

    struct Case {
        const char* query;
        const char* expected;   // a part of the answer
        const char* dspPref;    // "audiosrc.winamp.enabledDspPlugins" afterwards, its names sorted
    } cases[] = {
        {"type=dsp&id=dsp_double.so&enabled=TRUE", "id=\"dsp_double.so\" desc=\"Doubler\" enabled=\"1\"", "dsp_double.so;dsp_invert.so"},
        {"type=dsp&id=dsp_invert.so&enabled=no", "id=\"dsp_invert.so\" desc=\"Inverter\" enabled=\"0\"", "dsp_double.so"},
        // Another name, or no "enabled", changes nothing.
        {"type=dsp&id=dsp_missing.so&enabled=1", "id=\"dsp_invert.so\" desc=\"Inverter\" enabled=\"0\"", "dsp_double.so"},
        {"type=dsp&id=dsp_double.so", "id=\"dsp_double.so\" desc=\"Doubler\" enabled=\"1\"", "dsp_double.so"},
        {"type=other&id=dsp_double.so&enabled=0", "<QuorvexPlugins/>", "dsp_double.so"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        const std::string body = Xml(c.query);
        EXPECT_NE(body.find(c.expected), std::string::npos) << body;
        EXPECT_EQ(Sorted(GetPrefStore().GetString("audiosrc.winamp.enabledDspPlugins")), c.dspPref);
    }

    // "config" loads the input plug-in from the folder for its settings: the test holds the same
    // library open to read the plug-in's count of settings calls.
    void* lib = dlopen(winamp_.file("in_tiny.so").c_str(), RTLD_NOW);
    ASSERT_NE(lib, nullptr) << dlerror();
    const int* configCalls = static_cast<const int*>(dlsym(lib, "tiny_config_calls"));
    ASSERT_NE(configCalls, nullptr);
    const int before = *configCalls;
    const std::string input = Xml("type=input&id=in_tiny.so&config=1");
    EXPECT_NE(input.find("id=\"in_tiny.so\" desc=\"Tiny decoder\" enabled=\"1\""), std::string::npos) << input;
    EXPECT_EQ(*configCalls, before + 1);
    Xml("type=input&id=in_other.so&config=1");
    EXPECT_EQ(*configCalls, before + 1);
    dlclose(lib);
}

}  // namespace

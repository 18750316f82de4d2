// The shipped preference page in headless Chromium: it shows a key's value, the user changes it,
// and the preference tree holds the new value; its check boxes show the booleans the program
// exports, and pressing Set on them keeps what the program holds.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/prefs/prefstore.h"
#include "support/chromium.h"
#include "support/control_server.h"
#include "support/tempdir.h"

namespace {

// Opens the page in a frame of the same origin, waits for its rows, types a value and presses
// the row's button, then reports what the page showed.
const char kChangeDriver[] = R"(<!DOCTYPE html>
<html><body><iframe id="f" src="/prefs/?path=t"></iframe><pre id="out">waiting</pre>
<script>
window.onerror = function (m) { document.getElementById('out').textContent += ' error: ' + m; };
var f = document.getElementById('f');
f.onload = function () {
  var d = f.contentDocument;
  (function ready() {
    if (!d.body || !d.body.getAttribute('data-ready')) return setTimeout(ready, 20);
    var input = d.querySelector('input[name="t.int"]');
    var shown = input.value + '/' + d.querySelector('select[name="t.enum"]').selectedOptions[0].textContent;
    input.value = '42';
    d.querySelector('button[name="set:t.int"]').click();
    (function done() {
      var s = d.getElementById('status').textContent;
      if (!s) return setTimeout(done, 20);
      document.getElementById('out').textContent = 'shown=' + shown + ';status=' + s;
    })();
  })();
};
</script></body></html>)";

// Reads the exported values of the branch, then for every check box of the page writes
// "key=exported/shown;" and presses its Set button, one after the other.
const char kCheckboxDriver[] = R"(<!DOCTYPE html>
<html><body><iframe id="f" src="/prefs/?path=t"></iframe><pre id="out">waiting</pre>
<script>
window.onerror = function (m) { document.getElementById('out').textContent += ' error: ' + m; };
var out = document.getElementById('out');
var f = document.getElementById('f');
f.onload = function () {
  var d = f.contentDocument;
  (function ready() {
    if (!d.body || !d.body.getAttribute('data-ready')) return setTimeout(ready, 20);
    fetch('/prefs/prefs.xml?path=t&value').then(function (r) { return r.text(); }).then(function (text) {
      var doc = new DOMParser().parseFromString(text, 'text/xml');
      var exported = {};
      var nodes = doc.getElementsByTagName('node');
      for (var i = 0; i < nodes.length; i++) {
        var v = nodes[i].getElementsByTagName('value');
        if (v.length) exported[nodes[i].getAttribute('key')] = v[0].textContent;
      }
      var boxes = Array.prototype.slice.call(d.querySelectorAll('input[type="checkbox"]'));
      var report = '';
      (function next() {
        if (!boxes.length) { out.textContent = report + 'done'; return; }
        var box = boxes.shift();
        report += box.name + '=' + exported[box.name.replace(/^t\./, '')] + '/' + (box.checked ? 'checked' : 'clear') + ';';
        var status = d.getElementById('status');
        status.textContent = '';
        d.querySelector('button[name="set:' + box.name + '"]').click();
        (function wait() { if (!status.textContent) return setTimeout(wait, 20); next(); })();
      })();
    });
  })();
};
</script></body></html>)";

class PrefsPage : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sqtest::ChromiumAvailable()) GTEST_SKIP() << "chromium is not installed";
        root_ = tmp_.file("htdocs");
        std::filesystem::copy(std::string(SQ_SOURCE_DIR) + "/data/htdocs", root_, std::filesystem::copy_options::recursive);
    }
    // Serves the driver page beside the shipped pages and returns its DOM after the run.
    std::string Run(sqtest::ControlServer& server, const char* driver) {
        tmp_.write("htdocs/driver.htm", driver);
        return sqtest::ChromiumDom(server.url("/driver.htm"), tmp_.file("profile"));
    }
    sqtest::TempDir tmp_;
    std::string root_;
};

TEST_F(PrefsPage, ShowsAndChangesAKeyInChromium) {
    sqtest::ControlServer server(root_);
    ASSERT_GT(server.port(), 0);
    const std::string dom = Run(server, kChangeDriver);
    EXPECT_NE(dom.find("shown=5/medium;status=t.int set."), std::string::npos) << dom;
    EXPECT_EQ(GetPrefStore().GetInt("t.int"), 42);
}

TEST_F(PrefsPage, CheckBoxesShowAndKeepTheBooleansTheProgramHolds) {
    sqtest::ControlServer server(root_);
    ASSERT_GT(server.port(), 0);
    const std::string dom = Run(server, kCheckboxDriver);
    EXPECT_NE(dom.find("t.bool=false/clear;t.on=true/checked;done"), std::string::npos) << dom;
    // Set pressed on each box stored what it showed: nothing changed.
    EXPECT_EQ(GetPrefStore().GetInt("t.bool"), 0);
    EXPECT_EQ(GetPrefStore().GetInt("t.on"), 1);
}

}  // namespace

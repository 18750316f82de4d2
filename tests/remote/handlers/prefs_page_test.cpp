// The shipped preference page in headless Chromium: it shows a key's value, the user changes it,
// and the preference tree holds the new value.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/prefs/prefstore.h"
#include "remote/httpd/httpd_fixture.h"
#include "support/control_server.h"
#include "support/tempdir.h"

namespace {

// Opens the page in a frame of the same origin, waits for its rows, types a value and presses
// the row's button, then reports what the page showed.
const char kDriver[] = R"(<!DOCTYPE html>
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

TEST(PrefsPage, ShowsAndChangesAKeyInChromium) {
    if (httpdtest::Shell("which chromium").exitCode != 0) GTEST_SKIP() << "chromium is not installed";
    sqtest::TempDir tmp;
    const std::string root = tmp.file("htdocs");
    std::filesystem::copy(std::string(SQ_SOURCE_DIR) + "/data/htdocs", root, std::filesystem::copy_options::recursive);
    tmp.write("htdocs/driver.htm", kDriver);
    sqtest::ControlServer server(root);
    ASSERT_GT(server.port(), 0);

    const std::string command = "chromium --headless --no-sandbox --disable-gpu --disable-dev-shm-usage "
                                "--no-first-run --disable-background-networking --disable-component-update "
                                "--disable-sync --user-data-dir=" + tmp.file("profile") +
                                " --virtual-time-budget=20000 --dump-dom '" + server.url("/driver.htm") + "'";
    const httpdtest::CommandResult r = httpdtest::Shell(command, 90);
    EXPECT_NE(r.output.find("shown=5/medium;status=t.int set."), std::string::npos) << r.output;
    EXPECT_EQ(GetPrefStore().GetInt("t.int"), 42);
}

}  // namespace

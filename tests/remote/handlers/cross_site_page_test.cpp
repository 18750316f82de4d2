// Another web site's page, open in the user's browser, tries to drive the program without sending
// a Referer: headless Chromium loads it from another site (localhost) and from another port of
// this host; neither changes a preference, the queue or anything through XML-RPC. The same page
// served by the control server itself does change them, so the requests do reach the program.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "support/chromium.h"
#include "support/control_server.h"
#include "support/http_test_server.h"
#include "support/tempdir.h"

namespace {

// Requests of every kind a page can make without the program's consent, all without a Referer;
// "finished" is written once each has ended.
std::string HostilePage(int port) {
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    return R"(<!DOCTYPE html>
<html><head><meta name="referrer" content="no-referrer"></head><body><pre id="out">waiting</pre>
<script>
var base = ')" + base + R"(';
var left = 4;
function one() { if (--left === 0) document.getElementById('out').textContent = 'finished'; }
['/prefs/set?t.int=77', '/qx/queue?action=clear'].forEach(function (path) {
  var img = new Image();
  img.onload = img.onerror = one;
  img.src = base + path;
});
fetch(base + '/ui?cmd=start', {mode: 'no-cors', referrerPolicy: 'no-referrer'}).then(one, one);
fetch(base + '/xmlrpc', {method: 'POST', mode: 'no-cors', referrerPolicy: 'no-referrer',
  body: '<methodCall><methodName>qx.prefs.set</methodName><params><param><value><string>t.str</string></value>' +
        '</param><param><value><string>changed</string></value></param></params></methodCall>'}).then(one, one);
</script></body></html>)";
}

TEST(CrossSitePage, PagesOfOtherOriginsChangeNothingWithoutAReferer) {
    if (!sqtest::ChromiumAvailable()) GTEST_SKIP() << "chromium is not installed";
    sqtest::TempDir tmp;
    tmp.write("root/index.html", "home");
    sqtest::ControlServer server(tmp.file("root"));
    ASSERT_GT(server.port(), 0);
    QueueAppend(QueueNewItem("/in/kept.flac"));
    const std::string page = HostilePage(server.port());

    sqtest::HttpTestServer elsewhere;
    elsewhere.set("/attack.htm", {sqtest::HttpTestServer::Reply(200, page, "Content-Type: text/html\r\n")});
    const std::string port = std::to_string(elsewhere.port());
    for (const std::string& origin : {"http://localhost:" + port, "http://127.0.0.1:" + port}) {
        SCOPED_TRACE(origin);
        const std::string dom = sqtest::ChromiumDom(origin + "/attack.htm", tmp.file("profile"));
        EXPECT_NE(dom.find("finished"), std::string::npos) << dom;
        EXPECT_EQ(GetPrefStore().GetInt("t.int"), 5);
        EXPECT_STREQ(GetPrefStore().GetString("t.str"), "plain");
        EXPECT_EQ(sqtest::QueueFiles(), "/in/kept.flac");
        EXPECT_TRUE(server.events().texts(kEventUiCommand).empty());
    }

    // The program's own page may.
    tmp.write("root/attack.htm", page);
    const std::string dom = sqtest::ChromiumDom(server.url("/attack.htm"), tmp.file("profile"));
    EXPECT_NE(dom.find("finished"), std::string::npos) << dom;
    EXPECT_EQ(GetPrefStore().GetInt("t.int"), 77);
    EXPECT_STREQ(GetPrefStore().GetString("t.str"), "changed");
    EXPECT_EQ(sqtest::QueueFiles(), "");
    EXPECT_EQ(server.events().texts(kEventUiCommand), (std::vector<std::string>{"start"}));
}

}  // namespace

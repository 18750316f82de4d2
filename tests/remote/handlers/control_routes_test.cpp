// The control server's routes driven by curl over 127.0.0.1: each route with good and bad input,
// then what changed in the preferences, the queue and the events.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "remote/handlers/routes.h"
#include "remote/handlers/servers.h"
#include "remote/httpd/web_server.h"
#include "engine/engine_init.h"
#include "remote/httpd/httpd_fixture.h"
#include "support/control_server.h"
#include "support/pref_builder.h"
#include "support/tempdir.h"

namespace {

using sqtest::Curl;
using sqtest::QueueFiles;

class ControlRoutesTest : public ::testing::Test {
protected:
    void SetUp() override {
        tmp_.write("root/start.7zpage.html", "start page");
        tmp_.write("root/index.html", "home");
        server_ = std::make_unique<sqtest::ControlServer>(tmp_.file("root"));
        ASSERT_GT(server_->port(), 0);
    }
    std::string Url(const std::string& path) { return "'" + server_->url(path) + "'"; }

    sqtest::TempDir tmp_;
    std::unique_ptr<sqtest::ControlServer> server_;
};

struct RouteCase {
    const char* request;   // curl options before the URL, or "" for a plain GET
    const char* path;
    int status;
    const char* body;      // exact body, or a regular expression when it starts with '^'
};

TEST_F(ControlRoutesTest, RoutesAnswerGoodAndBadInput) {
    const RouteCase cases[] = {
        {"", "/qx/get?query=progress", 200, "-1"},
        {"", "/qx/get?query=x", 200, "null"},
        {"", "/qx/get", 404, "^<html>.*Not Found"},
        {"", "//prefs/get?path=t.int", 200, "5"},
        {"", "/prefs/get?path=t.enum", 200, "medium"},
        {"", "/prefs/get?path=t.int&desc", 200, "A number"},
        {"", "/prefs/get?path=t.str&desc", 200, "Some text"},
        {"", "/prefs/get?path=nope&desc", 200, " "},
        {"", "/prefs/get?x", 200, " "},
        {"", "/prefs/get", 200, "Invalid request"},
        {"", "/prefs/revert?x=1", 200, "Invalid path - (none)"},
        {"", "/prefs/revert?path=nope", 200, "Invalid path - nope"},
        {"", "/prefs/revert", 200, "Invalid request"},
        {"", "/prefs/set", 200, "Invalid request"},
        {"", "/prefs/set?nope=1", 200, "0"},
        {"", "/prefs/plugin.xml?type=input", 200, "^<\\?xml[\\s\\S]*<QuorvexPlugins>\\s*<input/>\\s*</QuorvexPlugins>\\s*$"},
        {"", "/prefs/plugin.xml?type=dsp&id=x&enabled=0", 200, "^<\\?xml[\\s\\S]*<dsp/>"},
        {"", "/prefs/prefs.xml?path=t.int&value&type", 200, "^<\\?xml[\\s\\S]*key=\"int\" type=\"int\"[\\s\\S]*<value>5</value>"},
        {"", "/prefs/prefs.xml?path=t&modified&value", 200, "^<\\?xml[\\s\\S]*<node[\\s\\S]*key=\"t\"[\\s\\S]*$"},
        {"", "/queue", 200, "^<\\?xml[\\s\\S]*<response>\\n  <state>Error</state>\\n</response>\\n$"},
        {"", "/qx/queue?action=nothing", 200, "^<\\?xml[\\s\\S]*<state>OK</state>"},
        {"", "/qx/benchmark/fileread", 200, "No file specified"},
        {"", "/qx/benchmark/fileread?file=/dev/zero", 200, "Speed: 0.000000 MB/s"},
        {"", "/sensors/143,1101,zz", 200, "^143=\\d+\\.\\d\\d 1101=0\\.00 0=0\\.00 $"},
        {"", "/sensors/", 404, "^<html>"},
        {"", "/startpage.html", 200, "start page"},
        {"", "/index.html", 200, "home"},
        {"", "/openurl?url=file:///etc/passwd", 200, ""},
        {"", "/openurl?url=/usr/bin/xterm", 200, ""},
        {"", "/ui", 404, "^<html>"},
        {"", "/ui?cmd=open_web&arg=AAAAAAAA", 200, "Error"},
        {"", "/ui?cmd=load_ui%20/etc/x.xml", 200, "Error"},
        {"", "/qx/action?cmd=mpcmd&arg=quit", 200, "Error"},
        {"", "/xmlrpc", 404, "^<html>"},
        {"-d 'x=1'", "/xmlrpc", 404, "^<html>"},
        {"-d 'payload=%3CmethodCall%3E'", "/xmlrpc", 404, "^<html>"},
        {"--data-binary '<t><add><path>x</path></add>'", "/qx/task", 404, "^<html>"},
        {"", "/qx/put", 404, "^<html>"},
        {"", "/qx/put?qxid=abc", 200, "abc"},
        {"", "/qx/put?close=1", 200, " "},
        // Another site's page cannot reach a route that changes state, nor any route by a foreign Host.
        {"-H 'Origin: http://evil.example'", "/prefs/set?t.int=9", 403, "Forbidden"},
        {"-H 'Referer: http://evil.example/a.htm'", "/ui?cmd=start", 403, "Forbidden"},
        {"-H 'Origin: null' -d 'payload=x'", "/xmlrpc", 403, "Forbidden"},
        {"-H 'Host: evil.example'", "/qx/get?query=progress", 403, "Forbidden"},
        {"-H 'Origin: http://evil.example'", "/qx/get?query=progress", 200, "-1"},
    };
    for (const RouteCase& c : cases) {
        SCOPED_TRACE(std::string(c.request) + " " + c.path);
        const sqtest::HttpReply reply = Curl(std::string(c.request) + " " + Url(c.path));
        EXPECT_EQ(reply.status, c.status);
        if (c.body[0] == '^') EXPECT_TRUE(std::regex_search(reply.body, std::regex(c.body))) << reply.body;
        else EXPECT_EQ(reply.body, c.body);
    }
    // None of the refused requests changed anything or reached the window.
    EXPECT_EQ(GetPrefStore().GetInt("t.int"), 5);
    EXPECT_TRUE(server_->opened().empty());
    EXPECT_EQ(server_->events().texts(kEventUiCommand), (std::vector<std::string>{"qxid abc", "close_web 1"}));
}

// DNS rebinding: a page whose own name was pointed at 127.0.0.1 sends that name as Host. Only the
// names and addresses of this machine, as whole hosts, reach a route or a file.
TEST_F(ControlRoutesTest, OnlyHostsNamingThisMachineAreServed) {
    const std::string port = std::to_string(server_->port());
    struct HostCase {
        std::string host;  // the Host header's value; "" sends none
        bool served;
    } cases[] = {
        {"127.0.0.1:" + port, true}, {"127.0.0.1", true}, {"localhost:" + port, true}, {"LocalHost", true},
        {"127.255.3.4:80", true}, {"[::1]:" + port, true}, {"[::1]", true}, {"", true},
        {"127.evil.example", false}, {"127.evil.example:" + port, false}, {"127.0.0.1.evil.example", false},
        {"localhost.evil.example", false}, {"evil.example", false}, {"127.1", false}, {"127.0.0.01", false},
        {"0177.0.0.1", false}, {"127.0.0.256", false}, {"127.0.0.1.", false}, {"127.0.0.1:", false},
        {"127.0.0.1:80x", false}, {"[::1]x", false}, {"[::1]:", false}, {"[::2]", false}, {"[::1", false},
        {"128.0.0.1", false}, {"localhost:", false}, {"127.0.0.1@evil.example", false},
    };
    for (const HostCase& c : cases) {
        SCOPED_TRACE("Host: " + c.host);
        const std::string header = "-H 'Host:" + (c.host.empty() ? "" : " " + c.host) + "' ";
        const int value = c.served ? 7 : 9;
        const sqtest::HttpReply set = Curl(header + Url("/prefs/set?t.int=" + std::to_string(value)));
        const sqtest::HttpReply read = Curl(header + Url("/qx/get?query=progress"));
        const sqtest::HttpReply file = Curl(header + Url("/index.html"));
        const sqtest::HttpReply rpc = Curl(header + "--data-binary '<methodCall><methodName>qx.stats.progress</methodName>"
                                                    "</methodCall>' " + Url("/xmlrpc"));
        if (c.served) {
            EXPECT_EQ(set.body, "1");
            EXPECT_EQ(read.body, "-1");
            EXPECT_EQ(file.body, "home");
            EXPECT_NE(rpc.body.find("<methodResponse>\n<params>"), std::string::npos) << rpc.body;
        } else {
            for (const sqtest::HttpReply* r : {&set, &read, &file, &rpc}) {
                EXPECT_EQ(r->status, 403);
                EXPECT_EQ(r->body, "Forbidden");
            }
        }
    }
    EXPECT_EQ(GetPrefStore().GetInt("t.int"), 7);
}

// A browser marks where a request comes from even when the page sends no Referer: a change from
// another origin (another site, or another port of this one) is refused; reads, the server's own
// pages and requests of scripts (no marks at all) go on.
TEST_F(ControlRoutesTest, ChangesFromOtherOriginsAreRefused) {
    const std::string self = "http://127.0.0.1:" + std::to_string(server_->port());
    const std::string otherPort = "http://127.0.0.1:" + std::to_string(server_->port() == 1 ? 2 : server_->port() - 1);
    const std::string rpc = "--data-binary '<methodCall><methodName>qx.prefs.set</methodName><params><param><value>"
                            "<string>t.int</string></value></param><param><value><int>8</int></value></param></params>"
                            "</methodCall>' ";
    struct Case {
        std::string request;
        std::string path;
        int status;
    } cases[] = {
        {"-H 'Sec-Fetch-Site: cross-site'", "/prefs/set?t.int=8", 403},
        {"-H 'Sec-Fetch-Site: same-site'", "/qx/queue?action=clear", 403},
        {"-H 'Sec-Fetch-Site: Cross-Site' " + rpc, "/xmlrpc", 403},
        {"-H 'Sec-Fetch-Site: something-new'", "/ui?cmd=start", 403},
        {"-H 'Sec-Fetch-Site: same-origin' -H 'Origin: " + otherPort + "'", "/prefs/set?t.int=8", 403},
        {"-H 'Referer: " + otherPort + "/page.htm'", "/prefs/set?t.int=8", 403},
        {"-H 'Sec-Fetch-Site: cross-site'", "/qx/get?query=progress", 200},
        {"-H 'Sec-Fetch-Site: cross-site'", "/prefs/get?path=t.int", 200},
        {"-H 'Sec-Fetch-Site: same-origin' -H 'Referer: " + self + "/prefs/'", "/prefs/set?t.int=6", 200},
        {"-H 'Sec-Fetch-Site: none'", "/prefs/set?t.int=4", 200},
        {"", "/prefs/set?t.int=3", 200},
    };
    QueueAppend(QueueNewItem("/in/kept.flac"));
    std::vector<int> values;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request + " " + c.path);
        const sqtest::HttpReply reply = Curl(c.request + " " + Url(c.path));
        EXPECT_EQ(reply.status, c.status);
        if (c.status == 403) {
            EXPECT_EQ(reply.body, "Forbidden");
        }
        values.push_back(GetPrefStore().GetInt("t.int"));
    }
    EXPECT_EQ(values, (std::vector<int>{5, 5, 5, 5, 5, 5, 5, 5, 6, 4, 3}));
    EXPECT_EQ(QueueFiles(), "/in/kept.flac");
    EXPECT_TRUE(server_->events().texts(kEventUiCommand).empty());
}

struct PrefsSetCase {
    const char* posted;
    const char* body;
    int intValue;
    const char* strValue;
};

TEST_F(ControlRoutesTest, PrefsSetTakesPairRunsFormsAndQueries) {
    const PrefsSetCase cases[] = {
        {"t.int=7;t.str=x;", "2", 7, "x"},
        {"t.int=8\r\nt.str=a;b\r\n", "2", 8, "a;b"},
        {"t.int=6", "1", 6, "a;b"},  // the end of the body ends the last value
        {"t.int=4&t.str=two%20words", "2", 4, "two words"},  // a form body
        {"t.int=1;nope=3;", "1", 1, "two words"},
    };
    for (const PrefsSetCase& c : cases) {
        SCOPED_TRACE(c.posted);
        const std::string body = tmp_.write("body.txt", c.posted);
        const sqtest::HttpReply reply = Curl("--data-binary @" + body + " " + Url("/prefs/set"));
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.body, c.body);
        EXPECT_EQ(GetPrefStore().GetInt("t.int"), c.intValue);
        EXPECT_STREQ(GetPrefStore().GetString("t.str"), c.strValue);
    }
    server_->events().clear();
    sqtest::HttpReply r = Curl(Url("/prefs/set?t.int=3&redirect=/done.htm%0D%0ASet-Cookie:%20x=1"));
    EXPECT_EQ(r.status, 301);
    EXPECT_EQ(r.location, "/done.htm");
    EXPECT_EQ(GetPrefStore().GetInt("t.int"), 3);
    auto events = server_->events().events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().code, kEventSettingsChanged);
    EXPECT_EQ(events.back().arg, 4);

    r = Curl(Url("/prefs/revert?path=t.int"));
    EXPECT_EQ(r.body, "5");
    EXPECT_EQ(GetPrefStore().GetInt("t.int"), 5);
}

TEST_F(ControlRoutesTest, SethostUsesTheClientAddress) {
    EXPECT_EQ(Curl(Url("/ui?cmd=sethost&arg=8080")).body, "OK");
    EXPECT_STREQ(GetPrefStore().GetString("overall.task.destdir"), "http://127.0.0.1:8080");
    // A forwarded address counts only from a local proxy, which this request comes from.
    EXPECT_EQ(Curl("-H 'X-Forwarded-For: 192.168.1.5' " + Url("/qx/action?cmd=sethost&arg=81")).body, "OK");
    EXPECT_STREQ(GetPrefStore().GetString("overall.task.destdir"), "http://192.168.1.5:81");
}

TEST_F(ControlRoutesTest, UiCommandsReachTheWindowWithTheirArgument) {
    EXPECT_EQ(Curl(Url("/ui?cmd=seek&arg=%2B30")).body, "OK");
    server_->events().answer(kEventUiCommand, 1);
    EXPECT_EQ(Curl(Url("/qx/action?cmd=start")).body, "Error");
    EXPECT_EQ(server_->events().texts(kEventUiCommand), (std::vector<std::string>{"seek +30", "start"}));
}

TEST_F(ControlRoutesTest, PrefsImportAppliesOnlyAWholeDocument) {
    const std::string good =
        "<QuorvexPrefs><node key=\"t\"><node key=\"int\">11</node><node key=\"str\">AC+DC</node></node></QuorvexPrefs>";
    sqtest::HttpReply r = Curl("--data-binary '" + good + "' " + Url("/prefs/import"));
    EXPECT_EQ(r.body, "OK");
    EXPECT_EQ(GetPrefStore().GetInt("t.int"), 11);
    EXPECT_STREQ(GetPrefStore().GetString("t.str"), "AC+DC");  // raw XML is not URL-decoded

    // Cut short, or with a broken element: nothing of it is applied.
    for (const char* bad : {"<QuorvexPrefs><node key=\"t\"><node key=\"int\">12</node><node key=\"str\">x",
                            "<QuorvexPrefs><node key=\"t\"><node key=\"int\">12</node></x></QuorvexPrefs>"}) {
        r = Curl(std::string("--data-binary '") + bad + "' " + Url("/prefs/import"));
        EXPECT_EQ(r.body, "error") << bad;
        EXPECT_EQ(GetPrefStore().GetInt("t.int"), 11) << bad;
    }
    // The form variant carries the document URL-encoded in "payload=".
    r = Curl("--data-binary 'payload=%3CQuorvexPrefs%3E%3Cnode%20key=%22t%22%3E%3Cnode%20key=%22int%22%3E13%3C%2Fnode%3E"
             "%3C%2Fnode%3E%3C%2FQuorvexPrefs%3E&x=1' " +
             Url("/prefs/import"));
    EXPECT_EQ(r.body, "OK");
    EXPECT_EQ(GetPrefStore().GetInt("t.int"), 13);
    EXPECT_EQ(Curl("-X POST " + Url("/prefs/import")).body, "error");
}

TEST_F(ControlRoutesTest, QueueRouteAddsRemovesAndClears) {
    EXPECT_EQ(Curl(Url("/qx/queue?action=addfile&file=/m/$(RemoteIP)/a.mp3")).status, 200);
    EXPECT_EQ(Curl(Url("/queue?action=addfile&file=/m/b.flac")).status, 200);
    EXPECT_EQ(QueueFiles(), "/m/127.0.0.1/a.mp3|/m/b.flac");
    // Many markers grow the path past its first length without harm.
    std::string many;
    for (int i = 0; i < 23; ++i) many += "$(RemoteIP)";
    Curl(Url("/queue?action=addfile&file=" + many));
    EXPECT_EQ(QueueCount(), 3);
    EXPECT_EQ(Curl(Url("/queue?action=remove&file=/m/b.flac&xsl=list.xsl")).body,
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<?xml-stylesheet type=\"text/xsl\" href=\"list.xsl\"?>\n"
              "<response>\n  <state>OK</state>\n</response>\n");
    EXPECT_EQ(QueueCount(), 2);
    // A stylesheet address that would break out of its instruction is left out.
    EXPECT_EQ(Curl(Url("/queue?action=x&xsl=%22%3F%3E%3Cscript%3E")).body.find("script"), std::string::npos);
    Curl(Url("/qx/queue?action=clear"));
    EXPECT_EQ(QueueCount(), 0);
    EXPECT_FALSE(server_->events().texts(kEventQueueChanged).empty());
}

TEST_F(ControlRoutesTest, FolderWalkSkipsLinkLoopsAndOtherTypes) {
    tmp_.write("media/A.MP3", "x");
    tmp_.write("media/c.wav", "x");
    tmp_.write("media/noext", "x");
    tmp_.write("media/sub/b.flac", "x");
    std::filesystem::create_directory_symlink(tmp_.file("media"), tmp_.file("media/sub/loop"));
    const std::string media = tmp_.file("media");
    Curl(Url("/queue?action=addfolder&file=" + media + "/"));
    EXPECT_EQ(QueueFiles(), media + "/A.MP3");
    Curl(Url("/queue?action=clear"));
    Curl(Url("/queue?action=addfolders&file=" + media));
    EXPECT_EQ(QueueFiles(), media + "/A.MP3|" + media + "/sub/b.flac");
}

TEST_F(ControlRoutesTest, TaskBodiesAddAndRemoveItems) {
    auto post = [&](const std::string& body) { return Curl("--data-binary '" + body + "' " + Url("/qx/task")); };
    EXPECT_EQ(post("<t><add><path>/m/AC+DC 100%.mp3</path></add><ADD><path>/m/b.mp3</path></ADD>"
                   "<add><path>/m/c.mp3</path></add></t>").body, "OK");
    EXPECT_EQ(QueueFiles(), "/m/AC+DC 100%.mp3|/m/b.mp3|/m/c.mp3");
    EXPECT_EQ(post("<t><remove><index>0</index><path>/m/c.mp3</path><x/></remove></t>").body, "OK");
    EXPECT_EQ(QueueFiles(), "/m/b.mp3");
    EXPECT_EQ(post("payload=%3Ct%3E%3Cadd%3E%3Cpath%3E%2Fm%2Fd.mp3%3C%2Fpath%3E%3C%2Fadd%3E%3C%2Ft%3E").body, "OK");
    EXPECT_EQ(QueueFiles(), "/m/b.mp3|/m/d.mp3");
    EXPECT_EQ(post("<t><remove/></t>").body, "OK");
    EXPECT_EQ(QueueCount(), 0);
}

TEST_F(ControlRoutesTest, OpenUrlAndPutOpenOnlyWebAddresses) {
    EXPECT_EQ(Curl(Url("/openurl?url=https://example.org/a?b")).body, "https://example.org/a?b");
    Curl(Url("/qx/put?launch=1&blank=http/../../../usr/bin/xterm"));
    sqtest::HttpReply r = Curl(Url("/qx/put?launch=1&noshow=1&blank=http://example.org/&url=/welcome.htm"));
    EXPECT_EQ(r.status, 301);
    EXPECT_EQ(r.location, "/welcome.htm");
    EXPECT_EQ(server_->opened(), (std::vector<std::string>{"https://example.org/a?b", "http://example.org/"}));
    EXPECT_EQ(GetPrefStore().GetInt("overall.ui.noWelcome"), 4321);
    EXPECT_EQ(server_->events().texts(kEventUiCommand), (std::vector<std::string>{"show_ui", "show_ui"}));

    r = Curl(Url("/qx/put?ackbuild=123"));
    EXPECT_EQ(r.status, 301);
    EXPECT_EQ(GetPrefStore().GetInt("overall.generic.ignoredBuild"), 123);
}

struct RawCase {
    const char* request;
    const char* replyStart;  // "" : the connection is closed without a reply
};

// The server's own defences hold with the routes in place: paths a handler builds stay in the web
// root, malformed requests are closed, and a client that stalls holds up nobody.
TEST_F(ControlRoutesTest, ServerStaysRobustWithRoutes) {
    tmp_.write("secret.txt", "TOP-SECRET");
    const int stalled = httpdtest::Connect(server_->port());
    ASSERT_GE(stalled, 0);
    ASSERT_TRUE(httpdtest::SendAll(stalled, "GET /qx/get?query=pro"));
    const RawCase cases[] = {
        {"GET /~/etc/passwd HTTP/1.1\r\n\r\n", "HTTP/1.1 404"},
        {"GET /start/../../secret.txt HTTP/1.1\r\n\r\n", "HTTP/1.1 404"},
        {"GET /start%2F..%2F..%2Fsecret.txt HTTP/1.1\r\n\r\n", "HTTP/1.1 404"},
        {"POST /xmlrpc HTTP/1.1\r\nContent-Length: -5\r\n\r\n", ""},
        {"POST /prefs/set HTTP/1.1\r\nContent-Type: x; filename=a\r\nContent-Length: 1\r\n\r\nx", ""},
        {"PUT /prefs/set?t.int=1 HTTP/1.1\r\n\r\n", ""},
        {"GET /qx/get?query=progress HTTP/1.0\r\n\r\n", "HTTP/1.1 200"},
    };
    for (const RawCase& c : cases) {
        const std::string reply = httpdtest::Exchange(server_->port(), c.request);
        EXPECT_EQ(reply.substr(0, strlen(c.replyStart)), c.replyStart) << c.request;
        if (!*c.replyStart) {
            EXPECT_TRUE(reply.empty()) << c.request << reply;
        }
        EXPECT_EQ(reply.find("TOP-SECRET"), std::string::npos);
    }
    EXPECT_EQ(GetPrefStore().GetInt("t.int"), 5);
    close(stalled);
}

// The table of routes, in the order they are tried, and its editing functions.
TEST(RouteTable, ControlRoutesKeepTheirOrderAndRefuseDuplicates) {
    WebServer server;
    RegisterControlRoutes(&server);
    std::vector<std::string> prefixes;
    for (UrlRoute* r = server.routes; r->prefix; ++r) prefixes.push_back(r->prefix);
    ASSERT_EQ(prefixes.size(), 29u);
    EXPECT_EQ(prefixes.front(), "xmlrpc");
    EXPECT_EQ(prefixes.back(), "start");
    auto at = [&](const char* p) { return std::find(prefixes.begin(), prefixes.end(), p) - prefixes.begin(); };
    EXPECT_LT(at("qx/queue.m3u"), at("qx/queue"));
    EXPECT_EQ(WebServerAddRoute(&server, "xmlrpc", nullptr, nullptr), 0);
    EXPECT_EQ(WebServerAddRoute(&server, nullptr, nullptr, nullptr), 29);
    EXPECT_EQ(WebServerRemoveRoute(&server, "nope"), -1);
    EXPECT_EQ(WebServerRemoveRoute(&server, "qx/get"), 0);
    EXPECT_EQ(WebServerAddRoute(&server, nullptr, nullptr, nullptr), 28);
    EXPECT_EQ(std::string(server.routes[3].prefix), "qx/itemstats_");
}

}  // namespace

namespace {

uint32_t Decline(UrlRequest*) { return 0; }
uint32_t EchoX(UrlRequest* r) {
    r->length = snprintf(r->reply, static_cast<size_t>(r->length), "x=%s", WebGetVar(r->variables, "x", "-"));
    return kReplyBuffer;
}

// A route tried after an earlier one declined sees the same query variables.
TEST(RouteDispatch, LaterRoutesGetTheQueryAfterADecline) {
    WebServer server;
    WebServerAddRoute(&server, "a", Decline, nullptr);
    WebServerAddRoute(&server, "ab", EchoX, nullptr);
    WebConnection c;
    WebResetConnection(&c);
    c.state |= kReplyGet;
    c.path = strdup("/ab?x=1");
    EXPECT_EQ(WebDispatchRoute(&server, &c), kReplyBuffer);
    EXPECT_EQ(std::string(c.replyBuffer, static_cast<size_t>(c.pending)), "x=1");
    free(c.path);
    free(c.requestBuffer);
}

// The engine starts the control server on loopback only, unless the user opened it to the network.
TEST(ControlServerStart, ListensOnLoopbackUnlessOpened) {
    for (int remote : {0, 1}) {
        sqtest::EventRecorder events;
        sqtest::PrefBuilder prefs(GetPrefStore());
        prefs.Add("overall.httpd.port", kPrefInt, "0");
        prefs.Add("overall.httpd.remote", kPrefBool, remote ? "1" : "0");
        ASSERT_EQ(StartHttpServer(), 0);
        EXPECT_GT(events.context().httpPort.load(), 0);
        EXPECT_EQ(g_controlServer.bindAddress, remote ? kWebBindAny : WebBindLoopback()) << remote;
        WebServerStop(&g_controlServer);
    }
}

}  // namespace

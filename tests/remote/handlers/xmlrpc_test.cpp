// The XML-RPC route called by Python's xmlrpc.client (and by curl for what a client library never
// sends): every method, what it answers and what it changes in the queue and the preferences.
#include <gtest/gtest.h>

#include <fstream>

#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "remote/handlers/xmlrpc_methods.h"
#include "remote/httpd/httpd_fixture.h"
#include "remote/httpd/web_server.h"
#include "support/control_server.h"
#include "support/tempdir.h"

namespace {

using sqtest::QueueFiles;

struct RpcCaseT {
    const char* call;
    const char* answer;  // as Python prints it; "()" is a response without a value
};

class XmlRpcTest : public ::testing::Test {
protected:
    void SetUp() override { server_ = std::make_unique<sqtest::ControlServer>(tmp_.file("root")); }
    void TearDown() override { UnregisterUiMethods(); }

    // Runs Python statements with `s` a proxy of the route; what they print.
    std::string Py(const std::string& statements) {
        const std::string script = tmp_.write("call.py",
            "import sys, xmlrpc.client\n"
            "s = xmlrpc.client.ServerProxy(sys.argv[1], allow_none=True)\n"
            "def show(f):\n"
            "    try:\n"
            "        print(repr(f()))\n"
            "    except xmlrpc.client.Fault as e:\n"
            "        print('Fault %d' % e.faultCode)\n" +
            statements + "\n");
        std::string out = httpdtest::Shell("python3 " + script + " " + server_->url("/xmlrpc"), 30).output;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }
    // One call's printed answer.
    std::string Call(const std::string& call) { return Py("show(lambda: s." + call + ")"); }

    // Makes every call of the table in order over one proxy (one interpreter start: it is slow on
    // a busy machine) and compares each printed answer.
    template <size_t N>
    void Expect(const RpcCaseT (&cases)[N]) {
        std::string statements;
        for (const RpcCaseT& c : cases) statements += std::string("show(lambda: s.") + c.call + ")\n";
        const std::string out = Py(statements) + "\n";
        size_t at = 0;
        for (const RpcCaseT& c : cases) {
            const size_t end = out.find('\n', at);
            EXPECT_EQ(out.substr(at, end == std::string::npos ? std::string::npos : end - at), c.answer) << c.call;
            at = end == std::string::npos ? out.size() : end + 1;
        }
    }

    sqtest::TempDir tmp_;
    std::unique_ptr<sqtest::ControlServer> server_;
};


TEST_F(XmlRpcTest, QueueMethods) {
    const RpcCaseT cases[] = {
        {"qx.queue.add('/m/a.mp3', -1)", "True"},
        {"qx.queue.add('/m/b & <c>.mp3', -1)", "True"},
        {"qx.queue.get(0)['filename']", "'/m/a.mp3'"},
        {"qx.queue.get(1)", "{'filename': '/m/b & <c>.mp3', 'filesize': 0, 'duration': 0, 'begin': 0, 'end': 0}"},
        {"qx.queue.get(9)", "()"},
        {"qx.queue.get()", "()"},
        {"qx.queue.add('/m/z.mp3', -2)", "True"},
        {"qx.queue.get(0)['filename']", "'/m/z.mp3'"},
        {"qx.queue.get(1)", "()"},
        {"qx.queue.add('', 0)", "()"},
        {"qx.queue.add()", "()"},
        {"qx.queue.add('/m/y.mp3', 0)", "True"},
        {"qx.queue.add('/m/q.mp3', 7)", "False"},
        {"qx.queue.output(0)", "()"},
        {"qx.mplayer.opts(0)['path']", "'mplayer'"},
        {"qx.mplayer.opts(5)", "()"},
        {"qx.stats.progress()", "0"},
    };
    Expect(cases);
    EXPECT_EQ(QueueFiles(), "/m/y.mp3|/m/z.mp3");
    // The refused insertion left no item behind.
    EXPECT_EQ(QueueItemsInUse(), 2);
}

TEST_F(XmlRpcTest, PreferenceMethods) {
    const RpcCaseT cases[] = {
        {"qx.prefs.get('t.enum')", "'medium'"},
        {"qx.prefs.get('t.int')", "5"},
        {"qx.prefs.get('t.float')", "1.5"},
        {"qx.prefs.get('t.bool')", "False"},
        {"qx.prefs.get('t')", "()"},
        {"qx.prefs.get('nope')", "()"},
        {"qx.prefs.set('t.int', {'a': 1})", "False"},
        {"qx.prefs.set('nope', 1)", "False"},
        {"qx.prefs.set('t.int')", "False"},
        {"qx.prefs.set()", "()"},
        {"qx.prefs.set('t.int', 9)", "True"},
        {"qx.prefs.set('t.float', 2.25)", "True"},
        {"qx.prefs.set('t.bool', True)", "True"},
        {"qx.prefs.set('t.str', 'Tom & Jerry <b>')", "True"},
        {"qx.prefs.get('t.str')", "'Tom & Jerry <b>'"},
        {"qx.prefs.set('t.str', 7)", "True"},
    };
    Expect(cases);
    PrefStore& prefs = GetPrefStore();
    EXPECT_EQ(prefs.GetInt("t.int"), 9);
    EXPECT_FLOAT_EQ(prefs.GetFloat("t.float"), 2.25f);
    EXPECT_EQ(prefs.GetInt("t.bool"), 1);
    EXPECT_STREQ(prefs.GetString("t.str"), "7");
    // Every change told the interface; the refused ones did not.
    int notices = 0;
    for (const auto& e : server_->events().events())
        if (e.code == kEventSettingsChanged && e.data == 2 && e.arg == 0) ++notices;
    EXPECT_EQ(notices, 5);
    EXPECT_EQ(Call("qx.prefs.revert()"), "True");
}

TEST_F(XmlRpcTest, FaultsAndMalformedCalls) {
    EXPECT_EQ(Call("qx.nothing()"), "Fault -32601");
    // The "ui." methods exist only once the program has installed what they act on.
    EXPECT_EQ(Call("ui.jobs.start()"), "Fault -32601");
    // Two calls over one proxy.
    EXPECT_EQ(Py("show(lambda: s.qx.prefs.get('t.int'))\nshow(lambda: s.qx.prefs.get('t.enum'))"), "5\n'medium'");

    auto post = [&](const std::string& body) {
        const std::string file = tmp_.write("body.xml", body);
        return sqtest::Curl("-H 'Content-Type: text/xml' --data-binary @" + file + " '" + server_->url("/xmlrpc") + "'");
    };
    sqtest::HttpReply r = post("<?xml version=\"1.0\"?><methodCall><methodName>qx.prefs.get</methodName>");
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("<fault>"), std::string::npos) << r.body;
    // A deeply nested value is answered with a fault, and the server goes on.
    std::string deep = "<?xml version=\"1.0\"?><methodCall><methodName>qx.prefs.get</methodName><params><param>";
    for (int i = 0; i < 5000; ++i) deep += "<value><array><data>";
    for (int i = 0; i < 5000; ++i) deep += "</data></array></value>";
    deep += "</param></params></methodCall>";
    r = post(deep);
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("<fault>"), std::string::npos);
    // A form carries the call URL-encoded; what follows the call is dropped.
    r = post("payload=%3C%3Fxml%20version%3D%221.0%22%3F%3E%3CmethodCall%3E%3CmethodName%3Eqx.prefs.get%3C%2FmethodName%3E"
             "%3Cparams%3E%3Cparam%3E%3Cvalue%3E%3Cstring%3Et.int%3C%2Fstring%3E%3C%2Fvalue%3E%3C%2Fparam%3E%3C%2Fparams%3E"
             "%3C%2FmethodCall%3E&x=1");
    EXPECT_NE(r.body.find("<int>5</int>"), std::string::npos) << r.body;
}

TEST_F(XmlRpcTest, UiMethodsActThroughTheProgramsHooks) {
    std::mutex mutex;
    std::vector<std::string> calls;
    auto note = [&](std::string what) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(what));
    };
    RpcUiHooks hooks;
    hooks.mainWindowExists = [] { return true; };
    hooks.sendCommand = [&](const char* command) { note(command); return 0; };
    hooks.showMain = [&](bool show) { note(show ? "show" : "minimise"); };
    hooks.settingsChanged = [&](int level) { note("settings " + std::to_string(level)); };
    hooks.selectedRow = [] { return 3; };
    hooks.refreshList = [&] { note("refresh"); };
    hooks.revertPrefs = [&] { note("revert"); };
    hooks.focusedRow = [] { return -1; };
    hooks.playItem = [&](int index) { note("play " + std::to_string(index)); return 0; };
    hooks.playerStop = [&] { note("player stop"); };
    hooks.playerPause = [&] { note("pause"); };
    hooks.playerSeek = [&](double at) { note("seek " + std::to_string(static_cast<int>(at * 10))); return 0; };
    RegisterUiMethods(hooks);

    const RpcCaseT cases[] = {
        {"ui.jobs.start()", "True"},
        {"ui.jobs.stop()", "False"},
        {"ui.dialogs.showTime()", "True"},
        {"ui.dialogs.showClipper()", "True"},
        {"ui.dialogs.showCropper()", "True"},
        {"ui.dialogs.showMain(False)", "True"},
        {"ui.dialogs.showMain(True)", "True"},
        {"ui.dialogs.openURL('file:///etc/passwd', 0)", "False"},
        {"ui.dialogs.openURL('http://example.org/', 0)", "True"},
        {"ui.dialogs.openURL('', 0)", "()"},
        {"ui.dialogs.refresh()", "True"},
        {"ui.list.getSelectIndex()", "3"},
        {"ui.list.refresh()", "True"},
        {"ui.list.addFile()", "True"},
        {"ui.list.addDir()", "True"},
        {"ui.list.addTrack()", "True"},
        {"ui.prefs.revert()", "True"},
        {"ui.player.play(-1)", "True"},
        {"ui.player.play(2)", "True"},
        {"ui.player.seek()", "False"},
        {"ui.player.seek(12.5)", "True"},
        {"ui.player.pause()", "True"},
        {"ui.player.stop()", "True"},
    };
    Expect(cases);
    EXPECT_EQ(calls, (std::vector<std::string>{"start", "show time", "show clipper", "show cropper", "minimise", "show",
                                               "settings 2", "refresh", "revert", "settings 2", "play 0", "play 2",
                                               "seek 125", "pause", "player stop"}));
    EXPECT_EQ(server_->opened(), std::vector<std::string>{"http://example.org/"});
    EXPECT_EQ(server_->events().texts(kEventUiCommand), (std::vector<std::string>{"add_file", "add_dir", "add_track"}));

    // While an item runs, a start is refused and a stop goes through.
    QueueItem* item = QueueNewItem("/m/run.mp3");
    ASSERT_EQ(QueueAppend(item), 0);
    AudioTask task;
    item->audioTask = &task;
    item->state = kItemEncoding;
    calls.clear();
    EXPECT_EQ(Call("ui.jobs.start()"), "False");
    EXPECT_EQ(Call("ui.jobs.stop()"), "True");
    EXPECT_EQ(calls, std::vector<std::string>{"stop"});
    item->audioTask = nullptr;

    // A restart of the control server keeps every method.
    server_.reset();
    server_ = std::make_unique<sqtest::ControlServer>(tmp_.file("root"));
    EXPECT_EQ(Py("m = s.system.listMethods()\nprint(len([x for x in m if x.startswith(('qx.', 'ui.'))]))"), "26");
    EXPECT_EQ(Call("ui.list.getSelectIndex()"), "3");
}

}  // namespace

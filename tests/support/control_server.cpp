#include "support/control_server.h"

#include <cstdlib>

#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "platform/shell_open.h"
#include "remote/handlers/routes.h"
#include "remote/httpd/httpd_fixture.h"
#include "remote/httpd/web_server.h"
#include "support/pref_builder.h"

namespace sqtest {

ControlServer::ControlServer(const std::string& webRoot, bool ownPrefs) {
    if (ownPrefs) AddTestPrefs();
    QueueClear();
    events_.context().buildNumber = 4321;
    platform::SetShellOpenHook([this](const std::string& target) {
        std::lock_guard lock(mutex_);
        opened_.push_back(target);
        return true;
    });
    RegisterControlRoutes(&g_controlServer);
    port_ = WebServerStart(&g_controlServer, 0, 0, webRoot.c_str(), WebBindLoopback());
}

void ControlServer::AddTestPrefs() {
    PrefBuilder prefs(GetPrefStore());
    prefs.Add("t.int", kPrefInt, "5")->label = "A number";
    prefs.Add("t.enum", kPrefEnum, "1", {"low", "medium", "high"});
    prefs.Add("t.str", kPrefString, "plain")->description = "Some text";
    prefs.Add("t.float", kPrefFloat, "1.5");
    prefs.Add("t.bool", kPrefBool, "0");
    prefs.Add("t.on", kPrefBool, "1");
    prefs.Add("overall.task.destdir", kPrefDir, "");
    prefs.Add("overall.generic.ignoredBuild", kPrefInt, "0");
    prefs.Add("overall.ui.noWelcome", kPrefInt, "0");
    prefs.Add("overall.generic.fileTypes", kPrefString, "mp3;flac");
    prefs.Add("overall.generic.wildcard", kPrefString, "*.*");
    prefs.Add("audiosrc.winamp.dir", kPrefDir, "");
    prefs.Add("audiosrc.winamp.disabledInPlugins", kPrefString, "");
    prefs.Add("audiosrc.winamp.enabledDspPlugins", kPrefString, "");
    GetPrefStore().RebuildKeyIndex();
}

ControlServer::~ControlServer() {
    WebServerStop(&g_controlServer);
    platform::SetShellOpenHook(nullptr);
    QueueClear();
}

std::string ControlServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> ControlServer::opened() const {
    std::lock_guard lock(mutex_);
    return opened_;
}

HttpReply Curl(const std::string& arguments) {
    HttpReply reply;
    const httpdtest::CommandResult r = httpdtest::Shell("curl -sS -i --max-time 20 " + arguments, 30);
    const std::string& raw = r.output;
    if (raw.rfind("HTTP/", 0) != 0) return reply;
    reply.status = atoi(raw.c_str() + raw.find(' ') + 1);
    reply.body = httpdtest::Body(raw);
    reply.location = httpdtest::HeaderValue(raw, "Location");
    return reply;
}

std::string QueueFiles() {
    std::string out;
    QueueLockGuard lock;
    for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) {
        if (!out.empty()) out += "|";
        out += it->file ? it->file : "";
    }
    return out;
}

}  // namespace sqtest

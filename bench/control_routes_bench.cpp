// Requests per second of the control server's routes against a static file of the same server, all
// on 127.0.0.1 under wrk for the same bounded time: the progress query ("qx/get?query=progress"),
// an XML-RPC call ("qx.prefs.get") and a 1 KB file. Reported as counters: each route's rate and its
// ratio to the file's rate. Needs wrk; the benchmark is skipped without it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/context.h"
#include "engine/prefs/prefstore.h"
#include "remote/handlers/routes.h"
#include "remote/httpd/httpd_fixture.h"
#include "remote/httpd/web_server.h"

namespace {

constexpr int kSeconds = 3;

const char kDefinitions[] =
    "<QuorvexPrefs><node type=\"node\" key=\"t\"><node type=\"int\" key=\"int\"><value>5</value></node></node>"
    "</QuorvexPrefs>";

// Requests per second of one wrk run (a Lua script file for a posted body, or none); 0 on failure.
double Rate(const std::string& url, const std::string& script) {
    const std::string command = "wrk -t2 -c8 -d" + std::to_string(kSeconds) + "s -H 'Connection: close' " +
                                (script.empty() ? "" : "-s " + script + " ") + "'" + url + "'";
    const std::string out = httpdtest::Shell(command, kSeconds + 30).output;
    if (out.find("Non-2xx") != std::string::npos) return 0;
    const size_t at = out.find("Requests/sec:");
    return at == std::string::npos ? 0 : std::atof(out.c_str() + at + 13);
}

void BM_ControlRoutesVsStaticFile(benchmark::State& state) {
    if (httpdtest::Shell("which wrk").exitCode != 0) {
        state.SkipWithError("wrk is not installed");
        return;
    }
    char tmpl[] = "/tmp/routes-bench-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const std::string root = dir + "/root";
    std::filesystem::create_directories(root);
    std::ofstream(root + "/small.html") << "<html><body>" << std::string(1024 - 27, 'x') << "</body></html>\n";
    const std::string script = dir + "/call.lua";
    std::ofstream(script) << "wrk.method = \"POST\"\nwrk.headers[\"Content-Type\"] = \"text/xml\"\nwrk.body = "
                             "'<?xml version=\"1.0\"?><methodCall><methodName>qx.prefs.get</methodName><params><param>"
                             "<value><string>t.int</string></value></param></params></methodCall>'\n";

    EngineContext context;
    context.eventCallback = [](int, intptr_t, int64_t) { return 0; };
    SetEngineContext(&context);
    GetPrefStore().LoadDefinitionsBuffer(kDefinitions, sizeof kDefinitions - 1, "QuorvexPrefs");
    RegisterControlRoutes(&g_controlServer);
    const int port = WebServerStart(&g_controlServer, 0, 64, root.c_str(), WebBindLoopback());
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    double file = 0, progress = 0, rpc = 0;
    for (auto _ : state) {
        if (port == 0) {
            state.SkipWithError("the server did not start");
            break;
        }
        file = Rate(base + "/small.html", "");
        progress = Rate(base + "/qx/get?query=progress", "");
        rpc = Rate(base + "/xmlrpc", script);
    }
    WebServerStop(&g_controlServer);
    SetEngineContext(nullptr);
    state.counters["file_rps"] = file;
    state.counters["progress_rps"] = progress;
    state.counters["xmlrpc_rps"] = rpc;
    state.counters["progress_ratio"] = file > 0 ? progress / file : 0;
    state.counters["xmlrpc_ratio"] = file > 0 ? rpc / file : 0;
    std::filesystem::remove_all(dir);
}

}  // namespace

BENCHMARK(BM_ControlRoutesVsStaticFile)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

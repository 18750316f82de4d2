// Requests per second for a small static file: the program's server against one nginx run, both on
// 127.0.0.1 and loaded by wrk for the same bounded time. Every request asks for "Connection:
// close", since the program's server carries one request per connection. Reported as counters:
// ostrel_rps, nginx_rps and their ratio (ostrel / nginx). Needs wrk and nginx installed; the
// benchmark is skipped when either is missing.
#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/net.h"
#include "remote/httpd/web_server.h"

namespace {

constexpr int kSeconds = 3;

std::string Capture(const std::string& command) {
    std::string out;
    FILE* p = popen(("timeout 60 " + command + " 2>&1").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

double RequestsPerSecond(int port, bool* clean) {
    std::string out = Capture("wrk -t2 -c16 -d" + std::to_string(kSeconds) + "s -H 'Connection: close' http://127.0.0.1:" +
                              std::to_string(port) + "/small.html");
    *clean = out.find("Socket errors") == std::string::npos && out.find("Non-2xx") == std::string::npos;
    size_t at = out.find("Requests/sec:");
    return at == std::string::npos ? 0.0 : std::atof(out.c_str() + at + 13);
}

int FreePort() {
    int port = 0;
    int fd = platform::NetListen(platform::NetLoopbackAddress(), 0, 1, &port);
    platform::NetClose(fd);
    return port;
}

bool WaitForPort(int port) {
    for (int i = 0; i < 100; ++i) {
        if (Capture("curl -s -o /dev/null -w '%{http_code}' http://127.0.0.1:" + std::to_string(port) + "/small.html") == "200")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void StopChild(pid_t pid) {
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

void BM_HttpdVsNginxSmallFile(benchmark::State& state) {
    bool haveWrk = !Capture("which wrk").empty();
    bool haveNginx = std::filesystem::exists("/usr/sbin/nginx") || !Capture("which nginx").empty();
    if (!haveWrk || !haveNginx) {
        state.SkipWithError("wrk or nginx is not installed");
        return;
    }
    char tmpl[] = "/tmp/httpd-bench-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string root = dir + "/root";
    std::filesystem::create_directories(root);
    std::ofstream(root + "/small.html") << "<html><body>" << std::string(500, 'x') << "</body></html>\n";

    double ostrel = 0, nginx = 0;
    bool ostrelClean = false, nginxClean = false;
    for (auto _ : state) {
        WebServer server;
        int port = WebServerStart(&server, 0, 64, root.c_str(), WebBindLoopback());
        if (port == 0) {
            state.SkipWithError("the server did not start");
            break;
        }
        ostrel = RequestsPerSecond(port, &ostrelClean);
        WebServerStop(&server);

        int nport = FreePort();
        std::ofstream(dir + "/nginx.conf")
            << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << dir << "/nginx.pid;\nerror_log " << dir
            << "/error.log;\nevents { worker_connections 1024; }\nhttp {\n  access_log off;\n  client_body_temp_path "
            << dir << "/body;\n  proxy_temp_path " << dir << "/proxy;\n  fastcgi_temp_path " << dir
            << "/fastcgi;\n  uwsgi_temp_path " << dir << "/uwsgi;\n  scgi_temp_path " << dir
            << "/scgi;\n  server {\n    listen 127.0.0.1:" << nport << ";\n    root " << root << ";\n  }\n}\n";
        pid_t pid = fork();
        if (pid == 0) {
            execlp("nginx", "nginx", "-p", dir.c_str(), "-e", (dir + "/error.log").c_str(), "-c",
                   (dir + "/nginx.conf").c_str(), static_cast<char*>(nullptr));
            execl("/usr/sbin/nginx", "nginx", "-p", dir.c_str(), "-e", (dir + "/error.log").c_str(), "-c",
                  (dir + "/nginx.conf").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid > 0 && WaitForPort(nport)) nginx = RequestsPerSecond(nport, &nginxClean);
        if (pid > 0) StopChild(pid);
    }
    state.counters["ostrel_rps"] = ostrel;
    state.counters["nginx_rps"] = nginx;
    state.counters["ratio"] = nginx > 0 ? ostrel / nginx : 0;
    state.counters["ostrel_clean"] = ostrelClean ? 1 : 0;
    state.counters["nginx_clean"] = nginxClean ? 1 : 0;
    std::filesystem::remove_all(dir);
}

}  // namespace

BENCHMARK(BM_HttpdVsNginxSmallFile)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

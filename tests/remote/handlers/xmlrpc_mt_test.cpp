// The program installs and withdraws the "ui." hooks on its own thread while the server thread is
// answering calls that use them: every call answers either the method's result or the fault.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "remote/handlers/xmlrpc_methods.h"
#include "remote/httpd/httpd_fixture.h"
#include "support/control_server.h"
#include "support/tempdir.h"

namespace {

TEST(XmlRpcHooks, ReplacedWhileCallsRun) {
    sqtest::TempDir tmp;
    sqtest::ControlServer server(tmp.file("root"));
    ASSERT_GT(server.port(), 0);
    std::atomic<bool> done{false};
    std::atomic<int> played{0};
    std::thread program([&] {
        for (int i = 0; !done.load(); ++i) {
            if (i % 2) {
                UnregisterUiMethods();
            } else {
                RpcUiHooks hooks;
                hooks.playItem = [&](int) { played.fetch_add(1); return 0; };
                RegisterUiMethods(hooks);
            }
            std::this_thread::yield();
        }
    });
    const std::string body =
        "<?xml version=\"1.0\"?><methodCall><methodName>ui.player.play</methodName><params><param><value><int>1</int>"
        "</value></param></params></methodCall>";
    const std::string request = "POST /xmlrpc HTTP/1.1\r\nContent-Type: text/xml\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    int answered = 0;
    for (int i = 0; i < 60; ++i) {
        const std::string reply = httpdtest::Exchange(server.port(), request);
        const bool result = reply.find("<boolean>1</boolean>") != std::string::npos;
        const bool fault = reply.find("<fault>") != std::string::npos;
        EXPECT_TRUE(result != fault) << reply;
        answered += result;
    }
    done.store(true);
    program.join();
    UnregisterUiMethods();
    EXPECT_EQ(played.load(), answered);
}

}  // namespace

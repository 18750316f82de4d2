// The control routes that parse posted bodies, fed with arbitrary bytes: the XML-RPC route (call
// parsing, dispatch and the response), the "qx/task" XML commands and the "prefs/set" pairs. The
// first byte picks the route; the rest is the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/context.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "remote/handlers/control_handlers.h"
#include "remote/handlers/xmlrpc_methods.h"
#include "remote/httpd/web_server.h"

namespace {

const char kDefinitions[] =
    "<QuorvexPrefs><node type=\"node\" key=\"t\">"
    "<node type=\"int\" key=\"int\"><value>5</value></node><node type=\"string\" key=\"str\"/>"
    "<node type=\"enum\" key=\"enum\"><enum>a|b</enum><value>a</value></node>"
    "</node></QuorvexPrefs>";

struct Setup {
    EngineContext context;
    char reply[4096];
    Setup() {
        context.eventCallback = [](int, intptr_t, int64_t) { return 0; };  // events and log lines dropped
        SetEngineContext(&context);
        GetPrefStore().LoadDefinitionsBuffer(kDefinitions, sizeof kDefinitions - 1, "QuorvexPrefs");
        RegisterRpcMethods(0, nullptr, nullptr);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    if (size < 1) return 0;
    char* body = static_cast<char*>(malloc(size));
    memcpy(body, data + 1, size - 1);
    body[size - 1] = 0;

    WebConnection connection;
    connection.state = kReplyPost;
    connection.requestLength = static_cast<int64_t>(size - 1);
    char path[] = "";
    UrlRequest request;
    request.connection = &connection;
    request.path = path;
    request.payload = body;
    request.reply = setup.reply;
    request.length = sizeof setup.reply;

    uint32_t result = 0;
    switch (data[0] % 3) {
    case 0: result = HandleXmlRpc(&request); break;
    case 1: result = HandleQxTask(&request); break;
    default: result = HandlePrefsSet(&request); break;
    }
    if ((result & kReplyFreeBuffer) && request.reply != setup.reply) free(request.reply);
    WebFreeVars(&request);
    free(body);
    QueueClear();
    return 0;
}

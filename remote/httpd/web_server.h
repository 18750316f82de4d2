// Ostrel: the program's small HTTP/1.1 server. Each running instance owns one thread that polls its
// listener and a fixed array of client slots, reads and parses requests, hands them to the route
// dispatcher or the file server and writes the replies. Everything a route handler does runs on
// that thread. Two instances live for the whole process: the control server and the streaming
// server.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/sync.h"

namespace platform {
class NetWaker;
}

struct WebServer;
struct WebConnection;
struct UrlRoute;

// The state word of a connection; route handlers return some of these bits.
enum ReplyFlags : uint32_t {
    kReplyGet = 0x1,               // request is GET
    kReplyPost = 0x2,              // request is POST
    kReplyDataSent = 0x80,         // some reply data has been sent
    kReplyClose = 0x100,           // close the connection after this reply
    kReplySubstitute = 0x200,      // substitute "$$name$$" references while sending the file
    kReplyNeedGrant = 0x400,       // uploads on this connection need the granted address
    kReplyFreeBuffer = 0x1000,     // free the handler's reply buffer after sending
    kReplyChunked = 0x2000,        // chunked transfer encoding
    kReplyCallAtClose = 0x4000,    // call the answering route once more when the connection closes
    kReplyFile = 0x10000,          // send a file
    kReplyBuffer = 0x20000,        // the reply is in the reply buffer
    kReplyOwnFile = 0x40000,       // the handler opened the file itself (descriptor in the connection)
    kReplyRedirect = 0x80000,      // redirect (301) to the text in the reply buffer
    kReplyStreamed = 0x100000,     // data comes from the route in pieces; no length is announced
    kReplyHeaderSent = 0x200000,   // the reply header has already been sent
    kReplyMultipart = 0x400000,    // multipart/form-data upload
    kReplySending = 0x40000000,    // waiting for the socket to become writable
    kReplyReading = 0x80000000u,   // waiting for request bytes
};

// Server flags.
inline constexpr uint32_t kWebListingAllowed = 0x1;
inline constexpr uint32_t kWebRangesRefused = 0x2;

// Sizes.
inline constexpr int kWebRequestBufferSize = 0x80000;  // per slot: request, then reply pieces
inline constexpr int kWebMaxPathLength = 512;          // a request target must be shorter
inline constexpr int kWebPostCap = 0x40000;            // most body bytes handed to a handler
inline constexpr int kWebMaxFormFields = 50;

// "$$name$$" substitution: writes the text for name at `at` (at most `capacity` bytes, which is the
// reference's own length) and returns its length, or a negative value to leave the reference.
using WebVariableCallback = int (*)(WebServer* server, const char* name, char* at, int capacity);
struct WebMultipart;
// Receives uploaded data; multipart->partState says which piece it is (1 first piece of a file,
// 0 more data, 2 last piece). Called with (nullptr, 0) when the request ends. Non-zero stops an
// upload whose buffer ran full.
using WebPostCallback = int (*)(WebServer* server, WebConnection* connection, WebMultipart* multipart,
                                const char* data, int64_t length);
// Consulted after a multipart upload: 1 grants uploads to the peer for 300 s, 2 withdraws the
// grant, 3 marks the connection as needing the grant, 4 clears that mark.
using WebUploadPermissionCallback = int (*)(WebServer* server, WebConnection* connection, WebMultipart* multipart);
using WebIdleCallback = void (*)(WebServer* server);

struct UrlVariable {
    char* name;
    char* value;
};

// Built on the server thread for each handler call.
struct UrlRequest {
    WebServer* server = nullptr;
    WebConnection* connection = nullptr;
    char* path = nullptr;               // request path after the route's prefix
    UrlVariable* variables = nullptr;   // parsed variables (malloc'd array), null until parsed
    int32_t variableCount = -1;         // -1: not parsed yet
    char* request = nullptr;            // the raw header block, NUL-terminated
    char* reply = nullptr;              // where the handler writes its reply
    char* payload = nullptr;            // POST body or null
    int32_t length = 0;                 // in: reply buffer size; out: bytes written
    int32_t dataLength = 0;             // out: total length to announce when larger than the piece
    int32_t contentType = 0;            // out: content-type index
    void* context = nullptr;
};

using UrlHandler = uint32_t (*)(UrlRequest* request);
// action 0 when the server starts listening, 1 when its thread ends; non-zero at 0 disables the route.
using UrlInit = int (*)(int action, UrlRoute* route, WebServer* server);

// A route table entry; a table is one malloc'd array ended by an entry whose prefix is null.
struct UrlRoute {
    const char* prefix;
    UrlHandler handler;  // null = disabled
    UrlInit init;
    void* context;
};

// Basic authentication entry; a table ends with a null prefix.
struct WebAuthEntry {
    const char* prefix;
    const char* user;
    const char* password;
    const char* group;
    char credential[64];  // "Basic " + Base64("user:password") + CR LF, built on first use
};

// Alias folder entry; a table ends with a null prefix.
struct WebAlias {
    const char* prefix;
    char folder[264];
};

struct WebFormField {
    char* name;   // malloc'd copies: the buffer they came from moves
    char* value;
};

// Upload parser state, allocated per request.
struct WebMultipart {
    char boundary[80];        // "--" + boundary; empty for an upload without a boundary
    int32_t partState;        // 1 a file part begins, 0 more data, 2 last piece sent / between parts
    int64_t buffered;         // bytes waiting in the request buffer
    WebFormField fields[kWebMaxFormFields];
    WebServer* server;
    int32_t fieldCount;
    char* path;               // the request path
    char fileName[272];       // at most 259 characters kept
    bool skipPart;            // the current file part was refused; its data is dropped
};

struct WebConnection {
    int socket = -1;                 // -1: slot free
    uint32_t peerAddress = 0;        // host order; X-Forwarded-For from a loopback peer replaces it
    int32_t minorVersion = 0;        // 0 turns chunked replies off
    int64_t rangeStart = 0;
    bool rangeGiven = false;
    char* path = nullptr;            // request target without its leading '/', malloc'd
    bool pathFromHandler = false;    // the path was written by a handler: '~' means the working folder
    std::string referer;             // header values, cut at the end of their line
    std::string host;
    std::string transport;
    std::string authorization;       // after a successful check: the entry's group text
    bool hasAuthorization = false;
    int32_t headerLength = 0;        // bytes of the header block with the blank line; 0 until complete
    char* payload = nullptr;         // POST body, malloc'd and NUL-terminated
    int64_t requestLength = 0;       // Content-Length of the request
    int32_t cseq = 0;
    int32_t status = 200;
    int32_t replyHeaderLength = 0;
    int64_t sent = 0;                // reply data bytes sent
    int64_t contentLength = 0;       // reply length announced in the header
    int64_t fileSize = 0;            // size of the file being sent (for Content-Range)
    int32_t contentType = 0;
    char* replyBuffer = nullptr;     // data waiting to be sent (or, while reading, the fill buffer)
    int32_t bufferSize = 0;
    int32_t pending = 0;
    int file = -1;                   // descriptor of the file being sent, -1 = none
    uint32_t state = 0;
    UrlRoute* route = nullptr;       // the route that answered
    char* bufferToFree = nullptr;
    int64_t startTime = 0;           // seconds (monotonic) the connection was accepted
    int64_t expiry = 0;
    uint64_t sendAfter = 0;          // tick before which nothing is sent (rate limit back-off)
    int32_t requestCount = 0;
    const char* mimeText = nullptr;  // explicit content type text
    void* handlerState = nullptr;    // what a streamed reply's handler keeps between its calls
    WebMultipart* multipart = nullptr;
    char* requestBuffer = nullptr;   // kWebRequestBufferSize bytes, kept until the thread ends

    // Reply framing: bytes queued ahead of the data (a header or a chunk size line), bytes queued
    // after it (a chunk's closing CR LF, the last chunk), and whether the final piece has been queued.
    std::string out;
    size_t outSent = 0;
    std::string tail;
    size_t tailSent = 0;
    bool finalQueued = false;
    int32_t headerInBuffer = 0;      // a file reply's header waits at the start of the request buffer
    int64_t fileDataSent = 0;        // file bytes queued so far
    int64_t fileEnd = -1;            // file bytes to send, -1 = up to the end of the file
    bool uploadStream = false;       // an upload without a boundary is being received
    bool inputConsumed = false;      // every byte received belonged to the request: a plain close is clean
};

struct WebServer {
    WebServer();
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    WebConnection* slots = nullptr;
    int32_t clientLimit = 0;
    int32_t perPeerLimit = 0;
    std::atomic<int32_t> stop{0};
    std::atomic<int32_t> running{0};
    uint32_t flags = 0;
    int listener = -1;
    int32_t port = 0;
    int32_t receiveBuffer = 0;       // SO_RCVBUF in KB; 0 = system default
    std::string webRoot;
    UrlRoute* routes = nullptr;
    WebAuthEntry* authTable = nullptr;
    WebAlias* aliasTable = nullptr;
    WebVariableCallback variableCallback = nullptr;
    WebPostCallback postCallback = nullptr;
    WebUploadPermissionCallback uploadPermissionCallback = nullptr;
    WebIdleCallback idleCallback = nullptr;
    uint32_t grantedAddress = 0;
    int64_t grantExpiry = 0;
    int32_t idleTimeout = 0;         // seconds; 120 when 0 at start
    int32_t headerTimeout = 15;      // seconds from accept for the whole header block; 0 = none
    int32_t rateLimit = 0;           // KB/s per connection for file data; 0 = none
    int64_t startTime = 0;
    std::atomic<uint16_t> clients{0};
    std::atomic<uint16_t> peakClients{0};
    std::atomic<uint64_t> requests{0};
    std::atomic<uint64_t> filesServed{0};
    std::atomic<uint64_t> bytesSent{0};
    std::atomic<uint32_t> routeReplies{0};
    std::atomic<uint32_t> expired{0};
    std::atomic<uint32_t> refusedUploads{0};
    uint32_t bindAddress = 0;        // network order; 0 = every address
    std::thread thread;

    // The folder that file requests map into, held open (server thread only).
    int folderFd = -1;
    std::string folderFdPath;
    int64_t folderCheckedAt = 0;     // seconds (monotonic) of the last check that the name still fits

    platform::NetWaker* waker = nullptr;
    platform::Event finished{true, true};
};

// The two process-wide servers.
extern WebServer g_controlServer;
extern WebServer g_streamingServer;

// Bind addresses (network order).
uint32_t WebBindLoopback();
inline constexpr uint32_t kWebBindAny = 0;

// Starts listening on port, port+1, ... (at most 10 tries, 1 s apart) and starts the server
// thread. Returns the port in use (read back when port is 0), or 0.
int WebServerStart(WebServer* server, int port, int clientLimit, const char* webRoot, uint32_t bindAddress);
int WebServerListen(WebServer* server);
int WebOpenListener(WebServer* server);
// Asks the thread to end and waits up to 3 s for it: 0, or -1 when not running or already stopping.
int WebServerShutdown(WebServer* server);
void WebServerStop(WebServer* server);
// Removes the route with exactly that prefix (later entries move up): 0, or -1 when there is none.
int WebServerRemoveRoute(WebServer* server, const char* prefix);
void WebResetConnection(WebConnection* connection);
void WebServerThread(WebServer* server);

// The route dispatcher: answers the ReplyFlags of the handler that took the request, or 0 to have
// it served as a file. Null (the default) serves every request as a file.
using WebDispatchFunction = uint32_t (*)(WebServer* server, WebConnection* connection);
void SetWebDispatchFunction(WebDispatchFunction fn);

// Request side.
int WebReadRequest(WebServer* server, WebConnection* connection);
// Parses a complete header block held in connection->requestBuffer (connection->pending bytes):
// method, headers, target. 0, or -1 when the request is refused (the connection closes).
int WebParseRequestHead(WebServer* server, WebConnection* connection);
int WebParseHeaders(WebServer* server, WebConnection* connection);
int WebCheckAuth(WebServer* server, WebConnection* connection);
int WebParseMultipart(WebServer* server, WebConnection* connection, bool skipReceive);
int WebMultipartDone(WebServer* server, WebConnection* connection);
bool WebUploadAllowed(WebServer* server, WebConnection* connection);
// Parses the request's variables (the query of request->path, which is cut at its '?', or a form
// body) into request->variables / variableCount; answers the count.
int WebParseVars(UrlRequest* request);
void WebFreeVars(UrlRequest* request);
// Decodes "%XX" and '+' in place; answers the new length.
int UrlDecode(char* text);
const char* WebGetVar(const UrlVariable* variables, const char* name, const char* defaultValue);
int WebGetVarInt(const UrlVariable* variables, const char* name, int defaultValue);

// Reply side.
int WebContentType(const char* extension);
const char* WebContentTypeText(int index);
const char* WebReasonPhrase(int status);
void HttpDateString(int64_t time, char* buffer, int size);
// Formats the reply header into a 512-byte buffer: its length, or -1 when it would not fit.
int WebFormatHeader(WebServer* server, WebConnection* connection, int64_t modified, char* buffer);
int WebSendHeader(WebServer* server, WebConnection* connection);
int WebSendBufferData(WebServer* server, WebConnection* connection);
int WebServeFile(WebServer* server, WebConnection* connection);
int WebSendFile(WebServer* server, WebConnection* connection, const std::string& folder, const char* path);
int WebSendFileData(WebServer* server, WebConnection* connection);
// Maps a request path into folder: decoded, split into segments; empty, "." and ".." segments are
// dropped (so /../x is x under the folder) and a run of '.' in a name becomes one. Refused (false):
// NUL, '\\', a drive letter, a result longer than 4095 bytes. A leading '~' means the working
// folder, only for a path a handler wrote.
bool WebMapPath(const std::string& folder, const char* path, bool fromHandler, std::string* mapped,
                bool* trailingSlash);
void WebListDirectory(WebConnection* connection, const std::string& folder);
int WebSubstituteVars(WebServer* server, char* text, int length, int* consumed);
void WebSendRedirect(WebConnection* connection, const char* location);
void WebSendAuthRequest(WebServer* server, WebConnection* connection, int code);
void WebSendFixedPage(int socket, const char* headerFormat, const char* page);
void WebSend403(int socket);
void WebSend404(int socket);
void WebEndRequest(WebServer* server, WebConnection* connection);

// A small HTTP GET client over libcurl, exported by qxcommon: fetches one address into a memory
// buffer together with the reply's status, content type, content length and last-modified date.
// Redirects are followed (at most 10), proxies come from the environment (http_proxy, ...), and
// only http, https and ftp addresses are fetched. No shared state: distinct records may be used
// on distinct threads.
#pragma once

#include <stdint.h>

#include "common/helpers_export.h"

// Option bits.
enum : uint16_t {
    kHttpReload = 0x20,        // ask every cache on the way for a fresh copy
    kHttpNoCacheWrite = 0x40,  // do not keep the reply in a cache (there is none here)
};

// The most body bytes a request keeps: the reading stops at the first piece that passes it.
inline constexpr int32_t kHttpBodyLimit = 0xFFFFF;
// Longest header value kept (content type, last modified); longer ones are cut.
inline constexpr int kHttpHeaderValueMax = 127;

// Cleared by httpInitReq. A caller may then hand in its own body buffer with its capacity; the
// client never writes past it and never frees it.
struct HttpRequest {
    uint16_t options;
    char* lastModified;   // Last-Modified header, null when absent
    char* body;           // the body, NUL-terminated
    int32_t capacity;     // size of body; 0 lets the client allocate (and grow) it
    int32_t bodyLength;
    int32_t contentLength;  // Content-Length header, 0 when absent
    char* contentType;    // Content-Type header, null when absent
    int32_t status;       // HTTP status code
    void* session;        // the transfer handle
    void* urlHandle;      // the request's extra header list
    bool ownsBody;        // the client allocated body and frees it in httpClean
};

#ifdef __cplusplus
extern "C" {
#endif

// Clears the whole record (the second argument is unused).
QXHELPER_API void httpInitReq(HttpRequest* request, void* unused);
// Fetches url: 0 when a body was received and the status is not 404, else -1 (also when the
// transfer failed or timed out). Other error statuses with a body give 0: check status.
QXHELPER_API int httpRequest(HttpRequest* request, const char* url);
// Closes the handles and frees the client's body buffer (capacity back to 0) and the texts.
// Called after every request, also after a failed one.
QXHELPER_API void httpClean(HttpRequest* request);

#ifdef __cplusplus
}  // extern "C"

// Time-outs of every request: connecting, a transfer that moves less than one byte a second for
// stallSeconds, and the whole request. The defaults are 30 s, 30 s and 120 s.
struct HttpTimeouts {
    int connectMs = 30000;
    int stallSeconds = 30;
    int totalMs = 120000;
};
QXHELPER_API void httpSetTimeouts(const HttpTimeouts& timeouts);
#endif

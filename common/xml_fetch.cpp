#include "common/xml_fetch.h"

#include <mutex>

#include "common/http.h"

namespace {

std::mutex g_fetchMutex;
XmlFetchFn g_fetch;

// An error page (403, 500, ...) is no document, though the client hands its body over.
bool HttpFetch(const char* url, std::string* body) {
    HttpRequest request;
    httpInitReq(&request, nullptr);
    bool ok = httpRequest(&request, url) == 0 && request.status >= 200 && request.status < 300;
    if (ok) body->assign(request.body, static_cast<size_t>(request.bodyLength));
    httpClean(&request);
    return ok;
}

}  // namespace

void SetXmlFetcher(XmlFetchFn fn) {
    std::lock_guard<std::mutex> lock(g_fetchMutex);
    g_fetch = std::move(fn);
}

bool XmlFetch(const char* url, std::string* body) {
    XmlFetchFn fn;
    {
        std::lock_guard<std::mutex> lock(g_fetchMutex);
        fn = g_fetch;
    }
    if (!url || !body) return false;
    return fn ? fn(url, body) : HttpFetch(url, body);
}

#include "common/xml_fetch.h"

#include <mutex>

namespace {

std::mutex g_fetchMutex;
XmlFetchFn g_fetch;

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
    if (!fn || !url || !body) return false;
    return fn(url, body);
}

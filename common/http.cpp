#include "common/http.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "common/curl_lib.h"

namespace {

std::atomic<int> g_connectMs{30000};
std::atomic<int> g_stallSeconds{30};
std::atomic<int> g_totalMs{120000};

// What one transfer collects; the header values are those of the last reply (after redirects).
struct Transfer {
    HttpRequest* request = nullptr;
    std::string contentType;
    std::string lastModified;
    bool haveType = false;
    bool haveModified = false;
    int64_t contentLength = 0;
    bool started = false;  // the body buffer has been set up
    bool cut = false;      // the reading was stopped on purpose
    bool failed = false;   // an allocation failed
};

std::string HeaderValue(const char* line, size_t length, size_t nameLength) {
    std::string value(line + nameLength, length - nameLength);
    size_t b = value.find_first_not_of(" \t");
    size_t e = value.find_last_not_of(" \t\r\n");
    value = (b == std::string::npos) ? std::string() : value.substr(b, e - b + 1);
    if (value.size() > static_cast<size_t>(kHttpHeaderValueMax)) value.resize(kHttpHeaderValueMax);
    return value;
}

bool HasName(const char* line, size_t length, const char* name) {
    size_t n = std::strlen(name);
    return length >= n && strncasecmp(line, name, n) == 0;
}

size_t OnHeader(char* line, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t length = size * count;
    if (HasName(line, length, "HTTP/")) {
        // A new reply (a redirect or an interim one): forget the headers of the previous.
        t->haveType = t->haveModified = false;
        t->contentLength = 0;
    } else if (HasName(line, length, "Content-Type:")) {
        t->contentType = HeaderValue(line, length, 13);
        t->haveType = true;
    } else if (HasName(line, length, "Last-Modified:")) {
        t->lastModified = HeaderValue(line, length, 14);
        t->haveModified = true;
    } else if (HasName(line, length, "Content-Length:")) {
        t->contentLength = std::atoll(HeaderValue(line, length, 15).c_str());
    }
    return length;
}

// Sets up the body buffer at the first piece of data, once the reply's length is known. The size
// announced by the server is trusted only up to the body limit.
bool StartBody(Transfer* t) {
    HttpRequest* r = t->request;
    t->started = true;
    r->bodyLength = 0;
    if (r->capacity > 0 && r->body) return true;
    const int64_t announced = t->contentLength;
    const int32_t size = (announced > 0) ? static_cast<int32_t>(std::min<int64_t>(announced, kHttpBodyLimit) + 1) : 16384;
    char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (!buffer) return false;
    buffer[0] = '\0';
    r->body = buffer;
    r->capacity = size;
    r->ownsBody = true;
    return true;
}

size_t OnData(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    HttpRequest* r = t->request;
    const size_t length = size * count;
    if (!t->started && !StartBody(t)) {
        t->failed = true;
        return 0;
    }
    size_t done = 0;
    while (done < length) {
        // One byte always stays free for the terminating NUL.
        size_t room = static_cast<size_t>(r->capacity - 1 - r->bodyLength);
        if (room == 0) {
            if (!r->ownsBody || r->capacity > kHttpBodyLimit) {
                t->cut = true;
                return 0;
            }
            char* grown = static_cast<char*>(std::realloc(r->body, static_cast<size_t>(r->capacity) * 2));
            if (!grown) {
                t->failed = true;
                return 0;
            }
            r->body = grown;
            r->capacity *= 2;
            continue;
        }
        size_t n = std::min(room, length - done);
        std::memcpy(r->body + r->bodyLength, data + done, n);
        r->bodyLength += static_cast<int32_t>(n);
        done += n;
    }
    if (r->bodyLength > kHttpBodyLimit) {
        t->cut = true;
        return 0;
    }
    return length;
}

char* CopyText(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

}  // namespace

void httpInitReq(HttpRequest* request, void*) {
    if (request) *request = HttpRequest{};
}

void httpSetTimeouts(const HttpTimeouts& timeouts) {
    g_connectMs = timeouts.connectMs;
    g_stallSeconds = timeouts.stallSeconds;
    g_totalMs = timeouts.totalMs;
}

int httpRequest(HttpRequest* r, const char* url) {
    if (!r || !url) return -1;
    // Without libcurl no transfer can start: the request fails as one refused would.
    const CurlLib* lib = CurlLibrary();
    if (!lib) return -1;
    CURL* curl = static_cast<CURL*>(r->session);
    if (!curl) {
        curl = lib->curl_easy_init();
        if (!curl) return -1;
        r->session = curl;
    } else {
        lib->curl_easy_reset(curl);
    }
    if (r->urlHandle) {
        lib->curl_slist_free_all(static_cast<curl_slist*>(r->urlHandle));
        r->urlHandle = nullptr;
    }
    curl_slist* headers = nullptr;
    if (r->options & kHttpReload) {
        headers = lib->curl_slist_append(headers, "Cache-Control: no-cache");
        headers = lib->curl_slist_append(headers, "Pragma: no-cache");
        r->urlHandle = headers;
    }

    Transfer t;
    t.request = r;
    lib->curl_easy_setopt(curl, CURLOPT_URL, url);
    lib->curl_easy_setopt(curl, CURLOPT_USERAGENT, "Mozilla");
    lib->curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    lib->curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    lib->curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    // Addresses come from feeds, pages and drops: never let one reach a local file.
    lib->curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
    lib->curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
    lib->curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(g_connectMs.load()));
    lib->curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    lib->curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(g_stallSeconds.load()));
    lib->curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(g_totalMs.load()));
    if (headers) lib->curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    lib->curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    lib->curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
    lib->curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnData);
    lib->curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);

    r->bodyLength = 0;
    const CURLcode code = lib->curl_easy_perform(curl);

    long status = 0;
    lib->curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status) r->status = static_cast<int32_t>(status);
    if (t.haveType) {
        std::free(r->contentType);
        r->contentType = CopyText(t.contentType);
    }
    if (t.haveModified) {
        std::free(r->lastModified);
        r->lastModified = CopyText(t.lastModified);
    }
    if (t.contentLength > 0) r->contentLength = static_cast<int32_t>(std::min<int64_t>(t.contentLength, INT32_MAX));
    if (r->body && r->capacity > 0) {
        r->bodyLength = std::clamp(r->bodyLength, 0, r->capacity - 1);
        r->body[r->bodyLength] = '\0';
    }

    // A transfer that failed (refused, timed out, broken off, too many redirects) is no answer;
    // a body cut at the limit is.
    const bool transferOk = code == CURLE_OK || (code == CURLE_WRITE_ERROR && t.cut);
    if (!transferOk || t.failed) return -1;
    return (r->bodyLength > 0 && r->status != 404) ? 0 : -1;
}

void httpClean(HttpRequest* r) {
    if (!r) return;
    // A handle or header list exists only once libcurl has been loaded.
    if (r->session) CurlLibrary()->curl_easy_cleanup(static_cast<CURL*>(r->session));
    r->session = nullptr;
    if (r->urlHandle) CurlLibrary()->curl_slist_free_all(static_cast<curl_slist*>(r->urlHandle));
    r->urlHandle = nullptr;
    if (r->ownsBody) {
        std::free(r->body);
        r->body = nullptr;
        r->capacity = 0;
        r->ownsBody = false;
    }
    r->bodyLength = 0;
    std::free(r->contentType);
    r->contentType = nullptr;
    std::free(r->lastModified);
    r->lastModified = nullptr;
}

#include "common/curl_lib.h"

namespace {

const CurlLib* Load() {
    static CurlLib curl;
    platform::FunctionTableLoader loader("http");
    loader.Open("libcurl.so.4");
#define SQ_CURL_RESOLVE(name) loader.Resolve(#name, curl.name);
    SQ_CURL_FUNCTIONS(SQ_CURL_RESOLVE)
#undef SQ_CURL_RESOLVE
    if (!loader.Finish()) return nullptr;
    // Once, before any handle exists (this runs under the first caller's static initialisation).
    curl.curl_global_init(CURL_GLOBAL_DEFAULT);
    return &curl;
}

}  // namespace

const CurlLib* CurlLibrary() {
    static const CurlLib* const curl = Load();
    return curl;
}

// libcurl, opened on the first transfer instead of linked: a program that never fetches anything
// (a batch, a headless start) does not load it, nor its TLS, Kerberos and LDAP libraries, at its
// start. The functions the HTTP client calls are resolved by name into one table typed by curl.h.
#pragma once

#include <curl/curl.h>

#include "platform/dynlib/function_table.h"

// The functions the HTTP client calls (curl_easy_setopt and curl_easy_getinfo are variadic).
#define SQ_CURL_FUNCTIONS(F)                                                                                       \
    F(curl_global_init) F(curl_easy_init) F(curl_easy_reset) F(curl_easy_setopt) F(curl_easy_perform)            \
    F(curl_easy_getinfo) F(curl_easy_cleanup) F(curl_slist_append) F(curl_slist_free_all)

// One member per function, under the function's own name and of its own type.
struct CurlLib {
    SQ_CURL_FUNCTIONS(SQ_TABLE_FUNCTION)
};

// libcurl's table, opened and globally initialised on the first call and kept loaded; null, after a
// line on standard error, when the library or one of its functions is missing (tried once).
const CurlLib* CurlLibrary();

// The seam through which CXML::Open reaches the network: the HTTP client unless a test installs
// a fetcher of its own.
#pragma once

#include <functional>
#include <string>

// Fetches url; true with *body filled only for a successful (2xx) answer.
using XmlFetchFn = std::function<bool(const char* url, std::string* body)>;

// Replaces the fetcher (an empty function restores the HTTP client).
void SetXmlFetcher(XmlFetchFn fn);
// Runs the installed fetcher; the HTTP client accepts only a 2xx answer with a body.
bool XmlFetch(const char* url, std::string* body);

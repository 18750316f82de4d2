// The seam through which CXML::Open reaches the network. The HTTP client installs its fetcher
// at start-up; until then every URL fails cleanly.
#pragma once

#include <functional>
#include <string>

// Fetches url; true with *body filled only for a successful (2xx) answer.
using XmlFetchFn = std::function<bool(const char* url, std::string* body)>;

// Replaces the fetcher (an empty function restores the one that always fails).
void SetXmlFetcher(XmlFetchFn fn);
// Runs the installed fetcher.
bool XmlFetch(const char* url, std::string* body);

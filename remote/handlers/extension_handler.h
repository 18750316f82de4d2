// The control server's "extensions" route over the engine's extension registry.
#pragma once

#include <cstdint>

struct UrlRequest;

// "/extensions.xml" (optionally with an "xsl" stylesheet parameter) lists the registry; any other
// path is a file beneath the extensions folder, never one outside it.
uint32_t HandleExtensions(UrlRequest* request);

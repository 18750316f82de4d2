// Route tables of the servers and the dispatcher that hands a request to the first route whose
// prefix begins its path. Routes are added to the control table as their handlers are built.
#pragma once

#include <cstdint>

struct WebServer;
struct WebConnection;
struct UrlRequest;
struct UrlRoute;

// Appends a route: the index of the new entry; 0 (nothing added) when an entry has that prefix
// already; the number of entries for a null prefix. The server's table must exist.
int WebServerAddRoute(WebServer* server, const char* prefix, uint32_t (*handler)(UrlRequest*),
                      int (*init)(int, UrlRoute*, WebServer*));

// Offers the request to the server's routes in order; the first non-zero answer is applied to the
// connection and returned. 0: serve the request as a file.
uint32_t WebDispatchRoute(WebServer* server, WebConnection* connection);

// Adds the control server's routes and makes WebDispatchRoute the servers' dispatcher. Called
// before the server starts.
void RegisterControlRoutes(WebServer* server);

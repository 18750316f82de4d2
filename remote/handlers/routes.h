// Route tables of the servers and the dispatcher that hands a request to the first route whose
// prefix begins its path.
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
// WebServerRemoveRoute is the server's own (remote/httpd/web_server.h): stopping it removes a route.

// Offers the request to the server's routes in order; the first non-zero answer is applied to the
// connection and returned. 0: serve the request as a file.
//
// The query is parsed once and every route that is tried sees the same variables. On the control
// server, a request whose Host is not this machine's ("localhost", 127.0.0.0/8, "[::1]", each as
// the whole host) while the server listens on loopback only, and a request to a route that changes
// state that the browser marks as coming from another origin (Sec-Fetch-Site "cross-site" or
// "same-site", or an Origin or Referer of another host or port), are answered 403 without reaching
// a handler or a file: a web page the user visits cannot drive the program.
uint32_t WebDispatchRoute(WebServer* server, WebConnection* connection);

// Adds the control server's routes in their order and makes WebDispatchRoute the servers'
// dispatcher. Called before the server starts; a restart adds nothing new.
void RegisterControlRoutes(WebServer* server);

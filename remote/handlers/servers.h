// The program's two servers started with the user's settings: the control server (the web
// interface and the remote calls) and the streaming server (the queue for players on the network).
// Start-up hands the control server's start and stop to the engine (SetControlServerCalls), which
// starts it once the user's settings are read and stops it at shut-down.
#pragma once

struct UrlRoute;

// Starts the control server on the context's port (or "overall.httpd.port"), bound to 127.0.0.1
// unless "overall.httpd.remote" is set. 0, or -1 when it could not start.
int StartHttpServer();
void StopHttpServer();
// The bound port, or 0. A route table (malloc'd, ended by a null prefix) passes to the server;
// without one a server that has none gets the streaming routes. The cache folder is the web root
// and receives the proxy's outputs.
int StartStreamingServer(int port, UrlRoute* routes, const char* cacheDir = nullptr);
void StopStreamingServer();

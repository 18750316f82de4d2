// Pieces shared by the request and reply halves of the web server.
#pragma once

#include <cstdint>

#include "remote/httpd/web_server.h"

// Seconds on a monotonic clock: connection start, expiry and rate measurements.
int64_t WebNowSeconds();

WebDispatchFunction WebCurrentDispatch();

// Starts the reply once a request is complete (dispatch, then header, file or redirect): 0 when the
// slot now waits to send, non-zero to close it.
int WebStartReply(WebServer* server, WebConnection* connection);

// Queues data for sending: the reply buffer pointer and length, framed as a chunk when chunked
// ("%X" sizes when upperHex).
void WebQueuePiece(WebConnection* connection, char* data, int32_t length, bool chunked, bool upperHex);
// Queues the last chunk "0\r\n\r\n" (when chunked) and marks the reply as finished.
void WebQueueFinal(WebConnection* connection);
// Sends what is queued: 1 when everything went out, 0 when the socket is full, -1 on failure.
int WebFlush(WebServer* server, WebConnection* connection);

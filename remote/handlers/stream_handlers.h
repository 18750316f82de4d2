// The queue as playlists and as media items for players on the network: "qx/queue.m3u" on the
// control server (the source paths), and on the streaming server "playlist.m3u" (addresses of the
// items on the streaming server) and "MediaServer/AudioItems/<position>/<name>" (an item's source
// file), and the transcoding proxy. All run on their server's thread.
#pragma once

#include <cstdint>
#include <string>

struct QueueItem;
struct UrlRequest;
struct UrlRoute;
struct WebServer;

// Replaces '&', '*', ',', '/', ':', ';', '?' and '|' by '_' from the start position on.
void SanitizeFileName(std::string& text, size_t start);

// The playlists' texts.
std::string BuildQueueM3u();
std::string BuildStreamPlaylist();

uint32_t HandleQueueM3u(UrlRequest* request);        // "qx/queue.m3u"
uint32_t HandlePlaylistM3u(UrlRequest* request);     // "playlist.m3u"
uint32_t HandleMediaServerItem(UrlRequest* request); // "MediaServer/AudioItems/"
// "proxy/<source>/stream.<ext>": converts the source in a job of its own into the streaming
// server's cache folder and sends the output while it grows, never past what has been written.
// The stream ends when the job has ended and everything is sent, or when the output has not grown
// for the stall limit; a client that goes away stops its job. An output finished earlier is sent
// again without a job.
uint32_t HandleProxy(UrlRequest* request);
// The proxy route's start and end: at the end every proxy job is stopped and waited for.
int ProxyRouteInit(int action, UrlRoute* route, WebServer* server);
// Stops the jobs of streams whose client has gone and waits for them.
void StopProxyStreams();
// How long a stream waits for its output to grow before it ends (30000 ms unless changed).
void SetProxyStallLimit(uint64_t ms);

// Runs one proxy job on its own thread: the item's state while it runs and after, like a batch
// job's. The job driver's result.
int StreamTranscodeThread(QueueItem* item);

// The streaming server's route table (malloc'd, ended by a null prefix) for StartStreamingServer,
// which takes it over.
UrlRoute* MakeStreamingRoutes();

// The queue as playlists and as media items for players on the network: "qx/queue.m3u" on the
// control server (the source paths), and on the streaming server "playlist.m3u" (addresses of the
// items on the streaming server) and "MediaServer/AudioItems/<position>/<name>" (an item's source
// file). All run on their server's thread.
#pragma once

#include <cstdint>
#include <string>

struct UrlRequest;
struct UrlRoute;

// Replaces '&', '*', ',', '/', ':', ';', '?' and '|' by '_' from the start position on.
void SanitizeFileName(std::string& text, size_t start);

// The playlists' texts.
std::string BuildQueueM3u();
std::string BuildStreamPlaylist();

uint32_t HandleQueueM3u(UrlRequest* request);        // "qx/queue.m3u"
uint32_t HandlePlaylistM3u(UrlRequest* request);     // "playlist.m3u"
uint32_t HandleMediaServerItem(UrlRequest* request); // "MediaServer/AudioItems/"

// The streaming server's route table (malloc'd, ended by a null prefix) for StartStreamingServer,
// which takes it over.
UrlRoute* MakeStreamingRoutes();

// The media probe: runs the outside player with "-identify" on an item's input and reads the
// "ID_" lines it prints into the item's media record (duration, size, container, tags, one
// record per audio and video stream). Disc titles are listed for the track picker.
#pragma once

#include <string>

class CProcessWrapper;
struct QueueItem;

// At most this many audio streams get a run of their own (the player knows no more).
inline constexpr int kProbeMaxStreamRuns = 32;
inline constexpr int kProbeReadMs = 10000;
inline constexpr int kProbeTitlesReadMs = 15000;

// The probe's command lines.
std::string BuildProbeLine(const QueueItem* item);
std::string BuildStreamProbeLine(const QueueItem* item, unsigned audioId);

// The title number after "://" in a source path; 0 without one.
int ProbeTitleNumber(const char* path);

// Reads the player's output into the item. title: the disc title the item names (0: none).
// streamId >= 0: the output of a run for that audio stream, whose audio lines all describe it.
// Carriage returns are ignored, so output with CRLF line ends reads as with LF.
void ParseProbeOutput(const char* text, QueueItem* item, int title, int streamId = -1);
// The container rule and the size estimate that follow the parse of the first run.
void FinishProbe(QueueItem* item);

// Runs the player on the item (runner: the player source that owns the child) and parses its
// output; with 2 or more audio streams (and not parseOnly) each stream gets a run of its own.
// False when the player could not start or printed nothing in time.
bool ProbeMedia(CProcessWrapper* runner, QueueItem* item, bool parseOnly);
// The engine's entry: status events around ProbeMedia with a runner of its own.
bool AnalyzeStream(QueueItem* item);

// "ffmp3" -> "MP3", "FAAD" -> "AAC/AAC+", ...; other texts unchanged.
std::string CodecDisplayName(const char* codec);

// The first audio record, duration and container of a Monkey's Audio file, read through the APE
// decoder library. False (with the library's message) when it cannot be opened.
bool ProbeApeFile(QueueItem* item);

// The player's title listing of a disc (kind 0 Blu-ray, 1 DVD); empty when nothing came.
std::string ProbeDiscTitles(int kind, int title, const char* device);

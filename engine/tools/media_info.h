// The media information reader: runs the outside "mediainfo" tool on an item's input, either as
// plain text for the user to read or as XML that fills the item's media record (duration,
// container, tags, one record per audio and video stream).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct QueueItem;

inline constexpr int kMediaInfoReadMs = 5000;

// A media tool keeps the text its last run printed.
class CMediaTool {
public:
    virtual ~CMediaTool() = default;
    // Whether the tool takes this kind of analysis on the item.
    virtual bool Accepts(int kind, QueueItem* item);
    // Nothing to prepare for the tools we have.
    virtual void Prepare();
    // kind 0: the plain text into `output`; other kinds: the XML reading into the item.
    virtual bool Analyze(int kind, QueueItem* item) = 0;

    std::string output;
};

class CMediaInfo : public CMediaTool {
public:
    bool Analyze(int kind, QueueItem* item) override;
};

// The resampler's tool answers no analysis.
class CShibatch : public CMediaTool {
public:
    bool Analyze(int kind, QueueItem* item) override;
};

// Loads the media-information library on a thread of its own, for a batch about to start, so that
// its first probes find it loaded; once per process, and nothing when a reading loaded it already.
void PreloadMediaInfoLibrary();
// For a batch the program starts with: the media information of its first files (as many as the
// machine has processors, regular local files only), read on threads of their own while the
// program comes up, and kept for their jobs' probes, which wait for a reading under way. Loads the
// library in any case (on the calling thread when there are files to read).
void StartMediaInfoReadAhead(const std::vector<std::string>& files);
// Waits for the readings StartMediaInfoReadAhead began.
void FinishMediaInfoReadAhead();

// Runs "mediainfo <path>" and keeps what it prints as the tool's output; false (and "") when
// nothing came within the time limit.
bool RunMediaInfoText(CMediaTool* tool, const char* path);
// Runs the tool's XML form on the item's input and reads it into the item.
bool ParseMediaInfoXml(CMediaTool* tool, QueueItem* item);
// The text "mediainfo --output=XML --language=raw -f <path>" prints, read by the tool's library in
// the program instead of starting the tool; false (the tool runs) for anything but a regular local
// file with a plain path, or when the library is missing or cannot open the file.
bool ReadMediaInfoInProcess(const char* path, std::string* text);
// Reads the tool's XML output into the item; false when it is not XML with a "track" element.
bool ReadMediaInfoXml(const char* xml, size_t length, QueueItem* item);

// "128 Kbps" -> 128000, "13.8 Mbps" -> 13800000: the leading number, scaled by K or M.
uint32_t ParseMediaInfoBitrate(const char* text);
// "1h 2mn 3s 500ms" -> 3723500: the sum of the number-unit pairs in ms.
uint32_t ParseMediaInfoDuration(const char* text);

// The engine's entry: 0 when the XML reading ran and filled the item, -1 otherwise.
int ReadMediaInformation(QueueItem* item);

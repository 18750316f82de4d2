// The option texts that the outside player's command lines carry: the audio filter chain, the
// decode options (seek, chapter, streams, subtitles, raw input, user options) and the hints for
// some video codecs, built from the preferences and what is known of a queue item. Pure text:
// nothing is started here, and any thread may call them.
#pragma once

#include <string>

struct AudioStreamInfo;
struct QueueItem;

// The encoder class of an analysis pass (the null encoder): a running task with it writes no
// volume filter, since the gain is what that pass measures.
inline constexpr int kAnalysisPassEncoderId = 25;

// An analysed gain at or below this is the analysis's "not enough samples" answer, not a gain.
inline constexpr float kNoAnalysedGain = -24600.0f;

// The audio filter chain (" -af ..." and, with balancing, " -af-add ..."); "" for a null stream.
std::string BuildPlayerAudioFilters(const QueueItem* item, const AudioStreamInfo* stream);

// The decode options. forEncoder: the line is the player's encoder's, which alone understands
// the high-resolution edit-list seek.
std::string BuildPlayerDecodeOptions(const QueueItem* item, bool withSubtitles, const AudioStreamInfo* stream,
                                     bool withoutEditList, bool forEncoder = false);

// Appends the video hints for the item's first video stream to text.
void BuildPlayerVideoHints(const QueueItem* item, std::string& text);

// A number in the "%g" form (six significant digits, no trailing zeros), whatever the locale.
std::string FormatPlayerFloat(double value);

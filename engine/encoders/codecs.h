// The codecs description ("qxcodecs.xml") and the command-line builder that reads it.
//
// The description lists each outside encoder tool under /codecs/audio/encoder[@name] with its
// program path, version query, bitrate and sample-rate limits and an argument program: arg, var,
// if/ifnot, extname, path and input elements that BuildCodecArgs walks in document order to make
// the tool's command line from the preferences, the task variables and conditions on the item.
//
// The document is shared by the worker threads and the user interface: it is read and loaded only
// between its Lock and Unlock.
#pragma once

#include <string>

#include "common/xml.h"

class CAudioEncoder;
struct QueueItem;

// The one codecs description of the process.
CXML& GetCodecsDocument();

// Loads the description from a file (fromBuffer false) or parses it from text (length 0: up to
// the NUL) into the shared document. 0, or -1 when nothing could be read.
int LoadCodecsDefinition(bool fromBuffer, const char* pathOrText, int length);

// Walks the element the document is on and its following siblings, appending to `out`; the
// children of an if/ifnot whose condition holds are walked in place. `item` is the item of the
// task being configured, or null. Sets the encoder's extension and its flags 0x1 (input
// type="pcm") and 0x20 (a tagging condition was evaluated with an item). The caller holds the
// document's lock. True when what was appended begins with the tool's program path; a line
// without one cannot be started and is refused by the caller.
bool BuildCodecArgs(CAudioEncoder* encoder, QueueItem* item, CXML* doc, std::string& out);

// The condition of the if/ifnot element the document is on (attributes test/value, channels,
// samplerate, tagging, stdin, source_acodec and expr). With no task, PCM counts as coming through
// the tool's standard input.
bool EvalCodecCondition(CAudioEncoder* encoder, QueueItem* item, CXML* doc);

// Builds the command line of the encoder's tool (found by the encoder's name) under the document's
// lock. False when the description has no such tool, the tool's entry has no child element, or
// the line would have no program path; `out` is then unchanged.
bool BuildEncoderCommandLine(CAudioEncoder* encoder, QueueItem* item, std::string* out);

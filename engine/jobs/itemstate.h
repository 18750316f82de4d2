// Item error codes and the state changes the job threads make. Every change that could overwrite
// a Stop goes through a compare-and-set, so a Stop (state 6) pressed at any moment stays.
#pragma once

#include <cstdint>
#include <string>

struct QueueItem;

enum ItemError : int32_t {
    kItemErrorNone = 0,
    kItemErrorTempDir = 5,        // no usable temporary folder ("INVALID_TEMP_DIR")
    kItemErrorNoSource = 6,       // the source file does not exist
    kItemErrorFormat = 8,         // no audio stream; format, rate, settings or bitrate refused
    kItemErrorSourceFail = 11,    // a source failed to open or to deliver its header
    kItemErrorEncoderFail = 12,   // an encoder failed to start, or died while writing
    kItemErrorWrite = 13,         // the output could not be written (disk full, no permission, I/O error)
    kItemErrorEmptyOutput = 15,   // the output is empty after the passes
    kItemErrorNoStreams = 17,     // neither audio nor video stream information
    kItemErrorTagging = 18,       // tagging failed
};

// Stores the code in the item and as the engine's last error; the state becomes 9 unless the
// code is 0 or the item is stopping (6).
void SetItemError(int32_t code, QueueItem* item);
int32_t GetLastItemError();
// What the code means, from the engine's string table ("ITEM_ERROR_<code>"); a code without a
// text of its own gives the text of "ITEM_ERROR".
std::string ItemErrorMeaning(int32_t code);
// The line that says why an item failed: "PATH: error CODE, MEANING" (key "ITEM_FAILED").
std::string ItemFailureText(const QueueItem* item);
void SetLastItemError(int32_t code);

// Sets the state when it is `from`; raises the item-state event when it changed. True on change.
bool ChangeItemState(QueueItem* item, uint32_t from, uint32_t to);
// Sets the state unless the item is stopping or past it (6 or above); true on change.
bool SetItemStateUnlessStopping(QueueItem* item, uint32_t to);

// What kind of input a path names: a disc title, an audio CD track, a network stream, a capture
// device, or a file known by its extension. Every queue item points to one of these rows.
#pragma once

#include <cstdint>
#include <string>

// Input kinds, used for filtering (the queue's limit on non-audio items, folder scans).
enum InputKind : uint32_t {
    kInputKindUnknown = 0,
    kInputKindAudio = 1,
    kInputKindVideo = 2,
    kInputKindText = 8,
    kInputKindScript = 16,  // script or cue sheet
    kInputKindPlaylist = 32,
};

struct InputTypeRow {
    const char* ext;          // lower case, without the dot; null ends the extension table
    uint32_t typeId;          // container type id for the source factory and the probe
    const char* description;
    const char* mime;
    uint32_t kind;            // InputKind
};

// The rows found by ClassifyInput without looking at an extension, in this order.
enum SpecialInputRow {
    kInputRowBluray = 0,
    kInputRowDvd,
    kInputRowVcd,
    kInputRowAudioCd,
    kInputRowNetwork,
    kInputRowCapture,
    kInputRowUnknown,
    kSpecialInputRowCount
};

// Number of rows in the extension table (the terminator row follows them).
inline constexpr int kInputTypeCount = 69;

// A special row; the unknown row for an index out of range.
const InputTypeRow* GetSpecialInputRow(int which);
// The unknown row: empty extension and description, type id 0, kind 0.
const InputTypeRow* UnknownInputRow();

// The row that describes a path; never null (the unknown row for null and anything unrecognised).
const InputTypeRow* ClassifyInput(const char* path);

// The index-th row of the extension table: 0..68 give their row, 69 the terminator row (null
// extension, where callers stop), anything else null.
const InputTypeRow* GetInputTypeRow(int index);

// The default text of "overall.generic.fileTypes": the extensions of the table's audio and video
// rows in order (pictures and data files left out), joined by ';'. The definitions loader sets it
// as the key's default; a folder scan takes these files.
std::string BuildFileTypesDefault();

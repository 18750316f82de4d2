// Helpers around a job: tagging a finished output with the tag tools, the encoder for a format
// name, the priority preference as process and thread priorities, clearing an item's tags and
// measuring how fast a file reads.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

struct QueueItem;

// Sets the item's error code; its state becomes "error" (9) unless it is stopping.
void MarkItemError(QueueItem* item, int32_t code);

// Writes the item's tags into the output with "Tag" or "neroAacTag". 0 (also when the item has
// no tags, or the output is "-" or does not exist), or -1 when tagging failed: the item then has
// error 18.
int TagOutputFile(const char* outputPath, QueueItem* item);
// The command line TagOutputFile runs; empty when the item has no tags or the output is neither
// kind the tag tools take.
std::string BuildTagCommandLine(const char* outputPath, QueueItem* item);

// The encoder id for an audio format name ("MP3", "FLAC", ...); 14 (FFmpeg) for any other.
int EncoderIdForFormat(const char* formatName);

// "overall.generic.priority" as a process priority class (kPriorityClass*).
uint32_t PriorityClassFromPrefs();
// "overall.generic.priority" as a thread priority (-2 .. 1); false for 0 (leave the thread alone).
bool ThreadPriorityValueFromPrefs(int* priority);
// Sets the calling thread's priority from "overall.generic.priority" (threads set their own).
void ThreadPriorityFromPrefs();

// Frees the item's tag texts, sets its year to 0 and clears its has-tags flag.
void ClearItemTags(QueueItem* item);

// Reads up to sizeKiB KiB of the file; KiB per millisecond (0.0 when it cannot be opened).
double MeasureReadSpeed(const char* path, uint32_t sizeKiB);

// A heap copy (malloc; the caller frees it) of text up to the first ch, or the whole text.
char* CopyUntilChar(const char* text, char ch);

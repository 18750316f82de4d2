// The job driver: the body of each batch worker (RunQueue), one item's conversion (RunItem), the
// rename-or-copy mode, relocation of finished files, and the small operations the user interface
// calls on a running item (pause, priority, stop).
//
// Batch workers: the batch starter sets the context's running-worker count to the number of
// workers before it starts them; each RunQueue gives its count back when it ends, and the one that
// gives back the last finishes the batch. Worker 0 prepares the batch; the others wait for that
// before they claim anything, and items are claimed by compare-and-set, so no item runs twice.
#pragma once

#include <cstdint>
#include <string>

struct QueueItem;

// The last result: an item state, 6 when the batch was stopped, -1 when refused.
int RunQueue(int workerIndex);
// The item's final state.
int RunItem(QueueItem* item);
// 0 on success.
int RenameCopyItem(QueueItem* item);

// -1 for a null item, else 0.
int TogglePauseItem(QueueItem* item);
void SetItemPriority(QueueItem* item, uint32_t priorityClass);
void StopItem(QueueItem* item);
// The output file of the job running the queue item at index: true, with its final path, once the
// job's encoder opened it; false when no job runs that item or its output is not open yet.
bool GetRunningOutput(int index, std::string* path);
// Processor and memory figures for the status panels by kind: 1 the decoders' and 2 the encoders'
// processor load (percent of the machine, summed over running passes; -1 when none runs), 3 the
// processor clock in MHz, 4 the program's and its tools' resident memory in MiB, 5 the memory
// still available in MiB, any other kind the program's own processor load in percent.
int GetCpuLoad(int kind);
// Percent of the whole queue done.
int GetQueueProgress(QueueItem* item);
void FindSubtitleFile(QueueItem* item);
// Mode 1 moves the file into the folder (one retry after 2000 ms), 2 copies it there, 3 deletes
// it. False on failure.
bool RelocateFile(const char* path, const char* folder, int mode);
// Tag text that becomes part of a path: '/', '\\' and ':' become '_' and a ".." name is cut, so a
// tag can never lead out of the output folder.
std::string SafePathText(const std::string& text);

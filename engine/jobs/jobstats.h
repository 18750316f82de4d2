// Progress and statistics of running items, read by the user interface and the control server
// while the worker and encode threads change them.
#pragma once

#include <cstdint>

struct QueueItem;

// Called by the encode thread after each round: every 3 s of the item's position (while the
// second lies inside the item's sample array) the output kilobytes so far go into the entry.
void SampleItemStats(QueueItem* item);
// Percent of the running item done; -1 without a running task. Recomputed at most every 100 ms
// per item (else the last value): in state 3 or 4 with `fresh`, position x 100 / total length
// (0 when the total is 0), capped at 100; other states 0.
int GetItemProgress(QueueItem* item, bool fresh);
// Stores the running item's figures in the engine context and the item; the progress, or 0 for
// the first second or without a task.
int UpdateItemStats(QueueItem* item, bool detailed);
// Drops the item's cached progress (its job ended).
void ForgetItemProgress(const QueueItem* item);

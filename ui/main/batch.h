// Batch workers and after-batch actions: the batch starter checks the destination and the queue
// and starts 1 to 8 workers; the last worker to finish ends the batch in the user interface and
// runs the after-batch action after a count-down notice.
#pragma once

#include <functional>

namespace ui {

inline constexpr int kMaxWorkers = 8;

// 0 when the workers were started, -1 when the batch was not started (a message was raised).
int StartTranscoding();
// The body of one worker.
int TranscodeWorkerThread(int slot);
// -1 when no worker threads exist, 1 when all ended within the time (the table is emptied), 0
// when the time ran out.
int WaitWorkerThreads(unsigned timeoutMs);
// Worker threads of the current batch that are still running (0 when none): a batch whose workers
// have all ended is idle, even before they are joined.
int WorkerCount();
void StartBenchmark();
// The after-batch action index (0 power off ... 4 log off): 0 when requested, -1 otherwise.
int SetPowerState(int index);
void AutoRevertPrefs();

// What each worker runs (RunQueue by default); tests put a fake in its place.
using BatchRunner = std::function<int(int slot)>;
void SetBatchRunner(BatchRunner runner);

}  // namespace ui

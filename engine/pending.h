// Engine services whose own code is not built yet. Each answers "not available" in the way its
// caller already handles (an empty list, no result); start-up and shut-down call them in their
// place so the order of start-up stays the one the engine will keep.
#pragma once

#include <string>

// Media-information reader's shared object.
void InitMediaInfoReader();

struct QueueItem;
// Network stream probe: 0 or -1.
int AnalyzeNetworkStream(QueueItem* item);
// Encoder the format chooser picks for an item (video only when considered); -1 when the user
// picks the encoder ("overall.audio.autoEncoder" off).
int ChooseEncoderForItem(QueueItem* item, bool considerVideo);

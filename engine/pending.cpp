#include "engine/pending.h"

void InitMediaInfoReader() {}
void StopPreviewPlayer() {}

int AnalyzeNetworkStream(QueueItem*) { return -1; }
int ChooseEncoderForItem(QueueItem*, bool) { return -1; }

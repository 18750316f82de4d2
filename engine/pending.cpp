#include "engine/pending.h"

void InitMediaInfoReader() {}

int AnalyzeNetworkStream(QueueItem*) { return -1; }
int ChooseEncoderForItem(QueueItem*, bool) { return -1; }

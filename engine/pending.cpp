#include "engine/pending.h"

void InitMediaInfoReader() {}
bool InitCdromLayer(int) { return false; }
void ReleaseCdromLayer() {}
void StopPreviewPlayer() {}

int AnalyzeNetworkStream(QueueItem*) { return -1; }
int ProbeCdaTrack(QueueItem*) { return -1; }
int ChooseEncoderForItem(QueueItem*, bool) { return -1; }

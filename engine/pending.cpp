#include "engine/pending.h"

void InitMediaInfoReader() {}
bool InitCdromLayer(int) { return false; }
void ReleaseCdromLayer() {}
void EnumeratePlugins(const char*, const char*, const char*, int) {}
void FreePluginLists() {}

int AnalyzeNetworkStream(QueueItem*) { return -1; }
int ProbeCdaTrack(QueueItem*) { return -1; }
int ChooseEncoderForItem(QueueItem*, bool) { return -1; }

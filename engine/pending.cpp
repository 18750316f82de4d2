#include "engine/pending.h"

void InitMediaInfoReader() {}
void EnumeratePlugins(const char*, const char*, const char*, int) {}
void FreePluginLists() {}
void StopPreviewPlayer() {}

int AnalyzeNetworkStream(QueueItem*) { return -1; }
int ChooseEncoderForItem(QueueItem*, bool) { return -1; }

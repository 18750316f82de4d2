#include "engine/pending.h"

void* ScanExtensionRegistry(const std::string&) { return nullptr; }
void FreeExtensionRegistry(void*) {}
void InitMediaInfoReader() {}
bool InitCdromLayer(int) { return false; }
void ReleaseCdromLayer() {}
void EnumeratePlugins(const char*, const char*, const char*, int) {}
void FreePluginLists() {}
void StopPreviewPlayer() {}

int ReadMediaInformation(QueueItem*) { return -1; }
int IdentifyStreamsWithPlayer(QueueItem*) { return -1; }
int AnalyzeNetworkStream(QueueItem*) { return -1; }
int ProbeCdaTrack(QueueItem*) { return -1; }
int ReadApeInformation(QueueItem*) { return -1; }
int ChooseEncoderForItem(QueueItem*, bool) { return -1; }

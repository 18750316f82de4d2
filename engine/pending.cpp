#include "engine/pending.h"

#include "engine/context.h"
#include "engine/encoders/encoder.h"
#include "engine/jobs/tagging.h"
#include "engine/prefs/prefstore.h"

void InitMediaInfoReader() {}

int AnalyzeNetworkStream(QueueItem*) { return -1; }

// The same choice the batch makes when it sets up an item's audio pass: with automatic choice on,
// the encoder of the output format (ffmpeg when streaming), otherwise none here, so callers fall
// back to the encoder the user picked. Video encoders are not chosen by format.
int ChooseEncoderForItem(QueueItem*, bool) {
    PrefStore& prefs = GetPrefStore();
    if (!prefs.GetBool("overall.audio.autoEncoder")) return -1;
    const EngineContext* ctx = GetEngineContext();
    if (ctx && ctx->taskMode.load() == 6) return kEncFFmpeg;
    const char* format = prefs.GetEnumText("overall.audio.format", prefs.GetInt("overall.audio.format"));
    return EncoderIdForFormat(format ? format : "");
}

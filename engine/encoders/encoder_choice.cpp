#include "engine/encoders/encoder_choice.h"

#include "engine/context.h"
#include "engine/encoders/encoder.h"
#include "engine/jobs/tagging.h"
#include "engine/prefs/prefstore.h"

int ChooseEncoderForItem(QueueItem*, bool) {
    PrefStore& prefs = GetPrefStore();
    if (!prefs.GetBool("overall.audio.autoEncoder")) return -1;
    const EngineContext* ctx = GetEngineContext();
    if (ctx && ctx->taskMode.load() == 6) return kEncFFmpeg;
    const char* format = prefs.GetEnumText("overall.audio.format", prefs.GetInt("overall.audio.format"));
    return EncoderIdForFormat(format ? format : "");
}

// The encoder the window and the web interface name for an item is the one the batch converts it
// with: the format chooser and the audio pass's set-up agree for every output format, with the
// choice by format on and off, and when streaming.
#include "engine/encoders/encoder_choice.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/context.h"
#include "engine/engine_api.h"
#include "engine/jobs/audiopass.h"
#include "engine/jobs/audiotask.h"
#include "engine/jobs/job_harness.h"
#include "engine/prefs/prefstore.h"
#include "support/event_recorder.h"

namespace {

TEST(EncoderChoice, WindowNamesTheEncoderTheBatchUses) {
    ASSERT_TRUE(sqtest::LoadShippedEngineData());
    PrefStore& prefs = GetPrefStore();
    sqtest::EventRecorder recorder;
    EngineContext& context = recorder.context();
    const int picked = 17;  // FLAC, picked by hand
    prefs.SetInt("overall.audio.encoder", picked);
    int checked = 0;
    for (int mode : {0, 6}) {
        context.taskMode = mode;
        for (bool automatic : {false, true}) {
            prefs.SetBool("overall.audio.autoEncoder", automatic);
            for (int format = 0;; ++format) {
                const char* name = prefs.GetEnumText("overall.audio.format", format);
                if (!name || !*name) break;
                SCOPED_TRACE(std::string(name) + (automatic ? ", by format" : ", by hand") + ", mode " +
                             std::to_string(mode));
                prefs.SetInt("overall.audio.format", format);
                AudioTask task;
                ReadAudioSettings(&task, nullptr);
                int named = -1;
                GetEncoderName(0, 1, -1, nullptr, &named);
                EXPECT_EQ(named, task.encoderId);
                EXPECT_EQ(ChooseEncoderForItem(nullptr, false), automatic ? task.encoderId : -1);
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 8);
    // By hand the user's encoder converts.
    context.taskMode = 0;
    prefs.SetBool("overall.audio.autoEncoder", false);
    int named = -1;
    GetEncoderName(0, 1, -1, nullptr, &named);
    EXPECT_EQ(named, picked);
}

}  // namespace

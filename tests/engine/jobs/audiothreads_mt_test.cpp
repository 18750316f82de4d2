// The decode and encode threads over in-memory readers and writers: what reaches the encoder for
// delay, range, speed, channel swap and two-track mixes, and that every way a tool can die or
// hang ends the pass in bounded time with the right item state.
#include "engine/jobs/audiothreads.h"
#include "engine/jobs/track_gain.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

#include "engine/context.h"
#include "engine/jobs/audiotask.h"
#include "engine/jobs/itemstate.h"
#include "engine/queue/queue.h"
#include "engine/jobs/audio_fakes.h"
#include "support/event_recorder.h"

namespace {

using sqtest::CaptureWriter;
using sqtest::RampLeft;
using sqtest::RampReader;
using sqtest::RampRight;

constexpr int64_t kSecond = 176400;  // bytes of one second at 44.1 kHz, stereo, 16 bits

struct Pass {
    QueueItem item;
    AudioStreamInfo streams[2];
    AudioTask task;
    AudioThreadSettings settings;

    explicit Pass(int tracks = 1) {
        item.state = kItemEncoding;
        item.audio = &streams[0];
        if (tracks == 2) streams[0].next = &streams[1];
        task.item = &item;
        task.inputTracks = task.outputTracks = tracks;
        task.channels = 2;
        task.bitsPerSample = 16;
        task.sampleRate = 44100;
        task.blockAlign = 4;
        task.byteRate = kSecond;
        InitWaveHeader(&task.header, 44100, 2, 16, -1);
        task.audioEnabled = true;
        EXPECT_TRUE(AllocBlockBuffer(&task));
        settings.timeoutMs = 300;
    }
    ~Pass() { item.audio = nullptr; }

    // Runs both threads; fails the test instead of hanging.
    void Run() {
        auto done = std::async(std::launch::async, [this] { RunAudioThreads(&task, settings); });
        ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "pass hung";
    }
};

TEST(AudioThreads, WhatReachesTheEncoder) {
    struct Case {
        const char* name;
        int64_t sourceBytes;
        int32_t delayMs;
        int32_t durationMs;
        int32_t speed;
        int32_t maxChunk;
        int64_t expectBytes;
        int64_t firstFrame;  // ramp frame of the first sample written
    } const cases[] = {
        {"whole source", 3 * kSecond + 400, 0, 0, 1, 1 << 20, 3 * kSecond + 400, 0},
        {"nothing at all", 0, 0, 0, 1, 1 << 20, 0, 0},
        {"negative delay drops 2.5 s", 5 * kSecond, -2500, 0, 1, 1 << 20, 5 * kSecond - 441000, 110250},
        {"positive delay drops nothing", kSecond, 300, 0, 1, 1 << 20, kSecond, 0},
        {"range ends at the duration", 5 * kSecond, 0, 1000, 1, 1 << 20, kSecond, 0},
        {"range cut inside a small read", 5 * kSecond, 0, 1010, 1, 4000, 178164, 0},
        {"speed 4 passes a quarter", 2 * kSecond, 0, 0, 4, 1 << 20, 2 * kSecond / 4, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pass p;
        RampReader reader(c.sourceBytes);
        reader.maxChunk = c.maxChunk;
        CaptureWriter writer;
        p.task.readers[0] = &reader;
        p.task.writers[0] = &writer;
        p.task.duration = c.durationMs;
        p.settings.delayMs = c.delayMs;
        p.settings.speed = c.speed;
        p.Run();
        EXPECT_EQ(writer.headers, 1);
        EXPECT_GE(writer.finishes, 1);
        ASSERT_EQ(static_cast<int64_t>(writer.data.size()), c.expectBytes);
        EXPECT_EQ(p.item.state.load(), kItemEncoding);
        if (c.speed == 1 && c.expectBytes >= 4) {
            EXPECT_EQ(writer.Sample(0), RampLeft(c.firstFrame));
            EXPECT_EQ(writer.Sample(1), RampRight(c.firstFrame));
            const int64_t last = c.expectBytes / 4 - 1;
            EXPECT_EQ(writer.Sample(2 * last), RampLeft(c.firstFrame + last));
        }
        for (int32_t n : writer.writes) EXPECT_EQ(n % 4, 0) << "a write split a frame";
        EXPECT_EQ(p.item.run.bytes.load() * 1000 / kSecond, p.item.run.position.load());
    }
}

TEST(AudioThreads, SpeedKeepsWholeFrames) {
    struct Case {
        int32_t count, speed, align, expect;
    } const cases[] = {
        {32768, 4, 4, 8192}, {32764, 3, 4, 10920}, {6, 4, 4, 4}, {2, 4, 4, 2}, {32768, 1, 4, 32768}, {32766, 5, 6, 6552},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SpeedReducedCount(c.count, c.speed, c.align), c.expect) << c.count << "/" << c.speed;
}

TEST(AudioThreads, ChannelSwapAndTwoTrackMixes) {
    {
        Pass p;
        RampReader reader(kSecond);
        CaptureWriter writer;
        p.task.readers[0] = &reader;
        p.task.writers[0] = &writer;
        p.settings.reverseChannels = true;
        p.Run();
        ASSERT_EQ(static_cast<int64_t>(writer.data.size()), kSecond);
        EXPECT_EQ(writer.Sample(2 * 777), RampRight(777));
        EXPECT_EQ(writer.Sample(2 * 777 + 1), RampLeft(777));
    }
    struct Case {
        int mode;
        bool reverse;
        int16_t (*left)(int64_t);
        int16_t (*right)(int64_t);
    };
    // Track 0 has tag 0, track 1 tag 1; mono = (L >> 1) + (R >> 1).
    auto mono0 = +[](int64_t f) { return static_cast<int16_t>((RampLeft(f, 0) >> 1) + (RampRight(f, 0) >> 1)); };
    auto mono1 = +[](int64_t f) { return static_cast<int16_t>((RampLeft(f, 1) >> 1) + (RampRight(f, 1) >> 1)); };
    auto l0 = +[](int64_t f) { return RampLeft(f, 0); };
    auto r0 = +[](int64_t f) { return RampRight(f, 0); };
    auto l1 = +[](int64_t f) { return RampLeft(f, 1); };
    auto r1 = +[](int64_t f) { return RampRight(f, 1); };
    const Case cases[] = {
        {1, false, mono0, mono1}, {1, true, mono1, mono0}, {2, false, l0, r1}, {2, true, l1, l0},
        {3, false, r0, r1},       {3, true, l1, r0},       {4, false, l1, r1}, {4, true, l1, r1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " reverse " << c.reverse);
        Pass p(2);
        p.task.outputTracks = 1;
        RampReader a(2 * kSecond + 1000, 0), b(2 * kSecond + 1000, 1);
        CaptureWriter writer;
        p.task.readers[0] = &a;
        p.task.readers[1] = &b;
        p.task.writers[0] = &writer;
        p.settings.downmixMode = c.mode - 1;
        p.settings.reverseTracks = c.reverse;
        p.Run();
        ASSERT_EQ(static_cast<int64_t>(writer.data.size()), 2 * kSecond + 1000);
        for (int64_t f : {0, 5000, 30000, 88449}) {
            EXPECT_EQ(writer.Sample(2 * f), c.left(f)) << f;
            EXPECT_EQ(writer.Sample(2 * f + 1), c.right(f)) << f;
        }
    }
}

TEST(AudioThreads, TwoTracksToTwoOutputs) {
    Pass p(2);
    RampReader a(kSecond, 0), b(kSecond, 1);
    CaptureWriter wa, wb;
    p.task.readers[0] = &a;
    p.task.readers[1] = &b;
    p.task.writers[0] = &wa;
    p.task.writers[1] = &wb;
    p.Run();
    ASSERT_EQ(static_cast<int64_t>(wa.data.size()), kSecond);
    ASSERT_EQ(static_cast<int64_t>(wb.data.size()), kSecond);
    EXPECT_EQ(wa.Sample(200), RampLeft(100, 0));
    EXPECT_EQ(wb.Sample(200), RampLeft(100, 1));
}

// Each failure ends the pass in bounded time, in state 9 with the code of the side that failed;
// the same holds when the prompt is answered "go on" every time (the default answer).
TEST(AudioThreads, DeadOrHangingToolsEndTheItem) {
    struct Case {
        const char* name;
        int64_t failAfter, blockAfter, stallAfter;
        int answer;
        int32_t expectError;
    } const cases[] = {
        {"encoder dies half way", 4 * 32768, -1, -1, 0, kItemErrorEncoderFail},
        {"encoder stops reading, user gives up", -1, 2 * 32768, -1, 0, kItemErrorEncoderFail},
        {"encoder stops reading, user always waits", -1, 2 * 32768, -1, 1, kItemErrorEncoderFail},
        {"decoder stalls, user gives up", -1, -1, 3 * 32768, 0, kItemErrorSourceFail},
        {"decoder stalls, user always waits", -1, -1, 3 * 32768, 1, kItemErrorSourceFail},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sqtest::EventRecorder events;
        events.answer(kEventAskCountdown, c.answer);
        Pass p;
        RampReader reader(600 * kSecond);
        reader.stallAfter = c.stallAfter;
        CaptureWriter writer;
        writer.failAfter = c.failAfter;
        writer.blockAfter = c.blockAfter;
        p.task.readers[0] = &reader;
        p.task.writers[0] = &writer;
        p.Run();
        EXPECT_EQ(p.item.state.load(), kItemError);
        EXPECT_EQ(p.item.errorCode.load(), c.expectError);
        EXPECT_TRUE(p.task.buffer->ended.load());
        EXPECT_TRUE(p.task.buffer->encodeDone.load());
    }
}

TEST(AudioThreads, StopDuringThePromptIsKept) {
    Pass p;
    EngineContext ctx{};
    QueueItem* item = &p.item;
    int prompts = 0;
    ctx.eventCallback = [&](int code, intptr_t, int64_t) {
        if (code != kEventAskCountdown) return 0;
        ++prompts;
        item->state = kItemStopping;  // the user presses Stop while the question is open
        return 1;
    };
    EngineContext* previous = GetEngineContext();
    SetEngineContext(&ctx);
    RampReader reader(600 * kSecond);
    CaptureWriter writer;
    writer.blockAfter = 32768;
    p.task.readers[0] = &reader;
    p.task.writers[0] = &writer;
    p.Run();
    SetEngineContext(previous);
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(p.item.state.load(), kItemStopping);
}

// A gain analysis that counts frames and answers a fixed result.
struct CountingGain : GainAnalysis {
    static inline float result = 0;
    static inline int64_t frames = 0;
    void Analyze(const int16_t*, int64_t n, int) override { frames += n; }
    float Result() override { return result; }
};

TEST(AudioThreads, GainResultsStored) {
    struct Case {
        const char* name;
        GainAnalysisFactory factory;
        float result;
        bool balancing;
        float expect0, expect1;
    } const cases[] = {
        {"no analyser: no gain", nullptr, 0, false, 0, 0},
        {"unsupported rate: no gain", [](uint32_t) -> GainAnalysis* { return nullptr; }, 0, false, 0, 0},
        {"measured gain", [](uint32_t) -> GainAnalysis* { return new CountingGain; }, -3.5f, false, -3.5f, 0},
        {"too short: 0, never -24601", [](uint32_t) -> GainAnalysis* { return new CountingGain; }, kGainNotEnoughSamples,
         false, 0, 0},
        {"balancing: both channels", [](uint32_t) -> GainAnalysis* { return new CountingGain; }, 2.0f, true, 2.0f, 2.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetGainAnalysisFactory(c.factory);
        CountingGain::result = c.result;
        CountingGain::frames = 0;
        Pass p;
        p.streams[0].gain[0] = p.streams[0].gain[1] = 99;
        p.task.gainAnalysis = true;
        p.settings.balancing = c.balancing;
        RampReader reader(kSecond);
        CaptureWriter writer;
        p.task.readers[0] = &reader;
        p.task.writers[0] = &writer;
        p.Run();
        if (c.factory && c.result != 0) {
            EXPECT_EQ(CountingGain::frames, (c.balancing ? 2 : 1) * 44100);
        }
        EXPECT_EQ(p.streams[0].gain[0], c.expect0);
        if (c.balancing) {
            EXPECT_EQ(p.streams[0].gain[1], c.expect1);
        }
    }
    SetGainAnalysisFactory(MakeTrackGainAnalysis);
}

}  // namespace

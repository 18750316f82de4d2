// The two ends the audio threads move PCM between: a reader per input track (a source) and a
// writer per output track (an encoder). The audio pass wraps its sources and encoders in these;
// tests and benchmarks give their own.
#pragma once

#include <cstdint>

#include "engine/encoders/wave_header.h"

class PcmReader {
public:
    virtual ~PcmReader() = default;
    // At most size bytes into buffer; the count, or -1 at the end or on failure (0 is a count).
    virtual int32_t Read(uint8_t* buffer, int32_t size) = 0;
    // Ends a live source or its decoder process, so that a blocked Read returns.
    virtual void Stop() {}
    // Percent of the machine's processors the decoder process used since the last call (0 the
    // first time); -1 when the source runs no process. Safe from any thread while the pass runs.
    virtual double GetCpuUsage() { return -1.0; }
};

class PcmWriter {
public:
    virtual ~PcmWriter() = default;
    virtual bool WriteHeader(const WaveHeader& header) = 0;
    // Writes all of the bytes; length, or anything else on failure.
    virtual int32_t Write(const uint8_t* bytes, int32_t length) = 0;
    virtual bool IsReady() { return true; }
    // Called by the encode thread as it ends, before Finish and outside the task's lock: a tool
    // that still works on its own (it reads the input file itself) is waited for here, while
    // pause and stop still reach it.
    virtual void BeforeFinish() {}
    // Ends the input of the tool and lets it finish its output. Called once or more.
    virtual void Finish() {}
    // Ends the tool at once, so that a Write blocked on a tool that stopped reading returns.
    virtual void Cancel() {}
};

// Loudness analysis of one track (or one channel with balancing). The default factory makes the
// ReplayGain analysis (track_gain.h); a factory of null makes none, and every gain stays 0 dB.
class GainAnalysis {
public:
    virtual ~GainAnalysis() = default;
    // Interleaved 16-bit samples; channels 1 or 2.
    virtual void Analyze(const int16_t* samples, int64_t frames, int channels) = 0;
    // The gain in dB; kGainNotEnoughSamples when no complete block was seen.
    virtual float Result() = 0;
};
inline constexpr float kGainNotEnoughSamples = -24601.0f;

// Makes an analysis for a sample rate, or null when there is none for that rate.
using GainAnalysisFactory = GainAnalysis* (*)(uint32_t sampleRate);
void SetGainAnalysisFactory(GainAnalysisFactory factory);
GainAnalysis* MakeGainAnalysis(uint32_t sampleRate);

// Loudness analysis of one track for volume normalisation and balancing: the ReplayGain gain
// analysis (equal-loudness filter, 50 ms RMS blocks, 95th percentile against a pink-noise
// reference of 64.82 dB), kept per object so that tracks can be analysed side by side.
#pragma once

#include <cstdint>

// In a namespace of its own: the audio pass calls its interface to an analysis GainAnalysis too.
namespace gain {

inline constexpr int kGainMaxOrder = 10;
inline constexpr int kGainMaxWindow = 4800;  // 50 ms at 96 kHz, the highest rate analysed
inline constexpr int kGainHistogramSize = 12000;  // 100 bins per dB over 120 dB
// Low-pass taps of the halving step for rates analysed at half their rate (88.2 and 64 kHz).
inline constexpr int kGainDecimationTaps = 95;
// What the analysis answers when no complete block was seen; never a gain to apply.
inline constexpr double kGainNotEnoughSamples = -24601.0;

// One analysis (about 330 KB: keep it on the heap).
struct GainAnalysis {
    // Per channel: the input history (10 samples), the equal-loudness filter's output and the
    // high-pass filter's output (10 history values, then the current block).
    double linprebuf[kGainMaxOrder * 2];
    double lstepbuf[kGainMaxOrder + kGainMaxWindow];
    double loutbuf[kGainMaxOrder + kGainMaxWindow];
    double rinprebuf[kGainMaxOrder * 2];
    double rstepbuf[kGainMaxOrder + kGainMaxWindow];
    double routbuf[kGainMaxOrder + kGainMaxWindow];
    int32_t sampleWindow = 0;  // samples per RMS block; 0 until a rate is set
    int32_t totsamp = 0;
    double lsum = 0;
    double rsum = 0;
    int32_t freqindex = 0;
    uint32_t trackHistogram[kGainHistogramSize];
    uint32_t albumHistogram[kGainHistogramSize];
    double titlePeak = 0;  // largest absolute sample since the last title gain
    // 88.2 and 64 kHz are low-passed and halved, then analysed with the 44.1 and 32 kHz filters:
    // the last input samples of each channel and whether the next input sample is kept.
    int32_t decimation = 1;
    int32_t decimationPhase = 0;
    double ldecim[kGainDecimationTaps - 1];
    double rdecim[kGainDecimationTaps - 1];
};

// 1, or 0 for a rate the analysis has no filter for (the object then refuses samples). 88.2 and
// 64 kHz audio is analysed at half its rate, through the 44.1 and 32 kHz filters.
int32_t GainInit(GainAnalysis* object, int32_t sampleRate);
// Starts a new track at this rate: clears the histories, the block and the track histogram.
int32_t GainSetSampleRate(GainAnalysis* object, int32_t sampleRate);
// Feeds count samples per channel (16-bit PCM range). One channel: left serves as both.
// 1 on success (also for count 0); 0 for a channel count other than 1 or 2 or without a rate.
int32_t GainAnalyzeSamples(GainAnalysis* object, const double* left, const double* right, int64_t count,
                           int32_t channels);
// The gain in dB of the samples since the last call (kGainNotEnoughSamples without a complete
// block); the track is then added to the album and the filters start afresh.
double GainGetTitleGain(GainAnalysis* object);
// The largest absolute sample since the last GainGetTitleGain, in 16-bit PCM units; read it
// before GainGetTitleGain, which clears it.
double GainGetTitlePeak(const GainAnalysis* object);
double GainFromHistogram(const uint32_t* histogram, int32_t size);

// True when a gain came from real blocks, i.e. may be stored and applied.
inline bool GainIsAnalysed(double gain) { return gain > -24600.0; }
// The gain to store: "not enough samples" stores as 0 dB (no change).
inline double GainToStore(double gain) { return GainIsAnalysed(gain) ? gain : 0.0; }

// The filter coefficients used for a rate (21 equal-loudness, 5 high-pass; interleaved b0, a1, b1,
// a2, ...); false for a rate without a filter.
bool GainFilterRows(int32_t sampleRate, const double** yule, const double** butter);

}  // namespace gain

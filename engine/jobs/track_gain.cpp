#include "engine/jobs/track_gain.h"

#include <algorithm>
#include <memory>

#include "engine/tools/gain_analysis.h"

namespace {

class TrackGainAnalysis : public GainAnalysis {
public:
    bool Init(uint32_t sampleRate) { return gain::GainInit(state_.get(), static_cast<int32_t>(sampleRate)) == 1; }

    void Analyze(const int16_t* samples, int64_t frames, int channels) override {
        if (channels != 1 && channels != 2) return;
        // Converted in slices, so the buffers stay small whatever the block size.
        constexpr int64_t kSlice = 4096;
        double left[kSlice];
        double right[kSlice];
        for (int64_t done = 0; done < frames;) {
            const int64_t n = std::min(kSlice, frames - done);
            const int16_t* in = samples + done * channels;
            for (int64_t i = 0; i < n; ++i) {
                left[i] = in[i * channels];
                right[i] = in[i * channels + channels - 1];
            }
            gain::GainAnalyzeSamples(state_.get(), left, right, n, channels);
            done += n;
        }
    }

    float Result() override {
        const double g = gain::GainGetTitleGain(state_.get());
        return gain::GainIsAnalysed(g) ? static_cast<float>(g) : kGainNotEnoughSamples;
    }

private:
    std::unique_ptr<gain::GainAnalysis> state_ = std::make_unique<gain::GainAnalysis>();
};

}  // namespace

GainAnalysis* MakeTrackGainAnalysis(uint32_t sampleRate) {
    auto analysis = std::make_unique<TrackGainAnalysis>();
    if (!analysis->Init(sampleRate)) return nullptr;
    return analysis.release();
}

// The audio pass's loudness analysis of one track, over the ReplayGain gain analysis.
#pragma once

#include <cstdint>

#include "engine/jobs/pcmio.h"

// A new analysis for the rate, or null when the analysis has no filter for it.
GainAnalysis* MakeTrackGainAnalysis(uint32_t sampleRate);

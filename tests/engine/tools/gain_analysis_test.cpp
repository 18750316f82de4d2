#include "engine/tools/gain_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "support/shell_command.h"
#include "support/tempdir.h"

namespace {

using namespace gain;

constexpr double kFullScale = 32767.0;

std::vector<double> Sine(int rate, double seconds, double amplitude, double hz = 1000.0) {
    std::vector<double> s(static_cast<size_t>(rate * seconds));
    for (size_t i = 0; i < s.size(); ++i) s[i] = amplitude * std::sin(2 * std::numbers::pi * hz * i / rate);
    return s;
}

// Pink noise (white noise through a 1/f shaping filter) scaled to an RMS of -20 dBFS.
std::vector<double> PinkNoise(int rate, double seconds) {
    std::mt19937 gen(12345);
    std::normal_distribution<double> white(0.0, 1.0);
    std::vector<double> s(static_cast<size_t>(rate * seconds));
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
    for (double& v : s) {
        const double w = white(gen);
        b0 = 0.99886 * b0 + w * 0.0555179;
        b1 = 0.99332 * b1 + w * 0.0750759;
        b2 = 0.96900 * b2 + w * 0.1538520;
        b3 = 0.86650 * b3 + w * 0.3104856;
        b4 = 0.55000 * b4 + w * 0.5329522;
        b5 = -0.7616 * b5 - w * 0.0168980;
        v = b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362;
        b6 = w * 0.115926;
    }
    double sum = 0;
    for (double v : s) sum += v * v;
    const double scale = kFullScale * 0.1 / std::sqrt(sum / s.size());
    for (double& v : s) v *= scale;
    return s;
}

// The analysis written the plain way: both filters over the whole signal at once, the level of
// every complete 50 ms block, and the level that 5 % of the blocks exceed.
double PlainGain(const std::vector<double>& x, int rate) {
    const double* yule = nullptr;
    const double* butter = nullptr;
    if (!GainFilterRows(rate, &yule, &butter)) return kGainNotEnoughSamples;
    const size_t n = x.size();
    auto at = [](const std::vector<double>& v, long i) { return i < 0 ? 0.0 : v[static_cast<size_t>(i)]; };
    std::vector<double> y(n), z(n);
    for (size_t i = 0; i < n; ++i) {
        double acc = 1e-10 + yule[0] * x[i];
        for (int k = 1; k <= 10; ++k) acc += yule[2 * k] * at(x, long(i) - k) - yule[2 * k - 1] * at(y, long(i) - k);
        y[i] = acc;
    }
    for (size_t i = 0; i < n; ++i) {
        double acc = butter[0] * y[i];
        for (int k = 1; k <= 2; ++k) acc += butter[2 * k] * at(y, long(i) - k) - butter[2 * k - 1] * at(z, long(i) - k);
        z[i] = acc;
    }
    const size_t window = static_cast<size_t>(std::ceil(rate * 0.05));
    std::vector<int> bins;
    for (size_t start = 0; start + window <= n; start += window) {
        double sum = 0;
        for (size_t i = start; i < start + window; ++i) sum += z[i] * z[i];
        const double level = 1000.0 * std::log10(sum / window + 1e-37);
        bins.push_back(std::clamp(level > 0 ? static_cast<int>(level) : 0, 0, kGainHistogramSize - 1));
    }
    if (bins.empty()) return kGainNotEnoughSamples;
    std::sort(bins.rbegin(), bins.rend());
    // The loudest 5 %, rounded up.
    const size_t rank = (bins.size() + 19) / 20;
    return 64.82 - bins[rank - 1] / 100.0;
}

std::unique_ptr<GainAnalysis> Analysis(int rate) {
    auto g = std::make_unique<GainAnalysis>();
    EXPECT_EQ(GainInit(g.get(), rate), 1);
    return g;
}

// Feeds the signal in uneven pieces (shorter and longer than the history and the block), so
// the piece and history bookkeeping is exercised as in a decode pass.
double ChunkedGain(const std::vector<double>& x, int rate, int channels) {
    auto g = Analysis(rate);
    const size_t pieces[] = {1, 7, 9, 10, 11, 1000, 4799, 4801, 333};
    size_t pos = 0;
    for (size_t i = 0; pos < x.size(); ++i) {
        const size_t len = std::min(pieces[i % std::size(pieces)], x.size() - pos);
        EXPECT_EQ(GainAnalyzeSamples(g.get(), x.data() + pos, x.data() + pos, static_cast<int64_t>(len), channels), 1);
        pos += len;
    }
    return GainGetTitleGain(g.get());
}

TEST(GainAnalysis, GeneratedSignalsMatchThePlainAnalysis) {
    struct Signal {
        const char* name;
        std::vector<double> (*make)(int rate);
    };
    const Signal signals[] = {
        {"pink -20 dBFS", [](int rate) { return PinkNoise(rate, 3.0); }},
        {"full-scale sine", [](int rate) { return Sine(rate, 3.0, kFullScale); }},
        {"silence", [](int rate) { return std::vector<double>(size_t(rate) * 3, 0.0); }},
    };
    for (int rate : {44100, 48000, 96000}) {
        for (const Signal& signal : signals) {
            SCOPED_TRACE(testing::Message() << signal.name << " at " << rate);
            const std::vector<double> x = signal.make(rate);
            const double expected = PlainGain(x, rate);
            ASSERT_TRUE(GainIsAnalysed(expected));
            EXPECT_NEAR(ChunkedGain(x, rate, 2), expected, 0.0100001);
            EXPECT_NEAR(ChunkedGain(x, rate, 1), expected, 0.0100001);
        }
    }
}

TEST(GainAnalysis, KnownFigures) {
    // Silence sits in the lowest bin: the full reference level.
    auto g = Analysis(44100);
    const std::vector<double> silence(44100, 0.0);
    GainAnalyzeSamples(g.get(), silence.data(), silence.data(), 44100, 2);
    EXPECT_DOUBLE_EQ(GainGetTitleGain(g.get()), 64.82);
    // A full-scale 1 kHz sine at 96 kHz, as printed by
    //   ffmpeg -f lavfi -i "aevalsrc=32767/32768*sin(2*PI*1000*t):s=96000:d=5:c=stereo" -af replaygain -f null -
    // "track_gain = -15.28 dB".
    const std::vector<double> sine = Sine(96000, 5.0, kFullScale);
    g = Analysis(96000);
    GainAnalyzeSamples(g.get(), sine.data(), sine.data(), static_cast<int64_t>(sine.size()), 2);
    EXPECT_NEAR(GainGetTitlePeak(g.get()), kFullScale, 1.0);
    EXPECT_NEAR(GainGetTitleGain(g.get()), -15.28, 0.0100001);
    // A second title on the same object starts afresh: a quieter copy reads 20 dB more gain.
    std::vector<double> quiet = sine;
    for (double& v : quiet) v *= 0.1;
    GainAnalyzeSamples(g.get(), quiet.data(), quiet.data(), static_cast<int64_t>(quiet.size()), 2);
    // The levels of its blocks sit exactly 2000 bins (20 dB) lower: the gain moves by 20 dB, at
    // most one bin off, whatever the rounding of the printed figure above.
    EXPECT_NEAR(GainGetTitleGain(g.get()), -15.28 + 20.0, 0.0100001);
}

// The low rates against the reference tool: sox makes a tone and noise, `metaflac --add-replay-gain`
// writes its track gain, and the analysis of the same 16-bit samples gives the same gain.
TEST(GainAnalysis, LowRatesAgreeWithTheReferenceTool) {
    sqtest::TempDir dir;
    const char* const signals[] = {"sine 100", "sine 60", "pinknoise", "brownnoise"};
    for (int rate : {8000, 11025, 12000, 16000, 22050, 24000}) {
        for (const char* signal : signals) {
            SCOPED_TRACE(testing::Message() << signal << " at " << rate);
            const std::string flac = dir.file("t.flac"), raw = dir.file("t.raw");
            ASSERT_TRUE(sqtest::Shell("sox -D -R -n -r " + std::to_string(rate) + " -c 1 -b 16 " + flac + " synth 5 " +
                                      signal + " vol 0.3 && sox -D " + flac + " -t s16 " + raw + " && metaflac --add-replay-gain " + flac));
            const std::string tag = sqtest::Capture("metaflac --show-tag=REPLAYGAIN_TRACK_GAIN " + flac);
            ASSERT_NE(tag.find('='), std::string::npos) << tag;
            const double reference = std::atof(tag.c_str() + tag.find('=') + 1);
            const std::string bytes = sqtest::ReadFile(raw);
            std::vector<double> x(bytes.size() / 2);
            for (size_t i = 0; i < x.size(); ++i)
                x[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
            auto g = Analysis(rate);
            GainAnalyzeSamples(g.get(), x.data(), x.data(), static_cast<int64_t>(x.size()), 1);
            EXPECT_NEAR(GainGetTitleGain(g.get()), reference, 0.05);
        }
    }
}

TEST(GainAnalysis, BlockWindowPerRate) {
    const struct {
        int rate;
        int window;
    } cases[] = {{44100, 2205}, {8000, 400}, {22050, 1103}, {96000, 4800}, {11025, 552},
                 {88200, 2205}, {64000, 1600}};  // the halved rates: 50 ms of the half rate
    for (const auto& c : cases) {
        auto g = Analysis(c.rate);
        EXPECT_EQ(g->sampleWindow, c.window) << c.rate;
    }
}

// 88.2 and 64 kHz are low-passed and halved: a tone reads as the same tone at the half rate, in
// pieces of any length (the halving keeps its place across calls), and content above the half
// rate's band does not fold back into it.
TEST(GainAnalysis, DoubleRatesReadAsTheirHalfRate) {
    const struct {
        int rate, half;
        double hz;
    } cases[] = {{88200, 44100, 60}, {88200, 44100, 1000}, {88200, 44100, 12000}, {64000, 32000, 440},
                 {64000, 32000, 5000}, {64000, 32000, 12000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hz << " Hz at " << c.rate);
        const std::vector<double> high = Sine(c.rate, 3.0, 10000.0, c.hz);
        const std::vector<double> low = Sine(c.half, 3.0, 10000.0, c.hz);
        auto whole = Analysis(c.rate);
        GainAnalyzeSamples(whole.get(), high.data(), high.data(), static_cast<int64_t>(high.size()), 2);
        const double expected = PlainGain(low, c.half);
        EXPECT_NEAR(GainGetTitleGain(whole.get()), expected, 0.0100001);
        EXPECT_NEAR(ChunkedGain(high, c.rate, 1), expected, 0.0100001);
    }
    // A 30 kHz tone lies above 22.05 kHz: halving must drop it, not fold it to 14.1 kHz.
    auto g = Analysis(88200);
    const std::vector<double> ultrasonic = Sine(88200, 3.0, 10000.0, 30000.0);
    GainAnalyzeSamples(g.get(), ultrasonic.data(), ultrasonic.data(), static_cast<int64_t>(ultrasonic.size()), 2);
    const double folded = PlainGain(Sine(44100, 3.0, 10000.0, 44100 - 30000.0), 44100);
    EXPECT_GT(GainGetTitleGain(g.get()), folded + 40.0);
}

TEST(GainAnalysis, TooLittleSignalIsNeverAGain) {
    auto g = Analysis(44100);
    const std::vector<double> x = Sine(44100, 0.04, kFullScale);  // under one 50 ms block
    EXPECT_EQ(GainAnalyzeSamples(g.get(), x.data(), x.data(), static_cast<int64_t>(x.size()), 2), 1);
    const double gain = GainGetTitleGain(g.get());
    EXPECT_EQ(gain, kGainNotEnoughSamples);
    EXPECT_FALSE(GainIsAnalysed(gain));
    EXPECT_EQ(GainToStore(gain), 0.0);
    EXPECT_EQ(GainToStore(-6.5), -6.5);
}

TEST(GainAnalysis, RefusedInputChangesNothing) {
    auto g = Analysis(48000);
    const std::vector<double> x = Sine(48000, 0.2, kFullScale);
    EXPECT_EQ(GainAnalyzeSamples(g.get(), x.data(), x.data(), 0, 2), 1);
    EXPECT_EQ(GainAnalyzeSamples(g.get(), x.data(), x.data(), static_cast<int64_t>(x.size()), 3), 0);
    EXPECT_EQ(g->totsamp, 0);
    EXPECT_EQ(GainGetTitleGain(g.get()), kGainNotEnoughSamples);
}

TEST(GainAnalysis, RateWithoutFilterIsRefusedWithoutHanging) {
    for (int rate : {0, 44000, 192000, -1}) {
        SCOPED_TRACE(rate);
        auto g = std::make_unique<GainAnalysis>();
        EXPECT_EQ(GainInit(g.get(), rate), 0);
        const std::vector<double> x(10000, 1000.0);
        EXPECT_EQ(GainAnalyzeSamples(g.get(), x.data(), x.data(), static_cast<int64_t>(x.size()), 2), 0);
        EXPECT_EQ(GainToStore(GainGetTitleGain(g.get())), 0.0);
    }
}

TEST(GainAnalysis, HistogramPercentile) {
    std::vector<uint32_t> h(kGainHistogramSize, 0);
    EXPECT_EQ(GainFromHistogram(h.data(), kGainHistogramSize), kGainNotEnoughSamples);
    // Of 100 blocks the loudest 5 count, exactly as the reference tool counts them: five loud
    // blocks set the level, four leave it to the quiet bin.
    h[1000] = 95;
    h[2000] = 5;
    EXPECT_DOUBLE_EQ(GainFromHistogram(h.data(), kGainHistogramSize), 64.82 - 20.0);
    h[1000] = 96;
    h[2000] = 4;
    EXPECT_DOUBLE_EQ(GainFromHistogram(h.data(), kGainHistogramSize), 64.82 - 10.0);
    // Of 101 blocks, 5.05 round up to 6.
    h[1000] = 96;
    h[2000] = 5;
    EXPECT_DOUBLE_EQ(GainFromHistogram(h.data(), kGainHistogramSize), 64.82 - 10.0);
    h[1000] = 95;
    h[2000] = 6;
    EXPECT_DOUBLE_EQ(GainFromHistogram(h.data(), kGainHistogramSize), 64.82 - 20.0);
}

}  // namespace

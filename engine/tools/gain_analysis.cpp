#include "engine/tools/gain_analysis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <iterator>
#include <numbers>

namespace gain {

namespace {

constexpr int kYuleOrder = 10;
constexpr int kButterOrder = 2;
constexpr double kPinkReference = 64.82;
constexpr double kStepsPerDb = 100.0;

constexpr int32_t kRates[12] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
// The equal-loudness rows for 88.2 and 64 kHz are not in this build: those rates are halved and
// analysed with the rows of 44.1 and 32 kHz (see Decimate).
constexpr bool kRowAvailable[12] = {true, false, false, true, true, true, true, true, true, true, true, true};

// The rate whose filters analyse a rate, and the step between the samples analysed.
int32_t AnalysisRate(int32_t sampleRate, int32_t* decimation) {
    *decimation = sampleRate == 88200 || sampleRate == 64000 ? 2 : 1;
    return sampleRate / *decimation;
}

// A windowed-sinc (Blackman) low-pass at 0.23 of the input rate, unity gain at 0 Hz: what passes
// lies below the half rate's Nyquist frequency, so halving folds nothing audible back.
const double* DecimationTaps() {
    static const auto taps = [] {
        std::array<double, kGainDecimationTaps> t{};
        constexpr double kCutoff = 0.23;
        const int mid = kGainDecimationTaps / 2;
        double sum = 0;
        for (int n = 0; n < kGainDecimationTaps; ++n) {
            const double x = n - mid;
            const double sinc = x == 0 ? 2 * kCutoff : std::sin(2 * std::numbers::pi * kCutoff * x) / (std::numbers::pi * x);
            const double w = 0.42 - 0.5 * std::cos(2 * std::numbers::pi * n / (kGainDecimationTaps - 1)) +
                             0.08 * std::cos(4 * std::numbers::pi * n / (kGainDecimationTaps - 1));
            t[n] = sinc * w;
            sum += t[n];
        }
        for (double& v : t) v /= sum;
        return t;
    }();
    return taps.data();
}

// Equal-loudness (Yule-Walker, order 10) coefficients per rate: b0, a1, b1, a2, b2, ... a10, b10.
constexpr double kYule[12][2 * kYuleOrder + 1] = {
    {0.006471345933032, -7.22103125152679, -0.02567678242161, 24.7034187975904, 0.049805860704367,
     -52.6825833623896, -0.05823001743528, 77.4825736677539, 0.040611847441914, -82.0074753444205,
     -0.010912036887501, 63.1566097101925, -0.00901635868667, -34.889569769245, 0.012448886238123,
     13.2126852760198, -0.007206683749426, -3.09445623301669, 0.002167156433951, 0.340344741393305,
     -0.000261819276949},
    {},  // 88200: row not available yet (see kRowAvailable)
    {},  // 64000: row not available yet
    {0.03857599435200, -3.84664617118067, -0.02160367184185, 7.81501653005538, -0.00123395316851,
     -11.34170355132042, -0.00009291677959, 13.05504219327545, -0.01655260341619, -12.28759895145294,
     0.02161526843274, 9.48293806319790, -0.02074045215285, -5.87257861775999, 0.00594298065125,
     2.75465861874613, 0.00306428023191, -0.86984376593551, 0.00012025322027, 0.13919314567432,
     0.00288463683916},
    {0.05418656406430, -3.47845948550071, -0.02911007808948, 6.36317777566148, -0.00848709379851,
     -8.54751527471874, -0.00851165645469, 9.47693607801280, -0.00834990904936, -8.81498681370155,
     0.02245293253339, 6.85401540936998, -0.02596338512915, -4.39470996079559, 0.01624864962975,
     2.19611684890774, -0.00240879051584, -0.75104302451432, 0.00674613682247, 0.13149317958808,
     -0.00187763777362},
    {0.15457299681924, -2.37898834973084, -0.09331049056315, 2.84868151156327, -0.06247880153653,
     -2.64577170229825, 0.02163541888798, 2.23697657451713, -0.05588393329856, -1.67148153367602,
     0.04781476674921, 1.00595954808547, 0.00222312597743, -0.45953458054983, 0.03174092540049,
     0.16378164858596, -0.01390589421898, -0.05032077717131, 0.00651420667831, 0.02347897407020,
     -0.00881362733839},
    {0.30296907319327, -1.61273165137247, -0.22613988682123, 1.07977492259970, -0.08587323730772,
     -0.25656257754070, 0.03282930172664, -0.16276719120440, -0.00915702933434, -0.22638893773906,
     -0.02364141202522, 0.39120800788284, -0.00584456039913, -0.22138138954925, 0.06276101321749,
     0.04500235387352, -0.00000828086748, 0.02005851806501, 0.00205861885564, 0.00302439095741,
     -0.02950134983287},
    {0.33642304856132, -1.49858979367799, -0.25572241425570, 0.87350271418188, -0.11828570177555,
     0.12205022308084, 0.11921148675203, -0.80774944671438, -0.07834489609479, 0.47854794562326,
     -0.00469977914380, -0.12453458140019, -0.00589500224440, -0.04067510197014, 0.05724228140351,
     0.08333755284107, 0.00832043980773, -0.04237348025746, -0.01635381384540, 0.02977207319925,
     -0.01760176568150},
    {0.44915256608450, -0.62820619233671, -0.14351757464547, 0.29661783706366, -0.22784394429749,
     -0.37256372942400, -0.01419140100551, 0.00213767857124, 0.04078262797139, -0.42029820170918,
     -0.12398163381748, 0.22199650564824, 0.04097565135648, 0.00613424350682, 0.10478503600251,
     0.06747620744683, -0.01863887810927, 0.05784820375801, -0.03193428438915, 0.03222754072173,
     0.00541907748707},
    {0.56619470757641, -1.04800335126349, -0.75464456939302, 0.29156311971249, 0.16242137742230,
     -0.26806001042947, 0.16744243493672, 0.00819999645858, -0.18901604199609, 0.45054734505008,
     0.30931782841830, -0.33032403314006, -0.27562961986224, 0.06739368333110, 0.00647310677246,
     -0.04784254229033, 0.08647503780351, 0.01639907836189, -0.03788984554840, 0.01807364323573,
     -0.00588215443421},
    {0.58100494960553, -0.51035327095184, -0.53174909058578, -0.31863563325245, -0.14289799034253,
     -0.20256413484477, 0.17520704835522, 0.14728154134330, 0.02377945217615, 0.38952639978999,
     0.15558449135573, -0.23313271880868, -0.25344790059353, -0.05246019024463, 0.01628462406333,
     -0.02505961724053, 0.06920467763959, 0.02442357316099, -0.03721611395801, 0.01818801111503,
     -0.00749618797172},
    {0.53648789255105, -0.25049871956020, -0.42163034350696, -0.43193942311114, -0.00275953611929,
     -0.03424681017675, 0.04267842219415, -0.04678328784242, -0.10214864179676, 0.26408300200955,
     0.14590772289388, 0.15113130533216, -0.02459864859345, -0.17556493366449, -0.11202315195388,
     -0.18823009262115, -0.04060034127000, 0.05477720428674, 0.04788665548180, 0.04704409688120,
     -0.02217936801134},
};

// 150 Hz high-pass (Butterworth, order 2) per rate: b0, a1, b1, a2, b2.
constexpr double kButter[12][2 * kButterOrder + 1] = {
    {0.99308203517541, -1.98611621154089, -1.98616407035082, 0.986211929160751, 0.99308203517541},
    {0.992472550461293, -1.98488843762334, -1.98494510092259, 0.985001764221826, 0.992472550461293},
    {0.989641019334721, -1.97917472731008, -1.97928203866944, 0.979389350028798, 0.989641019334721},
    {0.98621192462708, -1.97223372919527, -1.97242384925416, 0.97261396931306, 0.98621192462708},
    {0.98500175787242, -1.96977855582618, -1.97000351574484, 0.97022847566350, 0.98500175787242},
    {0.97938932735214, -1.95835380975398, -1.95877865470428, 0.95920349965459, 0.97938932735214},
    {0.97531843204928, -1.95002759149878, -1.95063686409857, 0.95124613669835, 0.97531843204928},
    {0.97316523498161, -1.94561023566527, -1.94633046996323, 0.94705070426118, 0.97316523498161},
    {0.96454515552826, -1.92783286977036, -1.92909031105652, 0.93034775234268, 0.96454515552826},
    {0.96009142950541, -1.91858953033784, -1.92018285901082, 0.92177618768381, 0.96009142950541},
    {0.95856916599601, -1.9154210807478, -1.91713833199203, 0.91885558323625, 0.95856916599601},
    {0.94597685600279, -1.88903307939452, -1.89195371200558, 0.89487434461664, 0.94597685600279},
};

void FilterYule(const double* input, double* output, int32_t count, const double* k) {
    for (int32_t n = 0; n < count; ++n, ++input, ++output) {
        *output = 1e-10 + input[0] * k[0] - output[-1] * k[1] + input[-1] * k[2] - output[-2] * k[3] +
                  input[-2] * k[4] - output[-3] * k[5] + input[-3] * k[6] - output[-4] * k[7] + input[-4] * k[8] -
                  output[-5] * k[9] + input[-5] * k[10] - output[-6] * k[11] + input[-6] * k[12] -
                  output[-7] * k[13] + input[-7] * k[14] - output[-8] * k[15] + input[-8] * k[16] -
                  output[-9] * k[17] + input[-9] * k[18] - output[-10] * k[19] + input[-10] * k[20];
    }
}

void FilterButter(const double* input, double* output, int32_t count, const double* k) {
    for (int32_t n = 0; n < count; ++n, ++input, ++output) {
        *output = input[0] * k[0] - output[-1] * k[1] + input[-1] * k[2] - output[-2] * k[3] + input[-2] * k[4];
    }
}

double SumOfSquares(const double* x, int32_t count) {
    double sum = 0;
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        double block = 0;
        for (int j = 0; j < 16; ++j) block += x[i + j] * x[i + j];
        sum += block;
    }
    for (; i < count; ++i) sum += x[i] * x[i];
    return sum;
}

void ClearHistories(GainAnalysis* g) {
    std::memset(g->ldecim, 0, sizeof g->ldecim);
    std::memset(g->rdecim, 0, sizeof g->rdecim);
    g->decimationPhase = 0;
    std::memset(g->linprebuf, 0, sizeof g->linprebuf);
    std::memset(g->rinprebuf, 0, sizeof g->rinprebuf);
    std::memset(g->lstepbuf, 0, sizeof(double) * kGainMaxOrder);
    std::memset(g->rstepbuf, 0, sizeof(double) * kGainMaxOrder);
    std::memset(g->loutbuf, 0, sizeof(double) * kGainMaxOrder);
    std::memset(g->routbuf, 0, sizeof(double) * kGainMaxOrder);
}

}  // namespace

int32_t GainSetSampleRate(GainAnalysis* g, int32_t sampleRate) {
    int32_t decimation = 1;
    const int32_t rate = AnalysisRate(sampleRate, &decimation);
    const int32_t* row = std::find(std::begin(kRates), std::end(kRates), rate);
    if (row == std::end(kRates) || !kRowAvailable[row - std::begin(kRates)]) return 0;
    ClearHistories(g);
    g->decimation = decimation;
    g->freqindex = static_cast<int32_t>(row - std::begin(kRates));
    g->sampleWindow = static_cast<int32_t>(std::ceil(rate * 0.05));
    g->totsamp = 0;
    g->lsum = g->rsum = 0;
    g->titlePeak = 0;
    std::memset(g->trackHistogram, 0, sizeof g->trackHistogram);
    return 1;
}

int32_t GainInit(GainAnalysis* g, int32_t sampleRate) {
    // An unknown rate leaves no window, so later samples are refused instead of looping forever.
    g->sampleWindow = 0;
    if (!GainSetSampleRate(g, sampleRate)) return 0;
    std::memset(g->albumHistogram, 0, sizeof g->albumHistogram);
    return 1;
}

namespace {

// The analysis proper, on samples at the rate of the object's filters.
void AnalyzeAtRate(GainAnalysis* g, const double* left, const double* right, int64_t count) {
    // The first samples go behind the input history, so the filters see one continuous signal.
    double* const linpre = g->linprebuf + kGainMaxOrder;
    double* const rinpre = g->rinprebuf + kGainMaxOrder;
    const int64_t head = std::min<int64_t>(count, kGainMaxOrder);
    std::memcpy(linpre, left, sizeof(double) * head);
    std::memcpy(rinpre, right, sizeof(double) * head);

    const double* yule = kYule[g->freqindex];
    const double* butter = kButter[g->freqindex];
    int64_t position = 0;
    while (position < count) {
        int64_t piece = std::min<int64_t>(count - position, g->sampleWindow - g->totsamp);
        const double* curLeft;
        const double* curRight;
        if (position < kGainMaxOrder) {
            curLeft = linpre + position;
            curRight = rinpre + position;
            piece = std::min<int64_t>(piece, kGainMaxOrder - position);
        } else {
            curLeft = left + position;
            curRight = right + position;
        }
        const int32_t n = static_cast<int32_t>(piece);
        double* lstep = g->lstepbuf + kGainMaxOrder + g->totsamp;
        double* rstep = g->rstepbuf + kGainMaxOrder + g->totsamp;
        double* lout = g->loutbuf + kGainMaxOrder + g->totsamp;
        double* rout = g->routbuf + kGainMaxOrder + g->totsamp;
        FilterYule(curLeft, lstep, n, yule);
        FilterYule(curRight, rstep, n, yule);
        FilterButter(lstep, lout, n, butter);
        FilterButter(rstep, rout, n, butter);
        g->lsum += SumOfSquares(lout, n);
        g->rsum += SumOfSquares(rout, n);

        position += n;
        g->totsamp += n;
        if (g->totsamp == g->sampleWindow) {
            const double val = kStepsPerDb * 10.0 * std::log10((g->lsum + g->rsum) / g->totsamp * 0.5 + 1e-37);
            // A sample that is not a number counts as a quiet block instead of indexing anywhere.
            const int index = !(val > 0) ? 0 : static_cast<int>(std::min(val, double(kGainHistogramSize - 1)));
            g->trackHistogram[index]++;
            g->lsum = g->rsum = 0;
            const size_t keep = sizeof(double) * kGainMaxOrder;
            std::memmove(g->loutbuf, g->loutbuf + g->totsamp, keep);
            std::memmove(g->routbuf, g->routbuf + g->totsamp, keep);
            std::memmove(g->lstepbuf, g->lstepbuf + g->totsamp, keep);
            std::memmove(g->rstepbuf, g->rstepbuf + g->totsamp, keep);
            g->totsamp = 0;
        }
    }

    // The last ten input samples become the history for the next call.
    if (count < kGainMaxOrder) {
        std::memmove(g->linprebuf, g->linprebuf + count, sizeof(double) * (kGainMaxOrder - count));
        std::memmove(g->rinprebuf, g->rinprebuf + count, sizeof(double) * (kGainMaxOrder - count));
        std::memcpy(g->linprebuf + kGainMaxOrder - count, left, sizeof(double) * count);
        std::memcpy(g->rinprebuf + kGainMaxOrder - count, right, sizeof(double) * count);
    } else {
        std::memcpy(g->linprebuf, left + count - kGainMaxOrder, sizeof(double) * kGainMaxOrder);
        std::memcpy(g->rinprebuf, right + count - kGainMaxOrder, sizeof(double) * kGainMaxOrder);
    }
}

// Low-passes and halves the input, a piece at a time, and analyses what remains.
void Decimate(GainAnalysis* g, const double* left, const double* right, int64_t count) {
    constexpr int kHistory = kGainDecimationTaps - 1;
    constexpr int kPiece = 1024;
    const double* taps = DecimationTaps();
    double inL[kHistory + kPiece], inR[kHistory + kPiece];
    double outL[kPiece / 2 + 1], outR[kPiece / 2 + 1];
    for (int64_t done = 0; done < count;) {
        const int n = static_cast<int>(std::min<int64_t>(kPiece, count - done));
        std::memcpy(inL, g->ldecim, sizeof g->ldecim);
        std::memcpy(inR, g->rdecim, sizeof g->rdecim);
        std::memcpy(inL + kHistory, left + done, sizeof(double) * n);
        std::memcpy(inR + kHistory, right + done, sizeof(double) * n);
        int kept = 0;
        for (int i = g->decimationPhase; i < n; i += g->decimation) {
            // Output for input sample i: the taps over it and the kHistory samples before it.
            const double* xl = inL + i;
            const double* xr = inR + i;
            double accL = 0, accR = 0;
            for (int k = 0; k < kGainDecimationTaps; ++k) {
                accL += taps[k] * xl[k];
                accR += taps[k] * xr[k];
            }
            outL[kept] = accL;
            outR[kept] = accR;
            ++kept;
        }
        // The next kept sample is the first at or after the phase step past the last one.
        const int next = g->decimationPhase + kept * g->decimation;
        g->decimationPhase = next - n;
        std::memcpy(g->ldecim, inL + n, sizeof g->ldecim);
        std::memcpy(g->rdecim, inR + n, sizeof g->rdecim);
        if (kept > 0) AnalyzeAtRate(g, outL, outR, kept);
        done += n;
    }
}

}  // namespace

int32_t GainAnalyzeSamples(GainAnalysis* g, const double* left, const double* right, int64_t count,
                           int32_t channels) {
    if (count <= 0) return 1;
    if (channels == 1) right = left;
    else if (channels != 2) return 0;
    if (g->sampleWindow <= 0 || g->sampleWindow > kGainMaxWindow) return 0;

    for (int64_t i = 0; i < count; ++i) g->titlePeak = std::max({g->titlePeak, std::fabs(left[i]), std::fabs(right[i])});
    if (g->decimation > 1)
        Decimate(g, left, right, count);
    else
        AnalyzeAtRate(g, left, right, count);
    return 1;
}

double GainFromHistogram(const uint32_t* histogram, int32_t size) {
    uint64_t elems = 0;
    for (int32_t i = 0; i < size; ++i) elems += histogram[i];
    if (elems == 0) return kGainNotEnoughSamples;
    // The loudest 5 % of the blocks, counted exactly: in doubles 1 - 0.95 lies a little above
    // 0.05, which would count one block more whenever the count is a multiple of 20.
    int64_t upper = static_cast<int64_t>((elems + 19) / 20);
    int32_t i = size;
    while (i-- > 0) {
        if ((upper -= histogram[i]) <= 0) break;
    }
    return kPinkReference - static_cast<double>(i) / kStepsPerDb;
}

double GainGetTitlePeak(const GainAnalysis* g) { return g->titlePeak; }

double GainGetTitleGain(GainAnalysis* g) {
    const double gain = GainFromHistogram(g->trackHistogram, kGainHistogramSize);
    for (int i = 0; i < kGainHistogramSize; ++i) {
        g->albumHistogram[i] += g->trackHistogram[i];
        g->trackHistogram[i] = 0;
    }
    ClearHistories(g);
    g->totsamp = 0;
    g->lsum = g->rsum = 0;
    g->titlePeak = 0;
    return gain;
}

bool GainFilterRows(int32_t sampleRate, const double** yule, const double** butter) {
    const int32_t* row = std::find(std::begin(kRates), std::end(kRates), sampleRate);
    if (row == std::end(kRates) || !kRowAvailable[row - std::begin(kRates)]) return false;
    *yule = kYule[row - std::begin(kRates)];
    *butter = kButter[row - std::begin(kRates)];
    return true;
}

}  // namespace gain

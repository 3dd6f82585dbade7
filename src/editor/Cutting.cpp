#include "editor/Cutting.h"
#include "editor/CuttingMeasures.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <set>

namespace melodrift::cutting {

namespace {

// Half-width of the windows compared on either side of a frame: 4 frames
// (23 ms), short enough to see a consonant of 30 ms, long enough to average
// over a few pitch periods.
constexpr int kSide = 4;
constexpr int kDecayFrames = 12;  // 70 ms

// Band edges in FFT bins (44100 / 2048 Hz each) on the mel scale,
// mel = 2595 log10(1 + f / 700).
const std::array<int, kEnvelopeBands + 1>& BandEdges() {
    static const std::array<int, kEnvelopeBands + 1> edges = [] {
        std::array<int, kEnvelopeBands + 1> e{};
        const auto mel = [](double hz) { return 2595.0 * std::log10(1.0 + hz / 700.0); };
        const double lo = mel(100.0);
        const double hi = mel(8000.0);
        for (int k = 0; k <= kEnvelopeBands; ++k) {
            const double m = lo + (hi - lo) * k / kEnvelopeBands;
            const double hz = 700.0 * (std::pow(10.0, m / 2595.0) - 1.0);
            e[static_cast<std::size_t>(k)] = static_cast<int>(std::lround(hz * 2048.0 / 44100.0));
        }
        for (int k = 1; k <= kEnvelopeBands; ++k) e[k] = std::max(e[k], e[k - 1] + 1);
        return e;
    }();
    return edges;
}

// Cepstral coefficients 1..12 of a column: the DCT-II of the log bands, each
// band floored 50 dB below the column's loudest so that noise between
// harmonics and in silence does not dominate.
Cepstrum CepstrumOf(const EnvelopeColumn& column) {
    static const auto basis = [] {
        std::array<std::array<float, kEnvelopeBands>, kCepstra> b{};
        for (int m = 0; m < kCepstra; ++m)
            for (int k = 0; k < kEnvelopeBands; ++k)
                b[m][k] = static_cast<float>(
                    std::cos(std::numbers::pi * (m + 1) * (k + 0.5) / kEnvelopeBands) *
                    std::sqrt(2.0 / kEnvelopeBands));
        return b;
    }();
    const float top = *std::max_element(column.begin(), column.end());
    Cepstrum c{};
    for (int m = 0; m < kCepstra; ++m) {
        float sum = 0.0f;
        for (int k = 0; k < kEnvelopeBands; ++k)
            sum += basis[m][k] * std::max(column[k], top - 50.0f);
        c[m] = sum;
    }
    return c;
}

}  // namespace

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0.0;
    const auto k = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

Measures Measure(const CuttingInput& in, double slowChangeWeight) {
    Measures m;
    const int n =
        static_cast<int>(std::min({in.envelope.size(), in.volume.size(), in.pitchHz.size()}));
    m.frames = n;
    m.loudnessDb.resize(n);
    m.voiced.resize(n);
    m.sung.resize(n);
    m.cepstra.resize(n);
    m.strength.assign(n, 0.0);
    m.changeOnly.assign(n, 0.0);
    m.riseOnly.assign(n, 0.0);
    if (n == 0) return m;
    for (int i = 0; i < n; ++i) {
        m.loudnessDb[i] = 20.0 * std::log10(static_cast<double>(std::max(in.volume[i], 0)) + 1.0);
        m.cepstra[i] = CepstrumOf(in.envelope[i]);
    }
    // Singing is voiced and well above the background: the background is
    // the 10th percentile of the loudness, the singing's level the 98th.
    const double floorDb = Percentile(m.loudnessDb, 0.10);
    const double peakDb = Percentile(m.loudnessDb, 0.98);
    // The voicing check keeps consonant and breath noise out of the notes'
    // pitch, and it also distrusts some full-voiced singing (measured on real
    // recordings: 1.7 % of the traced frames within 12 dB of the singing's
    // level, up to 300 ms of a ぎ after ん). For cutting, a traced pitch
    // that loud is the singing itself: consonants and breaths are quieter.
    for (int i = 0; i < n; ++i) {
        const bool rejected =
            static_cast<std::size_t>(i) < in.rejected.size() && in.rejected[i] != 0;
        m.voiced[i] = in.pitchHz[i] > 0.0f && (!rejected || m.loudnessDb[i] > peakDb - 12.0);
    }
    const double loudDb = std::max(floorDb + 12.0, peakDb - 30.0);
    for (int i = 0; i < n; ++i) m.sung[i] = m.voiced[i] && m.loudnessDb[i] > loudDb;

    // Prefix sums of the loudness, the voicing and the cepstra.
    std::vector<double> sumL(n + 1, 0.0), sumV(n + 1, 0.0), sumS(n + 1, 0.0);
    std::vector<double> sumP(n + 1, 0.0);  // pitch in cents, voiced frames only
    std::vector<Cepstrum> sumC(n + 1, Cepstrum{});
    for (int i = 0; i < n; ++i) {
        sumP[i + 1] = sumP[i] + (m.voiced[i] ? 1200.0 * std::log2(in.pitchHz[i] / 220.0) : 0.0);
        sumL[i + 1] = sumL[i] + std::max(m.loudnessDb[i], floorDb);
        sumV[i + 1] = sumV[i] + m.voiced[i];
        sumS[i + 1] = sumS[i] + m.sung[i];
        for (int k = 0; k < kCepstra; ++k) sumC[i + 1][k] = sumC[i][k] + m.cepstra[i][k];
    }
    const auto mean = [](const std::vector<double>& sum, int a, int b) {
        return (sum[b] - sum[a]) / (b - a);
    };

    std::vector<double> change(n, 0.0);
    for (int i = kSide; i + kSide <= n; ++i) {
        double d2 = 0.0;
        for (int k = 0; k < kCepstra; ++k) {
            const double left = (sumC[i][k] - sumC[i - kSide][k]) / kSide;
            const double right = (sumC[i + kSide][k] - sumC[i][k]) / kSide;
            d2 += (right - left) * (right - left);
        }
        change[i] = std::sqrt(d2);
    }
    // The slow change: the mean envelopes of 8 frames (46 ms) on either side,
    // 3 frames (17 ms) apart from the frame, so that a glide of up to 35 ms
    // between them counts whole.
    constexpr int wGap = 3;
    constexpr int wLen = 8;
    std::vector<double> wide(n, 0.0);
    for (int i = wGap + wLen; i + wGap + wLen <= n; ++i) {
        double d2 = 0.0;
        for (int k = 0; k < kCepstra; ++k) {
            const double left = (sumC[i - wGap][k] - sumC[i - wGap - wLen][k]) / wLen;
            const double right = (sumC[i + wGap + wLen][k] - sumC[i + wGap][k]) / wLen;
            d2 += (right - left) * (right - left);
        }
        wide[i] = std::sqrt(d2);
    }
    // The envelope change is measured in units of its typical size inside
    // singing, so that a voice's own steadiness sets the scale.
    std::vector<double> sungChange;
    for (int i = 0; i < n; ++i)
        if (m.sung[i]) sungChange.push_back(change[i]);
    const double changeScale = std::max(1e-6, Percentile(sungChange, 0.5));
    std::vector<double> sungWide;
    for (int i = 0; i < n; ++i)
        if (m.sung[i]) sungWide.push_back(wide[i]);
    const double wideScale = std::max(1e-6, Percentile(sungWide, 0.5));

    // The loudest frame of the next 150 ms, for each frame (a sliding
    // maximum from the right).
    const int ahead = MsToFrames(150.0);
    std::vector<double> nextMax(n, 0.0);
    {
        std::vector<int> window;  // indices with decreasing loudness
        std::size_t head = 0;
        for (int i = n - 1; i >= 0; --i) {
            while (window.size() > head && m.loudnessDb[window.back()] <= m.loudnessDb[i])
                window.pop_back();
            window.push_back(i);
            while (window[head] > i + ahead) ++head;
            nextMax[i] = m.loudnessDb[window[head]];
        }
    }
    const int sustainFrames = MsToFrames(150.0);
    // The envelope change in units of its median, summed, to average it over
    // what follows a frame.
    std::vector<double> sumChange(n + 1, 0.0);
    for (int i = 0; i < n; ++i) sumChange[i + 1] = sumChange[i] + change[i] / changeScale;
    for (int i = kSide; i + kSide <= n; ++i) {
        const double sungRight = mean(sumS, i, i + kSide);
        if (sungRight < 0.5) continue;  // an onset is followed by singing
        // ... for a syllable's length: the envelope moving in the last
        // 150 ms of a note, as it fades out before a rest, starts nothing.
        // Full weight from 90 % of the next 150 ms sung, none at 50 %.
        const double sustained =
            std::clamp((mean(sumS, i, std::min(n, i + sustainFrames)) - 0.5) / 0.4, 0.0, 1.0);
        // A vowel begins near full loudness: a voiced consonant (m, n, y, w)
        // is a few dB below the vowel that follows it, so its start counts
        // less, from nothing at 10 dB below the loudest of the next 150 ms.
        const double vowelLike =
            std::clamp(1.0 - (nextMax[i] - mean(sumL, i, i + kSide)) / 10.0, 0.0, 1.0);
        const double rise = mean(sumL, i, i + kSide) - mean(sumL, i - kSide, i);
        const double voicingRise = mean(sumV, i, i + kSide) - mean(sumV, i - kSide, i);
        // The envelope also moves where a note fades out (the release before
        // a rest): a change while the loudness falls by more than 2 dB
        // counts less, and nothing from 6 dB.
        const double fading = std::clamp(1.0 + (rise + 2.0) / 4.0, 0.0, 1.0);
        const double envelope = fading * std::max(0.0, change[i] / changeScale - 1.0);
        // A pitch step between the two sides (both voiced), in semitones.
        double step = 0.0;
        if (sumV[i + kSide] - sumV[i] == kSide && sumV[i] - sumV[i - kSide] == kSide)
            step = std::abs(sumP[i + kSide] - 2.0 * sumP[i] + sumP[i - kSide]) / kSide / 100.0;
        m.changeOnly[i] = change[i] / changeScale;
        m.riseOnly[i] = rise;
        // A vowel's start is followed by the vowel: a steady envelope from
        // 35 to 80 ms after it (frames i+6 .. i+13, past the window that
        // holds the onset itself). A consonant's start is followed by more
        // movement (the consonant, then its vowel's start), as is a wobble
        // inside a vowel: full strength up to a mean change of 2 median
        // units there, falling to 1/5 at 3.6 units and more.
        const int steadyFrom = std::min(n, i + kSide + 2);
        const int steadyTo = std::min(n, steadyFrom + 8);
        const double after = steadyTo > steadyFrom ? mean(sumChange, steadyFrom, steadyTo) : 0.0;
        const double steadyAfter = std::clamp(1.0 - (after - 2.0) / 2.0, 0.2, 1.0);
        // A note dying away is no onset however its envelope moves: where
        // the loudness of the second 70 ms from 23 ms after the frame is more
        // than 4 dB below the first 70 ms, the frame counts less, nothing
        // from 7 dB.
        // (A held ん steps down once and then holds its level.)
        double decaying = 1.0;
        if (i + kSide + 2 * kDecayFrames <= n) {
            const double drop = mean(sumL, i + kSide, i + kSide + kDecayFrames) -
                                mean(sumL, i + kSide + kDecayFrames, i + kSide + 2 * kDecayFrames);
            decaying = std::clamp(1.0 - (drop - 4.0) / 3.0, 0.0, 1.0);
        }
        m.strength[i] = decaying * sungRight * sustained * vowelLike * steadyAfter *
                        (0.5 * envelope + std::max(0.0, rise) / 3.0 + std::max(0.0, voicingRise) +
                         slowChangeWeight * fading * std::max(0.0, wide[i] / wideScale - 1.5) +
                         std::min(1.0, step));
    }
    // A 3-frame smoothing keeps one peak per event.
    std::vector<double> smooth(n, 0.0);
    for (int i = 0; i < n; ++i) {
        const double a = i > 0 ? m.strength[i - 1] : 0.0;
        const double c = i + 1 < n ? m.strength[i + 1] : 0.0;
        smooth[i] = 0.25 * a + 0.5 * m.strength[i] + 0.25 * c;
    }
    m.strength = std::move(smooth);
    return m;
}

std::vector<int> Peaks(const std::vector<double>& s, int radius, double least) {
    std::vector<int> peaks;
    const int n = static_cast<int>(s.size());
    for (int i = 0; i < n; ++i) {
        if (s[i] < least || s[i] <= 0.0) continue;
        bool top = true;
        for (int j = std::max(0, i - radius); j <= std::min(n - 1, i + radius) && top; ++j) {
            if (s[j] > s[i] || (s[j] == s[i] && j < i)) top = false;
        }
        if (top) peaks.push_back(i);
    }
    return peaks;
}

int SungEnd(const std::vector<int>& quietRun, int restFrames, int onset, int limit) {
    const int start = quietRun[static_cast<std::size_t>(
        std::min(onset + 1, static_cast<int>(quietRun.size()) - 1))];
    return start + restFrames - 1 < limit ? start : limit;
}

std::vector<int> QuietRuns(const std::vector<std::uint8_t>& sung, int restFrames) {
    const int n = static_cast<int>(sung.size());
    std::vector<int> run(n + 1, n);
    int next = n;
    int quiet = 0;
    for (int i = n - 1; i >= 0; --i) {
        quiet = sung[i] ? 0 : quiet + 1;
        if (quiet >= restFrames) next = i;
        run[i] = next;
    }
    return run;
}

std::vector<SungSpan> SpansFromOnsets(const Measures& m, const std::vector<int>& onsets,
                                      const CuttingOptions& o) {
    std::vector<SungSpan> spans;
    const int rest = MsToFrames(o.MinRestMs);
    const std::vector<int> quiet = QuietRuns(m.sung, rest);
    for (std::size_t j = 0; j < onsets.size(); ++j) {
        const int limit = j + 1 < onsets.size() ? onsets[j + 1] : m.frames;
        spans.push_back(
            {onsets[j], std::max(onsets[j] + 1, SungEnd(quiet, rest, onsets[j], limit))});
    }
    return spans;
}

std::vector<int> KeepApart(const std::vector<int>& peaks, const std::vector<double>& s, int gap) {
    std::vector<int> order = peaks;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return s[a] > s[b]; });
    std::set<int> kept;
    for (int p : order) {
        const auto next = kept.lower_bound(p);
        if (next != kept.end() && *next - p < gap) continue;
        if (next != kept.begin() && p - *std::prev(next) < gap) continue;
        kept.insert(p);
    }
    return {kept.begin(), kept.end()};
}

}  // namespace melodrift::cutting

namespace melodrift {

using cutting::Measure;
using cutting::Measures;

EnvelopeColumn EnvelopeColumnOf(const std::array<double, 1024>& magnitude) {
    const auto& edges = cutting::BandEdges();
    EnvelopeColumn column{};
    for (int k = 0; k < kEnvelopeBands; ++k) {
        double power = 0.0;
        for (int b = edges[k]; b < edges[k + 1]; ++b) power += magnitude[b] * magnitude[b];
        column[k] = static_cast<float>(10.0 * std::log10(power / (edges[k + 1] - edges[k]) + 1.0));
    }
    return column;
}

OnsetMeasures MeasureOnsets(const CuttingInput& input) {
    Measures m = Measure(input, 0.0);
    return {std::move(m.strength), std::move(m.sung), std::move(m.loudnessDb),
            std::move(m.changeOnly), std::move(m.riseOnly)};
}

}  // namespace melodrift

// Placing the syllables: lyric-guided alignment with the vowels learnt from
// the recording, and blind cutting's choice among the onset peaks.
#include "editor/Cutting.h"
#include "editor/CuttingMeasures.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <vector>

namespace melodrift {

namespace {

using namespace cutting;

// Blind: how far below the adaptive threshold a peak may still be cut
// (measured on real recordings: 0.1 keeps the recall and gets the syllable
// count right more often).
constexpr double kBlindSlack = 0.1;

// What each syllable's frames cost for not sounding like its vowel. The
// vowels are learnt from the recording itself: each vowel's mean envelope
// (cepstra scaled to unit spread over the singing) over the middles of the
// syllables sung on it so far. A frame's cost for vowel v is how much
// farther it lies from v's mean than from the nearest vowel's,
// Weight · min(Cap, d_v − min d) with d the mean squared distance, so that
// a consonant or a glide, near no vowel, costs little whichever it joins.
class VowelCosts {
  public:
    static constexpr double Weight = 0.1;
    static constexpr double Cap = 4.0;

    VowelCosts(const Measures& m, const std::vector<int>& onsets,
               std::span<const SyllableSound> syllables, const std::vector<int>& quiet,
               int restFrames)
        : classOf_(syllables.size(), -1) {
        const int n = m.frames;
        // Scale of each coefficient over the singing.
        Cepstrum mean{}, spread{};
        int sung = 0;
        for (int i = 0; i < n; ++i) {
            if (!m.sung[i]) continue;
            ++sung;
            for (int k = 0; k < kCepstra; ++k) mean[k] += m.cepstra[i][k];
        }
        if (sung == 0) return;
        for (int k = 0; k < kCepstra; ++k) mean[k] /= static_cast<float>(sung);
        for (int i = 0; i < n; ++i) {
            if (!m.sung[i]) continue;
            for (int k = 0; k < kCepstra; ++k)
                spread[k] += (m.cepstra[i][k] - mean[k]) * (m.cepstra[i][k] - mean[k]);
        }
        for (int k = 0; k < kCepstra; ++k)
            spread[k] = std::max(1e-3f, std::sqrt(spread[k] / static_cast<float>(sung)));
        const auto scaled = [&](int i, int k) { return (m.cepstra[i][k] - mean[k]) / spread[k]; };

        // Each vowel's mean over the middles of its syllables: 30 ms in from
        // either end of the singing.
        const int margin = MsToFrames(30.0);
        std::vector<char> names;
        std::vector<Cepstrum> sums;
        std::vector<int> counts;
        for (std::size_t j = 0; j < syllables.size() && j < onsets.size(); ++j) {
            const char vowel = syllables[j].vowel;
            if (vowel == 0) continue;
            auto at = std::find(names.begin(), names.end(), vowel);
            if (at == names.end()) {
                names.push_back(vowel);
                sums.emplace_back();
                counts.push_back(0);
                at = names.end() - 1;
            }
            const auto v = static_cast<std::size_t>(at - names.begin());
            const int limit = j + 1 < onsets.size() ? onsets[j + 1] : n;
            const int end = SungEnd(quiet, restFrames, onsets[j], limit);
            for (int i = onsets[j] + margin; i < end - margin; ++i) {
                if (!m.sung[i]) continue;
                ++counts[v];
                for (int k = 0; k < kCepstra; ++k) sums[v][k] += scaled(i, k);
            }
        }
        // A vowel heard on fewer than 5 frames (30 ms) is not learnt.
        std::vector<Cepstrum> means;
        std::vector<char> learnt;
        for (std::size_t v = 0; v < names.size(); ++v) {
            if (counts[v] < 5) continue;
            Cepstrum c{};
            for (int k = 0; k < kCepstra; ++k) c[k] = sums[v][k] / static_cast<float>(counts[v]);
            means.push_back(c);
            learnt.push_back(names[v]);
        }
        if (learnt.size() < 2) return;  // one vowel tells no syllable from another
        for (std::size_t j = 0; j < syllables.size(); ++j) {
            const auto at = std::find(learnt.begin(), learnt.end(), syllables[j].vowel);
            if (at != learnt.end()) classOf_[j] = static_cast<int>(at - learnt.begin());
        }
        sums_.assign(learnt.size(), std::vector<double>(static_cast<std::size_t>(n) + 1, 0.0));
        std::vector<double> d(learnt.size());
        for (int i = 0; i < n; ++i) {
            double nearest = std::numeric_limits<double>::infinity();
            for (std::size_t v = 0; v < learnt.size(); ++v) {
                double sum = 0.0;
                for (int k = 0; k < kCepstra; ++k) {
                    const double e = scaled(i, k) - means[v][k];
                    sum += e * e;
                }
                d[v] = sum / kCepstra;
                nearest = std::min(nearest, d[v]);
            }
            for (std::size_t v = 0; v < learnt.size(); ++v) {
                const double cost = m.sung[i] ? Weight * std::min(Cap, d[v] - nearest) : 0.0;
                sums_[v][i + 1] = sums_[v][i] + cost;
            }
        }
    }

    bool Useful() const { return !sums_.empty(); }

    // The cost of syllable `j` sung over frames [a, b).
    double Of(int j, int a, int b) const {
        const int v = classOf_[static_cast<std::size_t>(j)];
        if (v < 0 || b <= a) return 0.0;
        return sums_[static_cast<std::size_t>(v)][b] - sums_[static_cast<std::size_t>(v)][a];
    }

  private:
    std::vector<int> classOf_;               // per syllable: its learnt vowel, −1 when none
    std::vector<std::vector<double>> sums_;  // per learnt vowel: prefix sums of the frame costs
};

// Places N syllables on the onset candidates by dynamic programming: the
// summed onset strength is largest, every syllable is between MinSyllableMs
// and MaxSyllableMs long, little singing is left outside a syllable and,
// with vowel costs, each syllable sounds like its vowel.
class Alignment {
  public:
    Alignment(const Measures& m, const std::vector<int>& candidates,
              std::span<const SyllableSound> syllables, const CuttingOptions& o)
        : m_(m),
          candidates_(candidates),
          syllables_(syllables),
          rest_(MsToFrames(o.MinRestMs)),
          gap_(MsToFrames(o.MinSyllableMs)),
          maxSung_(MsToFrames(o.MaxSyllableMs)),
          lead_(MsToFrames(60.0)),
          glide_(MsToFrames(100.0)),
          quiet_(QuietRuns(m.sung, rest_)),
          sumN_(static_cast<std::size_t>(m.frames) + 1, 0.0) {
        for (int i = 0; i < m.frames; ++i) sumN_[i + 1] = sumN_[i] + m.sung[i];
        sumSteady_.assign(static_cast<std::size_t>(m.frames) + 1, 0.0);
        for (int i = 0; i < m.frames; ++i)
            sumSteady_[i + 1] = sumSteady_[i] + (m.sung[i] && m.changeOnly[i] < kSteadyChange);
    }

    const std::vector<int>& Quiet() const { return quiet_; }
    int RestFrames() const { return rest_; }

    // The onset frames, or nothing when the syllables do not fit.
    // With `near` (the onsets of an earlier alignment), each syllable stays
    // within kNearCandidates candidates of where it was: a second look with
    // the vowels moves cuts locally, and a long take aligns in a fraction of
    // the time.
    std::vector<int> Align(const VowelCosts* costs, const std::vector<int>* near = nullptr) const {
        const int syllables = static_cast<int>(syllables_.size());
        const int count = static_cast<int>(candidates_.size());
        const auto& cand = candidates_;
        std::vector<int> lo(syllables, 0), hi(syllables, count - 1);
        if (near != nullptr) {
            for (int j = 0; j < syllables; ++j) {
                const int at = static_cast<int>(
                    std::lower_bound(cand.begin(), cand.end(), (*near)[j]) - cand.begin());
                lo[j] = std::max(0, at - kNearCandidates);
                hi[j] = std::min(count - 1, at + kNearCandidates);
            }
        }
        const auto& s = m_.strength;
        const auto vowelCost = [&](int j, int a, int b) {
            return costs ? costs->Of(j, a, b) : 0.0;
        };
        // best[j][c]: the best score with syllable j starting at candidate c.
        const double none = -std::numeric_limits<double>::infinity();
        std::vector<std::vector<double>> best(syllables, std::vector<double>(count, none));
        std::vector<std::vector<int>> from(syllables, std::vector<int>(count, -1));
        for (int c = lo[0]; c <= hi[0]; ++c) best[0][c] = s[cand[c]] - Uncovered(0, cand[c]);
        for (int j = 1; j < syllables; ++j) {
            for (int c = std::max(j, lo[j]); c <= hi[j]; ++c) {
                for (int p = std::min(c - 1, hi[j - 1]); p >= std::max(j - 1, lo[j - 1]); --p) {
                    if (best[j - 1][p] == none) continue;
                    if (cand[c] - cand[p] < gap_) continue;
                    // Earlier starts only make the syllable longer.
                    if (sumN_[cand[c]] - sumN_[cand[p]] > maxSung_) break;
                    const int endP = SungEnd(quiet_, rest_, cand[p], cand[c]);
                    const double score =
                        best[j - 1][p] - TooLong(cand[p], endP) - NoVowel(cand[p], cand[c]) -
                        vowelCost(j - 1, VowelStart(j - 1, cand[p]), VowelEnd(j, endP, cand[c])) -
                        Uncovered(endP, cand[c]) + s[cand[c]];
                    if (score > best[j][c]) {
                        best[j][c] = score;
                        from[j][c] = p;
                    }
                }
            }
        }
        int last = -1;
        double top = none;
        for (int c = lo[syllables - 1]; c <= hi[syllables - 1]; ++c) {
            if (best[syllables - 1][c] == none) continue;
            const int end = SungEnd(quiet_, rest_, cand[c], m_.frames);
            const double score = best[syllables - 1][c] - TooLong(cand[c], end) -
                                 NoVowel(cand[c], m_.frames) -
                                 vowelCost(syllables - 1, VowelStart(syllables - 1, cand[c]), end) -
                                 (sumN_[m_.frames] - sumN_[end]);
            if (score > top) {
                top = score;
                last = c;
            }
        }
        if (last < 0) return {};
        std::vector<int> onsets(syllables);
        for (int j = syllables - 1, c = last; j >= 0; --j) {
            onsets[j] = cand[c];
            c = from[j][c];
        }
        return onsets;
    }

    // Blind: any number of onsets among the candidates, each gaining
    // gain[c] (how far its strength stands above the singing around it), at
    // least `gap` frames apart, and every syllable holding a vowel: the
    // onsets with the largest summed gain.
    std::vector<int> AlignFree(const std::vector<double>& gain, int gap) const {
        const int count = static_cast<int>(candidates_.size());
        const auto& cand = candidates_;
        std::vector<double> best(count, 0.0);
        std::vector<int> from(count, -1);
        // The best of best[0..k] and where it is: once a syllable from an
        // earlier candidate holds its vowel, every still earlier one does too,
        // and only the best of them matters.
        std::vector<int> bestUpTo(count, -1);
        for (int c = 0; c < count; ++c) {
            best[c] = gain[c];
            for (int p = c - 1; p >= 0; --p) {
                if (cand[c] - cand[p] < gap) continue;
                const double noVowel = NoVowel(cand[p], cand[c]);
                const int q = noVowel == 0.0 ? bestUpTo[p] : p;
                const double score = best[q] + gain[c] - noVowel;
                if (score > best[c]) {
                    best[c] = score;
                    from[c] = q;
                }
                if (noVowel == 0.0) break;
            }
            bestUpTo[c] = c > 0 && best[bestUpTo[c - 1]] >= best[c] ? bestUpTo[c - 1] : c;
        }
        int last = -1;
        double top = 0.0;
        for (int c = 0; c < count; ++c) {
            const double score =
                best[c] - NoVowel(cand[c], SungEnd(quiet_, rest_, cand[c], m_.frames));
            if (last < 0 || score > top) {
                top = score;
                last = c;
            }
        }
        std::vector<int> onsets;
        for (int c = last; c >= 0; c = from[c]) onsets.push_back(cand[c]);
        std::reverse(onsets.begin(), onsets.end());
        return onsets;
    }

  private:
    static constexpr int kNearCandidates = 40;
    // Where syllable j's vowel starts: at its onset, or after the glide
    // (100 ms: き→きゃ) when it glides into its vowel.
    int VowelStart(int j, int onset) const {
        return syllables_[static_cast<std::size_t>(j)].glides ? onset + glide_ : onset;
    }
    // Where the vowel of the syllable before syllable j ends: at the end of
    // its singing, or where j's consonant starts (up to 60 ms before j's
    // onset) when j starts with one.
    int VowelEnd(int j, int sungEnd, int onset) const {
        return syllables_[static_cast<std::size_t>(j)].startsWithVowel
                   ? sungEnd
                   : std::min(sungEnd, std::max(0, onset - lead_));
    }
    // Every syllable holds a vowel: steady singing (the envelope changing
    // less than kSteadyChange median units) for at least kVowelMs. Each
    // frame short of it costs kNoVowelCost.
    static constexpr double kSteadyChange = 1.0;
    static constexpr double kVowelMs = 30.0;
    static constexpr double kNoVowelCost = 0.3;
    double NoVowel(int start, int next) const {
        const double missing = MsToFrames(kVowelMs) - (sumSteady_[next] - sumSteady_[start]);
        return missing > 0.0 ? kNoVowelCost * missing : 0.0;
    }
    // A syllable may not hold more than MaxSyllableMs of singing.
    double TooLong(int start, int end) const {
        return sumN_[end] - sumN_[start] > maxSung_ ? std::numeric_limits<double>::infinity() : 0.0;
    }
    // Singing that no syllable covers (before the first onset, or after a
    // syllable ended at a rest) is all but excluded: each such frame costs
    // as much as a strong onset. A syllable's consonant comes before its
    // onset (the vowel): up to 60 ms of singing just before an onset is that
    // consonant (a nasal's murmur, a voiced fricative), not uncovered singing.
    double Uncovered(int a, int b) const {
        b = std::max(a, b - lead_);
        return b > a ? sumN_[b] - sumN_[a] : 0.0;
    }

    const Measures& m_;
    const std::vector<int>& candidates_;
    std::span<const SyllableSound> syllables_;
    int rest_, gap_, maxSung_, lead_, glide_;
    std::vector<int> quiet_;
    std::vector<double> sumN_;       // sung frames before each frame
    std::vector<double> sumSteady_;  // steady sung frames before each frame
};

}  // namespace

std::vector<SungSpan> CutBlind(const CuttingInput& input, const CuttingOptions& options) {
    // Without lyrics nothing else tells a legato vowel change or a held ん
    // from the vowel before it: the slow change counts.
    const Measures m = Measure(input, 0.3);
    if (m.frames == 0) return {};
    const int gap = MsToFrames(options.MinSyllableMs);
    // Adaptive threshold: a peak must stand out from the median strength of
    // the singing around it (±0.5 s) by a fixed margin.
    const int around = MsToFrames(500.0);
    std::vector<int> peaks = Peaks(m.strength, gap / 2, 0.0);
    std::vector<int> onsets;
    std::vector<double> gains;
    for (int p : peaks) {
        std::vector<double> local;
        double localTop = 0.0;
        for (int j = std::max(0, p - around); j < std::min(m.frames, p + around); ++j) {
            if (!m.sung[j]) continue;
            local.push_back(m.strength[j]);
            localTop = std::max(localTop, m.strength[j]);
        }
        // ... and reach 30 % of the strongest onset near it, so that a loud,
        // clearly articulated phrase does not cut at its smaller wobbles. A
        // peak up to kBlindSlack below that is a candidate too: it gains
        // (strength − threshold + kBlindSlack).
        const double threshold = std::max(Percentile(local, 0.5) + 0.75, 0.3 * localTop);
        if (m.strength[p] >= threshold - kBlindSlack) {
            onsets.push_back(p);
            gains.push_back(m.strength[p] - threshold + kBlindSlack);
        }
    }
    // A consonant's start and its vowel's start both peak; closer than
    // MergeMs they are one syllable. Of such peaks, and of peaks with no
    // vowel between them, the alignment keeps the set with the largest
    // summed gain.
    const int merge = MsToFrames(std::max(options.MergeMs, options.MinSyllableMs));
    const Alignment alignment(m, onsets, {}, options);
    return SpansFromOnsets(m, alignment.AlignFree(gains, merge), options);
}

LyricCut CutWithLyrics(const CuttingInput& input, std::span<const SyllableSound> syllables,
                       const CuttingOptions& options) {
    LyricCut result;
    const int count = static_cast<int>(syllables.size());
    // With the lyrics the count is known, and the slow change pulls cuts
    // into the glides (measured: fewer onsets within 50 ms).
    const Measures m = Measure(input, 0.0);
    if (m.frames == 0 || count == 0) return result;
    const int gap = MsToFrames(options.MinSyllableMs);
    // Candidates: every local peak of the strength that is more than the
    // wobble of a steady vowel. They also bound how many syllables fit.
    const std::vector<int> candidates = Peaks(m.strength, 2, 0.4);
    result.audibleSyllables = static_cast<int>(KeepApart(candidates, m.strength, gap).size());
    if (result.audibleSyllables < count) return result;

    const Alignment alignment(m, candidates, syllables, options);
    std::vector<int> onsets = alignment.Align(nullptr);
    if (onsets.empty()) return result;
    // Known vowels: the frames each vowel is sung on are learnt from the
    // recording itself (from the syllables placed so far), and the cuts are
    // placed again so that each syllable's frames also sound like its vowel.
    // Twice: the second pass learns from the better cuts of the first.
    for (int pass = 0; pass < 2; ++pass) {
        const VowelCosts costs(m, onsets, syllables, alignment.Quiet(), alignment.RestFrames());
        if (!costs.Useful()) break;
        std::vector<int> better = alignment.Align(&costs, &onsets);
        if (better.empty() || better == onsets) break;
        onsets = std::move(better);
    }
    result.spans = SpansFromOnsets(m, onsets, options);
    return result;
}

}  // namespace melodrift

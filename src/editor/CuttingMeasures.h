// The per-frame measures automatic cutting works on, and the small steps
// its two modes share (editor/Cutting.cpp measures, editor/CuttingAlignment.cpp
// places the syllables). Internal to the cutting.
#pragma once

#include "editor/Cutting.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace melodrift::cutting {

inline constexpr double kFrameMs = 256.0 / 44.1;
inline constexpr int kCepstra = 12;  // envelope coefficients 1..12 (0 is the loudness)
using Cepstrum = std::array<float, kCepstra>;

inline int MsToFrames(double ms) {
    return std::max(1, static_cast<int>(std::lround(ms / kFrameMs)));
}

// Everything the onset strength and the alignment share.
struct Measures {
    int frames = 0;
    std::vector<double> loudnessDb;
    std::vector<std::uint8_t> voiced;
    std::vector<std::uint8_t> sung;
    std::vector<Cepstrum> cepstra;
    std::vector<double> strength;
    std::vector<double> changeOnly;  // envelope change part of the strength
    std::vector<double> riseOnly;    // loudness-rise part
};

// `slowChangeWeight`: how much a slow change of the envelope (over 70 ms,
// the glide of a legato vowel change or into a held ん) adds to the onset
// strength.
Measures Measure(const CuttingInput& in, double slowChangeWeight);

// The value at `fraction` (0..1) of the sorted values; 0 for none.
double Percentile(std::vector<double> values, double fraction);

// Frames i whose strength is the largest within ±radius and at least `least`.
std::vector<int> Peaks(const std::vector<double>& s, int radius, double least);

// quietRun[i]: the first frame of the first quiet stretch (no sung frame) of
// at least `restFrames` starting at or after i (frames when there is none).
std::vector<int> QuietRuns(const std::vector<std::uint8_t>& sung, int restFrames);

// Where the singing that starts at `onset` ends, before `limit`: at the
// first quiet stretch of quietRun, else at `limit`.
int SungEnd(const std::vector<int>& quietRun, int restFrames, int onset, int limit);

// One sung span per onset, each ending at its singing's end or the next onset.
std::vector<SungSpan> SpansFromOnsets(const Measures& m, const std::vector<int>& onsets,
                                      const CuttingOptions& o);

// Drops the weaker of two onsets closer than `gap` frames, strongest first.
std::vector<int> KeepApart(const std::vector<int>& peaks, const std::vector<double>& s, int gap);

}  // namespace melodrift::cutting

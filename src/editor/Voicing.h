// The voicing check: which frames' traced pitch may go into notes.
//
// The pitch tracker follows chains of strong autocorrelation candidates. In
// consonant and breath noise such chains exist too (typically around
// 400–700 Hz), and those frames come out "voiced" with a pitch far from the
// sung one: the notes' pitch bends would start with chirps. The check marks
// such frames as not trusted; the pitch built for the notes (the pitch lane's
// traced line, Insert, the edit state's pitch) then treats them as unvoiced
// and bridges them from the trusted frames around them. The analysis itself
// (F0, TargetF0, confidence, candidates) is never changed.
//
// A voiced frame is not trusted when
//   1. its spectrum is noise-like at the traced pitch: the harmonic contrast
//      (power at the harmonics of f0 against power midway between them,
//      harmonics below 4 kHz) is below MinHarmonicContrastDb; a vowel at its
//      true pitch shows 10–30 dB, noise about 2–3 dB, and a pitch an octave
//      off puts the "troughs" on real harmonics (contrast below 0 dB);
//   2. its energy lies mostly above 3 kHz (fricatives): the band 3–11 kHz
//      holds more than MaxHighBandExcessDb above the band 65–1500 Hz;
//   3. its confidence (log10 of the squared autocorrelation peak) is below
//      MinConfidence;
//   4. it belongs to a short run of voiced frames (fewer than MaxShortRun
//      frames between pitch jumps or unvoiced frames) whose median pitch lies
//      more than MaxJumpCents from the stable voiced pitch around it (the
//      median of the nearest long run before and after, within
//      NeighbourReachFrames), or to a short run with no stable pitch near it
//      at all that is shorter than MinLoneRun.
#pragma once

#include "audio/Frames.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace melodrift {

// What the spectrum of one frame says about its traced pitch.
struct VoicingEvidence {
    float HarmonicContrastDb = 0.0f;  // harmonics of f0 vs midway between them, < 4 kHz
    float HighBandExcessDb = 0.0f;    // band 3–11 kHz minus band 65–1500 Hz
};

// The evidence of one frame from its 1024-bin magnitude spectrum (bin k at
// k × 44100 / 2048 Hz) and its traced pitch f0Hz; zeros for an unvoiced
// frame (f0Hz ≤ 0). Allocates nothing.
VoicingEvidence MeasureVoicingEvidence(const BinRow& spectrum, float f0Hz);
// Its two parts: the harmonic contrast at f0Hz (0 for f0Hz ≤ 0, a passing
// 99 dB where the window cannot resolve the harmonics) and the high-band
// excess, which does not depend on the pitch.
float HarmonicContrastDb(const BinRow& spectrum, float f0Hz);
float HighBandExcessDb(const BinRow& spectrum);
// The harmonic contrast before its logarithm: the power ratio of the
// harmonics to the troughs between them, 0 for f0Hz ≤ 0 and infinity where
// the harmonics are not resolved. ContrastDb turns it into the dB above
// (0, the passing 99 dB, or 10 log10 of the ratio).
double HarmonicContrastRatio(const BinRow& spectrum, float f0Hz);
float ContrastDb(double ratio);

// The evidence for every pitch candidate of a frame that can become its
// traced pitch (Strength at least MinTracedStrength), taken while its
// spectrum is at hand during the candidate step, before the tracker has
// chosen among them. Weaker slots keep a ratio of 0, and a frame without a
// slot that can be traced is not measured at all.
struct CandidateEvidence {
    // Per candidate slot; the logarithm is taken only for the slot the
    // tracker chooses.
    std::array<double, CandidateCount> HarmonicContrastRatio{};
    float HighBandExcessDb = 0.0f;
};
CandidateEvidence MeasureCandidateEvidence(const BinRow& spectrum,
                                           const CandidateSlots& candidates);
// The frame's evidence at its traced pitch f0Hz, picked from what was
// measured for its candidates: the same values MeasureVoicingEvidence gives
// on the same spectrum, since the traced pitch is one of the candidates.
VoicingEvidence EvidenceAtTracedPitch(const CandidateEvidence& measured,
                                      const CandidateSlots& candidates, float f0Hz);

struct VoicingOptions {
    float MinHarmonicContrastDb = 8.0f;
    float MaxHighBandExcessDb = 0.0f;
    float MinConfidence = 5.0f;
    int MaxShortRun = 15;           // frames (about 87 ms)
    int MinLoneRun = 6;             // frames (about 35 ms)
    double MaxJumpCents = 250.0;    // a run is "far" beyond this
    double RunBreakCents = 150.0;   // a step this large between frames splits a run
    int NeighbourReachFrames = 40;  // about 230 ms
};

// Per frame, 1 where the check rejects the frame's pitch (it is treated as
// unvoiced), 0 where the pitch is kept or the frame is unvoiced anyway.
// `frames` gives TargetF0 (0 = unvoiced); `confidence` and `evidence` have
// one entry per frame (missing entries count as passing).
std::vector<std::uint8_t> CheckVoicing(std::span<const AnalysisFrame> frames,
                                       std::span<const float> confidence,
                                       std::span<const VoicingEvidence> evidence,
                                       const VoicingOptions& options = {});

}  // namespace melodrift

// Analysis frames: the per-frame record, the per-frame arrays, the synthesis
// settings record, the analysis window and the conversions between Hz, FFT
// bins, autocorrelation lags and cents.
//
// Everything here assumes 44100 Hz audio analysed in 2048-point frames; those
// two numbers are fixed, not parameters.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#if defined(_MSC_VER) && !defined(__clang__) && (defined(_M_X64) || defined(_M_IX86))
#include <xmmintrin.h>
#endif

namespace melodrift {

inline constexpr int AnalysisSampleRate = 44100;  // [Hz]
inline constexpr int FftSize = 2048;              // samples per analysis frame
inline constexpr int SpectrumBins = 1024;         // magnitude bins 0..1023
inline constexpr int HopSize = 256;               // samples between frame centres
inline constexpr int CandidateCount = 10;         // pitch candidates per frame
inline constexpr int HarmonicCount = 30;          // harmonics 1..30
inline constexpr int NoiseBandCount = 16;         // noise bands 0..15

// One analysis frame: 56 four-byte fields (224 bytes).
// A value-initialised record (`AnalysisFrame{}`) is all zero; `InitFrame` of the
// analyser gives the working defaults.
struct AnalysisFrame {
    float HarmonicTotal = 0.0f;  // sum of the 30 harmonic amplitudes
    std::array<float, HarmonicCount>
        Harmonic{};  // Harmonic[h - 1]: amplitude of harmonic h (h = 1..30)
    std::array<float, NoiseBandCount> Noise{};  // level of noise band b (b = 0..15)
    float F0 = 0.0f;                            // [Hz] pitch of the harmonic measures; 0 = unvoiced
    float TargetF0 = 0.0f;       // [Hz] pitch shown, edited, inserted, played; 0 = unvoiced
    float EnvelopeScale = 0.0f;  // per-frame copies of the synthesis settings
    float NoiseFloor = 0.0f;
    float NoiseFloorLevel = 0.0f;
    float TiltExponent = 0.0f;
    std::int32_t SamplePos = 0;  // [samples] frame centre in the recording
    std::int32_t PrevFrame = 0;  // array index of the previous frame in time; -1 none
    std::int32_t NextFrame = 0;  // array index of the next frame in time; -1 none
};
// The walks over the frames read F0 .. NextFrame; PrefetchAhead asks for
// them with two cache-line prefetches, which covers them while they span at
// most 64 bytes.
static_assert(offsetof(AnalysisFrame, NextFrame) + sizeof(std::int32_t) -
                      offsetof(AnalysisFrame, F0) <=
                  64,
              "F0 .. NextFrame fit in two cache lines");

// One pitch candidate. A slot with Freq 0 is empty; filled slots come first.
struct PitchCandidate {
    float Freq = 0.0f;      // [Hz]
    float Strength = 0.0f;  // log10 of the autocorrelation peak
};

using BinRow = std::array<double, SpectrumBins>;  // one row: bins (or lags) 0..1023
using BinRows = std::vector<BinRow>;              // per frame
using CandidateSlots = std::array<PitchCandidate, CandidateCount>;  // strongest first
using CandidateTable = std::vector<CandidateSlots>;                 // per frame
using ChosenStrengths = std::vector<float>;         // per frame: strength of the chosen candidate
using AnalysisFrames = std::vector<AnalysisFrame>;  // frames in creation order

// Synthesis settings of one rendered note.
struct SynthParams {
    float F0 = 0.0f;                  // [Hz] pitch to render; 0 = unvoiced
    float EnvelopeScale = 1.0f;       // frequency scale of the spectral envelope
    float NoiseFloor = 0.3f;          // smallest noise gain
    float NoiseFloorLevel = 5000.0f;  // harmonic total at which the noise gain reaches the floor
    float TiltExponent = 1.0f;        // spectral tilt: amplitudes times (f / 1000 Hz)^TiltExponent
};

// Asks the processor to start loading the cache line holding `address`;
// nothing else changes.
inline void PrefetchLine(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
    _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0);
#else
    (void)address;
#endif
}

// A walk over the frame records (sizeof(AnalysisFrame) = 224 bytes apart)
// asks for the record this many places ahead, 3.5 kB: the processor's own
// prefetcher was seen not to follow such a stride (measured with 232-byte
// records), and each record then cost a full memory latency (about 100 ns,
// or 10 ms per walk over the 103,000 frames of ten minutes).
inline constexpr std::size_t FramesAhead = 16;

// Prefetches F0 .. NextFrame (the fields the walks read; at most two cache
// lines) of frames[i + FramesAhead], when there is such a frame.
inline void PrefetchAhead(std::span<const AnalysisFrame> frames, std::size_t i) {
    if (i + FramesAhead < frames.size()) {
        const AnalysisFrame& ahead = frames[i + FramesAhead];
        PrefetchLine(&ahead.F0);
        PrefetchLine(&ahead.NextFrame);
    }
}

// Writes the defaults above into `params`.
void InitSynthParams(SynthParams& params);

// Periodic Hann window of 2048 points: w[i] = 0.5 - 0.5 cos(2 pi i / 2048).
// Built once on first use (thread-safe) and never changed afterwards.
const std::array<double, FftSize>& HannWindow();

// a[i] *= HannWindow()[i] for i < a.size() (a.size() <= 2048).
void ApplyWindow(std::span<double> a);

// Conversions. Each computes in extended precision (long double) and rounds to
// double on return; truncations apply to the extended value.
double HzToBin(double hz);           // hz / 44100 * 2048
double BinToHz(double bin);          // bin * 44100 / 2048
double LagToBin(double lagSamples);  // 2048 / lag: the bin whose BinToHz is 44100 / lag
std::int32_t NearestBin(double hz);  // Trunc(hz / 44100 * 2048 + 0.5), toward zero
double HzToCents(double hz);         // 1200 log2(hz / 220) + 5700 for hz > 0, else 0
double CentsToHz(double cents);      // 220 * 2^((cents - 5700) / 1200) for cents > 0, else 0

}  // namespace melodrift

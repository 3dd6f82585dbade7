// Pitch candidates of one analysis frame, from the autocorrelation its
// magnitude spectrum gives.
#pragma once

#include "audio/Fft.h"
#include "audio/Frames.h"

#include <cstddef>

namespace melodrift {

// Autocorrelation lags searched for pitch peaks, inclusive [samples].
struct LagRange {
    int MinLag = 0;
    int MaxLag = 0;
};

// MinLag = max(0, Trunc(LagToBin(HzToBin(hi)))), MaxLag = min(1023,
// Trunc(LagToBin(HzToBin(lo)))) for lo/hi the smaller/larger of f1, f2 [Hz].
// 50 and 882 Hz give 49 and 881 (just below the exact 50 and 882).
LagRange LagLimits(double f1Hz, double f2Hz);

// The centre of the laid-out power spectrum (P[0], the frame's DC power)
// is replaced by the largest power of bins 0 .. CentrePowerLastBin (up to
// 46 · 44100 / 2048 = 990.5 Hz).
inline constexpr std::size_t CentrePowerLastBin = 46;

// Pitch candidates of one frame from its magnitude spectrum.
// The power spectrum P = S^2 is laid out symmetric around index 1024 (with
// the centre, P[0], replaced by the largest of P[0 .. CentrePowerLastBin])
// and transformed
// forward: bin m then holds, up to the sign (-1)^m, the autocorrelation of
// the windowed frame at lag m.
// autocorr[m] = |X[m]|^2 * 2^-22 for m in the lag range, 0 elsewhere.
// Each strict local maximum at lags MinLag + 2 .. MaxLag - 2 (peaks next to
// the ends of the range are dropped) gives a
// candidate at 44100 / L Hz (L: centroid of the peak and its higher
// neighbour above the lower one) with Strength log10(A[m] + 1e-7); the
// strongest CandidateCount with Strength > 0 are kept, strongest first,
// ties keeping the shorter lag first. Allocates nothing.
void FrameCandidates(const BinRow& spectrum, LagRange lags, FftWorkspace& fft, BinRow& autocorr,
                     CandidateSlots& candidates);

}  // namespace melodrift

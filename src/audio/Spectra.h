// Magnitude spectra of the analysis frames: the recording as the frames'
// windows read it, one frame's spectrum, and a worker's cache of recomputed
// rows.
#pragma once

#include "audio/Fft.h"
#include "audio/Frames.h"
#include "audio/WaveBuffer.h"

#include <array>
#include <cstdint>
#include <span>

namespace melodrift {

// The recording as the spectrum step reads it: channel 0 of a 16-bit wave,
// starting at sample ScratchOffset of an endless run of silence (scratch
// sample s is recording sample s - 1024), so frame i's window, scratch
// samples i * HopSize .. i * HopSize + 2047, is centred on recording sample
// i * HopSize. Borrows the wave's buffer; copies nothing.
class PaddedSamples {
  public:
    static constexpr std::int64_t ScratchOffset = FftSize / 2;

    // `wave` must hold 16-bit samples and outlive this object.
    explicit PaddedSamples(const WaveBuffer& wave);
    // Mono samples held elsewhere; `mono` must outlive this object.
    explicit PaddedSamples(std::span<const std::int16_t> mono);

    // out[j] = scratch sample (start + j) as a double.
    void Read(std::int64_t start, std::span<double> out) const;
    // out[j] = scratch sample (start + j) · HannWindow()[j]: Read then
    // ApplyWindow in one pass, the same bits.
    void ReadWindowed(std::int64_t start, std::span<double, FftSize> out) const;

  private:
    const std::uint8_t* data_ = nullptr;  // interleaved 16-bit little-endian, or
    const std::int16_t* mono_ = nullptr;  // one channel in native order
    std::int64_t blockAlign_ = 0;
    std::int64_t count_ = 0;
};

// Where spectrum rows come from when they are not stored: frame i's row is
// FrameSpectrum(samples, i, hopSize, ...), recomputed bit for bit on demand.
struct SpectrumSource {
    const PaddedSamples* Samples = nullptr;
    int HopSize = melodrift::HopSize;
};

// Magnitude spectrum of frame `frameIndex`: the Hann-windowed scratch samples
// frameIndex * hopSize .. + 2047, forward FFT, |X[k]| / 512 for k = 0..1023
// (bin 0 is |sum| / 512). Allocates nothing.
void FrameSpectrum(const PaddedSamples& samples, int frameIndex, int hopSize, FftWorkspace& fft,
                   BinRow& spectrum);

// Scratch of one worker for per-frame tasks: FFT buffers and a small cache of
// recomputed spectrum rows (three, enough for a frame and its two neighbours
// when frames are visited in increasing order).
class FrameScratch {
  public:
    FftWorkspace Fft;
    BinRow Residual{};

    // Frame `frame`'s spectrum row (frame >= 0), computed from `source`
    // unless cached. The reference stays valid until two more rows of other
    // frames have been asked for.
    const BinRow& Row(const SpectrumSource& source, int frame);

  private:
    std::array<BinRow, 3> rows_{};
    std::array<int, 3> rowFrame_{-1, -1, -1};
};

}  // namespace melodrift

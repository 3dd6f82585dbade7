#include "audio/Spectra.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace melodrift {

PaddedSamples::PaddedSamples(const WaveBuffer& wave)
    : data_(wave.SampleData().data()),
      blockAlign_(wave.BlockAlign()),
      count_(wave.BitsPerSample() == 16 && wave.BlockAlign() >= 2 ? wave.SampleCount() : 0) {
    // A wave with fewer bytes than its count claims reads as shorter.
    if (blockAlign_ > 0) {
        const auto whole = static_cast<std::int64_t>(wave.SampleData().size()) / blockAlign_;
        count_ = std::min(count_, whole);
    }
}

PaddedSamples::PaddedSamples(std::span<const std::int16_t> mono)
    : mono_(mono.data()), blockAlign_(1), count_(static_cast<std::int64_t>(mono.size())) {}

void PaddedSamples::ReadWindowed(std::int64_t start, std::span<double, FftSize> out) const {
    const auto& window = HannWindow();
    const std::int64_t first = start - ScratchOffset;
    const std::int64_t from = std::clamp<std::int64_t>(-first, 0, FftSize);
    const std::int64_t to = std::clamp<std::int64_t>(count_ - first, from, FftSize);
    // Outside the recording: 0 · w = 0, as Read then ApplyWindow give.
    std::fill(out.begin(), out.begin() + from, 0.0);
    std::fill(out.begin() + to, out.end(), 0.0);
    if (mono_ != nullptr) {
        for (std::int64_t j = from; j < to; ++j) {
            const auto k = static_cast<std::size_t>(j);
            out[k] = static_cast<double>(mono_[first + j]) * window[k];
        }
        return;
    }
    if (std::endian::native == std::endian::little && blockAlign_ == 2) {
        // Mono 16-bit on a little-endian machine: the bytes are the native
        // samples, read as such so that the loop runs on vectors.
        for (std::int64_t j = from; j < to; ++j) {
            std::int16_t value;
            std::memcpy(&value, data_ + (first + j) * 2, sizeof value);
            const auto k = static_cast<std::size_t>(j);
            out[k] = static_cast<double>(value) * window[k];
        }
        return;
    }
    for (std::int64_t j = from; j < to; ++j) {
        const std::uint8_t* p = data_ + (first + j) * blockAlign_;
        const auto value =
            static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
        const auto k = static_cast<std::size_t>(j);
        out[k] = static_cast<double>(value) * window[k];
    }
}

void PaddedSamples::Read(std::int64_t start, std::span<double> out) const {
    const auto n = static_cast<std::int64_t>(out.size());
    // Recording samples covered: [start - offset, start - offset + n) ∩ [0, count).
    const std::int64_t first = start - ScratchOffset;
    const std::int64_t from = std::clamp<std::int64_t>(-first, 0, n);
    const std::int64_t to = std::clamp<std::int64_t>(count_ - first, from, n);
    std::fill(out.begin(), out.begin() + from, 0.0);
    if (mono_ != nullptr) {
        for (std::int64_t j = from; j < to; ++j)
            out[static_cast<std::size_t>(j)] = mono_[first + j];
        std::fill(out.begin() + to, out.end(), 0.0);
        return;
    }
    for (std::int64_t j = from; j < to; ++j) {
        // Channel 0 of sample frame (first + j): signed 16-bit little-endian.
        const std::uint8_t* p = data_ + (first + j) * blockAlign_;
        const auto value =
            static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
        out[static_cast<std::size_t>(j)] = value;
    }
    std::fill(out.begin() + to, out.end(), 0.0);
}

void FrameSpectrum(const PaddedSamples& samples, int frameIndex, int hopSize, FftWorkspace& fft,
                   BinRow& spectrum) {
    // Straight into the FFT's input buffer, windowed as it is read.
    std::span<double, FftSize> x(fft.Input(), FftSize);
    samples.ReadWindowed(static_cast<std::int64_t>(frameIndex) * hopSize, x);
    fft.Execute();
    // |X[k]| / 512 from (re, im) pairs; bin 0 is real. Multiplying by 2^-9
    // rounds exactly as dividing by 512 does (both are the correctly rounded
    // x / 512), and lets the loop run on vectors.
    constexpr double inverse512 = 1.0 / 512.0;
    const double* out = fft.Output();
    spectrum[0] = std::fabs(out[0]) * inverse512;
    for (std::size_t k = 1; k < SpectrumBins; ++k) {
        const double re = out[2 * k];
        const double im = out[2 * k + 1];
        spectrum[k] = std::sqrt(re * re + im * im) * inverse512;
    }
}

const BinRow& FrameScratch::Row(const SpectrumSource& source, int frame) {
    const auto slot = static_cast<std::size_t>(frame % 3);
    if (rowFrame_[slot] != frame) {
        FrameSpectrum(*source.Samples, frame, source.HopSize, Fft, rows_[slot]);
        rowFrame_[slot] = frame;
    }
    return rows_[slot];
}

}  // namespace melodrift

// The lanes zoomed out: one pixel column stands for `zoom.frames` frames, and
// shows what those frames hold instead of one frame's value.
#pragma once

#include "editor/Timeline.h"

#include <array>

namespace melodrift {

// The frames of column x: first + x · frames .. min(first + (x + 1) · frames, last + 1).
// Columns 0 .. range.right − 1 of each image below.

// Volume lane (48 rows): yellow from the column's loudest frame's row down to
// its quietest frame's row (the loudness span), olive below that.
inline constexpr std::uint32_t kOlive = Rgb(128, 128, 0);
RgbaImage BuildVolumeOverview(std::span<const std::int32_t> frameVolume, const VisibleRange& range,
                              Zoom zoom);
// Spectrum lane (128 rows): each band's largest value over the column, coloured
// as SpectrumColour does.
RgbaImage BuildSpectrumOverview(std::span<const SpectrumColumn> spectrumImage, float densityDb,
                                const VisibleRange& range, Zoom zoom);
// The band maxima alone, one per column that holds frames; and peaks
// coloured into an image `width` columns wide (black past the peaks).
// `blockPeaks` (SpectrumBlockPeaks, or empty) lets a column take whole
// blocks of frames instead of their frames: the same maxima, read from an
// eighth of the memory.
std::vector<SpectrumColumn> SpectrumOverviewPeaks(std::span<const SpectrumColumn> spectrumImage,
                                                  const VisibleRange& range, Zoom zoom,
                                                  std::span<const SpectrumColumn> blockPeaks = {});
// Each band's maximum over the frames kPeakBlockFrames · b .. kPeakBlockFrames · (b + 1) − 1.
inline constexpr int kPeakBlockFrames = 8;
std::vector<SpectrumColumn> SpectrumBlockPeaks(std::span<const SpectrumColumn> spectrumImage);
RgbaImage ColourSpectrumPeaks(std::span<const SpectrumColumn> peaks, float densityDb, int width);
// Pitch lane (128 rows, BuildPitchBitmap's colours): the grid, every row a
// candidate reaches within the column (brightest strength rank wins), and the
// pitch track as the span of rows it passes through in the column, red where
// it crosses unvoiced frames, green over it where it joins voiced ones.
RgbaImage BuildPitchOverview(const PitchLaneInput& input);
// Its pieces: the teal grid lines over the whole image, and each row's
// brightest candidate level (grey 0..255, 0 for none) over frames
// [begin, end); `candidateRows` as in PitchLaneInput.
void DrawPitchGrid(RgbaImage& image);
using PitchCandidateLevels = std::array<int, 128>;
PitchCandidateLevels CandidateLevels(std::span<const CandidateSlots> candidates,
                                     std::span<const CandidateRows> candidateRows, int begin,
                                     int end, float minStrength);

}  // namespace melodrift

#include "editor/Overview.h"

#include "editor/LaneLayout.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace melodrift {

namespace {

// Calls visit(x, begin, end) for every column with its frames [begin, end).
template <typename Visit>
void ForEachColumn(const VisibleRange& range, Zoom zoom, int frameCount, Visit visit) {
    const int end = std::min(range.lastFrame + 1, frameCount);
    for (int x = 0; x < range.right; ++x) {
        const std::int64_t begin = range.firstFrame + std::int64_t{x} * zoom.frames;
        if (begin >= end) break;
        visit(x, static_cast<int>(begin),
              static_cast<int>(std::min<std::int64_t>(begin + zoom.frames, end)));
    }
}

int VolumeRow(std::int32_t volume) {
    constexpr int kHeight = kLanes.Volume.Height;
    // 32000 fills the lane, as in BuildVolumeBitmap.
    return static_cast<int>(
        std::max<std::int64_t>(kHeight - 1 - (std::int64_t{kHeight} * volume) / 32000, 0));
}

}  // namespace

RgbaImage BuildVolumeOverview(std::span<const std::int32_t> frameVolume, const VisibleRange& range,
                              Zoom zoom) {
    constexpr int kHeight = kLanes.Volume.Height;
    RgbaImage image(std::max(range.right, 0), kHeight, kBlack);
    ForEachColumn(
        range, zoom, static_cast<int>(frameVolume.size()), [&](int x, int begin, int end) {
            const auto [low, high] =
                std::minmax_element(frameVolume.begin() + begin, frameVolume.begin() + end);
            const int top = VolumeRow(*high);
            const int bottom = VolumeRow(*low);  // the quietest frame's bar top
            for (int y = top; y < kHeight; ++y)
                image.pixels[static_cast<std::size_t>(y) * image.width + x] =
                    y <= bottom ? kYellow : kOlive;
        });
    return image;
}

static void TakePeaks(SpectrumColumn& peak, const SpectrumColumn& column) {
    for (int r = 0; r < kSpectrumRows; ++r) peak[r] = std::max(peak[r], column[r]);
}

std::vector<SpectrumColumn> SpectrumBlockPeaks(std::span<const SpectrumColumn> spectrumImage) {
    const std::size_t frames = spectrumImage.size();
    std::vector<SpectrumColumn> blocks((frames + kPeakBlockFrames - 1) / kPeakBlockFrames);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const std::size_t first = b * kPeakBlockFrames;
        blocks[b] = spectrumImage[first];
        for (std::size_t j = first + 1; j < std::min(first + kPeakBlockFrames, frames); ++j)
            TakePeaks(blocks[b], spectrumImage[j]);
    }
    return blocks;
}

std::vector<SpectrumColumn> SpectrumOverviewPeaks(std::span<const SpectrumColumn> spectrumImage,
                                                  const VisibleRange& range, Zoom zoom,
                                                  std::span<const SpectrumColumn> blockPeaks) {
    std::vector<SpectrumColumn> peaks;
    peaks.reserve(static_cast<std::size_t>(std::max(range.right, 0)));
    const bool blocks = blockPeaks.size() * kPeakBlockFrames >= spectrumImage.size();
    ForEachColumn(
        range, zoom, static_cast<int>(spectrumImage.size()), [&](int, int begin, int end) {
            SpectrumColumn peak = spectrumImage[static_cast<std::size_t>(begin)];
            int j = begin + 1;
            if (blocks) {
                // Frames up to a block's start, whole blocks, then the rest.
                for (; j < end && j % kPeakBlockFrames != 0; ++j)
                    TakePeaks(peak, spectrumImage[static_cast<std::size_t>(j)]);
                for (; j + kPeakBlockFrames <= end; j += kPeakBlockFrames)
                    TakePeaks(peak, blockPeaks[static_cast<std::size_t>(j / kPeakBlockFrames)]);
            }
            for (; j < end; ++j) TakePeaks(peak, spectrumImage[static_cast<std::size_t>(j)]);
            peaks.push_back(peak);
        });
    return peaks;
}

RgbaImage ColourSpectrumPeaks(std::span<const SpectrumColumn> peaks, float densityDb, int width) {
    RgbaImage image(std::max(width, 0), kSpectrumRows, kBlack);
    const int columns = std::min(image.width, static_cast<int>(peaks.size()));
    for (int x = 0; x < columns; ++x) {
        for (int r = 0; r < kSpectrumRows; ++r) {
            image.pixels[static_cast<std::size_t>(r) * image.width + x] =
                SpectrumColour(peaks[static_cast<std::size_t>(x)][r], densityDb);
        }
    }
    return image;
}

RgbaImage BuildSpectrumOverview(std::span<const SpectrumColumn> spectrumImage, float densityDb,
                                const VisibleRange& range, Zoom zoom) {
    return ColourSpectrumPeaks(SpectrumOverviewPeaks(spectrumImage, range, zoom), densityDb,
                               range.right);
}

void DrawPitchGrid(RgbaImage& image) {
    for (int n = 1; n <= 10; ++n) {
        const int row = 164 - 24 * n;
        if (row >= 0 && row < image.height) image.FillRect(0, row, image.width, row + 1, kTeal);
    }
}

PitchCandidateLevels CandidateLevels(std::span<const CandidateSlots> candidates,
                                     std::span<const CandidateRows> candidateRows, int begin,
                                     int end, float minStrength) {
    PitchCandidateLevels level{};
    const bool rowsKnown = candidateRows.size() == candidates.size();
    for (int j = std::max(begin, 0); j < end && j < static_cast<int>(candidates.size()); ++j) {
        for (int k = 0; k < CandidateCount; ++k) {
            const PitchCandidate& candidate = candidates[j][k];
            const auto dot =
                rowsKnown ? CandidateDotAt(candidateRows[j][k], candidate.Strength, k, minStrength)
                          : CandidateDotOf(candidate, k, minStrength);
            if (dot) level[dot->row] = std::max(level[dot->row], dot->level);
        }
    }
    return level;
}

RgbaImage BuildPitchOverview(const PitchLaneInput& in) {
    const int frames = static_cast<int>(in.pitchCents.size());
    if (frames == 0) return {};
    const VisibleRange range = ComputeVisibleRange(std::min(in.firstFrame, frames - 1),
                                                   in.visibleFrames, frames, in.scale);
    constexpr int kHeight = kLanes.Pitch.Height;
    RgbaImage image(std::max(range.right, 0), kHeight, kBlack);
    DrawPitchGrid(image);
    auto voiced = [&](int j) {
        const bool rejected = j < static_cast<int>(in.rejected.size()) && in.rejected[j] != 0;
        return j >= 0 && j < static_cast<int>(in.frames.size()) && in.frames[j].TargetF0 != 0.0f &&
               !rejected;
    };
    auto row = [&](int j) { return std::clamp(CentsToPitchRow(in.pitchCents[j]), -1, kHeight); };
    auto span = [&](int x, int a, int b, std::uint32_t colour) {
        for (int y = std::max(std::min(a, b), 0); y <= std::min(std::max(a, b), kHeight - 1); ++y)
            image.Set(x, y, colour);
    };
    ForEachColumn(range, in.scale, frames, [&](int x, int begin, int end) {
        const PitchCandidateLevels level =
            CandidateLevels(in.candidates, in.candidateRows, begin, end, in.minStrength);
        for (int y = 0; y < kHeight; ++y) {
            if (level[y] > 0) image.Set(x, y, Rgb(level[y], level[y], level[y]));
        }
        // The track from the previous column's last frame through this column.
        int redLow = kHeight + 1, redHigh = -2, greenLow = kHeight + 1, greenHigh = -2;
        for (int j = std::max(begin, 1); j < end; ++j) {
            const int a = row(j - 1);
            const int b = row(j);
            if (voiced(j) && voiced(j - 1)) {
                greenLow = std::min({greenLow, a, b});
                greenHigh = std::max({greenHigh, a, b});
            } else {
                redLow = std::min({redLow, a, b});
                redHigh = std::max({redHigh, a, b});
            }
        }
        if (redHigh >= redLow) span(x, redLow, redHigh, kRed);
        if (greenHigh >= greenLow) span(x, greenLow, greenHigh, kGreen);
    });
    return image;
}

}  // namespace melodrift

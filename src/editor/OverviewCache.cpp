#include "editor/OverviewCache.h"

#include "audio/PitchAnalyser.h"
#include "editor/LaneLayout.h"

#include <algorithm>

namespace melodrift {

namespace {

// Columns fromX .. fromX + count − 1 of `from` onto `to` from column toX, row for row.
void CopyColumns(RgbaImage& to, int toX, const RgbaImage& from, int fromX, int count) {
    const int rows = std::min(to.height, from.height);
    for (int y = 0; y < rows; ++y) {
        std::copy_n(from.pixels.begin() + static_cast<std::ptrdiff_t>(y) * from.width + fromX,
                    count, to.pixels.begin() + static_cast<std::ptrdiff_t>(y) * to.width + toX);
    }
}

std::size_t BytesOf(const RgbaImage& image) { return image.pixels.size() * sizeof(std::uint32_t); }

}  // namespace

void OverviewCache::Clear(const EditorSession& session) {
    tiles_.clear();
    candidateRows_ = CandidateRowsOf(session.Analyser->Candidates);
    blockPeaks_ = SpectrumBlockPeaks(session.SpectrumImage);
}

std::size_t OverviewCache::Bytes() const {
    std::size_t bytes =
        candidateRows_.size() * sizeof(CandidateRows) + blockPeaks_.size() * sizeof(SpectrumColumn);
    for (const auto& [key, tile] : tiles_) {
        bytes += BytesOf(tile.volume) + BytesOf(tile.spectrum) + BytesOf(tile.pitch) +
                 tile.peaks.size() * sizeof(SpectrumColumn);
    }
    return bytes;
}

OverviewCache::Tile& OverviewCache::TileAt(const EditorSession& s, int framesPerPixel, int index) {
    const Zoom zoom(1, framesPerPixel);
    const int frames = s.FrameCount();
    const int firstFrame = index * kTileColumns * framesPerPixel;
    const int tileFrames = kTileColumns * framesPerPixel;
    Tile& tile = tiles_[{framesPerPixel, index}];
    tile.lastUse = useClock_;
    const VisibleRange range = ComputeVisibleRange(firstFrame, tileFrames, frames, zoom);
    if (tile.volume.width == 0) {
        tile.columns = range.right;
        tile.volume = BuildVolumeOverview(s.FrameVolume, range, zoom);
        tile.peaks = SpectrumOverviewPeaks(s.SpectrumImage, range, zoom, blockPeaks_);
    }
    if (tile.density != s.SpectrumDensity) {
        tile.spectrum = ColourSpectrumPeaks(tile.peaks, s.SpectrumDensity, tile.columns);
        tile.density = s.SpectrumDensity;
    }
    if (tile.pitchRevision != pitchRevision_ || tile.minStrength != s.MinStrength) {
        const auto& candidates = s.Analyser->Candidates;
        if (candidateRows_.size() != candidates.size())
            candidateRows_ = CandidateRowsOf(candidates);
        PitchLaneInput in = PitchLaneOf(s, firstFrame, tileFrames, zoom);
        in.candidateRows = candidateRows_;
        tile.pitch = BuildPitchOverview(in);
        tile.pitchRevision = pitchRevision_;
        tile.minStrength = s.MinStrength;
    }
    return tile;
}

void OverviewCache::DropOldTiles() {
    while (tiles_.size() > 1 && Bytes() > kBudgetBytes) {
        auto oldest = std::min_element(
            tiles_.begin(), tiles_.end(),
            [](const auto& a, const auto& b) { return a.second.lastUse < b.second.lastUse; });
        if (oldest->second.lastUse == useClock_) break;  // on screen now
        tiles_.erase(oldest);
    }
}

OverviewLanes OverviewCache::Draw(const EditorSession& s, int width) {
    const Zoom zoom = s.View();
    const int frames = s.FrameCount();
    if (!zoom.Overview() || frames == 0 || width <= 0 || s.FirstFrame >= frames) return {};
    const int f = zoom.frames;
    // The columns that hold frames, as ComposeSurface lays them out.
    const VisibleRange range =
        ComputeVisibleRange(s.FirstFrame, VisibleFramesFor(width, zoom), frames, zoom);
    const int shown = std::clamp(range.right, 0, width);
    OverviewLanes lanes{RgbaImage(shown, kLanes.Volume.Height, kBlack),
                        RgbaImage(shown, kSpectrumRows, kBlack),
                        RgbaImage(shown, kLanes.Pitch.Height, kBlack)};
    if (s.FirstFrame % f != 0 || s.FirstFrame < 0) {
        // Off the column grid (not a view the window shows): drawn from the frames.
        const RgbaImage volume = BuildVolumeOverview(s.FrameVolume, range, zoom);
        const RgbaImage spectrum =
            BuildSpectrumOverview(s.SpectrumImage, s.SpectrumDensity, range, zoom);
        const RgbaImage pitch =
            BuildPitchOverview(PitchLaneOf(s, s.FirstFrame, VisibleFramesFor(width, zoom), zoom));
        CopyColumns(lanes.volume, 0, volume, 0, std::min(shown, volume.width));
        CopyColumns(lanes.spectrum, 0, spectrum, 0, std::min(shown, spectrum.width));
        CopyColumns(lanes.pitch, 0, pitch, 0, std::min(shown, pitch.width));
        return lanes;
    }
    ++useClock_;
    const std::int64_t firstColumn = s.FirstFrame / f;
    const std::int64_t endColumn = firstColumn + shown;
    for (std::int64_t column = firstColumn; column < endColumn;) {
        const int index = static_cast<int>(column / kTileColumns);
        const Tile& tile = TileAt(s, f, index);
        const int from = static_cast<int>(column - std::int64_t{index} * kTileColumns);
        const int count =
            static_cast<int>(std::min<std::int64_t>(tile.columns - from, endColumn - column));
        if (count <= 0) break;
        const int x = static_cast<int>(column - firstColumn);
        CopyColumns(lanes.volume, x, tile.volume, from, count);
        CopyColumns(lanes.spectrum, x, tile.spectrum, from, count);
        CopyColumns(lanes.pitch, x, tile.pitch, from, count);
        column += count;
    }
    DropOldTiles();
    return lanes;
}

}  // namespace melodrift

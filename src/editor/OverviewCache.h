// The zoomed-out lanes kept per zoom, so that a scroll or zoom step draws
// only the columns it has not drawn before.
//
// Zoomed out, column c of a zoom of f frames per pixel always covers the
// frames c·f .. c·f + f − 1: the view starts on a whole column
// (ViewStartFrame), so a column drawn once stays right at any scroll
// position. The columns are kept in tiles of kTileColumns, built when first
// shown; past kBudgetBytes the tiles shown longest ago are dropped.
#pragma once

#include "editor/Overview.h"

#include <cstdint>
#include <limits>
#include <map>
#include <utility>
#include <vector>

namespace melodrift {

struct OverviewLanes {
    RgbaImage volume;    // kLanes.Volume.Height rows
    RgbaImage spectrum;  // kSpectrumRows rows
    RgbaImage pitch;     // kLanes.Pitch.Height rows
};

class OverviewCache {
  public:
    static constexpr int kTileColumns = 256;
    static constexpr std::size_t kBudgetBytes = std::size_t{64} << 20;

    // Forgets every tile: another recording, or none. What every zoom
    // reads is worked out now, once per recording, not at the first
    // zoomed-out step: the rows of the pitch candidates (a logarithm each)
    // and the spectrum's block maxima (a few milliseconds for ten minutes).
    void Clear(const EditorSession& session);
    // The pitch lane's data changed (a drawn pitch, undo, the voicing
    // check): its columns are drawn anew when next shown.
    void InvalidatePitch() { ++pitchRevision_; }
    // The zoomed-out lanes of the session's view, `width` columns from
    // FirstFrame, black past the recording's end. Blank images when the
    // view is not zoomed out.
    OverviewLanes Draw(const EditorSession& session, int width);
    std::size_t Bytes() const;

  private:
    struct Tile {
        int columns = 0;  // columns holding frames (the last tile has fewer)
        RgbaImage volume;
        std::vector<SpectrumColumn> peaks;
        RgbaImage spectrum;
        float density = std::numeric_limits<float>::quiet_NaN();  // the colours' range
        RgbaImage pitch;
        std::uint64_t pitchRevision = 0;  // 0: not drawn
        float minStrength = 0.0f;
        std::uint64_t lastUse = 0;
    };
    Tile& TileAt(const EditorSession& session, int framesPerPixel, int index);
    void DropOldTiles();

    std::map<std::pair<int, int>, Tile> tiles_;  // by (frames per pixel, tile index)
    std::vector<CandidateRows> candidateRows_;
    std::vector<SpectrumColumn> blockPeaks_;
    std::uint64_t pitchRevision_ = 1;
    std::uint64_t useClock_ = 0;
};

}  // namespace melodrift

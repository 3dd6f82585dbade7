// Where the lanes of the drawing surface are: every lane's top row, height
// and the position of its label in the labels column left of the surface.
// Drawing, hit tests, labels and the in-place lyric edits all read this one
// layout; a new lane is one more entry here plus its drawing.
//
// Rows are surface pixels from the top; the labels column uses the same rows.
#pragma once

#include <array>
#include <string_view>

namespace melodrift {

struct LaneGeometry {
    int Top = 0;
    int Height = 0;
    int LabelX = 0;          // the label's left edge in the labels column
    int LabelY = 0;          // the label's top row
    std::string_view Label;  // UTF-8, as shown
    constexpr int Bottom() const { return Top + Height; }  // first row below the lane
};

struct LaneLayout {
    LaneGeometry Volume{0, 48, 8, 8, "音量"};
    LaneGeometry Spectrum{50, 128, 1, 58, "スペクトル"};
    LaneGeometry Pitch{180, 128, 8, 188, "ピッチ"};
    LaneGeometry Lyric{310, 16, 8, 318, "歌詞"};
    // Rows of the labels column's last separator (the other separators sit
    // at the tops of the lanes after the first).
    int LabelsBottom = 334;
    // The spectrum range bar in the labels column, rows below the spectrum
    // lane's top.
    int SpectrumBarOffset = 30;
    // The in-place lyric edits: one row above the lyric lane, 20 rows high,
    // at least 24 pixels wide.
    int LyricEditHeight = 20;
    int LyricEditMinWidth = 24;

    constexpr std::array<const LaneGeometry*, 4> Lanes() const {
        return {&Volume, &Spectrum, &Pitch, &Lyric};
    }
    constexpr int LyricEditTop() const { return Lyric.Top - 1; }
    // The cursor and the cut lines run from row 0 down to the lyric lane.
    constexpr int CutLinesBottom() const { return Lyric.Top; }
    // The volume lane answers the mouse down to the next lane's top (its
    // rows and the gap below them).
    constexpr int VolumeAreaBottom() const { return Spectrum.Top; }
};

inline constexpr LaneLayout kLanes{};

}  // namespace melodrift

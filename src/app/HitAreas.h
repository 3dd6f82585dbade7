// Where a pointer on the drawing surface is, as far as the mouse editing
// cares, and what the status bar says there. Pure functions of pixels, so the
// order of the areas can be checked without a window.
#pragma once

#include <span>
#include <string_view>

namespace melodrift {

enum class HitArea {
    PitchLane,   // drawing a pitch line
    Cut,         // dragging cut k
    VolumeLane,  // previews
    LyricLane,   // lyric entry
    CutArea,     // setting and removing cuts (spectrum lane and the rows below the pitch lane)
};

struct SurfaceHit {
    HitArea Area = HitArea::CutArea;
    int Cut = -1;  // 1-based cut index (the start of segment Cut) when Area is Cut
};

struct LaneGeometry {
    int VolumeTop = 0;
    int PitchTop = 180;
    int LyricTop = 310;
};

// The areas in the order they are tested: the pitch lane (strictly inside its
// 128 rows, when drawing is enabled), then the first cut within 2 pixels of x,
// the volume lane (y < VolumeTop + 50), the lyric lane (y > LyricTop), and
// the cut area. `cutXs[k - 1]` is the x of cut k.
SurfaceHit HitTestSurface(int x, int y, bool pitchDrawEnabled, const LaneGeometry& lanes,
                          std::span<const int> cutXs);

// Status texts of the surface, exactly as shown.
inline constexpr std::string_view kHelpPitchLane = "左ドラッグ=ピッチの補正";
inline constexpr std::string_view kHelpCut = "左ドラッグ=文字の幅を変更";
inline constexpr std::string_view kHelpVolumeLane =
    "左ドラッグ=原音プレビュー\u3000右ドラッグ=ピッチ確認用プレビュー";
inline constexpr std::string_view kHelpLyricLane = "左クリック=歌詞を設定    右ドラッグ=歌詞を一括設定";
inline constexpr std::string_view kHelpCutArea = "左クリック=区切り設定\u3000\u3000右ダブルクリック=区切り削除";

}  // namespace melodrift

// Segment and lyric editing without widgets: the lyric-run split and the
// automatic segmentation's question. The mouse on the drawing surface is in
// editor/SurfaceMouse.h.
// The segment list operations themselves are members of EditorSession
// (SegmentAt, RecalcLengths, AddCut, RemoveCut, MoveCut, ...).
#pragma once

#include "editor/Session.h"

#include <string>
#include <string_view>
#include <vector>

namespace melodrift {

inline constexpr std::string_view kAutoSegmentQuestion =
    "現在の区切り位置を破棄してもよろしいですか?";

// Splits typed text over `count` segments: each lyric is one character plus
// the small kana ("ぁぃぅぇぉゃゅょァィゥェォャュョ") that directly follow it;
// a lone "っ" or "ッ" becomes "R", segments beyond the text get "R", and
// characters left after the last segment are dropped. UTF-8 in, UTF-8 out.
std::vector<std::string> SplitLyricRun(std::string_view textUtf8, int count);

}  // namespace melodrift

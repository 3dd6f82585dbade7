// Segment and lyric editing without widgets: the lyric-run split, the hit
// areas of the drawing surface with their help texts and pointer shapes, and
// the mouse state machine's decisions, as the window asks for them.
// The segment list operations themselves are members of EditorSession
// (SegmentAt, RecalcLengths, AddCut, RemoveCut, MoveCut, ...).
#pragma once

#include "editor/Session.h"

#include <string>
#include <string_view>
#include <vector>

namespace melodrift {

inline constexpr std::string_view kAutoSegmentQuestion = "現在の区切り位置を破棄してもよろしいですか?";

// Status texts of the drawing surface (exact spacing: full-width blanks in
// the volume and cut-area texts, four ordinary blanks in the lyric text).
inline constexpr std::string_view kHelpPitchLane = "左ドラッグ=ピッチの補正";
inline constexpr std::string_view kHelpCut = "左ドラッグ=文字の幅を変更";
inline constexpr std::string_view kHelpVolumeLane = "左ドラッグ=原音プレビュー　右ドラッグ=ピッチ確認用プレビュー";
inline constexpr std::string_view kHelpLyricLane = "左クリック=歌詞を設定    右ドラッグ=歌詞を一括設定";
inline constexpr std::string_view kHelpCutArea = "左クリック=区切り設定　　右ダブルクリック=区切り削除";

// Splits typed text over `count` segments: each lyric is one character plus
// the small kana ("ぁぃぅぇぉゃゅょァィゥェォャュョ") that directly follow it;
// a lone "っ" or "ッ" becomes "R", segments beyond the text get "R", and
// characters left after the last segment are dropped. UTF-8 in, UTF-8 out.
std::vector<std::string> SplitLyricRun(std::string_view textUtf8, int count);

enum class HitArea { PitchLane, Cut, VolumeLane, LyricLane, CutArea };
struct SurfaceHit {
    HitArea area = HitArea::CutArea;
    int cut = -1;  // for HitArea::Cut: the segment whose start is under the pointer
};
// The area under (x, y) of the drawing surface, tested in the order pitch
// lane, cut (within 2 pixels), volume lane, lyric lane, cut area.
SurfaceHit HitTest(const EditorSession& session, int x, int y);

enum class PointerShape { Arrow, Hand, HorizontalResize, CrossHair, IBeam };

enum class MouseButton { Left, Right, Middle };

enum class LyricEditor { None, LyricEdit, LyricsEdit };

// What the window must do after a mouse event on the surface. The session
// has already changed; these are the drawing and widget steps.
struct SurfaceActions {
    bool redrawLyricLane = false;   // rebuild and draw the lyric lane
    bool drawVolumeLane = false;    // redraw the volume lane with the selection
    bool drawCutLines = false;
    bool redrawAll = false;
    bool rebuildPitchLane = false;  // the pitch changed: rebuild the pitch lane
    bool xorLine = false;           // erase the old XOR line and draw LineStart..LineEnd
    bool eraseXorLine = false;      // erase the XOR line only
    std::string_view statusText;    // empty: leave the status bar as it is
    bool setPointer = false;
    PointerShape pointer = PointerShape::Arrow;
    // An in-place edit to open: over segments editFirst..editLast, with this
    // text, left edge and width in pixels (placed at y 309).
    LyricEditor openEditor = LyricEditor::None;
    int editFirst = -1;
    int editLast = -1;
    std::string editTextUtf8;
    int editLeft = 0;
    int editWidth = 0;
    bool closeEditor = false;       // hide the open edit (and commit it through LyricEditExit)
    // A preview to play (a WAVE image); empty when nothing plays.
    std::string playImage;
};

// Mouse events of the drawing surface, the pointer's shape before the event
// passed in (a move away from the volume lane removes its highlight only
// when the pointer was the cross-hair). They do nothing without frames.
SurfaceActions SurfaceMouseMove(EditorSession& session, int x, int y, PointerShape currentPointer);
SurfaceActions SurfaceMouseDown(EditorSession& session, MouseButton button, bool doubleClick, int x, int y,
                                 PointerShape currentPointer);
SurfaceActions SurfaceMouseUp(EditorSession& session, MouseButton button, int x, int y);
// Leaving (or Enter in) an open lyric edit: commits its text and returns to
// Idle. `editor` tells which edit was open.
void LyricEditExit(EditorSession& session, LyricEditor editor, std::string_view textUtf8);

}  // namespace melodrift

// The mouse on the drawing surface, without widgets: which area a pointer is
// over, the status text and pointer shape there, and the state machine of
// the gestures (dragging a cut, adding and removing cuts, the lyric edits,
// previews, pitch lines). Every edit sets the session's Modified flag and is
// recorded in the EditHistory as one undo step, here and nowhere else; the
// window only turns Qt events into these calls and carries out the returned
// SurfaceActions (drawing, widgets, playback).
#pragma once

#include "editor/LaneLayout.h"
#include "editor/Session.h"

#include <string>
#include <string_view>

namespace melodrift {

class EditHistory;

// Status texts of the drawing surface (exact spacing: full-width blanks in
// the volume and cut-area texts, four ordinary blanks in the lyric text).
inline constexpr std::string_view kHelpPitchLane = "左ドラッグ=ピッチの補正";
inline constexpr std::string_view kHelpCut = "左ドラッグ=文字の幅を変更";
inline constexpr std::string_view kHelpVolumeLane =
    "左ドラッグ=原音プレビュー　右ドラッグ=ピッチ確認用プレビュー";
inline constexpr std::string_view kHelpLyricLane =
    "左クリック=歌詞を設定    右ドラッグ=歌詞を一括設定";
inline constexpr std::string_view kHelpCutArea =
    "左クリック=区切り設定　　右ダブルクリック=区切り削除";

enum class HitArea {
    PitchLane,   // drawing a pitch line
    Cut,         // dragging a cut
    VolumeLane,  // previews
    LyricLane,   // lyric entry
    CutArea,     // setting and removing cuts (spectrum lane and the rows around the pitch lane)
};
struct SurfaceHit {
    HitArea area = HitArea::CutArea;
    int cut = -1;  // for HitArea::Cut: the segment whose start is under the pointer
};
// The area under (x, y) of the drawing surface, tested in this order: the
// pitch lane (strictly inside its rows, when drawing is enabled), the first
// cut within 2 pixels of x, the volume area (above the spectrum lane), the
// lyric lane (below its top row), the cut area.
SurfaceHit HitTest(const EditorSession& session, int x, int y);

enum class PointerShape { Arrow, Hand, HorizontalResize, CrossHair, IBeam };

enum class MouseButton { Left, Right, Middle };

enum class LyricEditor { None, LyricEdit, LyricsEdit };

enum class PreviewKind { None, Recording, Resynthesised };

// What the window must do after a mouse event on the surface, in this
// order: move the cursor line, the XOR pitch line, rebuild the pitch lane,
// the lyric lane, the volume lane, the cut lines, everything. The session
// and the history have already changed.
struct SurfaceActions {
    bool moveCursor = false;  // erase the cursor line at previousCursorX, draw it at CursorX
    int previousCursorX = -1;
    bool xorLine = false;       // erase LineStart..previousLineEnd, draw LineStart..LineEnd (XOR)
    bool eraseXorLine = false;  // erase LineStart..previousLineEnd only
    PixelPoint previousLineEnd;
    bool rebuildPitchLane = false;  // the pitch changed: rebuild the pitch lane
    bool redrawLyricLane = false;   // rebuild and draw the lyric lane
    bool drawVolumeLane = false;    // redraw the volume lane with the selection
    bool drawCutLines = false;
    bool redrawAll = false;
    std::string_view statusText;  // empty: leave the status bar as it is
    bool setPointer = false;
    PointerShape pointer = PointerShape::Arrow;
    // An in-place edit to open over segments editFirst..editLast with this
    // text, left edge and width in pixels (rows from kLanes.LyricEditTop()).
    LyricEditor openEditor = LyricEditor::None;
    int editFirst = -1;
    int editLast = -1;
    std::string editTextUtf8;
    int editLeft = 0;
    int editWidth = 0;
    LyricEditor closeEditor = LyricEditor::None;  // hide this open edit (its exit commits it)
    // Zoomed out, a click on a lyric box too narrow to type in: zoom to
    // zoomTo and scroll so that frame zoomFrame sits at column zoomX.
    bool zoomIn = false;
    Zoom zoomTo;
    int zoomFrame = 0;
    int zoomX = 0;
    int cutMenu = -1;  // ≥ 1: open the menu of this cut at the pointer
    // A preview of previewFromMs..previewToMs to play.
    PreviewKind preview = PreviewKind::None;
    double previewFromMs = 0.0;
    double previewToMs = 0.0;
};

// Mouse events of the drawing surface, with the pointer's shape before the
// event (a move away from the volume lane removes its highlight only when
// the pointer was the cross-hair). They do nothing without frames.
SurfaceActions SurfaceMouseMove(EditorSession& session, int x, int y, PointerShape currentPointer);
SurfaceActions SurfaceMouseDown(EditorSession& session, EditHistory& history, MouseButton button,
                                bool doubleClick, int x, int y, PointerShape currentPointer);
SurfaceActions SurfaceMouseUp(EditorSession& session, EditHistory& history, MouseButton button,
                              int x, int y);

// Where an in-place lyric edit over segments first..last goes, in surface
// pixels: from the first one's start, at least kLanes.LyricEditMinWidth wide.
struct EditBox {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};
EditBox LyricEditBox(const EditorSession& session, int first, int last);

// Leaving (or Enter in) an open lyric edit: returns to Idle, commits the
// text (a lyric the plug-in file cannot hold throws UnencodableText; the
// edit is closed all the same) and records the step. Nothing happens when
// no edit is open.
void LyricEditExit(EditorSession& session, EditHistory& history, LyricEditor editor,
                   std::string_view textUtf8);
// Escape in an open lyric edit: back to Idle, nothing committed or recorded.
void AbandonLyricEdit(EditorSession& session, EditHistory& history);
// Removes cut k (1 ≤ k < segment count) as one undo step; nothing while a
// gesture or an edit is open.
// True when it removed one.
bool RemoveCutAt(EditorSession& session, EditHistory& history, int cutIndex);

}  // namespace melodrift

#include "editor/SurfaceMouse.h"

#include "editor/History.h"
#include "editor/Timeline.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace melodrift {

namespace {

constexpr int kCutReachPixels = 3;  // |x − cut| < 3

int ClampToInt(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min() / 2,
                                                     std::numeric_limits<int>::max() / 2));
}

int SurfaceX(const EditorSession& s, double timeMs) {
    return ClampToInt(MsToX(timeMs, s.View(), s.FirstFrame));
}

SurfaceHit HitTestArea(const EditorSession& s, int x, int y, bool withCuts) {
    const LaneGeometry& pitch = kLanes.Pitch;
    if (s.PitchDrawEnabled && pitch.Top < y && y < pitch.Bottom()) return {HitArea::PitchLane, -1};
    if (withCuts) {
        for (int k = 1; k < static_cast<int>(s.Segments.size()); ++k) {
            if (std::abs(SurfaceX(s, s.Segments[k].StartMs) - x) < kCutReachPixels)
                return {HitArea::Cut, k};
        }
    }
    if (y < kLanes.VolumeAreaBottom()) return {HitArea::VolumeLane, -1};
    if (y > kLanes.Lyric.Top) return {HitArea::LyricLane, -1};
    return {HitArea::CutArea, -1};
}

bool ValidSegment(const EditorSession& s, int index) {
    return index >= 0 && index < static_cast<int>(s.Segments.size());
}

void OrderSelection(EditorSession& s) {
    if (s.SelFirst > s.SelLast) std::swap(s.SelFirst, s.SelLast);
}

void OpenEditor(const EditorSession& s, SurfaceActions& act, LyricEditor editor, int first,
                int last) {
    act.openEditor = editor;
    act.editFirst = first;
    act.editLast = last;
    std::string text;
    for (int i = first; i <= last; ++i) text += s.Segments[i].Lyric;
    act.editTextUtf8 = text;
    const EditBox box = LyricEditBox(s, first, last);
    act.editLeft = box.Left;
    act.editWidth = box.Width;
}

void Show(SurfaceActions& act, std::string_view text, PointerShape shape) {
    act.statusText = text;
    act.setPointer = true;
    act.pointer = shape;
}

// Idle: what is under the pointer, its help text and highlights.
void HoverIdle(EditorSession& s, SurfaceActions& act, int x, int y, double t,
               PointerShape currentPointer) {
    s.HoverCut = -1;
    const int segment = s.SegmentAt(t);
    if (segment != s.HoverSegment) {
        s.HoverSegment = segment;
        act.redrawLyricLane = true;
    }
    const SurfaceHit hit = HitTest(s, x, y);
    switch (hit.area) {
        case HitArea::PitchLane:
            Show(act, kHelpPitchLane, PointerShape::Hand);
            break;
        case HitArea::Cut:
            s.HoverCut = hit.cut;
            Show(act, kHelpCut, PointerShape::HorizontalResize);
            break;
        case HitArea::VolumeLane:
            Show(act, kHelpVolumeLane, PointerShape::CrossHair);
            s.SelFirst = s.SelLast = segment;
            act.drawVolumeLane = act.drawCutLines = true;
            break;
        case HitArea::LyricLane:
        case HitArea::CutArea:
            s.SelFirst = s.SelLast = -1;
            if (currentPointer == PointerShape::CrossHair)
                act.drawVolumeLane = act.drawCutLines = true;
            if (y >= kLanes.Lyric.Top && segment >= 0) {
                Show(act, kHelpLyricLane, PointerShape::IBeam);
            } else {
                Show(act, kHelpCutArea, PointerShape::Arrow);
            }
            break;
    }
}

int SegmentWidth(const EditorSession& s, int segment) {
    const Segment& seg = s.Segments[static_cast<std::size_t>(segment)];
    return SurfaceX(s, seg.StartMs + seg.LengthMs) - SurfaceX(s, seg.StartMs);
}

// The farthest zoom out, closer than now, at which the segment's box is wide
// enough to type in (at most 8 pixels per frame), its middle kept at column x.
void ZoomOntoSegment(const EditorSession& s, SurfaceActions& act, int segment, int x) {
    const Segment& seg = s.Segments[static_cast<std::size_t>(segment)];
    int position = PositionOfZoom(s.View()) + 1;
    auto width = [&](Zoom zoom) {
        return static_cast<int>(MsToX(seg.StartMs + seg.LengthMs, zoom, 0) -
                                MsToX(seg.StartMs, zoom, 0));
    };
    while (position < 8 && width(ZoomAtPosition(position)) < kLanes.LyricEditMinWidth) ++position;
    act.zoomIn = true;
    act.zoomTo = ZoomAtPosition(position);
    act.zoomFrame = static_cast<int>(MsToNearestFrame(seg.StartMs));
    act.zoomX = std::max(0, x - width(act.zoomTo) / 2);
}

// A press in Idle away from a cut.
void PressIdle(EditorSession& s, EditHistory& history, SurfaceActions& act, MouseButton button,
               bool doubleClick, int x, int y, double t) {
    // The cut under the pointer is known from the last move; the remaining
    // areas from this position.
    switch (HitTestArea(s, x, y, false).area) {
        case HitArea::LyricLane:
            if (button == MouseButton::Left) {
                if (ValidSegment(s, s.HoverSegment) && s.View().Overview() &&
                    LyricEditBox(s, s.HoverSegment, s.HoverSegment).Width >
                        SegmentWidth(s, s.HoverSegment)) {
                    ZoomOntoSegment(s, act, s.HoverSegment, x);
                } else if (ValidSegment(s, s.HoverSegment)) {
                    history.Begin(s, EditScope::Segments);
                    s.Mouse = MouseMode::EditLyric;
                    s.Modified = true;
                    OpenEditor(s, act, LyricEditor::LyricEdit, s.HoverSegment, s.HoverSegment);
                }
            } else if (button == MouseButton::Right) {
                s.Mouse = MouseMode::SelectLyrics;
                s.SelFirst = s.SelLast = s.SegmentAt(t);
            }
            break;
        case HitArea::VolumeLane:
            s.SelFirst = s.SelLast = s.SegmentAt(t);
            s.Mouse = MouseMode::Preview;
            act.drawVolumeLane = act.drawCutLines = true;
            break;
        case HitArea::PitchLane:
            act.setPointer = true;
            act.pointer = PointerShape::Hand;
            s.LineStart = s.LineEnd = {x, y};
            s.Mouse = MouseMode::DrawPitch;
            break;
        case HitArea::Cut:
        case HitArea::CutArea:
            if (button == MouseButton::Left && !doubleClick) {
                history.Begin(s, EditScope::Segments);
                s.AddCut("R", t);
                history.Commit(s);
                act.redrawLyricLane = act.drawCutLines = true;
                s.Modified = true;
            } else if (button == MouseButton::Right && doubleClick) {
                history.Begin(s, EditScope::Segments);
                s.RemoveCut(t);
                history.Commit(s);
                act.redrawLyricLane = act.redrawAll = true;
                s.Modified = true;
            }
            break;
    }
}

}  // namespace

SurfaceHit HitTest(const EditorSession& session, int x, int y) {
    return HitTestArea(session, x, y, true);
}

EditBox LyricEditBox(const EditorSession& s, int first, int last) {
    const Segment& a = s.Segments[static_cast<std::size_t>(first)];
    const Segment& b = s.Segments[static_cast<std::size_t>(last)];
    const int left = SurfaceX(s, a.StartMs);
    const int right = SurfaceX(s, b.StartMs + b.LengthMs);
    return {left, kLanes.LyricEditTop(), std::max(kLanes.LyricEditMinWidth, right - left),
            kLanes.LyricEditHeight};
}

SurfaceActions SurfaceMouseMove(EditorSession& s, int x, int y, PointerShape currentPointer) {
    SurfaceActions act;
    if (s.FrameCount() == 0) return act;
    act.moveCursor = true;
    act.previousCursorX = s.CursorX;
    s.CursorX = x;
    const double t = XToMs(x, s.View(), s.FirstFrame);
    switch (s.Mouse) {
        case MouseMode::Idle:
            HoverIdle(s, act, x, y, t, currentPointer);
            break;
        case MouseMode::DragCut:
            s.Modified = true;
            s.MoveCut(s.HoverCut, t);
            act.redrawLyricLane = true;
            break;
        case MouseMode::Preview:
            act.setPointer = true;
            act.pointer = PointerShape::HorizontalResize;
            s.SelLast = s.SegmentAt(t);
            act.drawVolumeLane = true;
            break;
        case MouseMode::DrawPitch:
            act.xorLine = true;
            act.previousLineEnd = s.LineEnd;
            s.LineEnd = {x, y};
            break;
        case MouseMode::SelectLyrics:
            s.SelLast = s.SegmentAt(t);
            act.redrawLyricLane = true;
            break;
        case MouseMode::EditLyric:
        case MouseMode::EditLyrics:
            break;
    }
    return act;
}

SurfaceActions SurfaceMouseDown(EditorSession& s, EditHistory& history, MouseButton button,
                                bool doubleClick, int x, int y, PointerShape currentPointer) {
    SurfaceActions act;
    if (s.FrameCount() == 0) return act;
    switch (s.Mouse) {
        case MouseMode::Idle:
            if (s.HoverCut != -1) {
                if (button == MouseButton::Right && doubleClick) {
                    // A right double-click exactly on a cut removes it, as one
                    // between two cuts removes the cut before the pointer.
                    if (RemoveCutAt(s, history, s.HoverCut))
                        act.redrawLyricLane = act.redrawAll = true;
                    return act;
                }
                if (button == MouseButton::Right) {
                    act.cutMenu = s.HoverCut;  // a right click on a cut opens its menu
                    return act;
                }
                history.Begin(s, EditScope::Segments);
                s.Mouse = MouseMode::DragCut;
                return SurfaceMouseMove(s, x, y, currentPointer);  // the cut jumps to the pointer
            }
            PressIdle(s, history, act, button, doubleClick, x, y, XToMs(x, s.View(), s.FirstFrame));
            break;
        case MouseMode::EditLyric:
            act.closeEditor = LyricEditor::LyricEdit;
            break;
        case MouseMode::EditLyrics:
            act.closeEditor = LyricEditor::LyricsEdit;
            break;
        default:
            break;
    }
    return act;
}

SurfaceActions SurfaceMouseUp(EditorSession& s, EditHistory& history, MouseButton button, int x,
                              int y) {
    SurfaceActions act;
    if (s.FrameCount() == 0) return act;
    switch (s.Mouse) {
        case MouseMode::DragCut:
            s.Mouse = MouseMode::Idle;
            history.Commit(s);
            act.redrawAll = true;
            break;
        case MouseMode::Preview:
            OrderSelection(s);
            if (ValidSegment(s, s.SelFirst) && ValidSegment(s, s.SelLast)) {
                const Segment& last = s.Segments[s.SelLast];
                act.preview = button == MouseButton::Right ? PreviewKind::Resynthesised
                                                           : PreviewKind::Recording;
                act.previewFromMs = s.Segments[s.SelFirst].StartMs;
                act.previewToMs = last.StartMs + last.LengthMs;
            }
            s.SelFirst = s.SelLast = -1;
            s.Mouse = MouseMode::Idle;
            act.drawVolumeLane = act.drawCutLines = true;
            break;
        case MouseMode::DrawPitch:
            act.eraseXorLine = true;
            act.previousLineEnd = s.LineEnd;
            s.LineEnd = {x, y};
            s.Mouse = MouseMode::Idle;
            history.Begin(s, EditScope::SegmentsAndPitch);
            s.ApplyPitchLine(s.LineStart, s.LineEnd);
            history.Commit(s);
            s.Modified = true;
            act.rebuildPitchLane = act.redrawAll = true;
            break;
        case MouseMode::SelectLyrics:
            s.Mouse = MouseMode::EditLyrics;
            OrderSelection(s);
            s.Modified = true;
            if (ValidSegment(s, s.SelFirst) && ValidSegment(s, s.SelLast)) {
                history.Begin(s, EditScope::Segments);
                OpenEditor(s, act, LyricEditor::LyricsEdit, s.SelFirst, s.SelLast);
            } else {
                s.Mouse = MouseMode::Idle;
            }
            break;
        default:
            break;
    }
    return act;
}

void LyricEditExit(EditorSession& s, EditHistory& history, LyricEditor editor,
                   std::string_view textUtf8) {
    // Leaving an edit that is not open (focus moving through a hidden edit)
    // commits nothing.
    if (s.Mouse != MouseMode::EditLyric && s.Mouse != MouseMode::EditLyrics) return;
    // The edit closes even when its text is refused.
    s.Mouse = MouseMode::Idle;
    if (editor == LyricEditor::LyricEdit) {
        if (ValidSegment(s, s.HoverSegment)) s.CommitLyric(s.HoverSegment, textUtf8);
    } else if (editor == LyricEditor::LyricsEdit) {
        s.CommitLyricRun(s.SelFirst, s.SelLast, textUtf8);
    }
    history.Commit(s);
}

void AbandonLyricEdit(EditorSession& s, EditHistory& history) {
    if (s.Mouse != MouseMode::EditLyric && s.Mouse != MouseMode::EditLyrics) return;
    history.Abandon();
    s.Mouse = MouseMode::Idle;
}

bool RemoveCutAt(EditorSession& s, EditHistory& history, int cutIndex) {
    if (s.Mouse != MouseMode::Idle) return false;
    if (cutIndex < 1 || cutIndex >= static_cast<int>(s.Segments.size())) return false;
    history.Begin(s, EditScope::Segments);
    s.RemoveCut(s.Segments[static_cast<std::size_t>(cutIndex)].StartMs);
    history.Commit(s);
    s.Modified = true;
    s.HoverCut = -1;
    return true;
}

}  // namespace melodrift

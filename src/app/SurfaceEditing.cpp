// The mouse editing on the drawing surface as the window carries it out:
// Qt events go to the editor's state machine (editor/SurfaceMouse.h), which
// changes the session and the undo history; the window draws, opens the
// in-place lyric edits and plays what it is told. Also undo and redo, and
// the cut removals of the cut's menu and the Delete key.
#include <algorithm>
#include <cmath>
#include <limits>

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QMenu>

#include "MainWindow.h"
#include "Widgets.h"
#include "editor/SurfaceMouse.h"

namespace melodrift {

namespace {

PointerShape ToPointer(Qt::CursorShape shape) {
    switch (shape) {
        case Qt::PointingHandCursor:
            return PointerShape::Hand;
        case Qt::SizeHorCursor:
            return PointerShape::HorizontalResize;
        case Qt::CrossCursor:
            return PointerShape::CrossHair;
        case Qt::IBeamCursor:
            return PointerShape::IBeam;
        default:
            return PointerShape::Arrow;
    }
}

Qt::CursorShape ToCursor(PointerShape shape) {
    switch (shape) {
        case PointerShape::Hand:
            return Qt::PointingHandCursor;
        case PointerShape::HorizontalResize:
            return Qt::SizeHorCursor;
        case PointerShape::CrossHair:
            return Qt::CrossCursor;
        case PointerShape::IBeam:
            return Qt::IBeamCursor;
        case PointerShape::Arrow:
            break;
    }
    return Qt::ArrowCursor;
}

MouseButton ToButton(Qt::MouseButton button) {
    if (button == Qt::LeftButton) return MouseButton::Left;
    if (button == Qt::RightButton) return MouseButton::Right;
    return MouseButton::Middle;
}

}  // namespace

// ---- Mouse editing ------------------------------------------------------------------

PointerShape MainWindow::SurfacePointer() const { return ToPointer(surface_->cursor().shape()); }

void MainWindow::CarryOut(const SurfaceActions& act, int x, int y) {
    if (act.moveCursor) {
        ToggleCursorAt(act.previousCursorX);
        ToggleCursorAt(session_.CursorX);
    }
    if (act.xorLine || act.eraseXorLine) {
        XorPitchLine(session_.LineStart, act.previousLineEnd);
        if (act.xorLine) XorPitchLine(session_.LineStart, session_.LineEnd);
    }
    if (act.rebuildPitchLane) PitchChanged();
    if (act.redrawLyricLane) RedrawLyricLane();
    if (act.drawVolumeLane) DrawVolumeLane();
    if (act.drawCutLines) DrawCutLines();
    if (act.redrawAll) RedrawAll();
    if (act.zoomIn) {
        SetZoomQuietly(act.zoomTo);
        ShowFrameAt(act.zoomFrame, act.zoomX);
    }
    if (!act.statusText.empty())
        SetStatus(QString::fromUtf8(act.statusText.data(), qsizetype(act.statusText.size())));
    if (act.setPointer) surface_->setCursor(ToCursor(act.pointer));
    if (act.openEditor != LyricEditor::None) {
        QLineEdit* edit = act.openEditor == LyricEditor::LyricEdit ? lyricEdit_ : lyricsEdit_;
        edit->setGeometry(act.editLeft, kLanes.LyricEditTop(), act.editWidth,
                          kLanes.LyricEditHeight);
        edit->setText(QString::fromStdString(act.editTextUtf8));
        edit->show();
        edit->raise();
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
    }
    if (act.cutMenu > 0) {
        menuCut_ = act.cutMenu;
        cutMenuAt_ = surface_->mapToGlobal(QPoint(x, y));
        cutMenuTimer_->start(QApplication::doubleClickInterval());
    }
    if (act.preview != PreviewKind::None) {
        lastPlayFromMs_ = act.previewFromMs;
        lastPlayToMs_ = act.previewToMs;
        lastPlayResynthesised_ = act.preview == PreviewKind::Resynthesised;
        PlayLastPreview();
    }
}

void MainWindow::SurfaceMouseMove(int x, int y) {
    Guard([&] { CarryOut(melodrift::SurfaceMouseMove(session_, x, y, SurfacePointer()), x, y); });
}

void MainWindow::SurfaceMouseDown(Qt::MouseButton button, bool doubleClick, int x, int y) {
    Guard([&] {
        // A double-click is no right click: the menu its first press
        // asked for does not open.
        if (doubleClick) cutMenuTimer_->stop();
        const SurfaceActions act = melodrift::SurfaceMouseDown(session_, history_, ToButton(button),
                                                               doubleClick, x, y, SurfacePointer());
        if (act.closeEditor != LyricEditor::None) {
            // Hiding the edit commits it; an edit hidden already is dropped.
            LyricEditExit(act.closeEditor == LyricEditor::LyricEdit ? lyricEdit_ : lyricsEdit_);
            melodrift::AbandonLyricEdit(session_, history_);
        }
        CarryOut(act, x, y);
    });
}

void MainWindow::SurfaceMouseUp(Qt::MouseButton button, int x, int y) {
    Guard([&] {
        CarryOut(melodrift::SurfaceMouseUp(session_, history_, ToButton(button), x, y), x, y);
    });
}

// ---- The two in-place lyric edits ----------------------------------------------------

void MainWindow::LyricEditExit(QLineEdit* sender) {
    // Hiding the edit moves the focus away, which reports the exit again.
    if (committingLyric_ || sender->isHidden()) return;
    committingLyric_ = true;
    Guard([&] {
        const QByteArray text = sender->text().toUtf8();
        // Closed even when the text is refused (the error is shown).
        melodrift::LyricEditExit(
            session_, history_,
            sender == lyricEdit_ ? LyricEditor::LyricEdit : LyricEditor::LyricsEdit,
            std::string_view(text.constData(), std::size_t(text.size())));
    });
    sender->hide();
    committingLyric_ = false;
    Guard([&] { RedrawLyricLane(); });
}

void MainWindow::LyricEditKeyDown(QLineEdit* sender, int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) LyricEditExit(sender);
}

void MainWindow::AbandonLyricEdit() {
    // The open edit closes without taking its text.
    for (QLineEdit* edit : {lyricEdit_, lyricsEdit_}) {
        if (edit->isHidden()) continue;
        committingLyric_ = true;
        edit->hide();
        committingLyric_ = false;
        melodrift::AbandonLyricEdit(session_, history_);
        Guard([&] { RedrawLyricLane(); });
    }
}

void MainWindow::LyricEditFollowView() {
    // An open edit stays over its segments when the view zooms or scrolls.
    const int count = int(session_.Segments.size());
    const auto place = [&](QLineEdit* edit, int first, int last) {
        if (edit->isHidden() || first < 0 || last < first || last >= count) return;
        const EditBox box = LyricEditBox(session_, first, last);
        edit->setGeometry(box.Left, box.Top, box.Width, box.Height);
    };
    place(lyricEdit_, session_.HoverSegment, session_.HoverSegment);
    place(lyricsEdit_, session_.SelFirst, session_.SelLast);
}

// ---- Undo and redo ------------------------------------------------------------------

void MainWindow::UndoClicked() {
    Guard([&] {
        if (session_.Mouse != MouseMode::Idle) return;  // a gesture or an edit is open
        if (history_.Undo(session_)) AfterHistoryStep();
    });
}

void MainWindow::RedoClicked() {
    Guard([&] {
        if (session_.Mouse != MouseMode::Idle) return;
        if (history_.Redo(session_)) AfterHistoryStep();
    });
}

void MainWindow::AfterHistoryStep() {
    PitchChanged();
    BuildLyricBitmap();
    RedrawAll();
    DrawCutLines();
}

// ---- Removing cuts -------------------------------------------------------------------

void MainWindow::RemoveCutAt(int cutIndex) {
    Guard([&] {
        if (!melodrift::RemoveCutAt(session_, history_, cutIndex)) return;
        BuildLyricBitmap();
        RedrawAll();
    });
}

void MainWindow::DeleteKeyPressed() {
    int nearest = -1;
    Guard([&] {
        if (!session_.HasRecording() || session_.Segments.size() < 2) return;
        // The pointer's time, or the middle of the view when it never moved over the surface.
        const int x = session_.CursorX >= 0 ? session_.CursorX : surface_->width() / 2;
        const double t = SurfaceXToMs(x);
        double best = std::numeric_limits<double>::infinity();
        for (int k = 1; k < int(session_.Segments.size()); ++k) {
            const double distance = std::abs(session_.Segments[std::size_t(k)].StartMs - t);
            if (distance < best) {
                best = distance;
                nearest = k;
            }
        }
    });
    if (nearest > 0) RemoveCutAt(nearest);
}

}  // namespace melodrift

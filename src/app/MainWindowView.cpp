// The window's drawing surface: lanes, cursor, cut lines, zoom and scrolling,
// and the mouse editing on it (cuts, lyrics, previews, pitch lines).
#include <algorithm>
#include <cstdlib>
#include <limits>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QThread>
#include <QToolButton>

#include "LyricLane.h"
#include "MainWindow.h"
#include "VectorState.h"
#include "Widgets.h"
#include "audio/PitchAnalyser.h"
#include "audio/Resynthesizer.h"
#include "editor/PreviewJob.h"
#include "text/CodePage.h"

namespace melodrift {

namespace {

constexpr std::uint32_t kXorWhite = 0x00FFFFFFu;  // inverts red, green and blue
constexpr int kVolumeLaneRows = 48;
constexpr int kLyricEditY = 309;
constexpr int kLyricEditHeight = 20;
constexpr int kLyricEditMinWidth = 24;
constexpr int kLyricLaneHeight = 16;  // rows of a lyric box, its border included

int ClampToInt(std::int64_t value) {
    return int(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min() / 2,
                                        std::numeric_limits<int>::max() / 2));
}

void XorPixel(RgbaImage& image, int x, int y) {
    if (!image.Contains(x, y)) return;
    image.pixels[std::size_t(y) * std::size_t(image.width) + std::size_t(x)] ^= kXorWhite;
}

// A line from (x0, y0) to (x1, y1) inverted pixel by pixel (Bresenham), the
// end point left out; drawing it twice restores the image.
void XorLine(RgbaImage& image, int x0, int y0, int x1, int y1) {
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int error = dx + dy;
    int x = x0;
    int y = y0;
    while (x != x1 || y != y1) {
        XorPixel(image, x, y);
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += sx;
        }
        if (twice <= dx) {
            error += dx;
            y += sy;
        }
    }
}

}  // namespace

// ---- Coordinates ----------------------------------------------------------------

std::int64_t MainWindow::MsToSurfaceX(double timeMs) const {
    return MsToX(timeMs, session_.Scale, session_.FirstFrame);
}

double MainWindow::SurfaceXToMs(int x) const {
    return XToMs(x, session_.Scale, session_.FirstFrame);
}

std::vector<int> MainWindow::CutXs() const {
    std::vector<int> xs;
    for (std::size_t k = 1; k < session_.Segments.size(); ++k) {
        xs.push_back(ClampToInt(MsToSurfaceX(session_.Segments[k].StartMs)));
    }
    return xs;
}

// ---- Layout and images ------------------------------------------------------------

void MainWindow::UpdateLayout() {
    if (busy_) return;
    session_.VisibleFrames = VisibleFramesFor(surface_->width(), session_.Scale);
    const int frames = session_.FrameCount();
    const int visible = session_.VisibleFrames;
    // The scroll range covers frames 0..frames−1 with a page of the visible
    // frames, so the last position shows the recording's end.
    const int maximum = std::max(0, frames - 1);
    const int page = std::min(maximum, visible);
    {
        const QSignalBlocker block(timeScrollBar_);
        timeScrollBar_->setPageStep(std::max(1, page));
        timeScrollBar_->setRange(0, std::max(0, maximum - std::max(1, page) + 1));
    }
    session_.FirstFrame = timeScrollBar_->value();
    timeScrollBar_->hide();
    timeScrollBar_->show();
    UpdateZoomLabel();
    BuildLyricBitmap();
    BuildPitchBitmap();
    DrawCutLines();
    RedrawAll();
    LyricEditFollowView();
}

void MainWindow::UpdateZoomLabel() {
    zoomLabel_->setText(QStringLiteral("×%1").arg(session_.Scale));
}

void MainWindow::TimeScrollChanged() {
    Guard([&] {
        session_.FirstFrame = timeScrollBar_->value();
        BuildLyricBitmap();
        BuildPitchBitmap();
        RedrawAll();
        DrawCutLines();
        LyricEditFollowView();
    });
}

void MainWindow::SpectrumRangeChanged() {
    Guard([&] {
        session_.SpectrumDensity = float(spectrumRangeBar_->value());
        BuildSpectrumBitmap();
        RedrawAll();
    });
}

void MainWindow::BuildSpectrumBitmap() {
    if (!session_.HasRecording()) {
        spectrumBitmap_ = RgbaImage();
        spectrumColumnDensity_.clear();
        return;
    }
    // The image keeps one column per frame, but only the columns on screen
    // are coloured (RefreshSpectrumColumns, before every redraw): a change
    // of the range recolours about 700 columns, not the 103,000 of a
    // 10-minute recording.
    const int frames = int(session_.SpectrumImage.size());
    if (spectrumBitmap_.width != frames || spectrumBitmap_.height != kSpectrumRows ||
        spectrumColumnDensity_.size() != std::size_t(frames)) {
        spectrumBitmap_ = RgbaImage(frames, kSpectrumRows, kBlack);
        spectrumColumnDensity_.assign(std::size_t(frames), std::numeric_limits<float>::quiet_NaN());
    }
    RefreshSpectrumColumns();
}

void MainWindow::RefreshSpectrumColumns() {
    if (spectrumColumnDensity_.empty()) return;
    const VisibleRange range =
        ComputeVisibleRange(session_.FirstFrame, session_.VisibleFrames, session_.FrameCount(), session_.Scale);
    const float density = session_.SpectrumDensity;
    const int last = std::min(range.c, int(spectrumColumnDensity_.size()) - 1);
    for (int i = std::max(0, range.a); i <= last; ++i) {
        float& built = spectrumColumnDensity_[std::size_t(i)];
        if (built == density) continue;  // NaN (never coloured) differs from every density
        const SpectrumColumn& column = session_.SpectrumImage[std::size_t(i)];
        for (int r = 0; r < kSpectrumRows; ++r) {
            spectrumBitmap_.pixels[std::size_t(r) * std::size_t(spectrumBitmap_.width) + std::size_t(i)] =
                SpectrumColour(column[std::size_t(r)], density);
        }
        built = density;
    }
}

void MainWindow::BuildPitchBitmap() {
    if (!session_.HasRecording()) {
        pitchBitmap_ = RgbaImage();
        return;
    }
    PitchLaneInput input;
    input.pitchCents = session_.PitchCents;
    input.frames = session_.Analyser->Frames;
    input.rejected = session_.RejectedPitchFrames();
    input.candidates = session_.Analyser->Candidates;
    input.minStrength = session_.MinStrength;
    input.firstFrame = session_.FirstFrame;
    input.visibleFrames = session_.VisibleFrames;
    input.scale = session_.Scale;
    pitchBitmap_ = melodrift::BuildPitchBitmap(input);
}

void MainWindow::BuildLyricBitmap() {
    if (!session_.HasRecording()) {
        lyricBitmap_ = RgbaImage();
        return;
    }
    lyricBitmap_ = VisibleLyricBitmap(session_, surface_->width());
}

// The lyric lane redrawn in place: its image at (0, LyricTop) with the texts.
void MainWindow::RedrawLyricLane() {
    BuildLyricBitmap();
    RgbaImage& surface = surface_->Image();
    for (int y = 0; y < lyricBitmap_.height; ++y) {
        const int row = session_.LyricTop + y;
        if (row < 0 || row >= surface.height) continue;
        const int columns = std::min(lyricBitmap_.width, surface.width);
        std::copy_n(lyricBitmap_.pixels.begin() + std::ptrdiff_t(y) * lyricBitmap_.width, columns,
                    surface.pixels.begin() + std::ptrdiff_t(row) * surface.width);
    }
    DrawLyricTexts();
    surface_->update();
}

QRect MainWindow::LyricTextRect(int left, int right) const {
    // Inside the box's border (one pixel on each side).
    return QRect(left + 1, session_.LyricTop + 1, right - left - 1, kLyricLaneHeight - 2);
}

void MainWindow::DrawLyricTexts() {
    RgbaImage& surface = surface_->Image();
    QImage view = AsQImage(surface);
    if (view.isNull() || !session_.HasRecording()) return;
    QPainter painter(&view);
    const QFont font = LyricTextFont();
    painter.setFont(font);
    painter.setPen(Qt::black);
    for (const LyricBox& box : BuildLyricBoxes(session_)) {
        const int left = ClampToInt(box.left);
        const int right = ClampToInt(box.right);
        if (right <= left + 1) continue;
        // The text sits on a baseline chosen so that ascent and descent both
        // lie inside the box; the clip keeps a long lyric off its neighbour.
        const QRect inside = LyricTextRect(left, right);
        const int baseline = LyricBaseline(font, inside.top(), inside.height());
        painter.setClipRect(inside);
        painter.drawText(QPoint(inside.left() + 1, baseline), QString::fromStdString(box.lyricUtf8));
    }
}

QRect MainWindow::LyricGlyphRect(const QString& text) const {
    // Where DrawLyricTexts puts the ink of `text` in a box as wide as the surface.
    const QFont font = LyricTextFont();
    const QRect inside = LyricTextRect(0, surface_->width());
    const int baseline = LyricBaseline(font, inside.top(), inside.height());
    return QFontMetrics(font).tightBoundingRect(text).translated(inside.left() + 1, baseline);
}

void MainWindow::RedrawAll() {
    if (busy_) return;
    RefreshSpectrumColumns();
    LaneImages lanes;
    lanes.volume = &volumeBitmap_;
    lanes.spectrum = &spectrumBitmap_;
    lanes.pitch = &pitchBitmap_;
    lanes.lyric = &lyricBitmap_;
    surface_->Image() = ComposeSurface(session_, lanes, surface_->width(), surface_->height());
    DrawLyricTexts();
    session_.CursorX = -1;  // the next pointer move draws the cursor anew
    surface_->update();
}

void MainWindow::DrawVolumeLane() {
    if (!session_.HasRecording()) return;
    ToggleCursor();
    RgbaImage& surface = surface_->Image();
    const VisibleRange range =
        ComputeVisibleRange(session_.FirstFrame, session_.VisibleFrames, session_.FrameCount(), session_.Scale);
    const int scale = std::max(1, session_.Scale);
    for (int x = std::max(0, range.e); x < std::min(range.right, surface.width); ++x) {
        const int column = range.a + (x - range.e) / scale;
        if (column < 0 || column >= volumeBitmap_.width) continue;
        for (int y = 0; y < kVolumeLaneRows && y < volumeBitmap_.height; ++y) {
            const int row = session_.VolumeTop + y;
            if (row >= 0 && row < surface.height) surface.Set(x, row, volumeBitmap_.At(column, y));
        }
    }
    const int count = int(session_.Segments.size());
    if (session_.SelFirst >= 0 && session_.SelLast >= 0 && session_.SelFirst < count && session_.SelLast < count) {
        const Segment& low = session_.Segments[std::size_t(std::min(session_.SelFirst, session_.SelLast))];
        const Segment& high = session_.Segments[std::size_t(std::max(session_.SelFirst, session_.SelLast))];
        const int x1 = ClampToInt(MsToSurfaceX(low.StartMs));
        const int x2 = ClampToInt(MsToSurfaceX(high.StartMs + high.LengthMs)) + 1;
        MixSelection(surface, x1, session_.VolumeTop, x2, session_.VolumeTop + kVolumeLaneRows);
    }
    ToggleCursor();
    surface_->update();
}

void MainWindow::DrawCutLines() {
    RgbaImage& surface = surface_->Image();
    for (int x : CutXs()) {
        if (x >= 0 && x < surface.width) surface.LineTo(x, 0, x, session_.LyricTop, kGrey);
    }
    surface_->update();
}

void MainWindow::ToggleCursor() {
    RgbaImage& surface = surface_->Image();
    const int x = session_.CursorX;
    if (x < 0 || x >= surface.width) return;
    for (int y = 0; y < session_.LyricTop && y < surface.height; ++y) XorPixel(surface, x, y);
    surface_->update(x, 0, 1, session_.LyricTop);
}

void MainWindow::XorPitchLine() {
    XorLine(surface_->Image(), session_.LineStart.X, session_.LineStart.Y, session_.LineEnd.X,
            session_.LineEnd.Y);
    surface_->update();
}

void MainWindow::SetSurfaceHelp(std::string_view text, Qt::CursorShape shape) {
    SetStatus(QString::fromUtf8(text.data(), qsizetype(text.size())));
    surface_->setCursor(shape);
}

// ---- Mouse editing ------------------------------------------------------------------

void MainWindow::SurfaceMouseMove(int x, int y) {
    Guard([&] {
        if (!session_.HasRecording()) return;
        ToggleCursor();
        session_.CursorX = x;
        ToggleCursor();
        const double t = SurfaceXToMs(x);
        switch (session_.Mouse) {
        case MouseMode::Idle: {
            session_.HoverCut = -1;
            const int segment = session_.SegmentAt(t);
            if (segment != session_.HoverSegment) {
                session_.HoverSegment = segment;
                RedrawLyricLane();
            }
            const std::vector<int> cuts = CutXs();
            const SurfaceHit hit = HitTestSurface(
                x, y, session_.PitchDrawEnabled, {session_.VolumeTop, session_.PitchTop, session_.LyricTop}, cuts);
            switch (hit.Area) {
            case HitArea::PitchLane:
                SetSurfaceHelp(kHelpPitchLane, Qt::PointingHandCursor);
                break;
            case HitArea::Cut:
                session_.HoverCut = hit.Cut;
                SetSurfaceHelp(kHelpCut, Qt::SizeHorCursor);
                break;
            case HitArea::VolumeLane:
                SetSurfaceHelp(kHelpVolumeLane, Qt::CrossCursor);
                session_.SelFirst = session_.SelLast = segment;
                DrawVolumeLane();
                DrawCutLines();
                break;
            case HitArea::LyricLane:
            case HitArea::CutArea:
                session_.SelFirst = session_.SelLast = -1;
                if (surface_->cursor().shape() == Qt::CrossCursor) {
                    DrawVolumeLane();
                    DrawCutLines();
                }
                if (y >= session_.LyricTop && segment != -1) {
                    SetSurfaceHelp(kHelpLyricLane, Qt::IBeamCursor);
                } else {
                    SetSurfaceHelp(kHelpCutArea, Qt::ArrowCursor);
                }
                break;
            }
            break;
        }
        case MouseMode::DragCut:
            session_.Modified = true;
            session_.MoveCut(session_.HoverCut, t);
            RedrawLyricLane();
            break;
        case MouseMode::Preview:
            surface_->setCursor(Qt::SizeHorCursor);
            session_.SelLast = session_.SegmentAt(t);
            DrawVolumeLane();
            break;
        case MouseMode::DrawPitch:
            XorPitchLine();
            session_.LineEnd = {x, y};
            XorPitchLine();
            break;
        case MouseMode::SelectLyrics:
            session_.SelLast = session_.SegmentAt(t);
            RedrawLyricLane();
            break;
        case MouseMode::EditLyric:
        case MouseMode::EditLyrics:
            break;
        }
    });
}

void MainWindow::SurfaceMouseDown(Qt::MouseButton button, bool doubleClick, int x, int y) {
    Guard([&] {
        if (!session_.HasRecording()) return;
        const double t = SurfaceXToMs(x);
        switch (session_.Mouse) {
        case MouseMode::Idle: {
            if (session_.HoverCut != -1) {
                if (button == Qt::RightButton) {
                    // A right click on a cut opens its menu.
                    menuCut_ = session_.HoverCut;
                    cutMenu_->popup(surface_->mapToGlobal(QPoint(x, y)));
                    return;
                }
                history_.Begin(session_, EditScope::Segments);
                session_.Mouse = MouseMode::DragCut;
                SurfaceMouseMove(x, y);
                return;
            }
            // The cut under the pointer is known from the last move; the
            // remaining areas from this position.
            const SurfaceHit hit =
                HitTestSurface(x, y, session_.PitchDrawEnabled,
                               {session_.VolumeTop, session_.PitchTop, session_.LyricTop}, {});
            switch (hit.Area) {
            case HitArea::LyricLane: {
                const int count = int(session_.Segments.size());
                if (button == Qt::LeftButton) {
                    if (session_.HoverSegment >= 0 && session_.HoverSegment < count) {
                        history_.Begin(session_, EditScope::Segments);
                        session_.Mouse = MouseMode::EditLyric;
                        session_.Modified = true;
                        OpenLyricEditor(lyricEdit_, session_.HoverSegment, session_.HoverSegment,
                                        session_.Segments[std::size_t(session_.HoverSegment)].Lyric);
                    }
                } else if (button == Qt::RightButton) {
                    session_.Mouse = MouseMode::SelectLyrics;
                    session_.SelFirst = session_.SelLast = session_.SegmentAt(t);
                }
                break;
            }
            case HitArea::VolumeLane:
                session_.SelFirst = session_.SelLast = session_.SegmentAt(t);
                session_.Mouse = MouseMode::Preview;
                DrawVolumeLane();
                DrawCutLines();
                break;
            case HitArea::PitchLane:
                surface_->setCursor(Qt::PointingHandCursor);
                session_.LineStart = session_.LineEnd = {x, y};
                session_.Mouse = MouseMode::DrawPitch;
                break;
            case HitArea::Cut:
            case HitArea::CutArea:
                if (button == Qt::LeftButton && !doubleClick) {
                    history_.Begin(session_, EditScope::Segments);
                    session_.AddCut("R", t);
                    history_.Commit(session_);
                    RedrawLyricLane();
                    DrawCutLines();
                    session_.Modified = true;
                } else if (button == Qt::RightButton && doubleClick) {
                    history_.Begin(session_, EditScope::Segments);
                    session_.RemoveCut(t);
                    history_.Commit(session_);
                    RedrawLyricLane();
                    RedrawAll();
                    session_.Modified = true;
                }
                break;
            }
            break;
        }
        case MouseMode::EditLyric:
            LyricEditExit(lyricEdit_);
            session_.Mouse = MouseMode::Idle;
            break;
        case MouseMode::EditLyrics:
            LyricEditExit(lyricsEdit_);
            session_.Mouse = MouseMode::Idle;
            break;
        default:
            break;
        }
    });
}

void MainWindow::SurfaceMouseUp(Qt::MouseButton button, int x, int y) {
    Guard([&] {
        if (!session_.HasRecording()) return;
        const int count = int(session_.Segments.size());
        auto orderSelection = [&] {
            if (session_.SelFirst > session_.SelLast) std::swap(session_.SelFirst, session_.SelLast);
        };
        auto validSelection = [&] {
            return session_.SelFirst >= 0 && session_.SelLast >= 0 && session_.SelFirst < count &&
                   session_.SelLast < count;
        };
        switch (session_.Mouse) {
        case MouseMode::DragCut:
            session_.Mouse = MouseMode::Idle;
            history_.Commit(session_);
            RedrawAll();
            break;
        case MouseMode::Preview: {
            orderSelection();
            if (validSelection()) {
                const Segment& first = session_.Segments[std::size_t(session_.SelFirst)];
                const Segment& last = session_.Segments[std::size_t(session_.SelLast)];
                const double from = first.StartMs;
                const double to = last.StartMs + last.LengthMs;
                lastPlayFromMs_ = from;
                lastPlayToMs_ = to;
                lastPlayResynthesised_ = button == Qt::RightButton;
                if (lastPlayResynthesised_) {
                    // Rendered on its own thread; it plays when it is ready.
                    StartPreviewRender(from, to);
                } else {
                    StopPreviewRender();
                    PlayImage(session_.PlayRange(from, to));
                }
            }
            session_.SelFirst = session_.SelLast = -1;
            session_.Mouse = MouseMode::Idle;
            DrawVolumeLane();
            DrawCutLines();
            break;
        }
        case MouseMode::DrawPitch:
            XorPitchLine();
            session_.LineEnd = {x, y};
            session_.Mouse = MouseMode::Idle;
            history_.Begin(session_, EditScope::SegmentsAndPitch);
            session_.ApplyPitchLine(session_.LineStart, session_.LineEnd);
            history_.Commit(session_);
            session_.Modified = true;
            BuildPitchBitmap();
            RedrawAll();
            break;
        case MouseMode::SelectLyrics:
            session_.Mouse = MouseMode::EditLyrics;
            orderSelection();
            session_.Modified = true;
            if (validSelection()) {
                history_.Begin(session_, EditScope::Segments);
                std::string text;
                for (int k = session_.SelFirst; k <= session_.SelLast; ++k) {
                    text += session_.Segments[std::size_t(k)].Lyric;
                }
                OpenLyricEditor(lyricsEdit_, session_.SelFirst, session_.SelLast, text);
            } else {
                session_.Mouse = MouseMode::Idle;
            }
            break;
        default:
            break;
        }
    });
}

// ---- The two in-place lyric edits ----------------------------------------------------

void MainWindow::OpenLyricEditor(QLineEdit* edit, int first, int last, const std::string& textUtf8) {
    const Segment& a = session_.Segments[std::size_t(first)];
    const Segment& b = session_.Segments[std::size_t(last)];
    const int left = ClampToInt(MsToSurfaceX(a.StartMs));
    const int right = ClampToInt(MsToSurfaceX(b.StartMs + b.LengthMs));
    edit->setGeometry(left, kLyricEditY, std::max(kLyricEditMinWidth, right - left), kLyricEditHeight);
    edit->setText(QString::fromStdString(textUtf8));
    edit->show();
    edit->raise();
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
}

void MainWindow::LyricEditExit(QLineEdit* sender) {
    // Hiding the edit moves the focus away, which reports the exit again.
    if (committingLyric_ || sender->isHidden()) return;
    committingLyric_ = true;
    Guard([&] {
        const QByteArray text = sender->text().toUtf8();
        const std::string_view typed(text.constData(), std::size_t(text.size()));
        session_.Mouse = MouseMode::Idle;   // closed even when the text is refused (the error is shown)
        if (sender == lyricEdit_) {
            const int segment = session_.HoverSegment;
            if (segment >= 0 && segment < int(session_.Segments.size())) session_.CommitLyric(segment, typed);
        } else {
            session_.CommitLyricRun(session_.SelFirst, session_.SelLast, typed);
        }
        history_.Commit(session_);
    });
    sender->hide();
    committingLyric_ = false;
    Guard([&] { RedrawLyricLane(); });
}

void MainWindow::LyricEditKeyDown(QLineEdit* sender, int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) LyricEditExit(sender);
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
    BuildPitchBitmap();
    BuildLyricBitmap();
    RedrawAll();
    DrawCutLines();
}

// ---- Keys and the wheel ---------------------------------------------------------------

void MainWindow::CreateKeys() {
    const auto add = [this](const char* name, const char* text, const QList<QKeySequence>& keys, auto handler) {
        auto* action = new QAction(QString::fromUtf8(text), this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, handler);
        addAction(action);
        return action;
    };
    undoAction_ = add("UndoAction", "元に戻す", {QKeySequence(Qt::CTRL | Qt::Key_Z)}, [this] { UndoClicked(); });
    redoAction_ = add("RedoAction", "やり直し",
                      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)},
                      [this] { RedoClicked(); });
    add("PlayAction", "再生", {QKeySequence(Qt::Key_Space)}, [this] { PlayKeyPressed(); });
    add("StopAction", "停止", {QKeySequence(Qt::Key_Escape)}, [this] { EscapePressed(); });
    add("DeleteCutAction", "区切り削除", {QKeySequence(Qt::Key_Delete)}, [this] { DeleteKeyPressed(); });
    add("ZoomToFitAction", "全体表示", {QKeySequence(Qt::Key_0)}, [this] { ZoomToFitClicked(); });
    add("SaveEditStateAction", "編集状態の保存", {QKeySequence(Qt::CTRL | Qt::Key_S)}, [this] { SaveEditStateClicked(); });
    add("LoadRecordingAction", "音声読込", {QKeySequence(Qt::CTRL | Qt::Key_O)}, [this] { LoadRecordingClicked(); });

    cutMenu_ = new QMenu(this);
    cutMenu_->setObjectName(QStringLiteral("CutMenu"));
    QAction* removeCut = cutMenu_->addAction(QString::fromUtf8("区切り削除"));
    removeCut->setObjectName(QStringLiteral("RemoveCutAction"));
    connect(removeCut, &QAction::triggered, this, [this] { RemoveCutAt(menuCut_); });
    cutMenu_->addSeparator();
    cutMenu_->addAction(undoAction_);
    cutMenu_->addAction(redoAction_);
}

void MainWindow::RemoveCutAt(int cutIndex) {
    Guard([&] {
        if (session_.Mouse != MouseMode::Idle) return;
        if (cutIndex < 1 || cutIndex >= int(session_.Segments.size())) return;
        history_.Begin(session_, EditScope::Segments);
        session_.RemoveCut(session_.Segments[std::size_t(cutIndex)].StartMs);
        history_.Commit(session_);
        session_.Modified = true;
        session_.HoverCut = -1;
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

void MainWindow::PlayKeyPressed() {
    Guard([&] {
        if (!session_.HasRecording() || session_.Mouse != MouseMode::Idle) return;
        const int segment = session_.HoverSegment;
        if (segment >= 0 && segment < int(session_.Segments.size())) {
            const Segment& s = session_.Segments[std::size_t(segment)];
            lastPlayFromMs_ = s.StartMs;
            lastPlayToMs_ = s.StartMs + s.LengthMs;
            lastPlayResynthesised_ = false;
        }
        if (lastPlayToMs_ < lastPlayFromMs_) return;
        if (lastPlayResynthesised_) {
            StartPreviewRender(lastPlayFromMs_, lastPlayToMs_);
        } else {
            StopPreviewRender();
            PlayImage(session_.PlayRange(lastPlayFromMs_, lastPlayToMs_));
        }
    });
}

void MainWindow::EscapePressed() {
    if (busy_) {  // a load is running: Escape stops it, as its dialog's button does
        stopLoad_ = true;
        return;
    }
    StopPreviewRender();
    player_.Stop();
    AbandonLyricEdit();
}

void MainWindow::AbandonLyricEdit() {
    // The open edit closes without taking its text.
    for (QLineEdit* edit : {lyricEdit_, lyricsEdit_}) {
        if (edit->isHidden()) continue;
        committingLyric_ = true;
        edit->hide();
        committingLyric_ = false;
        history_.Abandon();
        session_.Mouse = MouseMode::Idle;
        Guard([&] { RedrawLyricLane(); });
    }
}

void MainWindow::LyricEditFollowView() {
    // An open edit stays over its segments when the view zooms or scrolls.
    const int count = int(session_.Segments.size());
    const auto place = [&](QLineEdit* edit, int first, int last) {
        if (edit->isHidden() || first < 0 || last < first || last >= count) return;
        const Segment& a = session_.Segments[std::size_t(first)];
        const Segment& b = session_.Segments[std::size_t(last)];
        const int left = ClampToInt(MsToSurfaceX(a.StartMs));
        const int right = ClampToInt(MsToSurfaceX(b.StartMs + b.LengthMs));
        edit->setGeometry(left, kLyricEditY, std::max(kLyricEditMinWidth, right - left), kLyricEditHeight);
    };
    place(lyricEdit_, session_.HoverSegment, session_.HoverSegment);
    place(lyricsEdit_, session_.SelFirst, session_.SelLast);
}

void MainWindow::ZoomToFitClicked() {
    Guard([&] {
        // The largest scale that shows every frame, or the smallest one when
        // even that cannot; the view starts at the beginning.
        const int frames = std::max(1, session_.FrameCount());
        int scale = zoomArrows_->Minimum();
        for (int s = zoomArrows_->Maximum(); s >= zoomArrows_->Minimum(); --s) {
            if (VisibleFramesFor(surface_->width(), s) >= frames) {
                scale = s;
                break;
            }
        }
        timeScrollBar_->setValue(0);
        zoomArrows_->SetPosition(scale);
        session_.SetScale(scale);
        UpdateLayout();
    });
}

void MainWindow::SurfaceWheel(int angleDelta, bool zoom, int x) {
    Guard([&] {
        if (!session_.HasRecording() || angleDelta == 0) return;
        const int notches = angleDelta / 120 != 0 ? angleDelta / 120 : (angleDelta > 0 ? 1 : -1);
        if (zoom) {
            // The frame under the pointer stays under it.
            const int frame = session_.FirstFrame + x / std::max(1, session_.Scale);
            const int scale = std::clamp(session_.Scale + notches, zoomArrows_->Minimum(), zoomArrows_->Maximum());
            if (scale == session_.Scale) return;
            zoomArrows_->SetPosition(scale);
            timeScrollBar_->setValue(std::max(0, frame - x / scale));
        } else {
            // A notch scrolls an eighth of the view; turning away from you goes on in time.
            const int step = std::max(1, session_.VisibleFrames / 8);
            timeScrollBar_->setValue(timeScrollBar_->value() - notches * step);
        }
    });
}

// ---- Previews ------------------------------------------------------------------------

void MainWindow::PlayImage(std::string image) {
    if (image.empty()) {
        player_.Stop();
        return;
    }
    // The message stays in the status bar until a preview plays again.
    if (!PreviewPlayer::OutputAvailable()) {
        player_.Stop();
        noOutputPanel_->show();
        SetStatus(StatusText());   // the keys panel makes room
        return;
    }
    if (player_.Play(std::move(image))) noOutputPanel_->hide();
}

void MainWindow::StartPreviewRender(double fromMs, double toMs) {
    StopPreviewRender();
    player_.Stop();
    std::optional<ResynthesisJob> job = PrepareResynthesis(session_, fromMs, toMs);
    if (!job || !session_.Resynth) return;
    stopPreview_ = false;
    previewImage_.clear();
    // The job and a copy of the resynthesiser belong to the thread: the
    // session stays free for editing while it renders.
    previewThread_ = QThread::create([this, job = std::move(*job), resynth = *session_.Resynth]() mutable {
        ClearUpperVectorState();
        previewImage_ = RenderResynthesis(job, resynth, &stopPreview_);
    });
    // A render stopped and collected earlier may still have its signal
    // queued: only the current one's counts.
    const int generation = ++previewGeneration_;
    connect(previewThread_, &QThread::finished, this, [this, generation] {
        if (generation == previewGeneration_) PreviewRendered();
    });
    QApplication::setOverrideCursor(Qt::BusyCursor);
    SetStatus(QString::fromUtf8("ピッチ確認用プレビューを作成しています... (Escで中止)"));
    previewThread_->start();
}

void MainWindow::PreviewRendered() {
    if (previewThread_ == nullptr) return;
    previewThread_->wait();
    delete previewThread_;
    previewThread_ = nullptr;
    QApplication::restoreOverrideCursor();
    SetStatus(QString());
    if (!stopPreview_) PlayImage(std::move(previewImage_));
    previewImage_.clear();
}

void MainWindow::StopPreviewRender() {
    if (previewThread_ == nullptr) return;
    stopPreview_ = true;
    PreviewRendered();
}

void MainWindow::WaitForPreview() {
    if (previewThread_ == nullptr) return;
    previewThread_->wait();
    PreviewRendered();
}

}  // namespace melodrift

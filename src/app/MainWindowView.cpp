// The window's drawing surface: lanes, cursor, cut lines, zoom and scrolling,
// and the mouse editing on it (cuts, lyrics, previews, pitch lines).
#include <algorithm>
#include <cstdlib>
#include <limits>

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>

#include "LyricLane.h"
#include "MainWindow.h"
#include "Widgets.h"
#include "audio/PitchAnalyser.h"
#include "text/CodePage.h"

namespace melodrift {

namespace {

constexpr std::uint32_t kXorWhite = 0x00FFFFFFu;  // inverts red, green and blue
constexpr int kVolumeLaneRows = 48;
constexpr int kLyricEditY = 309;
constexpr int kLyricEditHeight = 20;
constexpr int kLyricEditMinWidth = 24;

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

QFont LyricFont() {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                      QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP")});
    font.setPointSize(10);
    return font;
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
    BuildLyricBitmap();
    BuildPitchBitmap();
    DrawCutLines();
    RedrawAll();
}

void MainWindow::TimeScrollChanged() {
    Guard([&] {
        session_.FirstFrame = timeScrollBar_->value();
        BuildLyricBitmap();
        BuildPitchBitmap();
        RedrawAll();
        DrawCutLines();
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
        return;
    }
    spectrumBitmap_ = melodrift::BuildSpectrumBitmap(session_.SpectrumImage, session_.SpectrumDensity);
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

void MainWindow::DrawLyricTexts() {
    RgbaImage& surface = surface_->Image();
    QImage view = AsQImage(surface);
    if (view.isNull() || !session_.HasRecording()) return;
    QPainter painter(&view);
    painter.setFont(LyricFont());
    painter.setPen(Qt::black);
    const int top = session_.LyricTop;
    for (const LyricBox& box : BuildLyricBoxes(session_)) {
        const int left = ClampToInt(box.left);
        const int right = ClampToInt(box.right);
        if (right <= left + 1) continue;
        // Inside the box's border, so a long lyric never covers its neighbour.
        const QRect inside(left + 1, top + 1, right - left - 1, 14);
        painter.setClipRect(inside);
        painter.drawText(inside, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                         QString::fromStdString(box.lyricUtf8));
    }
}

void MainWindow::RedrawAll() {
    if (busy_) return;
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
    statusPanel_->setText(QString::fromUtf8(text.data(), qsizetype(text.size())));
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
                    session_.AddCut("R", t);
                    RedrawLyricLane();
                    DrawCutLines();
                    session_.Modified = true;
                } else if (button == Qt::RightButton && doubleClick) {
                    session_.RemoveCut(t);
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
            RedrawAll();
            break;
        case MouseMode::Preview: {
            orderSelection();
            if (validSelection()) {
                const Segment& first = session_.Segments[std::size_t(session_.SelFirst)];
                const Segment& last = session_.Segments[std::size_t(session_.SelLast)];
                const double from = first.StartMs;
                const double to = last.StartMs + last.LengthMs;
                std::string image = button == Qt::RightButton ? session_.PlayResynthesised(from, to)
                                                              : session_.PlayRange(from, to);
                if (!image.empty()) {
                    player_.Play(std::move(image));
                } else {
                    player_.Stop();
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
            session_.ApplyPitchLine(session_.LineStart, session_.LineEnd);
            session_.Modified = true;
            BuildPitchBitmap();
            RedrawAll();
            break;
        case MouseMode::SelectLyrics:
            session_.Mouse = MouseMode::EditLyrics;
            orderSelection();
            session_.Modified = true;
            if (validSelection()) {
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
    });
    sender->hide();
    committingLyric_ = false;
    Guard([&] { RedrawLyricLane(); });
}

void MainWindow::LyricEditKeyDown(QLineEdit* sender, int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) LyricEditExit(sender);
}

}  // namespace melodrift

// The window's drawing surface: the lane images, the cursor, the cut lines,
// the lyric texts, zoom and scrolling. Rows come from the lane layout
// (kLanes); the mouse editing is in SurfaceEditing.cpp.
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
#include <QToolButton>

#include "LyricLane.h"
#include "MainWindow.h"
#include "VectorState.h"
#include "Widgets.h"
#include "audio/PitchAnalyser.h"
#include "audio/Resynthesizer.h"
#include "editor/LaneLayout.h"
#include "editor/OverviewCache.h"
#include "text/CodePage.h"

namespace melodrift {

namespace {

constexpr std::uint32_t kXorWhite = 0x00FFFFFFu;  // inverts red, green and blue

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
    return MsToX(timeMs, session_.View(), session_.FirstFrame);
}

double MainWindow::SurfaceXToMs(int x) const {
    return XToMs(x, session_.View(), session_.FirstFrame);
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
    session_.VisibleFrames = VisibleFramesFor(surface_->width(), session_.View());
    const int frames = session_.FrameCount();
    const int visible = session_.VisibleFrames;
    // The scroll range covers frames 0..frames−1 with a page of the visible
    // frames, so the last position shows the recording's end.
    const int maximum = std::max(0, frames - 1);
    const int page = std::min(maximum, visible);
    const Zoom zoom = session_.View();
    {
        const QSignalBlocker block(timeScrollBar_);
        timeScrollBar_->setPageStep(std::max(1, page));
        // Zoomed out the view starts on whole columns: the arrows move one.
        timeScrollBar_->setSingleStep(zoom.frames);
        timeScrollBar_->setRange(0, zoom.Overview() ? LastViewStart(frames, visible, zoom)
                                                    : std::max(0, maximum - std::max(1, page) + 1));
    }
    session_.FirstFrame = ViewStartFrame(timeScrollBar_->value(), zoom);
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
    zoomLabel_->setText(QString::fromStdString(ZoomCaption(session_.View())));
    PlaceZoomStrip();
}

void MainWindow::TimeScrollChanged() {
    Guard([&] {
        const int first = ViewStartFrame(timeScrollBar_->value(), session_.View());
        if (first == session_.FirstFrame) return;  // within the column on screen
        session_.FirstFrame = first;
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
    // Zoomed out the lane is drawn from the per-frame values instead.
    if (spectrumColumnDensity_.empty() || session_.View().Overview()) return;
    const VisibleRange range = ComputeVisibleRange(session_.FirstFrame, session_.VisibleFrames,
                                                   session_.FrameCount(), session_.Scale);
    const float density = session_.SpectrumDensity;
    const int last = std::min(range.lastFrame, int(spectrumColumnDensity_.size()) - 1);
    for (int i = std::max(0, range.firstFrame); i <= last; ++i) {
        float& built = spectrumColumnDensity_[std::size_t(i)];
        if (built == density) continue;  // NaN (never coloured) differs from every density
        const SpectrumColumn& column = session_.SpectrumImage[std::size_t(i)];
        for (int r = 0; r < kSpectrumRows; ++r) {
            spectrumBitmap_
                .pixels[std::size_t(r) * std::size_t(spectrumBitmap_.width) + std::size_t(i)] =
                SpectrumColour(column[std::size_t(r)], density);
        }
        built = density;
    }
}

void MainWindow::PitchChanged() {
    overview_.InvalidatePitch();
    BuildPitchBitmap();
}

void MainWindow::BuildPitchBitmap() {
    // Zoomed out the lane comes from the overview's kept columns (RedrawAll).
    if (!session_.HasRecording() || session_.View().Overview()) {
        pitchBitmap_ = RgbaImage();
        return;
    }
    pitchBitmap_ = melodrift::BuildPitchBitmap(
        PitchLaneOf(session_, session_.FirstFrame, session_.VisibleFrames, session_.View()));
}

void MainWindow::BuildLyricBitmap() {
    if (!session_.HasRecording()) {
        lyricBitmap_ = RgbaImage();
        return;
    }
    lyricBitmap_ = VisibleLyricBitmap(session_, surface_->width());
}

// The lyric lane redrawn in place: its image at its lane's top with the texts.
void MainWindow::RedrawLyricLane() {
    BuildLyricBitmap();
    RgbaImage& surface = surface_->Image();
    for (int y = 0; y < lyricBitmap_.height; ++y) {
        const int row = kLanes.Lyric.Top + y;
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
    return QRect(left + 1, kLanes.Lyric.Top + 1, right - left - 1, kLanes.Lyric.Height - 2);
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
        painter.drawText(QPoint(inside.left() + 1, baseline),
                         QString::fromStdString(box.lyricUtf8));
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
    OverviewLanes overview;
    if (session_.View().Overview()) {
        overview = overview_.Draw(session_, surface_->width());
        lanes.volume = &overview.volume;
        lanes.spectrum = &overview.spectrum;
        lanes.pitch = &overview.pitch;
    }
    surface_->Image() = ComposeSurface(session_, lanes, surface_->width(), surface_->height());
    DrawLyricTexts();
    session_.CursorX = -1;  // the next pointer move draws the cursor anew
    surface_->update();
}

void MainWindow::DrawVolumeLane() {
    if (!session_.HasRecording()) return;
    ToggleCursor();
    RgbaImage& surface = surface_->Image();
    const VisibleRange range = ComputeVisibleRange(session_.FirstFrame, session_.VisibleFrames,
                                                   session_.FrameCount(), session_.View());
    const int scale = std::max(1, session_.Scale);
    const RgbaImage overview = session_.View().Overview()
                                   ? overview_.Draw(session_, surface_->width()).volume
                                   : RgbaImage();
    for (int x = 0; x < std::min(overview.width, surface.width); ++x) {
        for (int y = 0; y < kLanes.Volume.Height && kLanes.Volume.Top + y < surface.height; ++y) {
            surface.Set(x, kLanes.Volume.Top + y, overview.At(x, y));
        }
    }
    for (int x = std::max(0, range.left);
         overview.height == 0 && x < std::min(range.right, surface.width); ++x) {
        const int column = range.firstFrame + (x - range.left) / scale;
        if (column < 0 || column >= volumeBitmap_.width) continue;
        for (int y = 0; y < kLanes.Volume.Height && y < volumeBitmap_.height; ++y) {
            const int row = kLanes.Volume.Top + y;
            if (row >= 0 && row < surface.height) surface.Set(x, row, volumeBitmap_.At(column, y));
        }
    }
    const int count = int(session_.Segments.size());
    if (session_.SelFirst >= 0 && session_.SelLast >= 0 && session_.SelFirst < count &&
        session_.SelLast < count) {
        const Segment& low =
            session_.Segments[std::size_t(std::min(session_.SelFirst, session_.SelLast))];
        const Segment& high =
            session_.Segments[std::size_t(std::max(session_.SelFirst, session_.SelLast))];
        const int x1 = ClampToInt(MsToSurfaceX(low.StartMs));
        const int x2 = ClampToInt(MsToSurfaceX(high.StartMs + high.LengthMs)) + 1;
        MixSelection(surface, x1, kLanes.Volume.Top, x2, kLanes.Volume.Bottom());
    }
    ToggleCursor();
    surface_->update();
}

void MainWindow::DrawCutLines() {
    RgbaImage& surface = surface_->Image();
    for (int x : CutXs()) {
        if (x >= 0 && x < surface.width) surface.LineTo(x, 0, x, kLanes.CutLinesBottom(), kGrey);
    }
    surface_->update();
}

void MainWindow::ToggleCursor() { ToggleCursorAt(session_.CursorX); }

void MainWindow::ToggleCursorAt(int x) {
    RgbaImage& surface = surface_->Image();
    if (x < 0 || x >= surface.width) return;
    for (int y = 0; y < kLanes.CutLinesBottom() && y < surface.height; ++y) XorPixel(surface, x, y);
    surface_->update(x, 0, 1, kLanes.CutLinesBottom());
}

void MainWindow::XorPitchLine(PixelPoint from, PixelPoint to) {
    XorLine(surface_->Image(), from.X, from.Y, to.X, to.Y);
    surface_->update();
}

}  // namespace melodrift

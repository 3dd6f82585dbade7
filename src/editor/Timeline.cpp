#include "editor/Timeline.h"

#include "audio/PitchAnalyser.h"
#include "editor/LaneLayout.h"
#include "editor/Overview.h"
#include "text/CodePage.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace melodrift {

RgbaImage::RgbaImage(int w, int h, std::uint32_t fill)
    : width(std::max(0, w)),
      height(std::max(0, h)),
      pixels(static_cast<std::size_t>(std::max(0, w)) * static_cast<std::size_t>(std::max(0, h)),
             fill) {}

void RgbaImage::Set(int x, int y, std::uint32_t colour) {
    if (Contains(x, y)) pixels[static_cast<std::size_t>(y) * width + x] = colour;
}

void RgbaImage::FillRect(int left, int top, int right, int bottom, std::uint32_t colour) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, width);
    bottom = std::min(bottom, height);
    for (int y = top; y < bottom; ++y) {
        std::fill_n(pixels.begin() + static_cast<std::ptrdiff_t>(y) * width + left,
                    std::max(0, right - left), colour);
    }
}

void RgbaImage::LineTo(int x0, int y0, int x1, int y1, std::uint32_t colour) {
    // Bresenham over the major axis; the last point is left out.
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    int x = x0;
    int y = y0;
    while (x != x1 || y != y1) {
        Set(x, y, colour);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

// ---- Coordinate maps ---------------------------------------------------------

namespace {

// Floor division for a positive divisor.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

}  // namespace

double XToMs(int x, Zoom zoom, int position) {
    std::int64_t samples = 0;
    if (zoom.Overview()) {
        samples = (static_cast<std::int64_t>(x) * zoom.frames + position) * HopSize;
    } else {
        samples = (static_cast<std::int64_t>(x) * HopSize) / zoom.pixels +
                  static_cast<std::int64_t>(position) * HopSize;
    }
    return static_cast<double>(samples) / kSamplesPerMs;
}

std::int64_t MsToX(double timeMs, Zoom zoom, int position) {
    const auto sample = static_cast<std::int64_t>(std::trunc(timeMs * kSamplesPerMs));
    if (zoom.Overview()) {
        // +128: a time read back from XToMs may have lost a sample to rounding.
        return FloorDiv(sample - static_cast<std::int64_t>(position) * HopSize + HopSize / 2,
                        static_cast<std::int64_t>(HopSize) * zoom.frames);
    }
    return (sample * zoom.pixels + HopSize / 2) / HopSize -
           static_cast<std::int64_t>(zoom.pixels) * position;
}

int XToFrame(int x, Zoom zoom, int position, int frameCount) {
    const std::int64_t frame = zoom.Overview()
                                   ? static_cast<std::int64_t>(x) * zoom.frames + position
                                   : (x + zoom.pixels / 2) / zoom.pixels + position;
    return static_cast<int>(
        std::max<std::int64_t>(0, std::min<std::int64_t>(frame, frameCount - 1)));
}

int FrameToX(int frame, Zoom zoom, int position) {
    if (zoom.Overview()) return static_cast<int>(FloorDiv(frame - position, zoom.frames));
    return (frame - position) * zoom.pixels;
}

std::int64_t SampleToFrame(std::int64_t sample) { return (sample + HopSize / 2) / HopSize; }

std::int64_t FrameToSample(std::int64_t frame) { return frame * HopSize; }

std::int64_t MsToNearestFrame(double timeMs) {
    return SampleToFrame(static_cast<std::int64_t>(std::trunc(timeMs * kSamplesPerMs)));
}

int VisibleFramesFor(int width, Zoom zoom) {
    if (zoom.Overview()) {
        return static_cast<int>(
            std::min<std::int64_t>(std::int64_t{std::max(width, 1)} * zoom.frames, 1 << 30));
    }
    return width / zoom.pixels + 1;
}

Zoom ZoomAtPosition(int position) {
    if (position >= 1) return Zoom(std::min(position, 8));
    position = std::max(position, kZoomOutmostPosition);
    return Zoom(1, static_cast<int>(std::lround(std::pow(2.0, (2 - position) / 2.0))));
}

int PositionOfZoom(Zoom zoom) {
    if (!zoom.Overview()) return zoom.pixels;
    int position = 0;
    while (position > kZoomOutmostPosition && ZoomAtPosition(position).frames < zoom.frames)
        --position;
    return position;
}

Zoom ZoomToFit(int frameCount, int width) {
    frameCount = std::max(frameCount, 1);
    width = std::max(width, 1);
    for (int scale = 8; scale >= 1; --scale) {
        if (VisibleFramesFor(width, scale) >= frameCount) return Zoom(scale);
    }
    return Zoom(1, (frameCount + width - 1) / width);  // ceil: every frame on a column
}

std::string ZoomCaption(Zoom zoom) {
    if (!zoom.Overview()) return "×" + std::to_string(zoom.pixels);
    const double ms = zoom.frames * static_cast<double>(HopSize) / kSamplesPerMs;
    if (ms >= 10000.0) {
        const long tenths = std::lround(ms / 100.0);
        return "1px = " + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
    }
    return "1px = " + std::to_string(std::lround(ms)) + " ms";
}

int ViewStartFrame(int position, Zoom zoom) {
    return zoom.Overview() ? static_cast<int>(FloorDiv(position, zoom.frames)) * zoom.frames
                           : position;
}

int LastViewStart(int frameCount, int visibleFrames, Zoom zoom) {
    const int last = std::max(0, frameCount - std::max(visibleFrames, 1));
    if (!zoom.Overview()) return last;
    return static_cast<int>((std::int64_t{last} + zoom.frames - 1) / zoom.frames * zoom.frames);
}

VisibleRange ComputeVisibleRange(int firstFrame, int visibleFrames, int frameCount, Zoom zoom) {
    VisibleRange r;
    r.firstFrame = firstFrame;
    r.lastFrame = std::min(firstFrame + visibleFrames - 1, frameCount - 1);
    if (zoom.Overview()) {
        r.left = 0;
        r.right = static_cast<int>(FloorDiv(r.lastFrame - r.firstFrame, zoom.frames)) + 1;
        if (r.lastFrame < r.firstFrame) r.right = 0;
        return r;
    }
    r.left = -(zoom.pixels / 2);
    r.right = r.left + (r.lastFrame - r.firstFrame + 1) * zoom.pixels;
    return r;
}

// ---- Lane images -------------------------------------------------------------

RgbaImage BuildVolumeBitmap(std::span<const std::int32_t> frameVolume) {
    constexpr int kHeight = kLanes.Volume.Height;
    RgbaImage image(static_cast<int>(frameVolume.size()), kHeight, kBlack);
    for (int i = 0; i < image.width; ++i) {
        // 32000 fills the lane; louder frames are cut at the top row.
        const std::int64_t top = kHeight - 1 - (std::int64_t{kHeight} * frameVolume[i]) / 32000;
        for (std::int64_t y = std::max<std::int64_t>(top, 0); y < kHeight; ++y)
            image.Set(i, static_cast<int>(y), kYellow);
    }
    return image;
}

std::uint32_t SpectrumColour(float valueDb, float densityDb) {
    static constexpr int kPalette[6][3] = {
        {0, 0, 0}, {0, 0, 128}, {0, 0, 255}, {128, 0, 255}, {255, 0, 255}, {255, 255, 255},
    };
    // The range comes from a scroll bar of 1..100 dB; never divide by less.
    const double density = std::max(1.0, static_cast<double>(densityDb));
    const double u = (static_cast<double>(valueDb) + density) / density * 5.0;
    int k = 0;
    double f = 0.0;
    if (!(u >= 0.0)) {  // below the range (or not a number): black
        k = 0;
        f = 0.0;
    } else if (std::floor(u) >= 5.0) {
        k = 4;
        f = 0.999;
    } else {
        k = static_cast<int>(std::floor(u));
        f = u - k;
    }
    int rgb[3];
    for (int ch = 0; ch < 3; ++ch) {
        rgb[ch] = static_cast<int>(
            std::trunc(f * (kPalette[k + 1][ch] - kPalette[k][ch]) + kPalette[k][ch]));
    }
    return Rgb(rgb[0], rgb[1], rgb[2]);
}

RgbaImage BuildSpectrumBitmap(std::span<const SpectrumColumn> spectrumImage, float densityDb) {
    RgbaImage image(static_cast<int>(spectrumImage.size()), kSpectrumRows, kBlack);
    FillSpectrumBitmap(image, spectrumImage, densityDb, 0, image.width - 1);
    return image;
}

void FillSpectrumBitmap(RgbaImage& image, std::span<const SpectrumColumn> spectrumImage,
                        float densityDb, int first, int last) {
    const int end = std::min({last + 1, image.width, static_cast<int>(spectrumImage.size())});
    for (int i = std::max(0, first); i < end; ++i) {
        for (int r = 0; r < kSpectrumRows && r < image.height; ++r) {
            image.Set(i, r, SpectrumColour(spectrumImage[i][r], densityDb));
        }
    }
}

int CentsToPitchRow(double cents) {
    // Far outside the lane either way is drawn as just outside it.
    const double row = std::clamp(std::trunc(cents / 50.0 - 60.0), -1000.0, 1000.0);
    return 127 - static_cast<int>(row);
}

std::optional<CandidateDot> CandidateDotOf(const PitchCandidate& candidate, int rank,
                                           float minStrength) {
    if (!(candidate.Freq > 0.0f) || !(static_cast<double>(candidate.Strength) > minStrength))
        return std::nullopt;
    const int band =
        std::clamp(static_cast<int>(std::trunc(HzToCents(candidate.Freq) / 50.0 - 60.0)), 0, 127);
    return CandidateDot{127 - band, (15 - (3 * rank) / 2) * 16};
}

std::vector<CandidateRows> CandidateRowsOf(std::span<const CandidateSlots> candidates) {
    std::vector<CandidateRows> rows(candidates.size());
    for (std::size_t j = 0; j < candidates.size(); ++j) {
        for (int k = 0; k < CandidateCount; ++k) {
            // Any strength: the row alone, CandidateDotAt checks the strength.
            const auto dot = CandidateDotOf({candidates[j][k].Freq, 1.0f}, k, 0.0f);
            rows[j][k] = dot ? static_cast<std::uint8_t>(dot->row) : kNoCandidateRow;
        }
    }
    return rows;
}

PitchLaneInput PitchLaneOf(const EditorSession& session, int firstFrame, int visibleFrames,
                           Zoom zoom) {
    PitchLaneInput in;
    in.pitchCents = session.PitchCents;
    in.frames = session.Analyser->Frames;
    in.rejected = session.RejectedPitchFrames();
    in.candidates = session.Analyser->Candidates;
    in.minStrength = session.MinStrength;
    in.firstFrame = firstFrame;
    in.visibleFrames = visibleFrames;
    in.scale = zoom;
    return in;
}

RgbaImage BuildPitchBitmap(const PitchLaneInput& in) {
    if (in.scale.Overview()) return BuildPitchOverview(in);
    const int frames = static_cast<int>(in.pitchCents.size());
    if (frames == 0) return {};
    const int first = std::min(in.firstFrame, frames - 1);
    const int last = std::min(in.firstFrame + in.visibleFrames - 1, frames - 1);
    const int width = std::max(0, FrameToX(last, in.scale, in.firstFrame));
    RgbaImage image(width, kLanes.Pitch.Height, kBlack);

    // Grid: half a semitone below the notes 36, 48, 60, 72 and 84.
    for (int n = 1; n <= 10; ++n) {
        const int row = 164 - 24 * n;
        if (row >= 0 && row < image.height) image.FillRect(0, row, width, row + 1, kTeal);
    }

    // Candidates, brightest for the strongest.
    if (width > 0) {
        for (int j = std::max(first + 1, 0); j <= last; ++j) {
            if (j >= static_cast<int>(in.candidates.size())) break;
            const int x = std::clamp(FrameToX(j, in.scale, in.firstFrame), 0, width - 1);
            for (int k = 0; k < CandidateCount; ++k) {
                const auto dot = CandidateDotOf(in.candidates[j][k], k, in.minStrength);
                if (dot) image.Set(x, dot->row, Rgb(dot->level, dot->level, dot->level));
            }
        }
    }

    // The pitch track: green where both ends are voiced, red across gaps.
    auto voiced = [&](int j) {
        const bool rejected =
            j >= 0 && j < static_cast<int>(in.rejected.size()) && in.rejected[j] != 0;
        return j >= 0 && j < static_cast<int>(in.frames.size()) && in.frames[j].TargetF0 != 0.0f &&
               !rejected;
    };
    for (int j = first + 1; j <= last; ++j) {
        const int x0 = FrameToX(j - 1, in.scale, in.firstFrame);
        const int x1 = FrameToX(j, in.scale, in.firstFrame);
        const int y0 = CentsToPitchRow(in.pitchCents[j - 1]);
        const int y1 = CentsToPitchRow(in.pitchCents[j]);
        image.LineTo(x0, y0, x1, y1, voiced(j) && voiced(j - 1) ? kGreen : kRed);
    }
    return image;
}

std::vector<LyricBox> BuildLyricBoxes(const EditorSession& s) {
    std::vector<LyricBox> boxes;
    if (s.FrameCount() == 0) return boxes;
    const int lo = std::min(s.SelFirst, s.SelLast);
    const int hi = std::max(s.SelFirst, s.SelLast);
    for (int n = 0; n < static_cast<int>(s.Segments.size()); ++n) {
        const Segment& seg = s.Segments[n];
        const double endMs = seg.StartMs + seg.LengthMs;
        if (MsToNearestFrame(endMs) < s.FirstFrame) continue;
        if (MsToNearestFrame(seg.StartMs) >
            static_cast<std::int64_t>(s.FirstFrame) + s.VisibleFrames)
            continue;
        LyricBox box;
        box.segment = n;
        box.left = MsToX(seg.StartMs, s.View(), s.FirstFrame);
        box.right = MsToX(endMs, s.View(), s.FirstFrame);
        box.highlighted =
            (s.Mouse == MouseMode::SelectLyrics && n >= lo && n <= hi) || n == s.HoverSegment;
        const bool rest = IsRestLyric(seg.Lyric);
        box.fill = rest ? (box.highlighted ? kGrey : kWhite) : (box.highlighted ? kMagenta : kCyan);
        box.lyricUtf8 = seg.Lyric;
        boxes.push_back(std::move(box));
    }
    return boxes;
}

int LyricBitmapWidth(const EditorSession& s) {
    if (s.Segments.empty()) return 0;
    const Segment& lastSeg = s.Segments.back();
    const std::int64_t w = MsToX(lastSeg.StartMs + lastSeg.LengthMs, s.View(), s.FirstFrame);
    return static_cast<int>(std::clamp<std::int64_t>(w, 0, 1 << 24));
}

namespace {

// A GDI-style rectangle: border in `pen` on the outermost pixels of
// [left, right) × [top, bottom), inside filled with `fill`.
void DrawBox(RgbaImage& image, std::int64_t left, int top, std::int64_t right, int bottom,
             std::uint32_t pen, std::uint32_t fill) {
    if (right <= left || bottom <= top) return;
    const int l = static_cast<int>(std::clamp<std::int64_t>(left, -1, image.width + 1));
    const int r = static_cast<int>(std::clamp<std::int64_t>(right, -1, image.width + 1));
    image.FillRect(l, top, r, bottom, pen);
    image.FillRect(l + 1, top + 1, r - 1, bottom - 1, fill);
}

// Columns firstFrame..lastFrame of `source` stretched onto [left, right) × [top, top + height).
void StretchColumns(RgbaImage& surface, const RgbaImage& source, const VisibleRange& r, int scale,
                    int top) {
    for (int x = std::max(r.left, 0); x < std::min(r.right, surface.width); ++x) {
        const int column = r.firstFrame + (x - r.left) / scale;
        if (column < 0 || column >= source.width) continue;
        for (int y = 0; y < source.height; ++y) surface.Set(x, top + y, source.At(column, y));
    }
}

void Blit(RgbaImage& surface, const RgbaImage& source, int left, int top) {
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) surface.Set(left + x, top + y, source.At(x, y));
    }
}

}  // namespace

RgbaImage BuildLyricBitmap(const EditorSession& s) {
    RgbaImage image(s.FrameCount() > 0 ? LyricBitmapWidth(s) : 0, kLanes.Lyric.Height, kWhite);
    for (const LyricBox& box : BuildLyricBoxes(s)) {
        DrawBox(image, box.left, 0, box.right, kLanes.Lyric.Height, kBlack, box.fill);
    }
    return image;
}

void MixSelection(RgbaImage& surface, int x1, int y1, int x2, int y2) {
    for (int y = std::max(y1, 0); y < std::min(y2, surface.height); ++y) {
        for (int x = std::max(x1, 0); x < std::min(x2, surface.width); ++x) {
            const bool border = x == x1 || x == x2 - 1 || y == y1 || y == y2 - 1;
            const std::uint32_t mix = border ? Rgb(127, 127, 127) : Rgb(255, 127, 127);
            surface.pixels[static_cast<std::size_t>(y) * surface.width + x] |= mix;
        }
    }
}

RgbaImage ComposeSurface(const EditorSession& s, const LaneImages& lanes, int width, int height) {
    RgbaImage surface(width, height, kGrey);
    const Zoom zoom = s.View();
    const VisibleRange r = ComputeVisibleRange(s.FirstFrame, s.VisibleFrames, s.FrameCount(), zoom);
    DrawBox(surface, r.right, 0, width, height, kBlack, kSilver);
    if (r.right <= 0 || s.FrameCount() == 0) return surface;

    if (zoom.Overview()) {
        // Zoomed out the lanes come from the per-frame values: one column
        // summarises many frames, so a per-frame image cannot be stretched.
        if (lanes.volume != nullptr) {
            Blit(surface, *lanes.volume, 0, kLanes.Volume.Top);
        } else {
            Blit(surface, BuildVolumeOverview(s.FrameVolume, r, zoom), 0, kLanes.Volume.Top);
        }
    } else if (lanes.volume != nullptr) {
        StretchColumns(surface, *lanes.volume, r, zoom.pixels, kLanes.Volume.Top);
    }
    if (s.SelFirst >= 0 && s.SelLast >= 0 && s.SelFirst < static_cast<int>(s.Segments.size()) &&
        s.SelLast < static_cast<int>(s.Segments.size())) {
        const Segment& lo = s.Segments[std::min(s.SelFirst, s.SelLast)];
        const Segment& hi = s.Segments[std::max(s.SelFirst, s.SelLast)];
        const auto x1 = MsToX(lo.StartMs, zoom, s.FirstFrame);
        const auto x2 = MsToX(hi.StartMs + hi.LengthMs, zoom, s.FirstFrame) + 1;
        MixSelection(surface, static_cast<int>(std::clamp<std::int64_t>(x1, -1, width + 1)),
                     kLanes.Volume.Top,
                     static_cast<int>(std::clamp<std::int64_t>(x2, -1, width + 1)),
                     kLanes.Volume.Bottom());
    }
    if (zoom.Overview() && lanes.spectrum != nullptr) {
        Blit(surface, *lanes.spectrum, 0, kLanes.Spectrum.Top);
    } else if (zoom.Overview()) {
        Blit(surface, BuildSpectrumOverview(s.SpectrumImage, s.SpectrumDensity, r, zoom), 0,
             kLanes.Spectrum.Top);
    } else if (lanes.spectrum != nullptr) {
        StretchColumns(surface, *lanes.spectrum, r, zoom.pixels, kLanes.Spectrum.Top);
    }
    if (lanes.pitch != nullptr) Blit(surface, *lanes.pitch, 0, kLanes.Pitch.Top);
    if (lanes.lyric != nullptr) Blit(surface, *lanes.lyric, 0, kLanes.Lyric.Top);

    for (std::size_t k = 1; k < s.Segments.size(); ++k) {
        const auto x = MsToX(s.Segments[k].StartMs, zoom, s.FirstFrame);
        if (x < 0 || x >= width) continue;
        surface.FillRect(static_cast<int>(x), 0, static_cast<int>(x) + 1, kLanes.CutLinesBottom(),
                         kGrey);
    }
    return surface;
}

}  // namespace melodrift

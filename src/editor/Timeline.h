// The timeline's coordinate maps and the lane images that hold no text.
//
// The drawing surface shows the recording on one horizontal axis: `scale`
// pixels per analysis frame (1..8), scrolled so that frame `position`
// (the scroll bar's position, equal to FirstFrame) sits at x 0. One frame is
// 256 samples, one millisecond 44.1 samples; "div" below truncates toward
// zero, as C++ integer division does.
//
// Images are 32-bit pixels 0xAARRGGBB (alpha always 255), row by row from the
// top, the layout of a QImage in Format_ARGB32 / RGB32.
#pragma once

#include "audio/Frames.h"
#include "editor/Session.h"
#include "editor/Zoom.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace melodrift {

// ---- Colours ---------------------------------------------------------------

constexpr std::uint32_t Rgb(int red, int green, int blue) {
    return 0xFF000000u | (static_cast<std::uint32_t>(red & 0xFF) << 16) |
           (static_cast<std::uint32_t>(green & 0xFF) << 8) |
           static_cast<std::uint32_t>(blue & 0xFF);
}
inline constexpr std::uint32_t kBlack = Rgb(0, 0, 0);
inline constexpr std::uint32_t kWhite = Rgb(255, 255, 255);
inline constexpr std::uint32_t kSilver = Rgb(192, 192, 192);
inline constexpr std::uint32_t kGrey = Rgb(128, 128, 128);
inline constexpr std::uint32_t kYellow = Rgb(255, 255, 0);
inline constexpr std::uint32_t kTeal = Rgb(0, 128, 128);
inline constexpr std::uint32_t kGreen = Rgb(0, 255, 0);
inline constexpr std::uint32_t kRed = Rgb(255, 0, 0);
inline constexpr std::uint32_t kMagenta = Rgb(255, 0, 255);
inline constexpr std::uint32_t kCyan = Rgb(0, 255, 255);

struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  // width × height, row-major

    RgbaImage() = default;
    RgbaImage(int w, int h, std::uint32_t fill = kBlack);

    bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    // Clipped: pixels outside the image are ignored.
    void Set(int x, int y, std::uint32_t colour);
    void FillRect(int left, int top, int right, int bottom,
                  std::uint32_t colour);  // [left, right) × [top, bottom)
    // A line from (x0, y0) to (x1, y1), the end point itself not drawn (the
    // next segment of a polyline starts there).
    void LineTo(int x0, int y0, int x1, int y1, std::uint32_t colour);
};

// ---- Coordinate maps ---------------------------------------------------------

// Zooms in: ((x · 256) div scale + position · 256) / 44.1.
// Zooms out: column x starts at frame position + x · frames.
double XToMs(int x, Zoom zoom, int position);
// Zooms in: ((trunc(t · 44.1) · scale + 128) div 256) − scale · position, in
// 64 bits. Zooms out: floor((trunc(t · 44.1) − position · 256 + 128) /
// (256 · frames)), the column whose frames hold the time.
std::int64_t MsToX(double timeMs, Zoom zoom, int position);
// Zooms in: clamp((x + scale div 2) div scale + position, 0, frameCount − 1);
// zooms out: the column's first frame, clamped. 0 when there are no frames.
int XToFrame(int x, Zoom zoom, int position, int frameCount);
// Zooms in: (frame − position) · scale; zooms out: floor((frame − position) / frames).
int FrameToX(int frame, Zoom zoom, int position);
// (s + 128) div 256
std::int64_t SampleToFrame(std::int64_t sample);
// frame · 256
std::int64_t FrameToSample(std::int64_t frame);
// (trunc(t · 44.1) + 128) div 256
std::int64_t MsToNearestFrame(double timeMs);

// Frames that fit a surface `width` pixels wide: width div scale + 1 zoomed
// in, width · frames zoomed out.
int VisibleFramesFor(int width, Zoom zoom);

// The zoom control's steps: positions 1..8 are 1..8 pixels per frame,
// position p ≤ 0 is round(2^((2 − p) / 2)) frames per pixel (2, 3, 4, 6, 8,
// 11, 16, ...), a factor of about √2 a step.
inline constexpr int kZoomOutmostPosition = -26;  // 11,585 frames per pixel
Zoom ZoomAtPosition(int position);
// The position of the step at `zoom` or the nearest one zoomed out further.
int PositionOfZoom(Zoom zoom);
// The closest zoom (largest scale among 1..8, else fewest frames per pixel)
// that shows all `frameCount` frames on a surface `width` pixels wide.
Zoom ZoomToFit(int frameCount, int width);
// What one pixel column shows, for the zoom label: "×3" zoomed in,
// "1px = 12 ms" zoomed out (ms rounded; seconds from 10 s up, "1px = 1.2 s").
std::string ZoomCaption(Zoom zoom);

// The first frame of the view at scroll position `position`: zoomed out
// rounded down to a whole column (a multiple of the frames per pixel), so
// that a column always covers the same frames and columns drawn once can be
// kept; zoomed in the position itself. Zoomed out, the scroll range runs to
// LastViewStart, the first whole column whose page shows the last frame.
int ViewStartFrame(int position, Zoom zoom);
int LastViewStart(int frameCount, int visibleFrames, Zoom zoom);

// The frames on screen and where their columns go: frames firstFrame ..
// lastFrame, frame j's column block starting at left + (j − firstFrame) ·
// scale, the last one ending at `right` (exclusive).
struct VisibleRange {
    int firstFrame = 0;
    int lastFrame = -1;
    int left = 0;
    int right = 0;
};
VisibleRange ComputeVisibleRange(int firstFrame, int visibleFrames, int frameCount, Zoom zoom);

// ---- Lane images -------------------------------------------------------------

// frames × 48, black; in column i a yellow bar from row 47 − (48 · v) div
// 32000 (at least row 0) down to row 47.
RgbaImage BuildVolumeBitmap(std::span<const std::int32_t> frameVolume);

// The spectrum palette: a value of −density dB or less is black, 0 dB or
// more almost white, over black, navy, blue, violet, magenta, white.
std::uint32_t SpectrumColour(float valueDb, float densityDb);
// frames × 128, column i coloured from SpectrumImage[i] (row 0 at the top).
RgbaImage BuildSpectrumBitmap(std::span<const SpectrumColumn> spectrumImage, float densityDb);
// Columns first..last (clamped to the image) of a spectrum bitmap of
// spectrumImage.size() × 128 pixels, coloured as BuildSpectrumBitmap does,
// so that a long recording's visible columns can be drawn before the rest.
void FillSpectrumBitmap(RgbaImage& image, std::span<const SpectrumColumn> spectrumImage,
                        float densityDb, int first, int last);

// Row of the pitch lane (0 at the top, 128 rows) for a pitch in cents:
// 127 − trunc(cents / 50 − 60), two rows per semitone, note 30 at the bottom.
int CentsToPitchRow(double cents);

// A pitch candidate's dot in the pitch lane: its row (two per semitone,
// clamped to the lane) and its grey level by rank k (0 = strongest), or
// nothing for an empty slot or one weaker than `minStrength`.
struct CandidateDot {
    int row = 0;
    int level = 0;
};
std::optional<CandidateDot> CandidateDotOf(const PitchCandidate& candidate, int rank,
                                           float minStrength);
// The rows of every frame's candidate dots worked out once (a logarithm
// each), kNoCandidateRow for an empty slot; CandidateDotAt then gives the
// dot of a row as CandidateDotOf does.
inline constexpr std::uint8_t kNoCandidateRow = 255;
using CandidateRows = std::array<std::uint8_t, CandidateCount>;
std::vector<CandidateRows> CandidateRowsOf(std::span<const CandidateSlots> candidates);
inline std::optional<CandidateDot> CandidateDotAt(std::uint8_t row, float strength, int rank,
                                                  float minStrength) {
    if (row == kNoCandidateRow || !(static_cast<double>(strength) > minStrength))
        return std::nullopt;
    return CandidateDot{row, (15 - (3 * rank) / 2) * 16};
}

struct PitchLaneInput {
    std::span<const std::int32_t> pitchCents;    // per frame
    std::span<const AnalysisFrame> frames;       // TargetF0 tells voiced frames
    std::span<const CandidateSlots> candidates;  // per frame, strongest first
    float minStrength = 2.0f;
    int firstFrame = 0;
    int visibleFrames = 0;
    Zoom scale = 3;
    std::span<const std::uint8_t>
        rejected;  // per frame, 1: the voicing check treats it as unvoiced
    // Zoomed out: CandidateRowsOf(candidates), or empty to work them out per dot.
    std::span<const CandidateRows> candidateRows = {};
};
// FrameToX(last) × 128, black: teal grid lines, grey candidate dots and the
// pitch track, green between voiced frames and red elsewhere. Empty without
// frames.
RgbaImage BuildPitchBitmap(const PitchLaneInput& input);
// The session's pitch, candidates, voicing check and candidate threshold,
// over `visibleFrames` frames from `firstFrame` at `zoom`.
PitchLaneInput PitchLaneOf(const EditorSession& session, int firstFrame, int visibleFrames,
                           Zoom zoom);

// One box of the lyric lane: columns left..right − 1 and rows 0..15 of the
// lane, a black border around the fill; the window writes the lyric in black
// 10-point text at (left + 1, 1).
struct LyricBox {
    int segment = 0;
    std::int64_t left = 0;
    std::int64_t right = 0;
    std::uint32_t fill = kWhite;
    bool highlighted = false;
    std::string lyricUtf8;
};
// The boxes of the visible segments with their fill colours: a rest grey when
// highlighted and white otherwise, any other lyric magenta when highlighted
// and cyan otherwise. Highlighted: the hovered segment, and while selecting
// lyrics every segment between SelFirst and SelLast.
std::vector<LyricBox> BuildLyricBoxes(const EditorSession& session);
// Width of the lyric lane image: MsToX of the last segment's end, 0 without
// segments.
int LyricBitmapWidth(const EditorSession& session);
// The lyric lane without its texts: boxes with a black border and their fill.
RgbaImage BuildLyricBitmap(const EditorSession& session);

// The whole drawing surface without texts and cursor, from the lane images
// built above: the volume lane with the selection mix, the spectrum lane,
// the pitch lane, the lyric boxes, the cut lines, and silver with a black
// border right of the recording's last frame (all silver when nothing is
// loaded).
// Zoomed out, volume and spectrum are the view's own columns (OverviewCache)
// and are drawn from the frames when null.
struct LaneImages {
    const RgbaImage* volume = nullptr;    // BuildVolumeBitmap
    const RgbaImage* spectrum = nullptr;  // BuildSpectrumBitmap
    const RgbaImage* pitch = nullptr;     // BuildPitchBitmap for the current view
    const RgbaImage* lyric = nullptr;     // BuildLyricBitmap for the current view
};
RgbaImage ComposeSurface(const EditorSession& session, const LaneImages& lanes, int width,
                         int height);

// The selection mix of the volume lane: pixels inside the rectangle are ORed
// with RGB (255, 127, 127), its one-pixel border with RGB (127, 127, 127).
void MixSelection(RgbaImage& surface, int x1, int y1, int x2, int y2);

}  // namespace melodrift

#include "editor/Timeline.h"

#include "audio/PitchAnalyser.h"
#include "audio/WaveBuffer.h"
#include "editor/LaneLayout.h"
#include "editor/LoadingPicture.h"
#include "editor/Overview.h"
#include "editor/Session.h"
#include "text/CodePage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace melodrift {
namespace {

// A session with `frames` frames 256 samples apart and as many samples as
// that takes, without any analysis run.
void FakeRecording(EditorSession& s, int frames) {
    *s.Wave = MakeMono16Wave(static_cast<std::uint32_t>((frames - 1) * 256 + 1));
    s.Analyser->FrameCount = frames;
    s.Analyser->Frames.assign(frames, AnalysisFrame{});
    s.Analyser->Candidates.assign(frames, CandidateSlots{});
    s.Analyser->Confidence.assign(frames, 0.0f);
    for (int i = 0; i < frames; ++i) s.Analyser->Frames[i].SamplePos = i * 256;
    s.FrameVolume.assign(frames, 0);
    s.SpectrumImage.assign(frames, SpectrumColumn{});
    s.PitchCents.assign(frames, 0);
}

TEST(TimelineMaps, PixelsAndMillisecondsRoundTripWithinOnePixel) {
    EXPECT_EQ(XToMs(0, 3, 0), 0.0);
    // Scale 3 at position 4: x 18 is sample 18 · 256 / 3 + 4 · 256 = 2560.
    EXPECT_DOUBLE_EQ(XToMs(18, 3, 4), 2560 / 44.1);
    EXPECT_EQ(MsToX(2560 / 44.1, 3, 4), 18);
    for (int scale = 1; scale <= 8; ++scale) {
        for (int position : {0, 7, 1000}) {
            for (int x = -5; x < 700; x += 7) {
                EXPECT_LE(std::llabs(MsToX(XToMs(x, scale, position), scale, position) - x), 1)
                    << "scale " << scale << " position " << position << " x " << x;
            }
        }
    }
}

TEST(TimelineMaps, FramesAndColumns) {
    EXPECT_EQ(FrameToX(10, 3, 4), 18);
    EXPECT_EQ(XToFrame(18, 3, 4, 100), 10);
    EXPECT_EQ(XToFrame(17, 3, 4, 100), 10);  // (17 + 1) div 3 + 4
    EXPECT_EQ(XToFrame(19, 3, 4, 100), 10);
    EXPECT_EQ(XToFrame(16, 3, 4, 100), 9);
    EXPECT_EQ(XToFrame(20, 3, 4, 100), 11);
    EXPECT_EQ(XToFrame(-100, 3, 4, 100), 0);
    EXPECT_EQ(XToFrame(10000, 3, 4, 100), 99);
    EXPECT_EQ(XToFrame(50, 3, 0, 0), 0);
    EXPECT_EQ(SampleToFrame(127), 0);
    EXPECT_EQ(SampleToFrame(128), 1);
    EXPECT_EQ(FrameToSample(3), 768);
    EXPECT_EQ(MsToNearestFrame(1000.0), (44100 + 128) / 256);
}

TEST(TimelineMaps, VisibleFramesAtTheExtremeScales) {
    EXPECT_EQ(VisibleFramesFor(669, 1), 670);
    EXPECT_EQ(VisibleFramesFor(669, 8), 84);
    const VisibleRange r = ComputeVisibleRange(4, VisibleFramesFor(669, 3), 1000, 3);
    EXPECT_EQ(r.firstFrame, 4);
    EXPECT_EQ(r.lastFrame, 4 + 224 - 1);
    EXPECT_EQ(r.left, -1);
    EXPECT_EQ(r.right, -1 + 224 * 3);
    // Fewer frames than fit: the range stops at the last frame.
    const VisibleRange shortRange = ComputeVisibleRange(0, 670, 100, 1);
    EXPECT_EQ(shortRange.lastFrame, 99);
    EXPECT_EQ(shortRange.right, 100);
}

TEST(VolumeLane, BarsRiseFromTheBottomRowInYellow) {
    const std::vector<std::int32_t> volume = {0, 16000, 32000, 32767};
    const RgbaImage image = BuildVolumeBitmap(volume);
    ASSERT_EQ(image.width, 4);
    ASSERT_EQ(image.height, 48);
    EXPECT_EQ(image.At(0, 47), kYellow);  // silence draws one pixel
    EXPECT_EQ(image.At(0, 46), kBlack);
    EXPECT_EQ(image.At(1, 23), kYellow);  // 47 − 24
    EXPECT_EQ(image.At(1, 22), kBlack);
    EXPECT_EQ(image.At(2, 0), kYellow);  // 32000 fills the lane
    EXPECT_EQ(image.At(3, 0), kYellow);  // louder is cut at the top
}

TEST(SpectrumLane, PaletteRunsFromBlackToAlmostWhite) {
    EXPECT_EQ(SpectrumColour(-20.0f, 20.0f), kBlack);
    EXPECT_EQ(SpectrumColour(-35.0f, 20.0f), kBlack);
    EXPECT_EQ(SpectrumColour(0.0f, 20.0f), Rgb(255, 254, 255));
    EXPECT_EQ(SpectrumColour(12.0f, 20.0f), Rgb(255, 254, 255));
    // u = 2.5: halfway from blue (0, 0, 255) to violet (128, 0, 255).
    EXPECT_EQ(SpectrumColour(-10.0f, 20.0f), Rgb(64, 0, 255));
    // u = 1.25 with the default range 50: a quarter from navy to blue,
    // trunc(0.25 · 127 + 128) = 159.
    EXPECT_EQ(SpectrumColour(-37.5f, 50.0f), Rgb(0, 0, 159));
    std::vector<SpectrumColumn> image(2, SpectrumColumn{});
    image[1].fill(-100.0f);
    image[1][0] = 0.0f;
    const RgbaImage bitmap = BuildSpectrumBitmap(image, 20.0f);
    ASSERT_EQ(bitmap.width, 2);
    ASSERT_EQ(bitmap.height, 128);
    EXPECT_EQ(bitmap.At(1, 0), Rgb(255, 254, 255));
    EXPECT_EQ(bitmap.At(1, 1), kBlack);
    EXPECT_EQ(bitmap.At(0, 5), Rgb(255, 254, 255));
}

TEST(PitchLane, GridCandidatesAndTrackColours) {
    constexpr int kFrames = 10;
    std::vector<std::int32_t> cents(kFrames, 6900);
    std::vector<AnalysisFrame> frames(kFrames);
    for (auto& f : frames) f.TargetF0 = 440.0f;
    frames[5].TargetF0 = 0.0f;  // a filled gap: red on both sides
    std::vector<CandidateSlots> candidates(kFrames);
    candidates[2][0] = {330.0f, 5.0f};  // 6401.96 cents: row 127 − 68 = 59, brightest
    candidates[2][9] = {220.0f, 2.5f};  // row 127 − 54 = 73, darkest
    candidates[3][0] = {440.0f, 2.0f};  // not above MinStrength: no dot
    PitchLaneInput in{cents, frames, candidates, 2.0f, 0, 10, 3, {}};
    const RgbaImage image = BuildPitchBitmap(in);
    ASSERT_EQ(image.width, 27);  // FrameToX(9)
    ASSERT_EQ(image.height, 128);
    for (int row : {116, 92, 68, 44, 20}) EXPECT_EQ(image.At(26, row), kTeal) << row;
    EXPECT_EQ(image.At(26, 115), kBlack);
    EXPECT_EQ(image.At(6, 59), Rgb(240, 240, 240));
    EXPECT_EQ(image.At(6, 73), Rgb(32, 32, 32));
    EXPECT_EQ(image.At(9, 49), kGreen);  // track only: the dot was too weak
    EXPECT_EQ(CentsToPitchRow(6900), 49);
    EXPECT_EQ(image.At(3, 49), kGreen);   // frames 1 → 2, both voiced
    EXPECT_EQ(image.At(12, 49), kRed);    // frame 4 → 5 crosses the gap
    EXPECT_EQ(image.At(15, 49), kRed);    // frame 5 → 6
    EXPECT_EQ(image.At(18, 49), kGreen);  // frame 6 → 7
    EXPECT_TRUE(BuildPitchBitmap(PitchLaneInput{}).pixels.empty());

    // A frame the voicing check rejects is drawn as a gap too.
    const std::vector<std::uint8_t> rejected{0, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    in.rejected = rejected;
    const RgbaImage checked = BuildPitchBitmap(in);
    EXPECT_EQ(checked.At(18, 49), kGreen);  // frame 6 → 7
    EXPECT_EQ(checked.At(21, 49), kRed);    // frame 7 → 8
    EXPECT_EQ(checked.At(24, 49), kRed);    // frame 8 → 9
}

TEST(LyricLane, BoxColoursFollowRestsHoverAndSelection) {
    EditorSession s;
    FakeRecording(s, 400);
    s.Scale = 1;
    s.VisibleFrames = 670;
    s.Segments = {{0.0, 500.0, "R"}, {500.0, 500.0, "か"}, {1000.0, s.DurationMs() - 1000.0, "r"}};
    auto boxes = BuildLyricBoxes(s);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].fill, kWhite);
    EXPECT_EQ(boxes[1].fill, kCyan);
    EXPECT_EQ(boxes[1].lyricUtf8, "か");
    EXPECT_EQ(boxes[1].left, MsToX(500.0, 1, 0));
    EXPECT_EQ(boxes[2].fill, kWhite);
    s.HoverSegment = 1;
    EXPECT_EQ(BuildLyricBoxes(s)[1].fill, kMagenta);
    s.HoverSegment = -1;
    s.Mouse = MouseMode::SelectLyrics;
    s.SelFirst = 2;
    s.SelLast = 0;
    boxes = BuildLyricBoxes(s);
    EXPECT_EQ(boxes[0].fill, kGrey);
    EXPECT_EQ(boxes[1].fill, kMagenta);
    EXPECT_EQ(boxes[2].fill, kGrey);
    const RgbaImage lane = BuildLyricBitmap(s);
    EXPECT_EQ(lane.width, LyricBitmapWidth(s));
    const int left = static_cast<int>(boxes[1].left);
    EXPECT_EQ(lane.At(left, 5), kBlack);        // border
    EXPECT_EQ(lane.At(left + 3, 5), kMagenta);  // fill
    EXPECT_EQ(lane.At(left + 3, 0), kBlack);
}

TEST(Surface, ScrolledFrameFillsItsColumnsAndTheRestIsSilver) {
    EditorSession s;
    FakeRecording(s, 100);
    s.Scale = 3;
    s.FirstFrame = 4;
    s.VisibleFrames = VisibleFramesFor(669, 3);
    s.FrameVolume[10] = 32000;
    s.Segments = {{0.0, s.DurationMs(), "R"}};
    const RgbaImage volume = BuildVolumeBitmap(s.FrameVolume);
    const RgbaImage spectrum = BuildSpectrumBitmap(s.SpectrumImage, 50.0f);
    const RgbaImage surface = ComposeSurface(s, {&volume, &spectrum, nullptr, nullptr}, 669, 335);
    EXPECT_EQ(surface.At(16, 10), kBlack);
    EXPECT_EQ(surface.At(17, 10), kYellow);
    EXPECT_EQ(surface.At(19, 10), kYellow);
    EXPECT_EQ(surface.At(20, 10), kBlack);
    // Frames 4..99 end at column −1 + 96 · 3 = 287: silver beyond, black border.
    EXPECT_EQ(surface.At(286, 47), kYellow);
    EXPECT_EQ(surface.At(287, 100), kBlack);
    EXPECT_EQ(surface.At(288, 100), kSilver);
    EXPECT_EQ(surface.At(668, 200), kBlack);
    EXPECT_EQ(surface.At(500, 200), kSilver);

    EditorSession empty;
    const RgbaImage blank = ComposeSurface(empty, {}, 50, 40);
    EXPECT_EQ(blank.At(25, 20), kSilver);
}

TEST(Surface, SelectionIsMixedIntoTheVolumeLaneAndCutsAreGrey) {
    EditorSession s;
    FakeRecording(s, 400);
    s.Scale = 1;
    s.VisibleFrames = 670;
    s.Segments = {{0.0, 500.0, "R"}, {500.0, s.DurationMs() - 500.0, "R"}};
    s.SelFirst = s.SelLast = 0;
    const RgbaImage volume = BuildVolumeBitmap(s.FrameVolume);
    const RgbaImage surface = ComposeSurface(s, {&volume, nullptr, nullptr, nullptr}, 669, 335);
    const int cut = static_cast<int>(MsToX(500.0, 1, 0));
    EXPECT_EQ(surface.At(5, 20), Rgb(255, 127, 127));  // black ORed with the fill's complement
    EXPECT_EQ(surface.At(0, 20), Rgb(127, 127, 127));  // the border
    EXPECT_EQ(surface.At(5, 47), Rgb(255, 255, 127));  // the yellow bar ORed: R and G stay full
    EXPECT_EQ(surface.At(cut + 5, 20), kBlack);
    EXPECT_EQ(surface.At(cut, 100), kGrey);  // the cut line through the spectrum lane
    EXPECT_EQ(surface.At(cut, 309), kGrey);
}

TEST(TimelineMaps, ZoomsOutToTenMinutesAndClicksLandWithinTheirColumn) {
    // The zoom steps grow by about √2 from 2 frames per pixel, and a zoom
    // between two steps reads back as the step further out.
    EXPECT_EQ(ZoomAtPosition(3), Zoom(3));
    EXPECT_EQ(ZoomAtPosition(0), Zoom(1, 2));
    EXPECT_EQ(ZoomAtPosition(-1), Zoom(1, 3));
    for (int p = kZoomOutmostPosition; p < 8; ++p) {
        EXPECT_LT(VisibleFramesFor(669, ZoomAtPosition(p + 1)),
                  VisibleFramesFor(669, ZoomAtPosition(p)))
            << p;
        EXPECT_EQ(PositionOfZoom(ZoomAtPosition(p)), p);
    }
    EXPECT_EQ(PositionOfZoom(Zoom(1, 5)), -3);  // between 4 and 6 frames per pixel
    EXPECT_EQ(ZoomCaption(Zoom(3)), "×3");
    EXPECT_EQ(ZoomCaption(Zoom(1, 2)), "1px = 12 ms");  // 512 samples
    EXPECT_EQ(ZoomCaption(Zoom(1, 2000)), "1px = 11.6 s");

    // A take that fits keeps the closest scale; ten minutes at 44.1 kHz
    // (103,360 frames) fit 669 columns at 155 frames per pixel.
    EXPECT_EQ(ZoomToFit(345, 669), Zoom(1));
    EXPECT_EQ(ZoomToFit(100, 669), Zoom(6));
    const int tenMinutes = static_cast<int>(SampleToFrame(600LL * 44100)) + 1;
    const Zoom fit = ZoomToFit(tenMinutes, 669);
    EXPECT_EQ(fit, Zoom(1, 155));
    EXPECT_GE(VisibleFramesFor(669, fit), tenMinutes);
    const VisibleRange whole = ComputeVisibleRange(0, VisibleFramesFor(669, fit), tenMinutes, fit);
    EXPECT_EQ(whole.lastFrame, tenMinutes - 1);
    EXPECT_EQ(whole.left, 0);
    EXPECT_LE(whole.right, 669);
    EXPECT_EQ(FrameToX(tenMinutes - 1, fit, 0), whole.right - 1);

    // Zoomed out, column x starts at frame position + x · frames, and a time
    // maps to the column holding it, both ways.
    for (const Zoom zoom : {Zoom(1, 2), Zoom(1, 155)}) {
        for (int position : {0, 17}) {
            for (int x = 0; x < 700; x += 13) {
                EXPECT_EQ(MsToX(XToMs(x, zoom, position), zoom, position), x);
                EXPECT_EQ(XToFrame(x, zoom, position, 1 << 30), position + x * zoom.frames);
                EXPECT_EQ(FrameToX(position + x * zoom.frames + zoom.frames - 1, zoom, position),
                          x);
            }
        }
        EXPECT_EQ(FrameToX(0, zoom, 17),
                  -((17 + zoom.frames - 1) / zoom.frames));  // left of the view
    }
}

TEST(Surface, ZoomedOutColumnsShowLoudnessSpanSpectrumPeaksAndPitchRange) {
    EditorSession s;
    FakeRecording(s, 1000);
    s.SetZoom(Zoom(1, 4));
    s.VisibleFrames = VisibleFramesFor(669, s.View());
    s.Segments = {{0.0, 1000.0, "R"}, {1000.0, s.DurationMs() - 1000.0, "R"}};
    // Column 10 holds frames 40..43: loudness 8000..24000, band 5 peaks in frame 42.
    s.FrameVolume[40] = 8000;
    s.FrameVolume[41] = 24000;
    s.FrameVolume[42] = 16000;
    s.FrameVolume[43] = 12000;
    for (auto& column : s.SpectrumImage) column.fill(-100.0f);
    s.SpectrumImage[42][5] = 0.0f;
    const RgbaImage surface = ComposeSurface(s, {}, 669, 335);
    const int top = kLanes.Volume.Top;
    EXPECT_EQ(surface.At(10, top + 47 - 37), kBlack);   // above the loudest frame's bar
    EXPECT_EQ(surface.At(10, top + 47 - 36), kYellow);  // 24000 of 32000: from row 47 − 36
    EXPECT_EQ(surface.At(10, top + 47 - 12), kYellow);  // down to the quietest frame's top (row 35)
    EXPECT_EQ(surface.At(10, top + 47 - 11), kOlive);   // then its body
    EXPECT_EQ(surface.At(11, top + 46), kBlack);        // a silent column: the bottom row only
    EXPECT_EQ(surface.At(11, top + 47), kYellow);
    EXPECT_EQ(surface.At(10, kLanes.Spectrum.Top + 5), SpectrumColour(0.0f, s.SpectrumDensity));
    EXPECT_EQ(surface.At(10, kLanes.Spectrum.Top + 6), kBlack);
    EXPECT_EQ(surface.At(9, kLanes.Spectrum.Top + 5), kBlack);
    // The cut at exactly 1000 ms: sample 44100 is frame 172.27, column 43.
    EXPECT_EQ(surface.At(43, 100), kGrey);
    EXPECT_EQ(MsToX(1000.0, s.View(), 0), 43);
    // 1000 frames end at column 250: silver beyond.
    EXPECT_EQ(surface.At(249, 46), kBlack);
    EXPECT_EQ(surface.At(250, 100), kBlack);
    EXPECT_EQ(surface.At(251, 100), kSilver);

    // The pitch track over frames 40..47 from note 60 up to note 72 and back:
    // column 10 spans the rising rows in green (both ends voiced), column 11
    // the fall in red (frame 45 is unvoiced).
    for (int j = 0; j < 1000; ++j) {
        s.PitchCents[j] = 6000;
        s.Analyser->Frames[j].TargetF0 = 0.0f;
    }
    for (int j = 40; j < 48; ++j) s.Analyser->Frames[j].TargetF0 = 200.0f;
    s.Analyser->Frames[45].TargetF0 = 0.0f;
    s.PitchCents[42] = 7200;
    s.PitchCents[45] = 7200;
    PitchLaneInput in;
    in.pitchCents = s.PitchCents;
    in.frames = s.Analyser->Frames;
    in.candidates = s.Analyser->Candidates;
    in.visibleFrames = s.VisibleFrames;
    in.scale = s.View();
    const RgbaImage pitch = BuildPitchBitmap(in);
    EXPECT_EQ(pitch.width, 250);
    const int low = CentsToPitchRow(6000);
    const int high = CentsToPitchRow(7200);
    for (int y = high; y <= low; ++y) EXPECT_EQ(pitch.At(10, y), kGreen) << y;
    for (int y = high; y < low; ++y) EXPECT_EQ(pitch.At(11, y), kRed) << y;
    EXPECT_EQ(pitch.At(11, low), kGreen);  // frames 43..44 and 46..47 join voiced on that row
    EXPECT_EQ(pitch.At(10, high - 1), kBlack);
    EXPECT_EQ(pitch.At(12, low), kRed);  // unvoiced frames stay red on the note-60 row
}

// An FNV-1a hash of an image's pixels.
std::uint64_t Fingerprint(const RgbaImage& image) {
    std::uint64_t h = 1469598103934665603ULL;
    for (std::uint32_t p : image.pixels) h = (h ^ p) * 1099511628211ULL;
    return h ^ static_cast<std::uint64_t>(image.width);
}

// A take with every lane busy: a loudness ramp, a spectrum pattern, a wavy
// pitch with one candidate per frame (and a second with `twoCandidates`).
void BusyTake(EditorSession& s, int frames, bool twoCandidates) {
    FakeRecording(s, frames);
    for (int j = 0; j < frames; ++j) {
        s.FrameVolume[j] = (j * 97) % 33000;
        for (int r = 0; r < kSpectrumRows; ++r)
            s.SpectrumImage[j][r] = static_cast<float>(-((j * 7 + r * 13) % 60));
        s.PitchCents[j] = 5500 + (j * 37) % 1800;
        s.Analyser->Frames[j].TargetF0 = j % 11 == 0 ? 0.0f : 220.0f;
        s.Analyser->Candidates[j][0] = {static_cast<float>(150 + j % 200), 5.0f};
        if (twoCandidates) s.Analyser->Candidates[j][3] = {static_cast<float>(400 + j % 90), 3.0f};
    }
}

TEST(Surface, ScalesOneAndThreeDrawTheSamePixelsAsBeforeTheZoomOut) {
    // A busy take with a selection and three segments.
    EditorSession s;
    BusyTake(s, 900, true);
    s.Segments = {{0.0, 800.0, "R"}, {800.0, 1500.0, "a"}, {2300.0, s.DurationMs() - 2300.0, "R"}};
    s.SelFirst = s.SelLast = 1;
    s.HoverSegment = 2;
    const std::uint64_t expected[] = {0x94a587c2ecb59201ULL,
                                      0xe74ed632bde29b6bULL};  // as drawn before the zoom out
    const int scales[] = {1, 3};
    for (int k = 0; k < 2; ++k) {
        s.SetScale(scales[k]);
        s.FirstFrame = 40;
        s.VisibleFrames = VisibleFramesFor(669, scales[k]);
        PitchLaneInput in;
        in.pitchCents = s.PitchCents;
        in.frames = s.Analyser->Frames;
        in.candidates = s.Analyser->Candidates;
        in.firstFrame = s.FirstFrame;
        in.visibleFrames = s.VisibleFrames;
        in.scale = scales[k];
        const RgbaImage volume = BuildVolumeBitmap(s.FrameVolume);
        const RgbaImage spectrum = BuildSpectrumBitmap(s.SpectrumImage, 46.0f);
        const RgbaImage pitch = BuildPitchBitmap(in);
        const RgbaImage lyric = BuildLyricBitmap(s);
        const RgbaImage surface = ComposeSurface(s, {&volume, &spectrum, &pitch, &lyric}, 669, 335);
        EXPECT_EQ(Fingerprint(surface), expected[k]) << "scale " << scales[k];
    }
}

TEST(LoadingPicture, ColumnsShowOnceTheirFramesAreDoneAndEndAsTheWholeTakeDrawsThem) {
    EditorSession s;
    BusyTake(s, 1000, false);
    // "全体" at 669 pixels: two frames a column, 500 columns.
    s.SetZoom(ZoomToFit(1000, 669));
    ASSERT_EQ(s.View(), Zoom(1, 2));
    s.VisibleFrames = VisibleFramesFor(669, s.View());
    const RgbaImage whole = ComposeSurface(s, {}, 669, 335);
    const auto lanesEqual = [&whole](const RgbaImage& shown, const LaneGeometry& lane,
                                     int columns) {
        for (int y = lane.Top; y < lane.Bottom(); ++y) {
            for (int x = 0; x < columns; ++x) {
                if (shown.At(x, y) != whole.At(x, y)) return false;
            }
        }
        return true;
    };

    std::atomic<int> notices{0};
    LoadingPicture picture(
        669, s.MinStrength, [&notices] { ++notices; }, std::chrono::milliseconds(0));
    EXPECT_EQ(picture.Draw(669, 335, s.SpectrumDensity).At(10, 10), kSilver);
    picture.SetLoudness(s.FrameVolume);
    LoadingPicture::Shown shown;
    RgbaImage drawn = picture.Draw(669, 335, s.SpectrumDensity, &shown);
    EXPECT_TRUE(shown.loudness);
    EXPECT_EQ(shown.columns, 500);
    EXPECT_TRUE(lanesEqual(drawn, kLanes.Volume, 669));  // silver past column 500 too
    EXPECT_EQ(drawn.At(0, kLanes.Spectrum.Top), kBlack);
    EXPECT_EQ(notices, 1);

    // Frames 0..9 but 5: columns 0, 1, 3 and 4 are complete, column 2 not.
    for (int j = 0; j < 10; ++j) {
        if (j != 5) picture.FrameDone(j, s.SpectrumImage, s.Analyser->Candidates);
    }
    drawn = picture.Draw(669, 335, s.SpectrumDensity, &shown);
    EXPECT_EQ(shown.spectrumColumns, 4);
    EXPECT_TRUE(lanesEqual(drawn, kLanes.Spectrum, 2));
    for (int y = kLanes.Spectrum.Top; y < kLanes.Spectrum.Bottom(); ++y)
        ASSERT_EQ(drawn.At(2, y), kBlack) << y;
    EXPECT_EQ(drawn.At(3, kLanes.Spectrum.Top), whole.At(3, kLanes.Spectrum.Top));
    // The candidates of complete columns show before the pitch is traced.
    const auto dot = CandidateDotOf(s.Analyser->Candidates[0][0], 0, s.MinStrength);
    ASSERT_TRUE(dot.has_value());
    const std::uint32_t grey = Rgb(dot->level, dot->level, dot->level);
    EXPECT_EQ(drawn.At(0, kLanes.Pitch.Top + dot->row), grey);
    EXPECT_EQ(drawn.At(2, kLanes.Pitch.Top + dot->row), kBlack);
    EXPECT_EQ(notices, 5);

    // The rest on two workers, as the analysis splits them, while the
    // picture is drawn.
    picture.FrameDone(5, s.SpectrumImage, s.Analyser->Candidates);
    const auto work = [&](int first, int last) {
        for (int j = first; j < last; ++j)
            picture.FrameDone(j, s.SpectrumImage, s.Analyser->Candidates);
    };
    {
        std::jthread low(work, 10, 500);
        std::jthread high(work, 500, 1000);
        for (int k = 0; k < 20; ++k) (void)picture.Draw(669, 335, s.SpectrumDensity);
    }
    PitchLaneInput in = PitchLaneOf(s, 0, 0, Zoom(3));
    picture.SetPitch(in);
    drawn = picture.Draw(669, 335, s.SpectrumDensity, &shown);
    EXPECT_EQ(shown.spectrumColumns, 500);
    EXPECT_TRUE(shown.pitch);
    EXPECT_TRUE(lanesEqual(drawn, kLanes.Volume, 669));
    EXPECT_TRUE(lanesEqual(drawn, kLanes.Spectrum, 669));
    in.visibleFrames = s.VisibleFrames;
    in.scale = s.View();
    const RgbaImage pitch = BuildPitchBitmap(in);
    for (int x = 0; x < 500; ++x) {
        for (int y = 0; y < kLanes.Pitch.Height; ++y)
            ASSERT_EQ(drawn.At(x, kLanes.Pitch.Top + y), pitch.At(x, y)) << x << "," << y;
    }
    EXPECT_EQ(notices, 1 + 500 + 1);  // the loudness, every column at no interval, the pitch
}

}  // namespace
}  // namespace melodrift

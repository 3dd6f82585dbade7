// A loaded recording on the window: drawing, zoom, the mouse editing of cuts,
// lyrics and pitch, and Insert, driven by simulated mouse and keys.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include "AppTestSupport.h"
#include "editor/SurfaceMouse.h"
#include "LyricLane.h"
#include "Widgets.h"
#include "audio/PitchAnalyser.h"
#include "system/Files.h"
#include "text/CodePage.h"
#include "text/Text.h"

namespace melodrift::testing {
namespace {

// Aliases as the bank's Shift-JIS oto.ini and the plug-in file hold them.
const std::string kA = "\x82\xa0";   // あ
const std::string kKa = "\x82\xa9";  // か
const std::string kSa = "\x82\xb3";  // さ
const std::string kTa = "\x82\xbd";  // た

// The time under pixel column x at Scale 3 and scroll position 0:
// ((x · 256) div 3) / 44.1 ms.
double MsAtScale3(int x) { return double((x * 256) / 3) / 44.1; }

QString U(std::string_view utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

class LoadedWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        voice_ = MakeVoicebank(folder_.File("voice"), {kA, kKa, kSa, kTa});
        plugin_ = MakePluginFile(folder_.File("plugin.tmp"), voice_);
        wav_ = folder_.File("take.wav");
        WriteToneWav(wav_, seconds_, 220.0);
        t_ = std::make_unique<FormUnderTest>(plugin_);
        t_->prompts->files.push_back(wav_);
        QTest::mouseClick(t_->Find<QPushButton>("LoadRecordingButton"), Qt::LeftButton);
        ASSERT_TRUE(Session().HasRecording());
    }

    EditorSession& Session() { return t_->form->Session(); }
    DrawingSurface* Surface() { return t_->form->Surface(); }
    void Move(int x, int y) { QTest::mouseMove(Surface(), QPoint(x, y)); }
    void Click(Qt::MouseButton button, int x, int y) {
        Move(x, y);
        QTest::mouseClick(Surface(), button, {}, QPoint(x, y));
    }
    std::uint32_t Pixel(int x, int y) { return Surface()->Image().At(x, y) & 0xFFFFFFu; }

    TestFolder folder_;
    double seconds_ = 2.0;
    std::filesystem::path voice_, plugin_, wav_;
    std::unique_ptr<FormUnderTest> t_;
};

TEST_F(LoadedWindow, LoadingShowsOneRestSegmentAndTheFileName) {
    ASSERT_EQ(Session().Segments.size(), 1u);
    EXPECT_EQ(Session().Segments[0].Lyric, "R");
    EXPECT_DOUBLE_EQ(Session().Segments[0].LengthMs, double(Session().SampleCount()) / 44.1);
    EXPECT_EQ(t_->form->windowTitle(), QStringLiteral("take.wav"));
    // The surface holds the lanes: not the silver of an empty window.
    EXPECT_NE(Pixel(100, 20), 0xC0C0C0u);
    EXPECT_EQ(t_->Find<QScrollBar>("TimeScrollBar")->value(), 0);
}

TEST_F(LoadedWindow, ZoomSetsTheFramesThatFitTheSurface) {
    auto* upDown = t_->Find<ArrowStepper>("ZoomArrows");
    QTest::mouseClick(upDown->DownButton(), Qt::LeftButton);
    QTest::mouseClick(upDown->DownButton(), Qt::LeftButton);
    EXPECT_EQ(Session().Scale, 1);
    EXPECT_EQ(Session().VisibleFrames, 670);                  // 669 pixels at 1 pixel per frame
    QTest::mouseClick(upDown->DownButton(), Qt::LeftButton);  // on below: 2 frames per pixel
    EXPECT_EQ(Session().View(), Zoom(1, 2));
    EXPECT_EQ(Session().VisibleFrames, 669 * 2);
    upDown->SetPosition(8);
    EXPECT_EQ(Session().Scale, 8);
    EXPECT_EQ(Session().VisibleFrames, 84);
    // Scrolling to the end shows the last frame within the surface.
    auto* bar = t_->Find<QScrollBar>("TimeScrollBar");
    bar->setValue(bar->maximum());
    EXPECT_EQ(Session().FirstFrame, bar->maximum());
    EXPECT_EQ(Session().FirstFrame + Session().VisibleFrames - 1, Session().FrameCount() - 1);
}

TEST_F(LoadedWindow, TheCursorLineIsInvertedAndRemovedByDrawingItAgain) {
    Move(400, 100);  // draws the cursor at 400
    const std::uint32_t at100 = Pixel(100, 60);
    const std::uint32_t below = Pixel(100, 320);
    Move(100, 100);
    EXPECT_EQ(Pixel(100, 60), at100 ^ 0xFFFFFFu);
    EXPECT_EQ(Pixel(100, 320), below);  // the line stops above the lyric lane
    Move(130, 100);
    EXPECT_EQ(Pixel(100, 60), at100);
}

TEST_F(LoadedWindow, ThePitchLineFollowsThePointerInvertedUntilRelease) {
    Move(30, 200);
    const std::uint32_t onFlat = Pixel(60, 200);
    const std::uint32_t onSlope = Pixel(60, 215);
    QTest::mousePress(Surface(), Qt::LeftButton, {}, QPoint(30, 200));
    EXPECT_EQ(Session().Mouse, MouseMode::DrawPitch);
    Move(90, 200);
    EXPECT_EQ(Pixel(60, 200), onFlat ^ 0xFFFFFFu);
    EXPECT_EQ(Pixel(60, 215), onSlope);
    Move(90, 230);  // the flat line is erased, the sloping one drawn
    EXPECT_EQ(Pixel(60, 200), onFlat);
    EXPECT_EQ(Pixel(60, 215), onSlope ^ 0xFFFFFFu);
    QTest::mouseRelease(Surface(), Qt::LeftButton, {}, QPoint(90, 230));
    EXPECT_EQ(Session().Mouse, MouseMode::Idle);
    EXPECT_EQ(Session().LineStart, (PixelPoint{30, 200}));
    EXPECT_EQ(Session().LineEnd, (PixelPoint{90, 230}));
    EXPECT_TRUE(Session().Modified);
}

TEST_F(LoadedWindow, TheSpectrumRangeChangesOnlyWhenTheThumbIsReleased) {
    auto* bar = t_->Find<QScrollBar>("SpectrumRangeBar");
    const std::uint32_t before = Pixel(60, 150);
    bar->setSliderDown(true);
    bar->setValue(5);
    EXPECT_FLOAT_EQ(Session().SpectrumDensity, 50.0f);
    EXPECT_EQ(Pixel(60, 150), before);
    bar->setSliderDown(false);  // release
    EXPECT_FLOAT_EQ(Session().SpectrumDensity, 5.0f);
}

TEST_F(LoadedWindow, HelpTextsAndPointersFollowTheAreas) {
    Click(Qt::LeftButton, 300, 100);  // one cut near x 300
    ASSERT_EQ(Session().Segments.size(), 2u);
    const struct {
        int x, y;
        std::string_view text;
        Qt::CursorShape shape;
    } cases[] = {
        {300, 250, kHelpPitchLane, Qt::PointingHandCursor},
        {301, 100, kHelpCut, Qt::SizeHorCursor},
        {301, 20, kHelpCut, Qt::SizeHorCursor},
        {450, 20, kHelpVolumeLane, Qt::CrossCursor},
        {450, 320, kHelpLyricLane, Qt::IBeamCursor},
        {450, 310, kHelpLyricLane,
         Qt::IBeamCursor},  // the cut area's last row, but over a segment's box
        {450, 309, kHelpCutArea, Qt::ArrowCursor},
        {450, 100, kHelpCutArea, Qt::ArrowCursor},
    };
    for (const auto& c : cases) {
        Move(c.x, c.y);
        EXPECT_EQ(t_->form->StatusText(), U(c.text)) << c.x << "," << c.y;
        EXPECT_EQ(Surface()->cursor().shape(), c.shape) << c.x << "," << c.y;
    }
}

TEST_F(LoadedWindow, CutsKeepTheirGapAndARightDoubleClickRemovesOne) {
    Click(Qt::LeftButton, 150, 100);
    ASSERT_EQ(Session().Segments.size(), 2u);
    EXPECT_DOUBLE_EQ(Session().Segments[1].StartMs, MsAtScale3(150));
    EXPECT_TRUE(Session().Modified);
    Session().Segments[1].Lyric = Cp932ToUtf8(kKa);
    Click(Qt::LeftButton, 160, 100);  // 19 ms after the cut: too close
    Click(Qt::LeftButton, 165, 100);  // 29 ms
    ASSERT_EQ(Session().Segments.size(), 2u);
    Click(Qt::LeftButton, 166, 100);  // 31 ms: a new rest, the segment before keeps its lyric
    ASSERT_EQ(Session().Segments.size(), 3u);
    EXPECT_DOUBLE_EQ(Session().Segments[2].StartMs, MsAtScale3(166));
    EXPECT_EQ(Session().Segments[1].Lyric, Cp932ToUtf8(kKa));
    EXPECT_EQ(Session().Segments[2].Lyric, "R");
    Click(Qt::LeftButton, 300, 100);
    ASSERT_EQ(Session().Segments.size(), 4u);
    // A single right click does nothing; a double click inside segment 3 removes its cut.
    Click(Qt::RightButton, 400, 100);
    EXPECT_EQ(Session().Segments.size(), 4u);
    Move(400, 100);
    QTest::mouseDClick(Surface(), Qt::RightButton, {}, QPoint(400, 100));
    ASSERT_EQ(Session().Segments.size(), 3u);
    EXPECT_DOUBLE_EQ(Session().Segments[2].StartMs + Session().Segments[2].LengthMs,
                     Session().DurationMs());
    // Inside the first segment it removes nothing.
    Move(50, 100);
    QTest::mouseDClick(Surface(), Qt::RightButton, {}, QPoint(50, 100));
    EXPECT_EQ(Session().Segments.size(), 3u);
    // Exactly on a cut it removes that cut, and its menu does not open.
    Click(Qt::LeftButton, 300, 100);
    ASSERT_EQ(Session().Segments.size(), 4u);
    Move(290, 100);
    Move(300, 100);
    ASSERT_EQ(Session().HoverCut, 3);
    QTest::mouseDClick(Surface(), Qt::RightButton, {}, QPoint(300, 100));
    EXPECT_EQ(Session().Segments.size(), 3u);
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    EXPECT_FALSE(t_->form->CutMenu()->isVisible());
    // Pressing on a cut drags it: it jumps to the pointer, but stays 30 ms
    // before the next cut.
    Click(Qt::LeftButton, 151, 100);
    EXPECT_EQ(Session().Segments.size(), 3u);
    EXPECT_DOUBLE_EQ(Session().Segments[1].StartMs, MsAtScale3(166) - 30.0);
}

TEST_F(LoadedWindow, AWholeSessionByMouseAndKeysEndsInTheInsertedNotes) {
    // Three cuts in the spectrum lane.
    for (int x : {150, 300, 450}) Click(Qt::LeftButton, x, 100);
    ASSERT_EQ(Session().Segments.size(), 4u);

    // A lyric run: right-drag in the lyric lane over segments 1..3, type, Enter.
    Move(200, 320);
    QTest::mousePress(Surface(), Qt::RightButton, {}, QPoint(200, 320));
    Move(500, 320);
    QTest::mouseRelease(Surface(), Qt::RightButton, {}, QPoint(500, 320));
    auto* lyrics = t_->Find<QLineEdit>("LyricsEdit");
    ASSERT_TRUE(lyrics->isVisible());
    EXPECT_EQ(lyrics->text(), QStringLiteral("RRR"));
    EXPECT_EQ(lyrics->geometry().top(), 309);
    QInputMethodEvent typed;
    typed.setCommitString(U("かさった"));  // the small つ becomes a rest
    QApplication::sendEvent(lyrics, &typed);
    // Switching to another program does not end the edit.
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(lyrics, &away);
    EXPECT_TRUE(lyrics->isVisible());
    EXPECT_EQ(Session().Mouse, MouseMode::EditLyrics);
    QTest::keyClick(lyrics, Qt::Key_Return);
    EXPECT_FALSE(lyrics->isVisible());
    EXPECT_EQ(Session().Mouse, MouseMode::Idle);
    EXPECT_EQ(Session().Segments[1].Lyric, Cp932ToUtf8(kKa));
    EXPECT_EQ(Session().Segments[2].Lyric, Cp932ToUtf8(kSa));
    EXPECT_EQ(Session().Segments[3].Lyric, "R");

    // One lyric: left click on segment 3's box, type, commit by pressing on the surface.
    Click(Qt::LeftButton, 500, 320);
    auto* lyric = t_->Find<QLineEdit>("LyricEdit");
    ASSERT_TRUE(lyric->isVisible());
    QInputMethodEvent single;
    single.setCommitString(U("た"));
    QApplication::sendEvent(lyric, &single);
    QTest::mousePress(Surface(), Qt::LeftButton, {}, QPoint(600, 100));
    QTest::mouseRelease(Surface(), Qt::LeftButton, {}, QPoint(600, 100));
    EXPECT_FALSE(lyric->isVisible());
    EXPECT_EQ(Session().Segments[3].Lyric, Cp932ToUtf8(kTa));
    EXPECT_EQ(Session().Segments.size(), 4u);  // that press only ended the edit

    // Drag cut 2 from x 300 to x 380.
    const int cutX = int(MsToX(Session().Segments[2].StartMs, 3, 0));
    Move(cutX, 100);
    EXPECT_EQ(Session().HoverCut, 2);
    QTest::mousePress(Surface(), Qt::LeftButton, {}, QPoint(cutX, 100));
    Move(380, 100);
    QTest::mouseRelease(Surface(), Qt::LeftButton, {}, QPoint(380, 100));
    EXPECT_DOUBLE_EQ(Session().Segments[2].StartMs, MsAtScale3(380));
    EXPECT_EQ(Session().Mouse, MouseMode::Idle);

    // A pitch line far above the tone (y 200: 8400 cents) leaves the frames
    // under it without a candidate, hence unvoiced; frames elsewhere keep 220 Hz.
    Move(30, 200);
    QTest::mousePress(Surface(), Qt::LeftButton, {}, QPoint(30, 200));
    Move(90, 200);
    QTest::mouseRelease(Surface(), Qt::LeftButton, {}, QPoint(90, 200));
    const auto& frames = Session().Analyser->Frames;
    EXPECT_EQ(frames[std::size_t(XToFrame(60, 3, 0, Session().FrameCount()))].TargetF0, 0.0f);
    EXPECT_NEAR(frames[std::size_t(XToFrame(500, 3, 0, Session().FrameCount()))].TargetF0, 220.0f,
                5.0f);

    // Insert: decline saving the edit state; the window closes.
    QTest::mouseClick(t_->Find<QPushButton>("InsertButton"), Qt::LeftButton);
    EXPECT_FALSE(t_->form->isVisible());
    ASSERT_FALSE(t_->log->messages.empty());
    EXPECT_EQ(t_->log->messages.back(), "ask: 編集状態を保存しますか?");

    const std::vector<std::string> lines = SplitLines(ReadBytes(plugin_));
    std::vector<std::string> lyricsWritten;
    std::vector<double> lengths;
    std::vector<int> keys;
    for (const std::string& line : lines) {
        if (line.rfind("Lyric=", 0) == 0) lyricsWritten.push_back(line.substr(6));
        if (line.rfind("Length=", 0) == 0) lengths.push_back(ParseDouble(line.substr(7)));
        if (line.rfind("NoteNum=", 0) == 0) keys.push_back(ParseInt32(line.substr(8)));
    }
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[#INSERT]"), 4);
    EXPECT_EQ(lyricsWritten, (std::vector<std::string>{"R", kKa, kSa, kTa}));
    // Lengths in ticks at tempo 120: ms × 120 / 125.
    const double cuts[] = {0.0, MsAtScale3(150), MsAtScale3(380), MsAtScale3(450), 2000.0};
    ASSERT_EQ(lengths.size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(lengths[std::size_t(i)], (cuts[i + 1] - cuts[i]) * 0.96, 1.0) << i;
    // The tone is A3 (220 Hz, note 57).
    ASSERT_EQ(keys.size(), 4u);
    for (int key : keys) EXPECT_EQ(key, 57);
}

TEST_F(LoadedWindow, InsertInVoiceCorrectionModeMakesTheRecordingAVoiceSource) {
    QTest::mouseClick(t_->Find<QToolButton>("CorrectionModeButton"), Qt::LeftButton);
    ASSERT_TRUE(Session().CorrectionMode);
    Click(Qt::LeftButton, 300, 100);
    Session().Segments[1].Lyric = Cp932ToUtf8(kKa);
    QTest::mouseClick(t_->Find<QPushButton>("InsertButton"), Qt::LeftButton);
    EXPECT_FALSE(t_->form->isVisible());
    // The recording's folder gains its frequency table and oto.ini entries.
    EXPECT_TRUE(std::filesystem::exists(folder_.File("take_wav.frq")));
    const std::string oto = ReadBytes(folder_.File("oto.ini"));
    EXPECT_NE(oto.find("take.wav="), std::string::npos);
    const std::string written = ReadBytes(plugin_);
    EXPECT_NE(written.find("Intensity=80"), std::string::npos);
    EXPECT_NE(written.find("Flags=P0"), std::string::npos);
    // The project's voicebank is another folder: the user is told to switch.
    ASSERT_FALSE(t_->log->messages.empty());
    EXPECT_EQ(t_->log->messages.back(),
              "inform: 音源を作成しました。原音ファイルセットを切り替えてください。");
}

TEST_F(LoadedWindow, AFailedInsertShowsTheErrorAndKeepsTheWindowOpen) {
    Click(Qt::LeftButton, 150, 100);
    // The plug-in file's place is taken by a folder: the write must fail.
    std::filesystem::remove(plugin_);
    std::filesystem::create_directories(plugin_ / "blocker");
    QTest::mouseClick(t_->Find<QPushButton>("InsertButton"), Qt::LeftButton);
    EXPECT_TRUE(t_->form->isVisible());
    ASSERT_FALSE(t_->log->messages.empty());
    EXPECT_EQ(t_->log->messages.back().rfind("error: ", 0), 0u) << t_->log->messages.back();
    EXPECT_EQ(Session().Segments.size(), 2u);
    EXPECT_TRUE(std::filesystem::is_directory(plugin_));
}

TEST_F(LoadedWindow, TheVisibleLyricLaneIsTheFullLaneCutAtTheSurfaceEdge) {
    for (int x : {150, 300, 450, 600}) Click(Qt::LeftButton, x, 100);
    Session().Segments[2].Lyric = Cp932ToUtf8(kKa);
    Session().HoverSegment = 3;
    for (int position : {0, 40}) {
        Session().FirstFrame = position;
        const RgbaImage full = BuildLyricBitmap(Session());
        const RgbaImage visible = VisibleLyricBitmap(Session(), 669);
        ASSERT_EQ(visible.height, full.height);
        ASSERT_EQ(visible.width, std::min(full.width, 669));
        for (int y = 0; y < visible.height; ++y) {
            for (int x = 0; x < visible.width; ++x)
                ASSERT_EQ(visible.At(x, y), full.At(x, y)) << x << "," << y;
        }
    }
}

TEST_F(LoadedWindow, TheEditStateIsSavedAndLoadedThroughTheButtons) {
    for (int x : {150, 300}) Click(Qt::LeftButton, x, 100);
    Session().Segments[1].Lyric = Cp932ToUtf8(kKa);
    const auto saved = folder_.File("take.mlq");
    t_->prompts->files.push_back(saved);
    QTest::mouseClick(t_->Find<QPushButton>("SaveEditStateButton"), Qt::LeftButton);
    ASSERT_TRUE(std::filesystem::exists(saved));
    EXPECT_FALSE(Session().Modified);

    Click(Qt::LeftButton, 450, 100);
    ASSERT_EQ(Session().Segments.size(), 4u);
    t_->prompts->answers.push_back(true);  // discard the current state
    t_->prompts->files.push_back(saved);
    QTest::mouseClick(t_->Find<QPushButton>("LoadEditStateButton"), Qt::LeftButton);
    ASSERT_EQ(Session().Segments.size(), 3u);
    EXPECT_EQ(Session().Segments[1].Lyric, Cp932ToUtf8(kKa));
    EXPECT_NEAR(Session().Segments[2].StartMs, MsAtScale3(300), 1e-9);
    EXPECT_FALSE(Session().Modified);
    EXPECT_EQ(t_->form->windowTitle(), QStringLiteral("take.wav"));
    // The cut added after saving was an unsaved edit: the question says so.
    EXPECT_EQ(t_->log->messages.back(),
              "ask: 編集内容が保存されていません。破棄してよろしいですか？");
    // Without edits since the load, loading again asks the usual question.
    t_->prompts->answers.push_back(true);
    t_->prompts->files.push_back(saved);
    QTest::mouseClick(t_->Find<QPushButton>("LoadEditStateButton"), Qt::LeftButton);
    EXPECT_EQ(t_->log->messages.back(), "ask: 現在の編集状態を破棄してもよろしいですか?");
    EXPECT_EQ(Session().Segments.size(), 3u);
}

TEST_F(LoadedWindow, APreviewDragEndsIdleWithTheSelectionCleared) {
    Click(Qt::LeftButton, 150, 100);
    Move(100, 20);
    QTest::mousePress(Surface(), Qt::LeftButton, {}, QPoint(100, 20));
    EXPECT_EQ(Session().Mouse, MouseMode::Preview);
    Move(400, 20);
    EXPECT_EQ(Session().SelFirst, 0);
    EXPECT_EQ(Session().SelLast, 1);
    QTest::mouseRelease(Surface(), Qt::LeftButton, {}, QPoint(400, 20));
    EXPECT_EQ(Session().Mouse, MouseMode::Idle);
    EXPECT_EQ(Session().SelFirst, -1);
    EXPECT_EQ(Session().SelLast, -1);
    // The resynthesised preview (right button) takes the same way.
    Move(100, 20);
    QTest::mousePress(Surface(), Qt::RightButton, {}, QPoint(100, 20));
    QTest::mouseRelease(Surface(), Qt::RightButton, {}, QPoint(100, 20));
    EXPECT_EQ(Session().Mouse, MouseMode::Idle);
    EXPECT_TRUE(t_->log->messages.empty() || t_->log->messages.back().rfind("error", 0) != 0);
}

TEST_F(LoadedWindow, AWiderWindowShowsMoreFrames) {
    t_->form->resize(1000, t_->form->height());
    EXPECT_EQ(Surface()->width(), 1000 - 59);
    EXPECT_EQ(Session().VisibleFrames, (1000 - 59) / 3 + 1);
    EXPECT_EQ(Surface()->Image().width, 1000 - 59);
    EXPECT_LE(t_->form->maximumHeight(), 520);
}

class LongRecording : public LoadedWindow {
  protected:
    void SetUp() override {
        voice_ = MakeVoicebank(folder_.File("voice"), {kA});
        plugin_ = MakePluginFile(folder_.File("plugin.tmp"), voice_);
        t_ = std::make_unique<FormUnderTest>(plugin_);
    }
};

TEST_F(LongRecording, DecliningTheLongAnalysisQuestionChangesNothing) {
    const auto longWav = folder_.File("long.wav");
    WriteToneWav(longWav, 10.05, 220.0);
    t_->prompts->files.push_back(longWav);
    QTest::mouseClick(t_->Find<QPushButton>("LoadRecordingButton"), Qt::LeftButton);
    // The question was asked from the loading thread and answered here.
    ASSERT_FALSE(t_->log->messages.empty());
    EXPECT_EQ(t_->log->messages.back(), "ask: 音声が長いため分析に長時間かかります。続けますか？");
    EXPECT_FALSE(Session().HasRecording());
    EXPECT_EQ(t_->form->windowTitle(), QStringLiteral("メロドリフト ver2.42"));
    // A file in another format is refused with its message.
    const auto odd = folder_.File("odd.wav");
    WriteFileAtomically(odd, "RIFF\x04\0\0\0WAVE");
    t_->prompts->files.push_back(odd);
    QTest::mouseClick(t_->Find<QPushButton>("LoadRecordingButton"), Qt::LeftButton);
    EXPECT_EQ(t_->log->messages.back(),
              "error: 録音ファイルを読み込めません。\nファイルが途中で切れています（5 "
              "バイトで終わっていますが、ヘッダーによれば少なくとも 12 バイトあるはずです）。");
    EXPECT_FALSE(Session().HasRecording());
}

TEST_F(LongRecording, TheSpectrumLaneIsFullyColouredWhereverItIsScrolledTo) {
    // 30 s: more spectrum columns than the window colours at once.
    const auto longWav = folder_.File("long.wav");
    WriteToneWav(longWav, 30.0, 220.0);
    t_->prompts->answers.push_back(true);  // analyse the long recording
    t_->prompts->files.push_back(longWav);
    QTest::mouseClick(t_->Find<QPushButton>("LoadRecordingButton"), Qt::LeftButton);
    ASSERT_TRUE(Session().HasRecording());
    ASSERT_GT(Session().FrameCount(), 5000);
    // Straight to the end, before the background colouring got there.
    auto* bar = t_->Find<QScrollBar>("TimeScrollBar");
    for (int position : {bar->maximum(), bar->maximum() / 2, 0}) {
        bar->setValue(position);
        const int first = Session().FirstFrame;
        ASSERT_EQ(first, position);
        // Every row of a column in view shows the image's colour for that
        // frame (x = 60 lies in frame first + 20 at scale 3).
        const int frame = first + 20;
        for (int row = 0; row < kSpectrumRows; row += 9) {
            const std::uint32_t expected =
                SpectrumColour(Session().SpectrumImage[std::size_t(frame)][std::size_t(row)],
                               Session().SpectrumDensity);
            ASSERT_EQ(Surface()->Image().At(60, kLanes.Spectrum.Top + row), expected)
                << "scroll " << position << " row " << row;
        }
    }
}

class ShortRecording : public LoadedWindow {
  protected:
    ShortRecording() { seconds_ = 0.5; }
};

TEST_F(ShortRecording, ColumnsRightOfTheLastFrameStaySilver) {
    const int lastX = FrameToX(Session().FrameCount() - 1, 3, 0);
    EXPECT_EQ(Pixel(lastX + 10, 100), 0xC0C0C0u);
    EXPECT_EQ(Pixel(660, 250), 0xC0C0C0u);
    EXPECT_NE(Pixel(lastX / 2, 100), 0xC0C0C0u);
}

}  // namespace
}  // namespace melodrift::testing

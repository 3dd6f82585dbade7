// The window through a real session: questions asked before a load and never
// under its progress dialog, cancelling a load, undo and redo, the question
// before unsaved edits are lost, readable lyrics and help, keys and wheel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include <QAction>
#include <QCursor>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWheelEvent>

#include "AppTestSupport.h"
#include "LyricLane.h"
#include "Playback.h"
#include "QtPrompts.h"
#include "Widgets.h"
#include "audio/PitchAnalyser.h"
#include "audio/WaveBuffer.h"
#include "editor/LaneLayout.h"
#include "editor/SurfaceMouse.h"
#include "system/Files.h"

namespace melodrift::testing {
namespace {

QString U(std::string_view utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

const std::string kUnsavedAsk = "ask: 編集内容が保存されていません。破棄してよろしいですか？";

// A progress dialog that a user can see at this moment.
bool ProgressDialogShowing() {
    for (QWidget* widget : QApplication::allWidgets()) {
        if (qobject_cast<QProgressDialog*>(widget) != nullptr && widget->isVisible()) return true;
    }
    return false;
}

// What the window looked like at each prompt: on its own thread, with no
// progress dialog over it.
struct PromptWatch {
    std::vector<std::string> seen;
    std::vector<std::string>
        hidden;  // prompts a progress dialog covered or asked off the window thread
    void Attach(ScriptedPrompts& prompts) {
        prompts.onPrompt = [this](const std::string& line) {
            seen.push_back(line);
            const bool windowThread =
                QThread::currentThread() == QApplication::instance()->thread();
            if (!windowThread || ProgressDialogShowing()) hidden.push_back(line);
        };
    }
};

class WindowSession : public ::testing::Test {
  protected:
    void SetUp() override {
        voice_ = MakeVoicebank(folder_.File("voice"), {"\x82\xa0"});
        plugin_ = MakePluginFile(folder_.File("plugin.tmp"), voice_);
        wav_ = folder_.File("take.wav");
        WriteToneWav(wav_, 2.0, 220.0);
        t_ = std::make_unique<FormUnderTest>(plugin_);
        t_->form->activateWindow();
        (void)QTest::qWaitForWindowActive(t_->form.get());
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
    // A key pressed while the window is the active one (the offscreen
    // platform does not always activate it by itself).
    void Key(int key, Qt::KeyboardModifiers modifiers = {}) {
        QApplication::setActiveWindow(t_->form.get());
        QTest::keyClick(t_->form.get(), Qt::Key(key), modifiers);
    }
    std::vector<double> Starts() {
        std::vector<double> starts;
        for (const Segment& s : Session().Segments) starts.push_back(s.StartMs);
        return starts;
    }
    // Key 0 ("全体"): the whole take from its first frame, its last frame
    // drawn on screen. Returns that zoom and the last frame's column.
    std::pair<Zoom, int> FitWholeTake() {
        Key(Qt::Key_0);
        const Zoom whole = Session().View();
        EXPECT_TRUE(whole.Overview());
        EXPECT_EQ(Session().FirstFrame, 0);
        EXPECT_GE(Session().VisibleFrames, Session().FrameCount());
        const int end = FrameToX(Session().FrameCount() - 1, whole, 0);
        EXPECT_LT(end, Surface()->width());
        EXPECT_NE(Surface()->Image().At(end, 100), kSilver);
        return {whole, end};
    }
    bool Asked(const std::string& line) {
        return std::find(t_->log->messages.begin(), t_->log->messages.end(), line) !=
               t_->log->messages.end();
    }

    TestFolder folder_;
    std::filesystem::path voice_, plugin_, wav_;
    std::unique_ptr<FormUnderTest> t_;
};

TEST_F(WindowSession, QuestionsOfALoadAreAskedOnTheWindowBeforeAnyProgressDialog) {
    PromptWatch watch;
    watch.Attach(*t_->prompts);
    Session().Segments[0].Lyric = "R";
    // A recording over 10 s: the question comes first, and is answered.
    const auto longWav = folder_.File("long.wav");
    WriteToneWav(longWav, 10.5, 330.0);
    t_->prompts->files.push_back(longWav);
    t_->prompts->answers.push_back(true);
    QTest::mouseClick(t_->Find<QPushButton>("LoadRecordingButton"), Qt::LeftButton);
    EXPECT_EQ(Session().WaveFileName, longWav);
    EXPECT_EQ(std::count(t_->log->messages.begin(), t_->log->messages.end(),
                         "ask: 音声が長いため分析に長時間かかります。続けますか？"),
              1);
    // A file in another format is refused over the window.
    const auto odd = folder_.File("odd.wav");
    WriteFileAtomically(odd, "RIFF\x04\0\0\0WAVE");
    t_->prompts->files.push_back(odd);
    QTest::mouseClick(t_->Find<QPushButton>("LoadRecordingButton"), Qt::LeftButton);
    EXPECT_EQ(t_->log->messages.back(),
              "error: 録音ファイルを読み込めません。\nファイルが途中で切れています（5 "
              "バイトで終わっていますが、ヘッダーによれば少なくとも 12 バイトあるはずです）。");
    EXPECT_EQ(Session().WaveFileName, longWav);
    // The edit state: question and file dialog first, then its long recording's question.
    const auto state = folder_.File("long.mlq");
    Session().SaveEditStateTo(state);
    t_->prompts->answers.push_back(true);  // discard the current state
    t_->prompts->files.push_back(state);
    t_->prompts->answers.push_back(true);  // analyse the long recording
    QTest::mouseClick(t_->Find<QPushButton>("LoadEditStateButton"), Qt::LeftButton);
    EXPECT_EQ(t_->log->messages.back(), "ask: 音声が長いため分析に長時間かかります。続けますか？");
    // A refused edit state reports once the progress dialog is gone.
    const auto notState = folder_.File("other.mlq");
    WriteFileAtomically(notState, "[Melodrift]\r\nMelodrift=1\r\nVersion=1.00\r\n");
    t_->prompts->answers.push_back(true);
    t_->prompts->files.push_back(notState);
    QTest::mouseClick(t_->Find<QPushButton>("LoadEditStateButton"), Qt::LeftButton);
    EXPECT_EQ(t_->log->messages.back(), "inform: 対応していないバージョンのファイルです");

    EXPECT_GE(watch.seen.size(), 8u);
    EXPECT_TRUE(watch.hidden.empty()) << watch.hidden.front();
    EXPECT_FALSE(ProgressDialogShowing());
}

// Cancels the load's progress dialog as soon as it exists, by its button
// or by Escape.
void CancelProgressWhenItAppears(MainWindow* form, bool byEscape) {
    auto* timer = new QTimer(form);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, form, byEscape] {
        auto* dialog = form->findChild<QProgressDialog*>(QStringLiteral("LoadProgressDialog"));
        if (dialog == nullptr) return;
        timer->stop();
        timer->deleteLater();
        if (byEscape) {
            QTest::keyClick(dialog, Qt::Key_Escape);
            return;
        }
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
            if (button->text() == QStringLiteral("キャンセル")) button->click();
        }
    });
    timer->start(0);
}

TEST_F(WindowSession, CancellingALongLoadKeepsThePreviousRecordingAndItsEdits) {
    Click(Qt::LeftButton, 200, 100);
    ASSERT_EQ(Session().Segments.size(), 2u);
    const auto before = Starts();
    const int frames = Session().FrameCount();
    t_->form->RedrawAll();  // the cursor line off, as after a load
    const std::vector<std::uint32_t> shown = Surface()->Image().pixels;
    const auto longWav = folder_.File("long.wav");
    WriteToneWav(longWav, 40.0, 330.0);
    for (bool byEscape : {false, true}) {
        t_->prompts->answers.push_back(true);  // throw the edits away
        t_->prompts->files.push_back(longWav);
        t_->prompts->answers.push_back(true);  // analyse the long recording
        CancelProgressWhenItAppears(t_->form.get(), byEscape);
        QTest::mouseClick(t_->Find<QPushButton>("LoadRecordingButton"), Qt::LeftButton);
        EXPECT_EQ(Session().WaveFileName, wav_) << byEscape;
        EXPECT_EQ(Session().FrameCount(), frames);
        EXPECT_EQ(Starts(), before);
        EXPECT_EQ(t_->form->windowTitle(), QStringLiteral("take.wav"));
        EXPECT_FALSE(ProgressDialogShowing());
        // The stopped load's loudness gave way to the take kept.
        EXPECT_TRUE(Surface()->Image().pixels == shown);
    }
    // The edit before the cancelled loads can still be undone.
    t_->form->activateWindow();
    (void)QTest::qWaitForWindowActive(t_->form.get());
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Session().Segments.size(), 1u);
}

TEST_F(WindowSession, UndoAndRedoKeysAndTheCutMenu) {
    Click(Qt::LeftButton, 150, 100);
    Click(Qt::LeftButton, 300, 100);
    const auto two = Starts();
    ASSERT_EQ(two.size(), 3u);
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Starts(), (std::vector<double>{two[0], two[1]}));
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Session().Segments.size(), 1u);
    Key(Qt::Key_Y, Qt::ControlModifier);
    Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Starts(), two);
    // A right click on a cut opens its menu, which removes it and offers undo.
    const int cutX = int(MsToX(two[2], Session().Scale, Session().FirstFrame));
    Move(cutX - 50, 100);
    Move(cutX, 100);
    ASSERT_EQ(Session().HoverCut, 2);
    QTest::mousePress(Surface(), Qt::RightButton, {}, QPoint(cutX, 100));
    QMenu* menu = t_->form->CutMenu();
    // It opens once no double-click can follow.
    EXPECT_FALSE(menu->isVisible());
    QTRY_VERIFY(menu->isVisible());
    QStringList entries;
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator()) entries << action->text();
    }
    EXPECT_EQ(entries, (QStringList{QStringLiteral("区切り削除"), QStringLiteral("元に戻す"),
                                    QStringLiteral("やり直し")}));
    menu->actions().front()->trigger();
    menu->hide();
    QTest::mouseRelease(Surface(), Qt::RightButton, {}, QPoint(cutX, 100));
    t_->form->activateWindow();  // back from the menu
    (void)QTest::qWaitForWindowActive(t_->form.get());
    EXPECT_EQ(Starts(), (std::vector<double>{two[0], two[1]}));
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Starts(), two);
    // Delete removes the cut nearest the pointer.
    Move(cutX - 20, 100);
    Key(Qt::Key_Delete);
    EXPECT_EQ(Starts(), (std::vector<double>{two[0], two[1]}));
}

// 自動区切 on a sung phrase: an empty line cuts blind; a typed lyric line
// (offered prefilled with the lyrics already there) cuts and labels in one
// step that one undo takes back whole; a bad line changes nothing.
TEST_F(WindowSession, AutoCutWithALyricLineIsOneUndoableStep) {
    const char* root = std::getenv("MELODRIFT_TEST_DATA");
    t_->prompts->files.push_back(Utf8Path(root ? root : "tests") / "data" / "sung" /
                                 Utf8Path("_かんかかきかくか.wav"));
    QTest::mouseClick(t_->Find<QPushButton>("LoadRecordingButton"), Qt::LeftButton);
    ASSERT_EQ(t_->form->windowTitle(), U("_かんかかきかくか.wav"));
    auto segments = [&] {
        std::vector<std::pair<double, std::string>> all;
        for (const Segment& s : Session().Segments) all.emplace_back(s.StartMs, s.Lyric);
        return all;
    };
    auto sungLyrics = [&] {
        std::string line;
        for (const Segment& s : Session().Segments)
            if (s.Lyric != "R") line += s.Lyric;
        return line;
    };
    auto* button = t_->Find<QPushButton>("AutoSegmentButton");
    t_->prompts->texts = {std::string()};
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(t_->prompts->offeredTexts, std::vector<std::string>{""});
    const auto blind = segments();
    ASSERT_GE(blind.size(), 7u);
    EXPECT_EQ(blind.front().second, "R");

    const std::string blindLine = sungLyrics();  // the blind cuts' placeholder lyrics
    t_->prompts->texts = {std::string("かんかかきかくか")};
    t_->prompts->answers = {true};  // discard the cuts there
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(t_->prompts->offeredTexts.back(), blindLine);
    const auto guided = segments();
    EXPECT_EQ(sungLyrics(), "かんかかきかくか");
    EXPECT_EQ(guided.front().second, "R");
    EXPECT_NE(guided, blind);

    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(segments(), blind);
    Key(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(segments(), guided);

    t_->prompts->texts = {std::string("かん!か")};
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_FALSE(t_->prompts->errors.empty());
    EXPECT_NE(t_->prompts->errors.back().find("!"), std::string::npos);
    EXPECT_EQ(segments(), guided);
    Key(Qt::Key_Z, Qt::ControlModifier);  // the refusal left no step of its own
    EXPECT_EQ(segments(), blind);
}

TEST_F(WindowSession, UnsavedEditsAreAskedAboutOnlyAfterAnEdit) {
    // Loading again without edits asks nothing.
    t_->prompts->files.push_back(wav_);
    QTest::mouseClick(t_->Find<QPushButton>("LoadRecordingButton"), Qt::LeftButton);
    EXPECT_FALSE(Asked(kUnsavedAsk));
    // After an edit, Cancel asks; No keeps the window and the edit.
    Click(Qt::LeftButton, 150, 100);
    QTest::mouseClick(t_->Find<QPushButton>("CancelButton"), Qt::LeftButton);
    EXPECT_EQ(t_->log->messages.back(), kUnsavedAsk);
    EXPECT_TRUE(t_->form->isVisible());
    EXPECT_EQ(Session().Segments.size(), 2u);
    // So does the close box, and loading another recording (No: no dialog).
    t_->form->close();
    EXPECT_TRUE(t_->form->isVisible());
    t_->prompts->files.push_back(wav_);
    QTest::mouseClick(t_->Find<QPushButton>("LoadRecordingButton"), Qt::LeftButton);
    EXPECT_EQ(t_->prompts->files.size(), 1u);
    EXPECT_EQ(Session().Segments.size(), 2u);
    t_->prompts->files.clear();
    // Saved: nothing to lose.
    t_->prompts->files.push_back(folder_.File("take.mlq"));
    QTest::mouseClick(t_->Find<QPushButton>("SaveEditStateButton"), Qt::LeftButton);
    const std::size_t asked = t_->log->messages.size();
    // An edit undone leaves nothing unsaved either; the window closes unasked.
    Click(Qt::LeftButton, 300, 100);
    Key(Qt::Key_Z, Qt::ControlModifier);
    QTest::mouseClick(t_->Find<QPushButton>("CancelButton"), Qt::LeftButton);
    EXPECT_EQ(t_->log->messages.size(), asked);
    EXPECT_FALSE(t_->form->isVisible());
}

TEST_F(WindowSession, WholeLyricGlyphsLieInsideTheLane) {
    const QRect glyph = t_->form->LyricGlyphRect(QStringLiteral("こぎゃjy"));
    const int top = kLanes.Lyric.Top;
    EXPECT_GE(glyph.top(), top + 1);      // below the box's top border
    EXPECT_LE(glyph.bottom(), top + 14);  // above its bottom border
    EXPECT_GE(glyph.height(), 8);         // and not shrunk to nothing
    // The ink drawn in the lane is as tall as the same text drawn unclipped.
    Session().Segments[0].Lyric = "こ";
    t_->form->RedrawAll();
    const RgbaImage& image = Surface()->Image();
    int inkTop = 1000;
    int inkBottom = -1;
    for (int y = top + 1; y < top + 15; ++y) {
        for (int x = 2; x < 40; ++x) {
            const std::uint32_t p = image.At(x, y);
            if (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) < 300) {
                inkTop = std::min(inkTop, y);
                inkBottom = std::max(inkBottom, y);
            }
        }
    }
    QImage alone(64, 64, QImage::Format_RGB32);
    alone.fill(Qt::white);
    {
        QPainter painter(&alone);
        painter.setFont(LyricTextFont());
        painter.setPen(Qt::black);
        painter.drawText(QPoint(2, 40), QStringLiteral("こ"));
    }
    int aloneTop = 1000;
    int aloneBottom = -1;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            if (qGray(alone.pixel(x, y)) < 100) {
                aloneTop = std::min(aloneTop, y);
                aloneBottom = std::max(aloneBottom, y);
            }
        }
    }
    ASSERT_GE(inkBottom, inkTop);
    EXPECT_NEAR(inkBottom - inkTop, aloneBottom - aloneTop, 1);
}

TEST_F(WindowSession, EveryHelpTextFitsItsStatusPanel) {
    auto* panel = t_->form->findChild<QLabel*>(QStringLiteral("StatusPanel"));
    auto* bar = t_->form->statusBar();
    Click(Qt::LeftButton, 300, 100);
    const struct {
        int x, y;
        std::string_view text;
    } places[] = {{300, 250, kHelpPitchLane},
                  {301, 100, kHelpCut},
                  {450, 20, kHelpVolumeLane},
                  {450, 320, kHelpLyricLane},
                  {450, 100, kHelpCutArea}};
    for (int width : {t_->form->width(), 527}) {
        t_->form->resize(width, t_->form->height());
        for (const auto& place : places) {
            Move(place.x, place.y);
            ASSERT_EQ(panel->text(), U(place.text));
            EXPECT_LE(panel->fontMetrics().horizontalAdvance(panel->text()),
                      panel->contentsRect().width())
                << place.x << "," << place.y;
            EXPECT_LE(panel->geometry().right(), bar->width()) << width;
        }
    }
}

TEST_F(WindowSession, WheelScrollsCtrlWheelZoomsAroundThePointerAndZeroFits) {
    auto* bar = t_->Find<QScrollBar>("TimeScrollBar");
    auto* zoom = t_->Find<QLabel>("ZoomLabel");
    EXPECT_EQ(zoom->text(), QStringLiteral("×3"));
    Key(Qt::Key_0);  // 345 frames fit 669 pixels at 1 pixel per frame
    EXPECT_EQ(Session().Scale, 1);
    t_->form->resize(1100, t_->form->height());
    Key(Qt::Key_0);  // 1041 pixels: 3 pixels per frame fit
    EXPECT_EQ(Session().Scale, 3);
    t_->form->resize(728, t_->form->height());
    Session();
    const auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers, int x) {
        QWheelEvent event(QPointF(x, 100), Surface()->mapToGlobal(QPointF(x, 100)), QPoint(),
                          QPoint(0, delta), Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(Surface(), &event);
    };
    wheel(-120, Qt::ControlModifier, 300);
    EXPECT_EQ(Session().Scale, 2);
    EXPECT_EQ(zoom->text(), QStringLiteral("×2"));
    wheel(240, Qt::ControlModifier, 400);
    EXPECT_EQ(Session().Scale, 4);
    // The frame under x 400 stayed there: frame 400 / 2 at scale 2 is 200.
    EXPECT_EQ(Session().FirstFrame + 400 / 4, 200);
    const int first = bar->value();
    wheel(-120, {}, 100);
    EXPECT_GT(bar->value(), first);
    wheel(120, {}, 100);
    EXPECT_EQ(bar->value(), first);
}

TEST_F(WindowSession, ZeroFitsALongTakeWhereCutsLandUnderThePointerAndUndoWorksAtEveryZoom) {
    // 12 s do not fit at one pixel per frame: zero zooms out to the whole take.
    const auto longWav = folder_.File("long.wav");
    WriteToneWav(longWav, 12.0, 330.0);
    t_->prompts->files.push_back(longWav);
    t_->prompts->answers.push_back(true);
    QTest::mouseClick(t_->Find<QPushButton>("LoadRecordingButton"), Qt::LeftButton);
    ASSERT_EQ(Session().WaveFileName, longWav);
    // The whole take was drawn while the analysis still ran: its loudness,
    // then its spectrum, then its pitch; the finished lanes took its place.
    const MainWindow::LoadShownTimes& shown = t_->form->LoadShown();
    EXPECT_GE(shown.loudness, 0.0);
    EXPECT_GE(shown.spectrum, shown.loudness);
    EXPECT_GE(shown.wholeSpectrum, shown.spectrum);
    EXPECT_GE(shown.pitch, shown.spectrum);
    EXPECT_GE(shown.pictures, 3);
    QApplication::processEvents();  // nothing of the loading picture comes after the load
    const std::vector<std::uint32_t> finished = Surface()->Image().pixels;
    t_->form->RedrawAll();
    EXPECT_TRUE(Surface()->Image().pixels == finished);
    const auto [whole, end] = FitWholeTake();
    ASSERT_TRUE(whole.Overview());
    EXPECT_EQ(Surface()->Image().At(end + 2, 100), kSilver);
    EXPECT_TRUE(t_->Find<QLabel>("ZoomLabel")->text().startsWith(QStringLiteral("1px = ")));

    // A cut lands within the clicked column; dragged, it follows the pointer
    // to the column.
    const double msPerPixel = whole.frames * 256 / 44.1;
    Click(Qt::LeftButton, 301, 100);
    ASSERT_EQ(Session().Segments.size(), 2u);
    EXPECT_LE(std::abs(Session().Segments[1].StartMs - 301.5 * msPerPixel), msPerPixel);
    t_->form->SurfaceMouseMove(301, 100);
    t_->form->SurfaceMouseDown(Qt::LeftButton, false, 301, 100);
    t_->form->SurfaceMouseMove(340, 100);
    t_->form->SurfaceMouseUp(Qt::LeftButton, 340, 100);
    EXPECT_LE(std::abs(Session().Segments[1].StartMs - 340.5 * msPerPixel), msPerPixel);

    // A lyric box ten columns wide is too narrow to type in: a click zooms in
    // until it is wide enough, and the next click edits it.
    Click(Qt::LeftButton, 350, 100);
    ASSERT_EQ(Session().Segments.size(), 3u);
    Click(Qt::LeftButton, 345, 320);
    auto* edit = t_->Find<QLineEdit>("LyricEdit");
    EXPECT_FALSE(edit->isVisible());
    const Segment narrow = Session().Segments[1];
    const int left = int(MsToX(narrow.StartMs, Session().View(), Session().FirstFrame));
    const int right =
        int(MsToX(narrow.StartMs + narrow.LengthMs, Session().View(), Session().FirstFrame));
    EXPECT_GE(right - left, kLanes.LyricEditMinWidth);
    EXPECT_GE(left, 0);
    Click(Qt::LeftButton, (left + right) / 2, 320);
    EXPECT_TRUE(edit->isVisible());
    Key(Qt::Key_Escape);

    // At every zoom from the whole take to the closest, a cut is made and undone.
    auto* arrows = t_->Find<ArrowStepper>("ZoomArrows");
    for (int position : {PositionOfZoom(whole), -5, 0, 1, 3, 8}) {
        arrows->SetPosition(position);
        EXPECT_EQ(Session().View(), ZoomAtPosition(position));
        const std::vector<double> before = Starts();
        Click(Qt::LeftButton, 100, 100);
        EXPECT_EQ(Session().Segments.size(), before.size() + 1) << position;
        Key(Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(Starts(), before) << position;
    }
}

// Ten minutes of made-up analysis (none is run): loudness, spectrum and a
// pitch glide with candidates that change along the take.
void FakeTenMinutes(EditorSession& s) {
    constexpr std::uint32_t kSamples = 600u * 44100u;
    *s.Wave = MakeMono16Wave(kSamples);
    const int frames = int(kSamples / 256) + 1;
    PitchAnalyser& analyser = *s.Analyser;
    analyser.FrameCount = frames;
    analyser.Frames.assign(std::size_t(frames), AnalysisFrame{});
    analyser.Candidates.assign(std::size_t(frames), CandidateSlots{});
    analyser.Confidence.assign(std::size_t(frames), 3.0f);
    s.FrameVolume.resize(std::size_t(frames));
    s.PitchCents.resize(std::size_t(frames));
    s.SpectrumImage.resize(std::size_t(frames));
    s.PitchRejected.clear();
    for (std::size_t i = 0; i < std::size_t(frames); ++i) {
        const float f0 = float(220.0 * std::pow(2.0, std::sin(double(i) * 0.001)));
        analyser.Frames[i].SamplePos = std::int32_t(std::min<std::size_t>(i * 256, kSamples - 1));
        analyser.Frames[i].TargetF0 = i % 50 < 45 ? f0 : 0.0f;
        analyser.Candidates[i][0] = {f0, 4.0f};
        analyser.Candidates[i][1] = {f0 * 1.5f, i % 7 == 0 ? 1.0f : 3.0f};
        s.FrameVolume[i] = std::int32_t(12000 + 8000 * std::sin(double(i) * 0.01));
        s.PitchCents[i] = std::int32_t(1200.0 * std::log2(f0 / 220.0) + 5700.0);
        for (std::size_t r = 0; r < std::size_t(kSpectrumRows); ++r)
            s.SpectrumImage[i][r] = -float((i * 7 + r * 13) % 60);
    }
    s.Segments.assign(1, Segment{0.0, 0.0, "R"});
    s.RecalcLengths();
}

TEST_F(WindowSession, ZeroFitsTenMinutesAndKeptColumnsDrawWhatTheFramesGive) {
    FakeTenMinutes(Session());
    t_->form->AfterRecordingChanged();
    const Zoom whole = FitWholeTake().first;
    ASSERT_TRUE(whole.Overview());

    // The lanes on the surface against the same view drawn from the frames.
    const auto differing = [&] {
        PitchLaneInput in;
        in.pitchCents = Session().PitchCents;
        in.frames = Session().Analyser->Frames;
        in.candidates = Session().Analyser->Candidates;
        in.firstFrame = Session().FirstFrame;
        in.visibleFrames = Session().VisibleFrames;
        in.scale = Session().View();
        const RgbaImage pitch = BuildPitchBitmap(in);
        const RgbaImage& shown = Surface()->Image();
        const RgbaImage direct = ComposeSurface(Session(), {nullptr, nullptr, &pitch, nullptr},
                                                shown.width, shown.height);
        int count = 0;
        for (int y = 0; y < kLanes.Lyric.Top; ++y) {
            for (int x = 0; x < shown.width; ++x) count += shown.At(x, y) != direct.At(x, y);
        }
        return count;
    };
    EXPECT_EQ(differing(), 0);
    // Columns kept from earlier steps, scrolled on and back and zoomed out
    // and in again, still show what their frames hold.
    t_->Find<ArrowStepper>("ZoomArrows")->SetPosition(-6);
    for (int delta : {-120, -120, -120, 240, -120}) t_->form->SurfaceWheel(delta, false, 300);
    t_->form->SurfaceWheel(-120, true, 200);
    t_->form->SurfaceWheel(120, true, 200);
    ASSERT_GT(Session().FirstFrame, 0);
    EXPECT_EQ(Session().FirstFrame % Session().View().frames, 0);  // on a whole column
    EXPECT_EQ(differing(), 0);
    // A changed pitch is drawn anew.
    for (int j = Session().FirstFrame; j < Session().FirstFrame + 2000; ++j)
        Session().PitchCents[std::size_t(j)] += 1200;
    t_->form->PitchChanged();
    t_->form->RedrawAll();
    EXPECT_EQ(differing(), 0);
}

TEST_F(WindowSession, CtrlSSavesTheEditStateAndCtrlOLoadsARecording) {
    Click(Qt::LeftButton, 200, 100);
    const auto saved = folder_.File("keys.mlq");
    t_->prompts->files.push_back(saved);
    Key(Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(std::filesystem::exists(saved));
    EXPECT_FALSE(t_->form->History().HasUnsavedEdits());
    const auto other = folder_.File("other.wav");
    WriteToneWav(other, 1.0, 330.0);
    t_->prompts->files.push_back(other);
    Key(Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(Session().WaveFileName, other);
    EXPECT_EQ(Session().Segments.size(), 1u);
    EXPECT_FALSE(t_->form->History().CanUndo());  // a new recording starts a new history
}

TEST_F(WindowSession, EscapeAbandonsALyricEditWhichFollowsItsSegment) {
    Click(Qt::LeftButton, 300, 100);
    Click(Qt::LeftButton, 350, 320);  // the edit of segment 1
    auto* edit = t_->Find<QLineEdit>("LyricEdit");
    ASSERT_TRUE(edit->isVisible());
    const int left = edit->x();
    auto* bar = t_->Find<QScrollBar>("TimeScrollBar");
    bar->setValue(20);  // 20 frames on: 60 pixels to the left
    EXPECT_EQ(edit->x(), left - 60);
    edit->setText(QStringLiteral("か"));
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_FALSE(edit->isVisible());
    EXPECT_EQ(Session().Segments[1].Lyric, "R");
    EXPECT_EQ(Session().Mouse, MouseMode::Idle);
}

TEST_F(WindowSession, APreviewWithoutAnOutputDeviceSaysSoUntilOneWorks) {
    if (PreviewPlayer::OutputAvailable()) GTEST_SKIP() << "this machine has an audio output";
    auto* panel = t_->Find<QLabel>("NoOutputPanel");
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->isVisible());
    Move(100, 20);
    QTest::mousePress(Surface(), Qt::LeftButton, {}, QPoint(100, 20));
    QTest::mouseRelease(Surface(), Qt::LeftButton, {}, QPoint(100, 20));
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->text(), QStringLiteral("音声を再生できません: 出力デバイスがありません"));
    // Moving on and hovering controls shows their hints beside it; the
    // message itself stays.
    Move(300, 250);
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(t_->Find<QPushButton>("LoadRecordingButton"), &enter);
    EXPECT_EQ(t_->form->StatusText(), QStringLiteral("トレースする音声ファイルを読み込みます"));
    EXPECT_TRUE(panel->isVisible());
    // The resynthesised one is rendered on its own thread, then says the same.
    Move(100, 20);
    QTest::mousePress(Surface(), Qt::RightButton, {}, QPoint(100, 20));
    QTest::mouseRelease(Surface(), Qt::RightButton, {}, QPoint(100, 20));
    t_->form->WaitForPreview();
    EXPECT_FALSE(t_->form->PreviewRendering());
    EXPECT_TRUE(panel->isVisible());
    // The message lies inside the status bar, beside the help text.
    const QRect bar = t_->form->statusBar()->rect();
    EXPECT_TRUE(
        bar.contains(QRect(panel->mapTo(t_->form->statusBar(), QPoint(0, 0)), panel->size())));
}

TEST_F(WindowSession, EscapeStopsAResynthesisedPreviewBeingRendered) {
    Click(Qt::LeftButton, 300, 100);
    // A right-drag over both segments: rendered on its own thread.
    Move(100, 20);
    QTest::mousePress(Surface(), Qt::RightButton, {}, QPoint(100, 20));
    Move(500, 20);
    QTest::mouseRelease(Surface(), Qt::RightButton, {}, QPoint(500, 20));
    ASSERT_TRUE(t_->form->PreviewRendering());
    EXPECT_EQ(t_->form->StatusText(),
              QStringLiteral("ピッチ確認用プレビューを作成しています... (Escで中止)"));
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
    // The window stays usable meanwhile: a cut is added.
    Click(Qt::LeftButton, 450, 100);
    EXPECT_EQ(Session().Segments.size(), 3u);
    Key(Qt::Key_Escape);
    EXPECT_FALSE(t_->form->PreviewRendering());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(t_->form->StatusText().isEmpty());  // nothing plays, nothing to report
}

TEST(LoadPromptsFromAWorker, MessagesWaitForReplayAndQuestionsHideTheDialog) {
    auto log = std::make_shared<ScriptedPrompts::Log>();
    ScriptedPrompts target(log);
    target.answers.push_back(true);
    std::vector<std::string> order;
    LoadPrompts prompts(
        target, {{"known?", false}}, [&] { order.push_back("hide"); },
        [&] { order.push_back("show"); });
    target.onPrompt = [&](const std::string& line) { order.push_back(line); };
    bool known = true;
    bool asked = false;
    QEventLoop loop;
    std::jthread worker([&] {
        prompts.Beep();
        prompts.Error("bad");
        known = prompts.AskOkCancel("known?");
        asked = prompts.AskYesNo("other?");
        PostToWindowThread(&loop, [&loop] { loop.quit(); });
    });
    loop.exec();
    worker.join();
    EXPECT_FALSE(known);
    EXPECT_TRUE(asked);
    EXPECT_EQ(order, (std::vector<std::string>{"hide", "ask: other?", "show"}));
    EXPECT_EQ(log->beeps, 0);
    prompts.Replay();
    EXPECT_EQ(log->beeps, 1);
    EXPECT_EQ(order.back(), "error: bad");
}

}  // namespace
}  // namespace melodrift::testing

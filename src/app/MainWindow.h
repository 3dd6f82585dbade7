// The program's one window. It draws the editor session and turns widget
// events into session calls; every workflow lives in the editor layer.
// Control names are the objectNames of the widgets ("InsertButton", "DrawingSurface",
// ...), and the event handlers keep the names of the controls' events.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <QMainWindow>
#include <QRect>

#include "WindowSettings.h"
#include "Playback.h"
#include "editor/History.h"
#include "editor/OverviewCache.h"
#include "editor/Session.h"
#include "editor/SurfaceMouse.h"
#include "editor/Timeline.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QTimer;
class QPushButton;
class QScrollBar;
class QSettings;
class QToolButton;

namespace melodrift {

class Prompts;
class Voicebank;
class ArrowStepper;
class DrawingSurface;

// Window geometry at design size. Qt sizes the client area; the outer sizes
// of the design include a frame of 8 × 27 pixels (borders and caption).
inline constexpr int kFrameExtraWidth = 8;
inline constexpr int kFrameExtraHeight = 27;
inline constexpr int kDesignOuterWidth = 736;
inline constexpr int kDesignOuterHeight = 505;
inline constexpr int kMinOuterWidth = 535;
inline constexpr int kMinOuterHeight = 490;
inline constexpr int kMaxOuterHeight = 520;

inline constexpr const char* kWindowCaption = "メロドリフト ver2.42";
inline constexpr std::string_view kUnsavedEditsQuestion =
    "編集内容が保存されていません。破棄してよろしいですか？";
inline constexpr std::string_view kNoOutputDeviceMessage =
    "音声を再生できません: 出力デバイスがありません";

// The pitch-mode box lists "Mode1", "Mode2" in that order.
inline PitchEncoding PitchEncodingOfItem(int index) {
    return index == 0 ? PitchEncoding::Mode1 : PitchEncoding::Mode2;
}

class MainWindow : public QMainWindow {
  public:
    // `pluginFile` is the host's plug-in file (may be empty or missing: the
    // window still opens). `prompts` shows the boxes and dialogs; null means
    // real Qt dialogs. `settings` is the persistent store; null opens the
    // per-user one. `voicebank` is the process-wide voicebank.
    MainWindow(std::filesystem::path pluginFile, std::unique_ptr<Prompts> prompts = nullptr,
               std::unique_ptr<QSettings> settings = nullptr, Voicebank* voicebank = nullptr);
    ~MainWindow() override;

    EditorSession& Session() { return session_; }
    const EditorSession& Session() const { return session_; }
    Prompts& UserPrompts() { return *prompts_; }
    DrawingSurface* Surface() const { return surface_; }
    // The status bar's one panel.
    QString StatusText() const;

    // ---- Event handlers (each one guarded line) -----------------------------
    void NoteOptionToggled(QCheckBox* sender);
    void PitchModeChanged();
    void ModeButtonClicked(QAbstractButton* sender);
    void CorrectionEditExited(QLineEdit* sender);
    void InsertClicked();         // Insert
    void CancelClicked();         // Cancel
    void LoadRecordingClicked();  // load a recording
    void SaveEditStateClicked();  // save the edit state
    void LoadEditStateClicked();  // load an edit state
    void AutoSegmentClicked();    // automatic segmentation
    void ZoomChanging(int newValue);
    // The zoom set with the arrows following it, without their Changing.
    void SetZoomQuietly(Zoom zoom);
    // Lays the surface out anew with `frame` at column x (as near as the
    // scroll range allows).
    void ShowFrameAt(int frame, int x);
    // The zoom label, the "全体" button and the scroll bar along the surface's foot.
    void PlaceZoomStrip();
    void TimeScrollChanged();
    void SpectrumRangeChanged();
    void SurfaceMouseDown(Qt::MouseButton button, bool doubleClick, int x, int y);
    void SurfaceMouseMove(int x, int y);
    void SurfaceMouseUp(Qt::MouseButton button, int x, int y);
    void LyricEditExit(QLineEdit* sender);
    void LyricEditKeyDown(QLineEdit* sender, int key);
    void ShowHintOf(QWidget* sender);

    // ---- Undo, keys, wheel and the cut's menu --------------------------------
    void UndoClicked();       // Ctrl+Z
    void RedoClicked();       // Ctrl+Shift+Z, Ctrl+Y
    void PlayKeyPressed();    // Space: the segment under the pointer, else the last preview
    void EscapePressed();     // stops playback and previews, abandons an open lyric edit
    void DeleteKeyPressed();  // Delete: removes the cut nearest the pointer
    void ZoomToFitClicked();  // key 0 and the button beside the zoom arrows
    // A wheel turn on the surface (angle in eighths of a degree): scrolls in
    // time, or with Ctrl zooms around column x.
    void SurfaceWheel(int angleDelta, bool zoom, int x);
    // Removes cut k (1 ≤ k < segment count) as one undoable step.
    void RemoveCutAt(int cutIndex);
    // Asks kUnsavedEditsQuestion when edits were made since the last save,
    // load or Insert; true when there is nothing to lose or the user agreed.
    bool ConfirmDiscardEdits();
    const EditHistory& History() const { return history_; }
    // The right-click menu of a cut ("区切り削除", undo, redo).
    QMenu* CutMenu() const { return cutMenu_; }
    // True while a resynthesised preview is being rendered.
    bool PreviewRendering() const { return previewThread_.joinable(); }
    // Waits until the preview being rendered is playing (tests, shutdown).
    void WaitForPreview();
    // Where the lyric lane draws the ink of `text` in a box as wide as the
    // surface, in surface pixels.
    QRect LyricGlyphRect(const QString& text) const;

    // Loads a recording as the load button does after its dialog (the
    // analysis runs on a worker thread behind a modal progress dialog).
    LoadOutcome LoadRecording(const std::filesystem::path& path);
    // Seconds from the last LoadRecording call until the surface first
    // showed each part of the loading picture, −1 when it did not
    // (benchmarks, tests).
    struct LoadShownTimes {
        double loudness = -1.0;       // of the part read so far
        double wholeLoudness = -1.0;  // all of it, exact
        double spectrum = -1.0;       // its first complete columns
        double wholeSpectrum = -1.0;  // every column
        double pitch = -1.0;
        int pictures = 0;  // loading pictures drawn
    };
    const LoadShownTimes& LoadShown() const { return loadShown_; }
    double LoudnessShownSeconds() const { return loadShown_.loudness; }
    // Rebuilds the caption, every lane image and the layout after the
    // session's recording changed.
    void AfterRecordingChanged();

    // ---- Drawing --------------------------------------------------------------
    void UpdateLayout();
    void RedrawAll();
    void DrawVolumeLane();
    void DrawCutLines();
    void ToggleCursor();  // the cursor line at CursorX, inverted
    void ToggleCursorAt(int x);
    void BuildSpectrumBitmap();
    void BuildPitchBitmap();
    // The pitch lane's data changed: its kept zoomed-out columns are
    // dropped and the lane rebuilt.
    void PitchChanged();
    void BuildLyricBitmap();  // also draws it onto the surface with its texts

    // The settings as the controls hold them now (what closing writes).
    WindowSettings CurrentSettings() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CreateControls();
    void ConnectEvents();
    void RestoreSettings();
    void SaveSettings();
    void LayOutControls();
    void ApplySettings(const WindowSettings& settings);
    void Guard(const std::function<void()>& work);

    // Runs `job` (a session load) on a worker thread behind a progress
    // dialog with "キャンセル" (and Escape), which stop the analysis; returns
    // when it is done. Questions listed in `answered` were asked here before
    // and get their answer; messages of the job show after the dialog is
    // gone; any other prompt hides the dialog while it asks. No editing
    // meanwhile. False when the user stopped it.
    bool RunInBackground(const QString& title,
                         const std::function<void(Prompts&, const LoadProgress&)>& job,
                         const std::vector<std::pair<std::string, bool>>& answered = {});
    // The questions of a recording's load, asked here before the worker
    // starts: the format refusal and the long-recording question. The
    // outcome when the load must not start; the answers given go to `answered`.
    std::optional<LoadOutcome> AskBeforeLoading(
        const std::filesystem::path& recording,
        std::vector<std::pair<std::string, bool>>& answered);
    void StartPreviewRender(double fromMs, double toMs);
    void StopPreviewRender();
    void PreviewRendered();
    void PlayImage(std::string image);
    void CreateKeys();
    void SetStatus(const QString& text);
    int NoOutputPanelWidth() const;  // its width in the status bar while shown, else 0
    void UpdateZoomLabel();
    void AfterHistoryStep();
    void AbandonLyricEdit();
    void LyricEditFollowView();
    void RefreshSpectrumColumns();

    // The surface's pointer shape as the editor knows it.
    PointerShape SurfacePointer() const;
    // Draws, opens, plays what the editor's answer to a mouse event at (x, y) says.
    void CarryOut(const SurfaceActions& act, int x, int y);
    void PlayLastPreview();
    void XorPitchLine(PixelPoint from, PixelPoint to);
    void RedrawLyricLane();
    QRect LyricTextRect(int left, int right) const;
    void DrawLyricTexts();
    std::vector<int> CutXs() const;
    std::int64_t MsToSurfaceX(double timeMs) const;
    double SurfaceXToMs(int x) const;
    bool Busy() const { return busy_; }

    EditorSession session_;
    std::filesystem::path pluginFile_;
    std::unique_ptr<Prompts> prompts_;
    std::unique_ptr<QSettings> settings_;
    Voicebank* voicebank_;
    PreviewPlayer player_;
    bool busy_ = false;     // a background load runs: no session access from events
    bool created_ = false;  // RestoreSettings finished (resizes before that draw nothing)
    bool committingLyric_ = false;
    bool insertDone_ = false;  // closing after a successful Insert asks nothing

    EditHistory history_;
    int loadsStarted_ = 0;
    LoadShownTimes loadShown_;
    std::shared_ptr<LoadingPicture> loadingPicture_;  // of the load that runs
    std::atomic<bool> stopLoad_{false};
    // The resynthesised preview rendered on its own thread.
    std::jthread previewThread_;
    std::atomic<bool> stopPreview_{false};
    std::string previewImage_;
    int previewGeneration_ = 0;  // counts renders started
    // The last preview played (Space replays it when no segment is under the pointer).
    double lastPlayFromMs_ = 0.0;
    double lastPlayToMs_ = -1.0;
    bool lastPlayResynthesised_ = false;
    std::vector<float> spectrumColumnDensity_;  // density each spectrum column was coloured with

    // Off-screen images of the lanes.
    RgbaImage volumeBitmap_;
    RgbaImage spectrumBitmap_;
    RgbaImage pitchBitmap_;
    RgbaImage lyricBitmap_;
    OverviewCache overview_;  // the zoomed-out lanes' columns, per zoom

    // Controls, named as their objectNames.
    QFrame* lanesPanel_ = nullptr;
    QFrame* laneLabelsPanel_ = nullptr;
    QFrame* surfacePanel_ = nullptr;
    QFrame* scrollPanel_ = nullptr;
    QFrame* insertPanel_ = nullptr;
    QFrame* correctionPanel_ = nullptr;
    QScrollBar* spectrumRangeBar_ = nullptr;
    DrawingSurface* surface_ = nullptr;
    QLineEdit* lyricEdit_ = nullptr;
    QLineEdit* lyricsEdit_ = nullptr;
    ArrowStepper* zoomArrows_ = nullptr;
    QScrollBar* timeScrollBar_ = nullptr;
    QPushButton* insertButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* loadRecordingButton_ = nullptr;
    QPushButton* saveEditStateButton_ = nullptr;
    QPushButton* loadEditStateButton_ = nullptr;
    QPushButton* autoSegmentButton_ = nullptr;
    QToolButton* correctionModeButton_ = nullptr;
    QToolButton* traceModeButton_ = nullptr;
    QGroupBox* noteOptionsGroup_ = nullptr;
    QCheckBox* keyCheck_ = nullptr;
    QCheckBox* pitchCheck_ = nullptr;
    QCheckBox* volumeCheck_ = nullptr;
    QCheckBox* voicingCheck_ = nullptr;
    QLineEdit* preUtteranceEdit_ = nullptr;
    QLineEdit* overlapEdit_ = nullptr;
    QLineEdit* consonantEdit_ = nullptr;
    QComboBox* pitchModeCombo_ = nullptr;
    QCheckBox* replaceSelectionCheck_ = nullptr;
    QLabel* statusPanel_ = nullptr;
    QLabel* keysPanel_ = nullptr;
    QLabel* noOutputPanel_ = nullptr;  // the no-output-device message
    QLabel* zoomLabel_ = nullptr;
    QToolButton* zoomFitButton_ = nullptr;
    QMenu* cutMenu_ = nullptr;
    // The cut menu opens once a double-click can no longer follow (a right
    // double-click on the cut removes it instead); at cutMenuAt_ (global).
    QTimer* cutMenuTimer_ = nullptr;
    QPoint cutMenuAt_;
    QAction* undoAction_ = nullptr;
    QAction* redoAction_ = nullptr;
    int menuCut_ = -1;
};

}  // namespace melodrift

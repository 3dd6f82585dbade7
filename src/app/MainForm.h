// The program's one window. It draws the editor session and turns widget
// events into session calls; every workflow lives in the editor layer.
// Control names are the objectNames of the widgets ("Button1", "DrawImage",
// ...), and the event handlers keep the names of the controls' events.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include <QMainWindow>

#include "FormSettings.h"
#include "HitAreas.h"
#include "Playback.h"
#include "editor/Session.h"
#include "editor/Timeline.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QSettings;
class QToolButton;

namespace melodrift {

class Prompts;
class Voicebank;
class THorizontalUpDown;
class TDrawSurface;

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

class TForm1 : public QMainWindow {
public:
    // `pluginFile` is the host's plug-in file (may be empty or missing: the
    // window still opens). `prompts` shows the boxes and dialogs; null means
    // real Qt dialogs. `settings` is the persistent store; null opens the
    // per-user one. `voicebank` is the process-wide voicebank.
    TForm1(std::filesystem::path pluginFile, std::unique_ptr<Prompts> prompts = nullptr,
           std::unique_ptr<QSettings> settings = nullptr, Voicebank* voicebank = nullptr);
    ~TForm1() override;

    EditorSession& Session() { return session_; }
    const EditorSession& Session() const { return session_; }
    Prompts& UserPrompts() { return *prompts_; }
    TDrawSurface* DrawImage() const { return drawImage_; }
    // The status bar's one panel.
    QString StatusText() const;

    // ---- Event handlers (each one guarded line) -----------------------------
    void CheckBox3Click(QCheckBox* sender);
    void ComboBox1Change();
    void SpeedButton1Click(QAbstractButton* sender);
    void Edit1Exit(QLineEdit* sender);
    void Button1Click();  // Insert
    void Button2Click();  // Cancel
    void Button3Click();  // load a recording
    void Button4Click();  // save the edit state
    void Button5Click();  // load an edit state
    void Button6Click();  // automatic segmentation
    void UpDown1ChangingEx(int newValue);
    void MainSBChange();
    void ScrollBar1Scroll();
    void CsrImageMouseDown(Qt::MouseButton button, bool doubleClick, int x, int y);
    void F0ImageMouseMove(int x, int y);
    void CsrImageMouseUp(Qt::MouseButton button, int x, int y);
    void LyricEditExit(QLineEdit* sender);
    void LyricEditKeyDown(QLineEdit* sender, int key);
    void FormMouseMove(QWidget* sender);

    // Loads a recording as the load button does after its dialog (the
    // analysis runs on a worker thread behind a modal progress dialog).
    LoadOutcome LoadRecording(const std::filesystem::path& path);
    // Rebuilds the caption, every lane image and the layout after the
    // session's recording changed.
    void AfterRecordingChanged();

    // ---- Drawing --------------------------------------------------------------
    void UpdateLayout();
    void RedrawAll();
    void DrawVolumeLane();
    void DrawCutLines();
    void ToggleCursor();
    void BuildSpectrumBitmap();
    void BuildPitchBitmap();
    void BuildLyricBitmap();  // also draws it onto the surface with its texts

    // The settings as the controls hold them now (what closing writes).
    FormSettings CurrentSettings() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void ConnectEvents();
    void FormCreate();
    void FormClose();
    void FormResize();
    void ApplySettings(const FormSettings& settings);
    void Guard(const std::function<void()>& work);

    // Runs `job` (a session load) on a worker thread; prompts it makes are
    // answered on this thread; returns when it is done. No editing meanwhile.
    void RunInBackground(const QString& title, const std::function<void(Prompts&, const LoadProgress&)>& job);

    void SetSurfaceHelp(std::string_view text, Qt::CursorShape shape);
    void OpenLyricEditor(QLineEdit* edit, int first, int last, const std::string& textCp932);
    void HideLyricEditor(QLineEdit* edit);
    void XorPitchLine();
    void RedrawLyricLane();
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
    bool busy_ = false;      // a background load runs: no session access from events
    bool created_ = false;   // FormCreate finished (resizes before that draw nothing)
    bool committingLyric_ = false;

    // Off-screen images of the lanes.
    RgbaImage volumeBitmap_;
    RgbaImage spectrumBitmap_;
    RgbaImage pitchBitmap_;
    RgbaImage lyricBitmap_;

    // Controls, named as their objectNames.
    QFrame* panel1_ = nullptr;
    QFrame* panel2_ = nullptr;
    QFrame* panel3_ = nullptr;
    QFrame* panel4_ = nullptr;
    QFrame* panel6_ = nullptr;
    QFrame* panel7_ = nullptr;
    QScrollBar* scrollBar1_ = nullptr;
    TDrawSurface* drawImage_ = nullptr;
    QLineEdit* lyricEdit_ = nullptr;
    QLineEdit* lyricsEdit_ = nullptr;
    THorizontalUpDown* upDown1_ = nullptr;
    QScrollBar* mainSB_ = nullptr;
    QPushButton* button1_ = nullptr;
    QPushButton* button2_ = nullptr;
    QPushButton* button3_ = nullptr;
    QPushButton* button4_ = nullptr;
    QPushButton* button5_ = nullptr;
    QPushButton* button6_ = nullptr;
    QToolButton* speedButton1_ = nullptr;
    QToolButton* speedButton2_ = nullptr;
    QGroupBox* groupBox1_ = nullptr;
    QCheckBox* checkBox1_ = nullptr;
    QCheckBox* checkBox2_ = nullptr;
    QCheckBox* checkBox3_ = nullptr;
    QLineEdit* edit1_ = nullptr;
    QLineEdit* edit2_ = nullptr;
    QLineEdit* edit3_ = nullptr;
    QComboBox* comboBox1_ = nullptr;
    QLabel* statusPanel_ = nullptr;
};

}  // namespace melodrift

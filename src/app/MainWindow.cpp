// The window's construction: its controls, their layout, the settings it
// restores and saves, and closing. The controls' events are in ControlEvents.cpp.
#include "MainWindow.h"

#include <algorithm>
#include <limits>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QToolButton>

#include "QtPrompts.h"
#include "RunGuarded.h"
#include "VectorState.h"
#include "Widgets.h"
#include "audio/PitchAnalyser.h"
#include "editor/EditState.h"
#include "editor/Insertion.h"
#include "editor/LoadChecks.h"
#include "editor/Loading.h"
#include "plugin/NoteList.h"
#include "text/NumberFormat.h"
#include "voicebank/Voicebank.h"

namespace melodrift {

namespace {

// The replace setting's caption, naming the selected notes by their lyrics
// (at most eight, then how many more).
QString ReplaceSelectionCaption(const NoteList* notes) {
    QString text = QString::fromUtf8("選択ノートを置き換える");
    if (notes == nullptr || notes->SentNotes.empty()) return text;
    QStringList lyrics;
    for (const SentNote& note : notes->SentNotes) {
        if (lyrics.size() == 8) {
            lyrics << QString::fromUtf8("ほか%1個").arg(notes->SentNotes.size() - 8);
            break;
        }
        lyrics << QString::fromStdString(note.Lyric);
    }
    return text + QString::fromUtf8("（") + lyrics.join(QString::fromUtf8("・")) +
           QString::fromUtf8("）");
}

// Heights and widths of the fixed parts, pixels.
constexpr int kLaneLabelsWidth = 57;
constexpr int kScrollPanelHeight = 16;
constexpr int kInsertPanelWidth = 305;
constexpr int kStatusBarHeight = 19;
constexpr int kStatusPanelWidth = 300;
constexpr int kZoomArrowsWidth = 33;
constexpr int kZoomFitWidth = 36;       // the "全体" button
constexpr int kZoomLabelWidth = 28;     // "×3"
constexpr int kZoomOutLabelWidth = 84;  // "1px = 1.2 s"
constexpr int kStatusMargin = 12;       // label padding and the panel's frame
constexpr int kBevel = 1;               // raised border of the lanes panel
// The lanes panel: the drawing surface (its last row is the labels column's
// bottom separator), the scroll strip below it, and the bevel round both.
constexpr int kLanesPanelHeight = kLanes.LabelsBottom + 1 + kScrollPanelHeight + 2 * kBevel;

QString U(std::string_view utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

QFont WindowFont() {
    // The design font first; on systems without it, the Japanese face that
    // fonts-noto-cjk installs.
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                      QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP")});
    font.setPixelSize(12);
    return font;
}

QFrame* MakePanel(QWidget* parent, const char* name, bool raised) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    if (raised) {
        panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        panel->setLineWidth(kBevel);
    }
    return panel;
}

QLabel* MakeLabel(QWidget* parent, const char* text, int x, int y) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->move(x, y);
    label->adjustSize();
    return label;
}

void MakeSeparator(QWidget* parent, int y, int width) {
    auto* line = new QFrame(parent);
    line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    line->setGeometry(0, y, width, 2);
}

template <class W>
W* Named(W* widget, const char* name, const char* hint = nullptr) {
    widget->setObjectName(QString::fromLatin1(name));
    if (hint != nullptr) widget->setToolTip(QString::fromUtf8(hint));
    return widget;
}

}  // namespace

MainWindow::MainWindow(std::filesystem::path pluginFile, std::unique_ptr<Prompts> prompts,
                       std::unique_ptr<QSettings> settings, Voicebank* voicebank)
    : pluginFile_(std::move(pluginFile)),
      prompts_(prompts ? std::move(prompts) : std::make_unique<QtPrompts>(this)),
      settings_(settings ? std::move(settings) : OpenWindowSettingsStore()),
      voicebank_(voicebank != nullptr ? voicebank : &DefaultVoicebank()) {
    setObjectName(QStringLiteral("MainWindow"));
    CreateControls();
    ConnectEvents();
    RestoreSettings();
}

MainWindow::~MainWindow() {
    // FormDestroy: everything the window owns is released by its members.
    // The widgets outlive them (Qt deletes children last), so their events
    // must no longer reach this window.
    for (QObject* child : findChildren<QWidget*>()) child->removeEventFilter(this);
    StopPreviewRender();
    player_.Stop();
}

void MainWindow::Guard(const std::function<void()>& work) {
    // While a load runs on its worker, the session belongs to it: events
    // that reach the window meanwhile do nothing.
    if (busy_) return;
    RunGuarded(*prompts_, work);
}

QString MainWindow::StatusText() const { return statusPanel_->text(); }

// ---- Controls ----------------------------------------------------------------

void MainWindow::CreateControls() {
    setWindowTitle(QString::fromUtf8(kWindowCaption));
    setFont(WindowFont());
    // The face colour is the style's own button face (Qt's default palette).

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    setCentralWidget(client);

    lanesPanel_ = MakePanel(client, "LanesPanel", true);
    laneLabelsPanel_ = MakePanel(lanesPanel_, "LaneLabelsPanel", false);
    for (const LaneGeometry* lane : kLanes.Lanes()) {
        QLabel* label = MakeLabel(laneLabelsPanel_, std::string(lane->Label).c_str(), lane->LabelX,
                                  lane->LabelY);
        // A label wider than the column (「スペクトル」 in most fonts) is set
        // smaller until it fits, never cut.
        QFont font = label->font();
        while (label->sizeHint().width() > kLaneLabelsWidth - lane->LabelX &&
               font.pixelSize() > 8) {
            font.setPixelSize(font.pixelSize() - 1);
            label->setFont(font);
            label->adjustSize();
        }
    }
    for (const LaneGeometry* lane : kLanes.Lanes()) {
        if (lane->Top > 0) MakeSeparator(laneLabelsPanel_, lane->Top, kLaneLabelsWidth);
    }
    MakeSeparator(laneLabelsPanel_, kLanes.LabelsBottom, kLaneLabelsWidth);
    spectrumRangeBar_ = Named(new QScrollBar(Qt::Vertical, laneLabelsPanel_), "SpectrumRangeBar",
                              "スペクトルの表示濃度を変更します");
    spectrumRangeBar_->setGeometry(8, kLanes.Spectrum.Top + kLanes.SpectrumBarOffset, 9, 81);
    spectrumRangeBar_->setRange(1, 100);

    surfacePanel_ = MakePanel(lanesPanel_, "SurfacePanel", false);
    surface_ = Named(new DrawingSurface(surfacePanel_), "DrawingSurface");
    lyricEdit_ = Named(new QLineEdit(surfacePanel_), "LyricEdit");
    lyricsEdit_ = Named(new QLineEdit(surfacePanel_), "LyricsEdit");
    for (QLineEdit* edit : {lyricEdit_, lyricsEdit_}) {
        edit->setGeometry(0, kLanes.LyricEditTop(), kLanes.LyricEditMinWidth,
                          kLanes.LyricEditHeight);
        edit->hide();
    }
    scrollPanel_ = MakePanel(surfacePanel_, "ScrollPanel", false);
    zoomArrows_ = Named(new ArrowStepper(scrollPanel_), "ZoomArrows");
    zoomArrows_->SetRange(kZoomOutmostPosition, 8);
    zoomArrows_->SetPosition(1);
    zoomArrows_->setToolTip(U("表示倍率を変更します (Ctrl+ホイール)"));
    zoomFitButton_ = Named(new QToolButton(scrollPanel_), "ZoomFitButton",
                           "全体を表示できる倍率にします (0キー)");
    zoomFitButton_->setText(U("全体"));
    zoomFitButton_->setAutoRaise(true);
    zoomLabel_ =
        Named(new QLabel(scrollPanel_), "ZoomLabel", "表示倍率 (1フレームあたりのピクセル数)");
    zoomLabel_->setAlignment(Qt::AlignCenter);
    timeScrollBar_ = Named(new QScrollBar(Qt::Horizontal, scrollPanel_), "TimeScrollBar");
    timeScrollBar_->setRange(0, 0);

    loadRecordingButton_ = Named(new QPushButton(U("音声読込"), client), "LoadRecordingButton",
                                 "トレースする音声ファイルを読み込みます");
    loadRecordingButton_->setGeometry(8, 360, 75, 57);
    saveEditStateButton_ = Named(new QPushButton(U("編集状態の保存"), client),
                                 "SaveEditStateButton", "編集中の状態をファイルに保存します");
    saveEditStateButton_->setGeometry(112, 360, 89, 25);
    loadEditStateButton_ = Named(new QPushButton(U("編集状態の読込"), client),
                                 "LoadEditStateButton", "過去に保存した編集状態を読み込みます");
    loadEditStateButton_->setGeometry(112, 392, 89, 25);
    autoSegmentButton_ = Named(new QPushButton(U("自動区切"), client), "AutoSegmentButton",
                               "区切り位置を自動設定します");
    autoSegmentButton_->setGeometry(216, 360, 75, 57);
    replaceSelectionCheck_ =
        Named(new QCheckBox(U("選択ノートを置き換える"), client), "ReplaceSelectionCheck",
              "エディタで選択したノートを、挿入する音符で置き換えます。外すと選択ノートは新しい音符"
              "の後ろに残ります");
    replaceSelectionCheck_->setChecked(true);

    insertPanel_ = MakePanel(client, "InsertPanel", false);
    traceModeButton_ =
        Named(new QToolButton(insertPanel_), "TraceModeButton", "現在の歌手で音声を再現します");
    traceModeButton_->setText(U("トレースモード"));
    traceModeButton_->setGeometry(4, 16, 89, 25);
    traceModeButton_->setProperty("tag", 0);
    correctionModeButton_ = Named(new QToolButton(insertPanel_), "CorrectionModeButton",
                                  "元音声を音源化しUTAU上で再現します");
    correctionModeButton_->setText(U("音声補正モード"));
    correctionModeButton_->setGeometry(4, 48, 89, 25);
    correctionModeButton_->setProperty("tag", 1);
    for (QToolButton* button : {correctionModeButton_, traceModeButton_}) {
        button->setCheckable(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    }
    traceModeButton_->setChecked(true);

    noteOptionsGroup_ = Named(new QGroupBox(insertPanel_), "NoteOptionsGroup");
    noteOptionsGroup_->setGeometry(96, 0, 129, 89);
    keyCheck_ =
        Named(new QCheckBox(U("キー"), noteOptionsGroup_), "KeyCheck", "音符のキーを推定します");
    keyCheck_->setGeometry(16, 6, 97, 17);
    pitchCheck_ = Named(new QCheckBox(U("ピッチ"), noteOptionsGroup_), "PitchCheck",
                        "ピッチを適用します(Mode1)");
    pitchCheck_->setGeometry(16, 26, 97, 17);
    volumeCheck_ = Named(new QCheckBox(U("音量"), noteOptionsGroup_), "VolumeCheck",
                         "音量を適用します(エンベロープ)");
    volumeCheck_->setGeometry(16, 46, 97, 17);
    voicingCheck_ = Named(new QCheckBox(U("有声判定"), noteOptionsGroup_), "VoicingCheck",
                          "子音や息から拾った不確かなピッチを使わず、前後の声のピッチでつなぎます");
    voicingCheck_->setGeometry(16, 66, 97, 17);
    for (QCheckBox* box : {keyCheck_, pitchCheck_, volumeCheck_, voicingCheck_})
        box->setChecked(true);

    // The voice correction timing takes the place of キー, ピッチ and 音量 (which
    // do not apply in that mode, and are hidden then); 有声判定 applies in both
    // modes and stays below it.
    correctionPanel_ = MakePanel(noteOptionsGroup_, "CorrectionPanel", false);
    correctionPanel_->setGeometry(2, 4, 125, 60);
    correctionPanel_->setAutoFillBackground(true);
    MakeLabel(correctionPanel_, "先行発声", 4, 1);
    MakeLabel(correctionPanel_, "ｵｰﾊﾞｰﾗｯﾌﾟ", 4, 21);
    MakeLabel(correctionPanel_, "子音部", 4, 41);
    preUtteranceEdit_ = Named(new QLineEdit(correctionPanel_), "PreUtteranceEdit",
                              "音声補正モードで音符に適用する先行発声");
    preUtteranceEdit_->setGeometry(68, 0, 52, 19);
    overlapEdit_ = Named(new QLineEdit(correctionPanel_), "OverlapEdit",
                         "音声補正モードで音符に適用するオーバーラップ");
    overlapEdit_->setGeometry(68, 20, 52, 19);
    consonantEdit_ = Named(new QLineEdit(correctionPanel_), "ConsonantEdit",
                           "音声補正モードで音符に適用する子音部");
    consonantEdit_->setGeometry(68, 40, 52, 19);
    correctionPanel_->hide();

    pitchModeCombo_ =
        Named(new QComboBox(insertPanel_), "PitchModeCombo",
              "ピッチを書き込むModeを選択（OpenUtauはMode2だけを読み、エンベロープも読みません）");
    pitchModeCombo_->addItems({QStringLiteral("Mode1"), QStringLiteral("Mode2")});
    pitchModeCombo_->setCurrentIndex(1);
    pitchModeCombo_->setGeometry(232, 6, 65, 20);
    insertButton_ = Named(new QPushButton(U("挿入"), insertPanel_), "InsertButton",
                          "UTAUエディタに音符を挿入します");
    insertButton_->setGeometry(232, 32, 65, 33);
    cancelButton_ = Named(new QPushButton(U("キャンセル"), insertPanel_), "CancelButton");
    cancelButton_->setGeometry(232, 72, 65, 17);

    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setFixedHeight(kStatusBarHeight);
    bar->setSizeGripEnabled(true);
    statusPanel_ = new QLabel(U("メロドリフト"), bar);
    statusPanel_->setObjectName(QStringLiteral("StatusPanel"));
    statusPanel_->setFixedWidth(kStatusPanelWidth);
    bar->addWidget(statusPanel_);
    // The keys panel names the two keys nobody finds by pointing; its tooltip
    // lists every key and mouse gesture.
    keysPanel_ =
        Named(new QLabel(U("Ctrl+Z=元に戻す　Ctrl+Y=やり直し"), bar), "KeysPanel",
              "Ctrl+Z=元に戻す\nCtrl+Shift+Z / "
              "Ctrl+Y=やり直し\nSpace=ポインタの位置の区間(または直前のプレビュー)を再生\n"
              "Esc=再生・プレビュー作成を中止、歌詞の編集を取り消し\nDelete="
              "ポインタに最も近い区切りを削除\n"
              "ホイール=時間方向にスクロール　Ctrl+ホイール=ポインタの位置を中心に拡大・縮小\n0="
              "全体表示\n"
              "Ctrl+S=編集状態の保存　Ctrl+O=音声読込\n区切りを右クリック=区切り削除のメニュー");
    // Shown while previews cannot play for want of an output device; hints
    // and other messages never replace it.
    noOutputPanel_ = Named(new QLabel(QString::fromUtf8(kNoOutputDeviceMessage.data(),
                                                        qsizetype(kNoOutputDeviceMessage.size())),
                                      bar),
                           "NoOutputPanel");
    bar->addPermanentWidget(noOutputPanel_);
    noOutputPanel_->hide();
    bar->addPermanentWidget(keysPanel_);

    // Size limits and the design size; Qt measures the client area.
    setMinimumSize(kMinOuterWidth - kFrameExtraWidth, kMinOuterHeight - kFrameExtraHeight);
    setMaximumHeight(kMaxOuterHeight - kFrameExtraHeight);
    resize(kDesignOuterWidth - kFrameExtraWidth, kDesignOuterHeight - kFrameExtraHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kDesignOuterWidth / 2, kDesignOuterHeight / 2));
    }
}

void MainWindow::ConnectEvents() {
    for (QCheckBox* box : {keyCheck_, pitchCheck_, volumeCheck_, voicingCheck_}) {
        connect(box, &QCheckBox::toggled, this, [this, box] { NoteOptionToggled(box); });
    }
    connect(pitchModeCombo_, &QComboBox::activated, this, [this] { PitchModeChanged(); });
    connect(replaceSelectionCheck_, &QCheckBox::toggled, this,
            [this](bool on) { session_.ReplaceSelection = on; });
    for (QToolButton* button : {correctionModeButton_, traceModeButton_}) {
        connect(button, &QToolButton::clicked, this, [this, button] { ModeButtonClicked(button); });
    }
    connect(insertButton_, &QPushButton::clicked, this, [this] { InsertClicked(); });
    connect(cancelButton_, &QPushButton::clicked, this, [this] { CancelClicked(); });
    connect(loadRecordingButton_, &QPushButton::clicked, this, [this] { LoadRecordingClicked(); });
    connect(saveEditStateButton_, &QPushButton::clicked, this, [this] { SaveEditStateClicked(); });
    connect(loadEditStateButton_, &QPushButton::clicked, this, [this] { LoadEditStateClicked(); });
    connect(autoSegmentButton_, &QPushButton::clicked, this, [this] { AutoSegmentClicked(); });
    zoomArrows_->Changing = [this](int value) { ZoomChanging(value); };
    connect(zoomFitButton_, &QToolButton::clicked, this, [this] { ZoomToFitClicked(); });
    connect(timeScrollBar_, &QScrollBar::valueChanged, this, [this] { TimeScrollChanged(); });
    // The spectrum range applies when a scroll ends: on release of the thumb,
    // or at once for arrow, page and key steps (which end as they start).
    connect(spectrumRangeBar_, &QScrollBar::sliderReleased, this,
            [this] { SpectrumRangeChanged(); });
    connect(spectrumRangeBar_, &QScrollBar::valueChanged, this, [this] {
        if (!spectrumRangeBar_->isSliderDown()) SpectrumRangeChanged();
    });
    surface_->MouseDown = [this](Qt::MouseButton b, bool dbl, int x, int y) {
        SurfaceMouseDown(b, dbl, x, y);
    };
    surface_->MouseMove = [this](int x, int y) { SurfaceMouseMove(x, y); };
    surface_->MouseUp = [this](Qt::MouseButton b, int x, int y) { SurfaceMouseUp(b, x, y); };
    surface_->Wheel = [this](int delta, bool zoom, int x) { SurfaceWheel(delta, zoom, x); };
    CreateKeys();

    for (QLineEdit* edit :
         {preUtteranceEdit_, overlapEdit_, consonantEdit_, lyricEdit_, lyricsEdit_})
        edit->installEventFilter(this);
    const QList<QWidget*> hinted = {centralWidget(),
                                    laneLabelsPanel_,
                                    zoomArrows_,
                                    insertPanel_,
                                    correctionModeButton_,
                                    traceModeButton_,
                                    noteOptionsGroup_,
                                    keyCheck_,
                                    pitchCheck_,
                                    volumeCheck_,
                                    preUtteranceEdit_,
                                    overlapEdit_,
                                    consonantEdit_,
                                    insertButton_,
                                    cancelButton_,
                                    loadRecordingButton_,
                                    saveEditStateButton_,
                                    loadEditStateButton_,
                                    autoSegmentButton_,
                                    replaceSelectionCheck_,
                                    statusBar()};
    for (QWidget* widget : hinted) widget->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    auto* edit = qobject_cast<QLineEdit*>(watched);
    // Leaving an edit means the focus moved to another control of this
    // window; the window itself losing the focus (another program, a popup)
    // leaves the edit as it is.
    const auto leftWithinWindow = [event] {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
    };
    if (edit != nullptr && event->type() == QEvent::FocusOut && leftWithinWindow()) {
        if (edit == lyricEdit_ || edit == lyricsEdit_) {
            LyricEditExit(edit);
        } else {
            CorrectionEditExited(edit);
        }
    } else if (edit != nullptr && event->type() == QEvent::KeyPress &&
               (edit == lyricEdit_ || edit == lyricsEdit_)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            LyricEditKeyDown(edit, key);
            return true;
        }
        if (key == Qt::Key_Escape) {  // closes the edit without taking its text
            AbandonLyricEdit();
            return true;
        }
    } else if (event->type() == QEvent::Enter) {
        if (auto* widget = qobject_cast<QWidget*>(watched)) ShowHintOf(widget);
    } else if (event->type() == QEvent::Leave) {
        if (auto* widget = qobject_cast<QWidget*>(watched);
            widget != nullptr && widget->parentWidget() != nullptr) {
            ShowHintOf(widget->parentWidget());
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::ShowHintOf(QWidget* sender) {
    Guard([&] { SetStatus(sender->toolTip()); });
}

int MainWindow::NoOutputPanelWidth() const {
    return noOutputPanel_ != nullptr && !noOutputPanel_->isHidden()
               ? noOutputPanel_->sizeHint().width() + kStatusMargin
               : 0;
}

void MainWindow::SetStatus(const QString& text) {
    // The panel is as wide as its text needs (never narrower than the
    // design's 300 pixels), so no help is ever cut.
    statusPanel_->setText(text);
    const int needed = statusPanel_->fontMetrics().horizontalAdvance(text) + kStatusMargin;
    statusPanel_->setFixedWidth(std::max(kStatusPanelWidth, needed));
    if (keysPanel_ != nullptr) {
        const int width = centralWidget()->width();
        keysPanel_->setVisible(width >= statusPanel_->width() + NoOutputPanelWidth() +
                                            keysPanel_->sizeHint().width() + 2 * kStatusMargin);
    }
}

// ---- Creation, settings, closing ----------------------------------------------

void MainWindow::RestoreSettings() {
    session_.WaveFileName.clear();
    session_.CorrectionMode = false;
    session_.CursorX = -1;
    Guard([&] {
        session_.Notes = std::make_unique<NoteList>(voicebank_);
        session_.Notes->LoadFromPluginFile(pluginFile_, *prompts_);
        // A tempo that cannot place notes is told now, not after the editing.
        if (session_.Notes->IsLoaded() && !UsableTempo(session_.Notes->Tempo)) {
            prompts_->Beep();
            prompts_->Error(kUnusableTempoMessage);
        }
        replaceSelectionCheck_->setText(ReplaceSelectionCaption(session_.Notes.get()));
    });
    session_.KeyEnabled = session_.PitchEnabled = session_.VolumeEnabled = true;
    session_.VoicingCheck = true;
    WindowSettings stored;
    Guard([&] { stored = ReadWindowSettings(*settings_); });
    ApplySettings(stored);
    created_ = true;
    LayOutControls();
}

void MainWindow::ApplySettings(const WindowSettings& s) {
    keyCheck_->setChecked(s.Key);
    pitchCheck_->setChecked(s.Pitch);
    volumeCheck_->setChecked(s.Volume);
    voicingCheck_->setChecked(s.Voicing);
    // The zoom control's position is the stored value within its range;
    // Scale is the value clamped to 1..8 (the same number).
    zoomArrows_->Changing = nullptr;
    zoomArrows_->SetPosition(std::clamp(s.HScale, 1, 8));
    zoomArrows_->Changing = [this](int value) { ZoomChanging(value); };
    session_.SetScale(s.HScale);
    {
        const QSignalBlocker block(spectrumRangeBar_);
        spectrumRangeBar_->setValue(s.SpectrumRange);
    }
    session_.SpectrumDensity = float(spectrumRangeBar_->value());
    session_.CorrectionConsonant = s.CorrectionConsonant;
    session_.CorrectionPreUtterance = s.CorrectionPreUtterance;
    session_.CorrectionOverlap = s.CorrectionOverlap;
    // An index outside the list keeps the default "Mode2".
    pitchModeCombo_->setCurrentIndex(s.Mode >= 0 && s.Mode < pitchModeCombo_->count() ? s.Mode : 1);
    session_.PitchMode = PitchEncodingOfItem(pitchModeCombo_->currentIndex());
    replaceSelectionCheck_->setChecked(s.ReplaceSelection);
    session_.ReplaceSelection = s.ReplaceSelection;
    if (s.CreateMode) correctionModeButton_->click();
    preUtteranceEdit_->setText(QString::number(RoundHalfUpTrunc(session_.CorrectionPreUtterance)));
    overlapEdit_->setText(QString::number(RoundHalfUpTrunc(session_.CorrectionOverlap)));
    consonantEdit_->setText(QString::number(RoundHalfUpTrunc(session_.CorrectionConsonant)));
    session_.SpectrumDensity = float(spectrumRangeBar_->value());
}

WindowSettings MainWindow::CurrentSettings() const {
    WindowSettings s;
    s.Key = keyCheck_->isChecked();
    s.Pitch = pitchCheck_->isChecked();
    s.Volume = volumeCheck_->isChecked();
    s.Voicing = voicingCheck_->isChecked();
    s.HScale = session_.Scale;  // a zoom out is not kept
    s.SpectrumRange = spectrumRangeBar_->value();
    s.CreateMode = session_.CorrectionMode;
    s.CorrectionConsonant = int(RoundHalfUpTrunc(session_.CorrectionConsonant));
    s.CorrectionPreUtterance = int(RoundHalfUpTrunc(session_.CorrectionPreUtterance));
    s.CorrectionOverlap = int(RoundHalfUpTrunc(session_.CorrectionOverlap));
    s.Mode = pitchModeCombo_->currentIndex();
    s.ReplaceSelection = replaceSelectionCheck_->isChecked();
    return s;
}

void MainWindow::SaveSettings() {
    Guard([&] { WriteWindowSettings(*settings_, CurrentSettings()); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (busy_) {  // a load is running; it ends first
        event->ignore();
        return;
    }
    if (!insertDone_ && !ConfirmDiscardEdits()) {
        event->ignore();
        return;
    }
    SaveSettings();
    StopPreviewRender();
    player_.Stop();
    event->accept();
}

bool MainWindow::ConfirmDiscardEdits() {
    if (!history_.HasUnsavedEdits()) return true;
    bool discard = false;
    RunGuarded(*prompts_, [&] {
        prompts_->Beep();
        discard = prompts_->AskYesNo(kUnsavedEditsQuestion);
    });
    return discard;
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    LayOutControls();
}

void MainWindow::PlaceZoomStrip() {
    // Zoomed out the label reads "1px = 1.2 s" and takes more room from the scroll bar.
    const int labelWidth = session_.View().Overview() ? kZoomOutLabelWidth : kZoomLabelWidth;
    const int stripWidth = scrollPanel_->width();
    zoomLabel_->setGeometry(kZoomArrowsWidth, 0, labelWidth, kScrollPanelHeight);
    zoomFitButton_->setGeometry(kZoomArrowsWidth + labelWidth, 0, kZoomFitWidth,
                                kScrollPanelHeight);
    const int scrollLeft = kZoomArrowsWidth + labelWidth + kZoomFitWidth;
    timeScrollBar_->setGeometry(scrollLeft, 0, std::max(0, stripWidth - scrollLeft),
                                kScrollPanelHeight);
}

void MainWindow::LayOutControls() {
    QWidget* client = centralWidget();
    const int width = client->width();
    const int height = client->height();
    lanesPanel_->setGeometry(0, 0, width, kLanesPanelHeight);
    const int inner = kLanesPanelHeight - 2 * kBevel;
    laneLabelsPanel_->setGeometry(kBevel, kBevel, kLaneLabelsWidth, inner);
    const int surfaceWidth = std::max(0, width - 2 * kBevel - kLaneLabelsWidth);
    surfacePanel_->setGeometry(kBevel + kLaneLabelsWidth, kBevel, surfaceWidth, inner);
    surface_->setGeometry(0, 0, surfaceWidth, inner - kScrollPanelHeight);
    scrollPanel_->setGeometry(0, inner - kScrollPanelHeight, surfaceWidth, kScrollPanelHeight);
    zoomArrows_->setGeometry(0, 0, kZoomArrowsWidth, kScrollPanelHeight);
    PlaceZoomStrip();
    // The keys panel gives way to the help text when the window is narrow.
    if (keysPanel_ != nullptr) {
        keysPanel_->setVisible(width >= statusPanel_->width() + NoOutputPanelWidth() +
                                            keysPanel_->sizeHint().width() + 2 * kStatusMargin);
    }
    insertPanel_->setGeometry(width - kInsertPanelWidth, kLanesPanelHeight, kInsertPanelWidth,
                              std::max(0, height - kLanesPanelHeight));
    replaceSelectionCheck_->setGeometry(8, kLanesPanelHeight + 72,
                                        std::max(0, width - kInsertPanelWidth - 16), 17);
    if (created_) Guard([&] { UpdateLayout(); });
}

}  // namespace melodrift

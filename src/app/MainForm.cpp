// The window's construction, layout, settings, mode switch and buttons.
#include "MainForm.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QThread>
#include <QToolButton>

#include "QtPrompts.h"
#include "RunGuarded.h"
#include "Widgets.h"
#include "editor/Insertion.h"
#include "plugin/PluginFile.h"
#include "text/NumberFormat.h"
#include "voicebank/Voicebank.h"

namespace melodrift {

namespace {

// Heights and widths of the fixed parts, pixels.
constexpr int kPanel1Height = 353;
constexpr int kPanel2Width = 57;
constexpr int kPanel4Height = 16;
constexpr int kPanel6Width = 305;
constexpr int kStatusBarHeight = 19;
constexpr int kStatusPanelWidth = 300;
constexpr int kUpDownWidth = 33;
constexpr int kBevel = 1;  // raised border of Panel1

QString U(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

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

// What the progress dialog says during each stage of a load.
QString StageLabel(std::string_view stage) {
    if (stage == "read") return QString::fromUtf8("音声を読み込んでいます...");
    if (stage == "analyse") return QString::fromUtf8("分析しています...");
    if (stage == "measure") return QString::fromUtf8("倍音を測定しています...");
    if (stage == "images") return QString::fromUtf8("表示を準備しています...");
    return QString::fromUtf8("分析しています...");
}

template <class W>
W* Named(W* widget, const char* name, const char* hint = nullptr) {
    widget->setObjectName(QString::fromLatin1(name));
    if (hint != nullptr) widget->setToolTip(QString::fromUtf8(hint));
    return widget;
}

}  // namespace

TForm1::TForm1(std::filesystem::path pluginFile, std::unique_ptr<Prompts> prompts,
               std::unique_ptr<QSettings> settings, Voicebank* voicebank)
    : pluginFile_(std::move(pluginFile)),
      prompts_(prompts ? std::move(prompts) : std::make_unique<QtPrompts>(this)),
      settings_(settings ? std::move(settings) : OpenFormSettingsStore()),
      voicebank_(voicebank != nullptr ? voicebank : &DefaultVoicebank()) {
    setObjectName(QStringLiteral("Form1"));
    CreateControls();
    ConnectEvents();
    FormCreate();
}

TForm1::~TForm1() {
    // FormDestroy: everything the window owns is released by its members.
    // The widgets outlive them (Qt deletes children last), so their events
    // must no longer reach this window.
    for (QObject* child : findChildren<QWidget*>()) child->removeEventFilter(this);
    player_.Stop();
}

void TForm1::Guard(const std::function<void()>& work) {
    // While a load runs on its worker, the session belongs to it: events
    // that reach the window meanwhile do nothing.
    if (busy_) return;
    RunGuarded(*prompts_, work);
}

QString TForm1::StatusText() const {
    return statusPanel_->text();
}

// ---- Controls ----------------------------------------------------------------

void TForm1::CreateControls() {
    setWindowTitle(QString::fromUtf8(kWindowCaption));
    setFont(WindowFont());
    // The face colour is the style's own button face (Qt's default palette).

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    setCentralWidget(client);

    panel1_ = MakePanel(client, "Panel1", true);
    panel2_ = MakePanel(panel1_, "Panel2", false);
    MakeLabel(panel2_, "音量", 8, 8);
    MakeLabel(panel2_, "スペクトル", 1, 58);
    MakeLabel(panel2_, "ピッチ", 8, 188);
    MakeLabel(panel2_, "歌詞", 8, 318);
    for (int y : {50, 180, 310, 334}) MakeSeparator(panel2_, y, kPanel2Width);
    scrollBar1_ = Named(new QScrollBar(Qt::Vertical, panel2_), "ScrollBar1", "スペクトルの表示濃度を変更します");
    scrollBar1_->setGeometry(8, 80, 9, 81);
    scrollBar1_->setRange(1, 100);

    panel3_ = MakePanel(panel1_, "Panel3", false);
    drawImage_ = Named(new TDrawSurface(panel3_), "DrawImage");
    lyricEdit_ = Named(new QLineEdit(panel3_), "LyricEdit");
    lyricsEdit_ = Named(new QLineEdit(panel3_), "LyricsEdit");
    for (QLineEdit* edit : {lyricEdit_, lyricsEdit_}) {
        edit->setGeometry(0, 309, 24, 20);
        edit->hide();
    }
    panel4_ = MakePanel(panel3_, "Panel4", false);
    upDown1_ = Named(new THorizontalUpDown(panel4_), "UpDown1");
    upDown1_->SetRange(1, 8);
    upDown1_->SetPosition(1);
    mainSB_ = Named(new QScrollBar(Qt::Horizontal, panel4_), "MainSB");
    mainSB_->setRange(0, 0);

    button3_ = Named(new QPushButton(U("音声読込"), client), "Button3", "トレースする音声ファイルを読み込みます");
    button3_->setGeometry(8, 360, 75, 57);
    button4_ = Named(new QPushButton(U("編集状態の保存"), client), "Button4", "編集中の状態をファイルに保存します");
    button4_->setGeometry(112, 360, 89, 25);
    button5_ = Named(new QPushButton(U("編集状態の読込"), client), "Button5", "過去に保存した編集状態を読み込みます");
    button5_->setGeometry(112, 392, 89, 25);
    button6_ = Named(new QPushButton(U("自動区切"), client), "Button6", "区切り位置を自動設定します");
    button6_->setGeometry(216, 360, 75, 57);
    button6_->hide();

    panel6_ = MakePanel(client, "Panel6", false);
    speedButton2_ = Named(new QToolButton(panel6_), "SpeedButton2", "現在の歌手で音声を再現します");
    speedButton2_->setText(U("トレースモード"));
    speedButton2_->setGeometry(4, 16, 89, 25);
    speedButton2_->setProperty("tag", 0);
    speedButton1_ = Named(new QToolButton(panel6_), "SpeedButton1", "元音声を音源化しUTAU上で再現します");
    speedButton1_->setText(U("音声補正モード"));
    speedButton1_->setGeometry(4, 48, 89, 25);
    speedButton1_->setProperty("tag", 1);
    for (QToolButton* button : {speedButton1_, speedButton2_}) {
        button->setCheckable(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    }
    speedButton2_->setChecked(true);

    groupBox1_ = Named(new QGroupBox(panel6_), "GroupBox1");
    groupBox1_->setGeometry(96, 0, 129, 89);
    checkBox1_ = Named(new QCheckBox(U("キー"), groupBox1_), "CheckBox1", "音符のキーを推定します");
    checkBox1_->setGeometry(16, 14, 97, 17);
    checkBox2_ = Named(new QCheckBox(U("ピッチ"), groupBox1_), "CheckBox2", "ピッチを適用します(Mode1)");
    checkBox2_->setGeometry(16, 38, 97, 17);
    checkBox3_ = Named(new QCheckBox(U("音量"), groupBox1_), "CheckBox3", "音量を適用します(エンベロープ)");
    checkBox3_->setGeometry(16, 62, 97, 17);
    for (QCheckBox* box : {checkBox1_, checkBox2_, checkBox3_}) box->setChecked(true);

    panel7_ = MakePanel(groupBox1_, "Panel7", false);
    panel7_->setGeometry(2, 8, 125, 79);
    panel7_->setAutoFillBackground(true);
    MakeLabel(panel7_, "先行発声", 4, 6);
    MakeLabel(panel7_, "ｵｰﾊﾞｰﾗｯﾌﾟ", 4, 30);
    MakeLabel(panel7_, "子音部", 4, 54);
    edit1_ = Named(new QLineEdit(panel7_), "Edit1", "音声補正モードで音符に適用する先行発声");
    edit1_->setGeometry(68, 2, 52, 21);
    edit2_ = Named(new QLineEdit(panel7_), "Edit2", "音声補正モードで音符に適用するオーバーラップ");
    edit2_->setGeometry(68, 27, 52, 21);
    edit3_ = Named(new QLineEdit(panel7_), "Edit3", "音声補正モードで音符に適用する子音部");
    edit3_->setGeometry(68, 52, 52, 21);
    panel7_->hide();

    comboBox1_ = Named(new QComboBox(panel6_), "ComboBox1", "ピッチを書き込むModeを選択");
    comboBox1_->addItems({QStringLiteral("Mode1"), QStringLiteral("Mode2")});
    comboBox1_->setCurrentIndex(1);
    comboBox1_->setGeometry(232, 6, 65, 20);
    button1_ = Named(new QPushButton(U("挿入"), panel6_), "Button1", "UTAUエディタに音符を挿入します");
    button1_->setGeometry(232, 32, 65, 33);
    button2_ = Named(new QPushButton(U("キャンセル"), panel6_), "Button2");
    button2_->setGeometry(232, 72, 65, 17);

    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setFixedHeight(kStatusBarHeight);
    bar->setSizeGripEnabled(true);
    statusPanel_ = new QLabel(U("メロドリフト"), bar);
    statusPanel_->setObjectName(QStringLiteral("StatusPanel0"));
    statusPanel_->setFixedWidth(kStatusPanelWidth);
    bar->addWidget(statusPanel_);

    // Size limits and the design size; Qt measures the client area.
    setMinimumSize(kMinOuterWidth - kFrameExtraWidth, kMinOuterHeight - kFrameExtraHeight);
    setMaximumHeight(kMaxOuterHeight - kFrameExtraHeight);
    resize(kDesignOuterWidth - kFrameExtraWidth, kDesignOuterHeight - kFrameExtraHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kDesignOuterWidth / 2, kDesignOuterHeight / 2));
    }
}

void TForm1::ConnectEvents() {
    for (QCheckBox* box : {checkBox1_, checkBox2_, checkBox3_}) {
        connect(box, &QCheckBox::toggled, this, [this, box] { CheckBox3Click(box); });
    }
    connect(comboBox1_, &QComboBox::activated, this, [this] { ComboBox1Change(); });
    for (QToolButton* button : {speedButton1_, speedButton2_}) {
        connect(button, &QToolButton::clicked, this, [this, button] { SpeedButton1Click(button); });
    }
    connect(button1_, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(button2_, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(button3_, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(button4_, &QPushButton::clicked, this, [this] { Button4Click(); });
    connect(button5_, &QPushButton::clicked, this, [this] { Button5Click(); });
    connect(button6_, &QPushButton::clicked, this, [this] { Button6Click(); });
    upDown1_->Changing = [this](int value) { UpDown1ChangingEx(value); };
    connect(mainSB_, &QScrollBar::valueChanged, this, [this] { MainSBChange(); });
    // The spectrum range applies when a scroll ends: on release of the thumb,
    // or at once for arrow, page and key steps (which end as they start).
    connect(scrollBar1_, &QScrollBar::sliderReleased, this, [this] { ScrollBar1Scroll(); });
    connect(scrollBar1_, &QScrollBar::valueChanged, this, [this] {
        if (!scrollBar1_->isSliderDown()) ScrollBar1Scroll();
    });
    drawImage_->MouseDown = [this](Qt::MouseButton b, bool dbl, int x, int y) { CsrImageMouseDown(b, dbl, x, y); };
    drawImage_->MouseMove = [this](int x, int y) { F0ImageMouseMove(x, y); };
    drawImage_->MouseUp = [this](Qt::MouseButton b, int x, int y) { CsrImageMouseUp(b, x, y); };

    for (QLineEdit* edit : {edit1_, edit2_, edit3_, lyricEdit_, lyricsEdit_}) edit->installEventFilter(this);
    const QList<QWidget*> hinted = {centralWidget(), panel2_, upDown1_, panel6_, speedButton1_, speedButton2_,
                                    groupBox1_, checkBox1_, checkBox2_, checkBox3_, edit1_, edit2_, edit3_,
                                    button1_, button2_, button3_, button4_, button5_, button6_, statusBar()};
    for (QWidget* widget : hinted) widget->installEventFilter(this);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
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
            Edit1Exit(edit);
        }
    } else if (edit != nullptr && event->type() == QEvent::KeyPress &&
               (edit == lyricEdit_ || edit == lyricsEdit_)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            LyricEditKeyDown(edit, key);
            return true;
        }
    } else if (event->type() == QEvent::Enter) {
        if (auto* widget = qobject_cast<QWidget*>(watched)) FormMouseMove(widget);
    } else if (event->type() == QEvent::Leave) {
        if (auto* widget = qobject_cast<QWidget*>(watched); widget != nullptr && widget->parentWidget() != nullptr) {
            FormMouseMove(widget->parentWidget());
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::FormMouseMove(QWidget* sender) {
    Guard([&] { statusPanel_->setText(sender->toolTip()); });
}

// ---- Creation, settings, closing ----------------------------------------------

void TForm1::FormCreate() {
    session_.WaveFileName.clear();
    session_.CorrectionMode = false;
    session_.CursorX = -1;
    Guard([&] {
        session_.Notes = std::make_unique<TUtauNotes>(voicebank_);
        session_.Notes->LoadFromPluginFile(pluginFile_, *prompts_);
    });
    session_.KeyEnabled = session_.PitchEnabled = session_.VolumeEnabled = true;
    FormSettings stored;
    Guard([&] { stored = ReadFormSettings(*settings_); });
    ApplySettings(stored);
    created_ = true;
    FormResize();
}

void TForm1::ApplySettings(const FormSettings& s) {
    checkBox1_->setChecked(s.Key);
    checkBox2_->setChecked(s.Pitch);
    checkBox3_->setChecked(s.Volume);
    // The zoom control's position is the stored value within its range;
    // Scale is the value clamped to 1..8 (the same number).
    upDown1_->Changing = nullptr;
    upDown1_->SetPosition(s.HScale);
    upDown1_->Changing = [this](int value) { UpDown1ChangingEx(value); };
    session_.SetScale(s.HScale);
    {
        const QSignalBlocker block(scrollBar1_);
        scrollBar1_->setValue(s.SpeqRange);
    }
    session_.SpectrumDensity = float(scrollBar1_->value());
    session_.CrConsonant = s.CrConsonant;
    session_.CrPreUtterance = s.CrPreUtterance;
    session_.CrVoiceOverlap = s.CrVoiceOverlap;
    // An index outside the list keeps the default "Mode2".
    comboBox1_->setCurrentIndex(s.Mode >= 0 && s.Mode < comboBox1_->count() ? s.Mode : 1);
    session_.PitchMode = comboBox1_->currentIndex() + 1;
    if (s.CreateMode) speedButton1_->click();
    edit1_->setText(QString::number(RoundHalfUpTrunc(session_.CrPreUtterance)));
    edit2_->setText(QString::number(RoundHalfUpTrunc(session_.CrVoiceOverlap)));
    edit3_->setText(QString::number(RoundHalfUpTrunc(session_.CrConsonant)));
    session_.SpectrumDensity = float(scrollBar1_->value());
}

FormSettings TForm1::CurrentSettings() const {
    FormSettings s;
    s.Key = checkBox1_->isChecked();
    s.Pitch = checkBox2_->isChecked();
    s.Volume = checkBox3_->isChecked();
    s.HScale = upDown1_->Position();
    s.SpeqRange = scrollBar1_->value();
    s.CreateMode = session_.CorrectionMode;
    s.CrConsonant = int(RoundHalfUpTrunc(session_.CrConsonant));
    s.CrPreUtterance = int(RoundHalfUpTrunc(session_.CrPreUtterance));
    s.CrVoiceOverlap = int(RoundHalfUpTrunc(session_.CrVoiceOverlap));
    s.Mode = comboBox1_->currentIndex();
    return s;
}

void TForm1::FormClose() {
    Guard([&] { WriteFormSettings(*settings_, CurrentSettings()); });
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (busy_) {  // a load is running; it ends first
        event->ignore();
        return;
    }
    FormClose();
    player_.Stop();
    event->accept();
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TForm1::FormResize() {
    QWidget* client = centralWidget();
    const int width = client->width();
    const int height = client->height();
    panel1_->setGeometry(0, 0, width, kPanel1Height);
    const int inner = kPanel1Height - 2 * kBevel;
    panel2_->setGeometry(kBevel, kBevel, kPanel2Width, inner);
    const int panel3Width = std::max(0, width - 2 * kBevel - kPanel2Width);
    panel3_->setGeometry(kBevel + kPanel2Width, kBevel, panel3Width, inner);
    drawImage_->setGeometry(0, 0, panel3Width, inner - kPanel4Height);
    panel4_->setGeometry(0, inner - kPanel4Height, panel3Width, kPanel4Height);
    upDown1_->setGeometry(0, 0, kUpDownWidth, kPanel4Height);
    mainSB_->setGeometry(kUpDownWidth, 0, std::max(0, panel3Width - kUpDownWidth), kPanel4Height);
    panel6_->setGeometry(width - kPanel6Width, kPanel1Height, kPanel6Width, std::max(0, height - kPanel1Height));
    if (created_) Guard([&] { UpdateLayout(); });
}

// ---- Controls' events ----------------------------------------------------------

void TForm1::CheckBox3Click(QCheckBox* sender) {
    Guard([&] {
        if (sender == checkBox1_) session_.KeyEnabled = sender->isChecked();
        if (sender == checkBox2_) session_.PitchEnabled = sender->isChecked();
        if (sender == checkBox3_) session_.VolumeEnabled = sender->isChecked();
    });
}

void TForm1::ComboBox1Change() {
    Guard([&] { session_.PitchMode = comboBox1_->currentIndex() + 1; });
}

void TForm1::SpeedButton1Click(QAbstractButton* sender) {
    Guard([&] {
        // The two buttons form a group that may be all up: a button pressed
        // down raises the other; SpeedButton1 shows the mode.
        session_.CorrectionMode = sender->property("tag").toInt() == 1;
        speedButton1_->setChecked(session_.CorrectionMode);
        if (sender == speedButton2_ && speedButton2_->isChecked()) speedButton1_->setChecked(false);
        if (session_.CorrectionMode) speedButton2_->setChecked(false);
        for (QCheckBox* box : {checkBox1_, checkBox2_, checkBox3_}) box->setEnabled(!session_.CorrectionMode);
        panel7_->setVisible(session_.CorrectionMode);
    });
}

void TForm1::Edit1Exit(QLineEdit* sender) {
    Guard([&] {
        const QByteArray name = sender->objectName().toLatin1();
        const QByteArray text = sender->text().toUtf8();
        const int value = session_.Edit1Exit(std::string_view(name.constData(), std::size_t(name.size())),
                                             std::string_view(text.constData(), std::size_t(text.size())));
        sender->setText(QString::number(value));
    });
}

void TForm1::UpDown1ChangingEx(int newValue) {
    Guard([&] {
        session_.SetScale(newValue);
        UpdateLayout();
    });
}

void TForm1::Button1Click() {
    bool inserted = false;
    Guard([&] {
        session_.PitchMode = comboBox1_->currentIndex() + 1;
        Insert(session_, *voicebank_, *prompts_);
        inserted = true;
    });
    // A failed Insert keeps the window open, so nothing is lost.
    if (inserted) close();
}

void TForm1::Button2Click() {
    close();
}

void TForm1::Button3Click() {
    Guard([&] {
        const auto path = prompts_->PickFileToOpen("Waveファイル(*.wav)|*.wav", session_.OpenWaveFileName);
        if (path) LoadRecording(*path);
    });
}

void TForm1::Button4Click() {
    Guard([&] { session_.SaveEditState(*prompts_); });
}

void TForm1::Button5Click() {
    Guard([&] {
        RunInBackground(U("編集状態の読込"), [this](Prompts& prompts, const LoadProgress& progress) {
            session_.LoadEditState(prompts, progress);
        });
        AfterRecordingChanged();
    });
}

void TForm1::Button6Click() {
    Guard([&] {
        if (session_.AutoSegment(*prompts_)) {
            BuildLyricBitmap();
            RedrawAll();
        }
    });
}

LoadOutcome TForm1::LoadRecording(const std::filesystem::path& path) {
    LoadOutcome outcome = LoadOutcome::NoFile;
    RunInBackground(U("音声読込"), [&](Prompts& prompts, const LoadProgress& progress) {
        outcome = session_.LoadRecording(path, prompts, progress);
    });
    if (outcome == LoadOutcome::Loaded || outcome == LoadOutcome::NoFrames) AfterRecordingChanged();
    return outcome;
}

void TForm1::RunInBackground(const QString& title,
                             const std::function<void(Prompts&, const LoadProgress&)>& job) {
    QProgressDialog dialog(this);
    dialog.setWindowTitle(title);
    dialog.setLabelText(U("分析しています..."));
    dialog.setCancelButton(nullptr);
    dialog.setRange(0, 100);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(300);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setValue(0);

    ForwardingPrompts forwarding(*prompts_);
    QPointer<QProgressDialog> guard(&dialog);
    const LoadProgress progress = [guard](std::string_view stage, double fraction) {
        const int percent = std::clamp(int(fraction * 100.0), 0, 100);
        const QString label = StageLabel(stage);
        QMetaObject::invokeMethod(
            guard.data(),
            [guard, percent, label] {
                if (!guard) return;
                guard->setLabelText(label);
                guard->setValue(percent);
            },
            Qt::QueuedConnection);
    };
    std::exception_ptr failure;
    QEventLoop loop;
    QThread* worker = QThread::create([&] {
        try {
            job(forwarding, progress);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    busy_ = true;
    worker->start();
    loop.exec();
    worker->wait();
    delete worker;
    busy_ = false;
    dialog.close();
    if (failure) std::rethrow_exception(failure);
}

void TForm1::AfterRecordingChanged() {
    setWindowTitle(U(session_.Caption));
    volumeBitmap_ = session_.HasRecording() ? melodrift::BuildVolumeBitmap(session_.FrameVolume) : RgbaImage();
    BuildSpectrumBitmap();
    {
        const QSignalBlocker block(mainSB_);
        mainSB_->setValue(session_.FirstFrame);
    }
    UpdateLayout();
}

}  // namespace melodrift

// Start-up, settings and closing of the window.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QToolButton>

#include "AppTestSupport.h"
#include "WindowSettings.h"
#include "Widgets.h"
#include "system/Files.h"

namespace melodrift::testing {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// Leaving an edit as the user does: the edit loses the keyboard focus.
void LeaveEdit(QLineEdit* edit, const QString& text) {
    edit->setText(text);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(edit, &out);
}

TEST(WindowSettings, TheStoreIsTheIniFileOfTheUtauPluginsOrganisation) {
    TestFolder folder;
    auto store = OpenWindowSettingsStore();
#ifdef Q_OS_WIN
    // Where the host's own plug-ins keep theirs: the registry, same names.
    EXPECT_EQ(store->format(), QSettings::NativeFormat);
    EXPECT_TRUE(store->fileName().endsWith(
        QStringLiteral("HKEY_CURRENT_USER\\UTAU_plugins\\vantle\\melodrift")))
        << store->fileName().toStdString();
#else
    EXPECT_EQ(FromQtPath(store->fileName()), folder.SettingsFile());
#endif
}

TEST(WindowSettings, OnlyWholeNumbersAreTakenOtherwiseTheDefault) {
    EXPECT_EQ(WholeNumberOr(QStringLiteral("12"), true, 3), 12);
    EXPECT_EQ(WholeNumberOr(QStringLiteral(" -4 "), true, 3), -4);
    EXPECT_EQ(WholeNumberOr(QStringLiteral("+7"), true, 3), 7);
    EXPECT_EQ(WholeNumberOr(QStringLiteral("1.5"), true, 3), 3);
    EXPECT_EQ(WholeNumberOr(QStringLiteral("abc"), true, 3), 3);
    EXPECT_EQ(WholeNumberOr(QStringLiteral(""), true, 3), 3);
    EXPECT_EQ(WholeNumberOr(QStringLiteral("-"), true, 3), 3);
    EXPECT_EQ(WholeNumberOr(QStringLiteral("$1F"), true, 3), 3);
    EXPECT_EQ(WholeNumberOr(QStringLiteral("99999999999"), true, 3), 3);
    EXPECT_EQ(WholeNumberOr(QStringLiteral("5"), false, 3), 3);
}

TEST(WindowStartUp, FirstRunShowsTraceModeWithEveryDefault) {
    TestFolder folder;
    FormUnderTest t(folder.File("missing.tmp"));
    MainWindow& form = *t.form;
    EXPECT_EQ(form.windowTitle(), U("メロドリフト ver2.42"));
    EXPECT_TRUE(t.Find<QToolButton>("TraceModeButton")->isChecked());
    EXPECT_FALSE(t.Find<QToolButton>("CorrectionModeButton")->isChecked());
    for (const char* name : {"KeyCheck", "PitchCheck", "VolumeCheck"}) {
        EXPECT_TRUE(t.Find<QCheckBox>(name)->isChecked()) << name;
        EXPECT_TRUE(t.Find<QCheckBox>(name)->isEnabled()) << name;
    }
    EXPECT_FALSE(form.Session().CorrectionMode);
    EXPECT_TRUE(form.Session().KeyEnabled && form.Session().PitchEnabled &&
                form.Session().VolumeEnabled);
    EXPECT_EQ(t.Find<QComboBox>("PitchModeCombo")->currentText(), QStringLiteral("Mode2"));
    EXPECT_EQ(form.Session().PitchMode, PitchEncoding::Mode2);
    EXPECT_TRUE(t.Find<QCheckBox>("ReplaceSelectionCheck")->isChecked());
    EXPECT_TRUE(form.Session().ReplaceSelection);
    EXPECT_EQ(form.Session().Scale, 3);
    EXPECT_EQ(t.Find<ArrowStepper>("ZoomArrows")->Position(), 3);
    EXPECT_EQ(t.Find<QScrollBar>("SpectrumRangeBar")->value(), 50);
    EXPECT_FLOAT_EQ(form.Session().SpectrumDensity, 50.0f);
    EXPECT_EQ(t.Find<QLineEdit>("PreUtteranceEdit")->text(), QStringLiteral("60"));
    EXPECT_EQ(t.Find<QLineEdit>("OverlapEdit")->text(), QStringLiteral("20"));
    EXPECT_EQ(t.Find<QLineEdit>("ConsonantEdit")->text(), QStringLiteral("100"));
    EXPECT_FALSE(t.Find<QFrame>("CorrectionPanel")->isVisible());
    EXPECT_FALSE(t.Find<QPushButton>("AutoSegmentButton")->isHidden());
    // A missing plug-in file is reported and the window still opens.
    ASSERT_FALSE(t.log->messages.empty());
    EXPECT_NE(t.log->messages.front().find("データがありません。"), std::string::npos);
}

TEST(WindowStartUp, ControlsCarryTheirCaptionsHintsAndDesignGeometry) {
    TestFolder folder;
    FormUnderTest t(folder.File("missing.tmp"));
    const struct {
        const char* name;
        const char* caption;
        const char* hint;
    } buttons[] = {
        {"InsertButton", "挿入", "UTAUエディタに音符を挿入します"},
        {"CancelButton", "キャンセル", ""},
        {"LoadRecordingButton", "音声読込", "トレースする音声ファイルを読み込みます"},
        {"SaveEditStateButton", "編集状態の保存", "編集中の状態をファイルに保存します"},
        {"LoadEditStateButton", "編集状態の読込", "過去に保存した編集状態を読み込みます"},
        {"AutoSegmentButton", "自動区切", "区切り位置を自動設定します"},
        {"CorrectionModeButton", "音声補正モード", "元音声を音源化しUTAU上で再現します"},
        {"TraceModeButton", "トレースモード", "現在の歌手で音声を再現します"},
        {"KeyCheck", "キー", "音符のキーを推定します"},
        {"PitchCheck", "ピッチ", "ピッチを適用します(Mode1)"},
        {"VolumeCheck", "音量", "音量を適用します(エンベロープ)"},
    };
    for (const auto& b : buttons) {
        auto* button = t.Find<QAbstractButton>(b.name);
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->text(), U(b.caption)) << b.name;
        EXPECT_EQ(button->toolTip(), U(b.hint)) << b.name;
    }
    EXPECT_EQ(t.Find<QScrollBar>("SpectrumRangeBar")->toolTip(),
              U("スペクトルの表示濃度を変更します"));
    EXPECT_EQ(
        t.Find<QComboBox>("PitchModeCombo")->toolTip(),
        U("ピッチを書き込むModeを選択（OpenUtauはMode2だけを読み、エンベロープも読みません）"));
    EXPECT_EQ(t.Find<QScrollBar>("SpectrumRangeBar")->minimum(), 1);
    EXPECT_EQ(t.Find<QScrollBar>("SpectrumRangeBar")->maximum(), 100);
    EXPECT_EQ(t.Find<ArrowStepper>("ZoomArrows")->Minimum(), kZoomOutmostPosition);
    EXPECT_EQ(t.Find<ArrowStepper>("ZoomArrows")->Maximum(), 8);
    // The drawing surface has its design size at the design window size.
    EXPECT_EQ(t.form->Surface()->size(), QSize(669, 335));
    EXPECT_EQ(t.Find<QFrame>("InsertPanel")->width(), 305);
    // Every lane label fits its column whole, at the smallest and the design size.
    for (const QSize size : {t.form->minimumSize(), t.form->size()}) {
        t.form->resize(size);
        auto* column = t.Find<QFrame>("LaneLabelsPanel");
        for (QLabel* label : column->findChildren<QLabel*>()) {
            EXPECT_LE(label->x() + label->fontMetrics().horizontalAdvance(label->text()),
                      column->width())
                << label->text().toStdString();
            EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()))
                << label->text().toStdString();
        }
    }
    // Hovering a control shows its hint in the status bar.
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(t.Find<QPushButton>("LoadRecordingButton"), &enter);
    EXPECT_EQ(t.form->StatusText(), U("トレースする音声ファイルを読み込みます"));
    QApplication::sendEvent(t.Find<QPushButton>("CancelButton"), &enter);
    EXPECT_EQ(t.form->StatusText(), QString());
}

TEST(WindowStartUp, TheStatusBarStartsWithTheProgramName) {
    TestFolder folder;
    FormUnderTest t(folder.File("missing.tmp"), false);
    EXPECT_EQ(t.form->StatusText(), U("メロドリフト"));
}

TEST(WindowStartUp, StoredScaleIsClampedToEightAndOneIsKept) {
    for (const auto& [stored, expected] : {std::pair{"12", 8}, {"1", 1}, {"0", 1}, {"abc", 3}}) {
        TestFolder folder;
        folder.StoreSettings({{"hscale", stored}});
        FormUnderTest t(folder.File("missing.tmp"));
        EXPECT_EQ(t.form->Session().Scale, expected) << stored;
        EXPECT_EQ(t.Find<ArrowStepper>("ZoomArrows")->Position(), expected) << stored;
    }
}

TEST(WindowStartUp, StoredCorrectionModeOpensWithTheCorrectionPanel) {
    TestFolder folder;
    folder.StoreSettings({{"CreateMode", "1"}, {"key", "0"}, {"Mode", "0"}, {"SpeqRange", "20"}});
    FormUnderTest t(folder.File("missing.tmp"));
    EXPECT_TRUE(t.form->Session().CorrectionMode);
    EXPECT_TRUE(t.Find<QToolButton>("CorrectionModeButton")->isChecked());
    EXPECT_FALSE(t.Find<QToolButton>("TraceModeButton")->isChecked());
    for (const char* name : {"KeyCheck", "PitchCheck", "VolumeCheck"}) {
        EXPECT_FALSE(t.Find<QCheckBox>(name)->isEnabled()) << name;
    }
    // The timing takes the place of the three boxes; 有声判定 applies in this
    // mode too and stays in view, beside the panel, never under it.
    auto* panel = t.Find<QFrame>("CorrectionPanel");
    EXPECT_TRUE(panel->isVisible());
    auto* voicing = t.Find<QCheckBox>("VoicingCheck");
    EXPECT_TRUE(voicing->isVisible());
    EXPECT_TRUE(voicing->isEnabled());
    for (QCheckBox* box : t.Find<QGroupBox>("NoteOptionsGroup")->findChildren<QCheckBox*>()) {
        if (box->isVisible()) {
            EXPECT_FALSE(box->geometry().intersects(panel->geometry()))
                << box->objectName().toStdString();
        }
    }
    for (QWidget* child : panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(panel->rect().contains(child->geometry()))
            << child->objectName().toStdString() << " " << child->geometry().bottom();
    }
    EXPECT_TRUE(t.Find<QGroupBox>("NoteOptionsGroup")->rect().contains(voicing->geometry()));
    QTest::mouseClick(voicing, Qt::LeftButton, {}, QPoint(8, voicing->height() / 2));
    EXPECT_FALSE(t.form->Session().VoicingCheck);
    // Back in trace mode the four boxes show again.
    t.Find<QToolButton>("TraceModeButton")->click();
    EXPECT_FALSE(panel->isVisible());
    for (const char* name : {"KeyCheck", "PitchCheck", "VolumeCheck"})
        EXPECT_TRUE(t.Find<QCheckBox>(name)->isVisible()) << name;
    t.Find<QToolButton>("CorrectionModeButton")->click();
    // The disabled boxes keep their stored state.
    EXPECT_FALSE(t.Find<QCheckBox>("KeyCheck")->isChecked());
    EXPECT_FALSE(t.form->Session().KeyEnabled);
    EXPECT_EQ(t.Find<QComboBox>("PitchModeCombo")->currentText(), QStringLiteral("Mode1"));
    EXPECT_FLOAT_EQ(t.form->Session().SpectrumDensity, 20.0f);
}

TEST(WindowStartUp, TheVoicingCheckIsOnByDefaultAndItsSettingIsKept) {
    {
        TestFolder folder;
        FormUnderTest t(folder.File("missing.tmp"));
        QCheckBox* box = t.Find<QCheckBox>("VoicingCheck");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), U("有声判定"));
        EXPECT_FALSE(box->toolTip().isEmpty());
        EXPECT_TRUE(box->isChecked());
        EXPECT_TRUE(t.form->Session().VoicingCheck);
        box->click();
        EXPECT_FALSE(t.form->Session().VoicingCheck);
    }
    TestFolder folder;
    folder.StoreSettings({{"voicing", "0"}});
    FormUnderTest t(folder.File("missing.tmp"));
    EXPECT_FALSE(t.Find<QCheckBox>("VoicingCheck")->isChecked());
    EXPECT_FALSE(t.form->Session().VoicingCheck);
}

TEST(WindowStartUp, AnUnusableTempoIsToldWhenTheWindowOpens) {
    for (const char* tempo : {"0", "-90"}) {
        TestFolder folder;
        const auto plugin = folder.File("plugin.tmp");
        const std::string text =
            std::string("[#SETTING]\r\nTempo=") + tempo + "\r\n[#0000]\r\nLength=480\r\n";
        WriteFileAtomically(plugin, text);
        FormUnderTest t(plugin);
        ASSERT_EQ(t.log->messages.size(), 1u) << tempo;
        EXPECT_NE(t.log->messages.front().find("error: プラグインファイルのテンポ"),
                  std::string::npos);
        EXPECT_EQ(ReadBytes(plugin), text);
    }
    // A usable tempo says nothing.
    TestFolder folder;
    FormUnderTest t(MakePluginFile(folder.File("plugin.tmp"), folder.Path()));
    EXPECT_TRUE(t.log->messages.empty());
    // A voice folder that does not exist is told, by name, before editing starts.
    FormUnderTest missing(MakePluginFile(folder.File("plugin2.tmp"), folder.File("gone")));
    ASSERT_EQ(missing.log->messages.size(), 1u);
    EXPECT_NE(
        missing.log->messages.front().find("warn: プラグインファイルの音源フォルダが見つからない"),
        std::string::npos);
    EXPECT_NE(missing.log->messages.front().find(PathToUtf8(folder.File("gone"))),
              std::string::npos);
}

TEST(WindowStartUp, StoredValuesOutsideTheControlsFallBackSafely) {
    TestFolder folder;
    folder.StoreSettings(
        {{"Mode", "5"}, {"SpeqRange", "500"}, {"volume", "x"}, {"Cr_Consonant", "1.5"}});
    FormUnderTest t(folder.File("missing.tmp"));
    EXPECT_EQ(t.Find<QComboBox>("PitchModeCombo")->currentText(), QStringLiteral("Mode2"));
    EXPECT_EQ(t.form->Session().PitchMode, PitchEncoding::Mode2);
    EXPECT_EQ(t.Find<QScrollBar>("SpectrumRangeBar")->value(), 100);
    EXPECT_FLOAT_EQ(t.form->Session().SpectrumDensity, 100.0f);
    EXPECT_TRUE(t.Find<QCheckBox>("VolumeCheck")->isChecked());
    EXPECT_EQ(t.Find<QLineEdit>("ConsonantEdit")->text(), QStringLiteral("100"));
}

TEST(WindowModeSwitch, ThePressedCorrectionButtonStaysDownAndTraceModeRestoresTheBoxes) {
    TestFolder folder;
    FormUnderTest t(folder.File("missing.tmp"));
    auto* correction = t.Find<QToolButton>("CorrectionModeButton");
    auto* trace = t.Find<QToolButton>("TraceModeButton");
    QTest::mouseClick(correction, Qt::LeftButton);
    EXPECT_TRUE(correction->isChecked());
    EXPECT_FALSE(trace->isChecked());
    EXPECT_TRUE(t.Find<QFrame>("CorrectionPanel")->isVisible());
    QTest::mouseClick(correction, Qt::LeftButton);  // pressing it again keeps it down
    EXPECT_TRUE(correction->isChecked());
    EXPECT_TRUE(t.form->Session().CorrectionMode);
    QTest::mouseClick(trace, Qt::LeftButton);
    EXPECT_FALSE(correction->isChecked());
    EXPECT_TRUE(trace->isChecked());
    EXPECT_FALSE(t.form->Session().CorrectionMode);
    EXPECT_FALSE(t.Find<QFrame>("CorrectionPanel")->isVisible());
    EXPECT_TRUE(t.Find<QCheckBox>("PitchCheck")->isEnabled());
    QTest::mouseClick(trace, Qt::LeftButton);  // both buttons may be up
    EXPECT_FALSE(trace->isChecked());
    EXPECT_FALSE(t.form->Session().CorrectionMode);
}

TEST(WindowVoiceCorrection, EachEditIsClampedAgainstTheOtherValueOnLeaving) {
    TestFolder folder;
    folder.StoreSettings({{"CreateMode", "1"}});
    FormUnderTest t(folder.File("missing.tmp"));
    auto* edit1 = t.Find<QLineEdit>("PreUtteranceEdit");
    auto* edit2 = t.Find<QLineEdit>("OverlapEdit");
    auto* edit3 = t.Find<QLineEdit>("ConsonantEdit");
    LeaveEdit(edit1, QStringLiteral("150"));  // consonant 100 caps the pre-utterance
    EXPECT_EQ(edit1->text(), QStringLiteral("100"));
    EXPECT_DOUBLE_EQ(t.form->Session().CorrectionPreUtterance, 100.0);
    LeaveEdit(edit1, QStringLiteral("60"));
    LeaveEdit(edit2, QStringLiteral("80"));  // pre-utterance 60 caps the overlap
    EXPECT_EQ(edit2->text(), QStringLiteral("60"));
    LeaveEdit(edit3, QStringLiteral("30"));  // the consonant is at least the pre-utterance
    EXPECT_EQ(edit3->text(), QStringLiteral("60"));
    EXPECT_DOUBLE_EQ(t.form->Session().CorrectionConsonant, 60.0);
    LeaveEdit(edit2, QStringLiteral("abc"));
    EXPECT_EQ(edit2->text(), QStringLiteral("0"));
    LeaveEdit(edit1, QStringLiteral("-5"));
    EXPECT_EQ(edit1->text(), QStringLiteral("0"));
}

TEST(WindowClosing, CancelWritesTheSettingsAndLeavesThePluginFileUntouched) {
    TestFolder folder;
    const auto voice = MakeVoicebank(folder.File("voice"), {"\x82\xa0"});
    const auto plugin = MakePluginFile(folder.File("plugin.tmp"), voice);
    const std::string before = ReadBytes(plugin);
    {
        FormUnderTest t(plugin);
        // The setting names the selected note it replaces (the plug-in file's [#0000]).
        auto* replace = t.Find<QCheckBox>("ReplaceSelectionCheck");
        EXPECT_EQ(replace->text(), U("選択ノートを置き換える（R）"));
        QTest::mouseClick(replace, Qt::LeftButton, {}, QPoint(6, 8));
        EXPECT_FALSE(t.form->Session().ReplaceSelection);
        QTest::mouseClick(t.Find<QCheckBox>("VolumeCheck"), Qt::LeftButton, {}, QPoint(6, 8));
        t.Find<QComboBox>("PitchModeCombo")->setCurrentIndex(0);
        t.Find<ArrowStepper>("ZoomArrows")->SetPosition(6);
        QTest::mouseClick(t.Find<QToolButton>("CorrectionModeButton"), Qt::LeftButton);
        LeaveEdit(t.Find<QLineEdit>("ConsonantEdit"), QStringLiteral("140"));
        QTest::mouseClick(t.Find<QPushButton>("CancelButton"), Qt::LeftButton);
        EXPECT_FALSE(t.form->isVisible());
    }
    EXPECT_EQ(ReadBytes(plugin), before);
    const auto stored = folder.Stored();
    stored->beginGroup(QStringLiteral("setting"));
    EXPECT_EQ(stored->value("key").toString(), QStringLiteral("1"));
    EXPECT_EQ(stored->value("pitch").toString(), QStringLiteral("1"));
    EXPECT_EQ(stored->value("volume").toString(), QStringLiteral("0"));
    EXPECT_EQ(stored->value("hscale").toString(), QStringLiteral("6"));
    EXPECT_EQ(stored->value("SpeqRange").toString(), QStringLiteral("50"));
    EXPECT_EQ(stored->value("CreateMode").toString(), QStringLiteral("1"));
    EXPECT_EQ(stored->value("Cr_Consonant").toString(), QStringLiteral("140"));
    EXPECT_EQ(stored->value("Cr_PreUtterance").toString(), QStringLiteral("60"));
    EXPECT_EQ(stored->value("Cr_VoiceOverlap").toString(), QStringLiteral("20"));
    EXPECT_EQ(stored->value("Mode").toString(), QStringLiteral("0"));
    EXPECT_EQ(stored->value("voicing").toString(), QStringLiteral("1"));
    EXPECT_EQ(stored->value("ReplaceSelection").toString(), QStringLiteral("0"));
    EXPECT_EQ(stored->childKeys().size(), 12);
}

TEST(WindowClosing, TheCloseBoxWritesTheSettingsToo) {
    TestFolder folder;
    {
        FormUnderTest t(folder.File("missing.tmp"));
        t.Find<QScrollBar>("SpectrumRangeBar")->setValue(75);
        t.form->close();
    }
    EXPECT_EQ(folder.Stored()->value("setting/SpeqRange").toString(), QStringLiteral("75"));
}

}  // namespace
}  // namespace melodrift::testing

// The events of the window's controls: the note options, the mode switch,
// the zoom, Insert and Cancel, and the buttons that load and save, with the
// progress dialog of a load running in the background.
#include "MainWindow.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

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
#include "editor/LoadingPicture.h"
#include "plugin/NoteList.h"
#include "system/Files.h"
#include "text/NumberFormat.h"
#include "voicebank/Voicebank.h"

namespace melodrift {

namespace {

QString U(std::string_view utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

// What the progress dialog says during each stage of a load.
QString StageLabel(std::string_view stage) {
    if (stage == "read") return QString::fromUtf8("音声を読み込んでいます...");
    if (stage == "analyse") return QString::fromUtf8("分析しています...");
    if (stage == "measure") return QString::fromUtf8("倍音を測定しています...");
    if (stage == "images") return QString::fromUtf8("表示を準備しています...");
    return QString::fromUtf8("分析しています...");
}

}  // namespace

// ---- Controls' events ----------------------------------------------------------

void MainWindow::NoteOptionToggled(QCheckBox* sender) {
    Guard([&] {
        if (sender == keyCheck_) session_.KeyEnabled = sender->isChecked();
        if (sender == pitchCheck_) session_.PitchEnabled = sender->isChecked();
        if (sender == volumeCheck_) session_.VolumeEnabled = sender->isChecked();
        if (sender == voicingCheck_) {
            session_.SetVoicingCheck(sender->isChecked());
            if (session_.HasRecording()) {
                PitchChanged();
                RedrawAll();
            }
        }
    });
}

void MainWindow::PitchModeChanged() {
    Guard([&] { session_.PitchMode = PitchEncodingOfItem(pitchModeCombo_->currentIndex()); });
}

void MainWindow::ModeButtonClicked(QAbstractButton* sender) {
    Guard([&] {
        // The two buttons form a group that may be all up: a button pressed
        // down raises the other; the correction-mode button shows the mode.
        session_.CorrectionMode = sender->property("tag").toInt() == 1;
        correctionModeButton_->setChecked(session_.CorrectionMode);
        if (sender == traceModeButton_ && traceModeButton_->isChecked())
            correctionModeButton_->setChecked(false);
        if (session_.CorrectionMode) traceModeButton_->setChecked(false);
        for (QCheckBox* box : {keyCheck_, pitchCheck_, volumeCheck_}) {
            box->setEnabled(!session_.CorrectionMode);
            box->setVisible(!session_.CorrectionMode);
        }
        correctionPanel_->setVisible(session_.CorrectionMode);
    });
}

void MainWindow::CorrectionEditExited(QLineEdit* sender) {
    Guard([&] {
        const CorrectionTiming field = sender == preUtteranceEdit_ ? CorrectionTiming::PreUtterance
                                       : sender == overlapEdit_    ? CorrectionTiming::Overlap
                                                                   : CorrectionTiming::Consonant;
        const QByteArray text = sender->text().toUtf8();
        const int value = session_.CommitCorrectionTiming(
            field, std::string_view(text.constData(), std::size_t(text.size())));
        sender->setText(QString::number(value));
    });
}

void MainWindow::ZoomChanging(int newValue) {
    Guard([&] {
        // Between the zooms in the view keeps its first frame; to and from
        // the zooms out the frame at the surface's middle stays there.
        const Zoom old = session_.View();
        const int middle = surface_->width() / 2;
        const int frame =
            XToFrame(middle, old, session_.FirstFrame, std::max(1, session_.FrameCount()));
        session_.SetZoom(ZoomAtPosition(newValue));
        if (old.Overview() || session_.View().Overview()) {
            ShowFrameAt(frame, middle);
        } else {
            UpdateLayout();
        }
    });
}

void MainWindow::InsertClicked() {
    bool inserted = false;
    Guard([&] {
        session_.PitchMode = PitchEncodingOfItem(pitchModeCombo_->currentIndex());
        session_.ReplaceSelection = replaceSelectionCheck_->isChecked();
        const InsertSummary summary = Insert(session_, *voicebank_, *prompts_);
        inserted = true;
        // What the user should check in the host is said before the window closes.
        if (summary.TicksPastSelection > 0 || !summary.LyricsWithoutAlias.empty()) {
            const std::string text = SummaryText(summary);
            SetStatus(QString::fromStdString(text));
            prompts_->Inform(text);
        }
    });
    // A failed Insert keeps the window open, so nothing is lost.
    if (inserted) {
        history_.MarkSaved();
        insertDone_ = true;
        close();
        insertDone_ = false;
    }
}

void MainWindow::CancelClicked() { close(); }

void MainWindow::LoadRecordingClicked() {
    Guard([&] {
        if (!ConfirmDiscardEdits()) return;
        const auto path =
            prompts_->PickFileToOpen("Waveファイル(*.wav)|*.wav", session_.OpenWaveFileName);
        if (path) LoadRecording(*path);
    });
}

void MainWindow::SaveEditStateClicked() {
    Guard([&] {
        if (session_.SaveEditState(*prompts_)) history_.MarkSaved();
    });
}

void MainWindow::LoadEditStateClicked() {
    Guard([&] {
        // The question and the file dialog come first, on this thread; only
        // the load itself runs behind the progress dialog.
        if (history_.HasUnsavedEdits()) {
            if (!ConfirmDiscardEdits()) return;
        } else if (session_.FrameCount() > 0) {
            prompts_->Beep();
            if (!prompts_->AskYesNo(kDiscardEditStateQuestion)) return;
        }
        const auto chosen = prompts_->PickFileToOpen(kEditStateFilter, session_.EditOpenFileName);
        if (!chosen) return;
        // Commits an earlier run left unfinished beside the edit state or
        // its recording are finished or undone before either is read.
        const auto tell = [this](const std::string& text) { prompts_->Inform(text); };
        (void)RecoverInterruptedCommitsIn({chosen->parent_path()}, tell);
        std::vector<std::pair<std::string, bool>> answered;
        if (const auto recording = StoredRecordingOf(*chosen)) {
            (void)RecoverInterruptedCommitsIn({recording->parent_path()}, tell);
            if (AskBeforeLoading(*recording, answered)) return;
        }
        const bool sameRecording = session_.HasRecording();
        if (sameRecording) history_.Begin(session_, EditScope::SegmentsAndPitch);
        EditStateOutcome outcome = EditStateOutcome::Cancelled;
        RunInBackground(
            U("編集状態の読込"),
            [&](Prompts& prompts, const LoadProgress& progress) {
                outcome = session_.LoadEditStateFrom(*chosen, prompts, progress);
            },
            answered);
        if (outcome == EditStateOutcome::Loaded) {
            // Reloading the edit state of the recording on screen is one
            // undoable step; another recording starts a new history.
            if (history_.Pending()) {
                history_.Commit(session_);
            } else {
                history_.Clear();
            }
            history_.MarkSaved();
        } else if (history_.Pending()) {
            // A refused or stopped load left the session as it was (nothing
            // is recorded), except a recording without frames, which took
            // the place of the old one: then the history no longer applies.
            history_.Commit(session_);
        }
        AfterRecordingChanged();
    });
}

void MainWindow::AutoSegmentClicked() {
    Guard([&] {
        if (!session_.HasRecording()) return;
        // With a lyric line: one sung segment per lyric, cut and labelled
        // in one undoable step; an empty line cuts without lyrics.
        const std::optional<std::string> line =
            prompts_->AskText(kAutoCutLyricQuestion, TypedLyricLine(session_));
        if (!line) return;
        const std::vector<std::string> lyrics = SplitLyricLine(*line);
        history_.Begin(session_, EditScope::Segments);
        const bool changed = session_.AutoSegment(*prompts_, lyrics);
        history_.Commit(session_);
        if (changed) {
            BuildLyricBitmap();
            RedrawAll();
        }
    });
}

std::optional<LoadOutcome> MainWindow::AskBeforeLoading(
    const std::filesystem::path& recording, std::vector<std::pair<std::string, bool>>& answered) {
    // Only the headers are read here; on a slow drive even that may take a
    // moment: the pointer says so.
    RecordingCheck check = RecordingCheck::Missing;
    std::string refusal;
    {
        struct WaitCursor {
            WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
            ~WaitCursor() { QApplication::restoreOverrideCursor(); }
        } wait;
        check = CheckRecording(recording, &refusal);
    }
    switch (check) {
        case RecordingCheck::Missing:
        case RecordingCheck::Ready:
            break;
        case RecordingCheck::Unsupported:
            prompts_->Error(refusal);
            prompts_->Beep();
            return LoadOutcome::Unsupported;
        case RecordingCheck::Long:
            prompts_->Beep();
            if (!prompts_->AskOkCancel(kLongRecordingQuestion)) return LoadOutcome::Declined;
            answered.emplace_back(std::string(kLongRecordingQuestion), true);
            break;
    }
    return std::nullopt;
}

LoadOutcome MainWindow::LoadRecording(const std::filesystem::path& path) {
    // A commit an earlier run left unfinished beside the recording is
    // finished or undone before the recording is read, and told.
    (void)RecoverInterruptedCommitsIn({path.parent_path()},
                                      [this](const std::string& text) { prompts_->Inform(text); });
    const auto started = std::chrono::steady_clock::now();
    loadShown_ = {};
    std::vector<std::pair<std::string, bool>> answered;
    if (const auto refused = AskBeforeLoading(path, answered)) return *refused;
    LoadOutcome outcome = LoadOutcome::NoFile;
    const int load = ++loadsStarted_;
    // The whole take is drawn as the load finds it out (its loudness first,
    // then its spectrum and pitch candidates column by column, then its
    // traced pitch), while the analysis goes on behind the progress dialog.
    const float density = session_.SpectrumDensity;
    const auto showPicture = [this, load, started, density] {
        if (!busy_ || load != loadsStarted_ || !loadingPicture_) return;  // that load is over
        LoadingPicture::Shown shown;
        surface_->Image() =
            loadingPicture_->Draw(surface_->width(), surface_->height(), density, &shown);
        surface_->repaint();
        const double now =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const auto first = [now](double& when, bool showing) {
            if (showing && when < 0.0) when = now;
        };
        first(loadShown_.loudness, shown.loudness);
        first(loadShown_.wholeLoudness, shown.wholeLoudness);
        first(loadShown_.spectrum, shown.spectrumColumns > 0);
        first(loadShown_.wholeSpectrum,
              shown.columns > 0 && shown.spectrumColumns == shown.columns);
        first(loadShown_.pitch, shown.pitch);
        ++loadShown_.pictures;
    };
    loadingPicture_ = std::make_shared<LoadingPicture>(
        surface_->width(), session_.MinStrength,
        [this, showPicture] { PostToWindowThread(this, showPicture); });
    struct Drop {
        std::shared_ptr<LoadingPicture>& picture;
        ~Drop() { picture.reset(); }
    } drop{loadingPicture_};
    LoadingPicture* const picture = loadingPicture_.get();
    RunInBackground(
        U("音声読込"),
        [&](Prompts& prompts, const LoadProgress& progress) {
            outcome =
                session_.LoadRecording(path, prompts, progress, LoadScope::Everything, picture);
        },
        answered);
    if (outcome == LoadOutcome::Loaded || outcome == LoadOutcome::NoFrames) {
        history_.Clear();
        AfterRecordingChanged();
    } else {
        RedrawAll();  // a stopped or refused load leaves the take on screen as it was
    }
    return outcome;
}

bool MainWindow::RunInBackground(const QString& title,
                                 const std::function<void(Prompts&, const LoadProgress&)>& job,
                                 const std::vector<std::pair<std::string, bool>>& answered) {
    QProgressDialog dialog(this);
    dialog.setObjectName(QStringLiteral("LoadProgressDialog"));
    dialog.setWindowTitle(title);
    dialog.setLabelText(U("分析しています..."));
    dialog.setCancelButtonText(U("キャンセル"));
    dialog.setRange(0, 100);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(300);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setValue(0);

    // キャンセル, Escape and the title bar's close all stop the analysis; the
    // worker ends at its next frame and the session stays as it was.
    stopLoad_ = false;
    session_.Analyser->Options.Stop = &stopLoad_;
    const auto stop = [this] { stopLoad_ = true; };
    connect(&dialog, &QProgressDialog::canceled, this, stop);
    connect(&dialog, &QDialog::rejected, this, stop);

    // While another prompt asks, the progress dialog stays out of its way.
    bool prompting = false;
    QPointer<QProgressDialog> guard(&dialog);
    LoadPrompts prompts(
        *prompts_, answered,
        [guard, &prompting] {
            prompting = true;
            if (!guard) return;
            // Its own timer must not show it over the question either.
            guard->setMinimumDuration(std::numeric_limits<int>::max());
            guard->hide();
        },
        [guard, &prompting] {
            prompting = false;
            if (guard) guard->setMinimumDuration(0);  // back at the next step
        });
    const LoadProgress progress = [guard, this, &prompting](std::string_view stage,
                                                            double fraction) {
        const int percent = std::clamp(int(fraction * 100.0), 0, 100);
        const QString label = StageLabel(stage);
        PostToWindowThread(this, [guard, percent, label, this, &prompting] {
            if (!guard || prompting || stopLoad_) return;
            guard->setLabelText(label);
            guard->setValue(percent);
        });
    };
    std::exception_ptr failure;
    QEventLoop loop;
    busy_ = true;
    std::jthread worker([&] {
        ClearUpperVectorState();  // also for the analysis threads it starts
        try {
            job(prompts, progress);
        } catch (...) {
            failure = std::current_exception();
        }
        // Posted, so it ends the loop even when the job finished before the
        // loop started.
        PostToWindowThread(&loop, [&loop] { loop.quit(); });
    });
    loop.exec();
    worker.join();
    busy_ = false;
    session_.Analyser->Options.Stop = nullptr;
    const bool stopped = stopLoad_;
    dialog.close();
    // Messages of the load show now, over the window.
    prompts.Replay();
    if (failure) std::rethrow_exception(failure);
    return !stopped;
}

void MainWindow::AfterRecordingChanged() {
    setWindowTitle(U(session_.Caption));
    volumeBitmap_ =
        session_.HasRecording() ? melodrift::BuildVolumeBitmap(session_.FrameVolume) : RgbaImage();
    spectrumColumnDensity_.clear();
    overview_.Clear(session_);
    BuildSpectrumBitmap();
    {
        const QSignalBlocker block(timeScrollBar_);
        timeScrollBar_->setValue(session_.FirstFrame);
    }
    UpdateLayout();
}

}  // namespace melodrift

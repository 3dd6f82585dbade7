// The window's keys and wheel (undo, play, stop, delete, zoom) and the
// previews it plays: the recording as it is, or resynthesised on a thread of
// its own while editing goes on.
#include <algorithm>

#include <QAction>
#include <QLabel>
#include <QApplication>
#include <QMenu>
#include <QScrollBar>
#include <QTimer>

#include "MainWindow.h"
#include "QtPrompts.h"
#include "VectorState.h"
#include "Widgets.h"
#include "audio/Resynthesizer.h"
#include "editor/PreviewJob.h"

namespace melodrift {

// ---- Keys and the wheel ---------------------------------------------------------------

void MainWindow::CreateKeys() {
    const auto add = [this](const char* name, const char* text, const QList<QKeySequence>& keys,
                            auto handler) {
        auto* action = new QAction(QString::fromUtf8(text), this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, handler);
        addAction(action);
        return action;
    };
    undoAction_ = add("UndoAction", "元に戻す", {QKeySequence(Qt::CTRL | Qt::Key_Z)},
                      [this] { UndoClicked(); });
    redoAction_ =
        add("RedoAction", "やり直し",
            {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)},
            [this] { RedoClicked(); });
    add("PlayAction", "再生", {QKeySequence(Qt::Key_Space)}, [this] { PlayKeyPressed(); });
    add("StopAction", "停止", {QKeySequence(Qt::Key_Escape)}, [this] { EscapePressed(); });
    add("DeleteCutAction", "区切り削除", {QKeySequence(Qt::Key_Delete)},
        [this] { DeleteKeyPressed(); });
    add("ZoomToFitAction", "全体表示", {QKeySequence(Qt::Key_0)}, [this] { ZoomToFitClicked(); });
    add("SaveEditStateAction", "編集状態の保存", {QKeySequence(Qt::CTRL | Qt::Key_S)},
        [this] { SaveEditStateClicked(); });
    add("LoadRecordingAction", "音声読込", {QKeySequence(Qt::CTRL | Qt::Key_O)},
        [this] { LoadRecordingClicked(); });

    cutMenu_ = new QMenu(this);
    cutMenu_->setObjectName(QStringLiteral("CutMenu"));
    QAction* removeCut = cutMenu_->addAction(QString::fromUtf8("区切り削除"));
    removeCut->setObjectName(QStringLiteral("RemoveCutAction"));
    connect(removeCut, &QAction::triggered, this, [this] { RemoveCutAt(menuCut_); });
    cutMenu_->addSeparator();
    cutMenu_->addAction(undoAction_);
    cutMenu_->addAction(redoAction_);
    cutMenuTimer_ = new QTimer(this);
    cutMenuTimer_->setSingleShot(true);
    connect(cutMenuTimer_, &QTimer::timeout, this, [this] { cutMenu_->popup(cutMenuAt_); });
}

void MainWindow::PlayKeyPressed() {
    Guard([&] {
        if (!session_.HasRecording() || session_.Mouse != MouseMode::Idle) return;
        const int segment = session_.HoverSegment;
        if (segment >= 0 && segment < int(session_.Segments.size())) {
            const Segment& s = session_.Segments[std::size_t(segment)];
            lastPlayFromMs_ = s.StartMs;
            lastPlayToMs_ = s.StartMs + s.LengthMs;
            lastPlayResynthesised_ = false;
        }
        if (lastPlayToMs_ < lastPlayFromMs_) return;
        PlayLastPreview();
    });
}

void MainWindow::PlayLastPreview() {
    if (lastPlayResynthesised_) {
        // Rendered on its own thread; it plays when it is ready.
        StartPreviewRender(lastPlayFromMs_, lastPlayToMs_);
    } else {
        StopPreviewRender();
        PlayImage(session_.PlayRange(lastPlayFromMs_, lastPlayToMs_));
    }
}

void MainWindow::EscapePressed() {
    if (busy_) {  // a load is running: Escape stops it, as its dialog's button does
        stopLoad_ = true;
        return;
    }
    StopPreviewRender();
    player_.Stop();
    AbandonLyricEdit();
}

void MainWindow::ZoomToFitClicked() {
    Guard([&] {
        // The closest zoom that shows every frame, however long the
        // recording; the view starts at the beginning.
        const Zoom zoom = ZoomToFit(session_.FrameCount(), surface_->width());
        timeScrollBar_->setValue(0);
        SetZoomQuietly(zoom);
        UpdateLayout();
    });
}

void MainWindow::SetZoomQuietly(Zoom zoom) {
    zoomArrows_->Changing = nullptr;
    zoomArrows_->SetPosition(PositionOfZoom(zoom));
    zoomArrows_->Changing = [this](int value) { ZoomChanging(value); };
    session_.SetZoom(zoom);
}

void MainWindow::ShowFrameAt(int frame, int x) {
    const Zoom zoom = session_.View();
    const int first = zoom.Overview() ? frame - x * zoom.frames : frame - x / zoom.pixels;
    {
        // UpdateLayout narrows the range to the new page and takes the value.
        const QSignalBlocker block(timeScrollBar_);
        timeScrollBar_->setRange(0, std::max(0, session_.FrameCount() - 1));
        timeScrollBar_->setValue(std::max(0, first));
    }
    UpdateLayout();
}

void MainWindow::SurfaceWheel(int angleDelta, bool zoom, int x) {
    Guard([&] {
        if (!session_.HasRecording() || angleDelta == 0) return;
        const int notches = angleDelta / 120 != 0 ? angleDelta / 120 : (angleDelta > 0 ? 1 : -1);
        if (zoom) {
            // The frame under the pointer stays under it.
            const Zoom old = session_.View();
            const int frame = old.Overview()
                                  ? XToFrame(x, old, session_.FirstFrame, session_.FrameCount())
                                  : session_.FirstFrame + x / old.pixels;
            const int position = std::clamp(PositionOfZoom(session_.View()) + notches,
                                            zoomArrows_->Minimum(), zoomArrows_->Maximum());
            if (ZoomAtPosition(position) == session_.View()) return;
            SetZoomQuietly(ZoomAtPosition(position));
            ShowFrameAt(frame, x);
        } else {
            // A notch scrolls an eighth of the view; turning away from you goes on in time.
            const int step = std::max(1, session_.VisibleFrames / 8);
            timeScrollBar_->setValue(timeScrollBar_->value() - notches * step);
        }
    });
}

// ---- Previews ------------------------------------------------------------------------

void MainWindow::PlayImage(std::string image) {
    if (image.empty()) {
        player_.Stop();
        return;
    }
    // The message stays in the status bar until a preview plays again.
    if (!PreviewPlayer::OutputAvailable()) {
        player_.Stop();
        noOutputPanel_->show();
        SetStatus(StatusText());  // the keys panel makes room
        return;
    }
    if (player_.Play(std::move(image))) noOutputPanel_->hide();
}

void MainWindow::StartPreviewRender(double fromMs, double toMs) {
    StopPreviewRender();
    player_.Stop();
    std::optional<ResynthesisJob> job = PrepareResynthesis(session_, fromMs, toMs);
    if (!job || !session_.Resynth) return;
    stopPreview_ = false;
    previewImage_.clear();
    // A render stopped and collected earlier may still have its call
    // queued: only the current one's counts.
    const int generation = ++previewGeneration_;
    // The job and a copy of the resynthesiser belong to the thread: the
    // session stays free for editing while it renders.
    previewThread_ = std::jthread(
        [this, generation, job = std::move(*job), resynth = *session_.Resynth]() mutable {
            ClearUpperVectorState();
            previewImage_ = RenderResynthesis(job, resynth, &stopPreview_);
            // Dropped by Qt if the window is gone by then.
            PostToWindowThread(this, [this, generation] {
                if (generation == previewGeneration_) PreviewRendered();
            });
        });
    QApplication::setOverrideCursor(Qt::BusyCursor);
    SetStatus(QString::fromUtf8("ピッチ確認用プレビューを作成しています... (Escで中止)"));
}

void MainWindow::PreviewRendered() {
    if (!previewThread_.joinable()) return;
    previewThread_.join();
    QApplication::restoreOverrideCursor();
    SetStatus(QString());
    if (!stopPreview_) PlayImage(std::move(previewImage_));
    previewImage_.clear();
}

void MainWindow::StopPreviewRender() {
    if (!previewThread_.joinable()) return;
    stopPreview_ = true;
    PreviewRendered();
}

void MainWindow::WaitForPreview() { PreviewRendered(); }

}  // namespace melodrift

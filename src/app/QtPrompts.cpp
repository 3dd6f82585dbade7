#include "QtPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <exception>
#include <memory>
#include <utility>

#include "system/Files.h"

namespace melodrift {

namespace {

// Title of every box the program shows.
const QString kBoxTitle = QStringLiteral("メロドリフト");

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QString PathToQString(const std::filesystem::path& path) { return FromUtf8(PathToUtf8(path)); }

std::filesystem::path QStringToPath(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return Utf8Path(std::string_view(utf8.constData(), std::size_t(utf8.size())));
}

}  // namespace

QString ToQtFilter(std::string_view filter) {
    const QStringList parts = FromUtf8(filter).split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        entries << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

void QtPrompts::Inform(std::string_view text) {
    QMessageBox::information(parent_, kBoxTitle, FromUtf8(text), QMessageBox::Ok);
}

void QtPrompts::Warn(std::string_view text) {
    QMessageBox::warning(parent_, kBoxTitle, FromUtf8(text), QMessageBox::Ok);
}

void QtPrompts::Error(std::string_view text) {
    QMessageBox::critical(parent_, kBoxTitle, FromUtf8(text), QMessageBox::Ok);
}

bool QtPrompts::AskYesNo(std::string_view text) {
    return QMessageBox::question(parent_, kBoxTitle, FromUtf8(text),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

bool QtPrompts::AskOkCancel(std::string_view text) {
    return QMessageBox::question(parent_, kBoxTitle, FromUtf8(text),
                                 QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Cancel) == QMessageBox::Ok;
}

std::optional<std::string> QtPrompts::AskText(std::string_view question, std::string_view initial) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent_, kBoxTitle, FromUtf8(question),
                                               QLineEdit::Normal, FromUtf8(initial), &ok);
    if (!ok) return std::nullopt;
    return text.toUtf8().toStdString();
}

void QtPrompts::Beep() { QApplication::beep(); }

std::optional<std::filesystem::path> QtPrompts::PickFileToOpen(
    std::string_view filter, const std::filesystem::path& suggested) {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(ToQtFilter(filter));
    if (!suggested.empty()) dialog.selectFile(PathToQString(suggested));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return QStringToPath(dialog.selectedFiles().front());
}

std::optional<std::filesystem::path> QtPrompts::PickFileToSave(
    std::string_view filter, std::string_view defaultExtension,
    const std::filesystem::path& suggested) {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(ToQtFilter(filter));
    dialog.setDefaultSuffix(FromUtf8(defaultExtension));
    // The caller asks its own overwrite question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!suggested.empty()) dialog.selectFile(PathToQString(suggested));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return QStringToPath(dialog.selectedFiles().front());
}

// Qt passes a cross-thread call through its own event queue, which orders
// everything the caller did before the call ahead of the call itself. A
// thread checker cannot see inside Qt, so each hand-over below also says so
// in the language's terms: the caller releases a flag once the work and
// what it reads are built, the window thread acquires it before running it
// (and the reverse for what a blocking call hands back).
namespace {

class HandedOver {
  public:
    explicit HandedOver(std::function<void()> work) : work_(std::move(work)) {
        ready_.store(true, std::memory_order_release);
    }
    void Run() const {
        if (ready_.load(std::memory_order_acquire)) work_();
    }

  private:
    std::function<void()> work_;
    std::atomic<bool> ready_ = false;
};

}  // namespace

void RunOnWindowThread(const std::function<void()>& work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) {
        work();
        return;
    }
    // An exception must not cross the window thread's event loop: carry it
    // back to the worker and rethrow it there.
    std::exception_ptr failure;
    std::atomic<bool> finished = false;
    const HandedOver task([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        finished.store(true, std::memory_order_release);
    });
    QMetaObject::invokeMethod(
        app, [&task] { task.Run(); }, Qt::BlockingQueuedConnection);
    if (!finished.load(std::memory_order_acquire)) return;
    if (failure) std::rethrow_exception(failure);
}

void PostToWindowThread(QObject* context, std::function<void()> work) {
    // Only the queued call owns the task, so it is freed with the call.
    auto task = std::make_shared<const HandedOver>(std::move(work));
    QMetaObject::invokeMethod(
        context, [task = std::move(task)] { task->Run(); }, Qt::QueuedConnection);
}

template <class F>
void ForwardingPrompts::OnWindowThread(F&& work) {
    RunOnWindowThread(work);
}

void ForwardingPrompts::Inform(std::string_view text) {
    OnWindowThread([&] { target_.Inform(text); });
}

void ForwardingPrompts::Warn(std::string_view text) {
    OnWindowThread([&] { target_.Warn(text); });
}

void ForwardingPrompts::Error(std::string_view text) {
    OnWindowThread([&] { target_.Error(text); });
}

bool ForwardingPrompts::AskYesNo(std::string_view text) {
    bool answer = false;
    OnWindowThread([&] { answer = target_.AskYesNo(text); });
    return answer;
}

bool ForwardingPrompts::AskOkCancel(std::string_view text) {
    bool answer = false;
    OnWindowThread([&] { answer = target_.AskOkCancel(text); });
    return answer;
}

std::optional<std::string> ForwardingPrompts::AskText(std::string_view question,
                                                      std::string_view initial) {
    std::optional<std::string> answer;
    OnWindowThread([&] { answer = target_.AskText(question, initial); });
    return answer;
}

void ForwardingPrompts::Beep() {
    OnWindowThread([&] { target_.Beep(); });
}

std::optional<std::filesystem::path> ForwardingPrompts::PickFileToOpen(
    std::string_view filter, const std::filesystem::path& suggested) {
    std::optional<std::filesystem::path> answer;
    OnWindowThread([&] { answer = target_.PickFileToOpen(filter, suggested); });
    return answer;
}

std::optional<std::filesystem::path> ForwardingPrompts::PickFileToSave(
    std::string_view filter, std::string_view defaultExtension,
    const std::filesystem::path& suggested) {
    std::optional<std::filesystem::path> answer;
    OnWindowThread([&] { answer = target_.PickFileToSave(filter, defaultExtension, suggested); });
    return answer;
}

LoadPrompts::LoadPrompts(Prompts& target, std::vector<std::pair<std::string, bool>> answered,
                         std::function<void()> hide, std::function<void()> show)
    : target_(target),
      answered_(std::move(answered)),
      hide_(std::move(hide)),
      show_(std::move(show)) {}

void LoadPrompts::Keep(Kind kind, std::string_view text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    kept_.emplace_back(kind, std::string(text));
}

std::optional<bool> LoadPrompts::Answered(std::string_view text) const {
    for (const auto& [question, answer] : answered_) {
        if (question == text) return answer;
    }
    return std::nullopt;
}

template <class F>
void LoadPrompts::AskOnWindowThread(F&& work) {
    RunOnWindowThread([&] {
        if (hide_) hide_();
        try {
            work();
        } catch (...) {
            if (show_) show_();
            throw;
        }
        if (show_) show_();
    });
}

void LoadPrompts::Inform(std::string_view text) { Keep(Kind::Inform, text); }

void LoadPrompts::Warn(std::string_view text) { Keep(Kind::Warn, text); }

void LoadPrompts::Error(std::string_view text) { Keep(Kind::Error, text); }

void LoadPrompts::Beep() { Keep(Kind::Beep, {}); }

bool LoadPrompts::AskYesNo(std::string_view text) {
    if (const auto answer = Answered(text)) return *answer;
    bool answer = false;
    AskOnWindowThread([&] { answer = target_.AskYesNo(text); });
    return answer;
}

bool LoadPrompts::AskOkCancel(std::string_view text) {
    if (const auto answer = Answered(text)) return *answer;
    bool answer = false;
    AskOnWindowThread([&] { answer = target_.AskOkCancel(text); });
    return answer;
}

std::optional<std::filesystem::path> LoadPrompts::PickFileToOpen(
    std::string_view filter, const std::filesystem::path& suggested) {
    std::optional<std::filesystem::path> answer;
    AskOnWindowThread([&] { answer = target_.PickFileToOpen(filter, suggested); });
    return answer;
}

std::optional<std::filesystem::path> LoadPrompts::PickFileToSave(
    std::string_view filter, std::string_view defaultExtension,
    const std::filesystem::path& suggested) {
    std::optional<std::filesystem::path> answer;
    AskOnWindowThread(
        [&] { answer = target_.PickFileToSave(filter, defaultExtension, suggested); });
    return answer;
}

void LoadPrompts::Replay() {
    std::vector<std::pair<Kind, std::string>> kept;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        kept.swap(kept_);
    }
    for (const auto& [kind, text] : kept) {
        switch (kind) {
            case Kind::Inform:
                target_.Inform(text);
                break;
            case Kind::Warn:
                target_.Warn(text);
                break;
            case Kind::Error:
                target_.Error(text);
                break;
            case Kind::Beep:
                target_.Beep();
                break;
        }
    }
}

}  // namespace melodrift

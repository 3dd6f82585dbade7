#include "QtPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <exception>

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

void RunOnWindowThread(const std::function<void()>& work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) {
        work();
        return;
    }
    // An exception must not cross the window thread's event loop: carry it
    // back to the worker and rethrow it there.
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        app,
        [&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure) std::rethrow_exception(failure);
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

// melodrift PLUGIN_FILE: the host starts the window with the path of its
// plug-in file and waits for the process to end.
#include <filesystem>
#include <memory>

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProgressDialog>
#include <QScreen>
#include <QSettings>
#include <QStringList>
#include <QTimer>

#include "MainWindow.h"
#include "QtPrompts.h"
#include "Translations.h"
#include "system/Files.h"
#include "system/Prompts.h"

namespace {

std::filesystem::path ArgumentPath(const QString& argument) {
    const QByteArray utf8 = argument.toUtf8();
    std::filesystem::path path =
        melodrift::Utf8Path(std::string_view(utf8.constData(), std::size_t(utf8.size())));
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute;
}

// The bundled example's edits, as a user makes them on a loaded recording:
// one cut per CUT_MS (args from `first` on) with the syllables かきくけこ,
// rests around them, and with three or more cuts a pitch line drawn over
// the third syllable.
void MakeDemoEdits(melodrift::MainWindow& form, const QStringList& args, int first) {
    auto& session = form.Session();
    const char* lyrics[] = {"か", "き", "く", "け", "こ"};
    for (int i = first; i < args.size(); ++i)
        session.AddCut(i - first < 5 ? lyrics[i - first] : "R", args[i].toDouble());
    if (!session.Segments.empty()) session.Segments.front().Lyric = "R";
    form.UpdateLayout();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    if (args.size() > first + 2) {
        const int x0 =
            int(melodrift::MsToX(args[first + 2].toDouble(), session.Scale, session.FirstFrame)) +
            6;
        const int pitchTop = melodrift::kLanes.Pitch.Top;
        form.SurfaceMouseMove(x0, pitchTop + 56);
        form.SurfaceMouseDown(Qt::LeftButton, false, x0, pitchTop + 56);
        form.SurfaceMouseMove(x0 + 60, pitchTop + 50);
        form.SurfaceMouseUp(Qt::LeftButton, x0 + 60, pitchTop + 50);
    }
    // Hover over the pitch lane so the status bar and cursor line show.
    form.SurfaceMouseMove(200, melodrift::kLanes.Pitch.Top + 70);
}

// Real dialogs, except that a long recording is analysed without asking.
struct AnswerOk : melodrift::QtPrompts {
    using QtPrompts::QtPrompts;
    bool AskOkCancel(std::string_view) override { return true; }
};

// For the documentation's pictures (README, "The window"): opens the window
// with a recording loaded, grabs it into a PNG file and quits. With
// --grab-whole-take the view is zoomed to the whole recording ("全体") first.
//   melodrift --grab-window PNG PLUGIN_FILE WAV [SEGMENT_MS...]
//   melodrift --grab-whole-take PNG PLUGIN_FILE WAV
int GrabWindow(const QStringList& args) {
    if (args.size() < 5) return 2;
    auto form = std::make_unique<melodrift::MainWindow>(ArgumentPath(args[3]),
                                                        std::make_unique<AnswerOk>(nullptr));
    form->show();
    form->LoadRecording(ArgumentPath(args[4]));
    if (args[1] != QStringLiteral("--grab-whole-take")) {
        MakeDemoEdits(*form, args, 5);
        return form->grab().save(args[2], "PNG") ? 0 : 1;
    }
    form->ZoomToFitClicked();
    // A whole take's columns are busy: 256 colours keep the file small.
    const QImage image = form->grab().toImage().convertToFormat(QImage::Format_Indexed8);
    return image.save(args[2], "PNG") ? 0 : 1;
}

// Undocumented, for the run that compares builds on different systems: the
// window as the host starts it for PLUGIN_FILE; once it shows, the load
// button is pressed (its file dialog answered with WAV), the demo's edits are
// made, the screen around the window is saved into PNG, and Insert is
// pressed (its question whether to save the edit state answered No), which
// writes the plug-in file and closes the window.
//   melodrift --insert-demo PNG PLUGIN_FILE WAV [SEGMENT_MS...]
int InsertDemo(const QStringList& args) {
    if (args.size() < 5) return 2;
    struct AnswerWav : melodrift::QtPrompts {
        AnswerWav(std::filesystem::path wav) : QtPrompts(nullptr), wav_(std::move(wav)) {}
        std::optional<std::filesystem::path> PickFileToOpen(std::string_view,
                                                            const std::filesystem::path&) override {
            return wav_;
        }
        bool AskYesNo(std::string_view) override { return false; }
        std::filesystem::path wav_;
    };
    melodrift::MainWindow form(ArgumentPath(args[3]),
                               std::make_unique<AnswerWav>(ArgumentPath(args[4])));
    form.show();
    bool saved = false;
    QTimer::singleShot(500, &form, [&] {
        auto* load = form.findChild<QAbstractButton*>(QStringLiteral("LoadRecordingButton"));
        auto* insert = form.findChild<QAbstractButton*>(QStringLiteral("InsertButton"));
        if (!load || !insert) return;
        load->click();
        MakeDemoEdits(form, args, 5);
        for (int i = 0; i < 5; ++i) QApplication::processEvents();
        const QRect frame = form.frameGeometry();
        saved = form.screen()
                    ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
                    .save(args[2], "PNG");
        insert->click();
    });
    QApplication::exec();
    // Insert closes the window only once the plug-in file is written.
    return saved && !form.isVisible() ? 0 : 1;
}

// For the documentation's picture of a long load (README): starts
// loading WAV (answering the long-recording question), grabs the screen with
// the progress dialog after SECONDS, then cancels the load and quits.
//   melodrift --grab-progress PNG PLUGIN_FILE WAV [SECONDS]
int GrabProgress(const QStringList& args) {
    if (args.size() < 5) return 2;
    auto form = std::make_unique<melodrift::MainWindow>(ArgumentPath(args[3]),
                                                        std::make_unique<AnswerOk>(nullptr));
    form->show();
    auto* window = form.get();
    bool saved = false;
    const int delayMs = args.size() > 5 ? int(args[5].toDouble() * 1000.0) : 1500;
    QTimer::singleShot(delayMs, window, [&] {
        saved = QGuiApplication::primaryScreen()->grabWindow(0).save(args[2], "PNG");
        if (auto* dialog =
                window->findChild<QProgressDialog*>(QStringLiteral("LoadProgressDialog")))
            dialog->cancel();
    });
    form->LoadRecording(ArgumentPath(args[4]));
    return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    melodrift::InstallJapaneseTranslations(app);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 1 && (args[1] == QStringLiteral("--grab-window") ||
                            args[1] == QStringLiteral("--grab-whole-take")))
        return GrabWindow(args);
    if (args.size() > 1 && args[1] == QStringLiteral("--grab-progress")) return GrabProgress(args);
    if (args.size() > 1 && args[1] == QStringLiteral("--insert-demo")) return InsertDemo(args);

    const std::filesystem::path pluginFile =
        args.size() > 1 ? ArgumentPath(args[1]) : std::filesystem::path();
    melodrift::MainWindow form(pluginFile);
    form.show();
    app.exec();
    return 0;
}

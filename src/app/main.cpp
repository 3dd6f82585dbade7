// melodrift PLUGIN_FILE: the host starts the window with the path of its
// plug-in file and waits for the process to end.
#include <filesystem>
#include <memory>

#include <QApplication>
#include <QSettings>
#include <QStringList>
#include <QTimer>

#include "MainWindow.h"
#include "Translations.h"
#include "text/Prompts.h"
#include "text/Files.h"

namespace {

std::filesystem::path ArgumentPath(const QString& argument) {
    const QByteArray utf8 = argument.toUtf8();
    std::filesystem::path path = melodrift::Utf8Path(std::string_view(utf8.constData(), std::size_t(utf8.size())));
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute;
}

// Undocumented, for the documentation's picture: opens the window with a
// recording loaded, grabs it into a PNG file and quits.
//   melodrift --grab-window PNG PLUGIN_FILE WAV [SEGMENT_MS...]
int GrabWindow(const QStringList& args) {
    if (args.size() < 5) return 2;
    auto form = std::make_unique<melodrift::MainWindow>(ArgumentPath(args[3]));
    form->show();
    form->LoadRecording(ArgumentPath(args[4]));
    auto& session = form->Session();
    // The bundled example says かきくけこ: one syllable per cut, then rests.
    const char* lyrics[] = {"\x82\xa9", "\x82\xab", "\x82\xad", "\x82\xaf", "\x82\xb1"};  // かきくけこ
    for (int i = 5; i < args.size(); ++i) session.AddCut(i - 5 < 5 ? lyrics[i - 5] : "R", args[i].toDouble());
    if (!session.Segments.empty()) session.Segments.front().Lyric = "R";
    form->UpdateLayout();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    // Hover over the pitch lane so the status bar and cursor line show.
    form->SurfaceMouseMove(200, 250);
    const bool saved = form->grab().save(args[2], "PNG");
    form->CancelClicked();
    return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    melodrift::InstallJapaneseTranslations(app);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 1 && args[1] == QStringLiteral("--grab-window")) return GrabWindow(args);

    const std::filesystem::path pluginFile = args.size() > 1 ? ArgumentPath(args[1]) : std::filesystem::path();
    melodrift::MainWindow form(pluginFile);
    form.show();
    app.exec();
    return 0;
}

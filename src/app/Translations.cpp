#include "Translations.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <string_view>

namespace melodrift {

bool InstallJapaneseTranslations(QCoreApplication& app) {
    // A program linked against a static Qt carries qtbase_ja.qm inside
    // (":/translations"); otherwise Qt's own translations folder has it.
    const QString builtIn = QStringLiteral(":/translations");
    const QString folder = QFileInfo::exists(builtIn + QStringLiteral("/qtbase_ja.qm"))
                               ? builtIn
                               : QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    bool installed = false;
    for (const char* name : {"qtbase", "qtmultimedia"}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QString::fromLatin1(name),
                             QStringLiteral("_"), folder) &&
            QCoreApplication::installTranslator(translator)) {
            installed = installed || std::string_view(name) == "qtbase";
        } else {
            delete translator;
        }
    }
    return installed;
}

}  // namespace melodrift

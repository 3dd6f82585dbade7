#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <string_view>

namespace melodrift {

bool InstallJapaneseTranslations(QCoreApplication& app) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
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

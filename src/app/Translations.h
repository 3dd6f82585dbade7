// Qt's own texts (the buttons of message boxes, the file dialogs) in
// Japanese, like the rest of the window.
#pragma once

class QCoreApplication;

namespace melodrift {

// Installs Qt's Japanese translations (qtbase_ja, qtmultimedia_ja from Qt's
// translations folder) into `app`. False when they are not there: Qt's
// texts then stay English.
bool InstallJapaneseTranslations(QCoreApplication& app);

}  // namespace melodrift

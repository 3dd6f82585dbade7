#include "WindowSettings.h"

#include <QSettings>
#include <QVariant>

#include "text/Text.h"

namespace melodrift {

namespace {

constexpr const char* kGroup = "setting";

int ReadKey(QSettings& store, const char* key, int fallback) {
    const QVariant stored = store.value(QString::fromLatin1(key));
    // A value with a comma comes back from an INI file as a list: not a number.
    const bool isText = stored.isValid() && stored.typeId() != QMetaType::QStringList;
    return WholeNumberOr(isText ? stored.toString() : QString(), isText, fallback);
}

void WriteKey(QSettings& store, const char* key, int value) {
    store.setValue(QString::fromLatin1(key), QString::number(value));
}

}  // namespace

std::unique_ptr<QSettings> OpenWindowSettingsStore() {
#ifdef Q_OS_WIN
    return std::make_unique<QSettings>(
        QStringLiteral("HKEY_CURRENT_USER\\UTAU_plugins\\vantle\\melodrift"),
        QSettings::NativeFormat);
#else
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("UTAU_plugins"),
                                       QStringLiteral("vantle/melodrift"));
#endif
}

int WholeNumberOr(const QString& stored, bool present, int fallback) {
    if (!present) return fallback;
    const QByteArray bytes = stored.toUtf8();
    const std::string_view text =
        TrimBlanks(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    if (text.empty()) return fallback;
    std::size_t i = (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (i == text.size()) return fallback;
    for (std::size_t k = i; k < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9') return fallback;
    }
    try {
        return ParseInt32(text);
    } catch (const std::exception&) {
        return fallback;  // beyond 32 bits
    }
}

WindowSettings ReadWindowSettings(QSettings& store) {
    const WindowSettings defaults;
    WindowSettings s;
    store.beginGroup(QString::fromLatin1(kGroup));
    s.Key = ReadKey(store, "key", 1) != 0;
    s.Pitch = ReadKey(store, "pitch", 1) != 0;
    s.Volume = ReadKey(store, "volume", 1) != 0;
    s.HScale = ReadKey(store, "hscale", defaults.HScale);
    s.SpectrumRange = ReadKey(store, "SpeqRange", defaults.SpectrumRange);
    s.CreateMode = ReadKey(store, "CreateMode", 0) != 0;
    s.CorrectionConsonant = ReadKey(store, "Cr_Consonant", defaults.CorrectionConsonant);
    s.CorrectionPreUtterance = ReadKey(store, "Cr_PreUtterance", defaults.CorrectionPreUtterance);
    s.CorrectionOverlap = ReadKey(store, "Cr_VoiceOverlap", defaults.CorrectionOverlap);
    s.Mode = ReadKey(store, "Mode", defaults.Mode);
    s.Voicing = ReadKey(store, "voicing", 1) != 0;
    s.ReplaceSelection = ReadKey(store, "ReplaceSelection", 1) != 0;
    store.endGroup();
    return s;
}

void WriteWindowSettings(QSettings& store, const WindowSettings& s) {
    store.beginGroup(QString::fromLatin1(kGroup));
    WriteKey(store, "key", s.Key ? 1 : 0);
    WriteKey(store, "pitch", s.Pitch ? 1 : 0);
    WriteKey(store, "volume", s.Volume ? 1 : 0);
    WriteKey(store, "hscale", s.HScale);
    WriteKey(store, "SpeqRange", s.SpectrumRange);
    WriteKey(store, "CreateMode", s.CreateMode ? 1 : 0);
    WriteKey(store, "Cr_Consonant", s.CorrectionConsonant);
    WriteKey(store, "Cr_PreUtterance", s.CorrectionPreUtterance);
    WriteKey(store, "Cr_VoiceOverlap", s.CorrectionOverlap);
    WriteKey(store, "Mode", s.Mode);
    WriteKey(store, "voicing", s.Voicing ? 1 : 0);
    WriteKey(store, "ReplaceSelection", s.ReplaceSelection ? 1 : 0);
    store.endGroup();
    store.sync();
}

}  // namespace melodrift

#include "AppTestSupport.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <numbers>

#include <QSettings>
#include <QTest>

#include "WindowSettings.h"
#include "system/Files.h"

namespace melodrift::testing {

namespace {
void PutLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(char((value >> (8 * i)) & 0xFF));
}
}  // namespace

// Elsewhere the store is an INI file inside the folder; on Windows it is a
// registry key that outlives the folder, so each test starts and ends with
// it empty.
TestFolder::TestFolder() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
#ifdef Q_OS_WIN
    Stored()->clear();
#endif
}

TestFolder::~TestFolder() {
#ifdef Q_OS_WIN
    Stored()->clear();
#endif
}

std::unique_ptr<QSettings> TestFolder::Stored() const { return OpenWindowSettingsStore(); }

std::filesystem::path TestFolder::Path() const { return FromQtPath(dir_.path()); }

std::filesystem::path TestFolder::SettingsFile() const {
    return Path() / "UTAU_plugins" / "vantle" / "melodrift.ini";
}

void TestFolder::StoreSettings(
    const std::vector<std::pair<std::string, std::string>>& values) const {
#ifdef Q_OS_WIN
    const auto store = Stored();
    for (const auto& [key, value] : values) {
        store->setValue(QString::fromStdString("setting/" + key), QString::fromStdString(value));
    }
#else
    std::filesystem::create_directories(SettingsFile().parent_path());
    std::string text = "[setting]\n";
    for (const auto& [key, value] : values) text += key + "=" + value + "\n";
    WriteFileAtomically(SettingsFile(), text);
#endif
}

void WriteToneWav(const std::filesystem::path& path, double seconds, double f0Hz) {
    const auto samples = std::uint32_t(seconds * 44100.0);
    std::string data;
    data.reserve(std::size_t(samples) * 2);
    for (std::uint32_t i = 0; i < samples; ++i) {
        const double t = double(i) / 44100.0;
        double v = 0.0;
        for (int h = 1; h <= 6; ++h) v += std::sin(2.0 * std::numbers::pi * f0Hz * h * t) / h;
        // A gentle loudness swell so the volume lane is not flat.
        v *= 6000.0 * (0.6 + 0.4 * std::sin(2.0 * std::numbers::pi * 1.5 * t));
        PutLe(data, std::uint32_t(std::int16_t(std::lround(v))) & 0xFFFF, 2);
    }
    std::string out = "RIFF";
    PutLe(out, std::uint32_t(36 + data.size()), 4);
    out += "WAVEfmt ";
    PutLe(out, 16, 4);
    PutLe(out, 1, 2);  // PCM
    PutLe(out, 1, 2);  // mono
    PutLe(out, 44100, 4);
    PutLe(out, 88200, 4);  // bytes per second
    PutLe(out, 2, 2);      // block align
    PutLe(out, 16, 2);     // bits
    out += "data";
    PutLe(out, std::uint32_t(data.size()), 4);
    out += data;
    WriteFileAtomically(path, out);
}

std::filesystem::path MakeVoicebank(const std::filesystem::path& folder,
                                    const std::vector<std::string>& aliases) {
    std::filesystem::create_directories(folder);
    std::string oto;
    for (const std::string& alias : aliases)
        oto += alias + ".wav=" + alias + ",10,80,-200,60,20\r\n";
    WriteFileAtomically(folder / "oto.ini", oto);
    return folder;
}

std::filesystem::path MakePluginFile(const std::filesystem::path& path,
                                     const std::filesystem::path& voiceDir) {
    const std::string text =
        "[#SETTING]\r\nTempo=120.00\r\nTracks=1\r\nVoiceDir=" + PathToCp932(voiceDir) +
        "\r\nCacheDir=/tmp/cache\r\n[#0000]\r\nLength=480\r\nLyric=R\r\nNoteNum=60\r\n";
    WriteFileAtomically(path, text);
    return path;
}

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::filesystem::path FromQtPath(const QString& path) {
    const QByteArray utf8 = path.toUtf8();
    return Utf8Path(std::string_view(utf8.constData(), std::size_t(utf8.size())));
}

QString ToQtPath(const std::filesystem::path& path) {
    return QString::fromStdString(PathToUtf8(path));
}

FormUnderTest::FormUnderTest(const std::filesystem::path& pluginFile, bool show) {
    auto scripted = std::make_unique<ScriptedPrompts>(log);
    scripted->unscriptedAnswer = false;  // questions default to No/Cancel
    prompts = scripted.get();
    form = std::make_unique<MainWindow>(pluginFile, std::move(scripted), nullptr, voicebank.get());
    if (show) {
        form->show();
        (void)QTest::qWaitForWindowExposed(form.get());
    }
}

}  // namespace melodrift::testing

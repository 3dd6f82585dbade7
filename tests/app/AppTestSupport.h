// Fixtures for the window tests: scripted answers for the prompts, a
// settings store in a temporary folder, generated recordings, voicebanks
// and plug-in files.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QSettings>
#include <QTemporaryDir>

#include "MainWindow.h"
#include "ScriptedPrompts.h"
#include "system/Prompts.h"
#include "voicebank/Voicebank.h"

namespace melodrift::testing {

// A temporary folder that also holds the settings store for one test.
class TestFolder {
  public:
    TestFolder();
    ~TestFolder();
    std::filesystem::path Path() const;
    std::filesystem::path File(const std::string& name) const { return Path() / name; }
    // The settings file the window reads and writes.
    std::filesystem::path SettingsFile() const;
    // The window's settings store as the window opens it (on Windows the
    // registry, which the folder clears before and after its test).
    std::unique_ptr<QSettings> Stored() const;
    // Writes "[setting]" with the given key=value lines to the store.
    void StoreSettings(const std::vector<std::pair<std::string, std::string>>& values) const;

  private:
    QTemporaryDir dir_;
};

// A 44100 Hz, 16-bit mono WAV: `seconds` of a harmonic tone at `f0Hz`.
void WriteToneWav(const std::filesystem::path& path, double seconds, double f0Hz);
// A voicebank folder whose oto.ini has entries for the given aliases.
std::filesystem::path MakeVoicebank(const std::filesystem::path& folder,
                                    const std::vector<std::string>& aliasesCp932);
// A plug-in file at tempo 120 naming `voiceDir`.
std::filesystem::path MakePluginFile(const std::filesystem::path& path,
                                     const std::filesystem::path& voiceDir);

std::string ReadBytes(const std::filesystem::path& path);

// Paths to and from Qt's strings (UTF-16 ⇄ native).
std::filesystem::path FromQtPath(const QString& path);
QString ToQtPath(const std::filesystem::path& path);

// A window over the test folder's settings with scripted prompts.
struct FormUnderTest {
    std::shared_ptr<ScriptedPrompts::Log> log = std::make_shared<ScriptedPrompts::Log>();
    ScriptedPrompts* prompts = nullptr;  // owned by the form
    std::unique_ptr<Voicebank> voicebank = std::make_unique<Voicebank>();
    std::unique_ptr<MainWindow> form;

    explicit FormUnderTest(const std::filesystem::path& pluginFile, bool show = true);
    template <class T>
    T* Find(const char* name) const {
        return form->findChild<T*>(QString::fromLatin1(name));
    }
};

}  // namespace melodrift::testing

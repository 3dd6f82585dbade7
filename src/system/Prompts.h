// How the program talks to the user: message boxes, questions, the beep and
// the file dialogs. The window implements it with real dialogs, the command
// line with flags and stderr, and tests with scripted answers, so that every
// workflow runs without a display. Texts are UTF-8.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace melodrift {

class Prompts {
  public:
    virtual ~Prompts() = default;

    // Modal boxes with one OK button.
    virtual void Inform(std::string_view text) = 0;
    virtual void Warn(std::string_view text) = 0;
    virtual void Error(std::string_view text) = 0;

    // Modal questions; true for Yes (or OK).
    virtual bool AskYesNo(std::string_view text) = 0;
    virtual bool AskOkCancel(std::string_view text) = 0;

    // A one-line text question with the field prefilled with `initial`; no
    // value when the user cancels. Callers without a user cancel.
    virtual std::optional<std::string> AskText(std::string_view question,
                                               std::string_view initial) {
        (void)question;
        (void)initial;
        return std::nullopt;
    }

    // The system beep that precedes most boxes.
    virtual void Beep() = 0;

    // File dialogs. `filter` is "Description|*.ext"; `suggested` presets the
    // file name. No value when the user cancels.
    virtual std::optional<std::filesystem::path> PickFileToOpen(
        std::string_view filter, const std::filesystem::path& suggested) = 0;
    virtual std::optional<std::filesystem::path> PickFileToSave(
        std::string_view filter, std::string_view defaultExtension,
        const std::filesystem::path& suggested) = 0;
};

// Answers nothing and shows nothing: questions get their safe answer (No,
// Cancel), dialogs are cancelled. For callers that have no user.
class SilentPrompts : public Prompts {
  public:
    void Inform(std::string_view) override {}
    void Warn(std::string_view) override {}
    void Error(std::string_view) override {}
    bool AskYesNo(std::string_view) override { return false; }
    bool AskOkCancel(std::string_view) override { return false; }
    void Beep() override {}
    std::optional<std::filesystem::path> PickFileToOpen(std::string_view,
                                                        const std::filesystem::path&) override {
        return std::nullopt;
    }
    std::optional<std::filesystem::path> PickFileToSave(std::string_view, std::string_view,
                                                        const std::filesystem::path&) override {
        return std::nullopt;
    }
};

}  // namespace melodrift

// The user-prompt interface realised with Qt: modal message boxes, the system
// beep and the file dialogs, all parented to the window.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <QString>
#include <QWidget>
#include <QPointer>

#include "system/Prompts.h"

namespace melodrift {

// A dialog filter in the form "Description|*.ext|Description|*.ext" as Qt
// writes it: "Description (*.ext);;Description (*.ext)".
QString ToQtFilter(std::string_view filter);

class QtPrompts : public Prompts {
  public:
    explicit QtPrompts(QWidget* parent) : parent_(parent) {}

    void Inform(std::string_view text) override;
    void Warn(std::string_view text) override;
    void Error(std::string_view text) override;
    bool AskYesNo(std::string_view text) override;
    bool AskOkCancel(std::string_view text) override;
    std::optional<std::string> AskText(std::string_view question,
                                       std::string_view initial) override;
    void Beep() override;
    std::optional<std::filesystem::path> PickFileToOpen(
        std::string_view filter, const std::filesystem::path& suggested) override;
    std::optional<std::filesystem::path> PickFileToSave(
        std::string_view filter, std::string_view defaultExtension,
        const std::filesystem::path& suggested) override;

  private:
    QPointer<QWidget> parent_;
};

// Runs `work` on the window's thread and waits for it (directly when called
// there); an exception it throws is rethrown to the caller.
void RunOnWindowThread(const std::function<void()>& work);

// Queues `work` on `context`'s thread and returns at once; Qt drops it if
// `context` is destroyed first. For workers reporting to the window.
void PostToWindowThread(QObject* context, std::function<void()> work);

// Forwards every prompt from a worker thread to `target` on the window's
// thread and waits for the answer, so a background job can ask questions.
// Calls made on the window's thread go straight through.
class ForwardingPrompts : public Prompts {
  public:
    explicit ForwardingPrompts(Prompts& target) : target_(target) {}

    void Inform(std::string_view text) override;
    void Warn(std::string_view text) override;
    void Error(std::string_view text) override;
    bool AskYesNo(std::string_view text) override;
    bool AskOkCancel(std::string_view text) override;
    std::optional<std::string> AskText(std::string_view question,
                                       std::string_view initial) override;
    void Beep() override;
    std::optional<std::filesystem::path> PickFileToOpen(
        std::string_view filter, const std::filesystem::path& suggested) override;
    std::optional<std::filesystem::path> PickFileToSave(
        std::string_view filter, std::string_view defaultExtension,
        const std::filesystem::path& suggested) override;

  private:
    template <class F>
    void OnWindowThread(F&& work);

    Prompts& target_;
};

// The prompts of a load running on a worker thread behind a progress
// dialog. Questions the window asked before the load started get the answer
// given then; messages (and their beeps) are kept and shown by Replay once
// the dialog is gone, so a failed load reports over the window, never under
// the dialog; any other question or file dialog is asked on the window's
// thread with `hide` run first and `show` after (they take the progress
// dialog out of the way and back).
class LoadPrompts : public Prompts {
  public:
    LoadPrompts(Prompts& target, std::vector<std::pair<std::string, bool>> answered,
                std::function<void()> hide, std::function<void()> show);

    void Inform(std::string_view text) override;
    void Warn(std::string_view text) override;
    void Error(std::string_view text) override;
    bool AskYesNo(std::string_view text) override;
    bool AskOkCancel(std::string_view text) override;
    void Beep() override;
    std::optional<std::filesystem::path> PickFileToOpen(
        std::string_view filter, const std::filesystem::path& suggested) override;
    std::optional<std::filesystem::path> PickFileToSave(
        std::string_view filter, std::string_view defaultExtension,
        const std::filesystem::path& suggested) override;

    // Shows the kept messages in their order (window thread).
    void Replay();

  private:
    enum class Kind { Inform, Warn, Error, Beep };
    void Keep(Kind kind, std::string_view text);
    std::optional<bool> Answered(std::string_view text) const;
    template <class F>
    void AskOnWindowThread(F&& work);

    Prompts& target_;
    std::vector<std::pair<std::string, bool>> answered_;
    std::function<void()> hide_;
    std::function<void()> show_;
    std::mutex mutex_;
    std::vector<std::pair<Kind, std::string>> kept_;
};

}  // namespace melodrift

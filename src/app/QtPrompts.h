// The user-prompt interface realised with Qt: modal message boxes, the system
// beep and the file dialogs, all parented to the window.
#pragma once

#include <QString>
#include <QWidget>
#include <QPointer>

#include "text/Prompts.h"

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
    void Beep() override;
    std::optional<std::filesystem::path> PickFileToOpen(std::string_view filter,
                                                        const std::filesystem::path& suggested) override;
    std::optional<std::filesystem::path> PickFileToSave(std::string_view filter, std::string_view defaultExtension,
                                                        const std::filesystem::path& suggested) override;

private:
    QPointer<QWidget> parent_;
};

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
    void Beep() override;
    std::optional<std::filesystem::path> PickFileToOpen(std::string_view filter,
                                                        const std::filesystem::path& suggested) override;
    std::optional<std::filesystem::path> PickFileToSave(std::string_view filter, std::string_view defaultExtension,
                                                        const std::filesystem::path& suggested) override;

private:
    template <class F>
    void OnWindowThread(F&& work);

    Prompts& target_;
};

}  // namespace melodrift

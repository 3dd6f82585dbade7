// The command line's answers to the editor's questions and its message
// boxes: messages go to stderr, questions get the answer the command's flags
// chose (No unless told otherwise), and both are echoed so a log shows them.
#pragma once

#include "system/Prompts.h"

#include <iosfwd>
#include <map>
#include <string>

namespace melodrift {

class CliPrompts : public Prompts {
  public:
    explicit CliPrompts(std::ostream& err) : err_(err) {}

    // The answer to a question with exactly this text (UTF-8).
    void SetAnswer(const std::string& question, bool yes) { answers_[question] = yes; }

    // How many error boxes were shown.
    int ErrorCount() const { return errors_; }

    void Inform(std::string_view text) override;
    void Warn(std::string_view text) override;
    void Error(std::string_view text) override;
    bool AskYesNo(std::string_view text) override;
    bool AskOkCancel(std::string_view text) override;
    void Beep() override {}
    std::optional<std::filesystem::path> PickFileToOpen(std::string_view,
                                                        const std::filesystem::path&) override {
        return std::nullopt;
    }
    std::optional<std::filesystem::path> PickFileToSave(std::string_view, std::string_view,
                                                        const std::filesystem::path&) override {
        return std::nullopt;
    }

  private:
    bool Answer(std::string_view question, const char* yes, const char* no);

    std::ostream& err_;
    std::map<std::string, bool, std::less<>> answers_;
    int errors_ = 0;
};

}  // namespace melodrift

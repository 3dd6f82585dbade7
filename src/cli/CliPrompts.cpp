#include "cli/CliPrompts.h"

#include <ostream>

namespace melodrift {

void CliPrompts::Inform(std::string_view text) { err_ << text << '\n'; }

void CliPrompts::Warn(std::string_view text) { err_ << "warning: " << text << '\n'; }

void CliPrompts::Error(std::string_view text) {
    ++errors_;
    err_ << "error: " << text << '\n';
}

bool CliPrompts::Answer(std::string_view question, const char* yes, const char* no) {
    const auto found = answers_.find(question);
    const bool answer = found != answers_.end() && found->second;
    err_ << question << " -> " << (answer ? yes : no) << '\n';
    return answer;
}

bool CliPrompts::AskYesNo(std::string_view text) { return Answer(text, "yes", "no"); }

bool CliPrompts::AskOkCancel(std::string_view text) { return Answer(text, "OK", "cancel"); }

}  // namespace melodrift

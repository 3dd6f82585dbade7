#include "cli/CliPrompts.h"

#include "text/Text.h"

#include <ostream>

namespace melodrift {

// Messages may carry values read from files: escaped for the terminal.
void CliPrompts::Inform(std::string_view text) { err_ << EscapeControlCharacters(text) << '\n'; }

void CliPrompts::Warn(std::string_view text) {
    err_ << "warning: " << EscapeControlCharacters(text) << '\n';
}

void CliPrompts::Error(std::string_view text) {
    ++errors_;
    err_ << "error: " << EscapeControlCharacters(text) << '\n';
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

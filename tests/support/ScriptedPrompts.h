// Prompts for the tests of every layer: records each message and answers
// questions and file dialogs from scripts.
#pragma once

#include "system/Prompts.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace melodrift::testing {

class ScriptedPrompts : public Prompts {
  public:
    // Everything shown, in order, and the beeps: shared, so that a test can
    // still read it once the prompts' owner (the window) is gone.
    struct Log {
        std::vector<std::string> messages;  // "inform: ...", "warn: ...", "error: ...", "ask: ...",
                                            // "open file", "save file"
        int beeps = 0;
    };

    ScriptedPrompts() : ScriptedPrompts(std::make_shared<Log>()) {}
    explicit ScriptedPrompts(std::shared_ptr<Log> log) : log_(std::move(log)) {}

    // The texts by kind.
    std::vector<std::string> informs, warnings, errors, questions;
    // Answers to the questions, in order; once they run out, questions get
    // `unscriptedAnswer`, and without one such a question fails the test.
    std::deque<bool> answers;
    std::optional<bool> unscriptedAnswer;
    // Results of the file dialogs (open and save alike), in order; nullopt or
    // none left: cancelled.
    std::deque<std::optional<std::filesystem::path>> files;
    std::filesystem::path lastSuggested;  // the file the last dialog offered
    // Answers to the text questions, in order (nullopt or none left:
    // cancelled), and the text each question offered.
    std::deque<std::optional<std::string>> texts;
    std::vector<std::string> offeredTexts;
    // Runs at every box, question and dialog with its log line, before it
    // is answered (e.g. to look at the window's stack at that moment).
    std::function<void(const std::string&)> onPrompt;

    // Prompts that give `answer` to every question not scripted in `answers`.
    static ScriptedPrompts Answering(bool answer) {
        ScriptedPrompts prompts;
        prompts.unscriptedAnswer = answer;
        return prompts;
    }

    const Log& log() const { return *log_; }

    void Inform(std::string_view text) override { Note(informs, "inform: ", text); }
    void Warn(std::string_view text) override { Note(warnings, "warn: ", text); }
    void Error(std::string_view text) override { Note(errors, "error: ", text); }
    bool AskYesNo(std::string_view text) override { return Answer(text); }
    bool AskOkCancel(std::string_view text) override { return Answer(text); }
    void Beep() override { ++log_->beeps; }
    std::optional<std::string> AskText(std::string_view text, std::string_view initial) override {
        questions.emplace_back(text);
        offeredTexts.emplace_back(initial);
        Record("ask text: " + std::string(text));
        if (texts.empty()) return std::nullopt;
        auto answer = texts.front();
        texts.pop_front();
        return answer;
    }
    std::optional<std::filesystem::path> PickFileToOpen(
        std::string_view, const std::filesystem::path& suggested) override {
        return NextFile("open file", suggested);
    }
    std::optional<std::filesystem::path> PickFileToSave(
        std::string_view, std::string_view, const std::filesystem::path& suggested) override {
        return NextFile("save file", suggested);
    }

  private:
    void Note(std::vector<std::string>& kind, std::string_view prefix, std::string_view text) {
        kind.emplace_back(text);
        Record(std::string(prefix) + std::string(text));
    }
    void Record(const std::string& line) {
        if (onPrompt) onPrompt(line);
        log_->messages.push_back(line);
    }
    bool Answer(std::string_view text) {
        questions.emplace_back(text);
        Record("ask: " + std::string(text));
        if (!answers.empty()) {
            const bool answer = answers.front();
            answers.pop_front();
            return answer;
        }
        if (unscriptedAnswer) return *unscriptedAnswer;
        ADD_FAILURE() << "unexpected question: " << text;
        return false;
    }
    std::optional<std::filesystem::path> NextFile(const std::string& line,
                                                  const std::filesystem::path& suggested) {
        if (onPrompt) onPrompt(line);
        lastSuggested = suggested;
        if (files.empty()) return std::nullopt;
        auto file = files.front();
        files.pop_front();
        return file;
    }

    std::shared_ptr<Log> log_;
};

}  // namespace melodrift::testing

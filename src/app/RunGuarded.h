// The boundary of every window event: the work runs inside a catch-all, so no
// exception ever reaches Qt's event loop. A failure beeps and shows an error
// box in Japanese with the reason.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <string_view>

namespace melodrift {

class Prompts;

// The reason of a failure in Japanese: file errors by their error code with
// the file's path, unreadable numbers, values that cannot be written, and
// the editor's own failures; anything else as "内部エラー" with its
// original message.
std::string JapaneseReason(const std::exception& e);

// The text of the error box for a failure with reason `what` (UTF-8).
std::string GuardedErrorText(std::string_view what);

// Runs `work`; on any exception beeps and shows GuardedErrorText. Returns
// false when `work` failed.
bool RunGuarded(Prompts& prompts, const std::function<void()>& work) noexcept;

}  // namespace melodrift

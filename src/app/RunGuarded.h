// The boundary of every window event: the work runs inside a catch-all, so no
// exception ever reaches Qt's event loop. A failure beeps and shows an error
// box in Japanese with the reason.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace melodrift {

class Prompts;

// The text of the error box for a failure with reason `what` (UTF-8).
std::string GuardedErrorText(std::string_view what);

// Runs `work`; on any exception beeps and shows GuardedErrorText. Returns
// false when `work` failed.
bool RunGuarded(Prompts& prompts, const std::function<void()>& work) noexcept;

}  // namespace melodrift

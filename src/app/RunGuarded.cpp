#include "RunGuarded.h"

#include <exception>
#include <new>

#include "text/Prompts.h"

namespace melodrift {

std::string GuardedErrorText(std::string_view what) {
    std::string text = "エラーが発生しました。";
    if (!what.empty()) {
        text += "\n\n";
        text += what;
    }
    return text;
}

bool RunGuarded(Prompts& prompts, const std::function<void()>& work) noexcept {
    std::string reason;
    try {
        work();
        return true;
    } catch (const std::bad_alloc&) {
        reason = "メモリが不足しています。";
    } catch (const std::exception& e) {
        reason = e.what();
    } catch (...) {
        reason.clear();
    }
    try {
        prompts.Beep();
        prompts.Error(GuardedErrorText(reason));
    } catch (...) {
        // The box itself failed; there is nobody left to tell.
    }
    return false;
}

}  // namespace melodrift

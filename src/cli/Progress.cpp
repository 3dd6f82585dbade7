#include "cli/Progress.h"

#include <algorithm>
#include <ostream>
#include <string>

namespace melodrift {

namespace {
constexpr int kBarWidth = 30;
}

ProgressBar::ProgressBar(std::ostream& err, bool enabled, std::chrono::milliseconds delay)
    : err_(err), enabled_(enabled), delay_(delay), start_(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(std::string_view stage, double fraction) {
    if (!enabled_) return;
    if (!drawn_ && std::chrono::steady_clock::now() - start_ < delay_) return;
    const double done = std::clamp(fraction, 0.0, 1.0);
    const int filled = static_cast<int>(done * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), ' ');
    const int percent = static_cast<int>(done * 100.0);
    // "\r" returns to the start of the line; the trailing blanks wipe a
    // longer stage name of the previous update.
    err_ << "\r[" << bar << "] " << percent << "% " << stage << "        " << std::flush;
    drawn_ = true;
}

void ProgressBar::Finish() {
    if (drawn_) {
        err_ << '\n' << std::flush;
        drawn_ = false;
    }
    enabled_ = false;
}

}  // namespace melodrift

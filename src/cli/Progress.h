// A one-line progress bar on a terminal, for analyses that take a while.
#pragma once

#include <chrono>
#include <iosfwd>
#include <string_view>

namespace melodrift {

class ProgressBar {
  public:
    // Draws nothing unless `enabled`, and nothing before `delay` has passed,
    // so quick runs stay silent.
    ProgressBar(std::ostream& err, bool enabled,
                std::chrono::milliseconds delay = std::chrono::milliseconds(1000));
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // `fraction` of the whole job (0..1) is done; `stage` names the step.
    void Update(std::string_view stage, double fraction);
    // Ends the bar's line, if one was drawn.
    void Finish();

  private:
    std::ostream& err_;
    bool enabled_;
    std::chrono::milliseconds delay_;
    std::chrono::steady_clock::time_point start_;
    bool drawn_ = false;
};

}  // namespace melodrift

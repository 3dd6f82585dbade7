// The 2048-point forward real FFT of the analysis, in the packing of the
// classic rdft routine:
//   a[0]      = sum_j x[j]
//   a[1]      = sum_j x[j] (-1)^j                  (the 1024th cosine term)
//   a[2k]     = sum_j x[j] cos(2 pi j k / 2048)     k = 1..1023
//   a[2k + 1] = sum_j x[j] sin(2 pi j k / 2048)     k = 1..1023
// No scaling. One plan for the whole process, made once with FFTW_ESTIMATE so
// that the same input gives the same bits on every run and on every thread.
#pragma once

#include "audio/Frames.h"

#include <mutex>
#include <span>

namespace melodrift {

// Serialises every call into FFTW's planner (planning is not thread-safe;
// executing a plan is).
std::mutex& FftPlannerMutex();

// Per-thread FFT buffers. Creating one may plan (under FftPlannerMutex);
// transforming allocates nothing and takes no lock, so two threads with their
// own workspace transform concurrently.
class FftWorkspace {
  public:
    FftWorkspace();
    ~FftWorkspace();
    FftWorkspace(const FftWorkspace&) = delete;
    FftWorkspace& operator=(const FftWorkspace&) = delete;

    // Transforms `a` in place into the packing above.
    void Rdft(std::span<double, FftSize> a);

    // The same transform without the copies, for per-frame loops: fill
    // Input() (FftSize samples), call Execute(), read Output(): FftSize / 2 + 1
    // complex values X[k] = sum_j x[j] e^(-2 pi i j k / 2048) as (re, im)
    // pairs, so re = the cosine sum and im = minus the sine sum. Execute()
    // may overwrite Input().
    double* Input() { return in_; }
    void Execute();
    const double* Output() const { return out_; }

  private:
    double* in_ = nullptr;   // FftSize doubles, fftw_malloc'd
    double* out_ = nullptr;  // (FftSize / 2 + 1) complex values, fftw_malloc'd
};

}  // namespace melodrift

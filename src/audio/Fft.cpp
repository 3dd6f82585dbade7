#include "audio/Fft.h"

#include <fftw3.h>

#include <cstring>
#include <new>

namespace melodrift {

namespace {

// The process-wide plan, made on first use. fftw_malloc gives every buffer
// the same (SIMD) alignment, which the new-array execute calls require.
fftw_plan ForwardPlan() {
    static const fftw_plan plan = [] {
        std::lock_guard<std::mutex> lock(FftPlannerMutex());
        auto* in = static_cast<double*>(fftw_malloc(sizeof(double) * FftSize));
        auto* out =
            static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (FftSize / 2 + 1)));
        if (in == nullptr || out == nullptr) {
            fftw_free(in);
            fftw_free(out);
            throw std::bad_alloc();
        }
        fftw_plan p = fftw_plan_dft_r2c_1d(FftSize, in, out, FFTW_ESTIMATE);
        fftw_free(in);
        fftw_free(out);
        if (p == nullptr) throw std::bad_alloc();
        return p;
    }();
    return plan;
}

}  // namespace

std::mutex& FftPlannerMutex() {
    static std::mutex mutex;
    return mutex;
}

FftWorkspace::FftWorkspace() {
    ForwardPlan();  // plan before any buffer exists, outside the hot loop
    std::lock_guard<std::mutex> lock(FftPlannerMutex());
    in_ = static_cast<double*>(fftw_malloc(sizeof(double) * FftSize));
    out_ = static_cast<double*>(fftw_malloc(sizeof(fftw_complex) * (FftSize / 2 + 1)));
    if (in_ == nullptr || out_ == nullptr) {
        fftw_free(in_);
        fftw_free(out_);
        throw std::bad_alloc();
    }
}

FftWorkspace::~FftWorkspace() {
    fftw_free(in_);
    fftw_free(out_);
}

void FftWorkspace::Execute() {
    fftw_execute_dft_r2c(ForwardPlan(), in_, reinterpret_cast<fftw_complex*>(out_));
}

void FftWorkspace::Rdft(std::span<double, FftSize> a) {
    std::memcpy(in_, a.data(), sizeof(double) * FftSize);
    // FFTW computes X[k] = sum x[j] e^{-2 pi i j k / n}: Re X[k] is the cosine
    // sum and -Im X[k] the sine sum.
    auto* out = reinterpret_cast<fftw_complex*>(out_);
    fftw_execute_dft_r2c(ForwardPlan(), in_, out);
    a[0] = out[0][0];
    a[1] = out[FftSize / 2][0];
    for (int k = 1; k < FftSize / 2; ++k) {
        a[static_cast<std::size_t>(2 * k)] = out[k][0];
        a[static_cast<std::size_t>(2 * k + 1)] = -out[k][1];
    }
}

}  // namespace melodrift

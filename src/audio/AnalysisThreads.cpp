#include "audio/AnalysisThreads.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace melodrift {

PaddedSamples::PaddedSamples(const WaveBuffer& wave)
    : data_(wave.SampleData().data()),
      blockAlign_(wave.BlockAlign()),
      count_(wave.BitsPerSample() == 16 && wave.BlockAlign() >= 2 ? wave.SampleCount() : 0) {
    // A wave with fewer bytes than its count claims reads as shorter.
    if (blockAlign_ > 0) {
        const auto whole = static_cast<std::int64_t>(wave.SampleData().size()) / blockAlign_;
        count_ = std::min(count_, whole);
    }
}

PaddedSamples::PaddedSamples(std::span<const std::int16_t> mono)
    : mono_(mono.data()), blockAlign_(1), count_(static_cast<std::int64_t>(mono.size())) {}

void PaddedSamples::ReadWindowed(std::int64_t start, std::span<double, FftSize> out) const {
    const auto& window = HannWindow();
    const std::int64_t first = start - ScratchOffset;
    const std::int64_t from = std::clamp<std::int64_t>(-first, 0, FftSize);
    const std::int64_t to = std::clamp<std::int64_t>(count_ - first, from, FftSize);
    // Outside the recording: 0 · w = 0, as Read then ApplyWindow give.
    std::fill(out.begin(), out.begin() + from, 0.0);
    std::fill(out.begin() + to, out.end(), 0.0);
    if (mono_ != nullptr) {
        for (std::int64_t j = from; j < to; ++j) {
            const auto k = static_cast<std::size_t>(j);
            out[k] = static_cast<double>(mono_[first + j]) * window[k];
        }
        return;
    }
    if (std::endian::native == std::endian::little && blockAlign_ == 2) {
        // Mono 16-bit on a little-endian machine: the bytes are the native
        // samples, read as such so that the loop runs on vectors.
        for (std::int64_t j = from; j < to; ++j) {
            std::int16_t value;
            std::memcpy(&value, data_ + (first + j) * 2, sizeof value);
            const auto k = static_cast<std::size_t>(j);
            out[k] = static_cast<double>(value) * window[k];
        }
        return;
    }
    for (std::int64_t j = from; j < to; ++j) {
        const std::uint8_t* p = data_ + (first + j) * blockAlign_;
        const auto value = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
        const auto k = static_cast<std::size_t>(j);
        out[k] = static_cast<double>(value) * window[k];
    }
}

void PaddedSamples::Read(std::int64_t start, std::span<double> out) const {
    const auto n = static_cast<std::int64_t>(out.size());
    // Recording samples covered: [start - offset, start - offset + n) ∩ [0, count).
    const std::int64_t first = start - ScratchOffset;
    const std::int64_t from = std::clamp<std::int64_t>(-first, 0, n);
    const std::int64_t to = std::clamp<std::int64_t>(count_ - first, from, n);
    std::fill(out.begin(), out.begin() + from, 0.0);
    if (mono_ != nullptr) {
        for (std::int64_t j = from; j < to; ++j) out[static_cast<std::size_t>(j)] = mono_[first + j];
        std::fill(out.begin() + to, out.end(), 0.0);
        return;
    }
    for (std::int64_t j = from; j < to; ++j) {
        // Channel 0 of sample frame (first + j): signed 16-bit little-endian.
        const std::uint8_t* p = data_ + (first + j) * blockAlign_;
        const auto value = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
        out[static_cast<std::size_t>(j)] = value;
    }
    std::fill(out.begin() + to, out.end(), 0.0);
}

LagRange LagLimits(double f1Hz, double f2Hz) {
    const double lo = std::min(f1Hz, f2Hz);
    const double hi = std::max(f1Hz, f2Hz);
    // LagToBin(HzToBin(f)) is 44100 / f: the lag in samples of frequency f.
    // Truncation of the extended quotient: 44100 / 882 computes as a hair
    // below 50 and truncates to 49, 44100 / 50 to 881.
    const auto lagOf = [](double hz) -> long double {
        const double bin = HzToBin(hz);
        return std::trunc(static_cast<long double>(FftSize) / bin);
    };
    LagRange range;
    const long double minLag = lagOf(hi);
    const long double maxLag = lagOf(lo);
    // Non-positive or huge frequencies give infinite or out-of-range lags:
    // clamp before converting (NaN compares false and ends at the bound).
    range.MinLag = minLag > 0.0L ? (minLag < SpectrumBins ? static_cast<int>(minLag) : SpectrumBins - 1) : 0;
    range.MaxLag = maxLag < SpectrumBins - 1 ? (maxLag > 0.0L ? static_cast<int>(maxLag) : 0) : SpectrumBins - 1;
    return range;
}

void FrameSpectrum(const PaddedSamples& samples, int frameIndex, int hopSize, FftWorkspace& fft,
                   BinRow& spectrum) {
    // Straight into the FFT's input buffer, windowed as it is read.
    std::span<double, FftSize> x(fft.Input(), FftSize);
    samples.ReadWindowed(static_cast<std::int64_t>(frameIndex) * hopSize, x);
    fft.Execute();
    // |X[k]| / 512 from (re, im) pairs; bin 0 is real. Multiplying by 2^-9
    // rounds exactly as dividing by 512 does (both are the correctly rounded
    // x / 512), and lets the loop run on vectors.
    constexpr double inverse512 = 1.0 / 512.0;
    const double* out = fft.Output();
    spectrum[0] = std::fabs(out[0]) * inverse512;
    for (std::size_t k = 1; k < SpectrumBins; ++k) {
        const double re = out[2 * k];
        const double im = out[2 * k + 1];
        spectrum[k] = std::sqrt(re * re + im * im) * inverse512;
    }
}

namespace {

// The strongest peaks seen so far, strongest first: their strengths and
// lags. A new peak goes in from the last slot towards slot 0, each weaker
// entry moving one place down (the last one falls off). Equal strengths keep
// the earlier (shorter-lag) entry first; since free slots hold strength 0,
// nothing with strength <= 0 is ever taken in. The frequencies are worked
// out only for the peaks that stay, at the end.
struct StrongestPeaks {
    std::array<float, CandidateCount> strength{};
    std::array<int, CandidateCount> lag{};

    float Weakest() const { return strength[CandidateCount - 1]; }

    void Insert(int m, float s) {
        std::size_t slot = CandidateCount;
        while (slot > 0 && s > strength[slot - 1]) {
            if (slot < CandidateCount) {
                strength[slot] = strength[slot - 1];
                lag[slot] = lag[slot - 1];
            }
            --slot;
        }
        if (slot < CandidateCount) {
            strength[slot] = s;
            lag[slot] = m;
        }
    }
};

// Frequency of the autocorrelation peak at lag m: the centroid of the peak
// and its higher neighbour, both measured above the lower neighbour
// (extended precision: differences of close values), as 44100 / lag.
float PeakFrequency(const BinRow& autocorr, int m) {
    const long double a = autocorr[static_cast<std::size_t>(m)];
    const long double before = autocorr[static_cast<std::size_t>(m - 1)];
    const long double after = autocorr[static_cast<std::size_t>(m + 1)];
    long double lag;
    if (before < after) {
        lag = (m * (a - before) + (m + 1) * (after - before)) / ((a - before) + (after - before));
    } else {
        lag = (m * (a - after) + (m - 1) * (before - after)) / ((a - after) + (before - after));
    }
    return static_cast<float>(BinToHz(LagToBin(static_cast<double>(lag))));
}

}  // namespace

void FrameCandidates(const BinRow& spectrum, LagRange lags, FftWorkspace& fft, BinRow& autocorr,
                     CandidateSlots& candidates) {
    constexpr std::size_t centre = FftSize / 2;
    double* input = fft.Input();
    for (std::size_t k = 0; k < SpectrumBins; ++k) {
        const double power = spectrum[k] * spectrum[k];
        input[centre + k] = power;
        input[centre - k] = power;
    }
    input[0] = 0.0;
    // The running maximum is kept in single precision.
    float lowPeak = 0.0f;
    for (std::size_t k = 0; k <= 46; ++k) {
        const double power = spectrum[k] * spectrum[k];
        if (power > lowPeak) lowPeak = static_cast<float>(power);
    }
    input[centre] = lowPeak;
    fft.Execute();
    // Bin m of the transform: (re, im) = (cosine sum, minus the sine sum);
    // only the squared magnitude is used.
    const double* out = fft.Output();

    const int minLag = std::max(lags.MinLag, 0);
    const int maxLag = std::min(lags.MaxLag, SpectrumBins - 1);
    std::fill(autocorr.begin(), autocorr.end(), 0.0);
    constexpr double scale = 1.0 / 4194304.0;  // 2^-22
    for (int m = minLag; m <= maxLag; ++m) {
        const double re = out[static_cast<std::size_t>(2 * m)];
        const double im = out[static_cast<std::size_t>(2 * m + 1)];
        autocorr[static_cast<std::size_t>(m)] = (re * re + im * im) * scale;
    }

    // A peak can enter the list only with a strength above the weakest kept
    // one, w (0 while slots are free). Peaks with x = A[m] + 1e-7 below
    // 10^w (1 - 1e-9) have log10(x) below w by at least 4e-10, far more
    // than the few ulp that log10 and exp may be off, so their single
    // strength is at most w: they are passed over without taking the log.
    // w only grows, so a limit from an earlier w is lower and still safe to
    // pass over by; it is brought up to date only when a peak reaches it.
    StrongestPeaks strongest;
    float weakest = strongest.Weakest();
    // The limit, 10^w (1 - 1e-9) or anything below it, from exp(w ln 10)
    // (cheaper than pow): rounding w ln 10 and exp's own error keep it within
    // 1e-13 relative of 10^w for |w| < 300, so the factor 1 - 2e-9 puts it
    // below 10^w (1 - 1e-9).
    const auto logLimit = [](float strength) {
        constexpr double ln10 = 2.302585092994045684;
        return std::exp(static_cast<double>(strength) * ln10) * (1.0 - 2e-9);
    };
    double limit = logLimit(weakest);
    bool limitStale = false;
    // Peaks right next to the ends of the range are not trusted: m runs over
    // MinLag + 2 .. MaxLag - 2. The strict local maxima are listed first
    // without branches (the test compares the doubles themselves; widening
    // them would not change any comparison), then taken in increasing lag.
    std::array<int, SpectrumBins> peakLags;
    std::size_t peakCount = 0;
    const int lastLag = maxLag - 2;
    int m = minLag + 2;
#if defined(__SSE2__) || defined(_M_X64)
    // Two lags per step on SSE2 (every x86-64 processor): the same ordered
    // comparisons, as lane masks.
    for (; m + 1 <= lastLag; m += 2) {
        const double* at = autocorr.data() + m;
        const __m128d a = _mm_loadu_pd(at);
        const __m128d above = _mm_and_pd(_mm_cmpgt_pd(a, _mm_loadu_pd(at - 1)), _mm_cmpgt_pd(a, _mm_loadu_pd(at + 1)));
        const int mask = _mm_movemask_pd(above);
        peakLags[peakCount] = m;
        peakCount += static_cast<std::size_t>(mask & 1);
        peakLags[peakCount] = m + 1;
        peakCount += static_cast<std::size_t>((mask >> 1) & 1);
    }
#endif
    for (; m <= lastLag; ++m) {
        const double a = autocorr[static_cast<std::size_t>(m)];
        peakLags[peakCount] = m;
        peakCount += static_cast<std::size_t>(static_cast<int>(a > autocorr[static_cast<std::size_t>(m - 1)]) &
                                              static_cast<int>(a > autocorr[static_cast<std::size_t>(m + 1)]));
    }
    for (std::size_t p = 0; p < peakCount; ++p) {
        const int lag = peakLags[p];
        const double peak = autocorr[static_cast<std::size_t>(lag)];
        if (peak + 1e-7 < limit) continue;
        if (limitStale) {
            limit = logLimit(weakest);
            limitStale = false;
            if (peak + 1e-7 < limit) continue;
        }
        // Log of the peak first: a peak at or below 1 can never be inserted.
        const auto strength = static_cast<float>(std::log10(peak + 1e-7));
        if (!(strength > strongest.Weakest())) continue;
        strongest.Insert(lag, strength);
        if (strongest.Weakest() != weakest) {
            weakest = strongest.Weakest();
            limitStale = true;
        }
    }
    candidates.fill(PitchCandidate{});
    for (std::size_t c = 0; c < CandidateCount && strongest.strength[c] > 0.0f; ++c)
        candidates[c] = PitchCandidate{PeakFrequency(autocorr, strongest.lag[c]), strongest.strength[c]};
}

const BinRow& FrameScratch::Row(const SpectrumSource& source, int frame) {
    const auto slot = static_cast<std::size_t>(frame % 3);
    if (rowFrame_[slot] != frame) {
        FrameSpectrum(*source.Samples, frame, source.HopSize, Fft, rows_[slot]);
        rowFrame_[slot] = frame;
    }
    return rows_[slot];
}

ProgressCounter::ProgressCounter(std::function<void(int, int)> callback, int total, int alreadyDone,
                                 const std::atomic<bool>* stop)
    : callback_(std::move(callback)), total_(total), done_(alreadyDone), stop_(stop) {}

void ProgressCounter::Add(int frames) {
    if (!callback_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    done_ += frames;
    callback_(done_, total_);
}

AnalysisWorker::AnalysisWorker(int firstIndex, int lastIndex, ProgressCounter* progress)
    : first_(firstIndex), last_(lastIndex), progress_(progress) {}

AnalysisWorker::~AnalysisWorker() {
    StopAndJoin();
}

void AnalysisWorker::StopAndJoin() {
    if (thread_.joinable()) {
        Terminate();
        thread_.join();
    }
}

void AnalysisWorker::Resume() {
    if (!thread_.joinable()) thread_ = std::thread([this] { Execute(); });
}

void AnalysisWorker::WaitFor() {
    if (thread_.joinable()) thread_.join();
}

void AnalysisWorker::Terminate() {
    terminated_.store(true, std::memory_order_relaxed);
}

void AnalysisWorker::Execute() {
    // Progress goes out in batches so that the callback's lock is not taken
    // per frame.
    constexpr int batch = 256;
    int pending = 0;
    for (int i = first_; i <= last_; ++i) {
        ProcessFrame(i);
        if (progress_ != nullptr && ++pending == batch) {
            progress_->Add(pending);
            pending = 0;
        }
        if (Terminated() || (progress_ != nullptr && progress_->StopRequested())) break;
    }
    if (progress_ != nullptr && pending > 0) progress_->Add(pending);
}

SpectrumWorker::SpectrumWorker(const PaddedSamples& samples, int hopSize, BinRows& spectrum,
                         int firstIndex, int lastIndex, ProgressCounter* progress)
    : AnalysisWorker(firstIndex, lastIndex, progress),
      samples_(samples),
      hopSize_(hopSize),
      spectrum_(spectrum) {}

SpectrumWorker::~SpectrumWorker() {
    StopAndJoin();
}

void SpectrumWorker::ProcessFrame(int index) {
    FrameSpectrum(samples_, index, hopSize_, fft_, spectrum_[static_cast<std::size_t>(index)]);
}

PitchWorker::PitchWorker(const BinRows& spectrum, BinRows& autocorr,
                             CandidateTable& candidates, ChosenStrengths& confidence, AnalysisFrames& frames,
                             LagRange lags, const SpectrumSource* source, const RowTask* task, int firstIndex,
                             int lastIndex, ProgressCounter* progress)
    : AnalysisWorker(firstIndex, lastIndex, progress),
      spectrum_(spectrum),
      autocorr_(autocorr),
      candidates_(candidates),
      confidence_(confidence),
      frames_(frames),
      lags_(lags),
      source_(source),
      task_(task != nullptr && *task ? task : nullptr) {
    if (autocorr_.empty()) scratchRow_ = std::make_unique<BinRow>();
    if (source_ != nullptr) {
        rows_ = std::make_unique<FrameScratch>();
        row_ = [this](int frame) -> const BinRow& { return rows_->Row(*source_, frame); };
    } else {
        row_ = [this](int frame) -> const BinRow& { return spectrum_[static_cast<std::size_t>(frame)]; };
    }
}

PitchWorker::~PitchWorker() {
    StopAndJoin();
}

void PitchWorker::ProcessFrame(int index) {
    const auto i = static_cast<std::size_t>(index);
    BinRow& row = scratchRow_ ? *scratchRow_ : autocorr_[i];
    CandidateSlots& list = candidates_[i];
    FrameCandidates(row_(index), lags_, fft_, row, list);
    PrefetchAhead(frames_, i);
    frames_[i].F0 = list[0].Freq;
    confidence_[i] = list[0].Strength;
    if (task_ != nullptr) (*task_)(index, row_);
}

FrameTaskWorker::FrameTaskWorker(const Task& task, int firstIndex, int lastIndex,
                                   ProgressCounter* progress)
    : AnalysisWorker(firstIndex, lastIndex, progress),
      task_(task),
      scratch_(std::make_unique<FrameScratch>()) {}

FrameTaskWorker::~FrameTaskWorker() {
    StopAndJoin();
}

void FrameTaskWorker::ProcessFrame(int index) {
    task_(index, *scratch_);
}

namespace {

template <typename Worker, typename... Args>
void RunStep(int frameCount, int workerCount, ProgressCounter* progress, Args&&... args) {
    if (frameCount <= 0) return;
    if (workerCount <= 1) {
        Worker worker(args..., 0, frameCount - 1, progress);
        worker.Execute();
        return;
    }
    // Both workers are built (and their FFT buffers allocated) before either
    // starts, so an allocation failure throws before any thread runs.
    const int half = frameCount / 2;
    auto first = std::make_unique<Worker>(args..., 0, half - 1, progress);
    auto second = std::make_unique<Worker>(args..., half, frameCount - 1, progress);
    first->Resume();
    second->Resume();
    first->WaitFor();
    second->WaitFor();
}

}  // namespace

void RunSpectrumStep(const PaddedSamples& samples, int hopSize, BinRows& spectrum,
                     int frameCount, int workerCount, ProgressCounter* progress) {
    RunStep<SpectrumWorker>(frameCount, workerCount, progress, samples, hopSize, spectrum);
}

void RunCandidateStep(const BinRows& spectrum, BinRows& autocorr, CandidateTable& candidates,
                      ChosenStrengths& confidence, AnalysisFrames& frames, LagRange lags,
                      const SpectrumSource* source, int frameCount, int workerCount,
                      ProgressCounter* progress, const RowTask* task) {
    RunStep<PitchWorker>(frameCount, workerCount, progress, spectrum, autocorr, candidates,
                           confidence, frames, lags, source, task);
}

void RunFrameTask(const FrameTaskWorker::Task& task, int frameCount, int workerCount,
                  ProgressCounter* progress) {
    RunStep<FrameTaskWorker>(frameCount, workerCount, progress, task);
}

}  // namespace melodrift

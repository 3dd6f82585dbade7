// The two FFT-heavy analysis steps and the workers that run them.
//
// SpectrumWorker computes magnitude spectra, PitchWorker autocorrelations and
// pitch candidates. Each step splits the frames into two halves (indices
// 0 .. n/2 - 1 and n/2 .. n - 1), runs one worker per half and joins both
// before the next step. Every row a worker writes belongs to its own range,
// so no locks are needed and the results do not depend on the split.
// FrameTaskWorker runs any other per-frame pass (the measures over
// recomputed spectra) the same way.
#pragma once

#include "audio/Fft.h"
#include "audio/Frames.h"
#include "audio/WaveBuffer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

namespace melodrift {

// The recording as the spectrum step reads it: channel 0 of a 16-bit wave,
// starting at sample ScratchOffset of an endless run of silence (scratch
// sample s is recording sample s - 1024), so frame i's window, scratch
// samples i * HopSize .. i * HopSize + 2047, is centred on recording sample
// i * HopSize. Borrows the wave's buffer; copies nothing.
class PaddedSamples {
public:
    static constexpr std::int64_t ScratchOffset = FftSize / 2;

    // `wave` must hold 16-bit samples and outlive this object.
    explicit PaddedSamples(const WaveBuffer& wave);
    // Mono samples held elsewhere; `mono` must outlive this object.
    explicit PaddedSamples(std::span<const std::int16_t> mono);

    // out[j] = scratch sample (start + j) as a double.
    void Read(std::int64_t start, std::span<double> out) const;
    // out[j] = scratch sample (start + j) · HannWindow()[j]: Read then
    // ApplyWindow in one pass, the same bits.
    void ReadWindowed(std::int64_t start, std::span<double, FftSize> out) const;

private:
    const std::uint8_t* data_ = nullptr;     // interleaved 16-bit little-endian, or
    const std::int16_t* mono_ = nullptr;     // one channel in native order
    std::int64_t blockAlign_ = 0;
    std::int64_t count_ = 0;
};

// Where spectrum rows come from when they are not stored: frame i's row is
// FrameSpectrum(samples, i, hopSize, ...), recomputed bit for bit on demand.
struct SpectrumSource {
    const PaddedSamples* Samples = nullptr;
    int HopSize = melodrift::HopSize;
};

// Autocorrelation lags searched for pitch peaks, inclusive [samples].
struct LagRange {
    int MinLag = 0;
    int MaxLag = 0;
};

// MinLag = max(0, Trunc(LagToBin(HzToBin(hi)))), MaxLag = min(1023,
// Trunc(LagToBin(HzToBin(lo)))) for lo/hi the smaller/larger of f1, f2 [Hz].
// 50 and 882 Hz give 49 and 881 (just below the exact 50 and 882).
LagRange LagLimits(double f1Hz, double f2Hz);

// Magnitude spectrum of frame `frameIndex`: the Hann-windowed scratch samples
// frameIndex * hopSize .. + 2047, forward FFT, |X[k]| / 512 for k = 0..1023
// (bin 0 is |sum| / 512). Allocates nothing.
void FrameSpectrum(const PaddedSamples& samples, int frameIndex, int hopSize, FftWorkspace& fft,
                   BinRow& spectrum);

// Pitch candidates of one frame from its magnitude spectrum.
// The power spectrum P = S^2 is laid out symmetric around index 1024 (with
// the centre, P[0], replaced by the largest of P[0..46]) and transformed
// forward: bin m then holds, up to the sign (-1)^m, the autocorrelation of
// the windowed frame at lag m.
// autocorr[m] = |X[m]|^2 * 2^-22 for m in the lag range, 0 elsewhere.
// Each strict local maximum at lags MinLag + 2 .. MaxLag - 2 (peaks next to
// the ends of the range are dropped) gives a
// candidate at 44100 / L Hz (L: centroid of the peak and its higher
// neighbour above the lower one) with Strength log10(A[m] + 1e-7); the
// strongest CandidateCount with Strength > 0 are kept, strongest first,
// ties keeping the shorter lag first. Allocates nothing.
void FrameCandidates(const BinRow& spectrum, LagRange lags, FftWorkspace& fft, BinRow& autocorr,
                     CandidateSlots& candidates);

// Scratch of one worker for per-frame tasks: FFT buffers and a small cache of
// recomputed spectrum rows (three, enough for a frame and its two neighbours
// when frames are visited in increasing order).
class FrameScratch {
public:
    FftWorkspace Fft;
    BinRow Residual{};

    // Frame `frame`'s spectrum row (frame >= 0), computed from `source`
    // unless cached. The reference stays valid until two more rows of other
    // frames have been asked for.
    const BinRow& Row(const SpectrumSource& source, int frame);

private:
    std::array<BinRow, 3> rows_{};
    std::array<int, 3> rowFrame_{-1, -1, -1};
};

// Frame `frame`'s spectrum row, as a worker walking its frames in increasing
// order has it: the row of the frame in hand and those of its two neighbours
// are valid at the same time.
using RowAccess = std::function<const BinRow&(int frame)>;
// A per-frame task run by the candidate step right after a frame's
// candidates, on the same worker, with that frame's rows at hand (so a row
// is never computed twice). It may write only frame `index`'s elements.
using RowTask = std::function<void(int index, const RowAccess& row)>;

// Frames-done counter shared by the workers of one analysis. Add() may be
// called from any thread; the callback (done, total) is called under a lock,
// so it never runs twice at once and sees `done` increase.
class ProgressCounter {
public:
    // `alreadyDone` frames count as done before the first Add. `stop`, when
    // given, is a request to end the step early that the workers read
    // between frames.
    ProgressCounter(std::function<void(int done, int total)> callback, int total, int alreadyDone = 0,
                    const std::atomic<bool>* stop = nullptr);
    void Add(int frames);
    bool StopRequested() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }

private:
    std::function<void(int, int)> callback_;
    int total_ = 0;
    int done_ = 0;
    std::mutex mutex_;
    const std::atomic<bool>* stop_ = nullptr;
};

// Base of the workers: a std::thread run over an inclusive frame range,
// with a stop request that takes effect between frames.
class AnalysisWorker {
public:
    AnalysisWorker(int firstIndex, int lastIndex, ProgressCounter* progress);
    virtual ~AnalysisWorker();
    AnalysisWorker(const AnalysisWorker&) = delete;
    AnalysisWorker& operator=(const AnalysisWorker&) = delete;

    void Resume();     // starts the thread running Execute()
    void WaitFor();    // joins the thread (no-op if it never started)
    void Terminate();  // asks the frame loop to stop after the current frame
    bool Terminated() const { return terminated_.load(std::memory_order_relaxed); }

    // The frame loop; runs on the calling thread when called directly.
    void Execute();

protected:
    virtual void ProcessFrame(int index) = 0;
    // Stops and joins; every derived destructor calls it first, so the
    // thread never runs ProcessFrame on a half-destroyed object.
    void StopAndJoin();

    FftWorkspace fft_;

private:
    int first_ = 0;
    int last_ = -1;
    ProgressCounter* progress_ = nullptr;
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};

// Writes Spectrum rows first..last.
class SpectrumWorker final : public AnalysisWorker {
public:
    SpectrumWorker(const PaddedSamples& samples, int hopSize, BinRows& spectrum, int firstIndex,
                int lastIndex, ProgressCounter* progress);
    ~SpectrumWorker() override;

protected:
    void ProcessFrame(int index) override;

private:
    const PaddedSamples& samples_;
    int hopSize_;
    BinRows& spectrum_;
};

// Reads Spectrum rows first..last; writes the same rows of Candidates,
// Confidence and Frames (F0) and, when `autocorr` is not empty, of Autocorr.
// With an empty `autocorr` the rows live in one scratch row per worker.
// With a `source`, the spectrum rows are computed here instead of read from
// `spectrum` (which is then not used). A `task` runs on every frame after
// its candidates.
class PitchWorker final : public AnalysisWorker {
public:
    PitchWorker(const BinRows& spectrum, BinRows& autocorr, CandidateTable& candidates,
                  ChosenStrengths& confidence, AnalysisFrames& frames, LagRange lags,
                  const SpectrumSource* source, const RowTask* task, int firstIndex, int lastIndex,
                  ProgressCounter* progress);
    ~PitchWorker() override;

protected:
    void ProcessFrame(int index) override;

private:
    const BinRows& spectrum_;
    BinRows& autocorr_;
    CandidateTable& candidates_;
    ChosenStrengths& confidence_;
    AnalysisFrames& frames_;
    LagRange lags_;
    const SpectrumSource* source_;
    const RowTask* task_;
    RowAccess row_;                          // rows of `spectrum` or recomputed into rows_
    std::unique_ptr<BinRow> scratchRow_;
    std::unique_ptr<FrameScratch> rows_;     // with a source: the last three rows computed
};

// Runs task(index, scratch) for frames first..last with the worker's own
// scratch. The task must write nothing outside frame `index`'s elements.
class FrameTaskWorker final : public AnalysisWorker {
public:
    using Task = std::function<void(int index, FrameScratch& scratch)>;
    FrameTaskWorker(const Task& task, int firstIndex, int lastIndex, ProgressCounter* progress);
    ~FrameTaskWorker() override;

protected:
    void ProcessFrame(int index) override;

private:
    const Task& task_;
    std::unique_ptr<FrameScratch> scratch_;
};

// Runs the workers: with workerCount 2 (the normal case) worker 0 takes frames
// 0 .. frameCount/2 - 1 and worker 1 the rest, both on their own threads,
// joined in order; with workerCount 1 one worker runs all frames on the
// calling thread. `progress` may be null.
void RunSpectrumStep(const PaddedSamples& samples, int hopSize, BinRows& spectrum,
                     int frameCount, int workerCount, ProgressCounter* progress);
void RunCandidateStep(const BinRows& spectrum, BinRows& autocorr, CandidateTable& candidates,
                      ChosenStrengths& confidence, AnalysisFrames& frames, LagRange lags,
                      const SpectrumSource* source, int frameCount, int workerCount,
                      ProgressCounter* progress, const RowTask* task = nullptr);
void RunFrameTask(const FrameTaskWorker::Task& task, int frameCount, int workerCount,
                  ProgressCounter* progress);

}  // namespace melodrift

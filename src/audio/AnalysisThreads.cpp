#include "audio/AnalysisThreads.h"

#include "audio/Parallel.h"

#include <cstddef>
#include <limits>
#include <memory>
#include <stop_token>

namespace melodrift {

ProgressCounter::ProgressCounter(std::function<void(int, int)> callback, int total, int alreadyDone,
                                 const std::atomic<bool>* stop)
    : callback_(std::move(callback)), total_(total), done_(alreadyDone), stop_(stop) {}

void ProgressCounter::Add(int frames) {
    if (!callback_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    done_ += frames;
    callback_(done_, total_);
}

namespace {

// Frames first..last (inclusive) through worker.ProcessFrame, on the calling
// thread. Progress goes out in batches so that the callback's lock is not
// taken per frame. Ends after the frame in hand when `stop` or the
// progress' stop request asks for it.
template <class Worker>
void RunFrames(Worker& worker, int first, int last, ProgressCounter* progress,
               const std::stop_token& stop) {
    constexpr int batch = 256;
    int pending = 0;
    for (int i = first; i <= last; ++i) {
        worker.ProcessFrame(i);
        if (progress != nullptr && ++pending == batch) {
            progress->Add(pending);
            pending = 0;
        }
        if (stop.stop_requested() || (progress != nullptr && progress->StopRequested())) break;
    }
    if (progress != nullptr && pending > 0) progress->Add(pending);
}

// One worker per half of the frames (see StepRun), each built from `step`
// on the thread that runs it, with its own scratch. When one half throws
// (an allocation failure), the other stops after its frame in hand and the
// exception reaches the caller.
template <class Worker, class Step>
void RunStep(const Step& step, const StepRun& run) {
    if (run.FrameCount <= 0) return;
    // One frame is not worth a thread; it gives the same bits either way.
    const std::size_t worthAThread =
        run.WorkerCount > 1 ? 2 : std::numeric_limits<std::size_t>::max();
    InTwoHalves(static_cast<std::size_t>(run.FrameCount), worthAThread,
                [&step, &run](std::size_t first, std::size_t end, std::stop_token stop) {
                    Worker worker(step);
                    RunFrames(worker, static_cast<int>(first), static_cast<int>(end) - 1,
                              run.Progress, stop);
                });
}

// Writes the spectrum rows of its frames.
class SpectrumWorker {
  public:
    explicit SpectrumWorker(const SpectrumStep& step) : step_(step) {}

    void ProcessFrame(int index) {
        FrameSpectrum(step_.Samples, index, step_.HopSize, fft_,
                      step_.Spectrum[static_cast<std::size_t>(index)]);
    }

  private:
    const SpectrumStep& step_;
    FftWorkspace fft_;
};

// Finds the candidates of its frames (see CandidateStep).
class PitchWorker {
  public:
    explicit PitchWorker(const CandidateStep& step)
        : step_(step), task_(step.Task != nullptr && *step.Task ? step.Task : nullptr) {
        if (step_.Autocorr.empty()) scratchRow_ = std::make_unique<BinRow>();
        if (step_.Source != nullptr) {
            rows_ = std::make_unique<FrameScratch>();
            row_ = [this](int frame) -> const BinRow& { return rows_->Row(*step_.Source, frame); };
        } else {
            row_ = [this](int frame) -> const BinRow& {
                return step_.Spectrum[static_cast<std::size_t>(frame)];
            };
        }
    }
    PitchWorker(const PitchWorker&) = delete;  // row_ refers to this object
    PitchWorker& operator=(const PitchWorker&) = delete;

    void ProcessFrame(int index) {
        const auto i = static_cast<std::size_t>(index);
        BinRow& row = scratchRow_ ? *scratchRow_ : step_.Autocorr[i];
        CandidateSlots& list = step_.Candidates[i];
        FrameCandidates(row_(index), step_.Lags, fft_, row, list);
        PrefetchAhead(step_.Frames, i);
        step_.Frames[i].F0 = list[0].Freq;
        step_.Confidence[i] = list[0].Strength;
        if (task_ != nullptr) (*task_)(index, row_);
    }

  private:
    const CandidateStep& step_;
    const RowTask* task_;
    FftWorkspace fft_;
    RowAccess row_;                       // rows of Spectrum or recomputed into rows_
    std::unique_ptr<BinRow> scratchRow_;  // the autocorrelation row when Autocorr is empty
    std::unique_ptr<FrameScratch> rows_;  // with a Source: the last three rows computed
};

// Runs a frame task with its own scratch.
class FrameTaskWorker {
  public:
    explicit FrameTaskWorker(const FrameTask& task)
        : task_(task), scratch_(std::make_unique<FrameScratch>()) {}

    void ProcessFrame(int index) { task_(index, *scratch_); }

  private:
    const FrameTask& task_;
    std::unique_ptr<FrameScratch> scratch_;
};

}  // namespace

void RunSpectrumStep(const SpectrumStep& step, const StepRun& run) {
    RunStep<SpectrumWorker>(step, run);
}

void RunCandidateStep(const CandidateStep& step, const StepRun& run) {
    RunStep<PitchWorker>(step, run);
}

void RunFrameTask(const FrameTask& task, const StepRun& run) {
    RunStep<FrameTaskWorker>(task, run);
}

}  // namespace melodrift

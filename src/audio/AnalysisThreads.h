// The analysis' per-frame steps on two threads.
//
// The spectrum step computes magnitude spectra (Spectra.h), the candidate
// step autocorrelations and pitch candidates (PitchCandidates.h), and a
// frame task any other per-frame pass (the measures over recomputed
// spectra). Each step splits the frames into two halves (indices
// 0 .. n/2 - 1 and n/2 .. n - 1) with InTwoHalves (Parallel.h), runs one
// worker with its own scratch per half and returns when both are done.
// Every row a worker writes belongs to its own range, so no locks are
// needed and the results do not depend on the split.
#pragma once

#include "audio/Frames.h"
#include "audio/PitchCandidates.h"
#include "audio/Spectra.h"

#include <atomic>
#include <functional>
#include <mutex>

namespace melodrift {

// Frame `frame`'s spectrum row, as a worker walking its frames in increasing
// order has it: the row of the frame in hand and those of its two neighbours
// are valid at the same time.
using RowAccess = std::function<const BinRow&(int frame)>;
// A per-frame task run by the candidate step right after a frame's
// candidates, on the same worker, with that frame's rows at hand (so a row
// is never computed twice). It may write only frame `index`'s elements.
using RowTask = std::function<void(int index, const RowAccess& row)>;
// A per-frame task with the worker's own scratch. It must write nothing
// outside frame `index`'s elements.
using FrameTask = std::function<void(int index, FrameScratch& scratch)>;

// Frames-done counter shared by the workers of one analysis. Add() may be
// called from any thread; the callback (done, total) is called under a lock,
// so it never runs twice at once and sees `done` increase.
class ProgressCounter {
  public:
    // `alreadyDone` frames count as done before the first Add. `stop`, when
    // given, is a request to end the step early that the workers read
    // between frames.
    ProgressCounter(std::function<void(int done, int total)> callback, int total,
                    int alreadyDone = 0, const std::atomic<bool>* stop = nullptr);
    void Add(int frames);
    bool StopRequested() const {
        return stop_ != nullptr && stop_->load(std::memory_order_relaxed);
    }

  private:
    std::function<void(int, int)> callback_;
    int total_ = 0;
    int done_ = 0;
    std::mutex mutex_;
    const std::atomic<bool>* stop_ = nullptr;
};

// How the steps run, the same for each: `frameCount` frames; with
// `workerCount` 2 (the normal case) frames 0 .. frameCount/2 - 1 on the
// calling thread and the rest on a second one at the same time, with 1 all
// frames on the calling thread. `progress` may be null; its stop request
// ends the step after the frame in hand.
struct StepRun {
    int FrameCount = 0;
    int WorkerCount = 2;
    ProgressCounter* Progress = nullptr;
};

// The spectrum step writes Spectrum rows 0 .. FrameCount - 1 (the vector
// holds that many rows) from `Samples`, frame i at i * HopSize.
struct SpectrumStep {
    const PaddedSamples& Samples;
    int HopSize = melodrift::HopSize;
    BinRows& Spectrum;
};

// The candidate step reads each frame's spectrum row and writes the same
// rows of Candidates, Confidence and Frames (F0) and, when Autocorr is not
// empty, of Autocorr; with an empty Autocorr the rows live in one scratch
// row per worker. With a Source, the spectrum rows are computed from it
// instead of read from Spectrum (which is then not used). A Task runs on
// every frame after its candidates.
struct CandidateStep {
    const BinRows& Spectrum;
    BinRows& Autocorr;
    CandidateTable& Candidates;
    ChosenStrengths& Confidence;
    AnalysisFrames& Frames;
    LagRange Lags;
    const SpectrumSource* Source = nullptr;
    const RowTask* Task = nullptr;
};

void RunSpectrumStep(const SpectrumStep& step, const StepRun& run);
void RunCandidateStep(const CandidateStep& step, const StepRun& run);
// task(index, scratch) for every frame, each worker with its own scratch.
void RunFrameTask(const FrameTask& task, const StepRun& run);

}  // namespace melodrift

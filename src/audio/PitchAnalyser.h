// PitchAnalyser: the analyser of one recording.
//
// Given a 44100 Hz, 16-bit wave it places a frame every 256 samples, computes
// a 2048-point magnitude spectrum per frame, finds up to ten pitch candidates
// per frame from the autocorrelation, follows candidates from frame to frame
// to choose each frame's F0, re-picks inside short gaps, and measures
// harmonic amplitudes and noise band levels.
//
// Units: sample positions in samples of the 44100 Hz recording; frequencies
// in Hz; FFT bin k is k * 44100 / 2048 Hz; autocorrelation lag m in samples.
// A frame is unvoiced when its F0 is 0.
#pragma once

#include "audio/AnalysisThreads.h"
#include "audio/Frames.h"
#include "audio/WaveBuffer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace melodrift {

// The least Strength a candidate needs to become a frame's traced pitch:
// the tracker takes candidates of 3.3 and up, the gap bridging re-picks
// down to this. Weaker candidates are never traced by the analysis.
inline constexpr float MinTracedStrength = 2.0f;

// How Analyze runs; none of it changes any result.
struct AnalysisOptions {
    int WorkerCount = 2;        // threads per FFT step: 2, or 1 (all frames on the calling thread)
    bool KeepAutocorr = false;  // keep the Autocorr rows (8 kB per frame); otherwise they
                                // live in one scratch row per worker and Autocorr stays empty
    // Keep the Spectrum rows (8 kB per frame: 850 MB for ten minutes). When
    // false, Spectrum stays empty and every step that needs a row recomputes
    // it, bit for bit, from a copy of the recording's channel 0 (2 bytes per
    // sample); SpectrumRow() gives any row either way.
    bool KeepSpectra = true;
    // Without kept spectra: recompute the rows from the analysed wave itself
    // instead of a copy of its channel 0 (2 bytes per sample less). The wave
    // must then stay alive and unchanged until ReleaseSpectra, Clear or the
    // next analysis.
    bool BorrowWave = false;
    // Called from the worker threads (never twice at once) with frames done
    // and the total: 2 * FrameCount (spectra, then candidates) with kept
    // spectra, FrameCount (both at once) without.
    std::function<void(int done, int total)> Progress;
    // When set and true, the frame steps stop between frames and Analyze
    // returns early, leaving an unfinished analysis the caller must drop.
    // Set from any thread while Analyze runs.
    const std::atomic<bool>* Stop = nullptr;
};

class PitchAnalyser {
  public:
    // HopSize 256, no frames, CandidateCount 10; builds HannWindow.
    PitchAnalyser();

    int HopSize = melodrift::HopSize;  // samples between frame centres
    int FrameCount = 0;
    int HeadFrame = -1;     // index of the earliest frame in time, -1 when empty
    int TailFrame = -1;     // index of the latest frame in time, -1 when empty
    AnalysisFrames Frames;  // creation order; time order via PrevFrame/NextFrame
    BinRows Spectrum;       // per frame: magnitude of bins 0..1023
    BinRows Autocorr;       // per frame: squared autocorrelation, lags 0..1023 (see KeepAutocorr)
    ChosenStrengths Confidence;  // per frame: Strength of the chosen candidate, 0 when unvoiced
    CandidateTable Candidates;   // per frame: CandidateCount candidates, strongest first
    int CandidateCount = melodrift::CandidateCount;

    AnalysisOptions Options;
    bool StopRequested() const {
        return Options.Stop != nullptr && Options.Stop->load(std::memory_order_relaxed);
    }

    // ComputeSpectra, FindCandidates(50, 882), TrackPitch (with BridgeGaps),
    // MeasureHarmonics, MeasureNoiseBands, SmoothNoiseBands, Normalize.
    // A wave that is not 44100 Hz, 16 bits leaves everything unchanged; the
    // caller tests FrameCount.
    void Analyze(const WaveBuffer& wave);

    // The pitch alone: ComputeSpectra, FindCandidates(50, 882) and
    // TrackPitch (with BridgeGaps). F0, Confidence and Candidates are as
    // Analyze leaves them; the harmonic and noise measures are not taken.
    // `alongside` runs in the candidate step on every frame with its rows at
    // hand (see RowTask), so that measures from the spectra cost no second
    // row computation.
    void AnalyzePitch(const WaveBuffer& wave, const RowTask& alongside = {});
    // The same after ComputeSpectra has laid out the frames (which needs only
    // the wave's format and length, so it may run while the samples are
    // still being prepared): FindCandidates(50, 882) and TrackPitch.
    void TracePitch(const RowTask& alongside = {});

    // No frames; the per-frame arrays are emptied too.
    void Clear();
    // Frees the memory of Spectrum and Autocorr (about 8 kB per frame each)
    // and of the sample copy once nothing needs them any more; the next
    // analysis rebuilds them.
    void ReleaseSpectra();
    // Frame `frame`'s magnitude spectrum: the stored row, or one recomputed
    // from the sample copy when spectra are not kept; zeros when neither is
    // there (after ReleaseSpectra, or for a frame outside the list). Not for
    // use from several threads at once.
    void SpectrumRow(int frame, BinRow& row);

    // Called with a frame index and that frame's spectrum row, from the
    // worker threads: every frame exactly once, different frames at the same
    // time. It may write only what belongs to its own frame.
    using SpectrumVisitor = std::function<void(int frame, const BinRow& row)>;
    // visit(i, row) for every frame, stored or recomputed rows alike; nothing
    // when there are no spectra (after ReleaseSpectra).
    void VisitSpectra(const SpectrumVisitor& visit);

    // The frame at sample `position`; created when there is none:
    //  - empty list: a frame at 0, both head and tail;
    //  - position < 0: a new head at `position`, then every SamplePos moves
    //    by -position (the new head lands on 0);
    //  - between two frames: a zeroed frame filled by InterpolateFrame from
    //    its neighbours in time (t from the positions);
    //  - past the tail: an initialised frame, the new tail.
    // New frames are appended to the array; the time order lives in
    // PrevFrame/NextFrame, so array and time order can differ.
    int AddFrame(std::int32_t position);
    // Working defaults for frame `index`: position 0, no links, all measures
    // and pitches 0, EnvelopeScale 1, NoiseFloor 0.2, NoiseFloorLevel 2000,
    // TiltExponent 1. Ignored outside 0..FrameCount-1.
    void InitFrame(int index);
    // Frame `dest` = frame a + t (frame b - frame a), field by field: F0; the
    // harmonics only when the new F0 > 0; the noise levels; TargetF0 ..
    // TiltExponent. Position and links are untouched. Ignored for unknown
    // frames.
    void InterpolateFrame(int dest, int a, int b, float t);

    // Places the frames (one every HopSize samples from 0 through N div
    // HopSize, then one on sample N - 1) and computes their spectra (or, when
    // spectra are not kept, copies the samples they are computed from).
    // Frame i's window is centred on recording sample i * HopSize.
    // Not 44100 Hz / 16 bits: returns without changing anything.
    void ComputeSpectra(const WaveBuffer& wave);
    // Candidates of every frame in the lag range LagLimits(f1Hz, f2Hz);
    // sets F0 and Confidence from each frame's strongest candidate, then
    // runs `alongside` on the frame (see RowTask).
    void FindCandidates(double f1Hz, double f2Hz, const RowTask& alongside = {});
    // Chooses F0 by following candidates (Strength >= 3.3) from frame to
    // frame within a ratio of 1.1 of the prediction; a frame takes the chain
    // of best mean rank among those longer than 5 frames, if that chain's
    // mean Strength is at least 4. Ends with BridgeGaps.
    void TrackPitch();
    // For voiced frames a and i at most 20 apart with pitches within a factor
    // 1.5 (and i - a >= 2): every frame a..i re-picks (RepickF0, strength 2)
    // within ±20 % of the straight line between the two pitches.
    void BridgeGaps();
    // F0 of frame `frame` := the strongest candidate with f1..f2 (either order)
    // and Strength >= minStrength (earliest slot on ties); unvoiced (F0 and
    // Confidence 0) when none.
    void RepickF0(int frame, float minStrength, double f1Hz, double f2Hz);

    // Harmonic amplitudes at each frame's F0: Harmonic[h-1] = S[k-1] + S[k] +
    // S[k+1] with k = NearestBin(h F0) when 0 < k < 836, else 0;
    // HarmonicTotal their sum. Unvoiced frames: harmonics 0, total kept.
    void MeasureHarmonics();
    // Every frame's F0 := 150 Hz, and harmonic h := the peak of the spectrum
    // within ±300 Hz of h * 150 Hz, triangularly weighted (1 at the tooth).
    void MeasureFixedComb();
    // Noise[b] = 0.003 * (sum of band b's bins with five bins around every
    // harmonic removed) / ((0.2 b)^2 + 1); first and last frame 0.
    void MeasureNoiseBands();
    // Noise[b] = 0.002 * sum over band b of |S_i - (S_i-1 + S_i+1) / 2|
    // (neighbours in array order); first and last frame 0.
    void MeasureNoiseFlux();
    // Centred three-frame moving average of each band over time (from the
    // unsmoothed values); the first and last frame keep theirs.
    void SmoothNoiseBands();
    // Scales harmonics and noise of all frames so that the largest
    // HarmonicTotal becomes 30000; nothing changes when all totals are 0.
    void Normalize();
    // MeasureFixedComb and MeasureNoiseFlux in one pass over the spectra (one
    // recomputation per frame instead of two when spectra are not kept),
    // also handing each row to `visit` (see VisitSpectra) when given: what
    // the editor does right after Analyze. Results equal the separate calls.
    void MeasureFixedCombAndNoiseFlux(const SpectrumVisitor& visit = {});
    // The same measures as a task for AnalyzePitch, except that F0 is left
    // alone (the caller sets it to the comb's 150 Hz once the pitch is
    // taken): each frame's fixed-comb harmonics and noise flux, then
    // visit(i, row) when given.
    RowTask FixedCombAndNoiseFluxTask(const SpectrumVisitor& visit = {});

    // The lag range of the last FindCandidates.
    LagRange Lags() const { return lags_; }

  private:
    // Rows come from Spectrum when it holds every frame, else from samples_.
    bool SpectraStored() const;
    SpectrumSource Source(const PaddedSamples& samples) const;
    // The recording the rows are recomputed from: the borrowed wave or samples_.
    PaddedSamples HeldSamples() const;
    // MeasureHarmonics and MeasureNoiseBands in one pass over recomputed rows.
    void MeasureHarmonicsAndNoiseBands();

    LagRange lags_;
    std::vector<std::int16_t> samples_;         // channel 0, when spectra are not kept
    const WaveBuffer* borrowedWave_ = nullptr;  // read instead of samples_ (BorrowWave)
    bool samplesHeld_ = false;  // samples_ or borrowedWave_ is the current recording
    std::unique_ptr<FrameScratch> rowScratch_;  // for SpectrumRow
};

// Noise band b covers FFT bins First..Last (inclusive): from NearestBin(x_b)
// to NearestBin(1.45 x_b) - 1 with x_0 = 50 Hz and x_{b+1} = 1.45 x_b.
struct NoiseBand {
    int First = 0;
    int Last = -1;
};
const std::array<NoiseBand, NoiseBandCount>& NoiseBands();

}  // namespace melodrift

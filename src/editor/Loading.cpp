#include "editor/Loading.h"

#include "audio/Parallel.h"
#include "audio/PitchAnalyser.h"
#include "audio/Resynthesizer.h"
#include "audio/WaveBuffer.h"
#include "editor/LoadChecks.h"
#include "editor/LoadingPicture.h"
#include "editor/Voicing.h"
#include "system/Files.h"
#include "system/Prompts.h"
#include "text/NumberFormat.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace melodrift {

namespace {

// Channel 0 of sample frame i of 16-bit little-endian sample bytes. Mono
// bytes on a little-endian machine are native samples, read as such so
// that the loops over them run on vectors.
std::int16_t Channel0(const std::uint8_t* bytes, std::size_t stride, std::size_t i) {
    if (std::endian::native == std::endian::little && stride == 2) {
        std::int16_t value;
        std::memcpy(&value, bytes + i * 2, sizeof value);
        return value;
    }
    const std::uint8_t* p = bytes + i * stride;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

// Sample frames whose channel-0 bytes are all in the buffer, for 16-bit
// waves (GetSample reads the others as 0, SetSample skips them); 0 for other
// sample sizes.
std::size_t WholeSamples16(const WaveBuffer& wave) {
    const std::size_t stride = wave.BlockAlign();
    if (wave.BitsPerSample() != 16 || stride < 2) return 0;
    return std::min<std::size_t>(wave.SampleCount(), wave.SampleData().size() / stride);
}

// Sample frames below which a pass over the samples is not worth a second
// thread (about 2 ms of work).
constexpr std::size_t kSamplesWorthAThread = std::size_t{1} << 20;

}  // namespace

void NormalisePeak(WaveBuffer& wave, double target) {
    const std::uint32_t count = wave.SampleCount();
    if (count == 0) return;
    if (wave.BitsPerSample() != 16) {
        int peak = 0;
        for (std::uint32_t i = 0; i < count; ++i)
            peak = std::max(peak, std::abs(static_cast<int>(wave.GetSample(i, 0))));
        if (peak < 10) return;  // digital silence is not amplified
        const auto factor = static_cast<float>(static_cast<long double>(target) * 32767.0L / peak);
        for (std::uint32_t i = 0; i < count; ++i) {
            const long double scaled = static_cast<long double>(wave.GetSample(i, 0)) * factor;
            wave.SetSample(i, 0, static_cast<std::int32_t>(std::floor(scaled)));
        }
        return;
    }
    ApplyScaleTable(wave, PeakScaleTable(wave, target));
}

std::vector<std::uint16_t> PeakScaleTable(const WaveBuffer& wave, double target) {
    if (wave.BitsPerSample() != 16 || wave.SampleCount() == 0) return {};
    // 16 bits: straight over the bytes. A 16-bit sample times a float
    // (24-bit significand) needs at most 40 bits, so the double product is
    // exact and equals the extended one; floor then agrees too.
    const std::size_t whole = WholeSamples16(wave);
    const std::span<const std::uint8_t> bytes = wave.SampleData();
    const std::size_t stride = wave.BlockAlign();
    const auto peakOf = [&bytes, stride](std::size_t first, std::size_t last) {
        int peak = 0;
        if (stride == 2) {
            // The lowest and highest sample, on 16-bit lanes (a vector pass),
            // then the larger magnitude: 32768 for -32768, as abs gives it.
            const std::uint8_t* data = bytes.data();
            std::int16_t low = 0;
            std::int16_t high = 0;
            for (std::size_t i = first; i < last; ++i) {
                const std::int16_t value = Channel0(data, 2, i);
                low = std::min(low, value);
                high = std::max(high, value);
            }
            peak = std::max(-static_cast<int>(low), static_cast<int>(high));
        } else {
            for (std::size_t i = first; i < last; ++i)
                peak =
                    std::max(peak, std::abs(static_cast<int>(Channel0(bytes.data(), stride, i))));
        }
        return peak;
    };
    const int peak = InTwoHalves(whole, kSamplesWorthAThread, peakOf,
                                 [](int a, int b) { return std::max(a, b); });
    if (peak < 10) return {};  // digital silence is not amplified
    const auto factor = static_cast<float>(static_cast<long double>(target) * 32767.0L / peak);
    // Every sample value's result, worked out once (65536 products instead
    // of one per sample); the samples are then looked up, indexed by their
    // 16 bits.
    std::vector<std::uint16_t> scaled(65536);
    for (int value = -32768; value <= 32767; ++value) {
        const double product = static_cast<double>(value) * static_cast<double>(factor);
        // floor(product), |product| <= 32768 factor < 2^31 (peak >= 10): the
        // truncation, one lower when it rounded a negative value up.
        auto floored = static_cast<std::int32_t>(product);
        floored -= floored > product ? 1 : 0;
        // The low 16 bits, as SetSample stores them.
        scaled[static_cast<std::uint16_t>(value)] =
            static_cast<std::uint16_t>(static_cast<std::uint32_t>(floored) & 0xFFFFU);
    }
    return scaled;
}

void ApplyScaleTable(WaveBuffer& wave, std::span<const std::uint16_t> scaled) {
    if (scaled.size() != 65536 || wave.BitsPerSample() != 16) return;
    const std::size_t whole = WholeSamples16(wave);
    const std::span<std::uint8_t> bytes = wave.MutableSampleData();
    const std::size_t stride = wave.BlockAlign();
    const auto scale = [&bytes, &scaled, stride](std::size_t first, std::size_t last) {
        if (std::endian::native == std::endian::little && stride == 2) {
            // Native samples, read and written as such.
            for (std::size_t i = first; i < last; ++i) {
                std::uint16_t value;
                std::memcpy(&value, bytes.data() + i * 2, sizeof value);
                std::memcpy(bytes.data() + i * 2, &scaled[value], sizeof value);
            }
            return;
        }
        for (std::size_t i = first; i < last; ++i) {
            std::uint8_t* p = bytes.data() + i * stride;
            const std::uint16_t value = scaled[static_cast<std::uint16_t>(p[0] | (p[1] << 8))];
            p[0] = static_cast<std::uint8_t>(value & 0xFFU);
            p[1] = static_cast<std::uint8_t>(value >> 8);
        }
    };
    InTwoHalves(whole, kSamplesWorthAThread, scale);
}

namespace {

// The image's dB of a pair sum: 20 log10(v / 800) with v = sum / 2 + 1e-8,
// in extended precision, stored as a single.
float PairSumDbExtended(float sum) {
    const long double v = static_cast<long double>(sum) / 2.0L + 0.00000001L;
    return static_cast<float>(20.0L * std::log10(v / 800.0L));
}

// The same value from a double evaluation where that provably rounds to the
// same single. The double result differs from the extended one by less than
// 1e-14 (1 + |dB|): v / 800 carries three roundings of 2^-53 (the constant,
// the sum, the quotient), which log10 turns into at most 1.4 · 2^-53 dB / 20
// absolute; log10 itself is within 2 ulp, the product by 20 within half an
// ulp; the extended evaluation is 2^11 times closer still. When the whole
// interval of 1e-13 (1 + |dB|) around the double result rounds to one single,
// the extended result, inside it, rounds to that single too (rounding is
// monotonic); otherwise the extended evaluation decides.
float PairSumDb(float sum) {
    const double v = static_cast<double>(sum) / 2.0 + 0.00000001;
    const double db = 20.0 * std::log10(v / 800.0);
    const double tolerance = 1e-13 * (1.0 + std::fabs(db));
    const auto low = static_cast<float>(db - tolerance);
    const auto high = static_cast<float>(db + tolerance);
    if (low == high) return low;
    return PairSumDbExtended(sum);
}

// The pair sum of image row r (k = 127 - r), in single precision.
float PairSum(const BinRow& spectrum, int row) {
    const int k = kSpectrumRows - 1 - row;
    return static_cast<float>(spectrum[2 * k] + spectrum[2 * k + 1]);
}

}  // namespace

SpectrumColumn SpectrumColumnOf(const BinRow& spectrum) {
    SpectrumColumn column{};
    for (int r = 0; r < kSpectrumRows; ++r) column[r] = PairSumDb(PairSum(spectrum, r));
    return column;
}

float SpectrumColumnPeak(const BinRow& spectrum) {
    // v = sum / 2 + 1e-8 grows with the sum and the dB with v, so only the
    // rows whose v is within a relative 1e-12 of the largest (far more than
    // the rounding of v and of any log10) can hold the column's largest
    // value; those are evaluated as SpectrumColumnOf does, equal sums once.
    std::array<float, kSpectrumRows> sums{};
    float largest = 0.0f;
    for (int r = 0; r < kSpectrumRows; ++r) {
        sums[static_cast<std::size_t>(r)] = PairSum(spectrum, r);
        largest = std::max(largest, sums[static_cast<std::size_t>(r)]);
    }
    const double threshold = (static_cast<double>(largest) / 2.0 + 0.00000001) * (1.0 - 1e-12);
    bool any = false;
    float peak = 0.0f;
    float lastSum = 0.0f;
    for (int r = 0; r < kSpectrumRows; ++r) {
        const float sum = sums[static_cast<std::size_t>(r)];
        if (static_cast<double>(sum) / 2.0 + 0.00000001 < threshold) continue;
        if (any && sum == lastSum) continue;
        const float db = PairSumDb(sum);
        peak = any ? std::max(peak, db) : db;
        any = true;
        lastSum = sum;
    }
    return peak;
}

std::vector<std::int32_t> ComputeFrameVolume(const WaveBuffer& wave,
                                             std::span<const AnalysisFrame> frames,
                                             std::span<const std::uint16_t> scaled) {
    std::vector<std::int32_t> volume(frames.size(), 0);
    const std::int64_t count = wave.SampleCount();
    // 16-bit samples are read straight from the bytes; the others (and
    // frames past the bytes, read as 0) through GetSample.
    const std::int64_t whole = static_cast<std::int64_t>(WholeSamples16(wave));
    const std::uint8_t* bytes = wave.SampleData().data();
    const std::size_t stride = wave.BlockAlign();
    const bool scale = scaled.size() == 65536;
    // A sample as the scaling leaves it (itself without a table).
    const auto Scaled = [&scaled](std::int16_t s) -> std::int64_t {
        return static_cast<std::int16_t>(scaled[static_cast<std::uint16_t>(s)]);
    };
    std::int64_t p = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        PrefetchAhead(frames, i + 1);
        const std::int64_t end =
            i + 1 < frames.size() ? static_cast<std::int64_t>(frames[i + 1].SamplePos) - HopSize / 2
                                  : count;
        std::int64_t sum = 0;
        const std::int64_t stop = std::min(end, whole);
        if (scale) {
            for (; p < stop; ++p) {
                const std::int64_t s = Scaled(Channel0(bytes, stride, static_cast<std::size_t>(p)));
                sum += s * s;
            }
        } else if (stride == 2) {
            for (; p < stop; ++p) {
                const std::int64_t s = Channel0(bytes, 2, static_cast<std::size_t>(p));
                sum += s * s;
            }
        } else {
            for (; p < stop; ++p) {
                const std::int64_t s = Channel0(bytes, stride, static_cast<std::size_t>(p));
                sum += s * s;
            }
        }
        for (; p < std::min(end, count); ++p) {
            const std::int16_t raw = wave.GetSample(static_cast<std::uint32_t>(p), 0);
            const std::int64_t s = scale ? Scaled(raw) : raw;
            sum += s * s;
        }
        volume[i] =
            static_cast<std::int32_t>(std::trunc(std::sqrt(static_cast<double>(sum) / 256.0)));
    }
    return volume;
}

namespace {

// Cents of a stored pitch, kept inside the int32 range whatever the frame
// holds (a pitch read from a file may be absurd).
std::int32_t RoundedCents(float hz) {
    const double cents = HzToCents(hz);
    if (!std::isfinite(cents)) return cents > 0 ? 1000000 : -1000000;
    return static_cast<std::int32_t>(RoundHalfUpTrunc(std::clamp(cents, -1000000.0, 1000000.0)));
}

}  // namespace

std::vector<std::int32_t> BuildPitchCents(std::span<const AnalysisFrame> frames,
                                          std::span<const std::uint8_t> rejected) {
    const int n = static_cast<int>(frames.size());
    std::vector<std::int32_t> cents(frames.size(), 0);
    int last = -1;  // the last voiced frame seen
    for (int i = 0; i < n; ++i) {
        PrefetchAhead(frames, static_cast<std::size_t>(i));
        const bool voiced =
            frames[i].TargetF0 != 0.0f && !(static_cast<std::size_t>(i) < rejected.size() &&
                                            rejected[static_cast<std::size_t>(i)] != 0);
        if (voiced) cents[i] = RoundedCents(frames[i].TargetF0);
        if (i > 0 && voiced && last == -1) {
            std::fill(cents.begin(), cents.begin() + i, cents[i]);
            last = i;
        } else if (i == n - 1 && !voiced) {
            // With no voiced frame at all everything stays 0.
            if (last >= 0) std::fill(cents.begin() + last + 1, cents.end(), cents[last]);
        } else if (voiced && i - last > 1) {
            const std::int64_t from = cents[last];
            const std::int64_t to = cents[i];
            for (int k = last + 1; k < i; ++k) {
                cents[k] = static_cast<std::int32_t>(from + (to - from) * (k - last) / (i - last));
            }
            last = i;
        } else if (voiced) {
            last = i;
        }
    }
    return cents;
}

namespace {

// Shows a provisional loudness of the samples read so far: frame i's RMS
// over samples i · 256 − 128 .. i · 256 + 127, scaled as the peak so far
// would scale it. The exact loudness follows once every sample is read.
WaveBuffer::SamplesRead ReadingLoudness(LoadingPicture& picture) {
    struct Sums {
        std::vector<float> rms;  // per frame read whole, unscaled
        std::size_t next = 0;    // samples summed: the first of the next frame
        int peak = 0;
        std::chrono::steady_clock::time_point shown;
    };
    auto sums = std::make_shared<Sums>();
    return [&picture, sums](std::span<const std::uint8_t> prefix, const WaveHeader& header) {
        const std::size_t stride = header.Format.BlockAlign;
        if (header.Format.BitsPerSample != 16 || stride < 2 || header.SampleCount == 0) return;
        const std::size_t count = header.SampleCount;
        const std::size_t read = std::min(prefix.size() / stride, count);
        Sums& s = *sums;
        // Frame i ends before sample i · 256 + 128, the last one at the end;
        // a frame is summed once it is read whole.
        for (;;) {
            const std::size_t end = std::min(s.rms.size() * HopSize + HopSize / 2, count);
            if (end > read || s.next >= count) break;
            std::int64_t sum = 0;
            int low = 0;
            int high = 0;
            for (std::size_t i = s.next; i < end; ++i) {
                const int value = Channel0(prefix.data(), stride, i);
                low = std::min(low, value);
                high = std::max(high, value);
                sum += static_cast<std::int64_t>(value) * value;
            }
            s.peak = std::max({s.peak, -low, high});
            s.rms.push_back(static_cast<float>(std::sqrt(static_cast<double>(sum) / 256.0)));
            s.next = end;
        }
        // The first piece, then a picture every 100 ms at most, and the
        // whole once it is read (the exact loudness follows).
        const auto now = std::chrono::steady_clock::now();
        if (read < count && s.shown != std::chrono::steady_clock::time_point() &&
            now - s.shown < std::chrono::milliseconds(100))
            return;
        s.shown = now;
        const double factor = s.peak < 10 ? 1.0 : 0.9 * 32767.0 / s.peak;
        std::vector<std::int32_t> volume(s.rms.size());
        for (std::size_t i = 0; i < volume.size(); ++i)
            volume[i] = static_cast<std::int32_t>(s.rms[i] * factor);
        // Frames every hop from 0 through count, and one on the last sample
        // unless a hop lands there.
        const auto frames = static_cast<int>(count / HopSize + 1 + ((count - 1) % HopSize != 0));
        picture.SetLoudness(std::move(volume), frames);
    };
}

}  // namespace

// ---- EditorSession ---------------------------------------------------------------

LoadOutcome EditorSession::LoadRecording(const std::filesystem::path& path, Prompts& prompts,
                                         const LoadProgress& progress, LoadScope scope,
                                         LoadingPicture* picture) {
    auto report = [&](std::string_view stage, double fraction) {
        if (progress) progress(stage, fraction);
    };
    if (path.empty()) return LoadOutcome::NoFile;
    // A commit an earlier run left unfinished beside the recording (its
    // table, the folder's oto.ini) is finished or undone first, and told.
    (void)RecoverInterruptedCommitsIn(
        {path.parent_path()}, [&prompts](const std::string& text) { prompts.Inform(text); });
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return LoadOutcome::NoFile;

    report("read", 0.0);
    auto wave = std::make_unique<WaveBuffer>();
    const std::string refusal =
        RecordingRefusal(picture != nullptr ? wave->LoadFromFile(path, ReadingLoudness(*picture))
                                            : wave->LoadFromFile(path),
                         *wave);
    if (!refusal.empty()) {
        prompts.Error(refusal);
        prompts.Beep();
        return LoadOutcome::Unsupported;
    }
    if (wave->Duration() > kLongRecordingSeconds) {
        prompts.Beep();
        if (!prompts.AskOkCancel(kLongRecordingQuestion)) return LoadOutcome::Declined;
    }

    // Analyse into a new analyser; the session's one is replaced at the end.
    auto analyser = std::make_unique<PitchAnalyser>();
    analyser->Options = Analyser->Options;
    // Stored spectra would hold 8 kB per frame (850 MB for ten minutes) only
    // to be dropped once the image is built; the one pass below recomputes
    // each row, bit for bit, on the analysis workers instead.
    analyser->Options.KeepSpectra = false;
    // The rows are recomputed from `wave` itself, which outlives the pass
    // and is not changed until ReleaseSpectra below.
    analyser->Options.BorrowWave = true;
    const auto callerProgress = analyser->Options.Progress;
    if (progress) {
        analyser->Options.Progress = [&progress](int done, int total) {
            if (total > 0) progress("analyse", 0.05 + 0.85 * static_cast<double>(done) / total);
        };
    }
    // The frames' places depend only on the recording's length: they are
    // laid out on a second thread while the peak is found. The rows are
    // computed from the borrowed wave only in TracePitch, after the scaling.
    std::vector<std::uint16_t> scaled;
    RunBoth([&scaled, &wave] { scaled = PeakScaleTable(*wave, 0.9); },
            [&analyser, &wave] { analyser->ComputeSpectra(*wave); });
    if (Analyser->StopRequested()) return LoadOutcome::Declined;  // stopped before the analysis
    // The loudness needs only the samples, the scale and the frames' places:
    // it is known (and shown) before the samples are even scaled.
    std::vector<std::int32_t> frameVolume = ComputeFrameVolume(*wave, analyser->Frames, scaled);
    if (picture != nullptr) picture->SetLoudness(frameVolume);
    ApplyScaleTable(*wave, scaled);
    scaled = {};
    const std::size_t framesLaidOut = analyser->Frames.size();
    report("analyse", 0.05);
    // One pass over the spectrum rows: the candidates and, on the same rows,
    // what the scope needs of them. The fixed comb and the noise flux are
    // the harmonic and noise measures the resynthesised preview plays from;
    // the analysis' own measures at the traced pitch would be replaced by
    // them, so they are not taken. Each worker writes only its own frames.
    // At most one frame every hop from sample 0 through N, and one on N - 1.
    const auto frameCount = [&wave] {
        return static_cast<std::size_t>(wave->SampleCount() / HopSize + 2);
    };
    std::vector<SpectrumColumn> spectrumImage;
    std::vector<float> spectrumPeaks;
    std::vector<EnvelopeColumn> envelope;
    RowTask alongside;
    if (scope == LoadScope::Everything) {
        spectrumImage.resize(frameCount());
        spectrumPeaks.resize(frameCount());
        envelope.resize(frameCount());
        alongside = analyser->FixedCombAndNoiseFluxTask([&](int frame, const BinRow& row) {
            SpectrumColumn& column = spectrumImage[static_cast<std::size_t>(frame)];
            column = SpectrumColumnOf(row);
            spectrumPeaks[static_cast<std::size_t>(frame)] =
                *std::max_element(column.begin(), column.end());
            envelope[static_cast<std::size_t>(frame)] = EnvelopeColumnOf(row);
            if (picture != nullptr) picture->FrameDone(frame, spectrumImage, analyser->Candidates);
        });
    } else if (scope == LoadScope::SpectrumPeaks) {
        spectrumPeaks.resize(frameCount());
        envelope.resize(frameCount());
        alongside = [&spectrumPeaks, &envelope](int frame, const RowAccess& row) {
            const BinRow& spectrum = row(frame);
            spectrumPeaks[static_cast<std::size_t>(frame)] = SpectrumColumnPeak(spectrum);
            envelope[static_cast<std::size_t>(frame)] = EnvelopeColumnOf(spectrum);
        };
    }
    // Every scope measures the voicing check's evidence on the same rows.
    std::vector<CandidateEvidence> candidateEvidence(frameCount());
    const CandidateTable& candidates = analyser->Candidates;
    RowTask measure = [&candidateEvidence, &candidates, scopeTask = std::move(alongside)](
                          int frame, const RowAccess& row) {
        if (scopeTask) scopeTask(frame, row);
        const auto k = static_cast<std::size_t>(frame);
        candidateEvidence[k] = MeasureCandidateEvidence(row(frame), candidates[k]);
    };
    analyser->TracePitch(measure);
    analyser->ReleaseSpectra();
    analyser->Options.Progress = callerProgress;
    analyser->Options.BorrowWave = Analyser->Options.BorrowWave;
    if (!spectrumImage.empty())
        spectrumImage.resize(static_cast<std::size_t>(analyser->FrameCount));
    if (!spectrumPeaks.empty())
        spectrumPeaks.resize(static_cast<std::size_t>(analyser->FrameCount));
    if (!envelope.empty()) envelope.resize(static_cast<std::size_t>(analyser->FrameCount));
    if (analyser->StopRequested())
        return LoadOutcome::Declined;  // stopped: the session stays as it was
    if (analyser->FrameCount == 0) {
        // The samples are taken over, the analysis is empty: nothing can be
        // edited until another recording loads.
        Wave = std::move(wave);
        Analyser = std::move(analyser);
        Resynth.reset();
        FrameVolume.clear();
        SpectrumImage.clear();
        SpectrumPeaks.clear();
        Envelope.clear();
        PitchCents.clear();
        PitchRejected.clear();
        Segments.clear();
        HoverSegment = HoverCut = SelFirst = SelLast = -1;
        prompts.Error(kNoFramesMessage);
        prompts.Beep();
        return LoadOutcome::NoFrames;
    }

    report("measure", 0.9);
    // The traced pitch is kept in TargetF0; F0 becomes the fixed comb's
    // 150 Hz, the pitch the preview's harmonic measures were taken at. The
    // voicing check's evidence is picked at the traced pitch from what the
    // candidate step measured for every candidate.
    std::vector<VoicingEvidence> evidence(static_cast<std::size_t>(analyser->FrameCount));
    for (std::size_t k = 0; k < evidence.size(); ++k) {
        PrefetchAhead(analyser->Frames, k);
        AnalysisFrame& frame = analyser->Frames[k];
        evidence[k] =
            EvidenceAtTracedPitch(candidateEvidence[k], analyser->Candidates[k], frame.F0);
        frame.TargetF0 = frame.F0;
        frame.F0 = 150.0f;
    }
    std::vector<std::uint8_t> pitchRejected =
        CheckVoicing(analyser->Frames, analyser->Confidence, evidence);
    std::vector<std::int32_t> pitchCents = melodrift::BuildPitchCents(
        analyser->Frames, VoicingCheck ? std::span<const std::uint8_t>(pitchRejected)
                                       : std::span<const std::uint8_t>());
    if (picture != nullptr) {
        PitchLaneInput shown;
        shown.pitchCents = pitchCents;
        shown.frames = analyser->Frames;
        shown.candidates = analyser->Candidates;
        shown.minStrength = MinStrength;
        if (VoicingCheck) shown.rejected = pitchRejected;
        picture->SetPitch(shown);
    }
    // The tracing keeps the frames' places; were frames ever added, their
    // loudness is summed again.
    if (analyser->Frames.size() != framesLaidOut)
        frameVolume = ComputeFrameVolume(*wave, analyser->Frames);
    auto resynth = scope == LoadScope::Everything ? std::make_unique<Resynthesizer>() : nullptr;

    // Everything is ready: take it over.
    Wave = std::move(wave);
    Analyser = std::move(analyser);
    SpectrumImage = std::move(spectrumImage);
    SpectrumPeaks = std::move(spectrumPeaks);
    Envelope = std::move(envelope);
    PitchCents = std::move(pitchCents);
    PitchRejected = std::move(pitchRejected);
    FrameVolume = std::move(frameVolume);
    Caption = PathToUtf8(path.filename());
    WaveFileName = path;
    FirstFrame = 0;
    Modified = true;
    OpenWaveFileName = path;
    EditOpenFileName = path;
    EditOpenFileName.replace_extension(".mlq");
    EditSaveFileName = EditOpenFileName;
    Mouse = MouseMode::Idle;
    HoverSegment = HoverCut = SelFirst = SelLast = -1;
    // The whole recording starts as one rest. It is placed directly rather
    // than as a cut, so that a recording shorter than the least cut gap
    // still has its segment.
    Segments.assign(1, Segment{0.0, 0.0, "R"});
    RecalcLengths();
    Resynth = std::move(resynth);
    report("done", 1.0);
    return LoadOutcome::Loaded;
}

void EditorSession::BuildPitchCents() {
    PitchCents = melodrift::BuildPitchCents(Analyser->Frames, RejectedPitchFrames());
}

std::span<const std::uint8_t> EditorSession::RejectedPitchFrames() const {
    if (!VoicingCheck) return {};
    return PitchRejected;
}

}  // namespace melodrift

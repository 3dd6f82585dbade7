#include "editor/PreviewJob.h"

#include "audio/PitchAnalyser.h"
#include "audio/Resynthesizer.h"
#include "audio/WaveBuffer.h"
#include "editor/Timeline.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace melodrift {

std::optional<ResynthesisJob> PrepareResynthesis(EditorSession& session, double fromMs,
                                                 double toMs) {
    const int frames = session.FrameCount();
    if (frames == 0 || !session.Resynth) return std::nullopt;
    const std::int64_t count = session.SampleCount();
    const std::int64_t s0 =
        std::max<std::int64_t>(0, static_cast<std::int64_t>(std::trunc(fromMs * kSamplesPerMs)));
    const std::int64_t s1 =
        std::min(count - 1, static_cast<std::int64_t>(std::trunc(toMs * kSamplesPerMs)));
    if (s1 < s0) return std::nullopt;
    const int f0 = static_cast<int>(std::clamp<std::int64_t>(s0 / HopSize, 0, frames - 1));
    const int f1 = static_cast<int>(std::clamp<std::int64_t>(s1 / HopSize + 1, 0, frames - 1));
    if (f1 <= f0) return std::nullopt;
    PitchAnalyser& an = *session.Analyser;
    const std::int32_t base = an.Frames[static_cast<std::size_t>(f0)].SamplePos;
    const std::int32_t length = an.Frames[static_cast<std::size_t>(f1)].SamplePos - base;
    if (length <= 0) return std::nullopt;
    an.Normalize();

    ResynthesisJob job;
    job.Frames.assign(an.Frames.begin() + f0, an.Frames.begin() + f1 + 1);
    job.PitchHz.reserve(job.Frames.size());
    // Unvoiced frames, and frames whose pitch the voicing check rejected,
    // sing at the pitch filled in across them.
    const std::span<const std::uint8_t> rejected = session.RejectedPitchFrames();
    for (int i = f0; i <= f1; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const float target = an.Frames[k].TargetF0;
        const bool trusted = !(k < rejected.size() && rejected[k] != 0);
        if (target != 0.0f && trusted) {
            job.PitchHz.push_back(target);
        } else {
            job.PitchHz.push_back(k < session.PitchCents.size()
                                      ? static_cast<float>(CentsToHz(session.PitchCents[k]))
                                      : 0.0f);
        }
    }
    job.FirstKept = s0 - base;
    job.LastKept = s1 - base;
    job.Length = length;
    return job;
}

std::string RenderResynthesis(const ResynthesisJob& job, Resynthesizer& resynth,
                              const std::atomic<bool>* stop) {
    if (job.Frames.size() < 2 || job.Length <= 0) return {};
    WaveBuffer play = MakeMono16Wave(static_cast<std::uint32_t>(job.Length));
    SynthParams startParams;
    SynthParams endParams;
    InitSynthParams(startParams);
    InitSynthParams(endParams);
    for (SynthParams* p : {&startParams, &endParams}) {
        p->NoiseFloor = 0.2f;
        p->NoiseFloorLevel = 3000.0f;
    }
    std::int32_t w = 0;
    for (std::size_t i = 0; i + 1 < job.Frames.size(); ++i) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) return {};
        startParams.F0 = job.PitchHz[i];
        endParams.F0 = job.PitchHz[i + 1];
        w = resynth.SynthSegment(play, w, job.Frames[i + 1].SamplePos - job.Frames[i].SamplePos,
                                 job.Frames[i], job.Frames[i + 1], startParams, endParams);
    }
    // Whole frames were rendered; only the selection is heard.
    for (std::int64_t s = 0; s < job.FirstKept && s < play.SampleCount(); ++s) {
        play.SetSample(static_cast<std::uint32_t>(s), 0, 0);
    }
    for (std::int64_t s = job.LastKept + 1; s < w && s < play.SampleCount(); ++s) {
        if (s >= 0) play.SetSample(static_cast<std::uint32_t>(s), 0, 0);
    }
    return play.SaveToBytes();
}

}  // namespace melodrift

// The resynthesised preview split in two, so that the slow half can run on
// another thread while the window stays usable: PrepareResynthesis copies
// what the rendering reads out of the session (on the session's thread),
// RenderResynthesis turns that copy into the WAVE image (on any thread).
// EditorSession::PlayResynthesised is the two in a row.
#pragma once

#include "audio/Frames.h"
#include "editor/Session.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace melodrift {

class Resynthesizer;

struct ResynthesisJob {
    AnalysisFrames Frames;       // the analysis frames f0..f1 (array order) around the selection
    std::vector<float> PitchHz;  // the pitch each of them sings at (unvoiced: the filled-in pitch)
    std::int64_t FirstKept = 0;  // first sample of the selection, relative to Frames[0].SamplePos
    std::int64_t LastKept = 0;   // last sample of the selection, same origin
    std::int32_t Length = 0;  // samples rendered: Frames.back().SamplePos − Frames[0].SamplePos
};

// The job of a preview of fromMs..toMs (normalises the analysis' harmonics,
// as every resynthesis does). No value when there is nothing to play.
std::optional<ResynthesisJob> PrepareResynthesis(EditorSession& session, double fromMs,
                                                 double toMs);

// The WAVE image (44100 Hz, 16-bit mono) of the job: whole frames are
// rendered, samples outside the selection are silent. `stop`, when set and
// true, ends the rendering between frames and gives an empty image.
std::string RenderResynthesis(const ResynthesisJob& job, Resynthesizer& resynth,
                              const std::atomic<bool>* stop = nullptr);

}  // namespace melodrift

#include "editor/Session.h"

#include "audio/PitchAnalyser.h"
#include "audio/Resynthesizer.h"
#include "audio/WaveBuffer.h"
#include "plugin/NoteList.h"
#include "text/NumberFormat.h"
#include "text/Text.h"

#include <algorithm>

namespace melodrift {

EditorSession::EditorSession()
    : Analyser(std::make_unique<PitchAnalyser>()), Wave(std::make_unique<WaveBuffer>()) {}

EditorSession::~EditorSession() = default;

int EditorSession::FrameCount() const { return Analyser ? Analyser->FrameCount : 0; }

std::int64_t EditorSession::SampleCount() const {
    return Wave ? static_cast<std::int64_t>(Wave->SampleCount()) : 0;
}

double EditorSession::DurationMs() const {
    return static_cast<double>(SampleCount()) / kSamplesPerMs;
}

int EditorSession::CommitCorrectionTiming(CorrectionTiming field, std::string_view text) {
    std::int64_t v = 0;
    try {
        v = ParseInt32(text);
    } catch (const ConversionError&) {
        v = 0;  // text that is not a whole number counts as 0
    }
    if (field == CorrectionTiming::PreUtterance) {  // pre-utterance: 0 .. consonant
        v = std::max<std::int64_t>(0, std::min(v, RoundHalfUpTrunc(CorrectionConsonant)));
        CorrectionPreUtterance = static_cast<double>(v);
    } else if (field == CorrectionTiming::Overlap) {  // overlap: 0 .. pre-utterance
        v = std::max<std::int64_t>(0, std::min(v, RoundHalfUpTrunc(CorrectionPreUtterance)));
        CorrectionOverlap = static_cast<double>(v);
    } else {  // consonant: at least the pre-utterance
        v = std::max(v, RoundHalfUpTrunc(CorrectionPreUtterance));
        CorrectionConsonant = static_cast<double>(v);
    }
    return static_cast<int>(v);
}

void EditorSession::SetScale(int value) {
    Scale = std::clamp(value, 1, 8);
    FramesPerPixel = 1;
}

void EditorSession::SetZoom(Zoom zoom) {
    Scale = std::clamp(zoom.pixels, 1, 8);
    FramesPerPixel = zoom.frames;
}

void EditorSession::SetVoicingCheck(bool on) {
    VoicingCheck = on;
    if (HasRecording()) BuildPitchCents();
}

}  // namespace melodrift

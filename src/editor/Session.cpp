#include "editor/Session.h"

#include "audio/Analyser.h"
#include "audio/Resynth.h"
#include "audio/Wave.h"
#include "plugin/PluginFile.h"
#include "text/NumberFormat.h"
#include "text/Text.h"

#include <algorithm>

namespace melodrift {

EditorSession::EditorSession() : Analyser(std::make_unique<TVoxHormant>()), Wave(std::make_unique<TWave>()) {}

EditorSession::~EditorSession() = default;

int EditorSession::FrameCount() const {
    return Analyser ? Analyser->FrameCount : 0;
}

std::int64_t EditorSession::SampleCount() const {
    return Wave ? static_cast<std::int64_t>(Wave->SampleCount()) : 0;
}

double EditorSession::DurationMs() const {
    return static_cast<double>(SampleCount()) / kSamplesPerMs;
}

int EditorSession::Edit1Exit(std::string_view editName, std::string_view text) {
    std::int64_t v = 0;
    try {
        v = ParseInt32(text);
    } catch (const ConversionError&) {
        v = 0;  // text that is not a whole number counts as 0
    }
    if (editName == "Edit1") {  // pre-utterance: 0 .. consonant
        v = std::max<std::int64_t>(0, std::min(v, RoundHalfUpTrunc(CrConsonant)));
        CrPreUtterance = static_cast<double>(v);
    } else if (editName == "Edit2") {  // overlap: 0 .. pre-utterance
        v = std::max<std::int64_t>(0, std::min(v, RoundHalfUpTrunc(CrPreUtterance)));
        CrVoiceOverlap = static_cast<double>(v);
    } else if (editName == "Edit3") {  // consonant: at least the pre-utterance
        v = std::max(v, RoundHalfUpTrunc(CrPreUtterance));
        CrConsonant = static_cast<double>(v);
    }
    return static_cast<int>(v);
}

void EditorSession::SetScale(int value) {
    Scale = std::clamp(value, 1, 8);
}

}  // namespace melodrift

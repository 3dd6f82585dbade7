// The edit-state reader as a user's file reaches it: any bytes as an .mlq
// file beside a short recording, loaded by LoadEditStateFrom (encoding
// detection, parsing, the load checks, the mending of hand-edited segments).
// A loaded state must hold segments the editor can work with; saved and
// loaded again, it must need no mending and keep its segments.
// Name the recording "rec.wav" (the file's own folder is searched).
#include "FuzzSupport.h"

#include "editor/EditState.h"
#include "editor/Session.h"
#include "system/Files.h"
#include "system/Prompts.h"

#include <cstdlib>
#include <exception>

using namespace melodrift;

namespace {

const std::filesystem::path& Recording() {
    static const std::filesystem::path wave = [] {
        const std::filesystem::path made = fuzz::ScratchFolder() / "rec.wav";
        // 0.15 s: a handful of analysis frames, room for five cuts.
        fuzz::WriteBytes(made, fuzz::SquareWaveWav(6615));
        return made;
    }();
    return wave;
}

// Segments the editor can work with: from 0, in order, each at least a cut
// distance long (a recording shorter than that holds one), ending at the end.
void CheckSegments(const EditorSession& session) {
    const std::vector<Segment>& segments = session.Segments;
    if (segments.empty() || segments.front().StartMs != 0.0) std::abort();
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (!(segments[i].LengthMs > 0.0)) std::abort();
        if (segments.size() > 1 && segments[i].LengthMs < session.MinCutGap - 1e-9) std::abort();
    }
    const Segment& last = segments.back();
    if (std::abs(last.StartMs + last.LengthMs - session.DurationMs()) > 1e-6) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)Recording();
    const std::filesystem::path state = fuzz::ScratchFolder() / "state.mlq";
    fuzz::WriteBytes(state, fuzz::AsText(data, size));
    SilentPrompts prompts;
    EditorSession session;
    if (session.LoadEditStateFrom(state, prompts, {}, LoadScope::PitchOnly) !=
        EditStateOutcome::Loaded)
        return 0;
    CheckSegments(session);

    const std::filesystem::path saved = fuzz::ScratchFolder() / "saved.mlq";
    std::error_code ec;
    std::filesystem::remove(saved, ec);
    try {
        session.SaveEditStateTo(saved);
    } catch (const std::exception&) {
        return 0;  // a path or lyric the file cannot hold is refused
    }
    EditorSession again;
    if (again.LoadEditStateFrom(saved, prompts, {}, LoadScope::PitchOnly) !=
        EditStateOutcome::Loaded)
        std::abort();
    if (again.LastEditStateMends.Any()) std::abort();
    if (again.Segments.size() != session.Segments.size()) std::abort();
    for (std::size_t i = 0; i < again.Segments.size(); ++i)
        if (again.Segments[i].Lyric != session.Segments[i].Lyric) std::abort();
    return 0;
}

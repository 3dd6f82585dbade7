// The edit-state reader: any bytes as an .mlq file beside a short recording
// ("rec.wav", which the seeds name); when it loads, it is saved again and
// the saved file must load too.
#include "FuzzSupport.h"

#include "editor/EditState.h"
#include "editor/Session.h"
#include "text/Prompts.h"

#include <exception>

using namespace melodrift;

namespace {

void PrepareFolder() {
    static bool done = false;
    if (done) return;
    done = true;
    std::filesystem::current_path(fuzz::ScratchFolder());
    // 0.15 s: a handful of analysis frames keeps each run short.
    fuzz::WriteBytes("rec.wav", fuzz::SquareWaveWav(6615));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PrepareFolder();
    fuzz::WriteBytes("state.mlq", fuzz::AsText(data, size));
    SilentPrompts prompts;
    EditorSession session;
    try {
        if (session.LoadEditStateFrom("state.mlq", prompts, {}) != EditStateOutcome::Loaded) return 0;
        session.SaveEditStateTo("saved.mlq");
        EditorSession again;
        (void)again.LoadEditStateFrom("saved.mlq", prompts, {});
    } catch (const std::exception&) {
        // Refusals are answers, not faults.
    }
    return 0;
}

// The edit-state reader: any bytes as an .mlq file, applied to a session that
// holds a short recording (analysed once: the analysis is not what is fuzzed
// here); the applied state is saved and must read back to as many segments.
#include "FuzzSupport.h"

#include "editor/EditState.h"
#include "editor/Session.h"
#include "system/Files.h"
#include "system/Prompts.h"
#include "text/Ini.h"

#include <cstdlib>
#include <exception>

using namespace melodrift;

namespace {

EditorSession& LoadedSession() {
    static EditorSession* session = [] {
        auto* made = new EditorSession;
        const std::filesystem::path wave = fuzz::ScratchFolder() / "rec.wav";
        // 0.15 s: a handful of analysis frames.
        fuzz::WriteBytes(wave, fuzz::SquareWaveWav(6615));
        SilentPrompts prompts;
        if (made->LoadRecording(wave, prompts) != LoadOutcome::Loaded || made->FrameCount() == 0)
            std::abort();
        return made;
    }();
    return *session;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    EditorSession& session = LoadedSession();
    const IniFile ini = IniFile::Parse(fuzz::AsText(data, size));
    if (ini.Read(kEditStateSection, "Melodrift", "0") != "1") return 0;
    session.ApplyEditState(ini);
    const std::vector<Segment> applied = session.Segments;

    const std::filesystem::path saved = fuzz::ScratchFolder() / "saved.mlq";
    std::error_code ec;
    std::filesystem::remove(saved, ec);
    try {
        session.SaveEditStateTo(saved);
    } catch (const std::exception&) {
        return 0;  // a lyric with no CP932 form is refused
    }
    session.ApplyEditState(IniFile::Parse(ReadFileBytes(saved)));
    if (session.Segments.size() != applied.size()) std::abort();
    return 0;
}

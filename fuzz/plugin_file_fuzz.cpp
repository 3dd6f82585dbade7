// The plug-in file reader and writer: load any bytes as a plug-in file, and
// when they load, insert a note and save the file again.
#include "FuzzSupport.h"

#include "plugin/NoteList.h"
#include "system/Prompts.h"

#include <exception>

using namespace melodrift;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path file = fuzz::ScratchFolder() / "plugin.tmp";
    fuzz::WriteBytes(file, fuzz::AsText(data, size));
    SilentPrompts prompts;
    NoteList notes;
    try {
        if (notes.LoadFromPluginFile(file, prompts) == 0) return 0;
        if (notes.Tempo > 0.0) notes.InsertNote(0.0);
        notes.SaveToPluginFile();
        // What was written must load again.
        NoteList again;
        again.LoadFromPluginFile(file, prompts);
    } catch (const std::exception&) {
        // Refusals (bad numbers, too long lines) are answers, not faults.
    }
    return 0;
}

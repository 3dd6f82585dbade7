// The voicebank readers: the input is split at the first NUL byte into an
// oto.ini and a prefix.map; the folder is loaded, every alias and file stem
// looked up plainly and with the prefix of every note, and the oto.ini text
// rebuilt.
#include "FuzzSupport.h"

#include "text/Encoding.h"
#include "voicebank/Voicebank.h"

#include <algorithm>
#include <exception>

using namespace melodrift;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::AsText(data, size);
    const std::size_t split = std::min(input.find('\0'), input.size());
    const std::filesystem::path folder = fuzz::ScratchFolder() / "voice";
    std::filesystem::create_directories(folder);
    fuzz::WriteBytes(folder / "oto.ini", input.substr(0, split));
    fuzz::WriteBytes(folder / "prefix.map",
                     split < input.size() ? input.substr(split + 1) : std::string_view());

    Voicebank voicebank;
    try {
        voicebank.LoadVoicebank(folder.string());
    } catch (const std::exception&) {
        return 0;
    }
    const std::vector<OtoEntry> entries = voicebank.OtoList();
    for (const OtoEntry& entry : entries) {
        for (const std::string_view alias :
             {std::string_view(entry.Alias), FileStem(entry.FileName)}) {
            (void)voicebank.FindOtoIndex(alias);
            for (int note = 0; note < kPrefixRows; note += 7) {
                const OtoEntry hit = voicebank.GetOtoWithPrefix(alias, note);
                (void)voicebank.StripPrefixSuffix(hit.Alias, note);
            }
        }
    }
    (void)voicebank.GetOto("");
    try {
        (void)voicebank.OtoIniText();
    } catch (const UnencodableText&) {
        // An entry whose text the file's encoding cannot hold (bytes that were
        // not valid Shift-JIS read as U+FFFD) refuses the rewrite by design.
    }
    if (!entries.empty()) {
        voicebank.RemoveOtoByPath(entries.front().FullPath);
        (void)voicebank.FindOtoIndex(entries.back().Alias);
    }
    return 0;
}

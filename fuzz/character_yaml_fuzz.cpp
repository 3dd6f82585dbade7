// character.yaml as a voice folder holds it: any bytes, read for the
// encoding it declares for the bank's text files and for its subbanks, then
// the whole folder loaded (a small oto.ini beside it) and every note's
// prefixed lookup answered.
#include "FuzzSupport.h"

#include "voicebank/Subbanks.h"
#include "voicebank/Voicebank.h"

#include <cstdlib>
#include <exception>

using namespace melodrift;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path folder = fuzz::ScratchFolder() / "voice";
    std::filesystem::create_directories(folder);
    fuzz::WriteBytes(folder / "character.yaml", fuzz::AsText(data, size));
    // Shift-JIS "か" and ASCII aliases: either declared encoding decodes them.
    fuzz::WriteBytes(folder / "oto.ini",
                     "ka.wav=\x82\xA9,20,90,-300,70,20\r\na.wav=a,0,0,0,0,0\r\n");

    (void)DeclaredTextEncoding(folder);
    const std::optional<PrefixRows> subbanks = ReadSubbanks(folder);
    Voicebank voicebank;
    try {
        voicebank.LoadVoicebank(folder.string());
    } catch (const std::exception&) {
        return 0;
    }
    if (voicebank.OtoList().size() != 2) std::abort();
    for (int note = 0; note < kPrefixRows; ++note) {
        const OtoEntry hit = voicebank.GetOtoWithPrefix("a", note);
        (void)voicebank.StripPrefixSuffix(hit.Alias, note);
    }
    (void)subbanks;
    return 0;
}

// The WAVE reader: the bytes are read from memory and from a file, and both
// reads must agree; a loaded wave is written and read back unchanged.
#include "FuzzSupport.h"

#include "audio/WaveBuffer.h"

#include <cstdlib>

using namespace melodrift;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::AsText(data, size);
    WaveBuffer fromBytes;
    const WavLoadResult bytesResult = fromBytes.LoadFromBytes(input);

    const std::filesystem::path file = fuzz::ScratchFolder() / "input.wav";
    fuzz::WriteBytes(file, input);
    WaveBuffer fromFile;
    const WavLoadResult fileResult = fromFile.LoadFromFile(file);
    if (fileResult != bytesResult) std::abort();
    if (bytesResult != WavLoadResult::Ok) return 0;
    if (fromFile.SaveToBytes() != fromBytes.SaveToBytes()) std::abort();

    WaveBuffer again;
    if (again.LoadFromBytes(fromBytes.SaveToBytes()) != WavLoadResult::Ok) std::abort();
    if (again.SaveToBytes() != fromBytes.SaveToBytes()) std::abort();
    (void)fromBytes.GetSample(fromBytes.SampleCount() / 2, 0);
    return 0;
}

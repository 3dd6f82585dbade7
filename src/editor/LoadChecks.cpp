#include "editor/LoadChecks.h"

#include "audio/WaveBuffer.h"
#include "editor/EditState.h"
#include "editor/Loading.h"
#include "editor/Session.h"
#include "system/Files.h"
#include "text/Ini.h"

#include <system_error>

namespace melodrift {

RecordingCheck CheckRecording(const std::filesystem::path& path) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return RecordingCheck::Missing;
    WaveBuffer wave;
    if (wave.LoadFromFile(path) != WavLoadResult::Ok ||
        wave.SamplesPerSec() != static_cast<std::uint32_t>(AnalysisSampleRate) ||
        wave.BitsPerSample() != 16) {
        return RecordingCheck::Unsupported;
    }
    return wave.Duration() > kLongRecordingSeconds ? RecordingCheck::Long : RecordingCheck::Ready;
}

std::optional<std::filesystem::path> StoredRecordingOf(const std::filesystem::path& editState) {
    std::error_code missing;
    const IniFile ini = std::filesystem::exists(editState, missing)
                            ? IniFile::Parse(ReadFileBytes(editState))
                            : IniFile::Parse("");
    if (ini.Read(kEditStateSection, "Melodrift", "0") != "1") return std::nullopt;
    const std::filesystem::path wavePath = NativePath(ini.Read(kEditStateSection, "WaveFile", "0"));
    std::error_code ec;
    if (!std::filesystem::is_regular_file(wavePath, ec)) return std::nullopt;
    return wavePath;
}

}  // namespace melodrift

#include "editor/LoadChecks.h"

#include "audio/WaveBuffer.h"
#include "editor/EditState.h"
#include "editor/Loading.h"
#include "editor/Session.h"
#include "system/Files.h"
#include "text/Ini.h"

#include <cstdint>
#include <string>
#include <system_error>
#include <utility>

namespace melodrift {

std::string RecordingRefusal(WavLoadResult result, const WaveBuffer& wave) {
    std::string reason;
    switch (result) {
        case WavLoadResult::NotRiffWave:
            reason = "WAVE ファイルではありません。";
            break;
        case WavLoadResult::NotPcm:
            reason = "圧縮された WAVE ファイルです（非圧縮の PCM が必要です）。";
            break;
        case WavLoadResult::ReadFailed:
            reason = "ファイルが途中で切れているか、壊れています。";
            break;
        case WavLoadResult::Ok: {
            if (wave.SamplesPerSec() == static_cast<std::uint32_t>(AnalysisSampleRate) &&
                wave.BitsPerSample() == 16)
                return {};
            const std::string channels = wave.Channels() == 1 ? "モノラル"
                                         : wave.Channels() == 2
                                             ? "ステレオ"
                                             : std::to_string(wave.Channels()) + " チャンネル";
            reason = "このファイルは " + std::to_string(wave.SamplesPerSec()) + " Hz・" +
                     std::to_string(wave.BitsPerSample()) + " ビット・" + channels +
                     "です。44100 Hz・16 ビットの WAVE ファイルが必要です。";
            break;
        }
    }
    return std::string(kUnsupportedFormatMessage) + "\n" + reason;
}

RecordingCheck CheckRecording(const std::filesystem::path& path, std::string* refusal) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return RecordingCheck::Missing;
    WaveBuffer wave;
    std::string message = RecordingRefusal(wave.LoadFromFile(path), wave);
    if (!message.empty()) {
        if (refusal != nullptr) *refusal = std::move(message);
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

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

namespace {

// "44100 Hz・8 ビット・モノラル"
std::string FormatDescription(const WaveFormat& format) {
    const std::string channels = format.Channels == 1 ? "モノラル"
                                 : format.Channels == 2
                                     ? "ステレオ"
                                     : std::to_string(format.Channels) + " チャンネル";
    return std::to_string(format.SamplesPerSec) + " Hz・" + std::to_string(format.BitsPerSample) +
           " ビット・" + channels;
}

// The usual names of the WAVE format tags other than integer PCM.
std::string FormatTagName(std::uint16_t tag) {
    switch (tag) {
        case 0x0002:
            return "MS ADPCM";
        case 0x0003:
            return "浮動小数点";
        case 0x0006:
            return "A-law";
        case 0x0007:
            return "μ-law";
        case 0x0011:
            return "IMA ADPCM";
        case 0x0055:
            return "MP3";
        case 0xFFFE:
            return "拡張形式 WAVE_FORMAT_EXTENSIBLE";
        default:
            return "不明な形式";
    }
}

std::string Bytes(std::uint64_t n) { return std::to_string(n) + " バイト"; }

// Why a load failed, for the second line of the message.
std::string ReadProblem(const WaveLoadProblem& problem) {
    using Kind = WaveLoadProblem::Kind;
    switch (problem.What) {
        case Kind::Truncated:
            return "ファイルが途中で切れています（" + Bytes(problem.FileBytes) +
                   "で終わっていますが、ヘッダーによれば少なくとも " + Bytes(problem.NeededBytes) +
                   "あるはずです）。";
        case Kind::NoDataChunk:
            return "音声データ（data チャンク）がありません（ファイルの終わり " +
                   Bytes(problem.FileBytes) + "まで探しました）。";
        case Kind::OutOfMemory:
            return "メモリが足りません（音声データに " +
                   std::to_string((problem.NeededBytes + (1U << 20) - 1) >> 20) +
                   " MB "
                   "必要です）。ほかのアプリケーションを閉じてから、もう一度読み込んでください。";
        case Kind::ReadError:
            return "読み込みの途中でエラーが発生しました（ディスクやネットワークを確認してください"
                   "）。";
        case Kind::CannotOpen:
            return "ファイルを開けません（存在しないか、読み取りの権限がありません）。";
        case Kind::BadFormatChunk:
        case Kind::None:
            break;
    }
    return "ファイルが壊れています。";
}

// The refusal for a read that ended in `result`, with what the headers said
// (format and sample frames) when it is Ok.
std::string Refusal(WavLoadResult result, const WaveLoadProblem& problem,
                    const WaveHeader& header) {
    std::string_view headline = kUnsupportedFormatMessage;
    std::string reason;
    switch (result) {
        case WavLoadResult::NotRiffWave:
            reason = "WAVE ファイルではありません。";
            break;
        case WavLoadResult::NotPcm:
            reason = "整数 PCM ではない WAVE ファイルです（形式番号 " +
                     std::to_string(problem.Found.FormatTag) + ": " +
                     FormatTagName(problem.Found.FormatTag) +
                     "）。非圧縮の整数 PCM（44100 Hz・16 ビット）が必要です。";
            break;
        case WavLoadResult::ReadFailed:
            if (problem.What == WaveLoadProblem::Kind::BadFormatChunk) {
                reason = "フォーマット情報（fmt チャンク）が壊れているか、扱えない形式です（" +
                         FormatDescription(problem.Found) +
                         "）。44100 Hz・16 ビットの WAVE ファイルが必要です。";
            } else {
                headline = kUnreadableRecordingMessage;
                reason = ReadProblem(problem);
            }
            break;
        case WavLoadResult::Ok: {
            if (header.Format.SamplesPerSec != static_cast<std::uint32_t>(AnalysisSampleRate) ||
                header.Format.BitsPerSample != 16) {
                reason = "このファイルは " + FormatDescription(header.Format) +
                         "です。44100 Hz・16 ビットの WAVE ファイルが必要です。";
            } else if (header.SampleCount == 0) {
                headline = kUnreadableRecordingMessage;
                reason = "音声データが空です（サンプル数 0）。";
            } else {
                return {};
            }
            break;
        }
    }
    return std::string(headline) + "\n" + reason;
}

}  // namespace

std::string RecordingRefusal(WavLoadResult result, const WaveBuffer& wave) {
    return Refusal(result, wave.LoadProblem(), {wave.Format(), wave.SampleCount()});
}

RecordingCheck CheckRecording(const std::filesystem::path& path, std::string* refusal) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return RecordingCheck::Missing;
    // The headers tell all of it; the samples are read once, by the load
    // (which still refuses a file whose samples cannot be read).
    WaveBuffer wave;
    WaveHeader header;
    const WavLoadResult result = wave.LoadHeaderFromFile(path, header);
    std::string message = Refusal(result, wave.LoadProblem(), header);
    if (!message.empty()) {
        if (refusal != nullptr) *refusal = std::move(message);
        return RecordingCheck::Unsupported;
    }
    return header.Duration() > kLongRecordingSeconds ? RecordingCheck::Long : RecordingCheck::Ready;
}

std::optional<std::filesystem::path> StoredRecordingOf(const std::filesystem::path& editState) {
    std::error_code missing;
    if (EditStateTooLarge(editState)) return std::nullopt;  // the load says so
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

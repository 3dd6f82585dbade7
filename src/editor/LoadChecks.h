// What a load will run into, found out before it starts, so that the window
// can ask its questions (and show its refusals) before the analysis runs on
// a worker thread behind a progress dialog.
#pragma once

#include "audio/WaveBuffer.h"

#include <filesystem>
#include <optional>
#include <string>

namespace melodrift {

enum class RecordingCheck {
    Missing,      // nothing at the path: the load does nothing
    Unsupported,  // unreadable, not 44100 Hz or not 16-bit: the load refuses it
    Long,         // longer than kLongRecordingSeconds: the load asks first
    Ready,        // loads without a question
};

// Reads the file's headers the way EditorSession::LoadRecording reads them
// (not its samples: a few hundred bytes at any length) and tells which
// of its outcomes comes before the analysis. For Unsupported, `refusal`
// (when given) receives the message RecordingRefusal gives.
RecordingCheck CheckRecording(const std::filesystem::path& path, std::string* refusal = nullptr);

// The message for a recording the analysis cannot take: "対応していない
// フォーマットです。" and, on a second line, what was found and what is
// needed (not a WAVE file; compressed; cut short or damaged; the sample
// rate, bits and channels found against 44100 Hz 16-bit). Empty when the
// recording is usable.
std::string RecordingRefusal(WavLoadResult result, const WaveBuffer& wave);

// The recording an edit-state file names ("WaveFile" of its "Melodrift"
// section), when the file is an edit state and that recording exists.
std::optional<std::filesystem::path> StoredRecordingOf(const std::filesystem::path& editState);

}  // namespace melodrift

// What a load will run into, found out before it starts, so that the window
// can ask its questions (and show its refusals) before the analysis runs on
// a worker thread behind a progress dialog.
#pragma once

#include <filesystem>
#include <optional>

namespace melodrift {

enum class RecordingCheck {
    Missing,      // nothing at the path: the load does nothing
    Unsupported,  // unreadable, not 44100 Hz or not 16-bit: the load refuses it
    Long,         // longer than kLongRecordingSeconds: the load asks first
    Ready,        // loads without a question
};

// Reads the file the way EditorSession::LoadRecording does and tells which
// of its outcomes comes before the analysis.
RecordingCheck CheckRecording(const std::filesystem::path& path);

// The recording an edit-state file names ("WaveFile" of its "Melodrift"
// section), when the file is an edit state and that recording exists.
std::optional<std::filesystem::path> StoredRecordingOf(const std::filesystem::path& editState);

}  // namespace melodrift

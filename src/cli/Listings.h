// The analysis listings of `melodrift-cli analyze`: one line (CSV) or one
// object (JSON) per analysis frame, with the raw and the voicing-checked
// pitch. Built in one buffer, the two halves of the frames at once.
#pragma once

#include <string>

namespace melodrift {

class EditorSession;

// "frame,time_ms,sample_pos,f0_hz,confidence,loudness,pitch_cents,checked_cents"
std::string AnalysisCsv(const EditorSession& session);
// {"recording", "sample_count", "frame_count", "frames": [{...}, ...]}
std::string AnalysisJson(const EditorSession& session);

}  // namespace melodrift

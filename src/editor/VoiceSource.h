// Voice correction mode: the recording itself becomes a voice source. Its
// folder gets one oto.ini entry per segment (the segment's lyric, made
// unique, is the alias), and its frequency table is written beside it, so
// that UTAU, with that folder as the voicebank, sings the inserted notes
// from the recording at the traced pitch. The recording is never changed.
#pragma once

#include "text/Encoding.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace melodrift {

class EditorSession;
class FileTransaction;
class Prompts;
class FrequencyTable;
class Voicebank;

// The recording's frequency table path: its extension replaced by
// "_wav.frq" ("voice.WAV" → "voice_wav.frq").
std::filesystem::path FrequencyTablePath(const std::filesystem::path& wavePath);

// One item per analysis frame: Freq = TargetF0 [Hz] (55 for an unvoiced
// frame, and, with the session's voicing check on, for a frame the check
// rejects), Amp = the frame's loudness.
void FillFrequencyTable(const EditorSession& session, FrequencyTable& table);

// Writes the frequency table beside the recording. Does nothing without a
// recording file or frames; asks before replacing an existing table and
// does nothing unless the answer is Yes. True when a table was written.
bool WriteFrequencyTable(const EditorSession& session, Prompts& prompts);
// The same, the table added to `files` (true when it was added).
bool WriteFrequencyTable(const EditorSession& session, Prompts& prompts, FileTransaction& files);

// The voice correction timing of the segments, each as its oto.ini numbers
// (ms, before rounding).
struct VoiceEntryTiming {
    double Offset = 0.0;
    double Consonant = 0.0;
    double Cutoff = 0.0;
    double PreUtterance = 0.0;
    double Overlap = 0.0;
};

// The entries' timing for segments starting at `startsMs` (ascending, the
// first normally 0) in a recording of `durationMs`, with the parameters
// pre-utterance, overlap and consonant [ms]:
//   pre_i      = CorrectionPreUtterance for the first segment, else min(CorrectionPreUtterance,
//                (s_i − s_{i−1}) / 2), never reaching before the recording;
//   overlap_i  = pre_i scaled by CorrectionOverlap / CorrectionPreUtterance (0 first);
//   consonant  = min(CorrectionConsonant, (s_{i+1} − s_i) / 3 + pre_i), CorrectionConsonant last;
//   offset     = s_i − pre_i;
//   cutoff     = −(s_{i+1} − s_i + pre_i − pre_{i+1} + overlap_{i+1} + 76), so
//                the sample ends 76 ms after the next entry's overlap begins;
//                the last sample ends at the end of the recording.
std::vector<VoiceEntryTiming> VoiceEntryTimings(const std::vector<double>& startsMs,
                                                double durationMs, double crPreUtterance,
                                                double crVoiceOverlap, double crConsonant);

// Whether the recording can stand in the lines of its folder's oto.ini: its
// file name, composed (NFC), holds no "," or "=" (a line splits into its
// fields there) and no line break, and survives the encoding of the
// folder's oto.ini unchanged (a Shift-JIS file; a UTF-8 file or a folder
// without one holds any name). The folder's own name never goes into a line.
bool RecordingFitsOtoIni(const std::filesystem::path& wavePath);

// The refusal shown before anything is written, for a recording named
// `fileNameUtf8` that RecordingFitsOtoIni rejects.
std::string RecordingNameRefusal(const std::string& fileNameUtf8);

// Whether the folder's oto.ini, read again from disk as a load reads it,
// holds an entry of `fileName` for each alias in `aliases` (UTF-8).
bool VoiceEntriesReadBack(const std::filesystem::path& folder, const std::string& fileName,
                          const std::vector<std::string>& aliases);
// Whether the oto.ini bytes `otoBytes`, in `encoding`, hold those entries.
bool OtoTextHoldsEntries(std::string_view otoBytes, TextEncoding encoding,
                         const std::string& fileName, const std::vector<std::string>& aliases);

// Loads the recording's folder as the voicebank (its VoiceRoot), removes the
// recording's earlier entries, gives every segment a free alias (the lyric,
// else the lyric + 1, 2, …; a rest starts at "R0") that becomes its lyric,
// adds one entry per segment, named by the recording's composed (NFC) file
// name, and writes the folder's oto.ini with only the recording's lines
// replaced (voicebank/OtoIniEdit.h; nothing is written when the folder does
// not exist). Does nothing without a recording
// file, frames or segments. True only when the entries were written and
// read back from the bytes written; throws std::runtime_error (before
// anything is written) when those bytes do not hold them.
bool WriteVoiceEntries(EditorSession& session, Voicebank& voicebank);
// The same, the oto.ini added to `files`.
bool WriteVoiceEntries(EditorSession& session, Voicebank& voicebank, FileTransaction& files);

}  // namespace melodrift

// Insert: the end of the workflow. Every segment becomes a note of the
// plug-in file with its length in ticks, an estimated key, a lyric resolved
// against the voicebank (or, in voice correction mode, the alias of the
// recording's own new oto.ini entry), a loudness envelope and a pitch bend
// that reproduces the traced pitch; then the plug-in file is written.
//
// Times are ms; one analysis frame is 256 samples at 44100 Hz, frame i at
// the nominal time i × 256 / 44.1 ms. Pitches are cents (note number × 100,
// 220 Hz = 5700); a note's pitch values are cents relative to its NoteNum.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace melodrift {

class EditorSession;
class Prompts;
class NoteList;
class Voicebank;
struct Segment;

// The most frequent note number (0..120) among the segment's frames, the
// frame of a time t being (trunc(t × 44.1) + 128) div 256; frames without
// pitch (0) are not counted and the lowest note wins a tie. 0 means no
// estimate.
int EstimateKey(std::span<const std::int32_t> pitchCents, const Segment& segment);

// The traced pitch [cents] at `timeMs`, interpolated linearly between the
// two frames around it and rounded half up; 0 outside 0..duration
// (sampleCount / 44.1 ms) and when there are no frames.
std::int32_t PitchCentsAt(std::span<const std::int32_t> pitchCents, std::int64_t sampleCount,
                          double timeMs);

// The loudness gain of a frame: (volume × 160 div 23000 + 20) / 100, so
// silence gives 0.2 and a loudness of 23000 gives 1.8.
double LoudnessGain(std::int32_t frameVolume);

// Shapes every sounding note's envelope and scales the envelope volumes by
// the recording's loudness, frame pair by frame pair.
void ApplyRecordingLoudness(NoteList& notes, std::span<const std::int32_t> frameVolume);

// Sets every note's Mode1 grid values from the traced pitch: the value of
// the grid point at absolute time t is PitchCentsAt(t) − 100 × NoteNum, or 0
// where the traced pitch is 0.
void FillPitchPoints(NoteList& notes, std::span<const std::int32_t> pitchCents,
                     std::int64_t sampleCount);

// Mode2: every sung note with at least 5 grid points gets linear portamento
// points sampled every 15 ms from its Mode1 pitch, its ends pinned to the
// expected values, reduced by Simplify. Rests and short notes get none.
void BuildPortamento(NoteList& notes);

// The notes' starts on the tick grid (480 ticks per beat, the list's tempo)
// as whole ticks from the first segment's start, one per segment and one
// more for the end of the last: the exact distance in ticks rounded half up.
// Lengths are the differences, whole numbers that never drift from the
// recording: every start and the end lie within half a tick of their exact
// times.
std::vector<std::int64_t> WholeTickStarts(const NoteList& notes,
                                          const std::vector<Segment>& segments);

// A tempo that can place notes: finite and above 0 [bpm].
bool UsableTempo(double tempo);
// Told when the window opens on a plug-in file whose tempo is 0, negative or
// not a number; Insert then writes nothing.
inline constexpr std::string_view kUnusableTempoMessage =
    "プラグインファイルのテンポが0以下か数値ではないため、音符を配置できません。"
    "このままでは挿入できません。エディタでテンポを設定し直してから、もう一度プラグインを起動してく"
    "ださい。";

// What an Insert did, for the summary the user sees.
struct InsertSummary {
    int Notes = 0;     // notes written
    int Replaced = 0;  // selected notes the reply deletes (0 when they are kept)
    // Ticks the written notes run past the end of the selection into the
    // note after it (0 when the host sent none, or they end within it):
    // OpenUtau does not move later notes.
    std::int64_t TicksPastSelection = 0;
    // Distinct lyrics (in order) the voicebank has no alias for; trace mode
    // with a loaded voicebank only.
    std::vector<std::string> LyricsWithoutAlias;
};

// The summary as the window shows it (Japanese) and as the command line
// reports it (English), after "N notes inserted".
std::string SummaryText(const InsertSummary& summary);
std::string SummaryTextEnglish(const InsertSummary& summary);
// The command line's refusal of a plug-in file whose voice folder does not
// exist (NoteList::VoiceFolderMissing), naming the folder as read.
std::string MissingVoiceFolderEnglish(std::string_view folder);

// Insert. Asks whether to save a modified edit state (Yes saves it through
// the save dialog), creates the voice source in voice correction mode, adds
// one note per segment to session.Notes, and writes the plug-in file the
// note list was loaded from: with session.ReplaceSelection the new notes
// take the selected notes' place, else they go before them. In voice correction mode, when a voice
// source was made and the project's voicebank is another folder than the recording's, tells the
// user to switch to it.
//
// Throws (std::runtime_error, std::system_error, std::domain_error,
// ConversionError) when there is no loaded plug-in file, its tempo is not
// positive, or the notes cannot be made or written. The plug-in file is then
// left as it was, and the session gets back its typed lyrics, the note list
// as loaded and the project's voicebank, so a second Insert starts afresh.
InsertSummary Insert(EditorSession& session, Voicebank& voicebank, Prompts& prompts);

// Loads the plug-in file into `notes` as a run starts: a commit an earlier
// run left unfinished in the plug-in file's folder is finished or undone
// before the file is read, and one in the voice folder it names (or any
// folder below it) before the voicebank (`voicebank`, which `notes` loads)
// is used: the voicebank is read again when that changed an oto.ini. Each such commit is told
// through prompts.Inform. Returns what NoteList::LoadFromPluginFile returns.
int LoadPluginFile(NoteList& notes, Voicebank& voicebank, const std::filesystem::path& path,
                   Prompts& prompts);

}  // namespace melodrift

// The editor window's state as a plain class: the recording, its analysis,
// the per-frame arrays derived from it, the segments with their lyrics, the
// view and pointer state, and the switches and parameters of the controls.
// Every workflow of the window (loading, cutting, typing lyrics, correcting
// the pitch, previews, the edit-state file, Insert) works on one
// EditorSession; the window only draws it and turns gestures into calls.
//
// Times are milliseconds as doubles; one analysis frame is 256 samples of the
// 44100 Hz recording (about 5.805 ms); pitches in cents are note number × 100
// with 220 Hz = 5700.
#pragma once

#include "audio/Frames.h"
#include "editor/Cutting.h"
#include "editor/EditState.h"
#include "editor/Zoom.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/PitchLines.h"

namespace melodrift {

class IniFile;
class LoadingPicture;
class Prompts;
class NoteList;
class PitchAnalyser;
class Resynthesizer;
class WaveBuffer;

// One syllable of the recording: where it starts, how long it lasts, and its
// lyric as UTF-8 text ("R" or "r" marks a rest).
struct Segment {
    double StartMs = 0.0;
    double LengthMs = 0.0;
    std::string Lyric;
};

// What the pointer is doing on the drawing surface (editor/SurfaceMouse.h).
enum class MouseMode {
    Idle,
    DragCut,       // a cut follows the pointer
    EditLyric,     // the one-segment lyric edit is open
    Preview,       // dragging over the volume lane
    DrawPitch,     // drawing a pitch line
    SelectLyrics,  // right-dragging over the lyric lane
    EditLyrics,    // the lyric-run edit is open
};

// A pixel of the drawing surface (y from its top).
struct PixelPoint {
    int X = 0;
    int Y = 0;
    friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

// Rows of the spectrum image: 128 bands of two FFT bins each, row 0 the
// highest band (bins 254, 255), row 127 the lowest (bins 0, 1); values in dB.
inline constexpr int kSpectrumRows = 128;
using SpectrumColumn = std::array<float, kSpectrumRows>;

inline constexpr double kSamplesPerMs =
    AnalysisSampleRate / 1000.0;  // the recording's rate (audio/Frames.h) per ms

// What a recording load measures besides the pitch (F0, candidates,
// confidence), the loudness and the pitch in cents. Every scope computes
// each spectrum row once, in the analysis' own pass.
enum class LoadScope {
    Everything,     // the window: the spectrum image and the fixed-comb and
                    // noise-flux measures the resynthesised preview plays
    SpectrumPeaks,  // automatic segmentation: only each image column's
                    // largest value (SpectrumPeaks); no image, no preview
    PitchOnly,      // listings, Insert, frequency tables: neither
};

// How a recording load ended. Only Loaded replaced the session's recording;
// NoFrames replaced the samples but left an empty analysis.
enum class LoadOutcome {
    Loaded,
    NoFile,       // nothing at the path: no message
    Unsupported,  // unreadable, not 44100 Hz or not 16-bit: error shown
    Declined,     // longer than 10 s and the user did not confirm, or the user
                  // stopped the analysis (Analyser->Options.Stop): no message
    NoFrames,     // the analysis produced no frame: error shown
};

// Called during a load with a short stage name ("read", "analyse",
// "measure", "images", "done") and the fraction of the whole load done
// (0..1). During "analyse" it is called from the analysis worker threads
// (never twice at once).
using LoadProgress = std::function<void(std::string_view stage, double fraction)>;

// How loading an edit-state file ended.
enum class EditStateOutcome {
    Loaded,
    Cancelled,          // a question declined or the dialog cancelled
    NotEditState,       // "Melodrift" mark missing
    WrongVersion,       // "Version" is not "2.00"
    NoWaveFile,         // the stored recording does not exist
    NoSegments,         // "MojiCount" missing, not a number, or ≤ 0
    RecordingRejected,  // the stored recording exists but did not load
    TooLarge,           // larger than any edit state (kMaxEditStateBytes)
};

// The three timing edits of voice-correction mode.
enum class CorrectionTiming { PreUtterance, Overlap, Consonant };

class EditorSession {
  public:
    EditorSession();
    ~EditorSession();
    EditorSession(const EditorSession&) = delete;
    EditorSession& operator=(const EditorSession&) = delete;

    // ---- Owned objects -------------------------------------------------
    // The plug-in file's notes; created and loaded by whoever starts the
    // window (it needs the voicebank), may stay empty.
    std::unique_ptr<NoteList> Notes;
    std::unique_ptr<PitchAnalyser> Analyser;  // never null; 0 frames when empty
    std::unique_ptr<Resynthesizer> Resynth;   // null until a recording loaded
    std::unique_ptr<WaveBuffer> Wave;         // never null; the normalised recording

    // ---- Recording and its per-frame arrays ------------------------------
    std::filesystem::path WaveFileName;     // full path of the loaded recording
    std::vector<Segment> Segments;          // cover 0 .. duration without gaps
    std::vector<std::int32_t> FrameVolume;  // RMS of the 16-bit samples per frame
    std::vector<SpectrumColumn> SpectrumImage;
    std::vector<float> SpectrumPeaks;  // per frame: the largest value of its image column
    // Per frame: the spectral envelope that automatic cutting reads (24 mel
    // bands, dB). Built with the spectrum image or the peaks.
    std::vector<EnvelopeColumn> Envelope;
    std::vector<std::int32_t> PitchCents;  // TargetF0 in cents, gaps filled
    // Per frame, 1 where the voicing check (editor/Voicing.h) does not trust
    // the traced pitch: with VoicingCheck on, such frames count as unvoiced
    // in PitchCents and in the edit state's pitch. Built at load; a frame
    // whose pitch the user drew or stored differently is trusted.
    std::vector<std::uint8_t> PitchRejected;

    // ---- Switches and parameters of the controls -------------------------
    bool KeyEnabled = true;              // key check: estimate each note's key
    bool PitchEnabled = true;            // pitch check: write pitch bends
    bool VolumeEnabled = true;           // volume check: write loudness envelopes
    bool VoicingCheck = true;            // untrusted traced pitch counts as unvoiced
    bool CorrectionMode = false;         // voice correction mode
    double CorrectionConsonant = 100.0;  // ms
    double CorrectionPreUtterance = 60.0;
    double CorrectionOverlap = 20.0;
    PitchEncoding PitchMode = PitchEncoding::Mode2;
    bool ReplaceSelection = true;  // the new notes replace the selected ones

    // ---- View ------------------------------------------------------------
    int Scale = 3;           // pixels per analysis frame, 1..8
    int FramesPerPixel = 1;  // above 1: zoomed out, Scale is then 1
    int VisibleFrames = 0;
    int FirstFrame = 0;             // the horizontal scroll position
    float SpectrumDensity = 46.0f;  // displayed spectrum range, dB
    int CursorX = -1;
    std::string Caption = "メロドリフト ver2.42";  // UTF-8

    // ---- Editing ---------------------------------------------------------
    double MinCutGap = 30.0;   // least distance between two cuts, ms
    float MinStrength = 2.0f;  // least candidate strength for pitch lines
    MouseMode Mouse = MouseMode::Idle;
    int HoverSegment = -1;
    int HoverCut = -1;
    int SelFirst = -1;
    int SelLast = -1;
    PixelPoint LineStart;
    PixelPoint LineEnd;
    bool PitchDrawEnabled = true;
    bool Modified = false;  // the edit state changed since saved/loaded

    // ---- File-name presets of the dialogs -------------------------------
    std::filesystem::path OpenWaveFileName;  // the recording
    std::filesystem::path EditOpenFileName;  // edit state to load
    std::filesystem::path EditSaveFileName;  // edit state to save

    // ---- Queries -----------------------------------------------------------
    int FrameCount() const;            // analysis frames, 0 when none
    std::int64_t SampleCount() const;  // samples of the recording
    double DurationMs() const;         // SampleCount / 44.1
    bool HasRecording() const { return FrameCount() > 0; }
    // The frames the voicing check rejects, or nothing when the check is off.
    std::span<const std::uint8_t> RejectedPitchFrames() const;

    // ---- Control validation (Session.cpp) --------------------------------
    // Leaving one of the three voice-correction timing edits: the typed text
    // as a whole number (0 when it is not one), clamped against the other
    // parameters as they stand now, stored, and returned as the edit's new text.
    int CommitCorrectionTiming(CorrectionTiming field, std::string_view text);
    // The zoom control: Scale := value clamped to 1..8, not zoomed out.
    void SetScale(int value);
    // Any zoom, in or out.
    void SetZoom(Zoom zoom);
    Zoom View() const { return Zoom(Scale, FramesPerPixel); }
    // The voicing check's switch; the pitch in cents follows it.
    void SetVoicingCheck(bool on);

    // ---- Loading a recording (Loading.cpp) -------------------------------
    // Loads, checks, normalises and analyses the recording at `path` and
    // rebuilds every per-frame array, one "R" segment and a new
    // resynthesiser. On any outcome but Loaded and NoFrames the session is
    // left exactly as it was. A narrower `scope` leaves what it does not
    // measure empty (SpectrumImage, SpectrumPeaks, the frames' harmonic and
    // noise levels) and makes no resynthesiser. A `picture` is filled in as
    // the load goes (the spectrum only with the whole scope).
    LoadOutcome LoadRecording(const std::filesystem::path& path, Prompts& prompts,
                              const LoadProgress& progress = {},
                              LoadScope scope = LoadScope::Everything,
                              LoadingPicture* picture = nullptr);
    // PitchCents from the frames' TargetF0 (unvoiced runs filled).
    void BuildPitchCents();

    // ---- Segments (Segments.cpp) ------------------------------------------
    int SegmentAt(double timeMs) const;
    void RecalcLengths();
    void AddCut(std::string_view lyric, double timeMs);
    void RemoveCut(double timeMs);
    // Moves cut k (1 ≤ k < segment count) to `timeMs`, kept MinCutGap away
    // from its neighbours and the end of the recording.
    void MoveCut(int cutIndex, double timeMs);
    // Lyric edits, text as typed (UTF-8). A lyric the plug-in file cannot
    // hold (a Shift-JIS file, or none loaded yet) throws UnencodableText and
    // changes nothing.
    void CommitLyric(int segment, std::string_view lyricUtf8);
    void CommitLyricRun(int firstSegment, int lastSegment, std::string_view textUtf8);
    void RequireWritableLyric(std::string_view lyricUtf8) const;
    // Redraws a straight pitch line between two points of the pitch lane
    // (surface pixels, kLanes.Pitch).
    void ApplyPitchLine(PixelPoint from, PixelPoint to);
    // Automatic cutting (AutoSegment.cpp). Without lyrics: one sung segment
    // (lyric "あ") per detected syllable, rests "R" between. With lyrics
    // (rests "R" among them are skipped): exactly one sung segment per lyric,
    // labelled with it. Asks first when cuts would be lost. Bad lyrics, a
    // recording without singing, or more lyrics than the recording holds
    // syllables show an error and change nothing. False when nothing changed.
    bool AutoSegment(Prompts& prompts, std::span<const std::string> lyrics = {});
    // The outcome of the last AutoSegment, for callers that explain it in
    // their own words (the command line).
    struct AutoCutReport {
        enum class Result {
            Cut,
            Declined,
            TooShort,
            NoLyrics,
            BadLyric,
            NoSinging,
            TooManyLyrics
        } result = Result::Cut;
        std::string badLyric;  // BadLyric: the lyric refused
        int syllables = 0;     // lyrics given (rests not counted)
        int audible = 0;       // TooManyLyrics: syllables the recording appears to hold
    };
    AutoCutReport LastAutoCut;
    // The WAVE image (RIFF bytes, 44100 Hz, 16-bit mono) that a preview of
    // from..to plays: the recording as it is, or resynthesised from the
    // analysis at the traced pitch. Empty when there is nothing to play.
    std::string PlayRange(double fromMs, double toMs) const;
    std::string PlayResynthesised(double fromMs, double toMs);

    // ---- Edit-state file (EditState.cpp) -----------------------------------
    // The save button: dialog, overwrite question, update in place. True
    // when the file was written.
    bool SaveEditState(Prompts& prompts);
    // Writes the edit state to `path` (updating an existing file in place)
    // without asking anything; clears Modified.
    void SaveEditStateTo(const std::filesystem::path& path);
    // The load button: question, dialog, checks, recording, pitch, segments.
    EditStateOutcome LoadEditState(Prompts& prompts, const LoadProgress& progress = {});
    // The same from a known file, without the question and the dialog.
    EditStateOutcome LoadEditStateFrom(const std::filesystem::path& path, Prompts& prompts,
                                       const LoadProgress& progress = {},
                                       LoadScope scope = LoadScope::Everything);
    // The stored pitch and segments of a read edit-state file, for the
    // recording already loaded: the last step of LoadEditStateFrom. At most
    // as many segments as cuts MinCutGap apart fit into the recording.
    void ApplyEditState(const IniFile& ini);
    // What the last ApplyEditState mended (LoadEditStateFrom tells the user).
    EditStateMends LastEditStateMends;
};

// A rest lyric: exactly "R" or "r".
bool IsRestLyric(std::string_view lyric);

// The sung lyrics of the segments as one line (rests left out), to prefill
// the lyric line that automatic cutting asks for.
std::string TypedLyricLine(const EditorSession& session);
// What automatic cutting asks in the window.
inline constexpr std::string_view kAutoCutLyricQuestion =
    "歌詞を1行で入力してください（例: ああいあう）。空のままなら歌詞なしで区切ります。";
// A typed lyric line cut into lyrics by the lyric-run rule (SplitLyricRun:
// a small kana joins the one before it; "っ" is a rest), as many as it holds;
// blanks are left out.
std::vector<std::string> SplitLyricLine(std::string_view lineUtf8);
// The first lyric that cannot be sung (empty, or holding a blank, a control
// character, a digit or a punctuation mark); empty when all can.
std::optional<std::string> FindBadLyric(std::span<const std::string> lyrics);

}  // namespace melodrift

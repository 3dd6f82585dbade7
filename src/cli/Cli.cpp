#include "cli/Cli.h"

#include "audio/Parallel.h"
#include "audio/PitchAnalyser.h"
#include "audio/FrequencyTable.h"
#include "cli/CliPrompts.h"
#include "cli/Listings.h"
#include "cli/Progress.h"
#include "editor/EditState.h"
#include "editor/Insertion.h"
#include "editor/Loading.h"
#include "editor/Session.h"
#include "editor/VoiceSource.h"
#include "plugin/NoteList.h"
#include "system/Files.h"
#include "text/CodePage.h"
#include "text/Encoding.h"
#include "text/NumberFormat.h"
#include "system/Prompts.h"
#include "text/Text.h"
#include "voicebank/Voicebank.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace melodrift {

namespace fs = std::filesystem;

namespace {

// The editor's questions, answered by the command's flags.
constexpr const char* kAskLongRecording = "音声が長いため分析に長時間かかります。続けますか？";
constexpr const char* kAskSaveEditState = "編集状態を保存しますか?";
constexpr const char* kAskOverwriteFrq = "周波数表を上書きしますか?";

// A failure that ends the command with exit code 1 and this message.
class CommandFailure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Each line escaped for the terminal, the line breaks kept.
std::string EscapeLines(const std::string& text) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        out += EscapeControlCharacters(std::string_view(text).substr(start, end - start));
        if (end < text.size()) out += '\n';
        start = end + 1;
    }
    return out;
}

std::string Quoted(const fs::path& path) { return "\"" + PathToUtf8(path) + "\""; }

// Writes `bytes` to `stream` and flushes it. On failure, the reason: the
// system's text for the errno the failed write left ("No space left on
// device", "Broken pipe").
std::optional<std::string> WriteAndFlush(std::ostream& stream, std::string_view bytes) {
    errno = 0;
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    stream.flush();
    if (stream) return std::nullopt;
    const int error = errno;
    return error != 0 ? std::string(std::strerror(error)) : std::string("write error");
}

// A listing or a preview goes to its file atomically. A device or a pipe
// named as the output (/dev/null, a FIFO a script reads from) cannot be
// replaced and is written to directly.
void WriteOutput(const fs::path& path, std::string_view bytes) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status) || fs::is_regular_file(status) || fs::is_directory(status)) {
        WriteFileAtomically(path, bytes);
        return;
    }
    std::ofstream stream(path, std::ios::binary);
    if (const std::optional<std::string> error = WriteAndFlush(stream, bytes))
        throw CommandFailure("cannot write to " + Quoted(path) + ": " + *error);
}

// A path as typed, made absolute against the working folder: what is stored
// or derived from it (the edit state's WaveFile, the voice source's folder)
// must not depend on where the command ran.
fs::path AbsolutePath(const std::string& utf8) {
    const fs::path typed = Utf8Path(utf8);
    if (typed.empty()) return typed;
    return fs::absolute(typed).lexically_normal();
}

void RefuseOverwrite(const fs::path& path, bool force) {
    if (!force && fs::exists(path))
        throw CommandFailure(Quoted(path) + " exists; use --force to replace it");
}

// Loads the recording as the window does. The long-recording question is
// answered OK: on the command line the user asked for this file.
void LoadWave(EditorSession& session, const fs::path& wave, CliPrompts& prompts,
              const CliStreams& streams, LoadScope scope) {
    if (!fs::is_regular_file(wave)) throw CommandFailure("no recording at " + Quoted(wave));
    prompts.SetAnswer(kAskLongRecording, true);
    ProgressBar bar(streams.Err, streams.ProgressOnErr);
    const LoadOutcome outcome = session.LoadRecording(
        wave, prompts,
        [&bar](std::string_view stage, double fraction) { bar.Update(stage, fraction); }, scope);
    bar.Finish();
    switch (outcome) {
        case LoadOutcome::Loaded:
            return;
        case LoadOutcome::NoFile:
            throw CommandFailure("no recording at " + Quoted(wave));
        case LoadOutcome::Unsupported:
            throw CommandFailure(Quoted(wave) + " was refused (the reason is above)");
        case LoadOutcome::Declined:
            throw CommandFailure(Quoted(wave) + " was not analysed");
        case LoadOutcome::NoFrames:
            throw CommandFailure(Quoted(wave) + " gave no analysis frames");
    }
    throw CommandFailure("unknown result loading " + Quoted(wave));
}

void LoadState(EditorSession& session, const fs::path& state, CliPrompts& prompts,
               const CliStreams& streams, LoadScope scope) {
    if (!fs::is_regular_file(state)) throw CommandFailure("no edit state at " + Quoted(state));
    prompts.SetAnswer(kAskLongRecording, true);
    ProgressBar bar(streams.Err, streams.ProgressOnErr);
    const EditStateOutcome outcome = session.LoadEditStateFrom(
        state, prompts,
        [&bar](std::string_view stage, double fraction) { bar.Update(stage, fraction); }, scope);
    bar.Finish();
    switch (outcome) {
        case EditStateOutcome::Loaded:
            return;
        case EditStateOutcome::Cancelled:
            throw CommandFailure("loading " + Quoted(state) + " was cancelled");
        case EditStateOutcome::NotEditState:
            throw CommandFailure(Quoted(state) + " is not a Melodrift edit state");
        case EditStateOutcome::WrongVersion:
            throw CommandFailure(Quoted(state) + " has an unsupported version");
        case EditStateOutcome::NoWaveFile:
            throw CommandFailure("the recording named in " + Quoted(state) + " does not exist");
        case EditStateOutcome::NoSegments:
            throw CommandFailure(Quoted(state) + " holds no segments");
        case EditStateOutcome::TooLarge:
            throw CommandFailure(Quoted(state) + " is larger than any edit state (" +
                                 std::to_string(kMaxEditStateBytes >> 20) +
                                 " MB); it was not read");
        case EditStateOutcome::RecordingRejected:
            throw CommandFailure("the recording named in " + Quoted(state) +
                                 " could not be loaded");
    }
    throw CommandFailure("unknown result loading " + Quoted(state));
}

// Comma-separated items, empty ones kept ("a,,b" → a, "", b).
std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> items;
    std::string item;
    for (char c : text) {
        if (c == ',') {
            items.push_back(item);
            item.clear();
        } else {
            item += c;
        }
    }
    items.push_back(item);
    return items;
}

// ---- analyze ------------------------------------------------------------

struct AnalyzeArgs {
    std::string wave;
    std::string format = "csv";
    std::string out;
};

void RunAnalyze(const AnalyzeArgs& args, const CliStreams& streams) {
    CliPrompts prompts(streams.Err);
    EditorSession session;
    LoadWave(session, Utf8Path(args.wave), prompts, streams, LoadScope::PitchOnly);
    const std::string text = args.format == "json" ? AnalysisJson(session) : AnalysisCsv(session);
    if (args.out.empty() || args.out == "-") {
        if (const std::optional<std::string> error = WriteAndFlush(streams.Out, text))
            throw CommandFailure("cannot write the listing to standard output: " + *error);
    } else
        WriteOutput(Utf8Path(args.out), text);
}

// ---- segment --------------------------------------------------------------

struct SegmentArgs {
    std::string wave;
    std::string out;
    bool autoSegment = false;
    std::vector<double> cutsMs;
    std::optional<std::string> lyrics;
    std::optional<std::string> lyricsLine;
    bool force = false;
    bool rawPitch = false;
};

// The lyrics of `segment`: a comma-separated list or one line split as the
// window splits a lyric run. Any Unicode lyric is taken: the edit state is
// written in UTF-8 when Shift-JIS cannot hold one.
std::vector<std::string> SegmentLyrics(const SegmentArgs& args) {
    if (args.lyrics && args.lyricsLine)
        throw CommandFailure("give --lyrics or --lyrics-line, not both");
    std::vector<std::string> lyrics;
    if (args.lyrics) lyrics = SplitCommas(*args.lyrics);
    if (args.lyricsLine) {
        if (TrimBlanks(*args.lyricsLine).empty()) throw CommandFailure("the lyric line is empty");
        lyrics = SplitLyricLine(*args.lyricsLine);
    }
    if (const auto bad = FindBadLyric(lyrics))
        throw CommandFailure(
            bad->empty() ? std::string("an empty lyric in the list")
                         : "\"" + EscapeControlCharacters(*bad) +
                               "\" is not a lyric (blanks, digits and punctuation are not sung)");
    return lyrics;
}

// Cuts and labels in one step; fails with the reason, changing nothing.
void AutoCut(EditorSession& session, const std::vector<std::string>& lyrics) {
    SilentPrompts quiet;  // a new session holds no cuts to ask about
    if (session.AutoSegment(quiet, lyrics)) return;
    using Result = EditorSession::AutoCutReport::Result;
    const EditorSession::AutoCutReport& report = session.LastAutoCut;
    switch (report.result) {
        case Result::NoSinging:
            throw CommandFailure("no singing found in the recording; nothing was cut");
        case Result::TooManyLyrics:
            throw CommandFailure(std::to_string(report.syllables) +
                                 " lyrics, but the recording holds about " +
                                 std::to_string(report.audible) + " audible syllables: " +
                                 std::to_string(std::max(1, report.syllables - report.audible)) +
                                 " could not be placed; nothing was cut");
        case Result::NoLyrics:
            throw CommandFailure("the lyrics hold only rests");
        case Result::TooShort:
            return;  // too short to cut: one segment, as without --auto
        default:
            throw CommandFailure("the recording could not be cut");
    }
}

void RunSegment(const SegmentArgs& args, const CliStreams& streams) {
    const fs::path out = AbsolutePath(args.out);
    const fs::path wave = AbsolutePath(args.wave);
    RefuseOverwrite(out, args.force);
    // The edit state names the recording in Shift-JIS or UTF-8; a path that
    // is not Unicode text would come back as another (nonexistent) file.
    if (!EditStateCanHoldPath(wave))
        throw CommandFailure("the recording's path " + Quoted(wave) +
                             " is not Unicode text, so the edit state could never find it again; "
                             "move or rename the recording (or its folders)");
    const std::vector<std::string> lyrics = SegmentLyrics(args);

    CliPrompts prompts(streams.Err);
    EditorSession session;
    session.VoicingCheck = !args.rawPitch;
    // Automatic cuts need each frame's spectral envelope; plain cuts only
    // the pitch that the edit state stores.
    LoadWave(session, wave, prompts, streams,
             args.autoSegment ? LoadScope::SpectrumPeaks : LoadScope::PitchOnly);
    // With --auto the lyrics choose the cuts: one sung segment per lyric.
    if (args.autoSegment)
        AutoCut(session, args.cutsMs.empty() ? lyrics : std::vector<std::string>{});
    for (double cutMs : args.cutsMs) {
        const std::size_t before = session.Segments.size();
        session.AddCut("R", cutMs);
        if (session.Segments.size() == before)
            streams.Err << "melodrift-cli: no cut at " << FormatGeneral(cutMs)
                        << " ms (outside the recording, or closer than "
                        << FormatGeneral(session.MinCutGap) << " ms to another cut)\n";
    }
    if (!args.autoSegment || !args.cutsMs.empty()) {
        if (lyrics.size() > session.Segments.size())
            throw CommandFailure(std::to_string(lyrics.size()) + " lyrics for " +
                                 std::to_string(session.Segments.size()) + " segments");
        for (std::size_t i = 0; i < lyrics.size(); ++i) session.Segments[i].Lyric = lyrics[i];
    }
    session.SaveEditStateTo(out);
    streams.Err << "melodrift-cli: " << session.Segments.size() << " segments saved to "
                << Quoted(out) << '\n';
}

// ---- insert ----------------------------------------------------------------

struct InsertArgs {
    std::string pluginFile;
    std::string state;
    bool correction = false;
    int pitchMode = 2;
    bool noKey = false;
    bool noPitch = false;
    bool noVolume = false;
    std::optional<int> correctionPreUtterance;
    std::optional<int> correctionOverlap;
    std::optional<int> correctionConsonant;
    bool overwriteFrq = false;
    bool rawPitch = false;
    bool keepSelection = false, allowMissingVoicebank = false;
};

void RunInsert(const InsertArgs& args, const CliStreams& streams) {
    const fs::path pluginFile = AbsolutePath(args.pluginFile);
    if (!fs::is_regular_file(pluginFile))
        throw CommandFailure("no plug-in file at " + Quoted(pluginFile));

    CliPrompts prompts(streams.Err);
    prompts.SetAnswer(kAskSaveEditState, false);
    prompts.SetAnswer(kAskOverwriteFrq, args.overwriteFrq);

    Voicebank voicebank;
    EditorSession session;
    session.Notes = std::make_unique<NoteList>(&voicebank);
    if (LoadPluginFile(*session.Notes, voicebank, pluginFile, prompts) == 0)
        throw CommandFailure("no plug-in file at " + Quoted(pluginFile));
    if (session.Notes->VoiceFolderMissing && !args.allowMissingVoicebank)
        throw CommandFailure(MissingVoiceFolderEnglish(session.Notes->VoiceDir));
    // A tempo that cannot place notes is reported before the (long) load.
    if (!UsableTempo(session.Notes->Tempo))
        throw CommandFailure(
            "the plug-in file " + Quoted(pluginFile) + " has the tempo " +
            FormatGeneral(session.Notes->Tempo) +
            ", which cannot place notes; set a tempo above 0 in the editor and run the plug-in "
            "again (nothing was written)");
    session.VoicingCheck = !args.rawPitch;
    LoadState(session, AbsolutePath(args.state), prompts, streams, LoadScope::PitchOnly);

    session.CorrectionMode = args.correction;
    session.PitchMode = static_cast<PitchEncoding>(args.pitchMode);
    session.ReplaceSelection = !args.keepSelection;
    session.KeyEnabled = !args.noKey;
    session.PitchEnabled = !args.noPitch;
    session.VolumeEnabled = !args.noVolume;
    // The three voice correction parameters are checked as the edits check
    // them, each against the others as they stand. The consonant comes
    // first, so that raising both the consonant and the pre-utterance is
    // not undone by the old consonant.
    if (args.correctionConsonant)
        session.CommitCorrectionTiming(CorrectionTiming::Consonant,
                                       std::to_string(*args.correctionConsonant));
    if (args.correctionPreUtterance)
        session.CommitCorrectionTiming(CorrectionTiming::PreUtterance,
                                       std::to_string(*args.correctionPreUtterance));
    if (args.correctionOverlap)
        session.CommitCorrectionTiming(CorrectionTiming::Overlap,
                                       std::to_string(*args.correctionOverlap));

    const InsertSummary summary = Insert(session, voicebank, prompts);
    streams.Err << "melodrift-cli: " << session.Segments.size() << " notes inserted into "
                << Quoted(pluginFile) << SummaryTextEnglish(summary);
    const int clamped = session.Notes->ClampedValues;
    if (clamped > 0)
        streams.Err << "; " << clamped << " pitch value" << (clamped == 1 ? " was" : "s were")
                    << " outside the hosts' range and clamped (PBY to +-204.7, Mode1 pitches to "
                       "-2048..2047)";
    streams.Err << '\n';
}

// ---- frq --------------------------------------------------------------------

struct FrqArgs {
    std::string wave;
    std::string out;
    bool force = false;
    bool rawPitch = false;
};

void RunFrq(const FrqArgs& args, const CliStreams& streams) {
    const fs::path wave = Utf8Path(args.wave);
    const fs::path out = args.out.empty() ? FrequencyTablePath(wave) : Utf8Path(args.out);
    RefuseOverwrite(out, args.force);
    CliPrompts prompts(streams.Err);
    EditorSession session;
    session.VoicingCheck = !args.rawPitch;
    LoadWave(session, wave, prompts, streams, LoadScope::PitchOnly);
    FrequencyTable table;
    FillFrequencyTable(session, table);
    if (!table.SaveToFile(out)) throw CommandFailure("could not write " + Quoted(out));
    streams.Err << "melodrift-cli: " << session.FrameCount() << " frames written to " << Quoted(out)
                << '\n';
}

// ---- preview ----------------------------------------------------------------

struct PreviewArgs {
    std::string wave;
    double fromMs = 0.0;
    double toMs = 0.0;
    bool resynth = false;
    std::string state;
    std::string out;
};

void RunPreview(const PreviewArgs& args, const CliStreams& streams) {
    const fs::path wave = Utf8Path(args.wave);
    const fs::path out = Utf8Path(args.out);
    CliPrompts prompts(streams.Err);
    EditorSession session;
    // Only the resynthesised preview plays from the analysis' measures.
    const LoadScope scope = args.resynth ? LoadScope::Everything : LoadScope::PitchOnly;
    if (args.state.empty()) {
        LoadWave(session, wave, prompts, streams, scope);
    } else {
        if (!fs::is_regular_file(wave)) throw CommandFailure("no recording at " + Quoted(wave));
        LoadState(session, Utf8Path(args.state), prompts, streams, scope);
        std::error_code ec;
        if (!fs::equivalent(session.WaveFileName, wave, ec))
            throw CommandFailure("the edit state is for " + Quoted(session.WaveFileName) +
                                 ", not " + Quoted(wave));
    }
    const std::string image = args.resynth ? session.PlayResynthesised(args.fromMs, args.toMs)
                                           : session.PlayRange(args.fromMs, args.toMs);
    if (image.empty())
        throw CommandFailure("nothing to play between " + FormatGeneral(args.fromMs) + " and " +
                             FormatGeneral(args.toMs) + " ms");
    WriteOutput(out, image);
}

// Whether all that went to standard output (help, usage) reached it; if
// not, says so on stderr.
bool OutputWritten(const CliStreams& streams) {
    const std::optional<std::string> error = WriteAndFlush(streams.Out, {});
    if (!error) return true;
    streams.Err << "melodrift-cli: cannot write to standard output: " << *error << '\n';
    return false;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, const CliStreams& streams) {
    CLI::App app{
        "Melodrift on the command line: analyse a recording, cut it into syllables, "
        "and insert it as notes into an UTAU plug-in file.",
        "melodrift-cli"};
    app.require_subcommand(1);

    AnalyzeArgs analyze;
    CLI::App* analyzeCmd = app.add_subcommand("analyze", "Analyse a recording and list its frames");
    analyzeCmd->add_option("WAV", analyze.wave, "Recording (44100 Hz, 16-bit WAVE)")->required();
    analyzeCmd->add_option("--format", analyze.format, "Output format")
        ->check(CLI::IsMember({"csv", "json"}))
        ->capture_default_str();
    analyzeCmd->add_option("-o,--output", analyze.out, "Output file (default: standard output)");

    SegmentArgs segment;
    CLI::App* segmentCmd =
        app.add_subcommand("segment", "Cut a recording into syllables and save the edit state");
    segmentCmd->add_option("WAV", segment.wave, "Recording (44100 Hz, 16-bit WAVE)")->required();
    segmentCmd->add_option("-o,--output", segment.out, "Edit-state file to write (.mlq)")
        ->required();
    segmentCmd->add_flag("--auto", segment.autoSegment,
                         "Cut automatically: at syllable onsets, or with --lyrics/--lyrics-line "
                         "one sung segment per lyric");
    segmentCmd->add_option("--cuts", segment.cutsMs, "Cut times in ms, comma-separated")
        ->delimiter(',');
    segmentCmd->add_option(
        "--lyrics", segment.lyrics,
        "Lyrics, comma-separated: with --auto one sung segment per lyric (cut and labelled), "
        "else the lyrics of segments 0, 1, 2, ... (missing ones stay R)");
    segmentCmd->add_option(
        "--lyrics-line", segment.lyricsLine,
        "The lyrics as one line (\"ああいあう\"), split as the window splits a typed run: "
        "a small kana joins the one before it");
    segmentCmd->add_flag("--force", segment.force, "Replace an existing edit-state file");
    segmentCmd->add_flag(
        "--raw-pitch", segment.rawPitch,
        "Store the traced pitch without the voicing check (noise-like frames stay voiced)");

    InsertArgs insert;
    CLI::App* insertCmd =
        app.add_subcommand("insert", "Insert the segments of an edit state as notes");
    insertCmd
        ->add_option("PLUGIN_FILE", insert.pluginFile, "UTAU plug-in file (read and rewritten)")
        ->required();
    insertCmd->add_option("--state", insert.state, "Edit-state file (.mlq)")->required();
    insertCmd->add_flag("--correction", insert.correction,
                        "Voice correction mode: make the recording a voice source");
    insertCmd
        ->add_option("--pitch-mode", insert.pitchMode,
                     "Pitch bends as Mode1 (UTAU) or Mode2; OpenUtau reads only Mode2 (and ignores "
                     "the envelope)")
        ->check(CLI::IsMember({1, 2}))
        ->capture_default_str();
    insertCmd->add_flag("--no-key", insert.noKey, "Keep every note at key 60 (trace mode)");
    insertCmd->add_flag("--no-pitch", insert.noPitch, "Write no pitch bends (trace mode)");
    insertCmd->add_flag("--no-volume", insert.noVolume,
                        "Do not follow the recording's loudness (trace mode)");
    insertCmd->add_option("--cr-pre", insert.correctionPreUtterance,
                          "Voice correction pre-utterance, ms (default 60)");
    insertCmd->add_option("--cr-overlap", insert.correctionOverlap,
                          "Voice correction overlap, ms (default 20)");
    insertCmd->add_option("--cr-consonant", insert.correctionConsonant,
                          "Voice correction consonant, ms (default 100)");
    insertCmd->add_flag("--overwrite-frq", insert.overwriteFrq,
                        "Replace an existing frequency table");
    insertCmd->add_flag(
        "--raw-pitch", insert.rawPitch,
        "Use the traced pitch without the voicing check (noise-like frames stay voiced)");
    insertCmd->add_flag("--keep-selection", insert.keepSelection,
                        "Keep the selected notes (new notes go before them)");
    insertCmd->add_flag("--allow-missing-voicebank", insert.allowMissingVoicebank,
                        "Insert without the voice folder");

    FrqArgs frq;
    CLI::App* frqCmd = app.add_subcommand("frq", "Write the frequency table of a recording");
    frqCmd->add_option("WAV", frq.wave, "Recording (44100 Hz, 16-bit WAVE)")->required();
    frqCmd->add_option("-o,--output", frq.out,
                       "Table to write (default: beside the recording, NAME_wav.frq)");
    frqCmd->add_flag("--force", frq.force, "Replace an existing table");
    frqCmd->add_flag(
        "--raw-pitch", frq.rawPitch,
        "Write the traced pitch without the voicing check (noise-like frames stay voiced)");

    PreviewArgs preview;
    CLI::App* previewCmd =
        app.add_subcommand("preview", "Render a stretch of the recording to a WAVE file");
    previewCmd->add_option("WAV", preview.wave, "Recording (44100 Hz, 16-bit WAVE)")->required();
    previewCmd->add_option("--from", preview.fromMs, "Start, ms")->required();
    previewCmd->add_option("--to", preview.toMs, "End, ms")->required();
    previewCmd->add_flag("--resynth", preview.resynth, "Resynthesise from the analysis instead");
    previewCmd->add_option("--state", preview.state,
                           "Edit-state file whose corrected pitch to use");
    previewCmd->add_option("-o,--output", preview.out, "WAVE file to write")->required();

    std::vector<const char*> argv;
    argv.push_back("melodrift-cli");
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::Success& e) {
        const int code = app.exit(e, streams.Out, streams.Err);
        return OutputWritten(streams) ? code : kExitFailure;
    } catch (const CLI::ParseError& e) {
        // The message quotes the word that was refused: escaped for the terminal.
        std::ostringstream out;
        std::ostringstream err;
        app.exit(e, out, err);
        streams.Err << EscapeLines(err.str());
        if (const std::optional<std::string> error =
                WriteAndFlush(streams.Out, EscapeLines(out.str()))) {
            streams.Err << "melodrift-cli: cannot write to standard output: " << *error << '\n';
            return kExitFailure;
        }
        return kExitUsage;
    }

    try {
        // Before anything else, a commit an earlier run left unfinished in a
        // folder this command touches is finished or undone, and told.
        // Only the command given has its files set.
        std::vector<fs::path> folders;
        for (const std::string* file :
             {&analyze.wave, &analyze.out, &segment.wave, &segment.out, &insert.pluginFile,
              &insert.state, &frq.wave, &frq.out, &preview.wave, &preview.state, &preview.out})
            if (!file->empty() && *file != "-") folders.push_back(Utf8Path(*file).parent_path());
        CliPrompts notices(streams.Err);
        (void)RecoverInterruptedCommitsIn(
            folders, [&notices](const std::string& text) { notices.Inform(text); });

        if (analyzeCmd->parsed()) RunAnalyze(analyze, streams);
        if (segmentCmd->parsed()) RunSegment(segment, streams);
        if (insertCmd->parsed()) RunInsert(insert, streams);
        if (frqCmd->parsed()) RunFrq(frq, streams);
        if (previewCmd->parsed()) RunPreview(preview, streams);
    } catch (const std::exception& e) {
        streams.Err << "melodrift-cli: " << EscapeControlCharacters(e.what()) << '\n';
        return kExitFailure;
    }
    return OutputWritten(streams) ? kExitSuccess : kExitFailure;
}

}  // namespace melodrift

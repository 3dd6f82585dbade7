#include "editor/Insertion.h"

#include "editor/Session.h"
#include "editor/VoiceSource.h"
#include "plugin/Note.h"
#include "plugin/NoteList.h"
#include "system/FileLock.h"
#include "system/FileNames.h"
#include "system/Files.h"
#include "system/Prompts.h"
#include "text/NumberFormat.h"
#include "voicebank/AliasResolver.h"
#include "voicebank/EnvelopeShaper.h"
#include "voicebank/Voicebank.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace melodrift {

namespace {

constexpr int kHighestKey = 120;            // note numbers 0..120 are counted
constexpr double kPortamentoStepMs = 15.0;  // Mode2 sampling interval
constexpr int kMinGridPointsForPortamento = 5;

// Frame nearest to a time: (trunc(t × 44.1) + 128) div 256.
std::int64_t NearestFrame(double timeMs) {
    const auto sample = static_cast<std::int64_t>(std::trunc(timeMs * kSamplesPerMs));
    const std::int64_t shifted = sample + HopSize / 2;
    // div rounds toward zero; a negative time gives frame 0 or below, which
    // callers clamp.
    return shifted / HopSize;
}

// Nominal time of frame i [ms].
double FrameTimeMs(std::int64_t frame) {
    return static_cast<double>(frame) * HopSize / kSamplesPerMs;
}

// A folder path as text without its trailing separators, for comparing the
// project's voicebank with the recording's folder.
std::string FolderKey(std::string folder) {
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    // Where file names ignore case (Windows), ASCII letters suffice for the
    // comparison; in UTF-8 they never occur inside another character.
    if constexpr (kFileNamesIgnoreCase)
        for (char& c : folder)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folder;
}

}  // namespace

int EstimateKey(std::span<const std::int32_t> pitchCents, const Segment& segment) {
    const auto frames = static_cast<std::int64_t>(pitchCents.size());
    if (frames == 0) return 0;
    const std::int64_t first = std::max<std::int64_t>(0, NearestFrame(segment.StartMs));
    const std::int64_t last =
        std::min<std::int64_t>(frames - 1, NearestFrame(segment.StartMs + segment.LengthMs));
    std::array<int, kHighestKey + 1> counts{};
    for (std::int64_t j = first; j <= last; ++j) {
        const std::int32_t cents = pitchCents[static_cast<std::size_t>(j)];
        if (cents == 0) continue;
        const std::int64_t key = (static_cast<std::int64_t>(cents) + 50) / 100;
        // Pitches outside the keyboard (possible after a pitch correction or
        // from an edited edit-state file) have no counter; they are skipped.
        if (key < 0 || key > kHighestKey) continue;
        ++counts[static_cast<std::size_t>(key)];
    }
    int best = 0;
    for (int k = 0; k <= kHighestKey; ++k)
        if (counts[static_cast<std::size_t>(k)] > counts[static_cast<std::size_t>(best)]) best = k;
    return best;
}

std::int32_t PitchCentsAt(std::span<const std::int32_t> pitchCents, std::int64_t sampleCount,
                          double timeMs) {
    const auto frames = static_cast<std::int64_t>(pitchCents.size());
    if (frames == 0) return 0;
    const double durationMs = static_cast<double>(sampleCount) / kSamplesPerMs;
    if (!(timeMs >= 0.0) || timeMs > durationMs) return 0;
    // The frame nearest to the time; near the end of the recording it may lie
    // past the last frame, which then stands in for it.
    const std::int64_t c = std::min(NearestFrame(timeMs), frames - 1);
    std::int64_t a = 0;
    std::int64_t b = 0;
    if (timeMs >= FrameTimeMs(c)) {
        a = c;
        b = std::min(frames - 1, c + 1);
    } else {
        a = std::max<std::int64_t>(0, c - 1);
        b = c;
    }
    const double ca = pitchCents[static_cast<std::size_t>(a)];
    const double cb = pitchCents[static_cast<std::size_t>(b)];
    // After the last frame there is no second frame to interpolate towards:
    // the last frame's pitch holds.
    if (a == b) return static_cast<std::int32_t>(ca);
    const double ta = FrameTimeMs(a);
    const double tb = FrameTimeMs(b);
    return static_cast<std::int32_t>(std::trunc((cb - ca) / (tb - ta) * (timeMs - ta) + ca + 0.5));
}

bool UsableTempo(double tempo) { return tempo > 0.0 && std::isfinite(tempo); }

double LoudnessGain(std::int32_t frameVolume) {
    return static_cast<double>(static_cast<std::int64_t>(frameVolume) * 160 / 23000 + 20) * 0.01;
}

void ApplyRecordingLoudness(NoteList& notes, std::span<const std::int32_t> frameVolume) {
    EnvelopeShaper shaper;
    // Insert's own shape: a 50 ms rise to full volume at the onset, no
    // attack accent.
    shaper.JoinWidth = 50.0;
    shaper.AttackGain = 1.0;
    shaper.AttackOffset = 0.0;
    shaper.Notes = &notes;
    shaper.ShapeEnvelopes();
    // Between frames i and i + 1 the gain runs linearly from one frame's
    // loudness to the next one's.
    std::vector<double> timesMs(frameVolume.size());
    std::vector<double> gains(frameVolume.size());
    for (std::size_t i = 0; i < frameVolume.size(); ++i) {
        timesMs[i] = FrameTimeMs(static_cast<std::int64_t>(i));
        gains[i] = LoudnessGain(frameVolume[i]);
    }
    shaper.ApplyLoudnessCurve(timesMs, gains);
}

void FillPitchPoints(NoteList& notes, std::span<const std::int32_t> pitchCents,
                     std::int64_t sampleCount) {
    for (int slot = 1; slot <= notes.Count(); ++slot) {
        Note* note = notes.GetNote(slot);
        if (note == nullptr) continue;
        // Grid times count from the sample start, LeadIn before the note.
        const double sampleStartMs =
            note->StartMs - note->EffectivePreUtterance() - note->EffectiveStartPoint();
        for (PitchPoint& point : note->PitchPoints) {
            const std::int32_t cents =
                PitchCentsAt(pitchCents, sampleCount, point.TimeMs + sampleStartMs);
            point.Value = cents != 0 ? static_cast<double>(cents) - 100.0 * note->NoteNum : 0.0;
        }
    }
}

void BuildPortamento(NoteList& notes) {
    for (int slot = 1; slot <= notes.Count(); ++slot)
        if (Note* note = notes.GetNote(slot)) note->PitchBend.Clear();

    for (int slot = 1; slot <= notes.Count(); ++slot) {
        Note* note = notes.GetNote(slot);
        if (note == nullptr || note->IsRest()) continue;
        if (static_cast<int>(note->PitchPoints.size()) < kMinGridPointsForPortamento) continue;

        const Note* prev = note->Prev;
        Note* next = note->Next;
        // From the start of the crossfade with a sung previous note (never
        // after the onset), else from the sample start.
        const double fromMs =
            prev != nullptr && !prev->IsRest()
                ? std::min(note->EffectiveVoiceOverlap() - note->EffectivePreUtterance(), 0.0)
                : -note->EffectivePreUtterance();
        // To where a sung next note takes over (never after the note's end).
        const double lengthMs = note->TicksToMs(note->Length);
        const double toMs =
            next != nullptr && !next->IsRest()
                ? std::min(lengthMs - next->EffectivePreUtterance() + next->EffectiveVoiceOverlap(),
                           lengthMs)
                : lengthMs;

        // A range without finite ends would never finish sampling.
        if (!std::isfinite(fromMs) || !std::isfinite(toMs)) continue;

        Portamento& portamento = note->PitchBend;
        double t = fromMs;
        while (true) {
            const bool last = t + kPortamentoStepMs >= toMs;
            const double at = last ? toMs : t;
            double value = note->PitchAt(at);
            if (value == Note::NoValue) value = 0.0;
            portamento.AddPoint(BendShape::Straight, false, at, value);
            if (last) break;
            t += kPortamentoStepMs;
        }

        // Pin the ends: the first point on the previous key after a sung
        // note (else on this key), the last point on this key.
        const double startValue = note->ExpectedEndValue(0);
        const PortamentoPoint first = portamento.Point(0);
        if (first.Value != startValue)
            portamento.AddPoint(BendShape::Straight, true, first.Time, startValue);
        const int lastIndex = portamento.Count() - 1;
        const PortamentoPoint lastPoint = portamento.Point(lastIndex);
        if (lastPoint.Value != note->ExpectedEndValue(lastIndex))
            portamento.AddPoint(BendShape::Straight, false, lastPoint.Time, 0.0);
    }

    for (int slot = 1; slot <= notes.Count(); ++slot)
        if (Note* note = notes.GetNote(slot)) note->PitchBend.Simplify();
}

std::vector<std::int64_t> WholeTickStarts(const NoteList& notes,
                                          const std::vector<Segment>& segments) {
    std::vector<std::int64_t> ticks;
    if (segments.empty()) return ticks;
    ticks.reserve(segments.size() + 1);
    const double originMs = segments.front().StartMs;
    // Rounded from the exact distance to the first start, never from the
    // previous rounded value, so the error stays below half a tick.
    for (const Segment& segment : segments)
        ticks.push_back(HalfUp(notes.MsToTicks(segment.StartMs - originMs)));
    ticks.push_back(
        HalfUp(notes.MsToTicks(segments.back().StartMs + segments.back().LengthMs - originMs)));
    return ticks;
}

namespace {

// Insert's steps, in the order MakeNotesAndSave runs them.

// One note per segment at its whole-tick start, with the segment's lyric,
// the estimated key and the switches of the mode; the list relinked.
void CreateNotes(const EditorSession& session, NoteList& notes) {
    const bool correction = session.CorrectionMode;
    const std::vector<std::int64_t> startTicks = WholeTickStarts(notes, session.Segments);
    const double originTicks =
        session.Segments.empty() ? 0.0 : notes.MsToTicks(session.Segments.front().StartMs);
    for (std::size_t n = 0; n < session.Segments.size(); ++n) {
        const Segment& segment = session.Segments[n];
        const int slot = notes.InsertNote(originTicks + static_cast<double>(startTicks[n]));
        Note* note = notes.GetNote(slot);
        if (note == nullptr) throw std::runtime_error("a new note has no slot in the note list");
        note->Tempo = notes.Tempo;
        note->Lyric = segment.Lyric;
        note->SetEffectivePreUtterance(0.0);
        note->SetEffectiveVoiceOverlap(0.0);
        note->SetEffectiveStartPoint(0.0);
        note->Moduration = 0;
        note->NoteNum = 60;
        note->Length = static_cast<double>(startTicks[n + 1] - startTicks[n]);
        if (correction) {
            note->WritePitch = true;
            note->WriteEnvelope = true;
            note->WriteFlagsP0 = true;
            note->Intensity = 80;
        } else {
            note->WritePitch = session.PitchEnabled;
            note->WriteEnvelope = true;
            note->WriteFlagsP0 = false;
            note->Intensity = 100;
        }
        if (session.KeyEnabled || correction) {
            const int key = EstimateKey(session.PitchCents, segment);
            if (key != 0) note->NoteNum = key;
        }
    }
    notes.Relink();
}

// Voice correction: each note takes the timing of the recording's own
// oto.ini entry for its lyric, and crossfades in over its own overlap and
// out over the next note's.
void BindCorrectionEntries(NoteList& notes, Voicebank& voicebank) {
    for (int slot = 1; slot <= notes.Count(); ++slot) {
        Note* note = notes.GetNote(slot);
        if (note == nullptr) continue;
        const int index = voicebank.FindOtoIndex(note->Lyric);
        if (index == -1) continue;
        const OtoEntry& entry = voicebank.OtoList()[static_cast<std::size_t>(index)];
        note->SetEffectivePreUtterance(entry.PreUtterance);
        note->SetEffectiveVoiceOverlap(entry.Overlap);
    }
    for (int slot = 1; slot <= notes.Count(); ++slot) {
        Note* note = notes.GetNote(slot);
        if (note == nullptr) continue;
        note->Envelope[2].Offset = note->EffectiveVoiceOverlap();
        if (note->Next != nullptr) note->Envelope[3].Offset = note->Next->EffectiveVoiceOverlap();
        note->UpdateEnvelopePositions();
    }
}

// Trace mode: lyrics become the voicebank's aliases with their timing.
// Returns the sung lyrics (as typed, each once) the loaded voicebank has no
// entry for; none without a voicebank.
std::vector<std::string> ResolveAliases(NoteList& notes, Voicebank& voicebank) {
    std::vector<std::string> typed;
    for (int slot = 1; slot <= notes.Count(); ++slot)
        if (const Note* note = notes.GetNote(slot)) typed.push_back(note->Lyric);
    AliasResolver resolver(voicebank);
    resolver.Notes = &notes;
    resolver.Execute();
    std::vector<std::string> missing;
    if (voicebank.OtoCount() == 0) return missing;
    for (int slot = 1; slot <= notes.Count(); ++slot) {
        const Note* note = notes.GetNote(slot);
        if (note == nullptr || note->IsRest()) continue;
        const std::string& lyric = typed[static_cast<std::size_t>(slot - 1)];
        // The host adds the prefix map's (or subbank's) prefix and suffix itself.
        if (!voicebank.GetOtoWithPrefix(note->Lyric, note->NoteNum).Alias.empty()) continue;
        if (std::find(missing.begin(), missing.end(), lyric) == missing.end())
            missing.push_back(lyric);
    }
    return missing;
}

// The pitch grids sized to the final timing, the loudness envelopes (trace
// mode with the volume box) and the grids filled from the traced pitch.
void FillPitch(EditorSession& session, NoteList& notes) {
    const bool correction = session.CorrectionMode;
    notes.RebuildPitchGrids();
    if (session.VolumeEnabled && !correction) ApplyRecordingLoudness(notes, session.FrameVolume);
    if (session.PitchEnabled || correction) {
        session.BuildPitchCents();
        FillPitchPoints(notes, session.PitchCents, session.SampleCount());
    }
}

// Every note written in the session's pitch encoding; Mode2 builds the
// portamento points from the filled grids.
void EncodePitch(const EditorSession& session, NoteList& notes) {
    for (int slot = 1; slot <= notes.Count(); ++slot)
        if (Note* note = notes.GetNote(slot)) note->PitchMode = session.PitchMode;
    if (session.PitchMode == PitchEncoding::Mode2) BuildPortamento(notes);
}

// The notes, their lyrics and timing, envelopes and pitch, made in `notes`;
// the plug-in file's new content is added to `files`.
InsertSummary MakeNotesAndSave(EditorSession& session, NoteList& notes, Voicebank& voicebank,
                               FileTransaction& files) {
    InsertSummary summary;
    CreateNotes(session, notes);
    if (session.CorrectionMode)
        BindCorrectionEntries(notes, voicebank);
    else
        summary.LyricsWithoutAlias = ResolveAliases(notes, voicebank);
    FillPitch(session, notes);
    EncodePitch(session, notes);
    notes.ReplaceSelection = session.ReplaceSelection;
    notes.SaveToPluginFile(files);

    summary.Notes = notes.Count();
    summary.Replaced = session.ReplaceSelection ? static_cast<int>(notes.SentNotes.size()) : 0;
    if (notes.HasNextNote) {
        // Kept notes follow the new ones, so all of the new notes' length
        // lies beyond where the selection ended.
        const double selection = notes.SelectionTicks();
        const double end = notes.InsertedTicks() + (session.ReplaceSelection ? 0.0 : selection);
        summary.TicksPastSelection = std::max<std::int64_t>(0, HalfUp(end - selection));
    }
    return summary;
}

// A copy of the loaded note list, read again from its plug-in file, with
// the loaded list's settings. Insert fills the copy and hands it to the
// session only when the file was written, so a failed Insert leaves no
// half-made notes behind and a second Insert does not add them twice.
std::unique_ptr<NoteList> FreshNoteList(const NoteList& loaded) {
    auto notes = std::make_unique<NoteList>(nullptr);
    SilentPrompts silent;
    if (notes->LoadFromPluginFile(loaded.Path(), silent) == 0)
        throw std::runtime_error("the plug-in file " + PathToUtf8(loaded.Path()) +
                                 " no longer exists");
    notes->Tempo = loaded.Tempo;
    notes->LoadedTempo = loaded.LoadedTempo;
    notes->VoiceDir = loaded.VoiceDir;
    return notes;
}

}  // namespace

std::string SummaryText(const InsertSummary& summary) {
    std::string text = FormatInteger(summary.Notes) + "個のノートを挿入しました。";
    if (summary.Replaced > 0)
        text += "選択されていた" + FormatInteger(summary.Replaced) + "個のノートと置き換えます。";
    if (summary.TicksPastSelection > 0)
        text += "新しいノートは選択範囲の後ろのノートに" +
                FormatInteger(summary.TicksPastSelection) +
                " tick重なります（OpenUtauは後ろのノートを動かしません）。";
    if (!summary.LyricsWithoutAlias.empty()) {
        text += "音源にエイリアスがない歌詞: ";
        for (std::size_t i = 0; i < summary.LyricsWithoutAlias.size(); ++i)
            text += (i > 0 ? "、" : "") + summary.LyricsWithoutAlias[i];
    }
    return text;
}

std::string SummaryTextEnglish(const InsertSummary& summary) {
    std::string text;
    if (summary.Replaced > 0)
        text += "; they replace the " + FormatInteger(summary.Replaced) + " selected note" +
                (summary.Replaced == 1 ? "" : "s");
    if (summary.TicksPastSelection > 0)
        text += "; they run " + FormatInteger(summary.TicksPastSelection) +
                " ticks past the selection into the next note (OpenUtau does not move later notes)";
    if (!summary.LyricsWithoutAlias.empty()) {
        text += "; no alias in the voicebank for:";
        for (const std::string& lyric : summary.LyricsWithoutAlias) text += " " + lyric;
    }
    return text;
}

std::string MissingVoiceFolderEnglish(std::string_view folder) {
    std::string message =
        "the voice folder \"" + std::string(folder) + "\" named in the plug-in file does not exist";
    if (folder.find('?') != std::string_view::npos)
        message +=
            "; each \"?\" is a character the host could not write in Shift-JIS: add the line "
            "\"encoding=utf-8\" to this plug-in's plugin.txt (OpenUtau) so that the name is passed "
            "as it is";
    return message +
           " (nothing was written; --allow-missing-voicebank inserts with the lyrics as typed)";
}

InsertSummary Insert(EditorSession& session, Voicebank& voicebank, Prompts& prompts) {
    if (!session.Notes || !session.Notes->IsLoaded())
        throw std::runtime_error(
            "no plug-in file is loaded; there is nothing to insert the notes into");
    if (!UsableTempo(session.Notes->Tempo))
        throw std::runtime_error(std::string(kUnusableTempoMessage));
    // A segment shorter than half a tick at this tempo would become a note
    // of length 0, which the hosts cannot place: refused before anything
    // is written.
    const std::vector<std::int64_t> ticks = WholeTickStarts(*session.Notes, session.Segments);
    for (std::size_t n = 0; n + 1 < ticks.size(); ++n)
        if (ticks[n + 1] <= ticks[n])
            throw std::runtime_error(
                "区間 " + FormatInteger(static_cast<std::int64_t>(n)) + "（" +
                FormatGeneral(session.Segments[n].StartMs) + " ms から " +
                FormatGeneral(session.Segments[n].LengthMs) + " ms）は、テンポ " +
                FormatGeneral(session.Notes->Tempo) +
                " では長さ 0 の音符になるため、挿入できません。テンポを上げるか、区間を長くしてから"
                "もう一度挿入してください（何も書き込んでいません）。");

    // A recording whose name cannot stand in oto.ini is refused before
    // anything is written.
    if (session.CorrectionMode && session.HasRecording() &&
        !RecordingFitsOtoIni(session.WaveFileName))
        throw std::runtime_error(RecordingNameRefusal(PathToUtf8(session.WaveFileName.filename())));

    if (session.Modified) {
        prompts.Beep();
        if (prompts.AskYesNo("編集状態を保存しますか?")) (void)session.SaveEditState(prompts);
    }

    // A commit an earlier run left in the recording's folder is finished or
    // undone first. Two runs never write the plug-in file, or the folder's
    // oto.ini, at once: each holds its lock from reading to the commit.
    const auto sayWaiting = [&] {
        prompts.Inform("別の実行がファイルを書き込み中です。終わるまで待っています。");
    };
    std::optional<FileLock> voiceLock;
    if (session.CorrectionMode && session.HasRecording()) {
        const std::filesystem::path folder = session.WaveFileName.parent_path();
        for (const std::string& notice : RecoverInterruptedCommits(folder)) prompts.Inform(notice);
        voiceLock.emplace(folder / "oto.ini", sayWaiting);
    }
    const FileLock pluginLock(session.Notes->Path(), sayWaiting);

    std::unique_ptr<NoteList> notes = FreshNoteList(*session.Notes);
    // The voice source renames the segments' lyrics and loads the
    // recording's folder as the voicebank; a failure gives both back.
    const std::vector<Segment> typedSegments = session.Segments;
    bool sourceMade = false;
    InsertSummary summary;
    try {
        // Every file is prepared first and written in one commit: when one
        // cannot be written, none of the frequency table, oto.ini and
        // plug-in file changes.
        FileTransaction files;
        if (session.CorrectionMode) {
            (void)WriteFrequencyTable(session, prompts, files);
            sourceMade = WriteVoiceEntries(session, voicebank, files);
        }
        summary = MakeNotesAndSave(session, *notes, voicebank, files);
        files.Commit();
    } catch (...) {
        session.Segments = typedSegments;
        if (session.CorrectionMode) {
            try {
                voicebank.LoadVoicebank(session.Notes->VoiceDir);
            } catch (...) {
                // The original failure is the one to report.
            }
        }
        throw;
    }
    session.Notes = std::move(notes);

    // Without a recording no voice source was made, so there is nothing to
    // switch to and no success to announce.
    if (session.CorrectionMode && sourceMade) {
        const std::string recordingFolder = PathToUtf8(session.WaveFileName.parent_path());
        if (FolderKey(session.Notes->VoiceDir) != FolderKey(recordingFolder)) {
            prompts.Inform("音源を作成しました。原音ファイルセットを切り替えてください。");
            prompts.Beep();
        }
    }
    return summary;
}

int LoadPluginFile(NoteList& notes, Voicebank& voicebank, const std::filesystem::path& path,
                   Prompts& prompts) {
    const auto tell = [&prompts](const std::string& text) { prompts.Inform(text); };
    (void)RecoverInterruptedCommitsIn({path.parent_path()}, tell);
    const int slots = notes.LoadFromPluginFile(path, prompts);
    if (slots == 0 || notes.VoiceDir.empty() || notes.VoiceFolderMissing) return slots;
    // The voicebank reads the oto.ini of every subfolder too (a recording
    // made a voice source inside the bank is one): each is looked at.
    std::vector<std::filesystem::path> voiceFolders{Utf8Path(notes.VoiceDir)};
    std::error_code ec;
    std::filesystem::recursive_directory_iterator it(
        voiceFolders.front(), std::filesystem::directory_options::skip_permission_denied, ec);
    for (; !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError) && !it->is_symlink(typeError))
            voiceFolders.push_back(it->path());
    }
    if (RecoverInterruptedCommitsIn(voiceFolders, tell) > 0 &&
        voicebank.VoiceRoot() == notes.VoiceDir)
        voicebank.LoadVoicebank(notes.VoiceDir);
    return slots;
}

}  // namespace melodrift

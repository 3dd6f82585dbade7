#include "editor/Segments.h"

#include "audio/PitchAnalyser.h"
#include "audio/Resynthesizer.h"
#include "audio/WaveBuffer.h"
#include "editor/LaneLayout.h"
#include "editor/PreviewJob.h"
#include "editor/Timeline.h"
#include "plugin/NoteList.h"
#include "system/Prompts.h"
#include "text/CodePage.h"
#include "text/Encoding.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace melodrift {

bool IsRestLyric(std::string_view lyric) { return lyric == "R" || lyric == "r"; }

// ---- Segment list ----------------------------------------------------------------

int EditorSession::SegmentAt(double timeMs) const {
    if (timeMs < 0.0 || timeMs >= DurationMs() || Segments.empty()) return -1;
    for (int i = 0; i < static_cast<int>(Segments.size()); ++i) {
        const Segment& seg = Segments[i];
        if (seg.StartMs <= timeMs && timeMs < seg.StartMs + seg.LengthMs) return i;
    }
    return -1;
}

void EditorSession::RecalcLengths() {
    const double duration = DurationMs();
    for (std::size_t i = 0; i < Segments.size(); ++i) {
        const double next = i + 1 < Segments.size() ? Segments[i + 1].StartMs : duration;
        Segments[i].LengthMs = next - Segments[i].StartMs;
    }
}

void EditorSession::AddCut(std::string_view lyric, double timeMs) {
    const double duration = DurationMs();
    if (FrameCount() == 0 || timeMs < 0.0 || timeMs >= duration || duration < MinCutGap) return;
    int index = 0;
    if (Segments.empty()) {
        timeMs = 0.0;
    } else {
        index = SegmentAt(timeMs) + 1;
        // A time that lies in no segment (possible only when the list does
        // not cover the recording) cannot be placed.
        if (index == 0) return;
    }
    if (index > 0 && timeMs - Segments[index - 1].StartMs < MinCutGap) return;
    if (index < static_cast<int>(Segments.size()) && Segments[index].StartMs - timeMs < MinCutGap)
        return;
    Segments.insert(Segments.begin() + index, Segment{timeMs, 0.0, std::string(lyric)});
    RecalcLengths();
}

void EditorSession::RemoveCut(double timeMs) {
    const int i = SegmentAt(timeMs);
    if (i <= 0) return;  // the first segment keeps its start
    Segments.erase(Segments.begin() + i);
    RecalcLengths();
    HoverSegment = std::max(0, HoverSegment - 1);
}

void EditorSession::MoveCut(int cutIndex, double timeMs) {
    if (cutIndex < 1 || cutIndex >= static_cast<int>(Segments.size())) return;
    Modified = true;
    const Segment& before = Segments[cutIndex - 1];
    const Segment& moving = Segments[cutIndex];
    timeMs = std::max(timeMs, before.StartMs + MinCutGap);
    timeMs = std::min(timeMs, moving.StartMs + moving.LengthMs - MinCutGap);
    Segments[cutIndex].StartMs = timeMs;
    RecalcLengths();
}

// A lyric goes into the plug-in file: one that a Shift-JIS file cannot hold
// is refused where it is typed (UnencodableText names the character), not
// found out at Insert. A UTF-8 plug-in file keeps every lyric.
void EditorSession::RequireWritableLyric(std::string_view lyricUtf8) const {
    if (Notes && Notes->IsLoaded() && Notes->Encoding != TextEncoding::ShiftJis) return;
    std::string refused;
    if (!EncodeShiftJis(lyricUtf8, &refused))
        throw UnencodableText(refused, UnencodableMessage(refused));
}

void EditorSession::CommitLyric(int segment, std::string_view lyricUtf8) {
    if (segment < 0 || segment >= static_cast<int>(Segments.size())) return;
    RequireWritableLyric(lyricUtf8);
    Segments[segment].Lyric = std::string(lyricUtf8);
}

void EditorSession::CommitLyricRun(int firstSegment, int lastSegment, std::string_view textUtf8) {
    if (firstSegment < 0 || firstSegment > lastSegment ||
        lastSegment >= static_cast<int>(Segments.size()))
        return;
    RequireWritableLyric(textUtf8);
    const std::vector<std::string> lyrics = SplitLyricRun(textUtf8, lastSegment - firstSegment + 1);
    for (int i = firstSegment; i <= lastSegment; ++i) Segments[i].Lyric = lyrics[i - firstSegment];
}

// ---- Lyric runs ------------------------------------------------------------------

std::vector<std::string> SplitLyricRun(std::string_view textUtf8, int count) {
    static const std::u16string kSmallKana = u"ぁぃぅぇぉゃゅょァィゥェォャュョ";
    const std::u16string text = Utf8ToUtf16(textUtf8);
    std::vector<std::string> lyrics;
    std::size_t p = 0;
    for (int n = 0; n < count; ++n) {
        if (p >= text.size()) {
            lyrics.emplace_back("R");
            continue;
        }
        std::size_t end = p + 1;
        // A character outside the 16-bit range is one unit, not two halves.
        if (end < text.size() && text[p] >= 0xD800 && text[p] <= 0xDBFF && text[end] >= 0xDC00 &&
            text[end] <= 0xDFFF) {
            ++end;
        }
        while (end < text.size() && kSmallKana.find(text[end]) != std::u16string::npos) ++end;
        const std::u16string unit = text.substr(p, end - p);
        p = end;
        lyrics.push_back(unit == u"っ" || unit == u"ッ" ? std::string("R") : Utf16ToUtf8(unit));
    }
    return lyrics;
}

// ---- Pitch correction --------------------------------------------------------------

void EditorSession::ApplyPitchLine(PixelPoint from, PixelPoint to) {
    if (from.X > to.X) std::swap(from, to);
    const int frames = FrameCount();
    const int f1 = XToFrame(from.X, View(), FirstFrame, frames);
    const int f2 = XToFrame(to.X, View(), FirstFrame, frames);
    if (f1 == f2) return;
    // 2 rows per semitone: row 0 of the lane is 188 · 50 cents.
    const double c1 = 50.0 * (188 - (from.Y - kLanes.Pitch.Top));
    const double c2 = 50.0 * (188 - (to.Y - kLanes.Pitch.Top));
    PitchAnalyser& an = *Analyser;
    for (int i = f1; i <= f2; ++i) {
        const double c = c1 + (c2 - c1) * (i - f1) / (f2 - f1);
        const double hz = CentsToHz(c);
        an.RepickF0(i, MinStrength, hz / 1.2, hz * 1.2);
        if (an.Confidence[i] < MinStrength) an.Frames[i].F0 = 0.0f;
        an.Frames[i].TargetF0 = an.Frames[i].F0;
        // A drawn pitch is the user's: the voicing check keeps it.
        if (static_cast<std::size_t>(i) < PitchRejected.size())
            PitchRejected[static_cast<std::size_t>(i)] = 0;
    }
    // The harmonic measures of the preview run on the fixed 150 Hz comb.
    for (AnalysisFrame& frame : an.Frames) frame.F0 = 150.0f;
    BuildPitchCents();
}

// ---- Previews ------------------------------------------------------------------------

std::string EditorSession::PlayRange(double fromMs, double toMs) const {
    const std::int64_t count = SampleCount();
    const std::int64_t s0 =
        std::max<std::int64_t>(0, static_cast<std::int64_t>(std::trunc(fromMs * kSamplesPerMs)));
    const std::int64_t s1 =
        std::min(count - 1, static_cast<std::int64_t>(std::trunc(toMs * kSamplesPerMs)));
    if (s1 < s0) return {};
    WaveBuffer play = MakeMono16Wave(static_cast<std::uint32_t>(s1 - s0 + 1));
    for (std::int64_t s = s0; s <= s1; ++s) {
        play.SetSample(static_cast<std::uint32_t>(s - s0), 0,
                       Wave->GetSample(static_cast<std::uint32_t>(s), 0));
    }
    return play.SaveToBytes();
}

std::string EditorSession::PlayResynthesised(double fromMs, double toMs) {
    const std::optional<ResynthesisJob> job = PrepareResynthesis(*this, fromMs, toMs);
    return job ? RenderResynthesis(*job, *Resynth) : std::string();
}

}  // namespace melodrift

// Automatic cutting on the session: the measures of the loaded recording
// handed to editor/Cutting, and its sung segments turned into the segment
// list (rests "R" over the silences between them).
#include "audio/PitchAnalyser.h"
#include "editor/Cutting.h"
#include "editor/Segments.h"
#include "editor/Session.h"
#include "plugin/NoteList.h"
#include "text/CodePage.h"
#include "voicebank/AliasResolver.h"
#include "system/Prompts.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace melodrift {

namespace {

// The lyric blind cutting gives a sung segment: the host's own default lyric
// for a new note, until the user types the real one.
constexpr std::string_view kSungPlaceholder = "あ";

bool IsRestOrTie(std::string_view lyric) {
    return IsRestLyric(lyric) || lyric == "っ" || lyric == "ッ";
}

// A character no lyric holds: controls, blanks, ASCII digits and
// punctuation, and the CJK and full-width punctuation blocks.
bool IsNotLyricCharacter(char32_t c) {
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) return true;
    if (c == ' ' || c == 0x3000 || c == 0x00A0) return true;
    if (c < 0x80 && !((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '\'' || c == '-'))
        return true;
    if (c >= 0x3000 && c <= 0x303F && c != 0x3005)
        return true;                              // 、。「」 and the like (々 is a lyric)
    if (c >= 0xFF01 && c <= 0xFF20) return true;  // full-width ！ … ＠ and digits
    if (c >= 0xFF3B && c <= 0xFF40) return true;
    if (c >= 0xFF5B && c <= 0xFF65) return true;
    if (c >= 0x2000 && c <= 0x206F) return true;  // general punctuation
    return false;
}

std::u32string Utf8ToCodePoints(std::string_view utf8) {
    const std::u16string units = Utf8ToUtf16(utf8);
    std::u32string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        out.push_back(c);
    }
    return out;
}

// What each lyric tells of its sound: the vowel it is sung on, and whether
// a consonant or a glide comes before it. A long-vowel mark (ー) holds the
// vowel before it.
std::vector<SyllableSound> SoundsOf(std::span<const std::string> lyrics) {
    static const std::u32string kBareVowels = U"あいうえおんアイウエオンー";
    const AliasResolver kana;
    std::vector<SyllableSound> sounds;
    for (const std::string& lyric : lyrics) {
        const std::u32string points = Utf8ToCodePoints(lyric);
        SyllableSound sound;
        sound.startsWithVowel =
            points.size() == 1 && kBareVowels.find(points[0]) != std::u32string::npos;
        sound.glides = points.size() > 1;
        const std::string vowel = kana.VowelOf(lyric);
        if (!vowel.empty())
            sound.vowel = vowel[0];
        else if (lyric == "ー" && !sounds.empty())
            sound.vowel = sounds.back().vowel;
        sounds.push_back(sound);
    }
    return sounds;
}

}  // namespace

std::vector<std::string> SplitLyricLine(std::string_view lineUtf8) {
    // The run rule makes one lyric of each character and the small kana
    // after it: the line holds as many lyrics as characters that do not join
    // the one before.
    static const std::u32string kSmallKana = U"ぁぃぅぇぉゃゅょァィゥェォャュョ";
    // Blanks between words are not sung: they are left out.
    std::string line;
    for (char32_t c : Utf8ToCodePoints(lineUtf8)) {
        if (c == U' ' || c == U'\t' || c == U'\u3000') continue;
        line += Utf16ToUtf8(
            c > 0xFFFF ? std::u16string{static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
                                        static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF))}
                       : std::u16string(1, static_cast<char16_t>(c)));
    }
    lineUtf8 = line;
    const std::u32string points = Utf8ToCodePoints(lineUtf8);
    int units = 0;
    for (std::size_t i = 0; i < points.size(); ++i)
        if (i == 0 || kSmallKana.find(points[i]) == std::u32string::npos) ++units;
    return SplitLyricRun(lineUtf8, units);
}

std::string TypedLyricLine(const EditorSession& session) {
    std::string line;
    for (const Segment& seg : session.Segments)
        if (!IsRestLyric(seg.Lyric)) line += seg.Lyric;
    return line;
}

std::optional<std::string> FindBadLyric(std::span<const std::string> lyrics) {
    for (const std::string& lyric : lyrics) {
        if (lyric.empty()) return lyric;
        for (char32_t c : Utf8ToCodePoints(lyric))
            if (IsNotLyricCharacter(c)) return lyric;
    }
    return std::nullopt;
}

bool EditorSession::AutoSegment(Prompts& prompts, std::span<const std::string> lyrics) {
    using Result = AutoCutReport::Result;
    LastAutoCut = {};
    auto fail = [&](Result result, std::string_view message) {
        LastAutoCut.result = result;
        prompts.Beep();
        prompts.Error(message);
        return false;
    };
    const int frames = FrameCount();
    // 40 frames (0.23 s) hold no phrase to cut.
    if (frames <= 40) {
        LastAutoCut.result = Result::TooShort;
        return false;
    }
    std::vector<std::string> sung;
    for (const std::string& lyric : lyrics)
        if (!IsRestOrTie(lyric)) sung.push_back(lyric);
    if (!lyrics.empty()) {
        if (const auto bad = FindBadLyric(lyrics)) {
            LastAutoCut.badLyric = *bad;
            return fail(Result::BadLyric, bad->empty()
                                              ? std::string("空の歌詞があります。")
                                              : "歌詞にできない文字があります:「" + *bad + "」");
        }
        if (sung.empty()) return fail(Result::NoLyrics, "歌う歌詞がありません（休符だけです）。");
        // A Shift-JIS plug-in file refuses lyrics it cannot hold; without
        // one the edit state keeps any lyric (in UTF-8 when it must).
        if (Notes && Notes->IsLoaded())
            for (const std::string& lyric : sung) RequireWritableLyric(lyric);
    }
    LastAutoCut.syllables = static_cast<int>(sung.size());

    // The measures in time order (the frames of a load are in time order).
    std::vector<float> pitchHz(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) pitchHz[i] = Analyser->Frames[i].TargetF0;
    CuttingInput input;
    input.envelope = Envelope;
    input.volume = FrameVolume;
    input.pitchHz = pitchHz;
    input.rejected = RejectedPitchFrames();
    CuttingOptions options;

    std::vector<SungSpan> spans;
    if (sung.empty()) {
        spans = CutBlind(input, options);
        if (spans.empty()) return fail(Result::NoSinging, "録音に歌声が見つかりませんでした。");
    } else {
        const LyricCut cut = CutWithLyrics(input, SoundsOf(sung), options);
        LastAutoCut.audible = cut.audibleSyllables;
        if (cut.audibleSyllables == 0)
            return fail(Result::NoSinging, "録音に歌声が見つかりませんでした。");
        if (cut.spans.size() != sung.size()) {
            const int missing = static_cast<int>(sung.size()) - cut.audibleSyllables;
            return fail(Result::TooManyLyrics,
                        "歌詞は " + std::to_string(sung.size()) +
                            " 個ですが、録音に聞き取れる音節は " +
                            std::to_string(cut.audibleSyllables) + " 個です。" +
                            std::to_string(std::max(1, missing)) +
                            " 個の歌詞を置けないため、区切りは変えていません。");
        }
        spans = cut.spans;
    }

    if (Segments.size() > 1) {
        prompts.Beep();
        if (!prompts.AskYesNo(kAutoSegmentQuestion)) {
            LastAutoCut.result = Result::Declined;
            return false;
        }
    }
    HoverSegment = -1;
    Segments.clear();
    // A cut lies between two frames' centres: frame i's onset strength
    // compares the frames before i with i and after.
    const double msPerFrame = static_cast<double>(HopSize) / kSamplesPerMs;
    const double duration = DurationMs();
    auto push = [&](double startMs, std::string lyric) {
        if (!Segments.empty() && startMs - Segments.back().StartMs < MinCutGap) {
            // Too close to the last cut: the later segment takes its place
            // when it is sung, else it is dropped.
            if (IsRestLyric(lyric)) return;
            if (Segments.size() > 1 && startMs - Segments[Segments.size() - 2].StartMs < MinCutGap)
                return;
            Segments.back().Lyric = std::move(lyric);
            return;
        }
        if (startMs >= duration - MinCutGap && !Segments.empty()) return;
        Segments.push_back({startMs, 0.0, std::move(lyric)});
    };
    if (spans.front().startFrame * msPerFrame >= MinCutGap) push(0.0, "R");
    for (std::size_t j = 0; j < spans.size(); ++j) {
        const double start =
            Segments.empty() ? 0.0 : std::max(0.0, (spans[j].startFrame - 0.5) * msPerFrame);
        push(start, sung.empty() ? std::string(kSungPlaceholder) : sung[j]);
        const double end = (spans[j].endFrame - 0.5) * msPerFrame;
        const double next =
            j + 1 < spans.size() ? (spans[j + 1].startFrame - 0.5) * msPerFrame : duration;
        if (next - end >= MinCutGap && end - Segments.back().StartMs >= MinCutGap) push(end, "R");
    }
    RecalcLengths();
    Modified = true;
    return true;
}

}  // namespace melodrift

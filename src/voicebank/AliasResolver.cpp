#include "voicebank/AliasResolver.h"

#include "text/Kana.h"
#include "text/Text.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace melodrift {

namespace {

// Vowel table: each vowel with the characters sung on it, in table order.
constexpr std::array<std::pair<const char*, const char*>, 6> kVowelGroups{{
    {"a", "ぁあかがさざただなはばぱまゃやらゎわァアカガサザタダナハバパマャヤラヮワヵヶaA"},
    {"i", "ぃいきぎしじちぢにひびぴみりゐィイキギシジチヂニヒビピミリヰiI"},
    {"u", "ぅうくぐすずつづぬふぶぷむゅゆるゥウクグスズツヅヌフブプムュユルヴuU"},
    {"e", "ぇえけげせぜてでねへべぺめれゑェエケゲセゼテデネヘベペメレヱeE"},
    {"o", "ぉおこごそぞとどのほぼぽもょよろをォオコゴソゾトドノホボポモョヨロヲoO"},
    {"n", "んンnNmM"},
}};

// Heads of a connected alias ("a か") and the continuation mark.
constexpr std::array<std::string_view, 7> kVowelHeads{"a ", "i ", "u ", "e ", "o ", "n ", "B_"};
// Heads stripped from a lyric to find its core.
constexpr std::array<std::string_view, 8> kCoreHeads{"* ", "- ", "a ", "i ",
                                                     "u ", "e ", "o ", "n "};
constexpr std::string_view kContinuationMark = "B_";
constexpr std::size_t kMaxSwappedBytes = 255;

bool IsAsciiLetter(std::string_view character) {
    if (character.size() != 1) return false;
    const char c = character[0];
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool StartsWithAny(std::string_view text, auto heads) {
    for (std::string_view head : heads)
        if (text.starts_with(head)) return true;
    return false;
}

// Equal, ignoring the case of ASCII letters.
bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t pos = 0; pos < a.size();) {
        const std::size_t length = Utf8CharLength(a, pos);
        if (Utf8CharLength(b, pos) != length) return false;
        if (length == 1) {
            auto fold = [](char c) {
                return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            };
            if (fold(a[pos]) != fold(b[pos])) return false;
        } else if (a.substr(pos, length) != b.substr(pos, length)) {
            return false;
        }
        pos += length;
    }
    return true;
}

// Every occurrence of `from` that starts on a character boundary replaced.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(text);
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text.substr(pos).starts_with(from)) {
            out += to;
            pos += from.size();
        } else {
            const std::size_t length = Utf8CharLength(text, pos);
            out += text.substr(pos, length);
            pos += length;
        }
    }
    return out;
}

// The leading characters that take at most `maxBytes` bytes in Shift-JIS
// (the hosts' lyric limit counts those bytes), without splitting a character.
std::string LimitBytes(std::string text, std::size_t maxBytes) {
    if (ShiftJisWidth(text) <= maxBytes) return text;
    std::size_t end = 0;
    std::size_t width = 0;
    while (end < text.size()) {
        const std::size_t length = Utf8CharLength(text, end);
        const std::size_t charWidth = ShiftJisWidth(std::string_view(text).substr(end, length));
        if (width + charWidth > maxBytes) break;
        width += charWidth;
        end += length;
    }
    text.resize(end);
    return text;
}

double LengthMs(const Note& note) { return note.TicksToMs(note.Length); }

}  // namespace

AliasResolver::AliasResolver(Voicebank& voicebank) : voicebank_(voicebank) {
    settings_.KanaReplacement = "を>お,ぢ>じ,づ>ず";
    settings_.PreUtteranceRoomPercent = "75";
    settings_.OverlapLimitPercent = "50";
    settings_.ContinuationLyrics =
        "あ,い,う,え,お,ん,ア,イ,ウ,エ,オ,ン,- あ,- い,- う,- え,- お,- ん,- ア,- イ,- ウ,- エ,- "
        "オ,- ン";
    settings_.ContinuationOverlapMs = "100";
    settings_.ContinuationPreUtteranceMs = "50";
    settings_.ContinuationIntensityPercent = "95";
    settings_.PortamentoStartMs = "-25";
    settings_.PortamentoWidthMs = "50";

    for (const auto& [vowel, characters] : kVowelGroups) {
        for (std::string_view kana : Utf8Chars(characters)) {
            vowelTable_.push_back(VowelRow{std::string(kana), vowel});
            vowelOfKana_.emplace(std::string(kana), vowel);
        }
    }
    for (std::string_view symbol : Utf8Chars("っッー゛゜")) keptSymbols_.emplace_back(symbol);

    for (const std::string& item : SplitText(settings_.KanaReplacement, ",")) {
        const std::size_t arrow = item.find('>');
        if (arrow == std::string::npos) continue;
        replacements_.emplace_back(item.substr(0, arrow), item.substr(arrow + 1));
    }
    for (std::string& item : SplitText(settings_.ContinuationLyrics, ","))
        if (!item.empty()) continuationLyrics_.push_back(std::move(item));
}

// --- text helpers -----------------------------------------------------------

bool AliasResolver::HasVowelHead(std::string_view text) { return StartsWithAny(text, kVowelHeads); }

std::string AliasResolver::KanaOnly(std::string_view text) const {
    if (HasVowelHead(text)) text.remove_prefix(2);
    std::string kept;
    for (std::string_view character : Utf8Chars(text)) {
        const bool symbol =
            std::find(keptSymbols_.begin(), keptSymbols_.end(), character) != keptSymbols_.end();
        if (symbol || IsAsciiLetter(character) || vowelOfKana_.contains(std::string(character)))
            kept += character;
    }
    return kept;
}

std::string AliasResolver::VowelOf(std::string_view text) const {
    const std::string kana = KanaOnly(text);
    const std::vector<std::string_view> characters = Utf8Chars(kana);
    for (auto it = characters.rbegin(); it != characters.rend(); ++it) {
        auto row = vowelOfKana_.find(std::string(*it));
        if (row != vowelOfKana_.end()) return row->second;
    }
    return {};
}

std::string AliasResolver::SwapKanaScript(std::string_view text) const {
    const std::string kana = KanaOnly(text);
    if (kana.size() < 2) return {};
    const std::string swapped = IsHiragana(kana.substr(0, Utf8CharLength(kana, 0)))
                                    ? HiraganaToKatakana(text)
                                    : KatakanaToHiragana(text);
    return LimitBytes(swapped, kMaxSwappedBytes);
}

std::string AliasResolver::ApplyKanaReplacement(std::string_view text) const {
    for (const auto& [from, to] : replacements_) {
        std::string replaced = ReplaceAll(text, from, to);
        if (replaced != text) return replaced;
    }
    return std::string(text);
}

bool AliasResolver::IsContinuationLyric(std::string_view lyric) const {
    for (const std::string& item : continuationLyrics_)
        if (SameTextIgnoringCase(lyric, item)) return true;
    return false;
}

// --- passes -----------------------------------------------------------------

void AliasResolver::Execute() {
    if (Notes == nullptr) return;
    ResolveAliases();
    FitTiming();
    MarkContinuations();
    JoinEnvelopes();
    FitEnvelopes();
    RemoveMarks();
    SetDefaultPortamento();
}

void AliasResolver::ResolveAliases() {
    for (int i = 1; i <= Notes->Count(); ++i) {
        Note* note = Notes->GetNote(i);
        if (note != nullptr && !note->IsRest()) ResolveAlias(*note);
    }
}

void AliasResolver::ResolveAlias(Note& note) {
    // Head: the vowel the previous note ends on, as in "a か".
    std::string head;
    if (note.Prev != nullptr) {
        const std::string vowel =
            VowelOf(voicebank_.StripPrefixSuffix(note.Prev->Lyric, note.Prev->NoteNum));
        if (!vowel.empty()) head = vowel + " ";
    }
    const std::string body = voicebank_.StripPrefixSuffix(note.Lyric, note.NoteNum);
    const std::string core = StartsWithAny(body, kCoreHeads) ? body.substr(2) : body;
    const std::string kana = KanaOnly(body);

    if (core == "R" || core == "r") {  // "- R" typed: a rest
        note.Lyric = core;
        note.SetEffectivePreUtterance(0.0);
        note.SetEffectiveVoiceOverlap(0.0);
        note.SetEffectiveStartPoint(0.0);
        return;
    }

    // Four spellings of the core and of its kana form: as typed, with kana
    // replacements, in the other script, and in the other script replaced.
    struct Forms {
        std::string core, kana;
    };
    std::array<Forms, 4> stages;
    stages[0] = {core, kana};
    stages[1] = {ApplyKanaReplacement(core), ApplyKanaReplacement(kana)};
    stages[2] = {SwapKanaScript(core), SwapKanaScript(kana)};
    stages[3] = {ApplyKanaReplacement(stages[2].core), ApplyKanaReplacement(stages[2].kana)};

    std::string winner;
    OtoEntry entry;
    // A form that came out empty (a lyric without kana, a swap of one byte)
    // is not a spelling of the lyric: "- " or a prefix alone must not match.
    auto tryForm = [&](std::string_view prefix, const std::string& form) {
        if (!winner.empty() || form.empty()) return;
        std::string candidate(prefix);
        candidate += form;
        OtoEntry found = voicebank_.GetOtoWithPrefix(candidate, note.NoteNum);
        if (!found.Alias.empty()) {
            winner = std::move(candidate);
            entry = std::move(found);
        }
    };
    if (!head.empty()) {
        for (const Forms& stage : stages) {
            tryForm(head, stage.core);
            tryForm(head, stage.kana);
        }
    }
    for (std::size_t s = 0; s < stages.size(); ++s) {
        if (s == 0 && !head.empty()) {
            tryForm("* ", stages[s].core);
            tryForm("* ", stages[s].kana);
        }
        tryForm("- ", stages[s].core);
        tryForm("- ", stages[s].kana);
        tryForm("", stages[s].core);
        tryForm("", stages[s].kana);
    }
    tryForm("", body);

    if (!winner.empty()) {
        note.Lyric = winner;
        note.SetEffectivePreUtterance(entry.PreUtterance);
        note.SetEffectiveVoiceOverlap(entry.Overlap);
    } else {
        note.SetEffectivePreUtterance(0.0);
        note.SetEffectiveVoiceOverlap(0.0);
    }
    note.SetEffectiveStartPoint(0.0);
}

void AliasResolver::FitTiming() {
    const double roomPercent = ParseFloatOr(settings_.PreUtteranceRoomPercent, 0.0);
    const double limitPercent = ParseFloatOr(settings_.OverlapLimitPercent, 0.0);
    for (int i = 1; i <= Notes->Count(); ++i) {
        Note* note = Notes->GetNote(i);
        if (note == nullptr || note->IsRest() || note->Prev == nullptr) continue;

        // Rests right before the note, and the sung note before them.
        double restMs = 0.0;
        Note* sung = note->Prev;
        while (sung != nullptr && sung->IsRest()) {
            restMs += LengthMs(*sung);
            sung = sung->Prev;
        }

        const OtoEntry entry = voicebank_.GetOtoWithPrefix(note->Lyric, note->NoteNum);
        note->SetEffectivePreUtterance(entry.PreUtterance * note->VelocityFactor());
        note->SetEffectiveVoiceOverlap(entry.Overlap * note->VelocityFactor());
        note->SetEffectiveStartPoint(0.0);

        // The preutterance may use the rests and part of the sung note.
        const double roomMs = sung != nullptr ? restMs + roomPercent * LengthMs(*sung) / 100.0
                                              : note->EffectivePreUtterance();
        // The previous note (rest or not) keeps this much before the crossfade.
        const double limitMs = std::trunc((1.0 - limitPercent / 100.0) * LengthMs(*note->Prev));

        const double preMs = note->EffectivePreUtterance();
        if (preMs > roomMs) {
            // Shorten the preutterance to the room; the overlap shrinks in
            // proportion and the start point takes up what was cut.
            const double fittedPre = std::trunc(roomMs);
            const double ratio = roomMs / preMs;
            const double fittedOverlap = std::trunc(note->EffectiveVoiceOverlap() * ratio + 0.5);
            note->SetEffectiveStartPoint(preMs - fittedPre);
            note->SetEffectivePreUtterance(fittedPre);
            note->SetEffectiveVoiceOverlap(fittedOverlap);
        }
        if (note->EffectivePreUtterance() - note->EffectiveVoiceOverlap() > limitMs)
            note->SetEffectiveVoiceOverlap(note->EffectivePreUtterance() - limitMs);
    }
}

void AliasResolver::MarkContinuations() {
    const double overlapMs = ParseFloatOr(settings_.ContinuationOverlapMs, 0.0);
    const double preMs = ParseFloatOr(settings_.ContinuationPreUtteranceMs, 0.0);
    const double intensityPercent = ParseFloatOr(settings_.ContinuationIntensityPercent, 0.0);
    for (int i = 1; i <= Notes->Count(); ++i) {
        Note* note = Notes->GetNote(i);
        if (note == nullptr || note->Prev == nullptr || note->IsRest()) continue;
        if (!IsContinuationLyric(note->Lyric) || VowelOf(note->Lyric) != VowelOf(note->Prev->Lyric))
            continue;
        const OtoEntry entry = voicebank_.GetOtoWithPrefix(note->Lyric, note->NoteNum);
        note->Lyric = std::string(kContinuationMark) + note->Lyric;
        note->SetEffectivePreUtterance(preMs);
        note->SetEffectiveVoiceOverlap(overlapMs);
        note->SetEffectiveStartPoint(entry.Consonant);
        note->Intensity =
            static_cast<int>(std::trunc(note->Prev->Intensity * intensityPercent / 100.0 + 0.5));
    }
}

void AliasResolver::JoinEnvelopes() {
    for (int i = 1; i <= Notes->Count(); ++i) {
        Note* note = Notes->GetNote(i);
        if (note == nullptr || note->IsRest() || note->Prev == nullptr ||
            !HasVowelHead(note->Lyric))
            continue;
        // The crossfade: this note fades in over its overlap while the
        // previous one fades out over the same time.
        const double overlapMs = note->EffectiveVoiceOverlap();
        EnvelopePoint& fadeIn = note->Envelope[1];
        fadeIn.Offset = overlapMs;
        if (fadeIn.Volume == 0) fadeIn.Volume = note->Envelope[2].Volume;
        EnvelopePoint& fadeOut = note->Prev->Envelope[4];
        fadeOut.Offset = overlapMs;
        if (fadeOut.Volume == 0) fadeOut.Volume = note->Prev->Envelope[3].Volume;
        note->UpdateEnvelopePositions();
    }
}

void AliasResolver::FitEnvelopes() {
    // Clamps one point's width to `bound` and returns the width.
    auto bound = [](EnvelopePoint& point, double boundMs) {
        if (point.Offset > boundMs) point.Offset = boundMs;
        return point.Offset;
    };
    for (int i = 1; i <= Notes->Count(); ++i) {
        Note* note = Notes->GetNote(i);
        if (note == nullptr || note->IsRest()) continue;
        auto& env = note->Envelope;
        double spanMs = std::trunc(note->SoundingSpan());
        spanMs -= bound(env[4], spanMs - 25.0);
        spanMs -= bound(env[1], spanMs - 20.0);
        if (env[4].Offset == 0.0 && env[4].Volume == 0) {
            spanMs -= bound(env[3], spanMs - 15.0);
            spanMs -= bound(env[2], spanMs - 10.0);
        } else {
            spanMs -= bound(env[2], spanMs - 15.0);
            spanMs -= bound(env[3], spanMs - 10.0);
        }
        if (env[5].Enabled) bound(env[5], spanMs - 5.0);
        note->UpdateEnvelopePositions();
    }
}

void AliasResolver::RemoveMarks() {
    for (int i = 1; i <= Notes->Count(); ++i) {
        Note* note = Notes->GetNote(i);
        if (note != nullptr && !note->IsRest() && note->Lyric.starts_with(kContinuationMark))
            note->Lyric.erase(0, kContinuationMark.size());
    }
}

void AliasResolver::SetDefaultPortamento() {
    const double startMs = ParseFloatOr(settings_.PortamentoStartMs, 0.0);
    const double widthMs = ParseFloatOr(settings_.PortamentoWidthMs, 0.0);
    for (int i = 1; i <= Notes->Count(); ++i) {
        Note* note = Notes->GetNote(i);
        if (note == nullptr || note->IsRest()) continue;
        note->PitchBend.Clear();
        note->PitchBend.AddPoint(std::nullopt, false, startMs, 0.0);
        note->PitchBend.AddPoint(BendShape::SCurve, false, startMs + widthMs, 0.0);
    }
}

}  // namespace melodrift

// Turns the lyrics of freshly inserted notes into aliases the loaded
// voicebank has, and fits the notes' timing and envelopes to them.
//
// Seven passes, each over all notes in order:
//   1. alias:        "a か" (connected), "* か", "- か" (word-initial), "か",
//                    with kana replacements and the other kana script as
//                    fallbacks; preutterance and overlap from the entry
//   2. timing fit:   preutterance within 75 % of the previous sung note (plus
//                    rests between), preutterance − overlap within 50 % of the
//                    previous note
//   3. continuation: a bare vowel after the same vowel gets a long crossfade
//   4. envelope join at connected notes
//   5. envelope points kept inside the note
//   6. continuation marks removed
//   7. default portamento (−25 ms .. +25 ms, S curve)
// Lyrics and aliases are UTF-8 text; the text helpers work on whole
// characters, so a multi-byte character is never split.
#pragma once

#include "plugin/NoteList.h"
#include "voicebank/Voicebank.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace melodrift {

// One row of the vowel table: a kana (or letter) and its vowel (a i u e o n).
struct VowelRow {
    std::string Kana;   // one character (UTF-8)
    std::string Vowel;  // ASCII
};

// The settings as text, fixed at construction; numbers are read where they
// are used (ParseFloatOr, default 0).
struct AliasSettings {
    std::string KanaReplacement;          // "を>お,ぢ>じ,づ>ず"
    std::string PreUtteranceRoomPercent;  // "75": of the previous sung note
    std::string OverlapLimitPercent;    // "50": of the previous note, not usable by pre − overlap
    std::string ContinuationLyrics;     // "あ,い,…,- ン"
    std::string ContinuationOverlapMs;  // "100"
    std::string ContinuationPreUtteranceMs;    // "50"
    std::string ContinuationIntensityPercent;  // "95": of the previous note
    std::string PortamentoStartMs;             // "-25"
    std::string PortamentoWidthMs;             // "50"
};

class AliasResolver {
  public:
    // Reads (and, through lookups by file name, may name) entries of `voicebank`.
    explicit AliasResolver(Voicebank& voicebank = DefaultVoicebank());

    NoteList* Notes = nullptr;  // not owned; set before Execute

    const AliasSettings& Settings() const { return settings_; }
    const std::vector<VowelRow>& VowelTable() const { return vowelTable_; }

    // The seven passes over Notes. Does nothing without Notes.
    void Execute();

    // True when `text` starts with "a ", "i ", "u ", "e ", "o ", "n " or "B_".
    static bool HasVowelHead(std::string_view text);
    // `text` without such a head, keeping only kana of the vowel table,
    // "っッー゛゜" and ASCII letters.
    std::string KanaOnly(std::string_view text) const;
    // The vowel of the last character of KanaOnly(text) that has one ("a",
    // "i", "u", "e", "o", "n"), or empty text.
    std::string VowelOf(std::string_view text) const;
    // The whole text in the other kana script: katakana when KanaOnly(text)
    // starts with a hiragana, else hiragana; empty when KanaOnly(text) is
    // shorter than two bytes. At most 255 bytes.
    std::string SwapKanaScript(std::string_view text) const;
    // The first replacement pair (in list order) that changes the text,
    // applied to every occurrence; the text itself when none does.
    std::string ApplyKanaReplacement(std::string_view text) const;

  private:
    void ResolveAliases();
    void FitTiming();
    void MarkContinuations();
    void JoinEnvelopes();
    void FitEnvelopes();
    void RemoveMarks();
    void SetDefaultPortamento();
    void ResolveAlias(Note& note);
    bool IsContinuationLyric(std::string_view lyric) const;

    Voicebank& voicebank_;
    AliasSettings settings_;
    std::vector<VowelRow> vowelTable_;
    std::unordered_map<std::string, std::string> vowelOfKana_;
    std::vector<std::pair<std::string, std::string>> replacements_;
    std::vector<std::string> continuationLyrics_;
    std::vector<std::string> keptSymbols_;  // "っッー゛゜"
};

}  // namespace melodrift

#include "plugin/PitchLines.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>

#include "plugin/Note.h"
#include "plugin/PitchEncoding.h"
#include "text/NumberFormat.h"

namespace melodrift {

namespace {

// Mode1 pitch values are 12-bit in the hosts: −2048..2047 cents.
constexpr std::int64_t kLowestMode1Cents = -2048;
constexpr std::int64_t kHighestMode1Cents = 2047;

// Whole cents, half up; a value beyond 10^15 (or not finite) comes from a
// corrupt pitch and has no integer form.
std::int64_t RoundedCents(double cents) {
    if (!(std::fabs(cents) < 1e15)) throw std::domain_error("a pitch value cannot be written");
    return RoundHalfUpTrunc(cents);
}

// The values rounded to whole cents and clamped to the Mode1 range;
// `clamped`, when given, counts the values that were outside it.
std::string JoinRounded(const PitchPointList& points, int* clamped = nullptr) {
    std::string out;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (i > 0) out += ',';
        const std::int64_t cents = RoundedCents(points[i].Value);
        const std::int64_t kept = std::clamp(cents, kLowestMode1Cents, kHighestMode1Cents);
        if (kept != cents && clamped != nullptr) ++*clamped;
        out += FormatInteger(kept);
    }
    return out;
}

bool SamePitches(const PitchPointList& a, const PitchPointList& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].Value != b[i].Value || a[i].TimeMs != b[i].TimeMs) return false;
    }
    return true;
}

}  // namespace

int AppendMode1PitchLines(Note& note, std::vector<std::string>& out) {
    int clamped = 0;
    const std::string list = JoinRounded(note.PitchPoints, &clamped);
    if (!SamePitches(note.PitchPoints, note.Created().PitchPoints)) {
        out.push_back("Pitches=" + list);
        out.push_back("Piches=" + list);
    }
    note.BuildOldPitches();
    note.BuildOldPrePitches();
    out.push_back(EncodePitchList("$OldPitches=" + JoinRounded(note.OldPitches), "$OldPitches="));
    out.push_back(
        EncodePitchList("$OldPrePitches=" + JoinRounded(note.OldPrePitches), "$OldPrePitches="));
    out.push_back("$OldPiches= ");
    out.push_back("PBStart=" +
                  FormatGeneral(-note.EffectivePreUtterance() - note.EffectiveStartPoint()));
    return clamped;
}

int AppendMode2PitchLines(const Note& note, std::vector<std::string>& out) {
    const Portamento& bend = note.PitchBend;
    if (bend.Count() < 2) return 0;
    out.push_back("PBW=" + bend.FormatPBW());
    out.push_back("PBY=" + bend.FormatPBY());
    out.push_back("PBS=" + bend.FormatPBS());
    out.push_back("PBM=" + bend.FormatPBM());
    return bend.ValuesBeyondHostRange();
}

}  // namespace melodrift

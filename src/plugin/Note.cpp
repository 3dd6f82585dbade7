#include "plugin/Note.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "plugin/PitchLines.h"
#include "text/NumberFormat.h"

namespace melodrift {

namespace {

constexpr double kTicksPerGridStep = 5.0;
// ms per minute / ticks per beat: ms = ticks × 125 / bpm.
constexpr double kMsTicksPerBeat = 125.0;
constexpr double kNoPreviousLimitMs = -10000.0;
// Ten million points (50 million ticks, hours of music) is far beyond any
// note; a larger count comes from a corrupt length and is refused instead of
// allocated.
constexpr double kMaxGridPoints = 1e7;

// A count of points from a span that must be a finite number.
double FiniteSpan(double value, const char* what) {
    if (!std::isfinite(value))
        throw std::domain_error(std::string(what) + " is not a finite number");
    return value;
}

std::size_t GridCount(double count) {
    if (count > kMaxGridPoints) throw std::length_error("a note's pitch grid would be too long");
    return static_cast<std::size_t>(count);
}

// Whole numbers in the file stay well inside 64 bits; anything beyond 10^15
// (or not finite) comes from a corrupt value and has no integer form.
constexpr double kLargestRounded = 1e15;

// "rounded": the integer part of x + 0.5, for values written as integers.
std::int64_t Rounded(double value, const char* what) {
    if (!(std::fabs(value) < kLargestRounded))
        throw std::domain_error(std::string(what) + " cannot be written");
    return RoundHalfUpTrunc(value);
}

}  // namespace

Note::Note() {
    // Points 1..5 are the host's P1..P5 with V1..V5; 0 is the sample start,
    // 6 the end.
    Envelope[0] = {0.0, 0, false, 0.0};
    Envelope[1] = {0.0, 0, true, 0.0};
    Envelope[2] = {5.0, 100, true, 0.0};
    Envelope[3] = {35.0, 100, true, 0.0};
    Envelope[4] = {0.0, 0, true, 0.0};
    Envelope[5] = {0.0, 0, false, 0.0};
    Envelope[6] = {0.0, 0, false, 0.0};

    created_.Length = Length;
    created_.NoteNum = NoteNum;
    created_.Lyric = Lyric;
    created_.PreUtterance = preUtterance_;
    created_.VoiceOverlap = voiceOverlap_;
    created_.StartPoint = startPoint_;
    created_.Velocity = velocity_;
    created_.Tempo = Tempo;
    created_.Intensity = Intensity;
    created_.Moduration = Moduration;
    created_.PitchPoints = PitchPoints;
    created_.Envelope = Envelope;
}

void Note::SetVelocity(double velocity) {
    velocity_ = velocity;
    velocityFactor_ = std::pow(2.0, 1.0 - velocity / 100.0);
}

// --- effective values -----------------------------------------------------

void Note::RecomputeEffective() {
    const double factor = velocityFactor_;
    const double pre = preUtterance_ * factor;
    const double overlap = voiceOverlap_ * factor;
    const double start = startPoint_ * factor;
    effPreUtterance_ = pre;
    effVoiceOverlap_ = overlap;
    effStartPoint_ = start;
    if (Prev != nullptr) {
        // The lead-in may take at most half of the previous note: scale
        // preutterance and overlap so their difference becomes that half, and
        // start the sample later by what the preutterance lost.
        const double half = Prev->TicksToMs(Prev->Length) / 2.0;
        if (pre - overlap > half) {
            effPreUtterance_ = pre * half / (pre - overlap);
            effVoiceOverlap_ = overlap * half / (pre - overlap);
            effStartPoint_ = pre + start - effPreUtterance_;
        }
    }
    geometryDirty_ = false;
}

double Note::EffectivePreUtterance() {
    if (geometryDirty_) RecomputeEffective();
    return effPreUtterance_;
}

double Note::EffectiveVoiceOverlap() {
    if (geometryDirty_) RecomputeEffective();
    return effVoiceOverlap_;
}

double Note::EffectiveStartPoint() {
    if (geometryDirty_) RecomputeEffective();
    return effStartPoint_;
}

// The stored values are the effective ones without the velocity factor, so
// that the host, applying the factor again, arrives at the effective values.
void Note::StoreFromEffective() {
    preUtterance_ = effPreUtterance_ / velocityFactor_;
    voiceOverlap_ = effVoiceOverlap_ / velocityFactor_;
    startPoint_ = effStartPoint_ / velocityFactor_;
}

void Note::SetEffectivePreUtterance(double ms) {
    if (geometryDirty_) RecomputeEffective();
    if (std::fabs(ms - effPreUtterance_) <= 0.01) return;
    effPreUtterance_ = ms;
    StoreFromEffective();
}

void Note::SetEffectiveVoiceOverlap(double ms) {
    if (geometryDirty_) RecomputeEffective();
    if (std::fabs(ms - effVoiceOverlap_) <= 0.01) return;
    effVoiceOverlap_ = ms;
    StoreFromEffective();
}

void Note::SetEffectiveStartPoint(double ms) {
    if (geometryDirty_) RecomputeEffective();
    if (std::fabs(ms - effStartPoint_) < 0.001) return;
    effStartPoint_ = ms;
    StoreFromEffective();
}

// --- geometry ---------------------------------------------------------------

void Note::RequireUsableTempo() const {
    if (!(Tempo > 0.0) || !std::isfinite(Tempo))
        throw std::domain_error("the tempo " + std::to_string(Tempo) + " is not a positive number");
}

double Note::TicksToMs(double ticks) const {
    RequireUsableTempo();
    return ticks * kMsTicksPerBeat / Tempo;
}

double Note::MsToTicks(double ms) const {
    RequireUsableTempo();
    return ms * Tempo / kMsTicksPerBeat;
}

double Note::LeadIn() { return EffectivePreUtterance() + EffectiveStartPoint(); }

double Note::SoundingSpan() {
    double span = TicksToMs(Length) + EffectivePreUtterance();
    if (IsSungNeighbour(Next))
        span = span - Next->EffectivePreUtterance() + Next->EffectiveVoiceOverlap();
    return span;
}

void Note::UpdateGeometry() {
    geometryDirty_ = true;
    if (Prev == nullptr) {
        StartTick = 0.0;
        StartMs = 0.0;
    } else {
        // Notes follow each other without gaps, rests included.
        StartTick = Prev->StartTick + Prev->Length;
        StartMs = Prev->StartMs + Prev->TicksToMs(Prev->Length);
    }
    ResizePitchGrid();
    PitchBend.EndMs = TicksToMs(Length);
    PitchBend.StartLimitMs = Prev != nullptr ? -Prev->TicksToMs(Prev->Length) : kNoPreviousLimitMs;
    UpdateEnvelopePositions();
}

void Note::ResizePitchGrid() {
    // The grid covers the lead-in and the note, up to where the next note's
    // sample takes over (its preutterance minus its overlap before our end).
    double spanTicks = MsToTicks(LeadIn()) + Length;
    if (Next != nullptr)
        spanTicks -= MsToTicks(Next->EffectivePreUtterance() - Next->EffectiveVoiceOverlap());
    spanTicks = std::max(FiniteSpan(spanTicks, "the pitch grid span"), 0.0);

    // ceiling(span / 5) + 2 points.
    const double steps = spanTicks / kTicksPerGridStep;
    const double whole = std::trunc(steps);
    const std::size_t count = GridCount(whole + (steps > whole ? 3.0 : 2.0));

    const std::size_t kept = std::min(count, PitchPoints.size());
    PitchPoints.resize(count);
    for (std::size_t i = kept; i < count; ++i)
        PitchPoints[i] = PitchPoint{0.0, TicksToMs(kTicksPerGridStep * static_cast<double>(i))};

    if (OldPitches.empty()) BuildOldPitches();
    if (OldPrePitches.empty()) BuildOldPrePitches();
}

double Note::PitchAt(double timeMs, const Note* excluded) {
    const double leadIn = LeadIn();
    const double step = TicksToMs(kTicksPerGridStep);
    const std::size_t count = PitchPoints.size();
    const double first = -leadIn;
    const double last = first + (static_cast<double>(count) - 1.0) * step;

    if (count >= 2 && first <= timeMs && timeMs <= last) {
        std::size_t k = static_cast<std::size_t>((timeMs + leadIn) / step);
        if (k + 1 >= count) k = count - 2;
        const double t0 = static_cast<double>(k) * step - leadIn;
        const double t1 = static_cast<double>(k + 1) * step - leadIn;
        const double v0 = PitchPoints[k].Value;
        const double v1 = PitchPoints[k + 1].Value;
        return v0 + (timeMs - t0) * (v1 - v0) / (t1 - t0);
    }
    if (timeMs < first) {
        if (Prev == nullptr || Prev == excluded) return NoValue;
        const double r = Prev->PitchAt(timeMs + Prev->TicksToMs(Prev->Length), this);
        return r == NoValue ? NoValue : r + (Prev->NoteNum - NoteNum) * 100.0;
    }
    if (timeMs > last) {
        if (Next == nullptr || Next == excluded) return NoValue;
        const double r = Next->PitchAt(timeMs - TicksToMs(Length), this);
        return r == NoValue ? NoValue : r + (Next->NoteNum - NoteNum) * 100.0;
    }
    return NoValue;  // a grid of fewer than two points
}

double Note::InterpolateOverWindow(double fromMs, double toMs, double timeMs) {
    const double from = PitchAt(fromMs);
    const double to = PitchAt(toMs);
    if (from == NoValue || to == NoValue) return 0.0;
    return from + (to - from) / (toMs - fromMs) * (timeMs - fromMs);
}

void Note::BuildOldPitches() {
    // One point per 5 ticks over the note body, both ends included.
    const double steps = FiniteSpan(Length, "the note length") / kTicksPerGridStep;
    const double whole = std::trunc(steps);
    const double count = std::max(whole + (steps > whole ? 2.0 : 1.0), 2.0);
    const std::size_t n = GridCount(count);

    const double lengthMs = TicksToMs(Length);
    // Where the sample's overlap lies before its start point, the pitch is
    // drawn straight across that crossfade window, for this note's start and
    // for the next note's.
    const double fromMs = EffectiveVoiceOverlap() - EffectivePreUtterance();
    const double toMs = -(EffectiveStartPoint() + EffectivePreUtterance());

    OldPitches.assign(n, PitchPoint{});
    for (std::size_t i = 0; i < n; ++i) {
        const double t = std::min(lengthMs * static_cast<double>(i) / (count - 1.0), lengthMs);
        double v = NoValue;
        if (fromMs < t && t < toMs) {
            v = InterpolateOverWindow(fromMs, toMs, t);
        } else if (Next != nullptr) {
            const double nextFromMs =
                lengthMs - Next->EffectivePreUtterance() + Next->EffectiveVoiceOverlap();
            const double nextToMs =
                lengthMs - Next->EffectivePreUtterance() - Next->EffectiveStartPoint();
            if (nextFromMs < t && t < nextToMs) v = InterpolateOverWindow(nextFromMs, nextToMs, t);
        }
        if (v == NoValue) {
            v = PitchAt(t);
            if (v == NoValue) v = 0.0;
        }
        OldPitches[i] = PitchPoint{v, t};
    }
}

void Note::BuildOldPrePitches() {
    // From the sample start (i = 0) to the note start (i = n − 1) in equal
    // steps, about one per 5 ms.
    const double leadIn =
        FiniteSpan(EffectiveStartPoint() + EffectivePreUtterance(), "the lead-in");
    const double count = std::max(std::trunc((leadIn + 2.5) / 5.0), 2.0);
    const std::size_t n = GridCount(count);
    OldPrePitches.assign(n, PitchPoint{});
    for (std::size_t i = 0; i < n; ++i) {
        const double t = -leadIn * (count - 1.0 - static_cast<double>(i)) / (count - 1.0);
        const double v = PitchAt(t);
        OldPrePitches[i] = PitchPoint{v == NoValue ? 0.0 : v, t};
    }
}

// --- envelope ---------------------------------------------------------------

void Note::UpdateEnvelopePositions() {
    // In time order: 0, 1, 2, 5 count forward from the sample start; 3, 4
    // back from the end of the sounding span; 6 is that end.
    const double span = SoundingSpan();
    Envelope[0].Position = 0.0;
    Envelope[1].Position = Envelope[1].Offset;
    Envelope[2].Position = Envelope[1].Position + Envelope[2].Offset;
    Envelope[5].Position = Envelope[2].Position + Envelope[5].Offset;
    Envelope[4].Position = span - Envelope[4].Offset;
    Envelope[3].Position = Envelope[4].Position - Envelope[3].Offset;
    Envelope[6].Position = span;
}

void Note::RederiveEnvelopeOffsets() {
    const double span = SoundingSpan();
    Envelope[0].Offset = 0.0;
    Envelope[1].Offset = Envelope[1].Position;
    Envelope[2].Offset = Envelope[2].Position - Envelope[1].Position;
    Envelope[5].Offset = Envelope[5].Position - Envelope[2].Position;
    Envelope[4].Offset = span - Envelope[4].Position;
    Envelope[3].Offset = Envelope[4].Position - Envelope[3].Position;
    Envelope[6].Offset = span;
}

void Note::SetEnvelopePoint(int index, int volume, double timeMs) {
    if (index < 0 || index >= kEnvelopePoints) return;
    if (timeMs != kKeepTime) {
        if (index == 0) {
            // Moving the sample start: the note's lead-in changes, every
            // other point keeps its absolute time.
            SetEffectivePreUtterance(EffectivePreUtterance() - timeMs);
            SetEffectiveStartPoint(EffectiveStartPoint() + timeMs);
            SetEffectiveVoiceOverlap(EffectiveVoiceOverlap() - timeMs);
            for (int i = 1; i < kEnvelopePoints; ++i) Envelope[i].Position -= timeMs;
        } else if (index == kEnvelopePoints - 1) {
            // The end is where the next sung note takes over: move its overlap.
            if (IsSungNeighbour(Next))
                Next->SetEffectiveVoiceOverlap(timeMs + Next->EffectivePreUtterance() -
                                               TicksToMs(Length) - EffectivePreUtterance());
        } else {
            Envelope[index].Position = timeMs;
        }
        RederiveEnvelopeOffsets();
    }
    if (volume != kKeepVolume)
        Envelope[index].Volume = static_cast<std::uint16_t>(std::clamp(volume, 0, 65535));
}

// --- portamento ends --------------------------------------------------------

double Note::ExpectedEndValue(int index) {
    const int count = PitchBend.Count();
    if (index < 0 || index >= count || index == count - 1) return 0.0;
    if (index == 0) {
        if (IsSungNeighbour(Prev)) return (Prev->NoteNum - NoteNum) * 100.0;
        const PortamentoPoint& first = PitchBend.Point(0);
        return first.Time < -EffectivePreUtterance() ? first.Value : 0.0;
    }
    return PitchBend.Point(index).Value;
}

// --- writing ----------------------------------------------------------------

void Note::WriteTo(std::vector<std::string>& lines) {
    RequireUsableTempo();
    int clamped = 0;
    std::vector<std::string> out;
    out.push_back("[" + Section + "]");
    out.push_back("Length=" + FormatGeneral(Length));
    out.push_back("NoteNum=" + FormatInteger(NoteNum));
    out.push_back("Lyric=" + Lyric);
    out.push_back("PreUtterance=" + FormatGeneral(preUtterance_));
    out.push_back("VoiceOverlap=" + FormatGeneral(voiceOverlap_));
    out.push_back("Intensity=" + FormatInteger(Intensity));
    out.push_back("Moduration=" + FormatInteger(Moduration));
    // To three decimals.
    out.push_back("StartPoint=" + FormatGeneral(static_cast<double>(Rounded(startPoint_ * 1000.0,
                                                                            "the start point")) /
                                                1000.0));

    if (WritePitch) {
        switch (PitchMode) {
            case PitchEncoding::Mode1:
                clamped += AppendMode1PitchLines(*this, out);
                break;
            case PitchEncoding::Mode2:
                clamped += AppendMode2PitchLines(*this, out);
                break;
        }
    }

    if (WriteEnvelope) {
        bool changed = false;
        for (int i = 1; i <= 5; ++i) {
            // Offsets within 1 ms of the default count as unchanged.
            changed = changed ||
                      std::fabs(Envelope[i].Offset - created_.Envelope[i].Offset) >= 1.0 ||
                      Envelope[i].Volume != created_.Envelope[i].Volume;
        }
        if (changed) {
            // P1,P2,P3,V1,V2,V3,V4,%,P4[,P5,V5]
            std::string line = "Envelope=" + FormatFixed(Envelope[1].Offset, 0) + "," +
                               FormatFixed(Envelope[2].Offset, 0) + "," +
                               FormatFixed(Envelope[3].Offset, 0);
            for (int i = 1; i <= 4; ++i) line += "," + FormatInteger(Envelope[i].Volume);
            line += ",%," + FormatFixed(Envelope[4].Offset, 0);
            if (Envelope[5].Enabled)
                line += "," + FormatFixed(Envelope[5].Offset, 0) + "," +
                        FormatInteger(Envelope[5].Volume);
            out.push_back(std::move(line));
        }
    }

    if (WriteFlagsP0) out.push_back("Flags=P0");

    lines.insert(lines.end(), std::make_move_iterator(out.begin()),
                 std::make_move_iterator(out.end()));
    ClampedValues = clamped;
}

}  // namespace melodrift

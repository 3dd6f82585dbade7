// One note of the plug-in file with every value written for it, and its time
// geometry: tick/ms conversion at the note's own tempo, the effective
// preutterance, overlap and start point (velocity and the previous note's
// length applied), the pitch grid, the pitch at any time (also inside a
// neighbour), and the envelope positions.
//
// Time axis of one note (ms):
//
//   sample start        note start                          note end
//   |<---- LeadIn ----->|<------------ TicksToMs(Length) ------>|
//   |                   0                                        |
//   pitch grid and envelope positions count from the sample start.
//   LeadIn = EffectivePreUtterance + EffectiveStartPoint.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/PitchLines.h"
#include "plugin/Portamento.h"

namespace melodrift {

struct PitchPoint {
    double Value = 0.0;   // cents relative to the note's NoteNum
    double TimeMs = 0.0;  // ms
};
using PitchPointList = std::vector<PitchPoint>;

struct EnvelopePoint {
    double Offset = 0.0;       // ms, the value in the file (P1..P5)
    std::uint16_t Volume = 0;  // percent
    bool Enabled = false;
    double Position = 0.0;  // ms from the note's sample start
};

class Note {
  public:
    // The pitch value of a time without a defined pitch.
    static constexpr double NoValue = 9999.0;
    // "Leave unchanged" for SetEnvelopePoint.
    static constexpr int kKeepVolume = -9999;
    static constexpr double kKeepTime = -9999.0;
    static constexpr int kEnvelopePoints = 7;

    Note();
    // Neighbour links make a copy meaningless.
    Note(const Note&) = delete;
    Note& operator=(const Note&) = delete;

    // --- fields the writer and the editor use directly -------------------
    std::string Section;
    Note* Prev = nullptr;  // not owned; set by the list's Relink
    Note* Next = nullptr;
    double StartTick = 0.0;  // from the first note
    double StartMs = 0.0;
    double Length = 0.0;  // ticks (480 per quarter note)
    double Tempo = 0.0;   // bpm, for all of this note's conversions
    int NoteNum = 0;      // semitones
    std::string Lyric;    // UTF-8; "R" or "r" is a rest
    int Intensity = 100;
    int Moduration = 0;
    PitchPointList PitchPoints;    // Mode1 grid, one point per 5 ticks from the sample start
    PitchPointList OldPitches;     // pitch over the note body
    PitchPointList OldPrePitches;  // pitch over the lead-in (only Value is used)
    std::array<EnvelopePoint, kEnvelopePoints> Envelope;
    Portamento PitchBend;  // Mode2 points
    PitchEncoding PitchMode = PitchEncoding::Mode2;
    bool WritePitch = true;
    bool WriteEnvelope = true;
    bool WriteFlagsP0 = false;

    // --- stored timing values (ms, as in the file) -----------------------
    double PreUtterance() const { return preUtterance_; }
    double VoiceOverlap() const { return voiceOverlap_; }
    double StartPoint() const { return startPoint_; }
    double Velocity() const { return velocity_; }
    // 2^(1 − Velocity / 100): velocity 100 → 1, 0 → 2, 200 → 0.5.
    double VelocityFactor() const { return velocityFactor_; }
    void SetVelocity(double velocity);

    // --- effective values (ms), recomputed on read when dirty ------------
    bool GeometryDirty() const { return geometryDirty_; }
    void RecomputeEffective();
    double EffectivePreUtterance();
    double EffectiveVoiceOverlap();
    double EffectiveStartPoint();
    // Set one effective value and rewrite the three stored ones from the
    // effective values (divided by the velocity factor). A change of 0.01 ms
    // or less (preutterance, overlap) or below 0.001 ms (start point) is
    // ignored.
    void SetEffectivePreUtterance(double ms);
    void SetEffectiveVoiceOverlap(double ms);
    void SetEffectiveStartPoint(double ms);

    // --- geometry ---------------------------------------------------------
    // ticks × 125 / Tempo and ms × Tempo / 125 (480 ticks per beat). A tempo
    // that is not a positive finite number throws std::domain_error.
    double TicksToMs(double ticks) const;
    double MsToTicks(double ms) const;
    bool IsRest() const { return Lyric == "R" || Lyric == "r"; }
    double LeadIn();        // EffectivePreUtterance + EffectiveStartPoint
    double SoundingSpan();  // ms from the sample start to where the next note takes over
    void UpdateGeometry();
    void ResizePitchGrid();
    // The pitch [cents, relative to this NoteNum] at `timeMs` from the note
    // start, interpolated on the grid; outside it, asked of the neighbour in
    // that direction (never of `excluded`); NoValue where no grid reaches.
    double PitchAt(double timeMs, const Note* excluded = nullptr);
    void BuildOldPitches();
    void BuildOldPrePitches();

    // --- envelope ---------------------------------------------------------
    void UpdateEnvelopePositions();
    // Moves point `index` (0..6) to `timeMs` [ms from the sample start] and/or
    // sets its volume; kKeepTime / kKeepVolume leave a value unchanged. Point 0 moves the
    // sample start, point 6 the next note's overlap. A negative volume is 0,
    // one above 65535 is 65535; an index outside 0..6 is ignored.
    void SetEnvelopePoint(int index, int volume, double timeMs);

    // --- portamento ends --------------------------------------------------
    // The value that portamento point `index` should have at the note's
    // ends: after a sung previous note, the first point starts on that
    // note's key; the last point ends on this key (0).
    double ExpectedEndValue(int index);

    // Appends this note's section to `lines` (UTF-8 text, no line ends); the
    // pitch lines come from the writer of PitchMode (plugin/PitchLines.h).
    // Throws std::domain_error for a value that has no finite form, and
    // ConversionError for a pitch list that does not encode; nothing is
    // appended then.
    void WriteTo(std::vector<std::string>& lines);
    // How many values the last WriteTo had to clamp into the hosts' ranges:
    // Mode1 pitches to −2048..2047 cents, the Mode2 PBS/PBY values to ±2047
    // cents (written ±204.7). A host would clamp or wrap them (12-bit
    // values: 3143 cents wraps to −953). The pitch history lists are
    // clamped the same way but not counted.
    int ClampedValues = 0;

    // The values as they were at construction; the writer compares against
    // them to decide whether the pitch and envelope lines are written.
    struct CreatedValues {
        double Length = 0.0;
        int NoteNum = 0;
        std::string Lyric;
        double PreUtterance = 0.0;
        double VoiceOverlap = 0.0;
        double StartPoint = 0.0;
        double Velocity = 0.0;
        double Tempo = 0.0;
        int Intensity = 0;
        int Moduration = 0;
        PitchPointList PitchPoints;
        std::array<EnvelopePoint, kEnvelopePoints> Envelope;  // points 1..5 are compared
    };
    const CreatedValues& Created() const { return created_; }

  private:
    bool IsSungNeighbour(const Note* note) const { return note != nullptr && !note->IsRest(); }
    void RequireUsableTempo() const;
    void StoreFromEffective();
    void RederiveEnvelopeOffsets();
    double InterpolateOverWindow(double fromMs, double toMs, double timeMs);

    double preUtterance_ = 0.0;
    double voiceOverlap_ = 0.0;
    double startPoint_ = 0.0;
    double velocity_ = 100.0;
    double velocityFactor_ = 1.0;
    double effPreUtterance_ = 0.0;
    double effVoiceOverlap_ = 0.0;
    double effStartPoint_ = 0.0;
    bool geometryDirty_ = true;
    CreatedValues created_;
};

}  // namespace melodrift

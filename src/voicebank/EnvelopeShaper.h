// Gives inserted notes an envelope that follows the recording: full volume
// inside the note, a short fade at the end unless the next note is joined to
// it, a crossfade spread over the head of a joined note; then scales the
// envelope volumes by the recording's loudness at each point's time.
//
// Envelope points of a note in time order (Position: ms from the sample start):
//
//   0 ── 1 ── 2 ── 5 ──────────── 3 ── 4 ── 6
//   start  fade-in  body            fade-out  end of the sounding span
#pragma once

#include "plugin/NoteList.h"

#include <span>

namespace melodrift {

class EnvelopeShaper {
  public:
    NoteList* Notes = nullptr;  // not owned; set before use

    double JoinWidth = 20.0;      // ms between the fade-in point and the onset
    double AttackGain = 1.3;      // volume factor at the onset
    double AttackOffset = -20.0;  // ms, onset point relative to the preutterance

    // Shapes the envelope of every sung note (rests are left alone), in three
    // steps over all notes: fill in unused points, find the notes joined to
    // their previous note by a crossfade, place the points.
    void ShapeEnvelopes();

    // Scales the volume of envelope points 1..5 of every note (rests
    // included) whose time on the recording lies in [earlier, later) by the
    // gain interpolated between the two moments. The moments may come in
    // either order; each gain goes with its time. Equal times do nothing.
    // Volumes are rounded half up and kept within 0..65535.
    void ApplyLoudness(double laterGain, double earlierGain, double laterMs, double earlierMs);
    // ApplyLoudness(gains[i + 1], gains[i], timesMs[i + 1], timesMs[i]) for
    // i = 0, 1, .. in turn, with `timesMs` non-decreasing: each point takes
    // the one interval it lies in, found by binary search, so the cost
    // grows with the points, not points times intervals.
    void ApplyLoudnessCurve(std::span<const double> timesMs, std::span<const double> gains);
};

}  // namespace melodrift

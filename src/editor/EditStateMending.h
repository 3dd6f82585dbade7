// The segments of an edit state as stored, made into the segments the editor
// works with: in time order, inside the recording, each at least the least
// cut distance long. Hand-edited files get all of these wrong.
#pragma once

#include "editor/EditState.h"
#include "editor/Session.h"

#include <optional>
#include <string>
#include <vector>

namespace melodrift {

// One "[n]" section: Time, Length (NaN when not a number, nothing when
// missing) and Lyric.
struct StoredSegment {
    double StartMs = 0.0;
    std::optional<double> LengthMs;
    std::string Lyric;
};

// Segments in time order (lyrics move with their starts), the first from 0,
// each start at least `gapMs` after the one before and `gapMs` before
// `durationMs`; a segment with no room left is dropped. Lengths are left 0
// (RecalcLengths derives them from the starts). Counts what it changed in
// `mends`.
std::vector<Segment> MendSegments(std::vector<StoredSegment> stored, double durationMs,
                                  double gapMs, EditStateMends& mends);

}  // namespace melodrift

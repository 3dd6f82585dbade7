#include "HitAreas.h"

#include <cstdlib>

namespace melodrift {

namespace {
constexpr int kPitchLaneRows = 128;
constexpr int kVolumeAreaRows = 50;  // the 48 rows of the lane and the gap below it
constexpr int kCutReachPixels = 3;   // |x − cut| < 3
}  // namespace

SurfaceHit HitTestSurface(int x, int y, bool pitchDrawEnabled, const LaneGeometry& lanes,
                          std::span<const int> cutXs) {
    if (pitchDrawEnabled && y > lanes.PitchTop && y < lanes.PitchTop + kPitchLaneRows) {
        return {HitArea::PitchLane, -1};
    }
    for (std::size_t k = 0; k < cutXs.size(); ++k) {
        if (std::abs(cutXs[k] - x) < kCutReachPixels) return {HitArea::Cut, int(k) + 1};
    }
    if (y < lanes.VolumeTop + kVolumeAreaRows) return {HitArea::VolumeLane, -1};
    if (y > lanes.LyricTop) return {HitArea::LyricLane, -1};
    return {HitArea::CutArea, -1};
}

}  // namespace melodrift

// A note's pitch bend as a polyline (the host's "Mode2"): a start point and a
// chain of points, each with the curve shape of the segment that ends in it.
// Written as four keys:
//   PBS = t0;v0          start time [ms] (whole) and value [1/10 semitone]
//   PBW = w1,w2,...      segment widths [ms]
//   PBY = v1,v2,...      values of the points after the start [1/10 semitone]
//   PBM = m1,m2,...      shapes ("" S-curve, "s" line, "r", "j")
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace melodrift {

// The curve of the segment that ends in a point, as PBM writes it: the
// host's default S-curve (empty), a straight line ("s"), the R- and J-curves
// ("r", "j"). Dropped marks a point Simplify is about to remove.
enum class BendShape { SCurve, Straight, RCurve, JCurve, Dropped };

struct PortamentoPoint {
    double Time = 0.0;   // ms from the owning note's start (negative = before it)
    double Value = 0.0;  // cents relative to the owning note's NoteNum
    BendShape Shape = BendShape::SCurve;
};

// Vertical distance [cents] of `point` from the straight line through
// `before` and `after`. When those two share one time (the spacing pass of
// Simplify can reorder points) the line has no slope: the distance from their
// mean value is used instead of dividing by zero.
double LineDeviation(const PortamentoPoint& before, const PortamentoPoint& point,
                     const PortamentoPoint& after);

class Portamento {
  public:
    // Most points that Simplify leaves.
    static constexpr int kMaxPoints = 50;

    int Count() const { return static_cast<int>(points_.size()); }
    const std::vector<PortamentoPoint>& Points() const { return points_; }
    const PortamentoPoint& Point(int index) const {
        return points_.at(static_cast<std::size_t>(index));
    }

    // The owning note's length [ms], and minus the previous note's length
    // [ms] (−10000 without one). Set by the note's UpdateGeometry.
    double EndMs = 0.0;
    double StartLimitMs = 0.0;

    void Clear() { points_.clear(); }

    // Adds a point in time order and returns its index. With `replace` a new
    // point goes before points of equal time, without it after them. A point
    // equal in time and value to an existing one is still added (Simplify
    // removes duplicates); with `replace` and a shape, that existing point
    // also takes the shape. When the first (or last) two points share one
    // time, a point at or before the first (at or after the last) overwrites
    // that end point instead. No `shape` takes the shape of the point that
    // follows, or the S-curve at the end.
    int AddPoint(std::optional<BendShape> shape, bool replace, double timeMs, double value);

    // Removes one point; an index outside 0..Count − 1 is ignored.
    void DeletePoint(int index);

    // Reduces a dense polyline to the points that carry its shape, at most
    // kMaxPoints, keeping the first and the last point.
    void Simplify();

    // The values after "PBS=", "PBW=", "PBY=" and "PBM="; empty when there
    // are too few points (PBS needs one, the others two).
    // The values are written clamped to ±kHostBendCents (PBY within ±204.7,
    // the hosts' range).
    std::string FormatPBS() const;
    std::string FormatPBW() const;
    std::string FormatPBY() const;
    std::string FormatPBM() const;
    // How many points FormatPBS/FormatPBY write clamped.
    int ValuesBeyondHostRange() const;

  private:
    double Deviation(int k) const {
        return LineDeviation(points_[k - 1], points_[k], points_[k + 1]);
    }
    void RemoveTripleTimes();

    std::vector<PortamentoPoint> points_;
};

}  // namespace melodrift

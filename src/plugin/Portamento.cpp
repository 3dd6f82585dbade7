#include "plugin/Portamento.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "text/NumberFormat.h"
#include "text/Text.h"

namespace melodrift {

namespace {

// Times are rounded to whole numbers for the file; a time that is not finite,
// or beyond 10^15 ms, has no integer form there.
double FiniteTime(double timeMs) {
    if (!(std::fabs(timeMs) < 1e15))
        throw std::domain_error("a portamento point time cannot be written");
    return timeMs;
}

}  // namespace

int Portamento::AddPoint(std::optional<BendShape> shape, bool replace, double timeMs,
                         double value) {
    for (PortamentoPoint& point : points_) {
        if (point.Time == timeMs && point.Value == value) {
            if (replace && shape) point.Shape = *shape;
            break;
        }
    }

    // An end point overwritten without a shape gets the default curve.
    const BendShape given = shape.value_or(BendShape::SCurve);
    const int count = Count();
    if (count >= 3 && timeMs <= points_[0].Time && points_[0].Time == points_[1].Time) {
        points_[0] = PortamentoPoint{timeMs, value, given};
        return 0;
    }
    if (count >= 3 && timeMs >= points_[count - 1].Time &&
        points_[count - 1].Time == points_[count - 2].Time) {
        points_[count - 1] = PortamentoPoint{timeMs, value, given};
        return count - 1;
    }

    int index = 0;
    while (index < count &&
           (replace ? points_[index].Time < timeMs : points_[index].Time <= timeMs))
        ++index;

    const BendShape inherited = index < count ? points_[index].Shape : BendShape::SCurve;
    points_.insert(points_.begin() + index,
                   PortamentoPoint{timeMs, value, shape.value_or(inherited)});
    return index;
}

void Portamento::DeletePoint(int index) {
    if (index < 0 || index >= Count()) return;
    points_.erase(points_.begin() + index);
}

double LineDeviation(const PortamentoPoint& before, const PortamentoPoint& point,
                     const PortamentoPoint& after) {
    const double span = after.Time - before.Time;
    if (span == 0.0) return std::fabs(point.Value - (before.Value + after.Value) / 2.0);
    return std::fabs((point.Time - before.Time) * (after.Value - before.Value) / span +
                     before.Value - point.Value);
}

void Portamento::RemoveTripleTimes() {
    for (int k = Count() - 2; k >= 1; --k) {
        if (points_[k].Time == points_[k + 1].Time && points_[k].Time == points_[k - 1].Time)
            DeletePoint(k);
    }
}

void Portamento::Simplify() {
    // Keep every point within the previous note's start and this note's end.
    for (PortamentoPoint& point : points_)
        point.Time = std::min(EndMs, std::max(StartLimitMs, point.Time));

    // Exact duplicates.
    for (int k = Count() - 1; k >= 1; --k) {
        if (points_[k].Time == points_[k - 1].Time && points_[k].Value == points_[k - 1].Value)
            DeletePoint(k);
    }

    // Of three points at one time only the outer two matter.
    RemoveTripleTimes();

    // Points close to the line through their neighbours: the area of the
    // triangle they span, (width × deviation) / 20, below 4. The two points at
    // each end always stay.
    for (int k = Count() - 3; k >= 2; --k) {
        const double width = points_[k + 1].Time - points_[k - 1].Time;
        if (width * Deviation(k) / 20.0 < 4.0) DeletePoint(k);
    }

    // Points that sit within 10 ms and 30 cents of both neighbours.
    for (int k = Count() - 3; k >= 2; --k) {
        const PortamentoPoint& before = points_[k - 1];
        const PortamentoPoint& point = points_[k];
        const PortamentoPoint& after = points_[k + 1];
        if (point.Time - before.Time < 10.0 && std::fabs(point.Value - before.Value) < 30.0 &&
            after.Time - point.Time < 10.0 && std::fabs(after.Value - point.Value) < 30.0)
            DeletePoint(k);
    }

    // Spread points that are closer than 10 ms: the earlier one moves earlier,
    // the later one later, each leaving 10 ms per remaining point free towards
    // the note's limits. Bounded, since the moves may chase each other.
    constexpr int kMaxSpacingPasses = 50;
    constexpr double kMinGapMs = 10.0;
    bool moved = true;
    for (int pass = 0; pass < kMaxSpacingPasses && moved; ++pass) {
        moved = false;
        const int n = Count();
        for (int k = 1; k <= n - 3; ++k) {
            double& tk = points_[k].Time;
            double& tNext = points_[k + 1].Time;
            if (tNext - tk >= kMinGapMs) continue;

            double x = (tk + tNext) / 2.0 - kMinGapMs / 2.0;
            x = std::max(x, StartLimitMs + (k - 1) * kMinGapMs);
            x = std::min(x, EndMs - (n - k - 2) * kMinGapMs);
            x = std::max(x, points_[0].Time);
            x = std::max(x, StartLimitMs);
            x = std::min(x, tk);
            if (x < tk) {
                tk = x;
                moved = true;
            }

            double y = tk + kMinGapMs;
            y = std::min(y, EndMs - (n - k - 3) * kMinGapMs);
            y = std::max(y, StartLimitMs + k * kMinGapMs);
            y = std::min(y, points_[n - 1].Time);
            y = std::min(y, EndMs);
            y = std::max(y, tNext);
            if (y > tNext) {
                tNext = y;
                moved = true;
            }
        }
    }

    RemoveTripleTimes();

    // At most kMaxPoints: drop the interior points with the smallest
    // deviation, straight-line runs first.
    if (Count() > kMaxPoints) {
        KeyedValues pairs;
        for (int k = 1; k <= Count() - 2; ++k) {
            double key = Deviation(k);
            if (points_[k].Shape == BendShape::Straight &&
                points_[k + 1].Shape == BendShape::Straight)
                key -= 100.0;
            pairs.push_back(KeyedValue{key, k});
        }
        SortByKey(pairs);
        const int surplus = Count() - kMaxPoints;
        for (int i = 0; i < surplus; ++i) points_[pairs[i].Index].Shape = BendShape::Dropped;
        for (int k = Count() - 2; k >= 1; --k) {
            if (points_[k].Shape == BendShape::Dropped) DeletePoint(k);
        }
    }
}

namespace {

// The hosts take Mode2 values (tenths of a semitone) within ±204.7.
constexpr double kHostBendCents = 2047.0;

double HostBend(double cents) { return std::clamp(cents, -kHostBendCents, kHostBendCents); }

}  // namespace

int Portamento::ValuesBeyondHostRange() const {
    int count = 0;
    for (const PortamentoPoint& point : points_)
        if (HostBend(point.Value) != point.Value) ++count;
    return count;
}

std::string Portamento::FormatPBS() const {
    if (Count() < 1) return {};
    return FormatInteger(HalfUp(FiniteTime(points_[0].Time))) + ";" +
           FormatFixed(HostBend(points_[0].Value) / 10.0, 1);
}

std::string Portamento::FormatPBW() const {
    if (Count() < 2) return {};
    // Widths carry their rounding error forward, so that the running sum of
    // the widths stays on the rounded real times.
    std::string out;
    double error = static_cast<double>(HalfUp(FiniteTime(points_[0].Time))) - points_[0].Time;
    for (int k = 1; k < Count(); ++k) {
        const double width = FiniteTime(points_[k].Time) - points_[k - 1].Time - error;
        const double rounded = static_cast<double>(HalfUp(width));
        error = rounded - width;
        if (k > 1) out += ',';
        out += FormatFixed(rounded, 0);
    }
    return out;
}

std::string Portamento::FormatPBY() const {
    if (Count() < 2) return {};
    std::string out;
    for (int k = 1; k < Count(); ++k) {
        if (k > 1) out += ',';
        out += FormatFixed(HostBend(points_[k].Value) / 10.0, 1);
    }
    return out;
}

std::string Portamento::FormatPBM() const {
    if (Count() < 2) return {};
    std::string out;
    for (int k = 1; k < Count(); ++k) {
        // The host's default S-curve is the empty entry.
        switch (points_[k].Shape) {
            case BendShape::SCurve:
                out += ",";
                break;
            case BendShape::Straight:
                out += "s,";
                break;
            case BendShape::RCurve:
                out += "r,";
                break;
            case BendShape::JCurve:
                out += "j,";
                break;
            case BendShape::Dropped:
                break;
        }
    }
    if (!out.empty() && out.back() == ',') out.pop_back();
    return out;
}

}  // namespace melodrift

#include "plugin/Portamento.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

namespace melodrift {
namespace {

std::vector<double> Times(const Portamento& p) {
    std::vector<double> out;
    for (const PortamentoPoint& point : p.Points()) out.push_back(point.Time);
    return out;
}

std::vector<double> Values(const Portamento& p) {
    std::vector<double> out;
    for (const PortamentoPoint& point : p.Points()) out.push_back(point.Value);
    return out;
}

Portamento WithLimits(double startLimitMs, double endMs) {
    Portamento p;
    p.StartLimitMs = startLimitMs;
    p.EndMs = endMs;
    return p;
}

TEST(PortamentoFormat, ThreePointsGiveTheFourLines) {
    Portamento p;
    p.AddPoint(BendShape::Straight, false, -40, 0);
    p.AddPoint(BendShape::Straight, false, 0, -200);
    p.AddPoint(BendShape::SCurve, false, 100, -200);
    EXPECT_EQ(p.FormatPBS(), "-40;0.0");
    EXPECT_EQ(p.FormatPBW(), "40,100");
    EXPECT_EQ(p.FormatPBY(), "-20.0,-20.0");
    EXPECT_EQ(p.FormatPBM(), "s,");  // the last point's S-curve is the empty entry
}

TEST(PortamentoFormat, WidthsCarryTheRoundingError) {
    Portamento p;
    p.AddPoint(BendShape::Straight, false, -40.3, 12);
    p.AddPoint(BendShape::Straight, false, 10.2, 0);
    p.AddPoint(BendShape::Straight, false, 30.7, 0);
    // Running positions −40, 10, 31.
    EXPECT_EQ(p.FormatPBS(), "-40;1.2");
    EXPECT_EQ(p.FormatPBW(), "50,21");
}

TEST(PortamentoFormat, HalfUpRoundsNegativeTiesUpAndValuesToOneDecimal) {
    Portamento p;
    p.AddPoint(BendShape::RCurve, false, -2.5, -15);  // halfup(−2.5) = −2; −1.5 → "-1.5"
    p.AddPoint(BendShape::JCurve, false, 7.5, 1234.5);
    EXPECT_EQ(p.FormatPBS(), "-2;-1.5");
    EXPECT_EQ(p.FormatPBW(), "10");
    EXPECT_EQ(p.FormatPBY(), "123.5");  // 123.45 → nearest of the binary value
    EXPECT_EQ(p.FormatPBM(), "j");
}

TEST(PortamentoFormat, TooFewPointsGiveEmptyTexts) {
    Portamento p;
    EXPECT_EQ(p.FormatPBS(), "");
    EXPECT_EQ(p.FormatPBW(), "");
    p.AddPoint(BendShape::Straight, false, 5, 100);
    EXPECT_EQ(p.FormatPBS(), "5;10.0");
    EXPECT_EQ(p.FormatPBW(), "");
    EXPECT_EQ(p.FormatPBY(), "");
    EXPECT_EQ(p.FormatPBM(), "");
}

TEST(PortamentoFormat, TimesWithoutAnIntegerFormThrow) {
    Portamento p;
    p.AddPoint(BendShape::Straight, false, 0, 0);
    p.AddPoint(BendShape::Straight, false, 1e300, 0);
    EXPECT_EQ(p.FormatPBS(), "0;0.0");
    EXPECT_THROW(p.FormatPBW(), std::domain_error);
    p.AddPoint(BendShape::Straight, false, std::numeric_limits<double>::quiet_NaN(), 0);
    EXPECT_THROW(p.FormatPBW(), std::domain_error);
}

TEST(PortamentoFormat, ShapeEntries) {
    Portamento p;
    p.AddPoint(BendShape::Straight, false, 0, 0);
    p.AddPoint(BendShape::RCurve, false, 10, 0);
    p.AddPoint(BendShape::SCurve, false, 20, 0);
    p.AddPoint(BendShape::JCurve, false, 30, 0);
    p.AddPoint(BendShape::Straight, false, 40, 0);
    EXPECT_EQ(p.FormatPBM(), "r,,j,s");
}

TEST(PortamentoAddPoint, EqualTimesGoAfterWithoutReplaceAndBeforeWithIt) {
    Portamento p;
    p.AddPoint(BendShape::Straight, false, 0, 1);
    p.AddPoint(BendShape::Straight, false, 10, 2);
    p.AddPoint(BendShape::Straight, false, 20, 5);
    EXPECT_EQ(p.AddPoint(BendShape::Straight, false, 10, 3), 2);
    EXPECT_EQ(p.AddPoint(BendShape::Straight, true, 10, 4), 1);
    EXPECT_EQ(Values(p), (std::vector<double>{1, 4, 2, 3, 5}));
}

TEST(PortamentoAddPoint, AnEmptyShapeTakesTheFollowingShapeOrS) {
    Portamento p;
    p.AddPoint(BendShape::JCurve, false, 10, 0);
    p.AddPoint(std::nullopt, false, 0, 0);
    p.AddPoint(std::nullopt, false, 20, 0);
    EXPECT_EQ(p.Point(0).Shape, BendShape::JCurve);
    EXPECT_EQ(p.Point(2).Shape, BendShape::SCurve);
}

TEST(PortamentoAddPoint, DuplicatesAreStillInsertedAndReplaceSetsTheShape) {
    Portamento p;
    p.AddPoint(BendShape::Straight, false, 0, 0);
    p.AddPoint(BendShape::Straight, false, 5, 7);
    EXPECT_EQ(p.AddPoint(BendShape::Straight, false, 5, 7), 2);
    EXPECT_EQ(p.Count(), 3);
    // The existing equal point takes the shape; the new one is inserted before it.
    EXPECT_EQ(p.AddPoint(BendShape::RCurve, true, 0, 0), 0);
    EXPECT_EQ(p.Count(), 4);
    EXPECT_EQ(p.Point(0).Shape, BendShape::RCurve);
    EXPECT_EQ(p.Point(1).Shape, BendShape::RCurve);
}

TEST(PortamentoAddPoint, SharedEndTimesAreOverwritten) {
    Portamento p;
    p.AddPoint(BendShape::Straight, false, 0, 100);
    p.AddPoint(BendShape::Straight, false, 0, 50);
    p.AddPoint(BendShape::Straight, false, 30, 0);
    p.AddPoint(BendShape::Straight, false, 30, 10);
    // At or before the first of two equal start times: point 0 is overwritten.
    EXPECT_EQ(p.AddPoint(std::nullopt, true, -5, 200), 0);
    EXPECT_EQ(p.Count(), 4);
    EXPECT_EQ(p.Point(0).Time, -5);
    EXPECT_EQ(p.Point(0).Value, 200);
    EXPECT_EQ(p.Point(0).Shape, BendShape::SCurve);  // no shape given: the default curve
    // At or after the last of two equal end times: the last point.
    EXPECT_EQ(p.AddPoint(BendShape::JCurve, false, 30, 0), 3);
    EXPECT_EQ(p.Count(), 4);
    EXPECT_EQ(p.Point(3).Value, 0);
    EXPECT_EQ(p.Point(3).Shape, BendShape::JCurve);
    EXPECT_EQ(p.FormatPBM(), "s,s,j");
    // Without a shape the end point has none: its entry is the default curve.
    EXPECT_EQ(p.AddPoint(std::nullopt, false, 40, 0), 3);
    EXPECT_EQ(p.FormatPBM(), "s,s,");
}

TEST(PortamentoDeletePoint, OutOfRangeIsIgnored) {
    Portamento p;
    p.AddPoint(BendShape::Straight, false, 0, 0);
    p.AddPoint(BendShape::Straight, false, 1, 1);
    p.DeletePoint(-1);
    p.DeletePoint(2);
    EXPECT_EQ(p.Count(), 2);
    p.DeletePoint(0);
    EXPECT_EQ(Values(p), (std::vector<double>{1}));
    p.Clear();
    EXPECT_EQ(p.Count(), 0);
}

TEST(PortamentoSimplify, DeviationFromTheLineThroughTheNeighbours) {
    EXPECT_DOUBLE_EQ(LineDeviation({0, 0, BendShape::Straight}, {5, 50, BendShape::Straight},
                                   {10, 100, BendShape::Straight}),
                     0.0);
    EXPECT_DOUBLE_EQ(LineDeviation({0, 0, BendShape::Straight}, {5, 80, BendShape::Straight},
                                   {10, 100, BendShape::Straight}),
                     30.0);
    EXPECT_DOUBLE_EQ(LineDeviation({0, 100, BendShape::Straight}, {2.5, 0, BendShape::Straight},
                                   {10, 100, BendShape::Straight}),
                     100.0);
    // Neighbours at one time (out of order after spacing): from their mean.
    EXPECT_DOUBLE_EQ(LineDeviation({10, 0, BendShape::Straight}, {5, 80, BendShape::Straight},
                                   {10, 100, BendShape::Straight}),
                     30.0);
}

TEST(PortamentoSimplify, ClampsTimesAndRemovesDuplicatesAndTripleTimes) {
    Portamento p = WithLimits(-20, 100);
    p.AddPoint(BendShape::Straight, false, -50, 0);
    p.AddPoint(BendShape::Straight, false, 50, 300);
    p.AddPoint(BendShape::Straight, false, 50, 300);
    p.AddPoint(BendShape::Straight, false, 200, 0);
    p.Simplify();
    EXPECT_EQ(Times(p), (std::vector<double>{-20, 50, 100}));

    Portamento triple = WithLimits(-100, 100);
    triple.AddPoint(BendShape::Straight, false, 0, 0);
    triple.AddPoint(BendShape::Straight, false, 0, 50);
    triple.AddPoint(BendShape::Straight, false, 0, 100);
    triple.Simplify();
    EXPECT_EQ(Values(triple), (std::vector<double>{0, 100}));
}

TEST(PortamentoSimplify, AStraightLineCollapsesToItsEndPairs) {
    Portamento p = WithLimits(-1000, 1000);
    for (int i = 0; i < 60; ++i) p.AddPoint(BendShape::Straight, false, 15.0 * i, 15.0 * i);
    p.Simplify();
    EXPECT_EQ(Times(p), (std::vector<double>{0, 15, 870, 885}));
}

TEST(PortamentoSimplify, SmallStepsGoAndClosePointsAreSpreadApart) {
    Portamento p = WithLimits(-100, 300);
    p.AddPoint(BendShape::Straight, false, 0, 0);
    p.AddPoint(BendShape::Straight, false, 100, 0);
    p.AddPoint(BendShape::Straight, false, 105,
               29);  // within 10 ms and 30 cents of both neighbours
    p.AddPoint(BendShape::Straight, false, 109, 0);
    p.AddPoint(BendShape::Straight, false, 300, 0);
    p.Simplify();
    // 100 and 109 are 9 ms apart: each moves out to the 10 ms spacing
    // around their middle, 104.5 ± 5.
    EXPECT_EQ(Times(p), (std::vector<double>{0, 99.5, 109.5, 300}));
}

TEST(PortamentoSimplify, ASharpPeakStays) {
    Portamento p = WithLimits(-100, 300);
    p.AddPoint(BendShape::Straight, false, 0, 0);
    p.AddPoint(BendShape::Straight, false, 50, 0);
    p.AddPoint(BendShape::Straight, false, 100, 300);
    p.AddPoint(BendShape::Straight, false, 150, 0);
    p.AddPoint(BendShape::Straight, false, 300, 0);
    p.Simplify();
    EXPECT_EQ(Values(p), (std::vector<double>{0, 0, 300, 0, 0}));
}

TEST(PortamentoSimplify, MoreThanFiftyPointsAreCutToFiftyKeepingTheEnds) {
    Portamento p = WithLimits(-10000, 10000);
    for (int i = 0; i < 80; ++i)
        p.AddPoint(BendShape::SCurve, false, 15.0 * i, i % 2 == 1 ? 300.0 + i : 0.0);
    p.Simplify();
    ASSERT_EQ(p.Count(), 50);
    // Every interior point i deviates by 300 + i from the line through its
    // neighbours (a peak above zeros, or a zero below two peaks), so the 30
    // smallest deviations are points 1..30.
    std::vector<double> expected{0};
    for (int i = 31; i < 80; ++i) expected.push_back(15.0 * i);
    EXPECT_EQ(Times(p), expected);
}

TEST(PortamentoSimplify, StraightLineRunsGoFirstWhenCutting) {
    Portamento p = WithLimits(-10000, 10000);
    for (int i = 0; i < 52; ++i) {
        const bool line = i >= 10 && i <= 12;
        p.AddPoint(line ? BendShape::Straight : BendShape::SCurve, false, 15.0 * i,
                   i % 2 == 1 ? 300.0 : 0.0);
    }
    p.Simplify();
    ASSERT_EQ(p.Count(), 50);
    // Points 10 and 11 each start a line-to-line pair: their keys drop by 100.
    std::vector<double> expected;
    for (int i = 0; i < 52; ++i) {
        if (i != 10 && i != 11) expected.push_back(15.0 * i);
    }
    EXPECT_EQ(Times(p), expected);
}

TEST(PortamentoSimplify, RandomPolylinesEndWithinTheLimitsAndFormat) {
    // Crowded, repeated and out-of-range points, as a noisy trace gives them.
    std::uint32_t state = 2024;
    auto next = [&state](int range) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 8) % static_cast<std::uint32_t>(range));
    };
    for (int round = 0; round < 300; ++round) {
        Portamento p = WithLimits(-next(300), 50 + next(600));
        const int count = next(250);
        for (int i = 0; i < count; ++i) {
            const std::optional<BendShape> shapes[] = {BendShape::Straight, BendShape::SCurve,
                                                       BendShape::RCurve, BendShape::JCurve,
                                                       std::nullopt};
            p.AddPoint(shapes[next(5)], next(2) == 1, next(900) - 350, next(5) * 50 - 100);
        }
        const int before = p.Count();
        p.Simplify();
        ASSERT_LE(p.Count(), 50);
        ASSERT_LE(p.Count(), before);
        if (before > 0) {
            ASSERT_GE(p.Count(), 1);  // the first point always stays
        }
        for (const PortamentoPoint& point : p.Points()) {
            ASSERT_GE(point.Time, p.StartLimitMs);
            ASSERT_LE(point.Time, p.EndMs);
            ASSERT_NE(point.Shape, BendShape::Dropped);
        }
        EXPECT_NO_THROW({
            p.FormatPBS();
            p.FormatPBW();
            p.FormatPBY();
            p.FormatPBM();
        });
    }
}

}  // namespace
}  // namespace melodrift

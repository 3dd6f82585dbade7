#include "text/NumberFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

namespace melodrift {
namespace {

TEST(FormatGeneral, WritesTheShortestFormWithFifteenDigits) {
    EXPECT_EQ(FormatGeneral(480), "480");
    EXPECT_EQ(FormatGeneral(62.5), "62.5");
    EXPECT_EQ(FormatGeneral(0), "0");
    EXPECT_EQ(FormatGeneral(-0.0), "0");
    EXPECT_EQ(FormatGeneral(1000.5), "1000.5");
    EXPECT_EQ(FormatGeneral(-40), "-40");
    EXPECT_EQ(FormatGeneral(12.346), "12.346");
    EXPECT_EQ(FormatGeneral(0.1 + 0.2), "0.3");
    EXPECT_EQ(FormatGeneral(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(FormatGeneral(2.0 / 3.0), "0.666666666666667");
    EXPECT_EQ(FormatGeneral(123456789012345.0), "123456789012345");
}

TEST(FormatGeneral, UsesAnExponentOnlyOutsideTheFixedRange) {
    EXPECT_EQ(FormatGeneral(0.00001), "0.00001");
    EXPECT_EQ(FormatGeneral(0.000001), "1E-6");
    EXPECT_EQ(FormatGeneral(-0.0000015), "-1.5E-6");
    EXPECT_EQ(FormatGeneral(1e15), "1E15");
    EXPECT_EQ(FormatGeneral(999999999999999.0), "999999999999999");
}

TEST(FormatGeneral, RefusesNumbersThatAreNotFinite) {
    EXPECT_THROW(FormatGeneral(INFINITY), std::domain_error);
    EXPECT_THROW(FormatGeneral(NAN), std::domain_error);
}

TEST(FormatFixed, RoundsToNearestWithTiesAwayFromZero) {
    EXPECT_EQ(FormatFixed(0.0, 1), "0.0");
    EXPECT_EQ(FormatFixed(-4.0, 1), "-4.0");
    EXPECT_EQ(FormatFixed(-2.0, 1), "-2.0");
    EXPECT_EQ(FormatFixed(0.5, 0), "1");
    EXPECT_EQ(FormatFixed(2.5, 0), "3");
    EXPECT_EQ(FormatFixed(-2.5, 0), "-3");
    EXPECT_EQ(FormatFixed(49.5, 0), "50");
    EXPECT_EQ(FormatFixed(20.96, 0), "21");
    EXPECT_EQ(FormatFixed(-0.25, 1), "-0.3");
    EXPECT_EQ(FormatFixed(9.96, 1), "10.0");
    EXPECT_EQ(FormatFixed(-0.04, 1), "0.0");
    // 0.15 is stored as 0.1499999999999999944…: below the tie.
    EXPECT_EQ(FormatFixed(0.15, 1), "0.1");
}

TEST(Rounding, TruncatingAndFlooringDifferForNegativeValues) {
    EXPECT_EQ(RoundHalfUpTrunc(-10.7), -10);
    EXPECT_EQ(RoundHalfUpTrunc(2.5), 3);
    EXPECT_EQ(RoundHalfUpTrunc(-2.5), -2);
    EXPECT_EQ(RoundHalfUpTrunc(12345.67), 12346);
    EXPECT_EQ(HalfUp(-10.7), -11);
    EXPECT_EQ(HalfUp(-2.5), -2);
    EXPECT_EQ(HalfUp(-40.0), -40);
    EXPECT_EQ(HalfUp(2.49), 2);
}

TEST(FormatInteger, WritesALeadingMinusOnly) {
    EXPECT_EQ(FormatInteger(0), "0");
    EXPECT_EQ(FormatInteger(-12), "-12");
    EXPECT_EQ(FormatInteger(60), "60");
}

}  // namespace
}  // namespace melodrift

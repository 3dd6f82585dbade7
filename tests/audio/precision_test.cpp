// The analysis' extended-precision steps (lag limits, peak interpolation,
// the frequency table's sums, the loudness normalisation) use long double.
// Their results are the same bits on Linux and Windows only where long
// double is the x87 80-bit type with a 64-bit mantissa: GCC and Clang on
// x86-64, MinGW-w64 included. MSVC's long double is double; its builds
// differ from these in the last bits (README, "Windows").
#include <gtest/gtest.h>

#include <cfloat>
#include <limits>

namespace {

TEST(ExtendedPrecision, LongDoubleIsTheEightyBitTypeTheResultsWereMadeWith) {
#if defined(_MSC_VER) && !defined(__clang__)
    GTEST_SKIP() << "MSVC: long double is double (53-bit mantissa); results differ from Linux in "
                    "the last bits";
#else
    EXPECT_EQ(std::numeric_limits<long double>::digits, 64);
    EXPECT_EQ(LDBL_MAX_EXP, 16384);
    // 1 + 2^-63 exists in the 64-bit mantissa and rounds away in double's.
    const long double oneAndABit = 1.0L + 1.0L / 9223372036854775808.0L;
    EXPECT_NE(oneAndABit, 1.0L);
    EXPECT_EQ(static_cast<double>(oneAndABit), 1.0);
#endif
}

}  // namespace

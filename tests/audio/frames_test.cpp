#include "audio/Fft.h"
#include "audio/Frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

namespace melodrift {
namespace {

TEST(Conversions, NearestBinOfTheHarmonicLimitCombAndNoiseEdges) {
    EXPECT_EQ(NearestBin(18000.0), 836);
    EXPECT_EQ(NearestBin(150.0), 7);
    EXPECT_EQ(NearestBin(50.0), 2);
    EXPECT_EQ(NearestBin(0.0), 0);
    // Truncation toward zero: -150 Hz is bin -6.97 + 0.5 = -6.47 -> -6.
    EXPECT_EQ(NearestBin(-150.0), -6);
    // Frequencies beyond any bin saturate instead of overflowing.
    EXPECT_EQ(NearestBin(1e300), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(NearestBin(-1e300), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(NearestBin(std::nan("")), 0);
}

TEST(Conversions, NearestBinTruncatesTheExtendedValueRightAtEveryHalfBin) {
    // The frequencies that land exactly on, or a few ulp either side of, a
    // half bin (where the truncation flips) for every bin up to 2^20, and
    // harmonics h * f of pitches as the analysis produces them: each against
    // the extended evaluation written out.
    const auto reference = [](double hz) {
        return static_cast<std::int32_t>(
            std::trunc(static_cast<long double>(hz) / 44100 * 2048 + 0.5L));
    };
    for (int bin = 0; bin < (1 << 20); bin += bin < 2048 ? 1 : 97) {
        const double edge =
            static_cast<double>((static_cast<long double>(bin) + 0.5L) * 44100 / 2048);
        double up = edge;
        double down = edge;
        for (int step = 0; step < 4; ++step) {
            ASSERT_EQ(NearestBin(up), reference(up)) << up;
            ASSERT_EQ(NearestBin(down), reference(down)) << down;
            up = std::nextafter(up, 1e300);
            down = std::nextafter(down, -1e300);
        }
    }
    for (float f0 = 40.0f; f0 < 1000.0f; f0 = std::nextafter(f0, 2000.0f) + 0.013f) {
        for (int h = 1; h <= 30; ++h) {
            const double hz = static_cast<double>(h) * f0;
            ASSERT_EQ(NearestBin(hz), reference(hz)) << hz;
        }
    }
}

TEST(Conversions, CentsPutA440At6900AndZeroMeansNoPitch) {
    EXPECT_NEAR(HzToCents(440.0), 6900.0, 1e-9);
    EXPECT_NEAR(HzToCents(220.0), 5700.0, 1e-9);
    EXPECT_NEAR(CentsToHz(6900.0), 440.0, 1e-9);
    EXPECT_NEAR(CentsToHz(5800.0), 220.0 * std::pow(2.0, 1.0 / 12.0), 1e-9);
    EXPECT_EQ(HzToCents(0.0), 0.0);
    EXPECT_EQ(HzToCents(-10.0), 0.0);
    EXPECT_EQ(CentsToHz(0.0), 0.0);
    EXPECT_EQ(CentsToHz(-100.0), 0.0);
}

TEST(Conversions, BinsAndLagsMapBackToHertz) {
    EXPECT_NEAR(HzToBin(44100.0 / 2048.0 * 10.0), 10.0, 1e-12);
    EXPECT_NEAR(BinToHz(1024.0), 22050.0, 1e-9);
    // A lag of 100 samples is the period of 441 Hz.
    EXPECT_NEAR(BinToHz(LagToBin(100.0)), 441.0, 1e-9);
    EXPECT_NEAR(LagToBin(HzToBin(441.0)), 100.0, 1e-9);
}

TEST(HannWindowTable, PeriodicHannWithZeroStartHalfAtQuarterOneAtCentre) {
    const auto& w = HannWindow();
    ASSERT_EQ(w.size(), 2048u);
    EXPECT_EQ(w[0], 0.0);
    EXPECT_NEAR(w[512], 0.5, 1e-15);
    EXPECT_NEAR(w[1024], 1.0, 1e-15);
    EXPECT_NEAR(w[1536], 0.5, 1e-15);
    // Periodic: symmetric around 1024, w[i] = w[2048 - i].
    EXPECT_NEAR(w[1], w[2047], 1e-15);
    EXPECT_EQ(&HannWindow(), &w);  // one table for the process

    std::vector<double> a(2048, 2.0);
    ApplyWindow(a);
    EXPECT_EQ(a[0], 0.0);
    EXPECT_NEAR(a[512], 1.0, 1e-15);
    EXPECT_NEAR(a[1024], 2.0, 1e-15);
}

TEST(SynthParams, InitWritesTheDefaults) {
    SynthParams p;
    p.F0 = 123.0f;
    p.NoiseFloor = 9.0f;
    InitSynthParams(p);
    EXPECT_EQ(p.F0, 0.0f);
    EXPECT_EQ(p.EnvelopeScale, 1.0f);
    EXPECT_EQ(p.NoiseFloor, 0.3f);
    EXPECT_EQ(p.NoiseFloorLevel, 5000.0f);
    EXPECT_EQ(p.TiltExponent, 1.0f);
}

// Direct DFT in extended precision in the rdft packing.
std::vector<long double> DirectRdft(const std::vector<double>& x) {
    const int n = static_cast<int>(x.size());
    std::vector<long double> a(x.size());
    const long double pi = std::numbers::pi_v<long double>;
    for (int k = 0; k <= n / 2; ++k) {
        long double c = 0.0L;
        long double s = 0.0L;
        for (int j = 0; j < n; ++j) {
            // Reduce j*k mod n so the angle stays small and exact.
            const long double angle = 2.0L * pi * static_cast<long double>((j * k) % n) / n;
            c += x[static_cast<std::size_t>(j)] * std::cos(angle);
            s += x[static_cast<std::size_t>(j)] * std::sin(angle);
        }
        if (k == 0) {
            a[0] = c;
        } else if (k == n / 2) {
            a[1] = c;
        } else {
            a[static_cast<std::size_t>(2 * k)] = c;
            a[static_cast<std::size_t>(2 * k + 1)] = s;
        }
    }
    return a;
}

TEST(RealFft, MatchesADirectDftInTheRdftPacking) {
    std::mt19937 random(20240611);
    std::uniform_real_distribution<double> uniform(-1000.0, 1000.0);
    std::vector<double> x(FftSize);
    for (double& v : x) v = uniform(random);
    const auto expected = DirectRdft(x);

    std::array<double, FftSize> a{};
    std::copy(x.begin(), x.end(), a.begin());
    FftWorkspace fft;
    fft.Rdft(a);
    for (std::size_t i = 0; i < a.size(); ++i) {
        // Sums of 2048 terms of up to 1000: rounding stays far below 1e-6.
        ASSERT_NEAR(a[i], static_cast<double>(expected[i]), 1e-6) << "index " << i;
    }
}

TEST(RealFft, SineSumIsPositiveForASineInput) {
    // x[j] = sin(2 pi 5 j / 2048): the sine sum of bin 5 is +1024, the cosine
    // sum 0 (the sign convention of rdft, not FFTW's).
    std::array<double, FftSize> a{};
    for (int j = 0; j < FftSize; ++j)
        a[static_cast<std::size_t>(j)] = std::sin(2.0 * std::numbers::pi * 5 * j / FftSize);
    FftWorkspace fft;
    fft.Rdft(a);
    EXPECT_NEAR(a[10], 0.0, 1e-9);
    EXPECT_NEAR(a[11], 1024.0, 1e-9);
}

TEST(RealFft, TwoThreadsWithTheirOwnWorkspacesGetIdenticalBits) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::array<double, FftSize> input{};
    for (double& v : input) v = uniform(random);

    std::array<double, FftSize> reference = input;
    FftWorkspace mainFft;
    mainFft.Rdft(reference);

    std::array<std::array<double, FftSize>, 2> results{};
    std::vector<std::thread> threads;
    for (auto& result : results) {
        threads.emplace_back([&input, &result] {
            FftWorkspace fft;
            for (int repeat = 0; repeat < 200; ++repeat) {
                result = input;
                fft.Rdft(result);
            }
        });
    }
    for (auto& t : threads) t.join();
    for (const auto& result : results) EXPECT_EQ(result, reference);
}

}  // namespace
}  // namespace melodrift

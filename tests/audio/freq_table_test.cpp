#include "audio/FrequencyTable.h"

#include <gtest/gtest.h>

#include "Golden.h"
#include "TempFolder.h"

#include <bit>
#include <cstdint>
#include <filesystem>
#include <string>

#include "text/Files.h"

namespace melodrift {
namespace {

double AverageInImage(const std::string& image) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>(image[12 + i]);
    return std::bit_cast<double>(bits);
}

TEST(FreqTable, EmptyTableIsTheFortyByteHeaderWithAverageZero) {
    FrequencyTable table;
    EXPECT_EQ(table.SamplesPerFrame, 256);
    EXPECT_EQ(table.AverageFreq, 55.0);
    EXPECT_EQ(table.ItemCount(), 0);
    table.AverageFreq = table.ComputeAverageFreq();
    EXPECT_TRUE(testing::MatchesGolden("empty.frq", table.ToBytes()));
}

TEST(FreqTable, ItemsFollowTheHeaderAsLittleEndianDoublePairs) {
    FrequencyTable table;
    table.SetCount(2);
    table.Items[0] = {220.0, 1.5};
    table.Items[1] = {55.0, 0.0};
    table.AverageFreq = table.ComputeAverageFreq();  // 55.0 is left out: 220
    // Header: magic, 256 samples per frame, the average, 16 reserved bytes,
    // the count; then each item's frequency and amplitude (little-endian doubles).
    EXPECT_TRUE(testing::MatchesGolden("two_items.frq", table.ToBytes()));
}

TEST(FreqTable, AverageLeavesOutZeroAndExactly55HzButCounts55Point1) {
    FrequencyTable table;
    table.SetCount(5);
    table.Items[0].Freq = 55.0;
    table.Items[1].Freq = 0.0;
    table.Items[2].Freq = 55.1;
    table.Items[3].Freq = 220.0;
    table.Items[4].Freq = 55.0;
    EXPECT_DOUBLE_EQ(table.ComputeAverageFreq(), (55.1 + 220.0) / 2);

    FrequencyTable unvoiced;
    unvoiced.SetCount(3);
    unvoiced.Items[0].Freq = 55.0;
    unvoiced.Items[2].Freq = 55.0;
    EXPECT_EQ(unvoiced.ComputeAverageFreq(), 0.0);
}

TEST(FreqTable, SetCountResizesWithZeroItemsAndRejectsNegativeCounts) {
    FrequencyTable table;
    table.SetCount(2);
    table.Items[0] = {100.0, 2.0};
    table.SetCount(4);
    EXPECT_EQ(table.ItemCount(), 4);
    EXPECT_EQ(table.Items[0].Freq, 100.0);
    EXPECT_EQ(table.Items[3].Freq, 0.0);
    EXPECT_EQ(table.Items[3].Amp, 0.0);
    table.SetCount(1);
    EXPECT_EQ(table.ItemCount(), 1);
    EXPECT_THROW(table.SetCount(-1), std::invalid_argument);
    EXPECT_EQ(table.ItemCount(), 1);
}

TEST(FreqTableFile, SaveRecomputesTheAverageAndReplacesTheFile) {
    const testing::TempFolder dir;
    const auto path = dir / "a_wav.frq";
    WriteFileAtomically(path, "an older, longer file that must be replaced entirely");

    FrequencyTable table;
    table.SetCount(3);
    table.Items[0] = {55.0, 10.0};
    table.Items[1] = {200.0, 20.0};
    table.Items[2] = {300.0, 30.0};
    ASSERT_TRUE(table.SaveToFile(path));
    EXPECT_EQ(table.AverageFreq, 250.0);
    const std::string written = ReadFileBytes(path);
    EXPECT_EQ(written.size(), 40u + 3 * 16);
    EXPECT_EQ(written, table.ToBytes());
    EXPECT_EQ(AverageInImage(written), 250.0);

    // A folder that does not exist: the failure is raised, nothing is created.
    EXPECT_ANY_THROW((void)table.SaveToFile(dir / "missing" / "b_wav.frq"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

}  // namespace
}  // namespace melodrift

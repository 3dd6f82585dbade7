// The frequency table of a recording (".frq"): one fundamental frequency and
// one amplitude per analysis frame, written beside a recording that serves as
// a voice source.
//
// File layout, little-endian:
//
//   offset  size    content
//   0       8       "FREQ0003"
//   8       4       samples per frame (int32, 256)
//   12      8       average frequency (double, Hz)
//   20      16      zero
//   36      4       item count N (int32)
//   40      16·N    per item: frequency (double, Hz), amplitude (double)
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace melodrift {

class FileTransaction;

struct FrequencyTableItem {
    double Freq = 0.0;  // [Hz]; 55.0 marks an unvoiced frame
    double Amp = 0.0;
};
using FrequencyTableItems = std::vector<FrequencyTableItem>;

class FrequencyTable {
  public:
    static constexpr char kMagic[9] = "FREQ0003";
    static constexpr std::size_t kHeaderBytes = 40;
    // Frequency written for unvoiced frames; left out of the average.
    static constexpr double kUnvoicedFreq = 55.0;

    std::int32_t SamplesPerFrame = 256;
    double AverageFreq = kUnvoicedFreq;  // [Hz]; recomputed by SaveToFile
    std::array<std::uint8_t, 16> Reserved{};
    FrequencyTableItems Items;

    std::int32_t ItemCount() const { return static_cast<std::int32_t>(Items.size()); }
    // Resizes the item list; new items are zero. Throws std::invalid_argument
    // for a negative count.
    void SetCount(std::int32_t count);

    // Mean of Freq over the items whose Freq is neither 0 nor exactly 55.0;
    // 0 when there is none.
    double ComputeAverageFreq() const;

    // The file image of the table as it stands (AverageFreq as stored).
    std::string ToBytes() const;

    // Sets AverageFreq from the items and writes the file atomically (a
    // failure never leaves a truncated file). Returns true once written;
    // throws std::system_error / std::filesystem::filesystem_error when the
    // file cannot be written, so the failure reaches the user.
    bool SaveToFile(const std::filesystem::path& path);
    // The same, the file's content added to `files` to be written with them.
    void SaveToFile(const std::filesystem::path& path, FileTransaction& files);
};

}  // namespace melodrift

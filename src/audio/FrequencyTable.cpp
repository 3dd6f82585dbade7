#include "audio/FrequencyTable.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "system/Files.h"

namespace melodrift {

namespace {

void AppendU32(std::string& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void AppendDouble(std::string& out, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (int shift = 0; shift < 64; shift += 8)
        out.push_back(static_cast<char>((bits >> shift) & 0xFF));
}

}  // namespace

void FrequencyTable::SetCount(std::int32_t count) {
    if (count < 0) throw std::invalid_argument("negative frequency-table item count");
    Items.resize(static_cast<std::size_t>(count));
}

double FrequencyTable::ComputeAverageFreq() const {
    long double sum = 0.0L;
    std::size_t counted = 0;
    for (const FrequencyTableItem& item : Items) {
        if (item.Freq == 0.0 || item.Freq == kUnvoicedFreq) continue;
        sum += item.Freq;
        ++counted;
    }
    return counted == 0 ? 0.0 : static_cast<double>(sum / counted);
}

std::string FrequencyTable::ToBytes() const {
    if (Items.size() > static_cast<std::size_t>(INT32_MAX))
        throw std::length_error("frequency table too large");
    std::string bytes;
    bytes.reserve(kHeaderBytes + 16 * Items.size());
    bytes.append(kMagic, 8);
    AppendU32(bytes, static_cast<std::uint32_t>(SamplesPerFrame));
    AppendDouble(bytes, AverageFreq);
    bytes.append(reinterpret_cast<const char*>(Reserved.data()), Reserved.size());
    AppendU32(bytes, static_cast<std::uint32_t>(ItemCount()));
    for (const FrequencyTableItem& item : Items) {
        AppendDouble(bytes, item.Freq);
        AppendDouble(bytes, item.Amp);
    }
    return bytes;
}

bool FrequencyTable::SaveToFile(const std::filesystem::path& path) {
    FileTransaction files;
    SaveToFile(path, files);
    files.Commit();
    return true;
}

void FrequencyTable::SaveToFile(const std::filesystem::path& path, FileTransaction& files) {
    AverageFreq = ComputeAverageFreq();
    files.Add(path, ToBytes());
}

}  // namespace melodrift

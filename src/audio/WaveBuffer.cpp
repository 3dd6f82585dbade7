#include "audio/WaveBuffer.h"

#include "audio/Parallel.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <new>
#include <ostream>
#include <stdexcept>

#include "system/Files.h"

namespace melodrift {

namespace {

std::uint16_t ReadU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ReadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void AppendU16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void AppendU32(std::string& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

bool IsChunkId(const std::uint8_t* p, const char (&id)[5]) { return std::memcmp(p, id, 4) == 0; }

// The silence value of one byte of a sample of this width.
std::uint8_t SilenceByte(std::uint16_t bitsPerSample) { return bitsPerSample == 8 ? 128 : 0; }

// A reader over a file image that fails (instead of reading past the end)
// whenever fewer bytes remain than asked for.
class ByteReader {
  public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t Remaining() const { return bytes_.size() - pos_; }
    std::uint64_t Size() const { return bytes_.size(); }
    std::uint64_t Position() const { return pos_; }

    // Pointer to the next `n` bytes, advancing past them; nullptr at the end.
    const std::uint8_t* Take(std::size_t n) {
        if (n > Remaining()) return nullptr;
        const std::uint8_t* p = bytes_.data() + pos_;
        pos_ += n;
        return p;
    }

    bool Skip(std::uint64_t n) {
        if (n > Remaining()) return false;
        pos_ += static_cast<std::size_t>(n);
        return true;
    }

    // Copies the next `n` bytes to `out`, advancing past them.
    bool ReadInto(std::uint8_t* out, std::size_t n) {
        const std::uint8_t* p = Take(n);
        if (p == nullptr) return false;
        std::copy_n(p, n, out);
        return true;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// The same reads from a file, holding only the small pieces taken: chunks
// that are skipped are never read, so a file that is mostly foreign chunks
// costs no memory.
class FileReader {
  public:
    explicit FileReader(const std::filesystem::path& path)
        : path_(path), in_(path, std::ios::binary) {
        if (!in_) return;
        in_.seekg(0, std::ios::end);
        const std::streamoff end = in_.tellg();
        in_.seekg(0, std::ios::beg);
        if (end < 0 || !in_) return;
        size_ = static_cast<std::uint64_t>(end);
        open_ = true;
    }

    bool IsOpen() const { return open_; }
    std::uint64_t Remaining() const { return size_ - pos_; }
    std::uint64_t Size() const { return size_; }
    std::uint64_t Position() const { return pos_; }

    // Pointer to the next `n` bytes (valid until the next Take), advancing
    // past them; nullptr at the end or on a read error.
    const std::uint8_t* Take(std::size_t n) {
        if (n > Remaining()) return nullptr;
        piece_.resize(n);
        if (!ReadInto(piece_.data(), n)) return nullptr;
        return piece_.data();
    }

    bool Skip(std::uint64_t n) {
        if (n > Remaining()) return false;
        pos_ += n;
        in_.seekg(static_cast<std::streamoff>(pos_), std::ios::beg);
        return static_cast<bool>(in_);
    }

    bool ReadInto(std::uint8_t* out, std::size_t n) {
        if (n > Remaining()) return false;
        // A long run (the samples of a long take) is read in two halves at
        // once, the second through a stream of its own: copying from the
        // file and the first touch of the new buffer's pages run on two
        // cores.
        constexpr std::size_t kWorthAThread = std::size_t{16} << 20;
        const std::uint64_t start = pos_;
        const auto readPart = [this, out, start](std::size_t first, std::size_t last) {
            if (first == 0) return ReadHere(out, last);
            std::ifstream other(path_, std::ios::binary);
            if (!other.seekg(static_cast<std::streamoff>(start + first), std::ios::beg))
                return false;
            other.read(reinterpret_cast<char*>(out + first),
                       static_cast<std::streamsize>(last - first));
            return static_cast<std::size_t>(other.gcount()) == last - first;
        };
        if (!InTwoHalves(n, kWorthAThread, readPart, std::logical_and<>())) return false;
        // This stream read the first part only: move on past the second.
        return pos_ == start + n || Skip(start + n - pos_);
    }

  private:
    bool ReadHere(std::uint8_t* out, std::size_t n) {
        in_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n));
        if (static_cast<std::size_t>(in_.gcount()) != n) return false;
        pos_ += n;
        return true;
    }

    std::filesystem::path path_;
    std::ifstream in_;
    std::uint64_t size_ = 0;
    std::uint64_t pos_ = 0;
    bool open_ = false;
    std::vector<std::uint8_t> piece_;
};

// Size of a chunk body with its pad byte: RIFF pads every odd-sized chunk to
// an even length.
std::uint64_t PaddedSize(std::uint32_t size) {
    return static_cast<std::uint64_t>(size) + (size & 1U);
}

}  // namespace

void WaveFormat::ReadFrom(std::span<const std::uint8_t> bytes) {
    const std::size_t n = std::min(bytes.size(), kRecordBytes);
    std::uint8_t record[kRecordBytes] = {};
    // Unread bytes keep the current field values.
    record[0] = static_cast<std::uint8_t>(FormatTag);
    record[1] = static_cast<std::uint8_t>(FormatTag >> 8);
    record[2] = static_cast<std::uint8_t>(Channels);
    record[3] = static_cast<std::uint8_t>(Channels >> 8);
    for (int i = 0; i < 4; ++i) record[4 + i] = static_cast<std::uint8_t>(SamplesPerSec >> (8 * i));
    for (int i = 0; i < 4; ++i)
        record[8 + i] = static_cast<std::uint8_t>(AvgBytesPerSec >> (8 * i));
    record[12] = static_cast<std::uint8_t>(BlockAlign);
    record[13] = static_cast<std::uint8_t>(BlockAlign >> 8);
    record[14] = static_cast<std::uint8_t>(BitsPerSample);
    record[15] = static_cast<std::uint8_t>(BitsPerSample >> 8);
    record[16] = static_cast<std::uint8_t>(ExtraSize);
    record[17] = static_cast<std::uint8_t>(ExtraSize >> 8);
    std::memcpy(record, bytes.data(), n);
    FormatTag = ReadU16(record + 0);
    Channels = ReadU16(record + 2);
    SamplesPerSec = ReadU32(record + 4);
    AvgBytesPerSec = ReadU32(record + 8);
    BlockAlign = ReadU16(record + 12);
    BitsPerSample = ReadU16(record + 14);
    ExtraSize = ReadU16(record + 16);
}

void WaveBuffer::UpdateFormat() {
    format_.FormatTag = 1;
    // The product is kept in 32 bits here; a caller that needs it to fit the
    // 16-bit field checks before (LoadFromBytes rejects such formats).
    format_.BlockAlign = static_cast<std::uint16_t>((format_.BitsPerSample / 8) * format_.Channels);
    format_.AvgBytesPerSec = static_cast<std::uint32_t>(format_.BlockAlign) * format_.SamplesPerSec;
    format_.ExtraSize = 0;
}

std::int16_t WaveBuffer::GetSample(std::uint32_t frame, std::uint8_t channel) const {
    return SampleAt(frame, channel);
}

std::int16_t WaveBuffer::SampleAt(std::uint32_t frame, unsigned channel) const {
    if (sampleData_.empty() || channel >= format_.Channels || frame >= sampleCount_) return 0;
    const std::size_t bytesPerSample = format_.BitsPerSample / 8;
    const std::size_t offset =
        static_cast<std::size_t>(frame) * format_.BlockAlign + channel * bytesPerSample;
    if (offset + bytesPerSample > sampleData_.size()) return 0;
    const std::uint8_t* p = sampleData_.data() + offset;
    if (format_.BitsPerSample == 8) return static_cast<std::int16_t>((p[0] - 128) * 256);
    if (format_.BitsPerSample == 16) return static_cast<std::int16_t>(ReadU16(p));
    return 0;
}

void WaveBuffer::SetSample(std::uint32_t frame, std::uint8_t channel, std::int32_t value) {
    StoreAt(frame, channel, value);
}

void WaveBuffer::StoreAt(std::uint32_t frame, unsigned channel, std::int32_t value) {
    if (sampleData_.empty() || channel >= format_.Channels || frame >= sampleCount_) return;
    const std::size_t bytesPerSample = format_.BitsPerSample / 8;
    const std::size_t offset =
        static_cast<std::size_t>(frame) * format_.BlockAlign + channel * bytesPerSample;
    if (offset + bytesPerSample > sampleData_.size()) return;
    std::uint8_t* p = sampleData_.data() + offset;
    const auto low16 = static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFU);
    if (format_.BitsPerSample == 8) {
        // (v + 32768) div 256 with v the signed 16-bit value: 0..255.
        const int v = static_cast<std::int16_t>(low16);
        p[0] = static_cast<std::uint8_t>((v + 32768) / 256);
    } else if (format_.BitsPerSample == 16) {
        p[0] = static_cast<std::uint8_t>(low16 & 0xFF);
        p[1] = static_cast<std::uint8_t>(low16 >> 8);
    }
}

void WaveBuffer::SetFrameCount(std::uint32_t frameCount) {
    const std::uint64_t newSize = static_cast<std::uint64_t>(frameCount) * format_.BlockAlign;
    if (newSize == 0) {
        if (!sampleData_.empty()) {
            sampleData_ = {};
            dataSize_ = 0;
            sampleCount_ = 0;
            duration_ = 0.0;
        }
        return;
    }
    if (newSize > kMaxDataSize) throw std::length_error("wave buffer too large for a WAVE file");
    decltype(sampleData_) buffer(static_cast<std::size_t>(newSize),
                                 SilenceByte(format_.BitsPerSample));
    const std::size_t keep = std::min<std::size_t>(buffer.size(), sampleData_.size());
    std::copy_n(sampleData_.begin(), keep, buffer.begin());
    sampleData_ = std::move(buffer);
    SetCounts(frameCount);
}

void WaveBuffer::SizeForReading(std::uint32_t frameCount) {
    const std::uint64_t newSize = static_cast<std::uint64_t>(frameCount) * format_.BlockAlign;
    if (newSize > kMaxDataSize) throw std::length_error("wave buffer too large for a WAVE file");
    sampleData_.resize(static_cast<std::size_t>(newSize));
    SetCounts(frameCount);
}

void WaveBuffer::SetCounts(std::uint32_t frameCount) {
    dataSize_ = static_cast<std::uint32_t>(sampleData_.size());
    sampleCount_ = frameCount;
    duration_ =
        format_.SamplesPerSec == 0 ? 0.0 : static_cast<double>(frameCount) / format_.SamplesPerSec;
}

void WaveBuffer::TakeOver(WaveBuffer& other) {
    if (&other == this) return;
    format_.Channels = other.format_.Channels;
    format_.SamplesPerSec = other.format_.SamplesPerSec;
    format_.BitsPerSample = other.format_.BitsPerSample;
    UpdateFormat();
    sampleData_ = std::move(other.sampleData_);
    dataSize_ = other.dataSize_;
    sampleCount_ = other.sampleCount_;
    duration_ = other.duration_;
    // Exactly one wave owns the buffer.
    other.sampleData_ = {};
    other.dataSize_ = 0;
    other.sampleCount_ = 0;
    other.duration_ = 0.0;
}

void WaveBuffer::ConvertChannels(std::uint16_t channels) {
    if (channels == format_.Channels || channels == 0) return;
    WaveBuffer converted;
    converted.format_ = format_;
    converted.format_.Channels = channels;
    converted.UpdateFormat();
    converted.SetFrameCount(sampleCount_);
    const unsigned sourceChannels = format_.Channels;
    for (std::uint32_t frame = 0; frame < sampleCount_; ++frame) {
        std::int64_t sum = 0;
        for (unsigned c = 0; c < sourceChannels; ++c) sum += SampleAt(frame, c);
        const auto mean = static_cast<std::int32_t>(sourceChannels == 0 ? 0 : sum / sourceChannels);
        for (unsigned c = 0; c < channels; ++c) converted.StoreAt(frame, c, mean);
    }
    TakeOver(converted);
}

void WaveBuffer::ConvertSampleRate(std::uint32_t samplesPerSec) {
    const std::uint32_t oldRate = format_.SamplesPerSec;
    if (samplesPerSec == oldRate || samplesPerSec == 0 || oldRate == 0) return;
    const std::uint32_t n = sampleCount_;
    const double newCountExact = static_cast<double>(samplesPerSec) / oldRate * n;
    if (newCountExact * format_.BlockAlign > kMaxDataSize)
        throw std::length_error("wave buffer too large for a WAVE file");
    const auto m = static_cast<std::uint32_t>(newCountExact);

    WaveBuffer converted;
    converted.format_ = format_;
    converted.format_.SamplesPerSec = samplesPerSec;
    converted.UpdateFormat();
    converted.SetFrameCount(m);
    const unsigned channels = format_.Channels;

    if (samplesPerSec > oldRate) {
        for (std::uint32_t c = 0; c < m; ++c) {
            // Position (N − 1) / (M − 1) · c, computed as one quotient so that
            // the last output frame lands exactly on source frame N − 1.
            const double f =
                m > 1 ? static_cast<double>(static_cast<std::uint64_t>(n - 1) * c) / (m - 1) : 0.0;
            const auto g = static_cast<std::uint32_t>(f);
            const double weight = f - g;
            for (unsigned ch = 0; ch < channels; ++ch) {
                const double s0 = SampleAt(g, ch);
                const double s1 = SampleAt(g + 1, ch);  // beyond the end reads 0
                converted.StoreAt(c, ch, static_cast<std::int32_t>((s1 - s0) * weight + s0));
            }
        }
    } else if (m > 0) {
        const double q = static_cast<double>(n) / m;
        for (std::uint32_t c = 0; c < m; ++c) {
            const auto j = static_cast<std::int64_t>(c * q);
            std::int64_t e = static_cast<std::int64_t>((c + 1.0) * q) - 1;
            e = std::max(e, j);  // at least one source frame per output frame
            for (unsigned ch = 0; ch < channels; ++ch) {
                std::int64_t sum = 0;
                for (std::int64_t k = j; k <= e; ++k)
                    sum += SampleAt(static_cast<std::uint32_t>(k), ch);
                converted.StoreAt(c, ch, static_cast<std::int32_t>(sum / (e - j + 1)));
            }
        }
    }
    TakeOver(converted);
}

void WaveBuffer::ConvertBits(std::uint16_t bitsPerSample) {
    if (bitsPerSample == format_.BitsPerSample || bitsPerSample < 8) return;
    WaveBuffer converted;
    converted.format_ = format_;
    converted.format_.BitsPerSample = bitsPerSample;
    converted.UpdateFormat();
    converted.SetFrameCount(sampleCount_);
    const unsigned channels = format_.Channels;
    for (std::uint32_t frame = 0; frame < sampleCount_; ++frame)
        for (unsigned ch = 0; ch < channels; ++ch)
            converted.StoreAt(frame, ch, SampleAt(frame, ch));
    TakeOver(converted);
}

WavLoadResult WaveBuffer::LoadFromFile(const std::filesystem::path& path) {
    return LoadFromFile(path, SamplesRead());
}

WavLoadResult WaveBuffer::LoadFromFile(const std::filesystem::path& path,
                                       const SamplesRead& samplesRead) {
    return ParseFile(path, nullptr, samplesRead ? &samplesRead : nullptr);
}

WavLoadResult WaveBuffer::LoadHeaderFromFile(const std::filesystem::path& path,
                                             WaveHeader& header) {
    return ParseFile(path, &header, nullptr);
}

WavLoadResult WaveBuffer::ParseFile(const std::filesystem::path& path, WaveHeader* headerOnly,
                                    const SamplesRead* samplesRead) {
    problem_ = {};
    problem_.What = WaveLoadProblem::Kind::CannotOpen;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return WavLoadResult::ReadFailed;
    try {
        FileReader reader(path);
        if (!reader.IsOpen()) return WavLoadResult::ReadFailed;
        return Parse(reader, headerOnly, samplesRead);
    } catch (const std::exception&) {  // no thread for the second half of the read
        problem_.What = WaveLoadProblem::Kind::ReadError;
        return WavLoadResult::ReadFailed;
    }
}

WavLoadResult WaveBuffer::LoadFromBytes(std::string_view bytes) {
    return LoadFromBytes(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

WavLoadResult WaveBuffer::LoadFromBytes(std::span<const std::uint8_t> bytes) {
    ByteReader reader(bytes);
    return Parse(reader);
}

template <class Reader>
WavLoadResult WaveBuffer::Parse(Reader& reader, WaveHeader* headerOnly,
                                const SamplesRead* samplesRead) {
    problem_ = {};
    using Kind = WaveLoadProblem::Kind;
    const auto fail = [&](Kind kind, std::uint64_t needed = 0) {
        problem_.What = kind;
        problem_.FileBytes = reader.Size();
        problem_.NeededBytes = needed;
        return WavLoadResult::ReadFailed;
    };
    // The file ends before the `n` bytes its headers say come next.
    const auto truncated = [&](std::uint64_t n) {
        return fail(Kind::Truncated, reader.Position() + n);
    };

    // "RIFF", size (not trusted), "WAVE".
    const std::uint8_t* riff = reader.Take(12);
    if (riff == nullptr) return truncated(12);
    if (!IsChunkId(riff, "RIFF") || !IsChunkId(riff + 8, "WAVE")) return WavLoadResult::NotRiffWave;

    // The first chunk is taken as the format chunk, whatever its id.
    const std::uint8_t* fmtHeader = reader.Take(8);
    if (fmtHeader == nullptr) return truncated(8);
    const std::uint32_t fmtSize = ReadU32(fmtHeader + 4);
    // Only the record's 18 bytes are kept of a longer chunk.
    if (fmtSize > reader.Remaining()) return truncated(fmtSize);
    std::array<std::uint8_t, WaveFormat::kRecordBytes> fmtRecord{};
    const std::size_t fmtKept = std::min<std::size_t>(fmtSize, fmtRecord.size());
    if (!reader.ReadInto(fmtRecord.data(), fmtKept) || !reader.Skip(fmtSize - fmtKept))
        return fail(Kind::ReadError);
    const std::uint8_t* fmtBody = fmtRecord.data();
    problem_.Found.ReadFrom(std::span<const std::uint8_t>(fmtBody, fmtKept));
    if (fmtSize & 1U) reader.Skip(1);  // pad byte; may be missing at the very end
    if (fmtSize < 2) return fail(Kind::BadFormatChunk);
    if (ReadU16(fmtBody) != 1) return WavLoadResult::NotPcm;
    // A PCM record needs all 16 bytes of the base block.
    if (fmtSize < 16) return fail(Kind::BadFormatChunk);

    WaveBuffer loaded;
    loaded.format_.ReadFrom(std::span<const std::uint8_t>(fmtBody, fmtKept));
    // BlockAlign must be non-zero and fit its 16-bit field.
    const std::uint32_t blockAlign =
        static_cast<std::uint32_t>(loaded.format_.BitsPerSample / 8) * loaded.format_.Channels;
    if (blockAlign == 0 || blockAlign > 0xFFFFU) return fail(Kind::BadFormatChunk);
    loaded.UpdateFormat();

    // Skip every chunk up to "data".
    std::uint32_t dataSize = 0;
    for (;;) {
        const std::uint8_t* header = reader.Take(8);
        if (header == nullptr) return fail(Kind::NoDataChunk);
        dataSize = ReadU32(header + 4);
        if (IsChunkId(header, "data")) break;
        if (!reader.Skip(PaddedSize(dataSize))) return truncated(PaddedSize(dataSize));
    }

    // Whole sample frames only; a trailing partial frame is not read. A
    // declared size beyond the end of the file fails before anything is
    // allocated.
    const std::uint32_t frameCount = dataSize / blockAlign;
    const std::size_t byteCount = static_cast<std::size_t>(frameCount) * blockAlign;
    if (byteCount > reader.Remaining()) return truncated(byteCount);
    if (headerOnly != nullptr) {
        headerOnly->Format = loaded.format_;
        headerOnly->SampleCount = frameCount;
        return WavLoadResult::Ok;
    }
    try {
        loaded.SizeForReading(frameCount);
    } catch (const std::bad_alloc&) {
        return fail(Kind::OutOfMemory, byteCount);
    } catch (const std::length_error&) {
        return fail(Kind::OutOfMemory, byteCount);
    }
    if (samplesRead == nullptr) {
        if (!reader.ReadInto(loaded.sampleData_.data(), byteCount)) return fail(Kind::ReadError);
    } else {
        const WaveHeader header{loaded.format_, frameCount};
        for (std::size_t done = 0; done < byteCount;) {
            const std::size_t piece = std::min(byteCount - done, kSamplePieceBytes);
            if (!reader.ReadInto(loaded.sampleData_.data() + done, piece))
                return fail(Kind::ReadError);
            done += piece;
            (*samplesRead)(std::span<const std::uint8_t>(loaded.sampleData_.data(), done), header);
        }
    }

    *this = std::move(loaded);
    return WavLoadResult::Ok;
}

std::string WaveBuffer::SaveToBytes() const {
    std::string image;
    image.reserve(44 + static_cast<std::size_t>(dataSize_));
    image.append("RIFF");
    AppendU32(image, dataSize_ + 36U);
    image.append("WAVE");
    image.append("fmt ");
    AppendU32(image, 16);
    AppendU16(image, format_.FormatTag);
    AppendU16(image, format_.Channels);
    AppendU32(image, format_.SamplesPerSec);
    AppendU32(image, format_.AvgBytesPerSec);
    AppendU16(image, format_.BlockAlign);
    AppendU16(image, format_.BitsPerSample);
    image.append("data");
    AppendU32(image, dataSize_);
    image.append(reinterpret_cast<const char*>(sampleData_.data()), sampleData_.size());
    return image;
}

void WaveBuffer::SaveToStream(std::ostream& stream) const {
    const std::string image = SaveToBytes();
    stream.write(image.data(), static_cast<std::streamsize>(image.size()));
}

WaveBuffer MakeMono16Wave(std::uint32_t frameCount) {
    WaveBuffer wave;
    wave.SetFrameCount(10);
    wave.ConvertChannels(1);
    wave.ConvertBits(16);
    wave.ConvertSampleRate(44100);
    wave.SetFrameCount(frameCount);
    return wave;
}

}  // namespace melodrift

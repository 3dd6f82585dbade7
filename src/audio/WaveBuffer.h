// One recording in memory: a PCM format record and one contiguous buffer of
// interleaved integer samples, with RIFF WAVE reading and writing.
//
// Sample access is normalised to a signed 16-bit scale: 8-bit samples are
// unsigned bytes with silence at 128 and read as (byte − 128) · 256; 16-bit
// samples are signed little-endian. Other widths are stored and written but
// read as 0 and ignored by SetSample.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace melodrift {

// An allocator whose elements start uninitialised when constructed without a
// value: a buffer about to be filled from a file is not written twice.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        if constexpr (sizeof...(Args) == 0) {
            ::new (static_cast<void*>(p)) U;
        } else {
            ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
        }
    }
};

// Outcome of LoadFromFile. Any value other than Ok means "unsupported format"
// to the editor.
enum class WavLoadResult {
    Ok = 0,           // loaded
    NotRiffWave = 1,  // the file does not begin with "RIFF" .... "WAVE"
    NotPcm = 2,       // the first chunk after "WAVE" has a format tag other than 1
    ReadFailed = 3,   // open/read failure, truncated file, zero block alignment, ...
};

// The 16-byte PCM body of a "fmt " chunk followed by the 16-bit extra-size
// word, field for field in file order (18 bytes on disk, little-endian).
struct WaveFormat {
    std::uint16_t FormatTag = 1;  // 1 = integer PCM
    std::uint16_t Channels = 1;
    std::uint32_t SamplesPerSec = 22050;   // Hz
    std::uint32_t AvgBytesPerSec = 22050;  // BlockAlign · SamplesPerSec
    std::uint16_t BlockAlign = 1;          // (BitsPerSample div 8) · Channels, bytes
    std::uint16_t BitsPerSample = 8;
    std::uint16_t ExtraSize = 0;

    static constexpr std::size_t kRecordBytes = 18;

    // Reads the record from up to 18 little-endian bytes; fields that the
    // bytes do not reach keep their current value.
    void ReadFrom(std::span<const std::uint8_t> bytes);
};

// What went wrong in the last failed load, for a message that names it.
struct WaveLoadProblem {
    enum class Kind {
        None,
        CannotOpen,      // no such file, a folder, no permission
        Truncated,       // the file ends at FileBytes; its headers need NeededBytes
        NoDataChunk,     // the chunks end (at FileBytes) before a "data" chunk
        BadFormatChunk,  // a "fmt " record too short, or a sample frame of 0 or > 65535 bytes
        OutOfMemory,     // NeededBytes for the samples could not be allocated
        ReadError,       // the system failed a read of the samples
    };
    Kind What = Kind::None;
    std::uint64_t FileBytes = 0;
    std::uint64_t NeededBytes = 0;
    WaveFormat Found;  // the format record as read (NotPcm, BadFormatChunk)
};

// What a WAVE file's headers say, read without its samples.
struct WaveHeader {
    WaveFormat Format;
    std::uint32_t SampleCount = 0;  // whole sample frames in the data chunk
    // Seconds; 0 for a rate of 0.
    double Duration() const {
        return Format.SamplesPerSec == 0 ? 0.0
                                         : static_cast<double>(SampleCount) / Format.SamplesPerSec;
    }
};

class WaveBuffer {
  public:
    // Largest sample buffer whose RIFF size field (DataSize + 36) fits 32 bits.
    static constexpr std::uint32_t kMaxDataSize = 0xFFFFFFFFU - 36U;

    // 1 channel, 22050 Hz, 8 bits, no samples, Duration 0.
    WaveBuffer() = default;

    // Format (read-only; changed through the conversions and LoadFromFile).
    const WaveFormat& Format() const { return format_; }
    std::uint16_t FormatTag() const { return format_.FormatTag; }
    std::uint16_t Channels() const { return format_.Channels; }
    std::uint32_t SamplesPerSec() const { return format_.SamplesPerSec; }
    std::uint32_t AvgBytesPerSec() const { return format_.AvgBytesPerSec; }
    std::uint16_t BlockAlign() const { return format_.BlockAlign; }
    std::uint16_t BitsPerSample() const { return format_.BitsPerSample; }
    std::uint16_t ExtraSize() const { return format_.ExtraSize; }

    // Samples.
    std::span<const std::uint8_t> SampleData() const { return sampleData_; }
    // The same bytes, writable in place (for passes over every sample).
    std::span<std::uint8_t> MutableSampleData() { return sampleData_; }
    std::uint32_t DataSize() const { return dataSize_; }        // bytes
    std::uint32_t SampleCount() const { return sampleCount_; }  // sample frames
    double Duration() const { return duration_; }               // seconds

    // FormatTag = 1, BlockAlign and AvgBytesPerSec recomputed from Channels,
    // BitsPerSample and SamplesPerSec, ExtraSize = 0.
    void UpdateFormat();

    // Sample `frame` of `channel` on the signed 16-bit scale; 0 outside the
    // buffer or for widths other than 8 and 16 bits.
    std::int16_t GetSample(std::uint32_t frame, std::uint8_t channel) const;

    // Stores `value` (taken as a signed 16-bit number: the low 16 bits, no
    // clamping) at `frame` of `channel`; ignored outside the buffer.
    void SetSample(std::uint32_t frame, std::uint8_t channel, std::int32_t value);

    // Resizes to `frameCount` sample frames: growing appends silence,
    // shrinking keeps the head; 0 releases the buffer. Throws
    // std::length_error when the buffer would exceed kMaxDataSize.
    void SetFrameCount(std::uint32_t frameCount);

    // Adopts `other`'s format (Channels, SamplesPerSec, BitsPerSample) and its
    // buffer without copying; `other` is left with no samples.
    void TakeOver(WaveBuffer& other);

    // Every output channel gets the integer mean of the source channels.
    // No-op when the count already matches or `channels` is 0.
    void ConvertChannels(std::uint16_t channels);
    // Linear interpolation up, block mean down. No-op when the rate already
    // matches or either rate is 0.
    void ConvertSampleRate(std::uint32_t samplesPerSec);
    // Re-encodes every sample. No-op when the width already matches or is
    // below 8 bits.
    void ConvertBits(std::uint16_t bitsPerSample);

    // Reads a RIFF WAVE file. On any result other than Ok the wave is left as
    // it was (LoadProblem says what went wrong). Never throws for file or
    // content problems.
    WavLoadResult LoadFromFile(const std::filesystem::path& path);
    // Called during a read with the sample bytes read so far (a growing
    // prefix of the data chunk's whole sample frames) and what the headers
    // said; the last call has them all.
    using SamplesRead =
        std::function<void(std::span<const std::uint8_t> prefix, const WaveHeader& header)>;
    // The same, reading the samples from the start in pieces of
    // kSamplePieceBytes and calling `samplesRead` after each, so that the
    // caller can use them while the rest is read.
    static constexpr std::size_t kSamplePieceBytes = std::size_t{4} << 20;
    WavLoadResult LoadFromFile(const std::filesystem::path& path, const SamplesRead& samplesRead);
    // The headers alone, as LoadFromFile reads them before the samples: Ok
    // (and `header` set) when LoadFromFile would go on to read the samples,
    // which can then still fail only for memory or a read error. The wave
    // itself keeps its samples and format; LoadProblem tells a failure.
    WavLoadResult LoadHeaderFromFile(const std::filesystem::path& path, WaveHeader& header);
    // The same from a file image in memory.
    WavLoadResult LoadFromBytes(std::span<const std::uint8_t> bytes);
    WavLoadResult LoadFromBytes(std::string_view bytes);
    // Why the last load that did not return Ok failed; Kind::None after Ok.
    const WaveLoadProblem& LoadProblem() const { return problem_; }

    // The complete WAVE image: a 44-byte header ("RIFF", DataSize + 36,
    // "WAVE", "fmt " of 16 bytes, "data", DataSize) followed by the samples.
    std::string SaveToBytes() const;
    // Writes the same image at the stream's current position.
    void SaveToStream(std::ostream& stream) const;

  private:
    std::int16_t SampleAt(std::uint32_t frame, unsigned channel) const;
    // Sizes the buffer for `frameCount` frames without filling it (every
    // byte is about to be read; a failed read drops the whole wave).
    void SizeForReading(std::uint32_t frameCount);
    // DataSize, SampleCount and Duration of the buffer as it now is.
    void SetCounts(std::uint32_t frameCount);
    void StoreAt(std::uint32_t frame, unsigned channel, std::int32_t value);
    // Reads the RIFF structure from a reader of the file or of its bytes.
    // With `headerOnly`, stops before the samples and fills it instead.
    template <class Reader>
    WavLoadResult Parse(Reader& reader, WaveHeader* headerOnly = nullptr,
                        const SamplesRead* samplesRead = nullptr);
    // Parse on the file at `path`; a file that is missing, cannot be opened
    // or fails while being read is ReadFailed, with the reason in problem_.
    WavLoadResult ParseFile(const std::filesystem::path& path, WaveHeader* headerOnly,
                            const SamplesRead* samplesRead);

    WaveFormat format_;
    WaveLoadProblem problem_;
    std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>> sampleData_;
    std::uint32_t dataSize_ = 0;
    std::uint32_t sampleCount_ = 0;
    double duration_ = 0.0;
};

// A silent wave of `frameCount` frames in the analysis format (mono, 16 bits,
// 44100 Hz), prepared the way every scratch wave is: 10 frames carry the
// format through the conversions, then the real length is set.
WaveBuffer MakeMono16Wave(std::uint32_t frameCount);

}  // namespace melodrift

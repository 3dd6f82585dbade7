#include "audio/WaveBuffer.h"

#include <gtest/gtest.h>

#include "TempFolder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace melodrift {
namespace {

// Little-endian field builders for hand-made WAVE files.
std::string U16(std::uint16_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string U32(std::uint32_t v) {
    return U16(static_cast<std::uint16_t>(v & 0xFFFF)) + U16(static_cast<std::uint16_t>(v >> 16));
}

std::string Chunk(const std::string& id, const std::string& body) {
    std::string chunk = id + U32(static_cast<std::uint32_t>(body.size())) + body;
    if (body.size() % 2 == 1) chunk.push_back('\0');  // RIFF pad byte
    return chunk;
}

// A "fmt " body; `blockAlign` and `avgBytes` are written as given (a reader
// must recompute them).
std::string FmtBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                    std::uint16_t bits, std::uint16_t blockAlign, std::uint32_t avgBytes) {
    return U16(tag) + U16(channels) + U32(rate) + U32(avgBytes) + U16(blockAlign) + U16(bits);
}

std::string PcmFmt(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    const auto align = static_cast<std::uint16_t>(channels * bits / 8);
    return FmtBody(1, channels, rate, bits, align, align * rate);
}

std::string Samples16(const std::vector<std::int16_t>& values) {
    std::string bytes;
    for (std::int16_t v : values) bytes += U16(static_cast<std::uint16_t>(v));
    return bytes;
}

std::string Riff(const std::string& chunks) {
    return "RIFF" + U32(static_cast<std::uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

// Mono 16-bit 44100 Hz file with three samples.
std::string SimpleFile() {
    return Riff(Chunk("fmt ", PcmFmt(1, 44100, 16)) + Chunk("data", Samples16({100, -200, 300})));
}

std::vector<std::int16_t> Channel(const WaveBuffer& wave, std::uint8_t channel) {
    std::vector<std::int16_t> values;
    for (std::uint32_t i = 0; i < wave.SampleCount(); ++i)
        values.push_back(wave.GetSample(i, channel));
    return values;
}

// A wave of the given format holding `values` in channel 0.
WaveBuffer WaveOf(std::uint32_t rate, const std::vector<std::int16_t>& values) {
    WaveBuffer wave;
    EXPECT_EQ(wave.LoadFromBytes(
                  Riff(Chunk("fmt ", PcmFmt(1, rate, 16)) + Chunk("data", Samples16(values)))),
              WavLoadResult::Ok);
    return wave;
}

TEST(WaveBuffer, StartsAsEmptyMono8BitAt22050Hz) {
    WaveBuffer wave;
    EXPECT_EQ(wave.FormatTag(), 1);
    EXPECT_EQ(wave.Channels(), 1);
    EXPECT_EQ(wave.SamplesPerSec(), 22050u);
    EXPECT_EQ(wave.BitsPerSample(), 8);
    EXPECT_EQ(wave.BlockAlign(), 1);
    EXPECT_EQ(wave.AvgBytesPerSec(), 22050u);
    EXPECT_EQ(wave.SampleCount(), 0u);
    EXPECT_EQ(wave.DataSize(), 0u);
    EXPECT_EQ(wave.Duration(), 0.0);
    EXPECT_EQ(wave.GetSample(0, 0), 0);
}

TEST(WaveBuffer, SetFrameCountAppendsSilenceKeepsTheHeadAndEmptiesAtZero) {
    WaveBuffer wave;  // 8 bits: silence is byte 128
    wave.SetFrameCount(4);
    EXPECT_EQ(wave.DataSize(), 4u);
    EXPECT_DOUBLE_EQ(wave.Duration(), 4.0 / 22050);
    for (std::uint8_t byte : wave.SampleData()) EXPECT_EQ(byte, 128);
    wave.SetSample(0, 0, 256);
    wave.SetSample(3, 0, -512);
    wave.SetFrameCount(6);
    EXPECT_EQ(Channel(wave, 0), (std::vector<std::int16_t>{256, 0, 0, -512, 0, 0}));
    wave.SetFrameCount(2);
    EXPECT_EQ(Channel(wave, 0), (std::vector<std::int16_t>{256, 0}));

    wave.SetFrameCount(0);
    EXPECT_EQ(wave.SampleCount(), 0u);
    EXPECT_EQ(wave.DataSize(), 0u);
    EXPECT_EQ(wave.Duration(), 0.0);
    EXPECT_TRUE(wave.SampleData().empty());
    wave.SetFrameCount(0);  // no buffer: nothing changes
    EXPECT_EQ(wave.SampleCount(), 0u);
}

TEST(WaveBuffer, SampleEncodingsAndBounds) {
    WaveBuffer wave;
    wave.SetFrameCount(3);
    wave.SetSample(0, 0, -32768);         // (−32768 + 32768) div 256 = 0
    wave.SetSample(1, 0, 32767);          // 65535 div 256 = 255
    wave.SetSample(2, 0, 0x10000 - 300);  // low 16 bits: −300 → 32468 div 256 = 126
    EXPECT_EQ(wave.SampleData()[0], 0);
    EXPECT_EQ(wave.SampleData()[1], 255);
    EXPECT_EQ(wave.SampleData()[2], 126);
    EXPECT_EQ(wave.GetSample(0, 0), -32768);
    EXPECT_EQ(wave.GetSample(1, 0), 127 * 256);
    EXPECT_EQ(wave.GetSample(2, 0), -2 * 256);

    WaveBuffer wide = MakeMono16Wave(2);
    wide.SetSample(0, 0, 0x12345);  // wraps to 0x2345
    wide.SetSample(1, 0, -1);
    EXPECT_EQ(wide.GetSample(0, 0), 0x2345);
    EXPECT_EQ(wide.SampleData()[2], 0xFF);
    EXPECT_EQ(wide.SampleData()[3], 0xFF);
    // Outside the buffer: ignored, and reads are 0.
    wide.SetSample(2, 0, 5);
    wide.SetSample(0, 1, 5);
    EXPECT_EQ(wide.GetSample(2, 0), 0);
    EXPECT_EQ(wide.GetSample(0, 1), 0);
    EXPECT_EQ(wide.GetSample(0, 0), 0x2345);
}

TEST(WaveBuffer, TakeOverAdoptsTheOtherFormatAndBufferAndLeavesItEmpty) {
    WaveBuffer target;  // 8 bits, 22050 Hz
    target.SetFrameCount(5);
    WaveBuffer source = WaveOf(44100, {7, -8, 9});
    target.TakeOver(source);
    EXPECT_EQ(target.BitsPerSample(), 16);
    EXPECT_EQ(target.SamplesPerSec(), 44100u);
    EXPECT_EQ(target.BlockAlign(), 2);
    EXPECT_EQ(target.AvgBytesPerSec(), 88200u);
    EXPECT_EQ(Channel(target, 0), (std::vector<std::int16_t>{7, -8, 9}));
    EXPECT_DOUBLE_EQ(target.Duration(), 3.0 / 44100);
    EXPECT_EQ(source.SampleCount(), 0u);
    EXPECT_EQ(source.DataSize(), 0u);
    EXPECT_TRUE(source.SampleData().empty());
    EXPECT_EQ(source.GetSample(0, 0), 0);
}

TEST(WaveConversion, TenSilentFramesBecomeTwentyFramesOfZeroIn16BitAt44100Hz) {
    WaveBuffer wave;
    wave.SetFrameCount(10);
    wave.ConvertChannels(1);
    wave.ConvertBits(16);
    EXPECT_EQ(wave.BitsPerSample(), 16);
    EXPECT_EQ(wave.SampleCount(), 10u);
    wave.ConvertSampleRate(44100);
    EXPECT_EQ(wave.SamplesPerSec(), 44100u);
    EXPECT_EQ(wave.BlockAlign(), 2);
    EXPECT_EQ(wave.AvgBytesPerSec(), 88200u);
    EXPECT_EQ(Channel(wave, 0), std::vector<std::int16_t>(20, 0));

    const WaveBuffer scratch = MakeMono16Wave(100);
    EXPECT_EQ(scratch.SampleCount(), 100u);
    EXPECT_EQ(scratch.DataSize(), 200u);
    EXPECT_EQ(scratch.SamplesPerSec(), 44100u);
}

TEST(WaveConversion, UpSamplingInterpolatesAndEndsOnTheLastSourceSample) {
    WaveBuffer wave = WaveOf(22050, {100, 200, 300});
    wave.ConvertSampleRate(44100);
    // M = 6, positions 0.4 · c.
    EXPECT_EQ(Channel(wave, 0), (std::vector<std::int16_t>{100, 140, 180, 220, 260, 300}));

    // Truncation toward zero: −10/3 gives −3; the last frame is exactly −10.
    WaveBuffer negative = WaveOf(22050, {0, -10});
    negative.ConvertSampleRate(44100);
    EXPECT_EQ(Channel(negative, 0), (std::vector<std::int16_t>{0, -3, -6, -10}));

    // An awkward ratio: 7 frames to 23 still ends on the last sample.
    WaveBuffer odd = WaveOf(13000, {5, 9, -7, 1234, 8, 3, -4321});
    odd.ConvertSampleRate(43000);
    ASSERT_EQ(odd.SampleCount(), 23u);
    EXPECT_EQ(odd.GetSample(0, 0), 5);
    EXPECT_EQ(odd.GetSample(22, 0), -4321);
}

TEST(WaveConversion, DownSamplingAveragesBlocksWithSignedDivision) {
    WaveBuffer wave = WaveOf(44100, {1, 3, 5, 7, -1, -2});
    wave.ConvertSampleRate(22050);
    EXPECT_EQ(wave.SamplesPerSec(), 22050u);
    EXPECT_EQ(Channel(wave, 0), (std::vector<std::int16_t>{2, 6, -1}));

    // 5 frames to 2: q = 2.5, blocks 0..1 and 2..4.
    WaveBuffer uneven = WaveOf(44100, {10, 20, 30, 40, 50});
    uneven.ConvertSampleRate(17640);
    EXPECT_EQ(Channel(uneven, 0), (std::vector<std::int16_t>{15, 40}));
}

TEST(WaveConversion, ChannelsMixToTheirMeanAndSpreadToEveryChannel) {
    WaveBuffer stereo;
    ASSERT_EQ(
        stereo.LoadFromBytes(Riff(Chunk("fmt ", PcmFmt(2, 44100, 16)) +
                                  Chunk("data", Samples16({100, 301, -1, -2, 32767, 32767})))),
        WavLoadResult::Ok);
    stereo.ConvertChannels(1);
    EXPECT_EQ(stereo.Channels(), 1);
    EXPECT_EQ(stereo.BlockAlign(), 2);
    EXPECT_EQ(Channel(stereo, 0), (std::vector<std::int16_t>{200, -1, 32767}));

    stereo.ConvertChannels(3);
    EXPECT_EQ(stereo.BlockAlign(), 6);
    EXPECT_EQ(Channel(stereo, 2), (std::vector<std::int16_t>{200, -1, 32767}));
    EXPECT_EQ(Channel(stereo, 1), Channel(stereo, 0));
}

TEST(WaveConversion, WidthChangesReencodeEverySample) {
    WaveBuffer wave = WaveOf(44100, {-32768, 255, 256, 32767, -1});
    wave.ConvertBits(8);
    EXPECT_EQ(wave.BlockAlign(), 1);
    EXPECT_EQ(wave.DataSize(), 5u);
    // (v + 32768) div 256, read back as (u − 128) · 256.
    const std::vector<std::int16_t> expected{-32768, 0, 256, 32512, -256};
    EXPECT_EQ(Channel(wave, 0), expected);
    wave.ConvertBits(16);
    EXPECT_EQ(wave.DataSize(), 10u);
    EXPECT_EQ(Channel(wave, 0), expected);
}

TEST(WaveImage, HeaderIsTheFixed44ByteLayoutFollowedByTheSamples) {
    WaveBuffer wave = WaveOf(44100, {100, -200, 300});
    const std::string image = wave.SaveToBytes();
    const std::string expected = "RIFF" + U32(42) + "WAVE" + "fmt " + U32(16) + U16(1) + U16(1) +
                                 U32(44100) + U32(88200) + U16(2) + U16(16) + "data" + U32(6) +
                                 Samples16({100, -200, 300});
    EXPECT_EQ(image, expected);
    EXPECT_EQ(image.size(), 44u + wave.DataSize());

    std::ostringstream stream;
    wave.SaveToStream(stream);
    EXPECT_EQ(stream.str(), image);

    WaveBuffer empty = MakeMono16Wave(0);
    const std::string emptyImage = empty.SaveToBytes();
    EXPECT_EQ(emptyImage.size(), 44u);
    EXPECT_EQ(emptyImage.substr(4, 4), U32(36));

    WaveBuffer reread;
    ASSERT_EQ(reread.LoadFromBytes(image), WavLoadResult::Ok);
    EXPECT_EQ(reread.SaveToBytes(), image);
}

TEST(WavReader, LoadsFormatAndSamplesAndRecomputesDerivedFields) {
    WaveBuffer wave;
    // BlockAlign and AvgBytesPerSec in the file are wrong on purpose.
    const std::string file = Riff(Chunk("fmt ", FmtBody(1, 1, 44100, 16, 7, 12345)) +
                                  Chunk("data", Samples16({100, -200, 300})));
    ASSERT_EQ(wave.LoadFromBytes(file), WavLoadResult::Ok);
    EXPECT_EQ(wave.BlockAlign(), 2);
    EXPECT_EQ(wave.AvgBytesPerSec(), 88200u);
    EXPECT_EQ(wave.SampleCount(), 3u);
    EXPECT_DOUBLE_EQ(wave.Duration(), 3.0 / 44100);
    EXPECT_EQ(Channel(wave, 0), (std::vector<std::int16_t>{100, -200, 300}));
}

TEST(WavReader, SixteenAndEighteenByteFormatChunksLoadAlike) {
    WaveBuffer shortFmt;
    WaveBuffer longFmt;
    ASSERT_EQ(shortFmt.LoadFromBytes(SimpleFile()), WavLoadResult::Ok);
    ASSERT_EQ(longFmt.LoadFromBytes(Riff(Chunk("fmt ", PcmFmt(1, 44100, 16) + U16(0x7777)) +
                                         Chunk("data", Samples16({100, -200, 300})))),
              WavLoadResult::Ok);
    EXPECT_EQ(longFmt.ExtraSize(), 0);  // never trusted from the file
    EXPECT_EQ(longFmt.SaveToBytes(), shortFmt.SaveToBytes());

    // A longer format chunk: reading continues right after it.
    WaveBuffer extended;
    ASSERT_EQ(
        extended.LoadFromBytes(Riff(Chunk("fmt ", PcmFmt(1, 44100, 16) + std::string(24, 'x')) +
                                    Chunk("data", Samples16({100, -200, 300})))),
        WavLoadResult::Ok);
    EXPECT_EQ(extended.SaveToBytes(), shortFmt.SaveToBytes());
}

TEST(WavReader, ChunksBeforeDataAreSkippedIncludingOddSizedOnesWithTheirPadByte) {
    const std::string data = Chunk("data", Samples16({100, -200, 300}));
    WaveBuffer wave;
    ASSERT_EQ(wave.LoadFromBytes(Riff(Chunk("fmt ", PcmFmt(1, 44100, 16)) +
                                      Chunk("LIST", "INFOabcd") + Chunk("fact", U32(3)) + data)),
              WavLoadResult::Ok);
    EXPECT_EQ(Channel(wave, 0), (std::vector<std::int16_t>{100, -200, 300}));

    WaveBuffer odd;
    ASSERT_EQ(odd.LoadFromBytes(
                  Riff(Chunk("fmt ", PcmFmt(1, 44100, 16)) + Chunk("LIST", "INFOabc") + data)),
              WavLoadResult::Ok);
    EXPECT_EQ(Channel(odd, 0), (std::vector<std::int16_t>{100, -200, 300}));
}

TEST(WavReader, FirstChunkIsTakenAsTheFormatSoAListThereGivesNotPcm) {
    WaveBuffer wave;
    EXPECT_EQ(
        wave.LoadFromBytes(Riff(Chunk("LIST", "INFOabcd") + Chunk("fmt ", PcmFmt(1, 44100, 16)) +
                                Chunk("data", Samples16({1})))),
        WavLoadResult::NotPcm);
    // IEEE float (tag 3) is not integer PCM either.
    EXPECT_EQ(wave.LoadFromBytes(
                  Riff(Chunk("fmt ", FmtBody(3, 1, 44100, 32, 4, 176400)) + Chunk("data", U32(0)))),
              WavLoadResult::NotPcm);
}

TEST(WavReader, StereoAnd8BitFilesLoadWithTheirOwnFormat) {
    WaveBuffer stereo;
    ASSERT_EQ(stereo.LoadFromBytes(Riff(Chunk("fmt ", PcmFmt(2, 44100, 16)) +
                                        Chunk("data", Samples16({1, 2, 3, 4, 5, 6})))),
              WavLoadResult::Ok);
    EXPECT_EQ(stereo.Channels(), 2);
    EXPECT_EQ(stereo.SampleCount(), 3u);
    EXPECT_EQ(Channel(stereo, 0), (std::vector<std::int16_t>{1, 3, 5}));
    EXPECT_EQ(Channel(stereo, 1), (std::vector<std::int16_t>{2, 4, 6}));

    WaveBuffer eight;
    ASSERT_EQ(eight.LoadFromBytes(Riff(Chunk("fmt ", PcmFmt(1, 8000, 8)) +
                                       Chunk("data", std::string("\x80\x00\xff", 3)))),
              WavLoadResult::Ok);
    EXPECT_EQ(eight.SamplesPerSec(), 8000u);
    EXPECT_EQ(Channel(eight, 0), (std::vector<std::int16_t>{0, -32768, 127 * 256}));
}

TEST(WavReader, AZeroSampleRateLoadsWithZeroDurationAndIsNotConverted) {
    WaveBuffer wave;
    ASSERT_EQ(wave.LoadFromBytes(
                  Riff(Chunk("fmt ", PcmFmt(1, 0, 16)) + Chunk("data", Samples16({1, 2})))),
              WavLoadResult::Ok);
    EXPECT_EQ(wave.SampleCount(), 2u);
    EXPECT_EQ(wave.Duration(), 0.0);
    wave.ConvertSampleRate(44100);
    EXPECT_EQ(wave.SamplesPerSec(), 0u);
    EXPECT_EQ(Channel(wave, 0), (std::vector<std::int16_t>{1, 2}));
}

TEST(WavReader, EmptyDataAndTrailingPartialFramesLoadWholeFramesOnly) {
    WaveBuffer empty;
    ASSERT_EQ(empty.LoadFromBytes(Riff(Chunk("fmt ", PcmFmt(1, 44100, 16)) + Chunk("data", ""))),
              WavLoadResult::Ok);
    EXPECT_EQ(empty.SampleCount(), 0u);
    EXPECT_EQ(empty.Duration(), 0.0);

    WaveBuffer partial;  // 7 bytes of 16-bit stereo: one whole frame
    ASSERT_EQ(partial.LoadFromBytes(Riff(Chunk("fmt ", PcmFmt(2, 44100, 16)) +
                                         Chunk("data", Samples16({7, 8, 9}) + "z"))),
              WavLoadResult::Ok);
    EXPECT_EQ(partial.SampleCount(), 1u);
    EXPECT_EQ(partial.DataSize(), 4u);
}

TEST(WavReader, BrokenFilesGiveTheirCodesAndLeaveTheWaveAsItWas) {
    const std::string good = SimpleFile();
    WaveBuffer wave = WaveOf(22050, {42});
    const std::string before = wave.SaveToBytes();

    EXPECT_EQ(wave.LoadFromBytes("RIFX" + good.substr(4)), WavLoadResult::NotRiffWave);
    EXPECT_EQ(wave.LoadFromBytes(good.substr(0, 8) + "AVI " + good.substr(12)),
              WavLoadResult::NotRiffWave);
    // Every truncation of a valid file fails: shorter than the RIFF header,
    // inside the format chunk, inside a header, or short of the samples.
    for (std::size_t length = 0; length < good.size(); ++length) {
        const WavLoadResult result = wave.LoadFromBytes(good.substr(0, length));
        EXPECT_EQ(result, WavLoadResult::ReadFailed) << "length " << length;
    }
    // A data size far beyond the file: no blind allocation, a read failure.
    EXPECT_EQ(wave.LoadFromBytes(Riff(Chunk("fmt ", PcmFmt(1, 44100, 16))) + "data" +
                                 U32(0xFFFFFFFFu) + "abcd"),
              WavLoadResult::ReadFailed);
    // No data chunk at all; a skipped chunk running past the end.
    EXPECT_EQ(wave.LoadFromBytes(Riff(Chunk("fmt ", PcmFmt(1, 44100, 16)))),
              WavLoadResult::ReadFailed);
    EXPECT_EQ(wave.LoadFromBytes(Riff(Chunk("fmt ", PcmFmt(1, 44100, 16))) + "LIST" +
                                 U32(0xFFFFFFF0u) + "ab"),
              WavLoadResult::ReadFailed);
    // Zero block alignment: no channels, or samples narrower than a byte.
    EXPECT_EQ(wave.LoadFromBytes(Riff(Chunk("fmt ", PcmFmt(0, 44100, 16)) + Chunk("data", "abcd"))),
              WavLoadResult::ReadFailed);
    EXPECT_EQ(wave.LoadFromBytes(
                  Riff(Chunk("fmt ", FmtBody(1, 1, 44100, 4, 1, 44100)) + Chunk("data", "abcd"))),
              WavLoadResult::ReadFailed);
    // A block alignment beyond its 16-bit field (40000 channels of 16 bits).
    EXPECT_EQ(wave.LoadFromBytes(
                  Riff(Chunk("fmt ", FmtBody(1, 40000, 44100, 16, 0, 0)) + Chunk("data", "abcd"))),
              WavLoadResult::ReadFailed);
    // A PCM format record shorter than 16 bytes.
    EXPECT_EQ(wave.LoadFromBytes(
                  Riff(Chunk("fmt ", PcmFmt(1, 44100, 16).substr(0, 12)) + Chunk("data", "ab"))),
              WavLoadResult::ReadFailed);

    EXPECT_EQ(wave.SaveToBytes(), before);
}

TEST(WavReader, RandomAndMutatedBytesNeverCrash) {
    std::mt19937 rng(12345);
    const std::string good = Riff(Chunk("fmt ", PcmFmt(2, 44100, 16)) + Chunk("LIST", "INFOx") +
                                  Chunk("data", Samples16({1, 2, 3, 4})));
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string bytes;
        if (round % 2 == 0) {
            bytes.resize(rng() % 80);
            for (char& c : bytes) c = static_cast<char>(rng());
            if (round % 4 == 0 && bytes.size() >= 12)
                bytes.replace(0, 4, "RIFF").replace(8, 4, "WAVE");
        } else {
            bytes = good;
            for (int flips = 1 + static_cast<int>(rng() % 4); flips > 0; --flips)
                bytes[rng() % bytes.size()] = static_cast<char>(rng());
        }
        WaveBuffer wave;
        const WavLoadResult result = wave.LoadFromBytes(bytes);
        ASSERT_GE(static_cast<int>(result), 0);
        ASSERT_LE(static_cast<int>(result), 3);
        if (result == WavLoadResult::Ok) {
            ++loaded;
            // Whatever loaded is consistent and can be written again.
            EXPECT_EQ(wave.DataSize(), wave.SampleCount() * wave.BlockAlign());
            EXPECT_EQ(wave.SaveToBytes().size(), 44u + wave.DataSize());
        }
    }
    EXPECT_GT(loaded, 0);  // some mutations hit only sample bytes
}

TEST(WavReader, LoadsFromAFileAndReportsAMissingOneAsAReadFailure) {
    const testing::TempFolder folder;
    const auto& dir = folder.path();
    const auto path = dir / "voice.wav";
    {
        std::ofstream out(path, std::ios::binary);
        out << SimpleFile();
    }
    WaveBuffer wave;
    EXPECT_EQ(wave.LoadFromFile(path), WavLoadResult::Ok);
    EXPECT_EQ(Channel(wave, 0), (std::vector<std::int16_t>{100, -200, 300}));
    EXPECT_EQ(wave.LoadFromFile(dir / "missing.wav"), WavLoadResult::ReadFailed);
    EXPECT_EQ(wave.LoadFromFile(dir), WavLoadResult::ReadFailed);  // a folder
    EXPECT_EQ(wave.SampleCount(), 3u);
}

TEST(WavReader, HeadersAloneAndSamplesInPiecesReadAsTheWholeFileDoes) {
    const testing::TempFolder folder;
    const auto path = folder.path() / "long.wav";
    WaveBuffer written = MakeMono16Wave(3'000'000);  // 6 MB: two pieces
    for (std::uint32_t i = 0; i < written.SampleCount(); ++i)
        written.SetSample(i, 0, static_cast<std::int32_t>(i * 7919U));
    const std::string image = written.SaveToBytes();
    {
        std::ofstream out(path, std::ios::binary);
        out << image;
    }
    WaveBuffer whole;
    ASSERT_EQ(whole.LoadFromFile(path), WavLoadResult::Ok);
    WaveBuffer pieces;
    std::vector<std::size_t> prefixes;
    ASSERT_EQ(
        pieces.LoadFromFile(path,
                            [&](std::span<const std::uint8_t> prefix, const WaveHeader& header) {
                                EXPECT_EQ(header.SampleCount, 3'000'000u);
                                EXPECT_TRUE(std::equal(
                                    prefix.begin(), prefix.end(), image.begin() + 44,
                                    [](std::uint8_t a, char b) { return a == std::uint8_t(b); }));
                                prefixes.push_back(prefix.size());
                            }),
        WavLoadResult::Ok);
    EXPECT_EQ(prefixes, (std::vector<std::size_t>{WaveBuffer::kSamplePieceBytes, 6'000'000}));
    EXPECT_EQ(pieces.SaveToBytes(), whole.SaveToBytes());

    WaveHeader header;
    EXPECT_EQ(pieces.LoadHeaderFromFile(path, header), WavLoadResult::Ok);
    EXPECT_EQ(header.SampleCount, 3'000'000u);
    EXPECT_EQ(header.Format.BitsPerSample, 16);
    EXPECT_DOUBLE_EQ(header.Duration(), 3'000'000.0 / 44100.0);
    EXPECT_EQ(pieces.SampleCount(), 3'000'000u);  // the wave keeps its samples
    // A data chunk longer than the file is found from the headers too.
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << image.substr(0, 1000);
    }
    EXPECT_EQ(pieces.LoadHeaderFromFile(path, header), WavLoadResult::ReadFailed);
    EXPECT_EQ(pieces.LoadProblem().What, WaveLoadProblem::Kind::Truncated);
    EXPECT_EQ(pieces.LoadProblem().NeededBytes, 44u + 6'000'000u);
}

// Reads the same bytes from memory and from a file; both must agree.
WavLoadResult LoadBothWays(const std::filesystem::path& path, const std::string& bytes,
                           WaveBuffer& fromFile) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    WaveBuffer fromBytes;
    const WavLoadResult bytesResult = fromBytes.LoadFromBytes(bytes);
    const WavLoadResult fileResult = fromFile.LoadFromFile(path);
    EXPECT_EQ(fileResult, bytesResult);
    if (fileResult == WavLoadResult::Ok) {
        EXPECT_EQ(fromFile.SaveToBytes(), fromBytes.SaveToBytes());
    }
    return fileResult;
}

TEST(WavReader, AFileReadsLikeItsBytesInEveryShapeAndBreakage) {
    const testing::TempFolder folder;
    const auto path = folder.path() / "voice.wav";
    WaveBuffer wave;
    const std::string good =
        Riff(Chunk("fmt ", PcmFmt(2, 44100, 16) + U16(22) + std::string(22, 'x')) +
             Chunk("LIST", "INFOabc") + Chunk("data", Samples16({1, -2, 3, -4, 5})));
    EXPECT_EQ(LoadBothWays(path, good, wave), WavLoadResult::Ok);
    EXPECT_EQ(wave.SampleCount(), 2u);  // the fifth sample is half a frame
    // Every cut short of the two whole frames fails (the half frame may go).
    for (std::size_t length = 0; length + 2 < good.size(); ++length)
        EXPECT_EQ(LoadBothWays(path, good.substr(0, length), wave), WavLoadResult::ReadFailed)
            << length;
    EXPECT_EQ(LoadBothWays(path, good.substr(0, good.size() - 2), wave), WavLoadResult::Ok);
    EXPECT_EQ(
        LoadBothWays(path,
                     Riff(Chunk("fmt ", PcmFmt(1, 44100, 16))) + "data" + U32(0xFFFFFFFFu) + "abcd",
                     wave),
        WavLoadResult::ReadFailed);
    EXPECT_EQ(LoadBothWays(path, Riff(Chunk("LIST", "INFO") + Chunk("data", "ab")), wave),
              WavLoadResult::NotPcm);
    EXPECT_EQ(LoadBothWays(path, "RIFX" + good.substr(4), wave), WavLoadResult::NotRiffWave);
}

// A long take's samples are read in two halves at once: every byte lands in
// its place, a chunk after the samples is still passed by, and a file cut
// short anywhere in the second half still fails.
TEST(WavReader, ALongRecordingReadsLikeItsBytes) {
    const testing::TempFolder folder;
    const auto path = folder.path() / "long.wav";
    std::string samples(std::size_t{20} << 20, '\0');  // 20 MB: 5.2 million stereo frames
    std::uint32_t state = 99;
    for (char& byte : samples) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    const std::string bytes = Riff(Chunk("fmt ", PcmFmt(2, 44100, 16)) + Chunk("data", samples) +
                                   Chunk("LIST", "INFOabcd"));
    WaveBuffer wave;
    ASSERT_EQ(LoadBothWays(path, bytes, wave), WavLoadResult::Ok);
    ASSERT_EQ(wave.SampleCount(), samples.size() / 4);
    EXPECT_EQ(std::memcmp(wave.SampleData().data(), samples.data(), samples.size()), 0);
    EXPECT_EQ(LoadBothWays(path, bytes.substr(0, bytes.size() - 5'000'000), wave),
              WavLoadResult::ReadFailed);
}

TEST(WavReader, ChunksOfAnySizeBeforeAndAfterTheSamplesAreSkippedNotRead) {
    const testing::TempFolder folder;
    // 64 MB of another chunk on each side of a short recording, as a hole in
    // a sparse file: the reader passes it by seeking.
    const std::uint32_t foreignBytes = 64u << 20;
    const auto path = folder.path() / "long.wav";
    {
        std::ofstream out(path, std::ios::binary);
        out << "RIFF" << U32(4 + 24 + 2 * (8 + foreignBytes) + 8 + 6) << "WAVE"
            << Chunk("fmt ", PcmFmt(1, 44100, 16));
        out << "junk" << U32(foreignBytes);
        out.seekp(foreignBytes, std::ios::cur);
        out << Chunk("data", Samples16({7, 8, 9}));
        out << "junk" << U32(foreignBytes);
        out.seekp(foreignBytes - 1, std::ios::cur);
        out.put('\0');
    }
    ASSERT_GT(std::filesystem::file_size(path), 2ull * foreignBytes);
    WaveBuffer wave;
    EXPECT_EQ(wave.LoadFromFile(path), WavLoadResult::Ok);
    EXPECT_EQ(Channel(wave, 0), (std::vector<std::int16_t>{7, 8, 9}));
}

}  // namespace
}  // namespace melodrift

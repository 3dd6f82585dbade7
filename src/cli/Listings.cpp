#include "cli/Listings.h"

#include "audio/Parallel.h"
#include "audio/PitchAnalyser.h"
#include "editor/Loading.h"
#include "editor/Session.h"
#include "system/Files.h"
#include "text/NumberFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace melodrift {

namespace {

// A listing built in one buffer: integers and floats through std::to_chars
// (no locale, no stream state), text appended as it is.
class ListingText {
  public:
    explicit ListingText(std::size_t expectedBytes) { text_.reserve(expectedBytes); }

    ListingText& operator<<(std::string_view text) {
        text_.append(text);
        return *this;
    }
    ListingText& operator<<(char c) {
        text_.push_back(c);
        return *this;
    }
    ListingText& operator<<(std::int64_t value) {
        char buffer[24];
        text_.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
        return *this;
    }
    ListingText& operator<<(int value) { return *this << static_cast<std::int64_t>(value); }

    // Shortest text that reads back as the same float; `otherwise` for a
    // value that is not finite (never produced by the analysis, but no
    // number is better than a wrong one).
    ListingText& Float(float value, std::string_view otherwise) {
        if (!std::isfinite(value)) return *this << otherwise;
        char buffer[32];
        text_.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
        return *this;
    }
    // Three decimals, exact ties away from zero (as FormatFixed). A double
    // lies exactly halfway between two three-decimal numbers only when it is
    // an odd multiple of 1/16 (k + 1/2 thousandths = (2k + 1) / 2000, a
    // binary fraction only when 125 divides 2k + 1); to_chars rounds those
    // to even, so they, and negative values, go to FormatFixed.
    ListingText& Fixed3(double value) {
        if (!(value >= 0.0) || std::floor(value * 16.0) == value * 16.0)
            return *this << FormatFixed(value, 3);
        char buffer[64];
        const auto result =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
        if (result.ec != std::errc()) return *this << FormatFixed(value, 3);
        text_.append(buffer, result.ptr);
        return *this;
    }

    std::string Take() { return std::move(text_); }

  private:
    std::string text_;
};

// Bytes of one listed frame, roughly, to size the buffer once.
constexpr std::size_t kListingBytesPerFrame = 72;

// `head`, then row(text, i) for i = 0 .. count - 1, then `tail`, as one
// text. A long listing is formatted in two halves at once and joined: the
// first half's text, which starts with `head`, has room for the whole.
template <class Row>
std::string FormatListing(std::string_view head, int count, std::size_t bytesPerRow, const Row& row,
                          std::string_view tail) {
    constexpr std::size_t kRowsWorthAThread = 20000;
    const auto rows = [&](std::size_t first, std::size_t last) {
        const std::size_t expected =
            first == 0 ? head.size() + tail.size() + static_cast<std::size_t>(count) * bytesPerRow
                       : (last - first) * bytesPerRow;
        ListingText text(expected);
        if (first == 0) text << head;
        for (std::size_t i = first; i < last; ++i) row(text, static_cast<int>(i));
        return text.Take();
    };
    std::string text = InTwoHalves(static_cast<std::size_t>(std::max(count, 0)), kRowsWorthAThread,
                                   rows, [](std::string firstHalf, const std::string& secondHalf) {
                                       firstHalf += secondHalf;
                                       return firstHalf;
                                   });
    text += tail;
    return text;
}

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace

std::string AnalysisCsv(const EditorSession& session) {
    const PitchAnalyser& analyser = *session.Analyser;
    const std::vector<std::int32_t> rawCents = BuildPitchCents(analyser.Frames);
    return FormatListing(
        "frame,time_ms,sample_pos,f0_hz,confidence,loudness,pitch_cents,checked_cents\n",
        session.FrameCount(), kListingBytesPerFrame,
        [&](ListingText& text, int i) {
            const auto k = static_cast<std::size_t>(i);
            PrefetchAhead(analyser.Frames, k);
            const AnalysisFrame& frame = analyser.Frames[k];
            text << i << ',';
            text.Fixed3(frame.SamplePos / kSamplesPerMs) << ',' << frame.SamplePos << ',';
            text.Float(frame.TargetF0, "") << ',';
            if (k < analyser.Confidence.size())
                text.Float(analyser.Confidence[k], "");
            else
                text << '0';
            text << ',' << session.FrameVolume[k] << ',' << rawCents[k] << ','
                 << session.PitchCents[k] << '\n';
        },
        "");
}

std::string AnalysisJson(const EditorSession& session) {
    const PitchAnalyser& analyser = *session.Analyser;
    const std::vector<std::int32_t> rawCents = BuildPitchCents(analyser.Frames);
    ListingText head(256);
    head << "{\n  \"recording\": " << JsonString(PathToUtf8(session.WaveFileName)) << ",\n"
         << "  \"sample_count\": " << session.SampleCount() << ",\n"
         << "  \"frame_count\": " << session.FrameCount() << ",\n  \"frames\": [";
    return FormatListing(
        head.Take(), session.FrameCount(), 2 * kListingBytesPerFrame,
        [&](ListingText& text, int i) {
            const auto k = static_cast<std::size_t>(i);
            PrefetchAhead(analyser.Frames, k);
            const AnalysisFrame& frame = analyser.Frames[k];
            text << (i == 0 ? "\n    " : ",\n    ") << "{\"frame\": " << i << ", \"time_ms\": ";
            text.Fixed3(frame.SamplePos / kSamplesPerMs)
                << ", \"sample_pos\": " << frame.SamplePos << ", \"f0_hz\": ";
            text.Float(frame.TargetF0, "null") << ", \"confidence\": ";
            if (k < analyser.Confidence.size())
                text.Float(analyser.Confidence[k], "null");
            else
                text << '0';
            text << ", \"loudness\": " << session.FrameVolume[k]
                 << ", \"pitch_cents\": " << rawCents[k]
                 << ", \"checked_cents\": " << session.PitchCents[k] << '}';
        },
        "\n  ]\n}\n");
}

}  // namespace melodrift

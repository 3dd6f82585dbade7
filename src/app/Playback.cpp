#include "Playback.h"

#include <algorithm>
#include <cstdint>

namespace melodrift {

namespace {

std::uint32_t ReadLe32(std::string_view bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[at + std::size_t(i)]);
    return v;
}

std::uint16_t ReadLe16(std::string_view bytes, std::size_t at) {
    return std::uint16_t(static_cast<unsigned char>(bytes[at]) |
                         (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

}  // namespace

std::optional<WaveImageLayout> ReadWaveImageLayout(std::string_view image) {
    if (image.size() < 12 || image.substr(0, 4) != "RIFF" || image.substr(8, 4) != "WAVE")
        return std::nullopt;
    WaveImageLayout layout;
    bool haveFormat = false;
    std::size_t at = 12;
    while (at + 8 <= image.size()) {
        const std::string_view id = image.substr(at, 4);
        const std::uint64_t size = ReadLe32(image, at + 4);
        const std::size_t body = at + 8;
        if (id == "fmt ") {
            if (size < 16 || body + 16 > image.size()) return std::nullopt;
            if (ReadLe16(image, body) != 1) return std::nullopt;  // PCM only
            layout.Channels = ReadLe16(image, body + 2);
            layout.SampleRate = int(ReadLe32(image, body + 4));
            layout.BitsPerSample = ReadLe16(image, body + 14);
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat) return std::nullopt;
            layout.DataOffset = body;
            layout.DataBytes = std::size_t(std::min<std::uint64_t>(size, image.size() - body));
            return layout;
        }
        at = body + std::size_t(size) + std::size_t(size & 1);
        if (at < body) break;  // overflow on a bogus size
    }
    return std::nullopt;
}

PreviewPlayer::PreviewPlayer() = default;

PreviewPlayer::~PreviewPlayer() { Stop(); }

void PreviewPlayer::Stop() { output_.reset(); }

bool PreviewPlayer::Play(std::string image) {
    Stop();
    playStream_ = std::move(image);
    const std::optional<WaveImageLayout> layout = ReadWaveImageLayout(playStream_);
    if (!layout || layout->DataBytes == 0 || layout->Channels <= 0 || layout->SampleRate <= 0)
        return false;
    if (layout->BitsPerSample != 16 && layout->BitsPerSample != 8) return false;
    // Whole frames only: a device given a torn last frame may refuse it.
    WaveImageLayout whole = *layout;
    const std::size_t frameBytes =
        std::size_t(whole.Channels) * std::size_t(whole.BitsPerSample / 8);
    whole.DataBytes -= whole.DataBytes % frameBytes;
    if (whole.DataBytes == 0) return false;
    output_ = StartOutput(whole, playStream_.data() + whole.DataOffset);
    return output_ != nullptr;
}

}  // namespace melodrift

#include "Playback.h"

#include <cstdint>
#include <cstring>

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>

namespace melodrift {

namespace {

std::uint32_t ReadLe32(std::string_view bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + std::size_t(i)]);
    return v;
}

std::uint16_t ReadLe16(std::string_view bytes, std::size_t at) {
    return std::uint16_t(static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

}  // namespace

std::optional<WaveImageLayout> ReadWaveImageLayout(std::string_view image) {
    if (image.size() < 12 || image.substr(0, 4) != "RIFF" || image.substr(8, 4) != "WAVE") return std::nullopt;
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

PreviewPlayer::~PreviewPlayer() {
    Stop();
}

bool PreviewPlayer::OutputAvailable() {
    return !QMediaDevices::defaultAudioOutput().isNull();
}

void PreviewPlayer::Stop() {
    if (sink_) sink_->stop();
    sink_.reset();
    buffer_.reset();
}

bool PreviewPlayer::Play(std::string image) {
    Stop();
    playStream_ = std::move(image);
    const std::optional<WaveImageLayout> layout = ReadWaveImageLayout(playStream_);
    if (!layout || layout->DataBytes == 0 || layout->Channels <= 0) return false;
    if (layout->BitsPerSample != 16 && layout->BitsPerSample != 8) return false;

    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return false;

    QAudioFormat format;
    format.setSampleRate(layout->SampleRate);
    format.setChannelCount(layout->Channels);
    format.setSampleFormat(layout->BitsPerSample == 16 ? QAudioFormat::Int16 : QAudioFormat::UInt8);
    if (!device.isFormatSupported(format)) return false;

    buffer_ = std::make_unique<QBuffer>();
    buffer_->setData(playStream_.data() + layout->DataOffset, qsizetype(layout->DataBytes));
    if (!buffer_->open(QIODevice::ReadOnly)) return false;
    sink_ = std::make_unique<QAudioSink>(device, format);
    sink_->start(buffer_.get());
    return sink_->error() == QAudio::NoError;
}

}  // namespace melodrift

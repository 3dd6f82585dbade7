// The preview output through Qt Multimedia (Linux, macOS).
#include "Playback.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>

namespace melodrift {

struct PreviewPlayer::Output {
    QBuffer buffer;
    std::unique_ptr<QAudioSink> sink;

    ~Output() {
        if (sink) sink->stop();
    }
};

void PreviewPlayer::OutputDeleter::operator()(Output* output) const { delete output; }

bool PreviewPlayer::OutputAvailable() { return !QMediaDevices::defaultAudioOutput().isNull(); }

PreviewPlayer::OutputPtr PreviewPlayer::StartOutput(const WaveImageLayout& layout,
                                                    const char* pcm) {
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return nullptr;

    QAudioFormat format;
    format.setSampleRate(layout.SampleRate);
    format.setChannelCount(layout.Channels);
    format.setSampleFormat(layout.BitsPerSample == 16 ? QAudioFormat::Int16 : QAudioFormat::UInt8);
    if (!device.isFormatSupported(format)) return nullptr;

    OutputPtr output(new Output);
    output->buffer.setData(pcm, qsizetype(layout.DataBytes));
    if (!output->buffer.open(QIODevice::ReadOnly)) return nullptr;
    output->sink = std::make_unique<QAudioSink>(device, format);
    output->sink->start(&output->buffer);
    if (output->sink->error() != QAudio::NoError) return nullptr;
    return output;
}

}  // namespace melodrift

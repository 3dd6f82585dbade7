// Previews: plays a WAVE image (RIFF bytes, 16-bit PCM) from memory through
// the default audio output, asynchronously. Starting a preview stops the one
// that is playing. Without an audio device nothing plays (the window tells
// the user, see OutputAvailable).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <QObject>

class QAudioSink;
class QBuffer;

namespace melodrift {

// Where the PCM data of a RIFF WAVE image lies and how it is laid out.
struct WaveImageLayout {
    int SampleRate = 0;
    int Channels = 0;
    int BitsPerSample = 0;
    std::size_t DataOffset = 0;  // bytes from the start of the image
    std::size_t DataBytes = 0;   // clipped to what the image holds
};

// Reads the "fmt " and "data" chunks of a RIFF WAVE image (chunks of odd size
// are followed by a pad byte). No value when the image is not PCM WAVE.
std::optional<WaveImageLayout> ReadWaveImageLayout(std::string_view image);

class PreviewPlayer : public QObject {
public:
    PreviewPlayer();
    ~PreviewPlayer() override;

    // Stops any sound, then plays `image` (which the player keeps alive).
    // False when nothing plays: an empty or foreign image, or no device.
    bool Play(std::string image);
    void Stop();
    // True when the system has a default audio output device.
    static bool OutputAvailable();

private:
    std::string playStream_;  // the image being played
    std::unique_ptr<QBuffer> buffer_;
    std::unique_ptr<QAudioSink> sink_;
};

}  // namespace melodrift

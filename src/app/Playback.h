// Previews: plays a WAVE image (RIFF bytes, 8- or 16-bit PCM) from memory
// through the default audio output, asynchronously. Starting a preview stops
// the one that is playing. Without an audio device nothing plays (the window
// tells the user, see OutputAvailable). The output itself is the platform's:
// Qt Multimedia (PlaybackQt.cpp) or Windows' waveOut (PlaybackWaveOut.cpp).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <QObject>

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
    // One sound being played from memory; stops when destroyed. Defined by
    // the platform's playback file.
    struct Output;
    struct OutputDeleter {
        void operator()(Output* output) const;
    };
    using OutputPtr = std::unique_ptr<Output, OutputDeleter>;
    // Starts `pcm` (layout.DataBytes of whole frames) playing; null when the
    // device is missing or refuses the format.
    static OutputPtr StartOutput(const WaveImageLayout& layout, const char* pcm);

    std::string playStream_;  // the image being played
    OutputPtr output_;
};

}  // namespace melodrift

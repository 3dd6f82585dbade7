// The preview output through Windows' waveOut (winmm): the whole PCM block
// is handed to the default device in one buffer, which the device reads
// from the player's copy of the image while it plays.
#include "Playback.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>

namespace melodrift {

struct PreviewPlayer::Output {
    HWAVEOUT device = nullptr;
    WAVEHDR header{};
    bool prepared = false;

    ~Output() {
        if (!device) return;
        // Reset returns the buffer at once; only then may it be unprepared.
        waveOutReset(device);
        if (prepared) waveOutUnprepareHeader(device, &header, sizeof header);
        waveOutClose(device);
    }
};

void PreviewPlayer::OutputDeleter::operator()(Output* output) const { delete output; }

bool PreviewPlayer::OutputAvailable() { return waveOutGetNumDevs() > 0; }

PreviewPlayer::OutputPtr PreviewPlayer::StartOutput(const WaveImageLayout& layout,
                                                    const char* pcm) {
    if (layout.DataBytes > MAXDWORD) return nullptr;  // a WAVEHDR holds at most 4 GiB
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = WORD(layout.Channels);
    format.nSamplesPerSec = DWORD(layout.SampleRate);
    format.wBitsPerSample = WORD(layout.BitsPerSample);
    format.nBlockAlign = WORD(layout.Channels * layout.BitsPerSample / 8);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;

    OutputPtr output(new Output);
    if (waveOutOpen(&output->device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) !=
        MMSYSERR_NOERROR) {
        output->device = nullptr;
        return nullptr;
    }
    output->header.lpData = const_cast<LPSTR>(pcm);
    output->header.dwBufferLength = DWORD(layout.DataBytes);
    if (waveOutPrepareHeader(output->device, &output->header, sizeof output->header) !=
        MMSYSERR_NOERROR)
        return nullptr;
    output->prepared = true;
    if (waveOutWrite(output->device, &output->header, sizeof output->header) != MMSYSERR_NOERROR)
        return nullptr;
    return output;
}

}  // namespace melodrift

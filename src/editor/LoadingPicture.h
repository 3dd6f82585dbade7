// The surface while a recording loads: the whole take fitted to the width
// (as "全体" draws it), filled in as the load finds things out. The loudness
// comes first (right after the samples are read), then the spectrum and the
// pitch candidates column by column as the analysis finishes the frames of
// each column, then the traced pitch. The loading thread and the analysis workers fill it in; the
// window draws it from its own thread at any time.
#pragma once

#include "editor/Overview.h"
#include "editor/Timeline.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace melodrift {

class LoadingPicture {
  public:
    // The take will be fitted to `width` columns; candidates show from
    // `minStrength` up, as in the pitch lane. `changed` is called, from
    // the thread that filled something in, when there is something new to
    // draw: at once for the loudness and the pitch, for the spectrum when its
    // first column is complete and then at most every `spectrumInterval`.
    LoadingPicture(int width, float minStrength, std::function<void()> changed,
                   std::chrono::milliseconds spectrumInterval = std::chrono::milliseconds(250));
    ~LoadingPicture();
    LoadingPicture(const LoadingPicture&) = delete;
    LoadingPicture& operator=(const LoadingPicture&) = delete;

    // First, on the loading thread: every frame's loudness. It fixes the
    // frames and their columns: at the zoom "全体" fits them to the width
    // with, or one column per frame when they fit at that. With a
    // `frameCount`, the take has that many frames and `frameVolume` is a
    // provisional loudness of its first frames (while it is read); the
    // call without one follows before the analysis starts.
    void SetLoudness(std::vector<std::int32_t> frameVolume, int frameCount = -1);
    // Then, from the analysis workers, each frame once: spectrum[frame] and
    // candidates[frame] are written and stay as they are. The worker that
    // completes a column takes each band's maximum and each pitch row's
    // brightest candidate over the column's frames.
    void FrameDone(int frame, std::span<const SpectrumColumn> spectrum,
                   std::span<const CandidateSlots> candidates);
    // Last, on the loading thread: the pitch lane of the finished analysis
    // (`pitch` with its first frame, visible frames and zoom set here).
    void SetPitch(PitchLaneInput pitch);

    // What a drawn picture showed.
    struct Shown {
        bool loudness = false;       // some of it
        bool wholeLoudness = false;  // all of it, as the take will show it
        int spectrumColumns = 0;     // columns complete (spectrum and candidates)
        int columns = 0;             // of the take's columns
        bool pitch = false;
    };
    // The surface, `width` × `height`: grey; over the take's columns the
    // lanes black, the loudness as "全体" draws it; the complete columns'
    // spectrum coloured with `densityDb` as SpectrumColour does, and their
    // pitch grid and candidates, until the pitch lane is set; right of the take's end a silver box
    // with a black border, as the lanes end (all silver before the loudness).
    RgbaImage Draw(int width, int height, float densityDb, Shown* shown = nullptr) const;

  private:
    const int width_;
    const float minStrength_;
    const std::function<void()> changed_;
    const std::chrono::milliseconds interval_;
    // Set by SetLoudness, before the workers start.
    Zoom zoom_{1, 1};
    VisibleRange range_;
    std::unique_ptr<std::atomic<int>[]> framesLeft_;  // per column, frames still to come

    mutable std::mutex mutex_;  // guards what follows
    bool hasLoudness_ = false;
    bool wholeLoudness_ = false;
    RgbaImage volumeLane_;
    std::vector<SpectrumColumn> peaks_;             // per column
    std::vector<PitchCandidateLevels> candidates_;  // per column
    std::vector<std::uint8_t> complete_;            // per column, 1 when both hold it
    int completeCount_ = 0;
    bool spectrumShown_ = false;
    std::chrono::steady_clock::time_point lastNotice_;
    RgbaImage pitchLane_;
    bool pitchOverColumns_ = false;  // pitchLane_ holds the grid and track only
};

}  // namespace melodrift

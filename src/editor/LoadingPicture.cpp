#include "editor/LoadingPicture.h"

#include "editor/LaneLayout.h"
#include "editor/Overview.h"

#include <algorithm>

namespace melodrift {

LoadingPicture::LoadingPicture(int width, float minStrength, std::function<void()> changed,
                               std::chrono::milliseconds spectrumInterval)
    : width_(std::max(width, 1)),
      minStrength_(minStrength),
      changed_(std::move(changed)),
      interval_(spectrumInterval) {}

LoadingPicture::~LoadingPicture() = default;

void LoadingPicture::SetLoudness(std::vector<std::int32_t> frameVolume, int frameCount) {
    const int frames = frameCount < 0 ? static_cast<int>(frameVolume.size()) : frameCount;
    if (frameVolume.size() > static_cast<std::size_t>(frames))
        frameVolume.resize(static_cast<std::size_t>(frames));
    {
        const std::lock_guard lock(mutex_);
        if (frames > 0) {
            const Zoom fit = ZoomToFit(frames, width_);
            zoom_ = fit.Overview() ? fit : Zoom(1, 1);
            range_ = ComputeVisibleRange(0, VisibleFramesFor(width_, zoom_), frames, zoom_);
            const int columns = std::max(range_.right, 0);
            volumeLane_ = BuildVolumeOverview(frameVolume, range_, zoom_);
            framesLeft_ = std::make_unique<std::atomic<int>[]>(static_cast<std::size_t>(columns));
            const int end = std::min(range_.lastFrame + 1, frames);
            for (int x = 0; x < columns; ++x) {
                const int begin = range_.firstFrame + x * zoom_.frames;
                framesLeft_[static_cast<std::size_t>(x)].store(
                    std::clamp(end - begin, 0, zoom_.frames), std::memory_order_relaxed);
            }
            peaks_.assign(static_cast<std::size_t>(columns), SpectrumColumn{});
            candidates_.assign(static_cast<std::size_t>(columns), PitchCandidateLevels{});
            complete_.assign(static_cast<std::size_t>(columns), 0);
        }
        hasLoudness_ = true;
        wholeLoudness_ = frameCount < 0;
    }
    if (changed_) changed_();
}

void LoadingPicture::FrameDone(int frame, std::span<const SpectrumColumn> spectrum,
                               std::span<const CandidateSlots> candidates) {
    if (!framesLeft_ || frame < range_.firstFrame || frame > range_.lastFrame) return;
    const int x = (frame - range_.firstFrame) / zoom_.frames;
    if (x >= range_.right) return;
    // The last of the column's frames: the other frames' rows were written
    // before their own decrements, which this one (acquire) follows.
    if (framesLeft_[static_cast<std::size_t>(x)].fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    const int begin = range_.firstFrame + x * zoom_.frames;
    const int end =
        std::min({begin + zoom_.frames, range_.lastFrame + 1, static_cast<int>(spectrum.size())});
    if (begin >= end) return;
    SpectrumColumn peak = spectrum[static_cast<std::size_t>(begin)];
    for (int j = begin + 1; j < end; ++j) {
        const SpectrumColumn& column = spectrum[static_cast<std::size_t>(j)];
        for (int r = 0; r < kSpectrumRows; ++r) peak[r] = std::max(peak[r], column[r]);
    }
    const PitchCandidateLevels levels = CandidateLevels(candidates, {}, begin, end, minStrength_);
    bool notify = false;
    {
        const std::lock_guard lock(mutex_);
        peaks_[static_cast<std::size_t>(x)] = peak;
        candidates_[static_cast<std::size_t>(x)] = levels;
        complete_[static_cast<std::size_t>(x)] = 1;
        ++completeCount_;
        const auto now = std::chrono::steady_clock::now();
        if (!spectrumShown_ || now - lastNotice_ >= interval_) {
            spectrumShown_ = true;
            lastNotice_ = now;
            notify = true;
        }
    }
    if (notify && changed_) changed_();
}

void LoadingPicture::SetPitch(PitchLaneInput pitch) {
    {
        const std::lock_guard lock(mutex_);
        if (!hasLoudness_ || range_.right <= 0) return;
    }
    pitch.firstFrame = 0;
    pitch.visibleFrames = range_.lastFrame + 1;
    pitch.scale = zoom_;
    // Zoomed out the candidates are the columns' own already: the lane
    // needs only the grid and the track, drawn over them.
    const bool overColumns = zoom_.Overview();
    if (overColumns) pitch.candidates = {};
    RgbaImage lane = BuildPitchBitmap(pitch);
    {
        const std::lock_guard lock(mutex_);
        pitchLane_ = std::move(lane);
        pitchOverColumns_ = overColumns;
    }
    if (changed_) changed_();
}

RgbaImage LoadingPicture::Draw(int width, int height, float densityDb, Shown* shown) const {
    const std::lock_guard lock(mutex_);
    RgbaImage surface(width, height, kGrey);
    if (shown != nullptr)
        *shown = {hasLoudness_, wholeLoudness_, completeCount_, std::max(range_.right, 0),
                  !pitchLane_.pixels.empty()};
    if (!hasLoudness_ || range_.right <= 0) {
        surface.FillRect(0, 0, width, height, kSilver);
        return surface;
    }
    const int right = std::min(range_.right, width);
    for (const LaneGeometry* lane : kLanes.Lanes())
        surface.FillRect(0, lane->Top, right, lane->Bottom(), kBlack);
    const auto copy = [&surface, right](const RgbaImage& lane, int top) {
        for (int y = 0; y < lane.height; ++y) {
            for (int x = 0; x < std::min(lane.width, right); ++x)
                surface.Set(x, top + y, lane.At(x, y));
        }
    };
    copy(volumeLane_, kLanes.Volume.Top);
    RgbaImage grid(1, kLanes.Pitch.Height, kBlack);
    DrawPitchGrid(grid);
    for (int x = 0; x < right; ++x) {
        if (complete_[static_cast<std::size_t>(x)] == 0) continue;
        const SpectrumColumn& peak = peaks_[static_cast<std::size_t>(x)];
        for (int r = 0; r < kSpectrumRows; ++r)
            surface.Set(x, kLanes.Spectrum.Top + r, SpectrumColour(peak[r], densityDb));
        if (!pitchLane_.pixels.empty() && !pitchOverColumns_) continue;
        const PitchCandidateLevels& level = candidates_[static_cast<std::size_t>(x)];
        for (int y = 0; y < kLanes.Pitch.Height; ++y) {
            surface.Set(x, kLanes.Pitch.Top + y,
                        level[y] > 0 ? Rgb(level[y], level[y], level[y]) : grid.At(0, y));
        }
    }
    if (!pitchOverColumns_) {
        copy(pitchLane_, kLanes.Pitch.Top);
    } else {
        // The track over the candidates, as BuildPitchOverview draws it.
        for (int y = 0; y < pitchLane_.height; ++y) {
            for (int x = 0; x < std::min(pitchLane_.width, right); ++x) {
                const std::uint32_t pixel = pitchLane_.At(x, y);
                if (pixel == kRed || pixel == kGreen) surface.Set(x, kLanes.Pitch.Top + y, pixel);
            }
        }
    }
    // Past the take's end a silver box with a black border, as the lanes end.
    surface.FillRect(right, 0, width, height, kBlack);
    surface.FillRect(right + 1, 1, width - 1, height - 1, kSilver);
    return surface;
}

}  // namespace melodrift

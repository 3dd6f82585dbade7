// Choosing each frame's pitch from its candidates: chains of candidates
// followed from frame to frame, then the gaps between voiced frames bridged.
#include "audio/PitchAnalyser.h"

#include <algorithm>
#include <vector>

namespace melodrift {

namespace {

constexpr std::size_t Index(int i) { return static_cast<std::size_t>(i); }

// Track of one candidate chain while choosing the pitch.
struct PitchTrack {
    std::int32_t ChainLength = 0;  // frames in the chain
    float RankScore = 0.0f;        // sum, then mean, of 1 / (slot + 1)
    float StrengthScore = 0.0f;    // sum, then mean, of Strength
    float Ratio = 1.0f;            // last frame-to-frame frequency ratio
};

// Slots whose Strength is below this do not take part in tracking.
constexpr double TrackStrengthMin = 3.3;
// A continuation must lie within this frequency ratio of the prediction.
constexpr float TrackRatioMax = 1.1f;
// Chains this long or shorter never supply a pitch.
constexpr std::int32_t TrackChainMin = 5;
// Mean Strength a chain needs to voice its frames.
constexpr double TrackMeanStrengthMin = 4.0;
static_assert(TrackStrengthMin >= MinTracedStrength,
              "the tracker traces only candidates the voicing check measures");

}  // namespace

void PitchAnalyser::TrackPitch() {
    const int n = FrameCount;
    if (n <= 0 || Candidates.size() < Index(n)) return;
    const auto usable = [](const PitchCandidate& c) {
        return c.Freq != 0.0f && !(c.Strength < TrackStrengthMin);
    };

    std::vector<std::array<std::int32_t, melodrift::CandidateCount>> trackOf(Index(n));
    for (auto& row : trackOf) row.fill(-1);
    std::vector<PitchTrack> tracks;

    for (int i = 0; i < n; ++i) {
        const CandidateSlots& list = Candidates[Index(i)];
        for (std::size_t j = 0; j < list.size() && usable(list[j]); ++j) {
            std::int32_t& id = trackOf[Index(i)][j];
            if (id < 0) {
                id = static_cast<std::int32_t>(tracks.size());
                tracks.push_back(PitchTrack{});
            }
            PitchTrack& track = tracks[Index(id)];
            track.ChainLength += 1;
            track.StrengthScore =
                static_cast<float>(track.StrengthScore + static_cast<double>(list[j].Strength));
            track.RankScore =
                static_cast<float>(track.RankScore + 1.0 / static_cast<double>(j + 1));
            if (i + 1 >= n) continue;
            // Follow the chain into the next frame: the first free slot within
            // the ratio limit of the predicted frequency. Slot 0 of this frame
            // is linked first, so stronger candidates claim continuations first.
            const float predicted = list[j].Freq * track.Ratio;
            const CandidateSlots& next = Candidates[Index(i + 1)];
            for (std::size_t k = 0; k < next.size() && usable(next[k]); ++k) {
                if (trackOf[Index(i + 1)][k] >= 0) continue;
                const float fk = next[k].Freq;
                const float distance = std::max(predicted, fk) / std::min(predicted, fk);
                if (distance < TrackRatioMax) {
                    trackOf[Index(i + 1)][k] = id;
                    track.Ratio = fk / list[j].Freq;
                    break;
                }
            }
        }
    }

    for (auto& track : tracks) {
        track.RankScore = track.RankScore / static_cast<float>(track.ChainLength);
        track.StrengthScore = track.StrengthScore / static_cast<float>(track.ChainLength);
    }

    for (int i = 0; i < n; ++i) {
        const CandidateSlots& list = Candidates[Index(i)];
        int chosen = -1;
        float best = 0.0f;
        for (std::size_t j = 0; j < list.size() && list[j].Freq != 0.0f; ++j) {
            const std::int32_t id = trackOf[Index(i)][j];
            if (id < 0) continue;
            const PitchTrack& track = tracks[Index(id)];
            if (track.ChainLength > TrackChainMin && track.RankScore > best) {
                best = track.RankScore;
                chosen = static_cast<int>(j);
            }
        }
        PrefetchAhead(Frames, Index(i));
        AnalysisFrame& frame = Frames[Index(i)];
        if (chosen >= 0 && !(tracks[Index(trackOf[Index(i)][Index(chosen)])].StrengthScore <
                             TrackMeanStrengthMin)) {
            frame.F0 = list[Index(chosen)].Freq;
            Confidence[Index(i)] = list[Index(chosen)].Strength;
        } else {
            frame.F0 = 0.0f;
            Confidence[Index(i)] = 0.0f;
        }
    }

    BridgeGaps();
}

void PitchAnalyser::BridgeGaps() {
    // Two voiced frames at most 20 frames apart whose pitches are within a
    // factor 1.5 of each other: every frame between them (both ends included)
    // re-picks its strongest candidate within ±20 % of the straight line
    // joining the two pitches.
    constexpr int maxGap = 20;
    constexpr double maxRatio = 1.5;
    int anchor = 0;
    for (int i = 1; i < FrameCount; ++i) {
        PrefetchAhead(Frames, Index(i));
        const float anchorF0 = Frames[Index(anchor)].F0;
        const float currentF0 = Frames[Index(i)].F0;
        if (i - anchor > maxGap || anchorF0 == 0.0f) {
            anchor = i;
            continue;
        }
        if (currentF0 == 0.0f) continue;
        const float ratio = std::max(currentF0, anchorF0) / std::min(currentF0, anchorF0);
        if (ratio > maxRatio) continue;
        if (i - anchor >= 2) {
            for (int n = anchor; n <= i; ++n) {
                // The straight line between the two pitches, in extended
                // precision, stored as a single.
                const long double slope =
                    (static_cast<long double>(currentF0) - anchorF0) / (i - anchor);
                const auto v = static_cast<float>(anchorF0 + slope * (n - anchor));
                RepickF0(n, MinTracedStrength, v / 1.2, v * 1.2);
            }
        }
        anchor = i;
    }
}

void PitchAnalyser::RepickF0(int frame, float minStrength, double f1Hz, double f2Hz) {
    if (frame < 0 || frame >= FrameCount || Candidates.size() < Index(FrameCount)) return;
    const double lo = std::min(f1Hz, f2Hz);
    const double hi = std::max(f1Hz, f2Hz);
    const CandidateSlots& list = Candidates[Index(frame)];
    int chosen = -1;
    for (std::size_t j = 0; j < list.size(); ++j) {
        const PitchCandidate& c = list[j];
        if (c.Freq < lo || c.Freq > hi || c.Strength < minStrength) continue;
        if (chosen < 0 || c.Strength > list[Index(chosen)].Strength) chosen = static_cast<int>(j);
    }
    AnalysisFrame& f = Frames[Index(frame)];
    if (chosen >= 0) {
        f.F0 = list[Index(chosen)].Freq;
        Confidence[Index(frame)] = list[Index(chosen)].Strength;
    } else {
        f.F0 = 0.0f;
        Confidence[Index(frame)] = 0.0f;
    }
}

}  // namespace melodrift

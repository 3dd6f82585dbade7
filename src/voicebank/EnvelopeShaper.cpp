#include "voicebank/EnvelopeShaper.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <utility>
#include <vector>

namespace melodrift {

namespace {

constexpr int kFullVolume = 100;
constexpr double kEndFadeMs = 35.0;  // fade-out width of a note whose next note is not joined
constexpr double kMinGapMs = 5.0;    // least distance kept between neighbouring points
constexpr double kJoinToleranceMs =
    2.0;  // overlap and fade widths this close count as one crossfade

bool IsSounding(const Note& note) { return !note.IsRest(); }

}  // namespace

void EnvelopeShaper::ShapeEnvelopes() {
    if (Notes == nullptr || Notes->Count() == 0) return;
    const int count = Notes->Count();
    std::vector<Note*> notes;
    for (int i = 1; i <= count; ++i) notes.push_back(Notes->GetNote(i));

    // Step 1: a sung note uses every point; unused ones start between their
    // neighbours.
    for (Note* note : notes) {
        if (note == nullptr || !IsSounding(*note)) continue;
        auto& env = note->Envelope;
        note->Intensity = 100;
        if (!env[5].Enabled) {
            env[5].Enabled = true;
            note->SetEnvelopePoint(5, (env[2].Volume + env[3].Volume) / 2,
                                   (env[2].Position + env[3].Position) / 2);
        }
        if (env[1].Offset == 0.0 && env[1].Volume == 0)
            note->SetEnvelopePoint(1, env[2].Volume, env[2].Position);
        if (env[4].Offset == 0.0 && env[4].Volume == 0)
            note->SetEnvelopePoint(4, env[3].Volume, env[3].Position);
    }

    // Step 2: joined to the previous note when both sides of the crossfade
    // have the note's overlap as their width.
    std::vector<bool> joined(notes.size(), false);
    for (std::size_t i = 0; i < notes.size(); ++i) {
        Note* note = notes[i];
        if (note == nullptr || !IsSounding(*note) || note->Prev == nullptr) continue;
        const double overlapMs = note->EffectiveVoiceOverlap();
        joined[i] = std::abs(overlapMs - note->Envelope[1].Offset) < kJoinToleranceMs &&
                    std::abs(overlapMs - note->Prev->Envelope[4].Offset) < kJoinToleranceMs;
    }
    std::unordered_map<const Note*, std::size_t> indexOf;
    for (std::size_t i = 0; i < notes.size(); ++i) indexOf.emplace(notes[i], i);
    auto isJoined = [&](const Note* note) {
        auto at = indexOf.find(note);
        return at != indexOf.end() && joined[at->second];
    };

    // Step 3: place the points. Every move re-derives the widths before the
    // next test reads the positions.
    const int attackVolume = static_cast<int>(std::trunc(100.0 * AttackGain));
    const int attackVolumeRounded = static_cast<int>(std::trunc(100.0 * AttackGain + 0.5));
    for (std::size_t i = 0; i < notes.size(); ++i) {
        Note* note = notes[i];
        if (note == nullptr || !IsSounding(*note)) continue;
        auto& env = note->Envelope;
        auto pos = [&](int k) { return env[k].Position; };
        const double preMs = note->EffectivePreUtterance();
        for (int k = 1; k <= 5; ++k) env[k].Volume = kFullVolume;

        if (note->Next == nullptr || !isJoined(note->Next)) {
            // A short fade at the end, but never before the onset + 5 ms.
            env[4].Offset = kEndFadeMs;
            if (pos(6) - kEndFadeMs < preMs + kMinGapMs)
                env[4].Offset = pos(6) - (preMs + kMinGapMs);
            note->UpdateEnvelopePositions();
        }

        if (joined[i] && pos(1) > preMs) {
            // The crossfade reaches past the onset: spread the body evenly
            // between its end and the fade-out.
            note->SetEnvelopePoint(5, kFullVolume, (pos(1) + pos(4)) / 2);
            note->SetEnvelopePoint(2, kFullVolume, (pos(1) + pos(5)) / 2);
            note->SetEnvelopePoint(3, kFullVolume, (pos(5) + pos(4)) / 2);
        } else if (joined[i]) {
            // Accent at the onset, after the crossfade.
            if (preMs + AttackOffset >= pos(1) + kMinGapMs)
                note->SetEnvelopePoint(5, attackVolumeRounded, preMs + AttackOffset);
            else
                note->SetEnvelopePoint(5, attackVolume, pos(1) + kMinGapMs);
            if (pos(4) - kMinGapMs < pos(5))
                note->SetEnvelopePoint(
                    5, kFullVolume,
                    pos(4) - kMinGapMs >= pos(2) ? pos(4) - kMinGapMs : (pos(2) + pos(4)) / 2);
            note->SetEnvelopePoint(2, kFullVolume,
                                   pos(5) - JoinWidth >= pos(1) + kMinGapMs
                                       ? pos(5) - JoinWidth
                                       : (pos(1) + pos(5)) / 2);
            note->SetEnvelopePoint(3, kFullVolume,
                                   pos(5) + JoinWidth > pos(4) - kMinGapMs ? (pos(4) + pos(5)) / 2
                                                                           : pos(5) + JoinWidth);
        } else {
            // A free note: onset point at the preutterance (at least 5 ms in),
            // full volume from JoinWidth before it.
            note->SetEnvelopePoint(2, attackVolume, std::max(preMs + AttackOffset, kMinGapMs));
            if (pos(4) - kMinGapMs < pos(2))
                note->SetEnvelopePoint(2, kFullVolume,
                                       pos(4) - kMinGapMs >= 0 ? pos(4) - kMinGapMs : pos(4) / 2);
            note->SetEnvelopePoint(
                1, kFullVolume, pos(2) - JoinWidth >= kMinGapMs ? pos(2) - JoinWidth : pos(2) / 2);
            note->SetEnvelopePoint(5, kFullVolume,
                                   pos(2) + JoinWidth > pos(4) - kMinGapMs ? (pos(2) + pos(4)) / 2
                                                                           : pos(2) + JoinWidth);
            note->SetEnvelopePoint(3, kFullVolume, pos(5) + (pos(4) - pos(5)) * 2 / 3);
        }
    }
}

namespace {

// The point's volume times the gain interpolated between the two moments at
// `timeMs`, rounded half up and kept within 0..65535.
void ScalePoint(EnvelopePoint& point, double timeMs, double laterGain, double earlierGain,
                double laterMs, double earlierMs) {
    const double gain =
        earlierGain + (laterGain - earlierGain) * (timeMs - earlierMs) / (laterMs - earlierMs);
    const double volume = std::trunc(point.Volume * gain + 0.5);
    if (!std::isfinite(volume)) return;  // a gain without a value leaves the point alone
    point.Volume = static_cast<std::uint16_t>(std::clamp(volume, 0.0, 65535.0));
}

// visit(point, timeMs) for envelope points 1..5 of every note, timeMs the
// point's moment in the recording (the note's sample start plus its position).
template <typename Visit>
void ForEachEnvelopePoint(NoteList& notes, Visit&& visit) {
    for (int i = 1; i <= notes.Count(); ++i) {
        Note* note = notes.GetNote(i);
        if (note == nullptr) continue;
        const double sampleStartMs = note->StartMs - note->EffectivePreUtterance();
        for (int k = 1; k <= 5; ++k) {
            EnvelopePoint& point = note->Envelope[k];
            visit(point, sampleStartMs + point.Position);
        }
    }
}

}  // namespace

void EnvelopeShaper::ApplyLoudness(double laterGain, double earlierGain, double laterMs,
                                   double earlierMs) {
    if (Notes == nullptr || laterMs == earlierMs) return;
    if (earlierMs > laterMs) {
        std::swap(earlierMs, laterMs);
        std::swap(earlierGain, laterGain);
    }
    ForEachEnvelopePoint(*Notes, [&](EnvelopePoint& point, double timeMs) {
        if (timeMs < earlierMs || timeMs >= laterMs) return;
        ScalePoint(point, timeMs, laterGain, earlierGain, laterMs, earlierMs);
    });
}

void EnvelopeShaper::ApplyLoudnessCurve(std::span<const double> timesMs,
                                        std::span<const double> gains) {
    const std::size_t n = std::min(timesMs.size(), gains.size());
    if (Notes == nullptr || n < 2) return;
    const auto times = timesMs.first(n);
    ForEachEnvelopePoint(*Notes, [&](EnvelopePoint& point, double timeMs) {
        // The interval [t_j, t_j+1) holding the time: j + 1 is the first time
        // after it. Times before the first, at or after the last, and NaN lie
        // in none (a NaN would only be scaled by NaN gains, which leave the
        // point alone).
        const auto after = std::upper_bound(times.begin(), times.end(), timeMs);
        if (after == times.begin() || after == times.end() || std::isnan(timeMs)) return;
        const auto j = static_cast<std::size_t>(after - times.begin()) - 1;
        ScalePoint(point, timeMs, gains[j + 1], gains[j], times[j + 1], times[j]);
    });
}

}  // namespace melodrift

#include "editor/History.h"

#include "audio/PitchAnalyser.h"

#include <algorithm>

namespace melodrift {

namespace {

bool SameSegment(const Segment& a, const Segment& b) {
    return a.StartMs == b.StartMs && a.LengthMs == b.LengthMs && a.Lyric == b.Lyric;
}

std::size_t SegmentBytes(const std::vector<Segment>& run) {
    std::size_t bytes = run.size() * sizeof(Segment);
    for (const Segment& s : run) bytes += s.Lyric.capacity();
    return bytes;
}

}  // namespace

std::vector<FramePitch> CapturePitch(const EditorSession& session) {
    std::vector<FramePitch> pitch;
    const PitchAnalyser& an = *session.Analyser;
    const std::size_t n = static_cast<std::size_t>(session.FrameCount());
    pitch.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const float confidence = i < an.Confidence.size() ? an.Confidence[i] : 0.0f;
        pitch.push_back(FramePitch{an.Frames[i].F0, an.Frames[i].TargetF0, confidence});
    }
    return pitch;
}

EditHistory::EditHistory(std::size_t maxSteps, std::size_t maxBytes)
    : maxSteps_(std::max<std::size_t>(1, maxSteps)), maxBytes_(maxBytes) {}

void EditHistory::Begin(const EditorSession& session, EditScope scope) {
    Snapshot snap;
    snap.Segments = session.Segments;
    if (scope == EditScope::SegmentsAndPitch) snap.Pitch = CapturePitch(session);
    snap.WaveFile = session.WaveFileName;
    snap.FrameCount = session.FrameCount();
    pending_ = std::move(snap);
}

bool EditHistory::Commit(const EditorSession& session) {
    if (!pending_) return false;
    Snapshot before = std::move(*pending_);
    pending_.reset();
    if (before.WaveFile != session.WaveFileName || before.FrameCount != session.FrameCount()) {
        // Another recording: the steps recorded so far no longer apply.
        Clear();
        return false;
    }

    Step step;
    // The differing run of the segment list: strip the common head and tail.
    const std::vector<Segment>& now = session.Segments;
    std::size_t head = 0;
    while (head < before.Segments.size() && head < now.size() &&
           SameSegment(before.Segments[head], now[head]))
        ++head;
    std::size_t tail = 0;
    while (tail < before.Segments.size() - head && tail < now.size() - head &&
           SameSegment(before.Segments[before.Segments.size() - 1 - tail],
                       now[now.size() - 1 - tail])) {
        ++tail;
    }
    step.First = head;
    step.Before.assign(before.Segments.begin() + static_cast<std::ptrdiff_t>(head),
                       before.Segments.end() - static_cast<std::ptrdiff_t>(tail));
    step.After.assign(now.begin() + static_cast<std::ptrdiff_t>(head),
                      now.end() - static_cast<std::ptrdiff_t>(tail));

    if (!before.Pitch.empty()) {
        const std::vector<FramePitch> after = CapturePitch(session);
        for (std::size_t i = 0; i < after.size() && i < before.Pitch.size(); ++i) {
            if (!(after[i] == before.Pitch[i])) {
                step.Frames.push_back(
                    FrameChange{static_cast<std::int32_t>(i), before.Pitch[i], after[i]});
            }
        }
    }
    if (step.Before.empty() && step.After.empty() && step.Frames.empty()) return false;

    step.Bytes = sizeof(Step) + SegmentBytes(step.Before) + SegmentBytes(step.After) +
                 step.Frames.size() * sizeof(FrameChange);
    step.Id = nextId_++;

    // A new edit ends the redo branch.
    for (std::size_t i = position_; i < steps_.size(); ++i) bytes_ -= steps_[i].Bytes;
    steps_.resize(position_);
    bytes_ += step.Bytes;
    steps_.push_back(std::move(step));
    position_ = steps_.size();

    // Drop the oldest steps beyond the bounds (the newest always stays).
    std::size_t drop = 0;
    std::size_t bytes = bytes_;
    while (steps_.size() - drop > 1 && (steps_.size() - drop > maxSteps_ || bytes > maxBytes_)) {
        bytes -= steps_[drop].Bytes;
        ++drop;
    }
    if (drop > 0) {
        baseId_ = steps_[drop - 1].Id;
        steps_.erase(steps_.begin(), steps_.begin() + static_cast<std::ptrdiff_t>(drop));
        bytes_ = bytes;
        position_ = steps_.size();
    }
    return true;
}

void EditHistory::Apply(EditorSession& session, const Step& step, bool forward) const {
    const std::vector<Segment>& from = forward ? step.Before : step.After;
    const std::vector<Segment>& to = forward ? step.After : step.Before;
    std::vector<Segment>& list = session.Segments;
    const auto first =
        list.begin() + static_cast<std::ptrdiff_t>(std::min(step.First, list.size()));
    const auto last = first + static_cast<std::ptrdiff_t>(std::min(
                                  from.size(), static_cast<std::size_t>(list.end() - first)));
    list.insert(list.erase(first, last), to.begin(), to.end());

    if (!step.Frames.empty()) {
        PitchAnalyser& an = *session.Analyser;
        for (const FrameChange& change : step.Frames) {
            const auto i = static_cast<std::size_t>(change.Frame);
            if (i >= an.Frames.size()) continue;
            const FramePitch& value = forward ? change.After : change.Before;
            an.Frames[i].F0 = value.F0;
            an.Frames[i].TargetF0 = value.TargetF0;
            if (i < an.Confidence.size()) an.Confidence[i] = value.Confidence;
        }
        session.BuildPitchCents();
    }
    session.Mouse = MouseMode::Idle;
    session.HoverSegment = session.HoverCut = session.SelFirst = session.SelLast = -1;
    session.Modified = true;
}

bool EditHistory::Undo(EditorSession& session) {
    if (!CanUndo()) return false;
    pending_.reset();
    --position_;
    Apply(session, steps_[position_], false);
    return true;
}

bool EditHistory::Redo(EditorSession& session) {
    if (!CanRedo()) return false;
    pending_.reset();
    Apply(session, steps_[position_], true);
    ++position_;
    return true;
}

void EditHistory::Clear() {
    steps_.clear();
    position_ = 0;
    bytes_ = 0;
    pending_.reset();
    baseId_ = nextId_++;
    savedId_ = baseId_;
}

void EditHistory::MarkSaved() { savedId_ = StateId(); }

bool EditHistory::HasUnsavedEdits() const { return StateId() != savedId_; }

std::uint64_t EditHistory::StateId() const {
    return position_ == 0 ? baseId_ : steps_[position_ - 1].Id;
}

}  // namespace melodrift

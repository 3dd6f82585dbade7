// Undo and redo of the session's edits: cuts, lyrics, pitch lines,
// automatic segmentation and loading an edit state of the same recording.
//
// A step stores only what the edit changed, never a copy of the analysis:
//  - segments: the smallest run of the list that differs (common head and
//    tail removed), before and after; one moved cut is 2–3 segments, an
//    automatic segmentation the whole list;
//  - frames: for every frame whose pitch fields differ, its index and the
//    F0, TargetF0 and confidence before and after (a pitch line over 1 s is
//    about 170 frames, 28 bytes each).
// The history keeps at most `maxSteps` steps and `maxBytes` of stored
// changes; the oldest steps go first.
//
// Use: Begin before an edit (or a gesture that edits, such as dragging a
// cut), Commit after it. A Commit that finds nothing changed records
// nothing. A Commit after the recording itself changed (another file, other
// frame count) cannot be undone and clears the history instead.
#pragma once

#include "editor/Session.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace melodrift {

// What an edit can change: the segment list only, or the frames' pitch too.
enum class EditScope { Segments, SegmentsAndPitch };

// The pitch fields of one analysis frame that edits change.
struct FramePitch {
    float F0 = 0.0f;          // [Hz]
    float TargetF0 = 0.0f;    // [Hz]
    float Confidence = 0.0f;  // strength of the chosen candidate
    friend bool operator==(const FramePitch&, const FramePitch&) = default;
};

class EditHistory {
  public:
    explicit EditHistory(std::size_t maxSteps = 200, std::size_t maxBytes = 64u << 20);

    // Remembers the session's state before an edit. A second Begin replaces
    // the first.
    void Begin(const EditorSession& session, EditScope scope);
    bool Pending() const { return pending_.has_value(); }
    // Records what changed since Begin as one step (discarding the steps
    // that were undone). True when a step was recorded.
    bool Commit(const EditorSession& session);
    // Forgets a Begin without recording.
    void Abandon() { pending_.reset(); }

    bool CanUndo() const { return position_ > 0; }
    bool CanRedo() const { return position_ < steps_.size(); }
    // Restores the state before the last step (after the next one). The
    // pitch in cents is rebuilt; pointer and selection state is reset.
    // False when there is nothing to undo (redo).
    bool Undo(EditorSession& session);
    bool Redo(EditorSession& session);

    // Forgets every step (a new recording was loaded); the state now is the
    // saved one.
    void Clear();
    // The state now is the saved one (after a save, a load or Insert).
    void MarkSaved();
    // True when the segments, lyrics or pitch differ from the saved state
    // as far as the recorded steps tell (undoing back to it clears this).
    bool HasUnsavedEdits() const;

    std::size_t StepCount() const { return steps_.size(); }
    std::size_t StoredBytes() const { return bytes_; }

  private:
    struct FrameChange {
        std::int32_t Frame = 0;
        FramePitch Before;
        FramePitch After;
    };
    struct Step {
        std::uint64_t Id = 0;
        std::size_t First = 0;        // first segment of the changed run
        std::vector<Segment> Before;  // the run before the edit
        std::vector<Segment> After;   // the run after it
        std::vector<FrameChange> Frames;
        std::size_t Bytes = 0;
    };
    struct Snapshot {
        std::vector<Segment> Segments;
        std::vector<FramePitch> Pitch;  // empty for EditScope::Segments
        std::filesystem::path WaveFile;
        int FrameCount = 0;
    };

    void Apply(EditorSession& session, const Step& step, bool forward) const;
    std::uint64_t StateId() const;

    std::size_t maxSteps_;
    std::size_t maxBytes_;
    std::vector<Step> steps_;
    std::size_t position_ = 0;  // steps_[0 .. position_) are applied
    std::size_t bytes_ = 0;
    std::uint64_t nextId_ = 1;
    std::uint64_t baseId_ = 0;   // id of the state before steps_[0]
    std::uint64_t savedId_ = 0;  // id of the saved state; none when unreachable
    std::optional<Snapshot> pending_;
};

// The pitch fields of every frame of the session's analysis.
std::vector<FramePitch> CapturePitch(const EditorSession& session);

}  // namespace melodrift

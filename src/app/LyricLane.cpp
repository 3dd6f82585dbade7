#include "LyricLane.h"

#include <algorithm>

namespace melodrift {

namespace {
constexpr int kLyricLaneRows = 16;
}  // namespace

RgbaImage VisibleLyricBitmap(const EditorSession& session, int surfaceWidth) {
    if (session.FrameCount() <= 0) return RgbaImage();
    const int width = std::clamp(LyricBitmapWidth(session), 0, std::max(0, surfaceWidth));
    RgbaImage image(width, kLyricLaneRows, kWhite);
    for (const LyricBox& box : BuildLyricBoxes(session)) {
        if (box.right <= box.left) continue;
        // A box is its black border on the outermost pixels of
        // [left, right) × [0, 16) around its fill.
        const int left = int(std::clamp<std::int64_t>(box.left, -1, std::int64_t(width) + 1));
        const int right = int(std::clamp<std::int64_t>(box.right, -1, std::int64_t(width) + 1));
        image.FillRect(left, 0, right, kLyricLaneRows, kBlack);
        image.FillRect(left + 1, 1, right - 1, kLyricLaneRows - 1, box.fill);
    }
    return image;
}

}  // namespace melodrift

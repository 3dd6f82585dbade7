// The lyric lane's image as far as the surface shows it.
#pragma once

#include "editor/Session.h"
#include "editor/Timeline.h"

namespace melodrift {

// The boxes of the editor's lyric-lane image (BuildLyricBitmap), cut at the
// surface's right edge: the columns 0..surfaceWidth−1 of that image, without
// building the columns beyond them (a 10-minute recording at 8 pixels per
// frame would need 800,000 of them).
RgbaImage VisibleLyricBitmap(const EditorSession& session, int surfaceWidth);

}  // namespace melodrift

// The lyric lane's image as far as the surface shows it.
#pragma once

#include "editor/Session.h"
#include "editor/Timeline.h"

#include <QFont>

namespace melodrift {

// The font of the lyric texts: 12 pixels, or smaller until the ink of kana,
// kanji and Latin letters with descenders fits the 14 rows inside a lyric
// box's border, so that whole glyphs show.
QFont LyricTextFont();
// The baseline that centres that ink in the rows interiorTop ..
// interiorTop + interiorHeight − 1.
int LyricBaseline(const QFont& font, int interiorTop, int interiorHeight);

// The boxes of the editor's lyric-lane image (BuildLyricBitmap), cut at the
// surface's right edge: the columns 0..surfaceWidth−1 of that image, without
// building the columns beyond them (a 10-minute recording at 8 pixels per
// frame would need 800,000 of them).
RgbaImage VisibleLyricBitmap(const EditorSession& session, int surfaceWidth);

}  // namespace melodrift

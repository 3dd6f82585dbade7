#include "LyricLane.h"

#include <algorithm>

#include <QFontMetrics>
#include <QString>
#include <QStringList>

namespace melodrift {

namespace {
constexpr int kLyricLaneRows = 16;
constexpr int kLyricFontPixels = 12;
}  // namespace

namespace {
// Text whose ink every lyric font must fit: kana (small ones too), a kanji,
// and Latin letters with descenders.
QString InkSample() { return QStringLiteral("あこゃっ漢Rrgjy"); }
}  // namespace

QFont LyricTextFont() {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                      QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP")});
    for (int pixels = kLyricFontPixels; pixels > 6; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetrics(font).tightBoundingRect(InkSample()).height() <= kLyricLaneRows - 2) break;
    }
    return font;
}

int LyricBaseline(const QFont& font, int interiorTop, int interiorHeight) {
    const QRect ink = QFontMetrics(font).tightBoundingRect(InkSample());
    // ink.top() is negative: the ink's top edge above the baseline.
    return interiorTop + (interiorHeight - ink.height()) / 2 - ink.top();
}

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

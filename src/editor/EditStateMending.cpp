#include "editor/EditStateMending.h"

#include "text/NumberFormat.h"

#include <algorithm>
#include <cmath>

namespace melodrift {

namespace {

// Times are written with FormatGeneral: a stored end and the next stored
// start may differ by rounding, never by this much.
constexpr double kToleranceMs = 0.001;

}  // namespace

std::vector<Segment> MendSegments(std::vector<StoredSegment> stored, double durationMs,
                                  double gapMs, EditStateMends& mends) {
    // What the stored lengths say, judged against the stored starts in time
    // order (the lengths themselves are not used: each segment lasts until
    // the next one starts).
    const auto byStart = [](const StoredSegment& a, const StoredSegment& b) {
        return a.StartMs < b.StartMs;
    };
    mends.Reordered = !std::is_sorted(stored.begin(), stored.end(), byStart);
    std::stable_sort(stored.begin(), stored.end(), byStart);
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const StoredSegment& seg = stored[i];
        if (seg.StartMs < 0.0 || seg.StartMs >= durationMs) ++mends.Outside;
        if (!seg.LengthMs) continue;
        const double length = *seg.LengthMs;
        if (!(length > 0.0)) {
            ++mends.NonPositiveLength;
            continue;
        }
        const double end = seg.StartMs + length;
        if (i + 1 < stored.size()) {
            const double next = stored[i + 1].StartMs;
            if (end > next + kToleranceMs)
                ++mends.Overlapping;
            else if (end < next - kToleranceMs)
                ++mends.Gapped;
        } else if (end > durationMs + kToleranceMs) {
            ++mends.PastEnd;
        }
    }
    if (!stored.empty() && stored.front().StartMs > 0.0) mends.LateFirstStart = true;

    // Segments cover the recording from its start: pitch and loudness are
    // read from the segments' times, so a first start after 0 would shift
    // every note. The first segment takes the head; every later start lies
    // at least one cut distance after the one before and before the end, as
    // cuts made in the editor do, so no segment is shorter than that.
    std::vector<Segment> segments;
    segments.reserve(stored.size());
    for (StoredSegment& seg : stored) {
        double start = std::clamp(seg.StartMs, 0.0, durationMs);
        if (segments.empty()) {
            start = 0.0;
        } else {
            const double earliest = segments.back().StartMs + gapMs;
            if (start < earliest) {
                start = earliest;
                ++mends.TooClose;
            }
            if (start > durationMs - gapMs) {
                mends.Dropped.push_back(seg.Lyric);
                continue;
            }
        }
        segments.push_back(Segment{start, 0.0, std::move(seg.Lyric)});
    }
    return segments;
}

std::string EditStateMendsMessage(const EditStateMends& mends) {
    const auto count = [](std::int64_t n) { return FormatInteger(n); };
    std::string text = "編集ファイルの区間に誤りがあったため、直して読み込みました。";
    if (mends.Reordered) text += "\n・時刻の順に並んでいない区間を並べ直しました。";
    if (mends.Outside > 0)
        text += "\n・開始時刻が録音の範囲外の区間 " + count(mends.Outside) +
                " 個を範囲内に移しました。";
    if (mends.LateFirstStart) text += "\n・最初の区間を録音の先頭から始めました。";
    if (mends.NonPositiveLength > 0)
        text += "\n・長さが 0 以下の区間 " + count(mends.NonPositiveLength) +
                " 個を、次の区間の開始までの長さにしました。";
    if (mends.Overlapping > 0)
        text += "\n・次の区間と重なっていた区間 " + count(mends.Overlapping) +
                " 個を、次の区間の開始で区切りました。";
    if (mends.Gapped > 0)
        text += "\n・次の区間との間にすき間があった区間 " + count(mends.Gapped) +
                " 個を、次の区間の開始まで伸ばしました。";
    if (mends.PastEnd > 0)
        text += "\n・録音の終わりを越えていた最後の区間を、録音の終わりまでにしました。";
    if (mends.TooClose > 0)
        text += "\n・前の区間に近すぎる（または同じ時刻の）区切り " + count(mends.TooClose) +
                " 個を後ろにずらしました。";
    if (!mends.Dropped.empty()) {
        text += "\n・録音に収まらない区間 " +
                count(static_cast<std::int64_t>(mends.Dropped.size())) +
                " 個を削除しました（歌詞: ";
        constexpr std::size_t kNamed = 10;
        for (std::size_t i = 0; i < std::min(mends.Dropped.size(), kNamed); ++i)
            text += (i > 0 ? "、" : "") + mends.Dropped[i];
        if (mends.Dropped.size() > kNamed) text += "、…";
        text += "）。";
    }
    if (mends.Missing > 0)
        text += "\n・MojiCount が示す区間のうち " + count(mends.Missing) +
                " 個がファイルにないため、読み込みませんでした。";
    if (mends.CountCut > 0)
        text += "\n・MojiCount が録音に収まる区間の数を " + count(mends.CountCut) +
                " 個超えていたため、収まる数までにしました。";
    return text;
}

}  // namespace melodrift

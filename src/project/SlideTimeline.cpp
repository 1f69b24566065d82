#include "project/SlideTimeline.h"

#include "base/NumberText.h"
#include "project/ProjectError.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kiv {

TSlideTimeline TSlideTimeline::Build(std::span<const std::int32_t> syncPoints,
                                     const TTransitionTime& transitionTime, const TSlideId& slideId) {
    TSlideTimeline timeline;
    const std::size_t count = syncPoints.size();
    timeline.slides_.resize(count);
    double previous = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double sync = syncPoints[i];
        if (sync < previous) throw EProjectError("Incorrect time");
        TSlideInfo& info = timeline.slides_[i];
        info.transition = transitionTime(static_cast<std::int32_t>(i));
        info.nextTransition = transitionTime(static_cast<std::int32_t>(i + 1));
        info.start = previous;
        info.sync = sync;
        if (info.sync - info.start < info.transition) info.transition = info.sync - info.start;
        info.end = info.sync + info.nextTransition;
        timeline.period_ = info.sync;
        info.slideId = slideId(static_cast<std::int32_t>(i));
        previous = sync;
    }
    return timeline;
}

std::int32_t TSlideTimeline::GetSlideTimes(std::int32_t index, TSlideInfo& info) const {
    const std::int32_t count = Count();
    if (index == -1) {
        info.start = kBeforeShowStart;
        info.sync = 0;
        info.transition = 0;
        info.nextTransition = count > 0 ? slides_[0].transition : 0;
        info.end = info.nextTransition;
        return -1;
    }
    if (index < -1) {
        info.start = kFarBeforeShowStart;
        info.sync = kBeforeShowStart;
        info.transition = 0;
        info.nextTransition = 0;
        info.end = kBeforeShowStart;
        return -1;
    }
    if (count == 0) {
        info = TSlideInfo();
        return 0;
    }
    const std::int32_t loop = index / count;
    info = slides_[static_cast<std::size_t>(index % count)];
    const double shift = loop * period_;
    if (shift > 0) {
        info.start += shift;
        info.sync += shift;
        info.end += shift;
    }
    return loop;
}

std::int32_t TSlideTimeline::FindSlideAt(double time) const {
    if (std::isnan(time) || time <= 0) return -1;
    const std::int32_t count = Count();
    if (count == 0 || !(period_ > 0)) return count - 1;

    constexpr std::int32_t kMaxIndex = std::numeric_limits<std::int32_t>::max();
    const std::int32_t maxLoop = kMaxIndex / count;
    // Sync of the last slide of pass `loop`, computed as GetSlideTimes computes it.
    const auto passEnd = [this](double loop) { return loop > 0 ? period_ + loop * period_ : period_; };
    const double estimate = std::ceil(time / period_) - 1;
    if (!(estimate <= maxLoop)) return kMaxIndex;
    double loop = std::max(0.0, estimate);
    // The division may be one off from the sums the records hold; settle on the first pass whose
    // end reaches the time.
    while (loop > 0 && passEnd(loop - 1) >= time)
        loop -= 1;
    while (passEnd(loop) < time) {
        if (loop >= maxLoop) return kMaxIndex;
        loop += 1;
    }
    const double shift = loop > 0 ? loop * period_ : 0;
    const auto first = std::partition_point(slides_.begin(), slides_.end(),
                                            [&](const TSlideInfo& info) { return info.sync + shift < time; });
    const auto slide =
        static_cast<std::int64_t>(std::min<std::ptrdiff_t>(first - slides_.begin(), count - 1));
    const std::int64_t index = static_cast<std::int64_t>(loop) * count + slide;
    return index > kMaxIndex ? kMaxIndex : static_cast<std::int32_t>(index);
}

double SlideEntryTime(const TSlideInfo& info, bool showEndsHere) {
    const double start = static_cast<double>(RoundHalfEven(info.start));
    return info.transition != 0 || showEndsHere ? start : start + 1;
}

} // namespace kiv

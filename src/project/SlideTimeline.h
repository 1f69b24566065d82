// The timeline of a show: one record per slide with the times at which its incoming transition
// begins, the slide's synchronisation point, the transition lengths and the time at which it has
// completely disappeared. Built once from the synchronisation points of the project; afterwards it
// is read-only and may be read from any thread. Times are milliseconds from the start of the show.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace kiv {

// A slide's times: the one record the timeline makes and keyframe timing, navigation and the
// engine read.
struct TSlideInfo {
    double start = 0;          // the incoming transition begins
    double sync = 0;           // the next slide's transition begins
    double transition = 0;     // length of the incoming transition (cut to sync - start)
    double nextTransition = 0; // length of the following transition, uncut
    double end = 0;            // sync + nextTransition: the slide has gone
    std::string slideId{};     // empty before the show; "{}" lets records be brace-initialised in part
};

using TSlideInfoList = std::vector<TSlideInfo>;

// Where a jump to a slide lands: its start rounded to whole ms, or one ms after it when the slide
// has no incoming transition (at its very start the previous slide is still the one shown), except
// where the show ends.
double SlideEntryTime(const TSlideInfo& info, bool showEndsHere);

class TSlideTimeline {
public:
    // Start of the record before the show (index -1), and of every record before that.
    static constexpr double kBeforeShowStart = -1073741823.0;
    static constexpr double kFarBeforeShowStart = -2147483647.0;

    // Per slide j of 0..count: the transition time of slide j (j = count: the transition that
    // follows the last slide).
    using TTransitionTime = std::function<double(std::int32_t)>;
    // Per slide i of 0..count-1: its identifier.
    using TSlideId = std::function<std::string(std::int32_t)>;

    TSlideTimeline() = default;

    // `syncPoints[k]` is the synchronisation point that ends slide k (the project's opt_synchpos
    // k+1). The callbacks are asked slide by slide, in order. Raises EProjectError "Incorrect time"
    // when a point lies before the one before it (the first one before 0).
    static TSlideTimeline Build(std::span<const std::int32_t> syncPoints,
                                const TTransitionTime& transitionTime, const TSlideId& slideId);

    std::int32_t Count() const { return static_cast<std::int32_t>(slides_.size()); }
    // Sync of the last slide: the length of one pass (0 without slides).
    double Period() const { return period_; }
    const TSlideInfoList& Slides() const { return slides_; }

    // The record of any index: 0..count-1 as built; beyond that the same slide of a later pass,
    // shifted by pass x period (the returned loop number is the pass); -1 the time before the show;
    // below -1 the time long before (loop -1 for both, the identifier left empty). Without slides a
    // non-negative index gives an all-zero record and loop 0.
    std::int32_t GetSlideTimes(std::int32_t index, TSlideInfo& info) const;

    // The first index from -1 on whose record has start <= time <= sync, found without walking
    // the records one by one. A time at a synchronisation point belongs to the slide ending there.
    // Times at or before 0, and NaN, give -1. When no record can cover the time (a show whose
    // period is 0, or without slides) a later time gives the last slide (count - 1). Times so far
    // ahead that the index would not fit 32 bits give INT32_MAX.
    std::int32_t FindSlideAt(double time) const;

    // sync - start - transition: the time the slide is shown alone.
    static double FreeTime(const TSlideInfo& info) { return info.sync - info.start - info.transition; }

private:
    TSlideInfoList slides_;
    double period_ = 0;
};

} // namespace kiv

#include "viewer/SlideNavigation.h"

#include "base/NumberText.h"

#include <algorithm>
#include <climits>

namespace kiv {

double TSlideNavigation::Rounded(double value) const {
    return static_cast<double>(RoundHalfEven(value));
}

double TSlideNavigation::SlideStartTime(int index) const {
    if (times_.Count() <= 0) return 0;
    index = std::max(index, 0);
    return SlideEntryTime(times_.SlideTimes(index), ShowEndsAt(index));
}

double TSlideNavigation::NextSlideTime(double current, bool paused) const {
    const int count = times_.Count();
    if (count <= 0) return current;
    const int limit = times_.Repeats() ? INT_MAX : count - 1;
    int index = std::min(times_.FindSlideAt(current), limit);
    if (index > INT_MAX - count - 2) return current; // billions of passes on: nowhere left to go
    // Starts grow by a whole period within one pass, so a pass plus one slide always gets past
    // `current`; a show whose slides all have zero length never would, hence the bound.
    const int lastStep = index + count + 1;
    TSlideInfo record;
    do {
        ++index;
        record = times_.SlideTimes(index);
    } while (!(Rounded(record.start) > current) && index < limit && index < lastStep);
    if (record.transition != 0 || ShowEndsAt(index))
        return Rounded(record.start) + (paused ? Rounded(record.transition) : 0);
    return Rounded(record.start) + 1;
}

double TSlideNavigation::PrevSlideTime(double current) const {
    if (times_.Count() <= 0) return 0;
    int index = times_.FindSlideAt(current);
    // At or before the start of the show there is nothing to go back to. (Without this, the slide
    // before the show, whose start lies a billion ms in the past, would be the answer at time 0.)
    if (index < 0) return 0;
    if (current < times_.SlideTimes(index).sync) {
        --index;
        if (index <= 0) return 0;
    }
    TSlideInfo record = times_.SlideTimes(index);
    const double shown = Rounded(record.start + record.transition);
    if (current >= shown + 500) return shown;
    --index;
    if (index <= 0) return 0;
    record = times_.SlideTimes(index);
    return Rounded(record.start + record.transition);
}

int TSlideNavigation::SlideIndexByName(const std::string& name) const {
    const int count = times_.Count();
    for (int index = 0; index < count; ++index)
        if (times_.SlideId(index) == name) return index;
    return 0;
}

} // namespace kiv

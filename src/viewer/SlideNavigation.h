// Slide navigation: the show times the player jumps to for "next slide", "previous slide" and "go to
// slide N", computed over the slide timeline. The timeline is reached through TSlideTimes, the few
// queries navigation needs, so that any timeline (the show's parsed project, a hand-made one) can
// answer them. All results are whole milliseconds.
#pragma once

#include "project/SlideTimeline.h"

#include <cstdint>
#include <string>

namespace kiv {

// The timeline queries of navigation. Any slide index is allowed: negative ones lie before the
// show, those from Count() on are the later passes of a repeating show (and, for a show that does
// not repeat, index Count() starts where the show ends).
class TSlideTimes {
public:
    virtual ~TSlideTimes() = default;
    virtual int Count() const = 0;
    // True when the show starts again after its last slide.
    virtual bool Repeats() const = 0;
    // The slide's timeline record (navigation reads start, sync and transition).
    virtual TSlideInfo SlideTimes(int index) const = 0;
    // The index of the slide at time t: the first index from -1 on whose start <= t <= sync.
    virtual int FindSlideAt(double t) const = 0;
    // The identifier of slide index 0..Count()-1.
    virtual std::string SlideId(int index) const = 0;
};

class TSlideNavigation {
public:
    explicit TSlideNavigation(const TSlideTimes& times) : times_(times) {}

    // The time to show slide `index` (below 0 counts as 0): its start, or 1 ms after it when the
    // slide has no incoming transition (so that the new slide, not the old one, is on screen).
    double SlideStartTime(int index) const;
    // The start of the slide after the one at `current`; when paused, the time its transition has
    // finished, so that a paused show shows the new slide whole. On the last slide of a show that
    // does not repeat, the end of the show.
    double NextSlideTime(double current, bool paused) const;
    // The time the previous slide is fully shown, or the one before it when the previous slide was
    // reached less than 500 ms ago; 0 at the beginning of the show.
    double PrevSlideTime(double current) const;
    // Index of the slide whose identifier is exactly `name`; 0 when no slide has it.
    int SlideIndexByName(const std::string& name) const;

private:
    bool ShowEndsAt(int index) const { return !times_.Repeats() && index == times_.Count(); }
    double Rounded(double value) const;

    const TSlideTimes& times_;
};

} // namespace kiv

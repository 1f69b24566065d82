// The slide durations keyframe times refer to, taken from the slide's timeline record, and the
// plan that fits a slide's keyframes to the slide's actual length: a slide section with
// `ScaleMode` 1 or 2 and `ScaleTimes` "a,b,c" (the authored Sync - Start, incoming and next
// transition) is built with the authored durations and then rescaled to the actual ones.
#pragma once

#include "ini/IniFile.h"
#include "project/SlideTimeline.h"

namespace kiv {

// The lengths keyframe origins are computed from, in whole milliseconds.
struct TSlideDurations {
    double total = 0.0;    // End - Start
    double incoming = 0.0; // incoming transition
    double next = 0.0;     // next transition
};

enum TKeyOrigin : int {
    kOriginSlideBegin = 0,
    kOriginPrevEffectEnd = 1,
    kOriginNextEffectBegin = 2,
    kOriginSlideEnd = 3,
};

// Durations of a slide; each is rounded to whole milliseconds and kept within ±2^31 ms, and a
// non-finite one reads as 0.
TSlideDurations DurationsOf(const TSlideInfo& times) noexcept;
TSlideDurations MakeDurations(double total, double incoming, double next) noexcept;

// Time of an origin within the slide: 0, incoming, total - next, total.
double OriginTime(int origin, const TSlideDurations& durations) noexcept;

struct TKeyframeTiming {
    TSlideDurations build;  // durations the property tree is built with
    TSlideDurations actual; // durations of the slide as it plays
    bool rescale = false;   // build, then Rescale(actual, factor)
    double factor = 1.0;
};

// Reads `ScaleMode` and `ScaleTimes` of the slide section (may be null). Mode 1 rescales by
// (End - Start) / (a + c), mode 2 by (Sync - Start) / a. A divisor of 0, a `ScaleTimes` that is not
// three integers, or any other mode builds with the actual durations directly.
TKeyframeTiming PlanKeyframeTiming(const TIniList* slideSection, const TSlideInfo& times);

} // namespace kiv

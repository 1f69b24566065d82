// The show project's timeline as navigation reads it: TSlideTimes answered by a TKivSource, so that
// "next slide", "previous slide" and "go to slide" move over the slides of the open show.
#pragma once

#include "project/KivSource.h"
#include "viewer/SlideNavigation.h"

namespace kiv {

class TSourceSlideTimes final : public TSlideTimes {
public:
    // Keeps a reference to `source`; its timeline is fixed, so any thread may ask.
    explicit TSourceSlideTimes(TRef<TKivSource> source);

    int Count() const override { return source_->SlideCount(); }
    // Only "repeat" starts the show again; "close" and "stop" end it after the last slide.
    bool Repeats() const override { return source_->EndMode() == TEndMode::Repeat; }
    TSlideInfo SlideTimes(int index) const override;
    int FindSlideAt(double t) const override { return source_->FindSlideAt(t); }
    std::string SlideId(int index) const override;

private:
    TRef<TKivSource> source_;
};

} // namespace kiv

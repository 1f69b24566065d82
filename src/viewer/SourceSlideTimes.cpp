#include "viewer/SourceSlideTimes.h"

#include "base/Assert.h"

namespace kiv {

TSourceSlideTimes::TSourceSlideTimes(TRef<TKivSource> source) : source_(std::move(source)) {
    KIV_ASSERT(source_, "TSourceSlideTimes needs a show project");
}

TSlideInfo TSourceSlideTimes::SlideTimes(int index) const {
    TSlideInfo info;
    source_->GetSlideTimes(index, info);
    return info;
}

std::string TSourceSlideTimes::SlideId(int index) const {
    const TSlideInfoList& slides = source_->Slides();
    if (index < 0 || static_cast<std::size_t>(index) >= slides.size()) return {};
    return slides[static_cast<std::size_t>(index)].slideId;
}

} // namespace kiv

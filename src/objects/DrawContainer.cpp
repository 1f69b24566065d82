#include "objects/DrawContainer.h"

#include <atomic>

namespace kiv {

namespace {

std::atomic<int> liveContainers{0};

} // namespace

TDrawContainer::TDrawContainer(TRef<TTiming> timing, std::int32_t index, const TSlideInfo& info,
                               double loopOffset, TRef<TKivSlide> slide, TRef<TKivFilter> filter)
    : timing_(std::move(timing)),
      index_(index),
      info_(info),
      loopOffset_(loopOffset),
      slide_(std::move(slide)),
      filter_(std::move(filter)) {
    liveContainers.fetch_add(1);
}

TDrawContainer::~TDrawContainer() { liveContainers.fetch_sub(1); }

int TDrawContainer::LiveCount() noexcept { return liveContainers.load(); }

void AdvanceContainer(TDrawContainer& container, double t) {
    TKivSlide* slide = container.Slide();
    if (!slide) return;
    slide->Advance(true, t - container.LoopOffset());
    if (TKivFilter* filter = container.Filter()) filter->progress = t - container.Info().start;
}

} // namespace kiv

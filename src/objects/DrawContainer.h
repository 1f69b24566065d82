// TDrawContainer: one built slide as the engine holds it: the slide index (virtual: index i of a
// show of n slides is slide i mod n in pass i div n), the slide's timing record shifted to that
// pass, the loop offset, the built slide (none when building failed) and its transition holder.
//
// Containers are reference counted: the slide cache holds one reference, every slide list handed
// to the engine holds its own, so a container leaves memory only when the last holder lets go.
//
// Threads: built on the slide loader thread; after the cache announced it, the engine thread alone
// advances and draws its slide. The counters of live containers may be read from any thread.
#pragma once

#include "base/RefObject.h"
#include "framework/Timing.h"
#include "objects/KivSlide.h"
#include "project/KivFilter.h"
#include "project/SlideTimeline.h"

#include <cstdint>

namespace kiv {

class TDrawContainer final : public TRefObject {
public:
    TDrawContainer(TRef<TTiming> timing, std::int32_t index, const TSlideInfo& info, double loopOffset,
                   TRef<TKivSlide> slide, TRef<TKivFilter> filter);

    std::int32_t Index() const noexcept { return index_; }
    // The record shifted to the container's pass (the sentinels for negative indexes).
    const TSlideInfo& Info() const noexcept { return info_; }
    // Pass number × the show's period, ms.
    double LoopOffset() const noexcept { return loopOffset_; }
    // None when the slide's section is missing or its building failed: nothing is drawn for it.
    TKivSlide* Slide() const noexcept { return slide_.Get(); }
    TKivFilter* Filter() const noexcept { return filter_.Get(); }
    const TRef<TTiming>& Timing() const noexcept { return timing_; }

    // Containers alive in the process (for leak checks).
    static int LiveCount() noexcept;

protected:
    ~TDrawContainer() override;

private:
    TRef<TTiming> timing_;
    std::int32_t index_;
    TSlideInfo info_;
    double loopOffset_;
    TRef<TKivSlide> slide_;
    TRef<TKivFilter> filter_;
};

// Moves the container's slide to show time `t`: its objects to t − loop offset, its transition's
// progress to t − Start. Nothing for a container without a slide.
void AdvanceContainer(TDrawContainer& container, double t);

} // namespace kiv

// The per-slide holder of a chosen transition: the descriptor with its duration and smoothline, the
// progress the engine sets each frame, and the running transition filter that the drawer creates on
// first use and that the holder owns from then on.
#pragma once

#include "base/RefObject.h"
#include "project/KivEffect.h"

namespace kiv {

// Base of the parameters a slide carries for its transition.
class TFilterParams : public TRefObject {
protected:
    ~TFilterParams() override = default;
};

class TKivFilter : public TFilterParams {
public:
    TKivFilter() = default;
    // Takes the transition chosen for a slide (effect may be none).
    TKivFilter(TRef<TKivEffect> effect, double duration, float smoothline)
        : effect(std::move(effect)), duration(duration), smoothline(smoothline) {}

    TRef<TKivEffect> effect;
    double duration = 0; // ms
    float smoothline = 0;
    double progress = 0; // ms since the slide's transition started; set by the engine each frame
    // The running transition filter of the effects library; created by the drawer, owned here and
    // released with the holder.
    TRef<TRefObject> drawFilter;

protected:
    ~TKivFilter() override = default;
};

} // namespace kiv

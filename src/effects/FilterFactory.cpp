#include "effects/FilterFactory.h"

#include "base/Log.h"
#include "effects/SlideEffectFilter.h"
#include "effects/TransitionFilters.h"

#include <cmath>
#include <numbers>

namespace kiv {

namespace {

// Switch n (counted from 1).
bool On(const TKivEffect& e, std::size_t n) {
    return n >= 1 && n <= e.switches.size() && e.switches[n - 1];
}

std::int32_t IntParam(const TKivEffect& e, std::size_t i, std::int32_t fallback) {
    return i < e.intParams.size() ? e.intParams[i] : fallback;
}

float FloatParam(const TKivEffect& e, std::size_t i, float fallback) {
    return i < e.floatParams.size() && std::isfinite(e.floatParams[i]) ? e.floatParams[i] : fallback;
}

// The first of directions `from` … `from + count − 1` that is on, as 1 … count; 0 when none.
int FirstDirection(const TKivEffect& e, std::size_t from, int count) {
    for (int d = 1; d <= count; ++d)
        if (On(e, from + static_cast<std::size_t>(d) - 1)) return d;
    return 0;
}

// Push, slide, flip and swap directions: 1 → 2, 2 → 4, 3 → 1, 4 → 3.
int MovingDirection(const TKivEffect& e) {
    static constexpr int kMap[5] = {0, 2, 4, 1, 3};
    return kMap[FirstDirection(e, 1, 4)];
}

TRef<TDrawFilter> Lines(bool horizontal, double cx, double cy, bool reversed) {
    TRef<TDrawFilter> f;
    if (horizontal)
        f = MakeRef<THLines>(cx, cy);
    else
        f = MakeRef<TVLines>(cx, cy);
    f->Reversed = reversed;
    return f;
}

// A diagonal through the centre (8, k) or from a corner (10, k).
TRef<TDrawFilter> Diagonal(int kind, int k) {
    if (kind == 8) {
        auto f = MakeRef<TDiagLines>(1, k > 2);
        f->Reversed = k == 1 || k == 3;
        return f;
    }
    const int mode = k == 1 || k == 3 ? 0 : 2;
    return MakeRef<TDiagLines>(mode, k == 3 || k == 4);
}

TRef<TDrawFilter> MakeFilter(const TKivEffect& e, int w, int h, TDrawItem* outgoing) {
    switch (e.type) {
    case kEffectCustom:
        return MakeCustomTransition(outgoing, e.customSection.Get());
    case kEffectDissolve:
        return MakeRef<TAlphaFilter>();
    case kEffectShapes: {
        const int d = FirstDirection(e, 3, 3);
        if (d == 0) return nullptr;
        const double cx = IntParam(e, 0, 50) / 100.0, cy = IntParam(e, 1, 50) / 100.0;
        TRef<TDrawFilter> f;
        if (d == 1)
            f = MakeRef<TCircleFilter>(cx, cy);
        else if (d == 2)
            f = MakeRef<TRhombFilter>(cx, cy);
        else
            f = MakeRef<TSquareFilter>(cx, cy);
        f->Reversed = On(e, 1);
        return f;
    }
    case kEffectGates:
        switch (FirstDirection(e, 1, 8)) {
        case 1:
            return Lines(true, 0.5, 0.5, true);
        case 2:
            return Lines(false, 0.5, 0.5, true);
        case 3:
            return Diagonal(8, 1);
        case 4:
            return Diagonal(8, 3);
        case 5:
            return Lines(true, 0.5, 0.5, false);
        case 6:
            return Lines(false, 0.5, 0.5, false);
        case 7:
            return Diagonal(8, 2);
        case 8:
            return Diagonal(8, 4);
        default:
            return nullptr;
        }
    case kEffectPage:
        switch (FirstDirection(e, 1, 8)) {
        case 1:
            return Diagonal(10, 2);
        case 2:
            return Lines(false, 0, 1, false);
        case 3:
            return Diagonal(10, 3);
        case 4:
            return Lines(true, 1, 0, false);
        case 5:
            return Lines(true, 0, 0, false);
        case 6:
            return Diagonal(10, 4);
        case 7:
            return Lines(false, 0, 0, false);
        case 8:
            return Diagonal(10, 1);
        default:
            return nullptr;
        }
    case kEffectMosaic: {
        const std::int32_t appearence = IntParam(e, 2, 0);
        const double appearance = appearence < 100 ? appearence : 1000;
        return MakeRef<TRandomFilter>(IntParam(e, 0, 1), IntParam(e, 1, 1),
                                      static_cast<std::uint32_t>(IntParam(e, 3, 0)), appearance);
    }
    case kEffectPush:
    case kEffectSlide: {
        const int d = MovingDirection(e);
        if (d == 0) return nullptr;
        if (e.type == kEffectPush) return MakeRef<TPushFilter>(d);
        return MakeRef<TSlideFilter>(d);
    }
    case kEffectFlip: {
        const int d = MovingDirection(e);
        if (d == 0) return nullptr;
        return MakeRef<TOverturnEffect>(d + (On(e, 5) ? 4 : 0), On(e, 6), FloatParam(e, 0, 0.5f));
    }
    case kEffectHourhand: {
        // Switches: actions 1-2, then the keypad directions 1-9.
        const bool counter = On(e, 2);
        if (On(e, 2 + 5)) return MakeRef<TClockEffect>(0.5, 0.5, counter);
        static constexpr int kOrder[8] = {1, 2, 3, 4, 6, 7, 8, 9};
        static constexpr int kKind[10] = {0, 8, 1, 5, 4, 0, 2, 7, 3, 6};
        for (const int d : kOrder)
            if (On(e, 2 + static_cast<std::size_t>(d)))
                return MakeRef<TBroomEffect>(kKind[d] + (counter ? 8 : 0),
                                             (w + h) * 0.5 * FloatParam(e, 0, 0));
        return nullptr;
    }
    case kEffectSwap: {
        const int d = MovingDirection(e);
        if (d == 0) return nullptr;
        return MakeRef<TTwoSlidesEffect>(d, FloatParam(e, 0, 4), FloatParam(e, 1, 1),
                                         FloatParam(e, 2, 60) * std::numbers::pi / 180);
    }
    case kEffectCurling: {
        // Switches: actions 1-2, directions 1-8, usecolor, usevolume.
        auto dir = [&](int d) { return On(e, 2 + static_cast<std::size_t>(d)); };
        const int mode = dir(1) || dir(3) || dir(6) || dir(8) ? 15 : 14;
        int d = 1;
        if (dir(1))
            d = 3;
        else if (dir(2) || dir(3))
            d = 4;
        else if (dir(4))
            d = 3;
        else if (dir(5))
            d = 1;
        else if (dir(6) || dir(7))
            d = 2;
        TRollEffect2::TOptions options;
        options.pipe = IntParam(e, 0, 1) == 1;
        options.radius = std::round(w * FloatParam(e, 0, 0));
        options.useColor = On(e, 11);
        const auto colorRef = static_cast<std::uint32_t>(IntParam(e, 1, 0));
        options.color = ((colorRef & 0xFF) << 16) | (colorRef & 0xFF00) | ((colorRef >> 16) & 0xFF);
        options.useVolume = On(e, 12);
        options.volume = FloatParam(e, 1, 0.125f);
        return MakeRef<TRollEffect2>(mode, On(e, 2) ? d + 4 : d, options);
    }
    default:
        TLog::Line("Transition: unknown family " + std::to_string(e.type) + "; a dissolve stands in");
        return MakeRef<TAlphaFilter>();
    }
}

} // namespace

TRef<TDrawFilter> MakeTransitionFilter(const TRect& rect, const TKivEffect* effect, float smoothline,
                                       double duration, TDrawItem* outgoing) {
    if (!effect) return nullptr;
    TRef<TDrawFilter> filter = MakeFilter(*effect, rect.Width(), rect.Height(), outgoing);
    if (!filter) return nullptr;
    const double smooth = std::isfinite(smoothline) && smoothline > 0 ? smoothline : 0;
    double ms = std::isfinite(duration) ? duration : 0;
    if (!(ms > 0))
        TLog::Line("Transition: a duration of " + std::to_string(duration) +
                   " ms cannot run; the slide cuts");
    if (ms > 3.6e6) {
        TLog::Line("Transition: a duration of " + std::to_string(ms) + " ms is kept to one hour");
        ms = 3.6e6;
    }
    filter->Init(rect, static_cast<float>(rect.Width() * smooth), static_cast<float>(ms));
    return filter;
}

void InstallTransitionFilters() {
    if (HasTransitionFilterFactory()) return;
    SetTransitionFilterFactory(
        [](const TRect& rect, const TKivEffect* effect, TDrawItem* outgoing, float smoothline, double duration) {
            return MakeTransitionFilter(rect, effect, smoothline, duration, outgoing);
        });
}

} // namespace kiv

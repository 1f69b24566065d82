#include "objects/KeyframeTiming.h"

#include "base/NumberText.h"
#include "ini/IniValues.h"

#include <cmath>

namespace kiv {

namespace {

double WholeMilliseconds(double value) noexcept {
    if (!std::isfinite(value)) return 0.0;
    constexpr double kLimit = 2147483647.0;
    return std::nearbyint(std::fmax(-kLimit, std::fmin(kLimit, value)));
}

} // namespace

TSlideDurations MakeDurations(double total, double incoming, double next) noexcept {
    return {WholeMilliseconds(total), WholeMilliseconds(incoming), WholeMilliseconds(next)};
}

TSlideDurations DurationsOf(const TSlideInfo& times) noexcept {
    return MakeDurations(times.end - times.start, times.transition, times.nextTransition);
}

double OriginTime(int origin, const TSlideDurations& durations) noexcept {
    switch (origin) {
    case kOriginPrevEffectEnd:
        return durations.incoming;
    case kOriginNextEffectBegin:
        return durations.total - durations.next;
    case kOriginSlideEnd:
        return durations.total;
    default:
        return 0.0;
    }
}

TKeyframeTiming PlanKeyframeTiming(const TIniList* slideSection, const TSlideInfo& times) {
    TKeyframeTiming timing;
    timing.actual = DurationsOf(times);
    timing.build = timing.actual;
    if (!slideSection) return timing;
    const int mode = slideSection->GetInt32("ScaleMode", 0);
    if (mode != 1 && mode != 2) return timing;
    const std::string scaleTimes = slideSection->GetText("ScaleTimes");
    const std::vector<std::string_view> parts = SplitIniList(scaleTimes, ',');
    if (parts.size() != 3) return timing;
    const std::optional<std::int32_t> a = ParseInt32(parts[0]);
    const std::optional<std::int32_t> b = ParseInt32(parts[1]);
    const std::optional<std::int32_t> c = ParseInt32(parts[2]);
    if (!a || !b || !c) return timing;
    const double authoredTotal = static_cast<double>(*a) + static_cast<double>(*c);
    const double divisor = mode == 1 ? authoredTotal : static_cast<double>(*a);
    if (divisor == 0.0) return timing;
    const double actualLength = mode == 1 ? timing.actual.total : WholeMilliseconds(times.sync - times.start);
    timing.build = MakeDurations(authoredTotal, *b, *c);
    timing.rescale = true;
    timing.factor = actualLength / divisor;
    return timing;
}

} // namespace kiv

#include "audio/DeviceClock.h"

#include "base/Clock.h"

namespace kiv {

double TProcessClock::NowMs() {
    return static_cast<double>(ProcessMilliseconds());
}

void TVirtualClock::Advance(double ms) {
    double now = now_.load();
    while (!now_.compare_exchange_weak(now, now + ms)) {
    }
}

} // namespace kiv

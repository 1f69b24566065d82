// TFrameInterpolator: smooths the running show clock. The raw clock (the music player's time minus
// the engine's offset) advances in uneven steps; after a warm-up the output follows a prediction
// from the mean of the last 32 increments, pulled one sixth of the way toward the raw value each
// frame. Pass-through hands the raw value on unchanged (the clock is stopped, or headless stepping).
#pragma once

#include <array>

namespace kiv {

class TFrameInterpolator {
public:
    static constexpr int kRingSize = 32;
    static constexpr int kWarmUp = 16;

    double Filter(double x);
    // On: at once (and any pending end is dropped). Off: after the next sample.
    void SetPassThrough(bool on);

    double Output() const noexcept { return output_; }
    bool PassThrough() const noexcept { return passThrough_; }
    int WarmUp() const noexcept { return warmUp_; }
    int Count() const noexcept { return count_; }

private:
    double output_ = 0;
    double lastInput_ = 0;
    int warmUp_ = kWarmUp;
    std::array<double, kRingSize> ring_{};
    int count_ = 0;
    int index_ = 0;
    double sum_ = 0;
    bool passThrough_ = false;
    bool endPassThroughAfterNext_ = false;
};

} // namespace kiv

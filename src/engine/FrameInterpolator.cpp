#include "engine/FrameInterpolator.h"

namespace kiv {

double TFrameInterpolator::Filter(double x) {
    if (passThrough_ || warmUp_ > 0) {
        if (!passThrough_) --warmUp_;
        output_ = x;
    } else {
        ++count_;
        if (count_ > kRingSize) sum_ -= ring_[static_cast<std::size_t>(index_)];
        const double d = x - lastInput_;
        sum_ += d;
        ring_[static_cast<std::size_t>(index_)] = d;
        index_ = (index_ + 1) % kRingSize;
        if (count_ <= kRingSize) {
            output_ = x;
        } else {
            const double prediction = output_ + sum_ / kRingSize;
            output_ = prediction + (x - prediction) / 6.0;
        }
    }
    lastInput_ = x;
    if (endPassThroughAfterNext_) {
        endPassThroughAfterNext_ = false;
        passThrough_ = false;
    }
    return output_;
}

void TFrameInterpolator::SetPassThrough(bool on) {
    if (on) {
        passThrough_ = true;
        endPassThroughAfterNext_ = false;
    } else {
        endPassThroughAfterNext_ = true;
    }
}

} // namespace kiv

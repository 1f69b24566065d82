#include "audio/KivChannel.h"

#include "base/Clock.h"
#include "base/Log.h"

#include <algorithm>

namespace kiv {

void TChannelOperator::Add(TKivChannel& channel) {
    channels_.push_back(ShareRef(&channel));
}

bool TChannelOperator::Remove(TKivChannel& channel) {
    const auto found = std::find_if(channels_.begin(), channels_.end(),
                                    [&](const TRef<TKivChannel>& c) { return c.Get() == &channel; });
    if (found == channels_.end()) return false;
    channels_.erase(found);
    return true;
}

std::vector<TRef<TKivChannel>> TChannelOperator::TakeAll() {
    return std::exchange(channels_, {});
}

TKivChannel::TKivChannel(TChannelOperator& startList, std::int32_t itemId, std::string name,
                         std::int32_t fileOffset, double start, double end)
    : startList_(startList), itemId_(itemId), name_(std::move(name)), fileOffset_(fileOffset), start_(start),
      end_(end) {}

TKivChannel::~TKivChannel() {
    if (device_ && playing_ && !stopped_) device_->Stop(kFadeMs);
    device_ = nullptr;
    TLog::Line("+++++++++++++++++++ Destroy Channel " + name_ + " Time " +
               std::to_string(ProcessMilliseconds()));
}

void TKivChannel::Start(double lateMs) {
    if (!ready_ || playing_) return;
    playing_ = true;
    late_ = std::max(lateMs, 0.0);
    startList_.Add(*this);
}

void TKivChannel::Stop() {
    if (!playing_) return;
    const TRef<TKivChannel> keep = ShareRef(this); // the start list may hold the last reference
    playing_ = false;
    if (!startList_.Remove(*this)) {
        // Already started at the end of an earlier step.
        if (device_) device_->Stop(kFadeMs);
        TLog::Line("+++++++++++++++++++ Channel " + name_ + " Stop Time " +
                   std::to_string(ProcessMilliseconds()));
    }
    stopped_ = true;
}

void TKivChannel::PlayNow() {
    if (!device_) return;
    device_->PlayLate(kFadeMs, late_);
    stopped_ = false;
    TLog::Line("+++++++++++++++++++ Play Channel " + name_ + " Time " +
               std::to_string(ProcessMilliseconds()));
}

} // namespace kiv

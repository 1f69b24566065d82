#include "audio/ShowMixer.h"

#include "base/Log.h"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

// Device frame n of the offline device sounds at n / 44.1 ms of its clock, which starts at 0.
std::int64_t DeviceFrame(double ms) {
    return static_cast<std::int64_t>(std::llround(std::clamp(ms, -1e15, 1e15) * TShowMixer::kRate / 1000.0));
}

} // namespace

TShowMixer::TShowMixer(TRef<TKivSource> show, double fromMs)
    : from_(std::isfinite(fromMs) ? std::max(fromMs, 0.0) : 0.0), clock_(MakeRef<TVirtualClock>(0)) {
    TSoundDevice::TOptions options;
    options.openOutput = false;
    options.threaded = false;
    options.now = [clock = clock_] { return clock->NowMs(); };
    options.placeLateStarts = true;
    device_ = TSoundDevice::Create(std::move(options));
    // As the engine opens a show and starts it at FROM: a standing player, moved there, started once
    // the sounds due there are loaded (a headless seek loads them before it returns).
    player_ = TKivMusicPlayer::CreateHeadless(std::move(show), false, clock_, device_);
    player_->Start();
    player_->SetRunning(false);
    player_->Seek(-1, from_);
    if (!player_->IsReady()) TLog::Line("Offline mix: the sound at " + std::to_string(from_) + " is not ready");
    player_->SetRunning(true);
    block_.resize(static_cast<std::size_t>(DeviceFrame(TKivMusicPlayer::kHeadlessStepMs) + 1) * kChannels);
}

TShowMixer::~TShowMixer() {
    player_->Stop();
}

std::int64_t TShowMixer::FrameAt(double ms) const {
    return DeviceFrame(ms - from_);
}

void TShowMixer::MixTo(double untilMs, const TSink& sink) {
    const std::int64_t target = FrameAt(untilMs);
    while (mixed_ < target) {
        // Pulled only up to the clock's reading: a sound the next step starts, however late that
        // step finds it due, still lies ahead of what has been mixed and starts on its own frame.
        const std::int64_t stepEnd = DeviceFrame(clock_->NowMs());
        if (mixed_ >= stepEnd) {
            player_->AdvanceClock(TKivMusicPlayer::kHeadlessStepMs);
            continue;
        }
        const int frames = static_cast<int>(std::min(stepEnd, target) - mixed_);
        device_->Pull(block_.data(), frames);
        sink(block_.data(), frames);
        mixed_ += frames;
    }
}

} // namespace kiv

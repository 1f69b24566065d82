#include "audio/SoundDevice.h"

#include "audio/SampleRound.h"
#include "base/Assert.h"
#include "base/Clock.h"
#include "base/Log.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <pthread.h>

namespace kiv {

namespace {

int FadeFrames(std::int32_t fadeMs, int rate) {
    return std::max(1, static_cast<int>(static_cast<std::int64_t>(std::max(fadeMs, 0)) * rate / 1000));
}

// Instances whose refill thread was left behind stuck: never freed, since that thread still uses them.
void KeepForever(std::shared_ptr<TPlayInstance> instance) {
    static std::mutex lock;
    static auto* kept = new std::vector<std::shared_ptr<TPlayInstance>>;
    std::lock_guard<std::mutex> guard(lock);
    kept->push_back(std::move(instance));
}

} // namespace

// --- TPlayInstance ---

TPlayInstance::TPlayInstance(TSoundDevice& device, TSoundChannel* owner, std::unique_ptr<TSoundSource> source)
    : device_(device), owner_(owner), source_(std::move(source)), channels_(source_->Channels()),
      rate_(source_->Rate()) {
    TOutputBuffer::TCallbacks callbacks;
    callbacks.firstFill = [this](std::int16_t* data, int frames) { FirstFill(data, frames); };
    callbacks.fadeFill = [this](std::int16_t* data, int frames) { FadeFill(data, frames); };
    callbacks.fill = [this](std::int16_t* data, int frames) { Fill(data, frames); };
    buffer_ = std::make_unique<TOutputBuffer>(rate_, channels_, std::move(callbacks), device.Threaded());
}

TPlayInstance::~TPlayInstance() {
    device_.Mixer().Remove(*buffer_);
    buffer_.reset(); // joins the refill thread before the source goes
}

TPlayInstance::TState TPlayInstance::State() const {
    std::lock_guard<std::mutex> guard(lock_);
    return state_;
}

void TPlayInstance::Seek(std::int32_t ms) {
    std::lock_guard<std::mutex> guard(lock_);
    KIV_ASSERT(state_ == TState::Idle, "Seek on a play instance that is not idle");
    if (state_ != TState::Idle) return;
    positionBase_ = std::max(ms, 0);
    std::lock_guard<std::mutex> reading(sourceLock_);
    source_->Seek(positionBase_);
    const int frames = buffer_->InitialFillSize();
    prefetch_.assign(static_cast<std::size_t>(frames) * channels_, 0);
    const int got = source_->Read(prefetch_.data(), frames);
    prefetchSounding_ = std::max(got, 0);
    ended_ = got < frames;
    havePrefetch_ = true;
}

void TPlayInstance::Play(std::int32_t fadeMs, std::int64_t delayFrames) {
    bool prefetched = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        prefetched = havePrefetch_;
    }
    if (!prefetched) Seek(0);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (state_ != TState::Idle) return;
        state_ = TState::Playing;
        const int frames = FadeFrames(fadeMs, rate_);
        fadingIn_ = true;
        gain_ = 0;
        step_ = 1.0f / static_cast<float>(frames);
    }
    device_.Mixer().Add(*buffer_);
    buffer_->Start(delayFrames);
    bool endedAtOnce = false;
    int sounding = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        endedAtOnce = ended_ && !finished_;
        sounding = prefetchSounding_;
    }
    // The whole sound lies in the first fill: it ends where that part of it does.
    if (endedAtOnce) Finish(sounding);
}

void TPlayInstance::Stop(std::int32_t fadeMs) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (state_ == TState::Idle) return;
        const int frames = FadeFrames(fadeMs, rate_);
        fadingIn_ = false;
        step_ = 1.0f / static_cast<float>(frames);
        state_ = TState::Stopping;
        stopRequested_ = true;
    }
    buffer_->RequestFade();
}

std::int32_t TPlayInstance::Position() const {
    std::int32_t base = 0;
    {
        // Not held while the buffer is asked: its fade fill holds the ring and then this lock.
        std::lock_guard<std::mutex> guard(lock_);
        base = positionBase_;
    }
    return base + static_cast<std::int32_t>(std::lround(buffer_->Position()));
}

void TPlayInstance::Detach() {
    std::lock_guard<std::recursive_mutex> guard(ownerLock_);
    owner_ = nullptr;
}

TSoundChannel* TPlayInstance::Owner() {
    return owner_;
}

bool TPlayInstance::Drained() const {
    const std::int64_t end = endFrame_.load();
    // A resampled buffer's last frames sit in the mixer's resampler a little longer: 20 ms more.
    return end >= 0 && buffer_->FramesPlayed() >= end + rate_ / 50;
}

bool TPlayInstance::EndedNaturally() const {
    std::lock_guard<std::mutex> guard(lock_);
    return ended_ && !stopRequested_;
}

bool TPlayInstance::Retire() {
    device_.Mixer().Remove(*buffer_);
    if (buffer_->StopFilling(1000)) return true;
    abandoned_ = true;
    return false;
}

int TPlayInstance::ApplyGain(std::int16_t* data, int frames) {
    // Under lock_.
    if (silent_) {
        std::fill_n(data, static_cast<std::size_t>(frames) * channels_, std::int16_t{0});
        return 0;
    }
    const bool fadingOut = stopRequested_;
    if (!fadingIn_ && !fadingOut) return -1;
    for (int f = 0; f < frames; ++f) {
        std::int16_t* frame = data + static_cast<std::size_t>(f) * channels_;
        for (int c = 0; c < channels_; ++c)
            frame[c] = static_cast<std::int16_t>(RoundHalfAway(static_cast<float>(frame[c]) * gain_));
        if (fadingOut) {
            gain_ -= step_;
            if (gain_ <= 0) {
                gain_ = 0;
                silent_ = true;
                std::fill_n(frame + channels_, static_cast<std::size_t>(frames - f - 1) * channels_,
                            std::int16_t{0});
                return f + 1;
            }
        } else if (fadingIn_) {
            gain_ += step_;
            if (gain_ >= 1) {
                gain_ = 1;
                fadingIn_ = false;
                break; // the rest stays as it is
            }
        }
    }
    return -1;
}

void TPlayInstance::FirstFill(std::int16_t* data, int frames) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::size_t count = std::min(prefetch_.size(), static_cast<std::size_t>(frames) * channels_);
    std::copy_n(prefetch_.begin(), count, data);
    ApplyGain(data, frames);
    prefetch_.clear();
    prefetch_.shrink_to_fit();
}

void TPlayInstance::FadeFill(std::int16_t* data, int frames) {
    int silentAt = -1;
    {
        std::lock_guard<std::mutex> guard(lock_);
        fadingOut_ = true;
        silentAt = ApplyGain(data, frames);
        if (silentAt < 0 || finished_) return;
    }
    // Silent from `silentAt` frames into the faded part on; what comes before it plays out first.
    Finish(buffer_->CallbackFrame() + silentAt);
}

void TPlayInstance::Fill(std::int16_t* data, int frames) {
    int silentAt = -1;
    int got = 0;
    bool ended = false;
    bool reading = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        reading = !silent_ && !ended_;
    }
    if (reading) {
        // Not under lock_: a decoder that blocks must not hold up those who stop or free the instance.
        std::lock_guard<std::mutex> source(sourceLock_);
        got = source_->Read(data, frames);
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (got < frames) {
            ended_ = true;
            std::fill_n(data + static_cast<std::size_t>(got) * channels_,
                        static_cast<std::size_t>(frames - got) * channels_, std::int16_t{0});
        }
        silentAt = ApplyGain(data, frames);
        ended = (ended_ || silentAt >= 0) && !finished_;
    }
    // The frames of this block that still sound are queued after those already ahead: they play out
    // before the instance goes.
    if (ended) Finish(buffer_->CallbackFrame() + (silentAt >= 0 ? std::min(got, silentAt) : got));
}

void TPlayInstance::Finish(std::int64_t endFrame) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (finished_) return;
        finished_ = true;
    }
    endFrame_ = std::max<std::int64_t>(endFrame, 0);
    // A thread left behind stuck that comes back must not reach a device that may be gone.
    if (abandoned_.load()) return;
    // Nobody holds the instance any more while it is being destroyed: nothing to hand over then.
    if (std::shared_ptr<TPlayInstance> self = weak_from_this().lock()) device_.Kill(std::move(self));
}

// --- TSoundChannel ---

TSoundChannel::TSoundChannel(TSoundDevice& device, std::string name, std::unique_ptr<TSoundSource> source)
    : device_(ShareRef(&device)), name_(std::move(name)), lengthMs_(source->LengthMs()),
      spare_(std::move(source)) {}

TSoundChannel::~TSoundChannel() {
    device_->Unregister(*this);
    std::vector<std::shared_ptr<TPlayInstance>> instances;
    {
        std::lock_guard<std::mutex> guard(lock_);
        instances.swap(instances_);
    }
    std::vector<const TPlayInstance*> sounding;
    for (const auto& instance : instances) {
        instance->Detach();
        if (instance->State() == TPlayInstance::TState::Idle) continue; // freed here
        // A playing one fades out; the killer frees it once the fade has been played, or, should it
        // never drain (a refill thread stuck in its decoder), after the longest wait.
        if (instance->State() == TPlayInstance::TState::Playing) instance->Stop(10);
        device_->Kill(instance, device_->NowMs() + kDrainLimitMs);
        sounding.push_back(instance.get());
    }
    instances.clear();
    // The fade is heard before the caller goes on (a device closed next would cut it off).
    if (device_->Threaded() && !sounding.empty() && !device_->WaitReleased(sounding, kDrainLimitMs))
        TLog::Line("+++++++++++++++++++ Channel " + name_ + " did not drain within " +
                   std::to_string(kDrainLimitMs) + " ms");
}

std::shared_ptr<TPlayInstance> TSoundChannel::NewInstance() {
    std::unique_ptr<TSoundSource> source = std::move(spare_);
    if (!source) source = OpenSound(name_, [this](const std::string& n) { return device_->OpenStream(n); });
    if (!source) return nullptr;
    auto instance = std::make_shared<TPlayInstance>(*device_, this, std::move(source));
    instance->SetVolume(volume_ * master_);
    instances_.push_back(instance);
    return instance;
}

void TSoundChannel::ApplyVolume() {
    if (!instances_.empty()) instances_.back()->SetVolume(volume_ * master_);
}

void TSoundChannel::PlayLate(std::int32_t fadeMs, double lateMs) {
    Start(fadeMs, device_->FramesUntil(lateMs));
}

void TSoundChannel::Start(std::int32_t fadeMs, std::int64_t delayFrames) {
    std::shared_ptr<TPlayInstance> instance;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!instances_.empty() && instances_.back()->State() == TPlayInstance::TState::Playing) return;
        if (instances_.empty() || instances_.back()->State() != TPlayInstance::TState::Idle) {
            instance = NewInstance();
            if (!instance) return;
            instance->Seek(savedPosition_);
        } else {
            instance = instances_.back();
        }
    }
    instance->Play(fadeMs, delayFrames);
}

void TSoundChannel::Stop(std::int32_t fadeMs) {
    std::shared_ptr<TPlayInstance> instance;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (instances_.empty() || instances_.back()->State() != TPlayInstance::TState::Playing) return;
        instance = instances_.back();
        savedPosition_ = instance->Position();
    }
    instance->Stop(fadeMs);
}

bool TSoundChannel::IsPlaying() const {
    std::lock_guard<std::mutex> guard(lock_);
    return !instances_.empty() && instances_.back()->State() == TPlayInstance::TState::Playing;
}

void TSoundChannel::Seek(std::int32_t ms) {
    std::shared_ptr<TPlayInstance> old;
    std::shared_ptr<TPlayInstance> fresh;
    {
        std::lock_guard<std::mutex> guard(lock_);
        savedPosition_ = std::max(ms, 0);
        const auto state = instances_.empty() ? TPlayInstance::TState::Stopping : instances_.back()->State();
        if (state == TPlayInstance::TState::Idle) {
            instances_.back()->Seek(savedPosition_);
            return;
        }
        if (state == TPlayInstance::TState::Playing) old = instances_.back();
        fresh = NewInstance();
        if (fresh) fresh->Seek(savedPosition_);
    }
    // A seek while playing cross-fades over 10 ms from the old position to the new one.
    if (old) old->Stop(10);
    if (old && fresh) fresh->Play(10);
}

std::int32_t TSoundChannel::GetPosition() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!instances_.empty()) savedPosition_ = instances_.back()->Position();
    return savedPosition_;
}

void TSoundChannel::SetVolume(float volume) {
    std::lock_guard<std::mutex> guard(lock_);
    volume_ = volume;
    ApplyVolume();
}

float TSoundChannel::GetVolume() const {
    std::lock_guard<std::mutex> guard(lock_);
    return volume_;
}

void TSoundChannel::SetMasterVolume(float volume) {
    std::lock_guard<std::mutex> guard(lock_);
    master_ = volume;
    ApplyVolume();
}

void TSoundChannel::InstanceFinished(TPlayInstance& instance) {
    std::function<void()> ended;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto found = std::find_if(instances_.begin(), instances_.end(),
                                        [&](const auto& held) { return held.get() == &instance; });
        if (found == instances_.end()) return;
        if (found + 1 == instances_.end()) savedPosition_ = instance.Position();
        instances_.erase(found);
        if (instance.EndedNaturally()) ended = ended_;
    }
    if (ended) ended();
}

void TSoundChannel::SetEndCallback(std::function<void()> callback) {
    std::lock_guard<std::mutex> guard(lock_);
    ended_ = std::move(callback);
}

std::size_t TSoundChannel::InstanceCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return instances_.size();
}

// --- TSoundDevice ---

TRef<TSoundDevice> TSoundDevice::Create(TOptions options) {
    if (!options.now) options.now = [] { return static_cast<double>(ProcessMilliseconds()); };
    return TRef<TSoundDevice>::Adopt(new TSoundDevice(std::move(options)));
}

TSoundDevice::TSoundDevice(TOptions options) : options_(std::move(options)) {
    if (options_.openOutput) {
        output_ = std::make_unique<TSdlAudioOutput>(mixer_);
        usable_ = output_->IsUsable();
        if (!usable_) output_.reset();
    } else {
        usable_ = true;
    }
    if (usable_ && options_.threaded)
        killer_ = std::thread([this] {
            ::pthread_setname_np(::pthread_self(), "kivChanKiller");
            KillerMain();
        });
}

TSoundDevice::~TSoundDevice() {
    {
        std::lock_guard<std::mutex> guard(killerLock_);
        killerQuit_ = true;
    }
    killerWake_.notify_all();
    if (killer_.joinable()) killer_.join();
    if (clock_) clock_->StopPolling();
    output_.reset(); // no callback mixes any more
    // Freeing an instance joins its refill thread, which may hand over one more: drain until empty.
    for (;;) {
        std::vector<std::shared_ptr<TPlayInstance>> due;
        {
            std::lock_guard<std::mutex> guard(killerLock_);
            for (TDying& entry : dying_)
                due.push_back(std::move(entry.instance));
            dying_.clear();
        }
        if (due.empty()) break;
        FreeInstances(due);
    }
}

float TSoundDevice::GetMasterVolume() const {
    std::lock_guard<std::mutex> guard(lock_);
    return master_;
}

void TSoundDevice::SetMasterVolume(float volume) {
    std::lock_guard<std::mutex> guard(lock_);
    master_ = volume;
    for (TSoundChannel* channel : channels_)
        channel->SetMasterVolume(volume);
}

IDeviceClock& TSoundDevice::Clock() {
    std::lock_guard<std::mutex> guard(clockLock_);
    if (!clock_) {
        clock_ = MakeRef<TPlayClock>(options_.now, [this] { return mixer_.FramesConsumed(); });
        if (usable_) clock_->Play(options_.threaded);
    }
    return *clock_;
}

TRef<TStream> TSoundDevice::OpenStream(const std::string& name) {
    TOpenStream open;
    {
        std::lock_guard<std::mutex> guard(openLock_);
        open = open_;
    }
    try {
        return open ? open(name) : nullptr;
    } catch (const std::exception& error) {
        TLog::Line("Sound file cannot be opened: " + name + " (" + error.what() + ")");
        return nullptr;
    }
}

void TSoundDevice::SetOpenStreamCallback(TOpenStream open) {
    std::lock_guard<std::mutex> guard(openLock_);
    open_ = std::move(open);
}

TRef<TDeviceChannel> TSoundDevice::CreateChannel(const std::string& name, std::int32_t offsetMs) {
    if (!usable_) return nullptr;
    std::unique_ptr<TSoundSource> source =
        OpenSound(name, [this](const std::string& n) { return OpenStream(n); });
    if (!source) return nullptr;
    auto channel = MakeRef<TSoundChannel>(*this, name, std::move(source));
    float master = 1;
    {
        std::lock_guard<std::mutex> guard(lock_);
        master = master_;
    }
    if (master != 1) channel->SetMasterVolume(master);
    if (offsetMs != -1) channel->Seek(offsetMs);
    {
        std::lock_guard<std::mutex> guard(lock_);
        channels_.push_back(channel.Get());
    }
    return channel;
}

void TSoundDevice::Unregister(TSoundChannel& channel) {
    std::lock_guard<std::mutex> guard(lock_);
    channels_.erase(std::remove(channels_.begin(), channels_.end(), &channel), channels_.end());
}

void TSoundDevice::Kill(std::shared_ptr<TPlayInstance> instance, double latestMs) {
    {
        std::lock_guard<std::mutex> guard(killerLock_);
        const auto held = std::find_if(dying_.begin(), dying_.end(),
                                       [&](const TDying& entry) { return entry.instance == instance; });
        if (held != dying_.end())
            held->latest = std::min(held->latest, latestMs);
        else
            dying_.push_back({std::move(instance), latestMs});
    }
    killerWake_.notify_all();
}

std::size_t TSoundDevice::RunKiller() {
    std::vector<std::shared_ptr<TPlayInstance>> due;
    std::size_t left = 0;
    {
        std::lock_guard<std::mutex> guard(killerLock_);
        const double now = NowMs();
        for (auto it = dying_.end(); it != dying_.begin();) {
            --it;
            if (it->instance->Drained() || it->latest <= now) {
                due.push_back(std::move(it->instance));
                it = dying_.erase(it);
            }
        }
        left = dying_.size();
    }
    if (!due.empty()) {
        FreeInstances(due);
        // Taken under the lock, so a waiter checking the list cannot miss the change.
        std::lock_guard<std::mutex> guard(killerLock_);
        released_.notify_all();
    }
    return left;
}

void TSoundDevice::FreeInstances(std::vector<std::shared_ptr<TPlayInstance>>& due) {
    for (auto& instance : due) {
        {
            std::lock_guard<std::recursive_mutex> owner(instance->OwnerLock());
            if (TSoundChannel* channel = instance->Owner()) channel->InstanceFinished(*instance);
        }
        if (!instance->Retire()) KeepForever(std::move(instance));
    }
    due.clear(); // frees the instances here, on the caller's thread
}

bool TSoundDevice::WaitReleased(const std::vector<const TPlayInstance*>& instances, int limitMs) {
    std::unique_lock<std::mutex> lock(killerLock_);
    return released_.wait_for(lock, std::chrono::milliseconds(limitMs), [&] {
        return std::none_of(dying_.begin(), dying_.end(), [&](const TDying& entry) {
            return std::find(instances.begin(), instances.end(), entry.instance.get()) != instances.end();
        });
    });
}

std::int64_t TSoundDevice::FramesUntil(double lateMs) const {
    if (options_.threaded || !options_.placeLateStarts || !std::isfinite(lateMs)) return 0;
    const double due = std::round((options_.now() - std::max(lateMs, 0.0)) * 44.1);
    if (!(due > static_cast<double>(mixer_.FramesConsumed()))) return 0;
    return static_cast<std::int64_t>(std::min(due, 9e15)) - mixer_.FramesConsumed();
}

void TSoundDevice::Pull(std::int16_t* out, int frames) {
    // A ring holds at least 1.5 s once refilled; a short period needs no topping up before it.
    mixer_.RefillAll(frames > kDeviceRate / 4);
    RunKiller();
    mixer_.Mix(out, frames);
}

void TSoundDevice::KillerMain() {
    std::unique_lock<std::mutex> lock(killerLock_);
    while (!killerQuit_) {
        const auto wait = dying_.empty() ? std::chrono::milliseconds(100) : std::chrono::milliseconds(10);
        killerWake_.wait_for(lock, wait, [this] { return killerQuit_; });
        if (killerQuit_) break;
        lock.unlock();
        RunKiller();
        lock.lock();
    }
}

} // namespace kiv

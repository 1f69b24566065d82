#include "audio/KivMusicPlayer.h"

#include "audio/ShowDecoders.h"
#include "audio/SoundFileCheck.h"

#include "base/Assert.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "base/Log.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <pthread.h>
#include <thread>

namespace kiv {

namespace {

// Show times beyond this are clamped before slide indexes are computed from them.
constexpr double kTimeLimit = 1e12;
// At most this many passes of the show are scheduled in one go (a show only milliseconds long
// would otherwise create a sequence per pass of the look-ahead).
constexpr std::int64_t kMaxLoopsPerSchedule = 64;

std::string Ms(double value) {
    return std::to_string(static_cast<long long>(std::llround(std::clamp(value, -9e15, 9e15))));
}

// Times a part of a step for the log lines of slow steps. Off on a virtual clock (a headless player
// mixing offline), where a step's real duration says nothing about the show's timing and reading
// the timer at every step would cost more than the step.
class TStopwatch {
public:
    explicit TStopwatch(bool on) : on_(on), start_(on ? ProcessMilliseconds() : 0) {}
    std::int64_t Elapsed() const { return on_ ? ProcessMilliseconds() - start_ : 0; }

private:
    bool on_;
    std::int64_t start_;
};

} // namespace

TKivMusicPlayer::TKivMusicPlayer(TRef<TKivSource> show, bool ownsShow, TRef<TMusicDevice> device,
                                 TRef<IDeviceClock> clock)
    : show_(std::move(show)), ownsShow_(ownsShow) {
    Init(std::move(device), std::move(clock));
}

TKivMusicPlayer::TKivMusicPlayer(THeadlessTag, TRef<TKivSource> show, bool ownsShow,
                                 TRef<TMusicDevice> device, TRef<TVirtualClock> clock)
    : show_(std::move(show)), ownsShow_(ownsShow), headless_(true),
      virtualClock_(clock ? std::move(clock) : MakeRef<TVirtualClock>(0)) {
    stepOrigin_ = virtualClock_->NowMs();
    Init(std::move(device), virtualClock_);
}

TRef<TKivMusicPlayer> TKivMusicPlayer::CreateHeadless(TRef<TKivSource> show, bool ownsShow,
                                                      TRef<TVirtualClock> clock, TRef<TMusicDevice> device) {
    return TRef<TKivMusicPlayer>::Adopt(
        new TKivMusicPlayer(THeadlessTag{}, std::move(show), ownsShow, std::move(device), std::move(clock)));
}

void TKivMusicPlayer::Init(TRef<TMusicDevice> device, TRef<IDeviceClock> clock) {
    KIV_ASSERT(show_, "No KivSource for KivMusicPlayer");
    if (show_->FileAccessor()) accessor_ = show_->FileAccessor()->Copy();
    // With the show's files at hand a file that cannot sound is left out of the description (a log
    // line and silence for its item) before any channel is tried.
    music_ = accessor_ ? MakeRef<TKivMusicSource>(*show_, MakeSoundFileCheck(accessor_))
                       : MakeRef<TKivMusicSource>(*show_);
    syncMode_ = music_->SyncMode();
    ProcessShowDecoders().Prepare(show_->Document(), accessor_.Get());
    if (device && device->IsUsable()) device_ = std::move(device);
    if (headless_)
        clock_ = std::move(clock); // the virtual clock, also with a device
    else if (device_)
        clock_ = ShareRef(&device_->Clock());
    else if (clock)
        clock_ = std::move(clock);
    else
        clock_ = MakeRef<TProcessClock>();
    loader_ = MakeRef<TMusicLoader>(device_, ShareRef(&Queue()), accessor_);
    // In sync mode the scheduler makes the sequences of each pass, so the one made here would only
    // load the same music twice; the free-running sequence plays on for the whole show.
    if (music_->Enabled() && music_->MainPlaylist().Count() > 0 && !syncMode_) {
        auto sequence = std::make_unique<TPlaySequence>(*this, music_->MainPlaylist(), 0, 0);
        currentSequence_ = sequence.get();
        items_.push_back(std::move(sequence));
    }
    Reposition(false, 0);
    ready_ = NothingToLoad();
}

TKivMusicPlayer::~TKivMusicPlayer() {
    if (loader_) loader_->Stop();
    items_.clear();
}

bool TKivMusicPlayer::Start() {
    if (headless_) {
        // The caller's thread does the work of both queues from now on.
        Queue().SetOwnerThread(std::this_thread::get_id());
        if (loader_) loader_->Queue().SetOwnerThread(std::this_thread::get_id());
        HeadlessSettle();
        return true;
    }
    if (loader_) loader_->Start();
    return TKivThread::Start();
}

void TKivMusicPlayer::Stop() {
    if (loader_) loader_->Stop();
    TKivThread::Stop();
    items_.clear();
    startList_.TakeAll();
    loader_ = nullptr;
    device_ = nullptr;
}

void TKivMusicPlayer::OnStart() {
    ::pthread_setname_np(::pthread_self(), "kivMusicPlayer");
}

void TKivMusicPlayer::OnStop() {
    TKivThread::OnStop();
    {
        std::lock_guard guard(stepLock_);
        ended_ = true;
    }
    stepDone_.notify_all();
}

std::uint64_t TKivMusicPlayer::StepCount() {
    std::lock_guard guard(stepLock_);
    return steps_;
}

bool TKivMusicPlayer::WaitForSteps(std::uint64_t count, std::int64_t timeoutMs) {
    if (headless_) return count == 0;
    std::unique_lock guard(stepLock_);
    const std::uint64_t target = steps_ + count;
    return stepDone_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        return steps_ >= target || ended_;
    }) && steps_ >= target;
}

std::int32_t TKivMusicPlayer::NextItemId() {
    const std::int32_t id = nextItemId_;
    nextItemId_ = nextItemId_ == INT32_MAX ? 0 : nextItemId_ + 1;
    return id;
}

void TKivMusicPlayer::SetRunning(bool run) {
    if (run == runningRequested_) return;
    runningRequested_ = run;
    if (headless_) {
        if (Terminated()) return;
        // Messages already waiting come first, as they would on the player thread.
        Queue().ProcessAll();
        SetClockRunning(run);
        return;
    }
    Queue().Post(run ? kClockStart : kClockStop, nullptr);
}

void TKivMusicPlayer::Seek(double barrierMs, double timeMs) {
    if (timeMs >= 0) runningRequested_ = false;
    ready_ = false;
    if (barrierMs >= 0) engineBarrier_ = barrierMs;
    TTimeData data;
    data.time = timeMs;
    data.barrier = barrierMs;
    if (!headless_) {
        Queue().Send(kSetTime, &data);
        return;
    }
    if (Terminated()) return;
    Queue().ProcessAll();
    HandleEvent(kSetTime, &data);
    HeadlessSettle();
}

void TKivMusicPlayer::AdvanceClock(double ms) {
    if (!headless_ || Terminated() || !std::isfinite(ms) || ms <= 0) return;
    const double target = virtualClock_->NowMs() + ms;
    // The next step on the grid that lies after the current reading (the clock may have been moved
    // by other means), but none before the last stretch of a very long advance.
    const auto stepTime = [&](std::int64_t index) {
        return stepOrigin_ + static_cast<double>(index) * kHeadlessStepMs;
    };
    const double floorFrom = std::max(virtualClock_->NowMs(), target - kHeadlessMaxCatchUpMs);
    if (stepTime(nextStep_) <= floorFrom) {
        const double index = std::floor((floorFrom - stepOrigin_) / kHeadlessStepMs) + 1;
        nextStep_ = static_cast<std::int64_t>(std::clamp(index, 1.0, 9e15));
        while (stepTime(nextStep_) <= floorFrom)
            ++nextStep_;
    }
    while (stepTime(nextStep_) <= target) {
        virtualClock_->Set(stepTime(nextStep_));
        ++nextStep_;
        HeadlessStep();
    }
    virtualClock_->Set(target);
}

void TKivMusicPlayer::HeadlessStep() {
    // As on the threads: a failed consistency check abandons the step, logged once while it repeats.
    try {
        if (loader_) loader_->Queue().ProcessAll();
        StepOnce();
    } catch (const EAssertionFailed& failure) {
        if (failure.Message() == lastFailure_) return;
        lastFailure_ = failure.Message();
        LogAbandoned(failure);
    }
}

void TKivMusicPlayer::HeadlessSettle() {
    // Only a standing clock: a running one is ready anyway, and its steps keep to the grid.
    const auto standing = [this] {
        TLockGuard guard(clockLock_);
        return !clockRunning_;
    };
    for (int i = 0; i < kHeadlessSettleSteps && !ready_.load() && !Terminated() && standing(); ++i)
        HeadlessStep();
}

bool TKivMusicPlayer::NothingToLoad() const {
    return std::all_of(items_.begin(), items_.end(), [](const auto& item) { return item->Finished(); });
}

double TKivMusicPlayer::GetTime() {
    TLockGuard guard(clockLock_);
    const double time = clockRunning_ ? clock_->NowMs() - origin_ : origin_;
    return std::min(time, barrier_);
}

float TKivMusicPlayer::GetVolume() const {
    return device_ ? device_->GetMasterVolume() : 0.0f;
}

void TKivMusicPlayer::SetVolume(float volume) {
    if (device_) device_->SetMasterVolume(volume);
}

bool TKivMusicPlayer::HandleEvent(int code, TRefObject* data) {
    switch (code) {
    case kChannelLoaded:
        KIV_ASSERT(data, "No channel loaded");
        ChannelLoaded(*static_cast<TKivChannel*>(data));
        return true;
    case kClockStart:
    case kClockStop:
        SetClockRunning(code == kClockStart);
        return true;
    case kSetTime: {
        KIV_ASSERT(data, "No time to set");
        const auto& request = *static_cast<TTimeData*>(data);
        TLog::Line("Set Time " + Ms(request.time));
        if (request.barrier >= 0) {
            TLockGuard guard(clockLock_);
            barrier_ = request.barrier;
        }
        if (request.time >= 0) Reposition(true, request.time);
        // A step that was under way when the request came may have said ready for the items just
        // finished; the sender must not see that answer after its seek returns. Without any item
        // left to load (a show without music) nothing is awaited: the answer is ready at once.
        {
            TLockGuard guard(clockLock_);
            ready_ = NothingToLoad() || (request.time < 0 && clockRunning_);
        }
        return true;
    }
    default:
        KIV_ASSERT(false, "Unknown EventID");
        return false;
    }
}

void TKivMusicPlayer::ChannelLoaded(TKivChannel& channel) {
    TLog::Line("Receive Channel: " + channel.Name());
    const std::int32_t id = channel.ItemId();
    if (id < 0) return;
    for (const auto& item : items_) {
        if (item->Id() == id) {
            item->ChannelReady(channel);
            return;
        }
    }
}

void TKivMusicPlayer::SetClockRunning(bool run) {
    TLockGuard guard(clockLock_);
    if (run == clockRunning_) return;
    if (run) runningSince_ = origin_;
    // Starting continues from the standing time; stopping freezes the current time.
    origin_ = clock_->NowMs() - origin_;
    clockRunning_ = run;
}

void TKivMusicPlayer::Reposition(bool stopAll, double timeMs) {
    {
        TLockGuard guard(clockLock_);
        clockRunning_ = false;
        origin_ = timeMs;
    }
    if (stopAll)
        for (const auto& item : items_)
            item->Finish(false);
    scheduledUntil_ = timeMs + kLookAheadMs;
    Schedule(true, timeMs, timeMs + kLookAheadMs);
}

void TKivMusicPlayer::Step() {
    StepOnce();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void TKivMusicPlayer::StepOnce() {
    Queue().ProcessAll();
    double d = GetTime();
    bool running;
    {
        TLockGuard guard(clockLock_);
        if (d >= barrier_ - 1) d = barrier_ - 1;
        running = clockRunning_;
    }
    if (running && d + kLookAheadMs > scheduledUntil_) {
        const TStopwatch watch(!headless_);
        Schedule(false, scheduledUntil_, d + kLookAheadMs);
        scheduledUntil_ = d + kLookAheadMs;
        if (watch.Elapsed() > 1)
            TLog::Line("+++++++++++++++++++ Main Synch Time " + std::to_string(watch.Elapsed()));
    }
    {
        const TStopwatch watch(!headless_);
        // Updating may finish items but never adds any.
        for (const auto& item : items_)
            if (!item->Finished()) item->Update(running, d);
        if (watch.Elapsed() > 1)
            TLog::Line("+++++++++++++++++++ Total Synch Time " + std::to_string(watch.Elapsed()));
    }
    for (const TRef<TKivChannel>& channel : startList_.TakeAll())
        channel->PlayNow();
    {
        const TStopwatch watch(!headless_);
        FreeItems();
        bool allReady = true;
        for (const auto& item : items_)
            allReady = allReady && item->Ready();
        ready_ = allReady || running;
        if (watch.Elapsed() > 1)
            TLog::Line("+++++++++++++++++++ Total Free and Pack Time " + std::to_string(watch.Elapsed()));
    }
    {
        std::lock_guard guard(stepLock_);
        ++steps_;
    }
    stepDone_.notify_all();
}

void TKivMusicPlayer::FreeItems() {
    // Destroying an item may log and post to the loader, never touch the list.
    std::vector<std::unique_ptr<TPlayItem>> finished;
    for (auto& item : items_)
        if (item->Finished()) finished.push_back(std::move(item));
    items_.erase(std::remove(items_.begin(), items_.end(), nullptr), items_.end());
    finished.clear();
}

void TKivMusicPlayer::Schedule(bool first, double from, double until) {
    if (!music_->Enabled()) return;
    from = std::clamp(from, -kTimeLimit, kTimeLimit);
    until = std::clamp(until, -kTimeLimit, kTimeLimit);
    const double duration = music_->ShowDuration();
    if (syncMode_ && music_->MainPlaylist().Count() > 0 && duration > 0) {
        const bool showRepeats = show_->EndMode() == TEndMode::Repeat;
        const std::int64_t n = static_cast<std::int64_t>(std::trunc(from / duration)) + (first ? 0 : 1);
        std::int64_t last = showRepeats ? static_cast<std::int64_t>(std::trunc(until / duration)) : 0;
        last = std::min(last, n + kMaxLoopsPerSchedule);
        for (std::int64_t i = std::max<std::int64_t>(n, 0); i <= last; ++i) {
            const double loopStart = static_cast<double>(i) * duration;
            auto sequence =
                from < loopStart
                    ? std::make_unique<TPlaySequence>(*this, music_->MainPlaylist(), loopStart, 0)
                    : std::make_unique<TPlaySequence>(*this, music_->MainPlaylist(), from, from - loopStart);
            items_.push_back(std::move(sequence));
        }
    }
    ScheduleComments(first, from, until);
}

double TKivMusicPlayer::SlideStart(std::int64_t index) const {
    const std::int64_t n = music_->SlideCount();
    const auto pass = static_cast<double>(index / n);
    return pass * music_->ShowDuration() +
           music_->SlideInfo(static_cast<std::int32_t>(index % n)).times.start;
}

double TKivMusicPlayer::SlideEnd(std::int64_t index) const {
    const std::int64_t n = music_->SlideCount();
    const auto pass = static_cast<double>(index / n);
    return pass * music_->ShowDuration() + music_->SlideInfo(static_cast<std::int32_t>(index % n)).times.end;
}

std::int64_t TKivMusicPlayer::SlideAt(double timeMs, std::int64_t hint) const {
    const std::int64_t n = music_->SlideCount();
    const double duration = music_->ShowDuration();
    std::int64_t s = std::max<std::int64_t>(hint, 0);
    // A hint more than a pass away is moved to the right pass first, so a far seek costs no more
    // than a pass of slides.
    if (duration > 0 && std::abs(timeMs - SlideStart(s)) > duration)
        s = std::max<std::int64_t>(0, static_cast<std::int64_t>(std::floor(timeMs / duration))) * n;
    const std::int64_t limit = duration > 0 ? INT64_MAX : n - 1;
    while (s < limit && timeMs >= SlideEnd(s))
        ++s;
    while (s > 0 && timeMs < SlideStart(s))
        --s;
    return s;
}

void TKivMusicPlayer::ScheduleComments(bool first, double from, double until) {
    const std::int64_t n = music_->SlideCount();
    if (n == 0) return;
    const std::int64_t s = SlideAt(from, slideHint_);
    slideHint_ = s;
    const std::int64_t begin = first ? std::max<std::int64_t>(s - n, 0) : s + 1;
    const std::int64_t end = SlideAt(until, s);
    const double duration = music_->ShowDuration();
    for (std::int64_t k = begin; k <= end; ++k) {
        const TSlideMusicInfo& info = music_->SlideInfo(static_cast<std::int32_t>(k % n));
        if (info.comment.empty()) continue;
        double start = static_cast<double>(k / n) * duration + info.times.start;
        TLog::Line("New Comment begin " + info.comment);
        double skip = 0;
        if (from > start) {
            skip = from - start;
            start = from;
        }
        if (skip >= info.commentLength) continue;
        const double endMs = start + info.commentLength - skip;
        TLog::Line("~~~~~~~~~~~~~~~~~~~~~~~New Comment params " + Ms(skip) + " " + Ms(start) + " " +
                   Ms(endMs));
        auto comment = std::make_unique<TPlayComment>(*this);
        comment->Load(info.comment, static_cast<std::int32_t>(std::llround(skip)), endMs, start);
        items_.push_back(std::move(comment));
    }
}

} // namespace kiv

#include "audio/PlayItems.h"

#include "audio/KivMusicPlayer.h"
#include "base/Assert.h"
#include "base/Clock.h"
#include "base/Log.h"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

std::string Ms(double value) {
    return std::to_string(static_cast<long long>(std::llround(std::clamp(value, -9e15, 9e15))));
}

} // namespace

TPlayItem::TPlayItem(TKivMusicPlayer& player) : player_(player), id_(player.NextItemId()) {}

void TPlayItem::PostToLoader(int code, TKivChannel& channel) {
    channel.AddRef(); // the message's reference
    if (TMusicLoader* loader = player_.Loader())
        loader->Queue().Post(code, &channel);
    else
        channel.Release();
}

// ---- comments ----

TPlayComment::~TPlayComment() {
    Finish(true);
    if (player_.CurrentComment() == this) {
        TLog::Line("Clear CurComment !!!!!!!!!!!");
        player_.SetCurrentComment(nullptr);
    } else {
        TLog::Line("Dispose noncurrent channel !!!!!!!!!!!");
    }
}

void TPlayComment::Load(const std::string& name, std::int32_t offsetMs, double endMs, double startMs) {
    KIV_ASSERT(!channel_, "Comment loaded twice");
    channel_ = MakeRef<TKivChannel>(player_.StartList(), id_, name, offsetMs, startMs, endMs);
    PostToLoader(TMusicLoader::kLoadChannel, *channel_);
}

void TPlayComment::ChannelReady(TKivChannel& channel) {
    KIV_ASSERT(&channel == channel_.Get(), "Channel reported to the wrong comment");
    channel.SetReady();
    ready_ = true;
}

void TPlayComment::Update(bool running, double timeMs) {
    if (finished_ || !ready_ || !channel_) return;
    if (timeMs >= channel_->EndMs() - 10) {
        Finish(false);
        return;
    }
    if (channel_->Playing()) {
        if (!running && stopWhenPaused_) channel_->Stop();
    } else if (running && timeMs >= channel_->StartMs()) {
        channel_->Start(timeMs - channel_->StartMs());
        player_.SetCurrentComment(this);
    }
}

void TPlayComment::Finish(bool) {
    if (finished_) return;
    finished_ = true;
    if (!channel_) return;
    if (channel_->Playing())
        channel_->Stop();
    else
        channel_->Cancel(); // a load still on its way is then ignored
    PostToLoader(TMusicLoader::kReleaseChannel, *channel_);
    channel_ = nullptr;
}

// ---- sequences ----

TPlaySequence::TPlaySequence(TKivMusicPlayer& player, const TPlayList& playlist, double startMs,
                             double offsetMs)
    : TPlayItem(player), playlist_(playlist), freeRunning_(!player.SyncMode()), startTime_(startMs),
      offset_(offsetMs) {
    ready_ = true; // nothing to wait for until it has channels
}

TPlaySequence::~TPlaySequence() {
    Finish(true);
    if (player_.CurrentSequence() == this) {
        TLog::Line("Clear CurSequence");
        player_.SetCurrentSequence(nullptr);
    }
    TLog::Line("TPlaySequence.Disposed");
}

bool TPlaySequence::AllChannelsReady() const {
    return std::all_of(channels_.begin(), channels_.end(),
                       [](const TRef<TKivChannel>& c) { return c->Ready(); });
}

void TPlaySequence::ChannelReady(TKivChannel& channel) {
    const bool own = std::any_of(channels_.begin(), channels_.end(),
                                 [&](const TRef<TKivChannel>& c) { return c.Get() == &channel; });
    KIV_ASSERT(own, "Channel reported to the wrong sequence");
    channel.SetReady();
    ready_ = AllChannelsReady();
}

void TPlaySequence::Update(bool running, double timeMs) {
    if (finished_) return;
    const bool sync = !freeRunning_;
    if (started_) {
        if (!running && sync) {
            for (const TRef<TKivChannel>& channel : channels_)
                if (channel->Playing()) channel->Stop();
            started_ = false;
        }
        if (started_) {
            Advance(freeRunning_ ? player_.DeviceTime() - startClock_ + offset_
                                 : timeMs - startTime_ + offset_);
            return;
        }
    }
    if (timeMs >= startTime_) {
        if (running) {
            started_ = true;
            // It was due when the clock reached its start, or when the clock began to run, a step
            // ago at most: its time line begins at the device clock's value of that moment, so that
            // a device that can still place the start there (an offline mix) starts it on its
            // sample. A stalled step starts it late rather than ahead of what a sound card plays.
            const double due = std::max(startTime_, player_.RunningSinceMs());
            const double late = std::clamp(timeMs - due, 0.0, TKivMusicPlayer::kHeadlessStepMs);
            if (freeRunning_) startClock_ = player_.DeviceTime() - late;
            TLog::Line("Sequence started at abs Time " + Ms(timeMs));
        }
        if (freeRunning_)
            Advance(started_ ? player_.DeviceTime() - startClock_ + offset_ : offset_);
        else
            Advance(timeMs - startTime_ + offset_);
        if (finished_) return;
        if ((running || sync) && player_.CurrentSequence() != this) {
            if (TPlaySequence* previous = player_.CurrentSequence()) previous->Finish(true);
            player_.SetCurrentSequence(this);
        }
    } else {
        Advance(offset_); // preloads the beginning
    }
}

void TPlaySequence::Advance(double p) {
    const bool repeat = playlist_.Repeat();
    if (!repeat && playlist_.TotalLength() < p) {
        Finish(true);
        return;
    }
    const std::int64_t count = playlist_.Count();
    const double total = playlist_.TotalLength();
    if (repeat && (count == 0 || !(total > 0))) return;
    std::int64_t index = nextIndex_;
    if (repeat && p > total) {
        // Every item of the passes before the one at p has ended by p: go straight to that pass.
        const double pass = std::floor(std::min(p, 9e15) / total);
        index = std::max(index, static_cast<std::int64_t>(std::min(pass, 1e15)) * count);
    }
    for (; repeat || index < count; ++index) {
        const TMusicItemInfo item = playlist_.Item(index);
        if (p + TKivMusicPlayer::kLookAheadMs <= item.start) break;
        if (p >= item.start + item.length) continue;
        // Many short items (or passes) within the look-ahead: the later ones are made once the
        // earlier ones have ended.
        if (channels_.size() >= kMaxSequenceChannels) {
            if (!tooManyChannels_)
                TLog::Line("Music: more than " + std::to_string(kMaxSequenceChannels) +
                           " sounds due within " + Ms(TKivMusicPlayer::kLookAheadMs) +
                           " ms; the later ones are loaded as the earlier ones end");
            tooManyChannels_ = true;
            break;
        }
        TLog::Line("Preload " + item.file);
        TLog::Line("Preload to time start " + Ms(item.start));
        const double skip = std::max(p - item.start, 0.0);
        if (skip > item.length) continue;
        auto channel =
            MakeRef<TKivChannel>(player_.StartList(), id_, item.file,
                                 static_cast<std::int32_t>(std::trunc(std::min(skip + item.offset, 2e9))),
                                 skip + item.start, item.start + item.length);
        channels_.push_back(channel);
        ready_ = false; // until its channel is loaded
        PostToLoader(TMusicLoader::kLoadChannel, *channel);
    }
    nextIndex_ = index;
    if (!started_) return;
    // Not timed on a virtual clock (see the player's step).
    const bool timed = !player_.Headless();
    const std::int64_t begun = timed ? ProcessMilliseconds() : 0;
    for (auto it = channels_.begin(); it != channels_.end();) {
        TKivChannel& channel = **it;
        if (p < channel.EndMs()) {
            if (channel.Ready() && !channel.Playing() && p >= channel.StartMs()) {
                TLog::Line("Start Channel: " + channel.Name() + "   IntTime: " + Ms(p));
                channel.Start(p - channel.StartMs());
            }
            ++it;
            continue;
        }
        if (channel.Playing()) {
            channel.Stop();
            TLog::Line("Stop Channel: " + channel.Name() + "   IntTime: " + Ms(p));
        } else {
            channel.Cancel();
            TLog::Line("Release Channel Time " + std::to_string(ProcessMilliseconds()));
        }
        PostToLoader(TMusicLoader::kReleaseChannel, channel);
        it = channels_.erase(it);
    }
    if (timed && ProcessMilliseconds() - begun > 1)
        TLog::Line("|||||||||||||||||||||||||| Watch Synch Time " +
                   std::to_string(ProcessMilliseconds() - begun));
}

void TPlaySequence::Finish(bool force) {
    if (finished_ || !(force || !freeRunning_)) return;
    finished_ = true;
    TLog::Line("Finally sequence stop " + Ms(player_.DeviceTime() - startClock_));
    for (const TRef<TKivChannel>& channel : channels_) {
        if (channel->Playing()) {
            channel->Stop();
            TLog::Line("Stop Channel: " + channel->Name());
        } else {
            channel->Cancel();
        }
        PostToLoader(TMusicLoader::kReleaseChannel, *channel);
    }
    channels_.clear();
}

} // namespace kiv

// The play items of the music player: what sounds between two times. A comment is one slide's
// sound on the show clock; a sequence plays a playlist from its start time on, either in step with
// the show clock (sync mode) or on the device clock alone. Items live on the player thread only.
#pragma once

#include "audio/KivChannel.h"
#include "audio/PlayList.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

class TKivMusicPlayer;

class TPlayItem {
public:
    // Takes the next id of `player`; the player keeps the item in its list.
    explicit TPlayItem(TKivMusicPlayer& player);
    virtual ~TPlayItem() = default;
    TPlayItem(const TPlayItem&) = delete;
    TPlayItem& operator=(const TPlayItem&) = delete;

    virtual void Finish(bool force) = 0;
    virtual void ChannelReady(TKivChannel& channel) = 0;
    virtual void Update(bool running, double timeMs) = 0;

    std::int32_t Id() const { return id_; }
    bool Ready() const { return ready_; }
    bool Finished() const { return finished_; }

protected:
    // Hands the channel to the music loader with message `code`.
    void PostToLoader(int code, TKivChannel& channel);

    TKivMusicPlayer& player_;
    const std::int32_t id_;
    bool ready_ = false;
    bool finished_ = false;
};

class TPlayComment final : public TPlayItem {
public:
    explicit TPlayComment(TKivMusicPlayer& player) : TPlayItem(player) {}
    ~TPlayComment() override;

    // Once per comment: `offsetMs` into the sound, from `startMs` to `endMs` on the show clock.
    void Load(const std::string& name, std::int32_t offsetMs, double endMs, double startMs);
    void Finish(bool force) override;
    void ChannelReady(TKivChannel& channel) override;
    void Update(bool running, double timeMs) override;
    TKivChannel* Channel() const { return channel_.Get(); }

private:
    TRef<TKivChannel> channel_;
    bool stopWhenPaused_ = true;
};

// The most channels one sequence holds at a time (loaded or loading).
inline constexpr std::size_t kMaxSequenceChannels = 64;

class TPlaySequence final : public TPlayItem {
public:
    // Plays `playlist` from `startMs` on the show clock, `offsetMs` into the playlist.
    TPlaySequence(TKivMusicPlayer& player, const TPlayList& playlist, double startMs, double offsetMs);
    ~TPlaySequence() override;

    void Finish(bool force) override;
    void ChannelReady(TKivChannel& channel) override;
    void Update(bool running, double timeMs) override;

    bool Started() const { return started_; }
    double StartMs() const { return startTime_; }
    double OffsetMs() const { return offset_; }
    const std::vector<TRef<TKivChannel>>& Channels() const { return channels_; }

private:
    // Schedules the items due within the look-ahead of playlist position `p` and, once started,
    // starts and ends the channels at `p`.
    void Advance(double p);
    bool AllChannelsReady() const;

    std::vector<TRef<TKivChannel>> channels_;
    const TPlayList& playlist_;
    std::int64_t nextIndex_ = 0;
    bool started_ = false;
    bool tooManyChannels_ = false; // logged once
    const bool freeRunning_;
    double startClock_ = 0;
    const double startTime_;
    const double offset_;
};

} // namespace kiv

// TKivChannel: one sound the music player plays, on the time line of the play item that owns it.
// It travels between the player and the music loader inside queue messages and is shared by
// reference counting; the last reference frees its device channel, normally on the loader thread.
// TChannelOperator is the player's start list: channels due in this step, started in one batch.
#pragma once

#include "audio/MusicDevice.h"
#include "base/RefObject.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

class TKivChannel;

class TChannelOperator {
public:
    void Add(TKivChannel& channel);
    // True when the channel was in the list.
    bool Remove(TKivChannel& channel);
    // Empties the list and hands its channels over.
    std::vector<TRef<TKivChannel>> TakeAll();
    bool Empty() const { return channels_.empty(); }

private:
    std::vector<TRef<TKivChannel>> channels_;
};

class TKivChannel : public TRefObject {
public:
    static constexpr std::int32_t kFadeMs = 10;

    TKivChannel(TChannelOperator& startList, std::int32_t itemId, std::string name, std::int32_t fileOffset,
                double start, double end);

    const std::string& Name() const { return name_; }
    std::int32_t ItemId() const { return itemId_.load(); }
    // A cancelled channel: its pending load is ignored and nobody claims it.
    void Cancel() { itemId_.store(-1); }
    std::int32_t FileOffset() const { return fileOffset_; }
    double StartMs() const { return start_; }
    // The loader shortens the end to the sound's length while the player may already read it.
    double EndMs() const { return end_.load(); }
    void SetEnd(double end) { end_.store(end); }
    bool Ready() const { return ready_; }
    void SetReady() { ready_ = true; }
    bool Playing() const { return playing_; }
    TDeviceChannel* Device() const { return device_.Get(); }
    void SetDevice(TRef<TDeviceChannel> device) { device_ = std::move(device); }

    // Player thread: a ready channel that does not play joins the start list. `lateMs`: how long
    // ago, on the owner's time line, the channel was due to start.
    void Start(double lateMs = 0);
    // Player thread: leaves the start list, or stops the device channel that already plays.
    void Stop();
    // Player thread, at the end of a step: the device channel starts with a fade-in.
    void PlayNow();

protected:
    ~TKivChannel() override;

private:
    TChannelOperator& startList_;
    std::atomic<std::int32_t> itemId_;
    const std::string name_;
    const std::int32_t fileOffset_;
    const double start_;
    std::atomic<double> end_;
    TRef<TDeviceChannel> device_;
    bool ready_ = false;
    bool playing_ = false;
    bool stopped_ = true;
    double late_ = 0;
};

} // namespace kiv

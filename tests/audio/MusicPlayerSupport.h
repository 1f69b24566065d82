// Test helpers of the music player: a sound device that records what it is asked to do, show
// texts with music and comments, and the names of the process's threads.
#pragma once

#include "audio/KivMusicPlayer.h"
#include "audio/MusicDevice.h"
#include "support/ThreadNames.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace kiv::test {

// What the sound output was asked to do, with the device clock at that moment.
struct TDeviceCall {
    std::string what; // "create", "play", "stop"
    std::string name;
    std::int32_t offset = 0;
    double at = 0;

    bool operator==(const TDeviceCall&) const = default;
};

class TRecordingDevice;

class TRecordingChannel final : public TDeviceChannel {
public:
    TRecordingChannel(TRef<TRecordingDevice> device, std::string name)
        : device_(std::move(device)), name_(std::move(name)) {}
    double LengthMs() const override;
    void Play(std::int32_t fadeMs) override;
    void Stop(std::int32_t fadeMs) override;

private:
    ~TRecordingChannel() override = default;
    TRef<TRecordingDevice> device_;
    std::string name_;
};

class TRecordingDevice final : public TMusicDevice {
public:
    TRef<TVirtualClock> clock = MakeRef<TVirtualClock>(0);
    double soundLength = 1e9;
    std::string missing; // names containing it cannot be opened

    bool IsUsable() const override { return true; }
    float GetMasterVolume() const override { return volume_; }
    void SetMasterVolume(float volume) override { volume_ = volume; }
    IDeviceClock& Clock() override { return *clock; }
    TRef<TDeviceChannel> CreateChannel(const std::string& name, std::int32_t offsetMs) override {
        if (!missing.empty() && name.find(missing) != std::string::npos) return nullptr;
        Record("create", name, offsetMs);
        return MakeRef<TRecordingChannel>(ShareRef(this), name);
    }
    void SetOpenStreamCallback(TOpenStream) override {}

    void Record(const std::string& what, const std::string& name, std::int32_t offset = 0) {
        std::lock_guard guard(lock_);
        calls_.push_back({what, name, offset, clock->NowMs()});
    }
    // Every call so far, in order.
    std::vector<TDeviceCall> AllCalls() {
        std::lock_guard guard(lock_);
        return calls_;
    }
    // The calls of kind `what` whose name contains `part`.
    std::vector<TDeviceCall> Calls(const std::string& what, const std::string& part) {
        std::lock_guard guard(lock_);
        std::vector<TDeviceCall> found;
        for (const TDeviceCall& call : calls_)
            if (call.what == what && call.name.find(part) != std::string::npos) found.push_back(call);
        return found;
    }

private:
    ~TRecordingDevice() override = default;
    std::mutex lock_;
    std::vector<TDeviceCall> calls_;
    float volume_ = 1;
};

inline double TRecordingChannel::LengthMs() const {
    return device_->soundLength;
}
inline void TRecordingChannel::Play(std::int32_t) {
    device_->Record("play", name_);
}
inline void TRecordingChannel::Stop(std::int32_t) {
    device_->Record("stop", name_);
}

inline std::string Music(const std::string& items, bool repeat = false) {
    return "object Music:Music\n  object T:TMusicTrack\n" + items +
           "  end\n  object O:TMusicOptions\n    IsRepeat=" + (repeat ? "1" : "0") + "\n  end\nend\n";
}

inline std::string Item(const std::string& name, const std::string& keys) {
    return "    object " + name + ":TMusicItem\n" + keys + "    end\n";
}

inline std::string Comment(int slide, const std::string& keys) {
    return "[Slide" + std::to_string(slide) + "]\nobject Music:Music\n  object C:TSoundComment\n" + keys +
           "  end\nend\n";
}

} // namespace kiv::test

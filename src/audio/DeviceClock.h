// The device clock the music player runs the show clock on: the audio device's play clock when a
// sound device is open, otherwise the process millisecond clock. Headless rendering uses a virtual
// clock that the caller advances, so every frame sees exactly the time it asked for.
#pragma once

#include "base/RefObject.h"

#include <atomic>

namespace kiv {

class IDeviceClock : public TRefObject {
public:
    // The clock's reading in milliseconds; any thread.
    virtual double NowMs() = 0;

protected:
    ~IDeviceClock() override = default;
};

// Process milliseconds: the clock without a sound device.
class TProcessClock final : public IDeviceClock {
public:
    double NowMs() override;

protected:
    ~TProcessClock() override = default;
};

// A clock that stands until its owner moves it.
class TVirtualClock final : public IDeviceClock {
public:
    explicit TVirtualClock(double startMs = 0) : now_(startMs) {}
    double NowMs() override { return now_.load(); }
    void Advance(double ms);
    void Set(double ms) { now_.store(ms); }

protected:
    ~TVirtualClock() override = default;

private:
    std::atomic<double> now_;
};

} // namespace kiv

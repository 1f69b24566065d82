// The sound output as the music player sees it: a device that creates channels by name (a file or
// a composite description), keeps a master volume and provides the play clock. The player only
// decides what plays when; the device behind this seam does the decoding and the output.
#pragma once

#include "audio/DeviceClock.h"
#include "base/RefObject.h"
#include "package/Stream.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kiv {

// One named sound on the device, positioned at the file offset it was created with.
class TDeviceChannel : public TRefObject {
public:
    // The length of the whole sound in ms.
    virtual double LengthMs() const = 0;
    virtual void Play(std::int32_t fadeMs) = 0;
    // Play for a sound that was due `lateMs` before the device clock's reading: a device that has
    // not yet output that moment (an offline mix) starts it there; others start it now.
    virtual void PlayLate(std::int32_t fadeMs, double lateMs) {
        (void)lateMs;
        Play(fadeMs);
    }
    virtual void Stop(std::int32_t fadeMs) = 0;

protected:
    ~TDeviceChannel() override = default;
};

class TMusicDevice : public TRefObject {
public:
    // Opens a named file for the decoders; null when it cannot be opened.
    using TOpenStream = std::function<TRef<TStream>(const std::string& name)>;

    // False when no sound output could be opened: the player then runs without the device.
    virtual bool IsUsable() const = 0;
    virtual float GetMasterVolume() const = 0;
    virtual void SetMasterVolume(float volume) = 0;
    // The play clock; lives as long as the device.
    virtual IDeviceClock& Clock() = 0;
    // The channel for `name` starting `offsetMs` into the sound; null on failure. Any thread.
    virtual TRef<TDeviceChannel> CreateChannel(const std::string& name, std::int32_t offsetMs) = 0;
    virtual void SetOpenStreamCallback(TOpenStream open) = 0;

protected:
    ~TMusicDevice() override = default;
};

} // namespace kiv

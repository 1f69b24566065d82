// The common part of every object created on a device store: the error class of its last call,
// its lost-state byte, the `OnKilled` event and the back-pointer to its store. When the store dies
// it clears the back-pointer and fires `OnKilled`; a killed resource does nothing any more and
// its owner drops it.
#pragma once

#include "base/RefObject.h"
#include "render/RenderTypes.h"

#include <cstdint>
#include <functional>

namespace kiv {

class TDevStore;

class TDeviceResource : public TRefObject {
public:
    int LastError = kErrNone;
    std::uint8_t LostState = 0;
    std::function<void()> OnKilled;

    TDevStore* Store() const { return store_; }
    bool Killed() const { return store_ == nullptr; }

    // Called by the dying store, under the device lock: forget the store (the device objects went
    // with it), then fire OnKilled.
    virtual void Kill();

protected:
    explicit TDeviceResource(TDevStore* store) : store_(store) {}
    TDevStore* store_;
};

} // namespace kiv

// TScreenResource: a device-dependent object that registers with its screen when made and
// leaves when destroyed (vertex batches, textures, colour tables, shaders). The screen can ask
// every registered resource to release its device objects at any time; they are rebuilt on
// demand. A resource whose screen went away does nothing.
#pragma once

#include "base/RefObject.h"

namespace kiv {

class T3DScreen;

class TScreenResource : public TRefObject {
public:
    T3DScreen* Screen() const { return screen_; }
    // Frees the device objects; the resource stays registered.
    virtual void ReleaseDevice() = 0;
    // Called by the dying screen.
    void ForgetScreen() { screen_ = nullptr; }

protected:
    explicit TScreenResource(T3DScreen* screen);
    ~TScreenResource() override;

private:
    T3DScreen* screen_;
};

} // namespace kiv

#include "render/DeviceResource.h"

namespace kiv {

void TDeviceResource::Kill() {
    store_ = nullptr;
    LostState = kStateLost;
    if (OnKilled) {
        auto killed = OnKilled; // the handler may free this object
        killed();
    }
}

} // namespace kiv

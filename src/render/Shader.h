// T3DShader: a vertex or pixel program on the device. The code is shader source text in the
// device's language; its inputs are fixed by the renderer (see the GL renderer's header).
#pragma once

#include "render/DeviceResource.h"

namespace kiv {

class T3DShader : public TDeviceResource {
public:
    virtual bool IsVertex() const = 0;

protected:
    using TDeviceResource::TDeviceResource;
};

} // namespace kiv

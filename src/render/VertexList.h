// T3DVertexList: vertices on the device in the layout chosen at creation (position, then diffuse
// colour, specular colour, normal and texture coordinates as flagged), with the range and
// primitive type the next draw uses.
#pragma once

#include "render/DeviceResource.h"

namespace kiv {

class T3DVertexList : public TDeviceResource {
public:
    // type: TPrimitiveType; any other value is an assertion failure at draw time.
    virtual void SetRange(int startVertex, int primitiveCount, int primitiveType) = 0;
    // Writes `count` vertices from vertices[firstSource] on at vertex `firstVertex`; false when the
    // range does not fit or the device failed.
    virtual bool Fill(int firstVertex, const TSourceVertex* vertices, int count, int firstSource) = 0;
    virtual int VertexCount() const = 0;

protected:
    using TDeviceResource::TDeviceResource;
};

} // namespace kiv

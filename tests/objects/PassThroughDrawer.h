// A drawer without a device that hands every item its turn and draws nothing itself: the base of
// the test drawers that only count or keep what they are asked to do.
#pragma once

#include "objects/DeviceDrawer.h"

namespace kiv::test {

class TPassThroughDrawer : public TDeviceDrawer {
public:
    bool IsReady() const override { return true; }
    bool IsCapturingSlides() const override { return false; }
    bool Draw(TDrawItem& item) override {
        item.Draw(*this);
        return true;
    }
    void DrawImage(TImage&, TVec3, const TPictureDrawParams&, TVec3, TVec3, TVec2) override {}
    void DrawBox(TVec3, TVec2, const TBoxParams&, TVec3, TVec3) override {}
    void DrawBorder(TVec3, TVec2, TVec3, TVec3, TVec2, std::uint32_t, float, float, float, bool) override {}
    void DrawMasked(TDrawItem&, TDrawItem&, float, TImage*) override {}
    void FillRectangle(TVec3, TVec3, std::uint32_t) override {}
    TLayerTarget* BeginLayerTarget() override { return nullptr; }
    void EndLayerTarget() override {}
    void DrawLayerTarget(TLayerTarget*, int) override {}
    void PreloadImage(TImage&, const TPictureDrawParams&) override {}
    void ReleaseImage(TImage&) override {}
};

} // namespace kiv::test

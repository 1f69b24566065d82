// TKivBox: frames (type 1), boxes (2) and splitters (3) — a rectangle of `Size` filled with a solid
// colour or a gradient, which also groups its children. A splitter is never drawn itself; it divides
// a slide's objects into a background and a foreground part.
#pragma once

#include "objects/KivObject.h"

#include <string>

namespace kiv {

enum TBoxFillMode : int {
    kBoxSolid = 0,
    kBoxHGradient = 1,
    kBoxVGradient = 2,
    kBoxTLBRGradient = 3,
    kBoxTRBLGradient = 4,
};

class TKivBox : public TKivObject {
public:
    TKivBox(TKivObject* parent, int typeCode);

    bool IsSplitter() const noexcept { return typeCode_ == kTypeSplitter; }
    int FillMode() const noexcept { return fillMode_; }
    // The fill as handed to the drawer (colours managed, alphas applied, opacity current).
    TBoxParams FillParams() const;
    // False when nothing of the box itself would be drawn now.
    bool HasFill() const;
    // The drop shadow of the box's rectangle (with `ShadowEnable`), made again when its size or
    // shadow keys change.
    TImage* ShadowPicture() const noexcept { return shadow_.Get(); }

    void PreloadBegin(TDeviceDrawer& drawer) override;
    void ReleaseDevice(TDeviceDrawer& drawer) override;

protected:
    ~TKivBox() override = default;
    void SetDefaults() override;
    void ReadKeys(const TIniObject& object) override;
    bool IsKnownKey(std::string_view key) const override;
    void Produce(TDeviceDrawer& drawer) override;

private:
    void PrepareShadow();

    int typeCode_;
    int fillMode_ = kBoxSolid;
    std::uint32_t color1_ = 0xFF000000u;
    std::uint32_t color2_ = 0xFF000000u;
    int alpha1_ = 255;
    int alpha2_ = 255;
    bool antialiased_ = false;
    TRef<TImage> shadow_;
    std::string shadowKey_;
    int shadowMargin_ = 0;
    TVec2 shadowTexels_; // the rectangle's size in shadow texels
};

// The drawer's fill style of a box fill mode.
int BoxFillStyle(int fillMode) noexcept;

} // namespace kiv

#include "objects/KivBox.h"

#include "base/CaseFold.h"
#include "base/ColorValue.h"
#include "ini/IniFile.h"
#include "objects/ObjectHost.h"

#include <algorithm>

namespace kiv {

namespace {

constexpr std::string_view kFillWords[] = {"Solid", "HGradient", "VGradient", "TLBRGradient", "TRBLGradient"};
constexpr std::string_view kBoxKeys[] = {"Size",   "FillMode", "Color1",     "Color2",
                                         "Alpha1", "Alpha2",   "Antialiased"};
// An effective opacity at or below this is invisible (under half a step of alpha).
constexpr float kInvisibleOpacity = 0.00196f;

std::uint32_t WithAlpha(std::uint32_t argb, int alpha) {
    return (argb & 0x00FFFFFFu) | (static_cast<std::uint32_t>(std::clamp(alpha, 0, 255)) << 24);
}

} // namespace

int BoxFillStyle(int fillMode) noexcept {
    switch (fillMode) {
    case kBoxHGradient:
        return kFillHorizontal;
    case kBoxVGradient:
        return kFillVertical;
    case kBoxTLBRGradient:
        return kFillTopLeftToBottomRight;
    case kBoxTRBLGradient:
        return kFillTopRightToBottomLeft;
    default:
        return kFillSolid;
    }
}

TKivBox::TKivBox(TKivObject* parent, int typeCode) : TKivObject(parent), typeCode_(typeCode) {}

void TKivBox::SetDefaults() {
    TKivObject::SetDefaults();
    size_ = {};
    fillMode_ = kBoxSolid;
    color1_ = color2_ = 0xFF000000u;
    alpha1_ = alpha2_ = 255;
    antialiased_ = false;
}

void TKivBox::ReadKeys(const TIniObject& object) {
    TKivObject::ReadKeys(object);
    const TIniItem* size = object.FindItem("Size");
    size_ = {static_cast<double>(GetListInt32(size, ',', 0, 0)),
             static_cast<double>(GetListInt32(size, ',', 1, 0))};
    if (const TIniItem* fill = object.FindItem("FillMode")) {
        const int mode = GetChoice(fill, kFillWords, true, -1);
        if (mode < 0) LogBadValue("FillMode", fill->Value());
        fillMode_ = mode < 0 ? kBoxSolid : mode;
    }
    color1_ = ReadColorValue(object.GetText("Color1"), color1_);
    color2_ = ReadColorValue(object.GetText("Color2"), color2_);
    alpha1_ = std::clamp(object.GetInt32("Alpha1", 255), 0, 255);
    alpha2_ = std::clamp(object.GetInt32("Alpha2", 255), 0, 255);
    antialiased_ = object.GetBool("Antialiased", false);
}

bool TKivBox::IsKnownKey(std::string_view key) const {
    return TKivObject::IsKnownKey(key) ||
           std::any_of(std::begin(kBoxKeys), std::end(kBoxKeys),
                       [&](std::string_view k) { return SameTextFolded(k, key); });
}

TBoxParams TKivBox::FillParams() const {
    const TKivObjectHost* host = Host();
    auto managed = [&](std::uint32_t argb) { return host ? host->ManageColor(argb) : argb; };
    TBoxParams params;
    params.edgeAntialias = {antialiased_, antialiased_, antialiased_, antialiased_};
    params.color1 = WithAlpha(managed(color1_), alpha1_);
    params.color2 = WithAlpha(managed(color2_), alpha2_);
    params.opacity = EffectiveOpacity();
    params.fillStyle = BoxFillStyle(fillMode_);
    params.size = Size();
    return params;
}

bool TKivBox::HasFill() const {
    if (IsSplitter() || EffectiveOpacity() <= kInvisibleOpacity) return false;
    if (fillMode_ == kBoxSolid) return alpha1_ != 0;
    return alpha1_ != 0 || alpha2_ != 0;
}

void TKivBox::Produce(TDeviceDrawer& drawer) {
    if (!HasFill() || !(Size().x > 0.0) || !(Size().y > 0.0)) return;
    const TPlacement& placement = Placement();
    drawer.DrawBox(placement.origin, TVec2{-Pivot().x, -Pivot().y}, FillParams(), placement.axisX,
                   placement.axisY);
}

} // namespace kiv

#include "objects/KivBox.h"

#include "base/CaseFold.h"
#include "base/ColorValue.h"
#include "base/Log.h"
#include "ini/IniFile.h"
#include "objects/KivImage.h"
#include "objects/ObjectHost.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace kiv {

namespace {

constexpr std::string_view kFillWords[] = {"Solid", "HGradient", "VGradient", "TLBRGradient", "TRBLGradient"};
constexpr std::string_view kBoxKeys[] = {"Size",   "FillMode", "Color1",     "Color2",
                                         "Alpha1", "Alpha2",   "Antialiased"};
// A box's shadow is made from a rectangle no larger than this a side.
constexpr double kMaxShadowRectangle = 256.0;
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

void TKivBox::PrepareShadow() {
    const TVec2 size = Size();
    if (!keys_.shadowEnable || !(size.x > 0.0) || !(size.y > 0.0)) return;
    // The rectangle in texels of at most kMaxShadowRectangle a side.
    const double per = std::max({size.x / kMaxShadowRectangle, size.y / kMaxShadowRectangle, 1.0});
    const int w = std::max(1, static_cast<int>(std::lround(size.x / per)));
    const int h = std::max(1, static_cast<int>(std::lround(size.y / per)));
    const std::string key = std::to_string(w) + "x" + std::to_string(h) + ":" +
                            std::to_string(keys_.shadowSize) + ":" + std::to_string(keys_.shadowSpreadIndex);
    if (shadow_ && key == shadowKey_) return;
    shadowKey_ = key;
    shadow_ = nullptr;
    try {
        auto rectangle = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
        rectangle->Fill32(0xFFFFFFFFu);
        TImage source(MakeRef<TWrapperBitmapStore>("Box " + Guid(), std::move(rectangle)));
        int level = 0;
        shadow_ = MakeShadowPicture(source, level, keys_.shadowSize, keys_.shadowSpreadIndex, shadowMargin_);
        shadowTexels_ = {static_cast<double>(w), static_cast<double>(h)};
    } catch (const std::exception& failure) {
        TLog::Line("Object " + Guid() + ": no shadow: " + failure.what());
    }
}

void TKivBox::PreloadBegin(TDeviceDrawer& drawer) {
    if (drawer.IsReady()) PrepareShadow();
    TKivObject::PreloadBegin(drawer);
}

void TKivBox::ReleaseDevice(TDeviceDrawer& drawer) {
    if (shadow_) drawer.ReleaseImage(*shadow_);
    TKivObject::ReleaseDevice(drawer);
}

void TKivBox::Produce(TDeviceDrawer& drawer) {
    if (!HasFill() || !(Size().x > 0.0) || !(Size().y > 0.0)) return;
    if (keys_.shadowEnable) {
        PrepareShadow();
        if (shadow_) {
            const TVec2 size = Size();
            const TRectF shown{0.0f, 0.0f, static_cast<float>(shadowTexels_.x),
                               static_cast<float>(shadowTexels_.y)};
            DrawShadowPicture(drawer, *this, *shadow_, shown, shadowMargin_, Pivot(),
                              {size.x / shadowTexels_.x, size.y / shadowTexels_.y});
        }
    }
    const TPlacement& placement = Placement();
    drawer.DrawBox(placement.origin, TVec2{-Pivot().x, -Pivot().y}, FillParams(), placement.axisX,
                   placement.axisY);
}

} // namespace kiv

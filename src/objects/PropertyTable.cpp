#include "objects/PropertyTable.h"

#include "base/CaseFold.h"

namespace kiv {

namespace {

constexpr std::array<TPropertyInfo, kPropertyCount> kProperties = {{
    {"Opacity", "Opacity", -1, kGroupOpacity, 100.0},
    {"Pos.X", "Position", 0, kGroupPos, 0.0},
    {"Pos.Y", "Position", 1, kGroupPos, 0.0},
    {"Pos.Z", "ZPos", -1, kGroupPos, 0.0},
    {"Scale.X", "ScaleX", -1, kGroupScale, 100.0},
    {"Scale.Y", "ScaleY", -1, kGroupScale, 100.0},
    {"Angle", "Angle", -1, kGroupAngle, 0.0},
    {"Angle.X", "AngleX", -1, kGroupAngle, 0.0},
    {"Angle.Y", "AngleY", -1, kGroupAngle, 0.0},
    {"Center.X", "CenterPos", 0, kGroupCenter, 0.0},
    {"Center.Y", "CenterPos", 1, kGroupCenter, 0.0},
    {"Blur", "Blur", -1, kGroupBlur, 0.0},
    {"Frame.S", "Zoom", -1, kGroupFrame, 100.0},
    {"Frame.X", "OffsX", -1, kGroupFrame, 0.0},
    {"Frame.Y", "OffsY", -1, kGroupFrame, 0.0},
}};

constexpr std::array<std::string_view, kGroupCount> kGroupNames = {"Opacity", "Pos",  "Scale", "Angle",
                                                                   "Center",  "Blur", "Color", "Frame"};

constexpr std::array<std::string_view, 11> kTypeWords = {"Frame",    "Box",         "Splitter",   "Image",
                                                         "AniImage", "Text",        "Button",     "Video",
                                                         "ViewPort", "MaskStencil", "MaskContent"};

} // namespace

const std::array<TPropertyInfo, kPropertyCount>& PropertyTable() noexcept {
    return kProperties;
}

std::string_view GroupName(int group) noexcept {
    if (group < 0 || group >= kGroupCount) return {};
    return kGroupNames[static_cast<std::size_t>(group)];
}

int FindPropertyByFormulaName(std::string_view name) noexcept {
    for (int i = 0; i < kPropertyCount; ++i)
        if (SameTextFolded(name, kProperties[static_cast<std::size_t>(i)].formulaName)) return i;
    return -1;
}

int FindGroupByName(std::string_view name) noexcept {
    for (int i = 0; i < kGroupCount; ++i)
        if (SameTextFolded(name, kGroupNames[static_cast<std::size_t>(i)])) return i;
    return -1;
}

int TypeCodeFromClassWord(std::string_view classWord, bool animEnable) noexcept {
    for (std::size_t i = 0; i < kTypeWords.size(); ++i) {
        if (!SameTextFolded(classWord, kTypeWords[i])) continue;
        const int code = static_cast<int>(i) + 1;
        return code == kTypeImage && animEnable ? kTypeAniImage : code;
    }
    return kTypeNone;
}

std::uint32_t GroupMaskForType(int typeCode) noexcept {
    switch (typeCode) {
    case kTypeSplitter:
    case kTypeMaskStencil:
    case kTypeMaskContent:
        return 0;
    case kTypeImage:
    case kTypeVideo:
        return kAllGroups;
    case kTypeAniImage:
    case kTypeText:
    case kTypeButton:
        return kAllGroups & ~(1u << kGroupFrame);
    default:
        return kAllGroups & ~((1u << kGroupColor) | (1u << kGroupFrame));
    }
}

} // namespace kiv

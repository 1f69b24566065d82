// The animated properties of slide objects: the 15 scalar properties with their formula names,
// keyframe keys, groups and defaults; the eight property groups; the object type codes and which
// groups each type may animate. Pure tables, shared by every thread.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kiv {

constexpr int kPropertyCount = 15;
constexpr int kGroupCount = 8;

enum TKivProperty : int {
    kPropOpacity = 0,
    kPropPosX = 1,
    kPropPosY = 2,
    kPropPosZ = 3,
    kPropScaleX = 4,
    kPropScaleY = 5,
    kPropAngle = 6,
    kPropAngleX = 7,
    kPropAngleY = 8,
    kPropCenterX = 9,
    kPropCenterY = 10,
    kPropBlur = 11,
    kPropFrameS = 12,
    kPropFrameX = 13,
    kPropFrameY = 14,
};

// Group numbers are bit numbers of a keyframe's `grps` mask.
enum TKivGroup : int {
    kGroupOpacity = 0,
    kGroupPos = 1,
    kGroupScale = 2,
    kGroupAngle = 3,
    kGroupCenter = 4,
    kGroupBlur = 5,
    kGroupColor = 6, // no scalar property: carries the keyframes' colour filters
    kGroupFrame = 7,
};

constexpr std::uint32_t kAllGroups = 0xFF;

struct TPropertyInfo {
    std::string_view formulaName; // "Pos.X": the name formulas read
    std::string_view key;         // keyframe key: "Position"
    int listPart;                 // -1 a plain number; 0 or 1 the part of a comma list
    int group;
    double defaultValue;
};

const std::array<TPropertyInfo, kPropertyCount>& PropertyTable() noexcept;
inline const TPropertyInfo& PropertyInfo(int property) {
    return PropertyTable()[static_cast<std::size_t>(property)];
}
inline int PropertyGroup(int property) {
    return PropertyInfo(property).group;
}
inline double PropertyDefault(int property) {
    return PropertyInfo(property).defaultValue;
}

// "Opacity", "Pos", "Scale", "Angle", "Center", "Blur", "Color", "Frame".
std::string_view GroupName(int group) noexcept;

// The property whose formula name equals `name` (case-insensitive), or -1.
int FindPropertyByFormulaName(std::string_view name) noexcept;
// The group named `name` (case-insensitive), or -1.
int FindGroupByName(std::string_view name) noexcept;

// Object type codes (the class word of a project object).
enum TKivTypeCode : int {
    kTypeNone = 0,
    kTypeFrame = 1,
    kTypeBox = 2,
    kTypeSplitter = 3,
    kTypeImage = 4,
    kTypeAniImage = 5,
    kTypeText = 6,
    kTypeButton = 7,
    kTypeVideo = 8,
    kTypeViewPort = 9,
    kTypeMaskStencil = 10,
    kTypeMaskContent = 11,
};

// The type code of a class word (case-insensitive); an "Image" with `animEnable` is an AniImage.
// Any other word gives kTypeNone.
int TypeCodeFromClassWord(std::string_view classWord, bool animEnable) noexcept;

// The groups keyframes of an object of that type may set.
std::uint32_t GroupMaskForType(int typeCode) noexcept;

} // namespace kiv

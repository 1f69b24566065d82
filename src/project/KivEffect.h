// The descriptor of one chosen transition: which family runs, its switches (actions, directions,
// options), its integer and float parameters, its softness and, for custom transitions, the
// section that describes the chosen variant. Built from a catalog entry, copied and narrowed to one
// variant when drawn from the show's pool, then handed to the slide's TKivFilter.
//
// Family codes: 1 dissolve, 2 hourhand, 3 shapes, 4 gates, 5 page, 6 mosaic, 7 push, 8 slide,
// 9 curling, 10 flip, 11 swap, 12 custom (any other name).
#pragma once

#include "base/RefObject.h"
#include "ini/IniFile.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class TEffectProp;

enum : std::uint32_t {
    kEffectDissolve = 1,
    kEffectHourhand = 2,
    kEffectShapes = 3,
    kEffectGates = 4,
    kEffectPage = 5,
    kEffectMosaic = 6,
    kEffectPush = 7,
    kEffectSlide = 8,
    kEffectCurling = 9,
    kEffectFlip = 10,
    kEffectSwap = 11,
    kEffectCustom = 12,
};

class TKivEffect : public TRefObject {
public:
    // Smoothline of a descriptor that sets none; a value set below 0.1 becomes this too.
    static constexpr double kNoSmoothline = 0.001;

    double smoothline = kNoSmoothline;
    std::uint32_t type = 0;
    std::int32_t variantCount = 0;
    std::vector<std::int32_t> intParams;
    std::vector<float> floatParams;
    std::vector<bool> switches;
    std::string name;
    // The chosen variant's description (custom transitions); shared between copies.
    TRef<TIniSection> customSection;

    // A copy of every field; the custom section is shared, not copied.
    TRef<TKivEffect> Copy() const;

    // Number of actions (0, or 2 for hourhand, shapes and curling) and of directions of the family.
    std::int32_t ActionCount() const;
    std::int32_t DirectionCount() const;

    // Keeps only variant `variant` (0..variantCount-1) switched on: among the directions (families
    // without actions), or among the (action, direction) pairs. Options such as curling's usecolor
    // keep their values. A variant beyond the pairs leaves the switches alone.
    void KeepVariant(std::int32_t variant);

    // The switches as "0"/"1" characters.
    std::string SwitchText() const;

    // Sets a smoothline read from a project: below 0.1 becomes kNoSmoothline.
    void SetSmoothline(double value);

protected:
    ~TKivEffect() override = default;
};

// The family code of a slide effect name (lower case): 1..11, or 0 for any other name.
std::uint32_t EffectFamilyOfName(std::string_view name);
// The family code of a standard family index of the catalog: 2 dissolve .. 13 swap give 1..11;
// 0, 1 and 3 ("default", "defowntime", "quick") give 0 (no descriptor); any other gives 12.
std::uint32_t EffectFamilyOfStdIndex(std::int32_t stdIndex);

// The descriptor of family `code` (1..11) with its keys looked up in `entry`.
TRef<TKivEffect> BuildFamilyEffect(std::uint32_t code, const TEffectProp& entry);
// A code-12 descriptor with one switch on and `section` (may be none) as its description.
TRef<TKivEffect> BuildCustomEffect(TRef<TIniSection> section);
// A code-12 descriptor over the first enabled variant of `entry` (none when no variant is enabled).
TRef<TKivEffect> BuildFirstVariantEffect(TEffectProp& entry);

} // namespace kiv

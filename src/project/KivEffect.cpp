#include "project/KivEffect.h"

#include "base/ColorValue.h"
#include "base/NumberText.h"
#include "ini/IniValues.h"
#include "project/EffectProp.h"
#include "project/ShowOptions.h"

#include <array>
#include <utility>

namespace kiv {

namespace {

constexpr std::array<std::string_view, 11> kFamilyNames = {
    "dissolve", "hourhand", "shapes", "gates", "page", "mosaic", "push", "slide", "curling", "flip", "swap"};

// Character `position` (counted from 1) of `value` is "1".
bool CharOn(std::string_view value, std::size_t position) {
    return position >= 1 && position <= value.size() && value[position - 1] == '1';
}

std::int32_t ReadInt(const TEffectProp& entry, std::string_view key, std::int32_t fallback) {
    return ParseInt32(entry.Value(key), fallback);
}

float ReadFloat(const TEffectProp& entry, std::string_view key, double fallback) {
    return ClampToFloat(ParseIniReal(entry.Value(key)).value_or(fallback));
}

bool ReadChecked(const TEffectProp& entry) {
    return ParseIniBool(entry.Value("checked")).value_or(true);
}

void AddActions(TKivEffect& effect, const TEffectProp& entry) {
    const std::string action = entry.Value("action");
    effect.switches.push_back(CharOn(action, 1));
    effect.switches.push_back(CharOn(action, 2));
}

// Directions taken from the characters of `direction` in the given order.
void AddDirections(TKivEffect& effect, const TEffectProp& entry, std::initializer_list<std::size_t> order) {
    const std::string direction = entry.Value("direction");
    for (const std::size_t position : order)
        effect.switches.push_back(CharOn(direction, position));
}

std::int32_t CountOn(const std::vector<bool>& switches, std::size_t from, std::size_t count) {
    std::int32_t on = 0;
    for (std::size_t i = from; i < from + count && i < switches.size(); ++i)
        on += switches[i] ? 1 : 0;
    return on;
}

} // namespace

TRef<TKivEffect> TKivEffect::Copy() const {
    TRef<TKivEffect> copy = MakeRef<TKivEffect>();
    copy->smoothline = smoothline;
    copy->type = type;
    copy->variantCount = variantCount;
    copy->intParams = intParams;
    copy->floatParams = floatParams;
    copy->switches = switches;
    copy->name = name;
    copy->customSection = customSection;
    return copy;
}

std::int32_t TKivEffect::ActionCount() const {
    return type == kEffectHourhand || type == kEffectShapes || type == kEffectCurling ? 2 : 0;
}

std::int32_t TKivEffect::DirectionCount() const {
    switch (type) {
    case kEffectHourhand:
        return 9;
    case kEffectShapes:
        return 3;
    case kEffectGates:
    case kEffectPage:
    case kEffectCurling:
        return 8;
    case kEffectPush:
    case kEffectSlide:
    case kEffectFlip:
    case kEffectSwap:
        return 4;
    default:
        return 1;
    }
}

void TKivEffect::KeepVariant(std::int32_t variant) {
    const auto actions = static_cast<std::size_t>(ActionCount());
    const auto directions = std::min(static_cast<std::size_t>(DirectionCount()),
                                     switches.size() - std::min(switches.size(), actions));
    if (variant < 0) return;
    if (actions == 0) {
        // Families without actions: the variant-th switched-on direction stays on.
        std::int32_t seen = 0;
        std::size_t kept = directions;
        for (std::size_t i = 0; i < directions; ++i) {
            if (!switches[i]) continue;
            if (seen++ == variant) kept = i;
        }
        if (kept == directions) return;
        for (std::size_t i = 0; i < directions; ++i)
            switches[i] = i == kept;
        return;
    }
    if (switches.size() < actions) return;
    // Families with actions: one row of directions per action; the chosen (action, direction) pair
    // is the variant-th of the switched-on pairs, actions outermost.
    std::array<std::vector<bool>, 2> rows;
    for (auto& row : rows)
        row.assign(switches.begin() + static_cast<std::ptrdiff_t>(actions),
                   switches.begin() + static_cast<std::ptrdiff_t>(actions + directions));
    std::size_t chosenAction = actions;
    std::size_t chosenDirection = 0;
    std::int32_t pair = 0;
    for (std::size_t a = 0; a < actions && chosenAction == actions; ++a) {
        if (!switches[a]) continue;
        for (std::size_t d = 0; d < directions; ++d) {
            if (!switches[actions + d]) continue;
            if (pair++ == variant) {
                chosenAction = a;
                chosenDirection = d;
                break;
            }
        }
    }
    if (chosenAction == actions) return;
    for (std::size_t a = 0; a < actions; ++a) {
        if (!switches[a]) continue;
        for (std::size_t d = 0; d < directions; ++d)
            if (switches[actions + d]) rows[a][d] = a == chosenAction && d == chosenDirection;
        switches[a] = a == chosenAction;
    }
    for (std::size_t d = 0; d < directions; ++d)
        switches[actions + d] = rows[0][d] || rows[1][d];
}

std::string TKivEffect::SwitchText() const {
    std::string text;
    text.reserve(switches.size());
    for (const bool on : switches)
        text += on ? '1' : '0';
    return text;
}

void TKivEffect::SetSmoothline(double value) {
    smoothline = value < 0.1 ? kNoSmoothline : value;
}

std::uint32_t EffectFamilyOfName(std::string_view name) {
    for (std::size_t i = 0; i < kFamilyNames.size(); ++i)
        if (name == kFamilyNames[i]) return static_cast<std::uint32_t>(i + 1);
    return 0;
}

std::uint32_t EffectFamilyOfStdIndex(std::int32_t stdIndex) {
    switch (stdIndex) {
    case 0:
    case 1:
    case 3:
        return 0;
    case 2:
        return kEffectDissolve;
    default:
        if (stdIndex >= 4 && stdIndex <= 13) return static_cast<std::uint32_t>(stdIndex - 2);
        return kEffectCustom;
    }
}

TRef<TKivEffect> BuildFamilyEffect(std::uint32_t code, const TEffectProp& entry) {
    TRef<TKivEffect> effect = MakeRef<TKivEffect>();
    effect->type = code;
    switch (code) {
    case kEffectDissolve:
        effect->switches.push_back(ReadChecked(entry));
        break;
    case kEffectHourhand:
        AddActions(*effect, entry);
        AddDirections(*effect, entry, {1, 2, 3, 4, 5, 6, 7, 8, 9});
        effect->floatParams.push_back(ReadFloat(entry, "offset", 0));
        effect->SetSmoothline(ParseIniReal(entry.Value("smoothline")).value_or(0.35));
        break;
    case kEffectShapes:
        AddActions(*effect, entry);
        AddDirections(*effect, entry, {1, 2, 3});
        effect->intParams = {ReadInt(entry, "centerx", 50), ReadInt(entry, "centery", 50)};
        effect->SetSmoothline(ParseIniReal(entry.Value("smoothline")).value_or(0));
        break;
    case kEffectGates:
    case kEffectPage:
        AddDirections(*effect, entry, {1, 2, 3, 4, 5, 6, 7, 8});
        effect->SetSmoothline(ParseIniReal(entry.Value("smoothline")).value_or(0));
        break;
    case kEffectMosaic:
        effect->switches.push_back(ReadChecked(entry));
        effect->intParams = {ReadInt(entry, "cols", 1), ReadInt(entry, "rows", 1),
                             ReadInt(entry, "appearence", 0)};
        break;
    case kEffectPush:
    case kEffectSlide:
        AddDirections(*effect, entry, {2, 1, 3, 4});
        break;
    case kEffectCurling: {
        AddActions(*effect, entry);
        AddDirections(*effect, entry, {8, 7, 6, 5, 4, 3, 2, 1});
        effect->switches.push_back(entry.Value("usecolor") == "1");
        effect->switches.push_back(entry.Value("usevolume") == "1");
        const std::uint32_t argb = ReadColorValue(entry.Value("color"), 0);
        const std::uint32_t colorRef = ((argb & 0xFF) << 16) | (argb & 0xFF00) | ((argb >> 16) & 0xFF);
        effect->intParams = {ReadInt(entry, "pipe", 1), static_cast<std::int32_t>(colorRef)};
        effect->floatParams = {ReadFloat(entry, "radius", 0), ReadFloat(entry, "3dvolume", 0.125)};
        break;
    }
    case kEffectFlip:
        AddDirections(*effect, entry, {2, 1, 3, 4});
        effect->switches.push_back(entry.Value("spin_center") == "1");
        effect->switches.push_back(entry.Value("nonlinear_speed") == "1");
        effect->floatParams.push_back(ReadFloat(entry, "3dvolume", 0.5));
        break;
    case kEffectSwap:
        AddDirections(*effect, entry, {2, 1, 3, 4});
        effect->floatParams = {ReadFloat(entry, "depth", 4), ReadFloat(entry, "distance", 1),
                               ReadFloat(entry, "angle", 60)};
        break;
    default:
        return BuildCustomEffect(nullptr);
    }
    const auto actions = static_cast<std::size_t>(effect->ActionCount());
    const auto directions = static_cast<std::size_t>(effect->DirectionCount());
    const std::int32_t directionsOn = CountOn(effect->switches, actions, directions);
    effect->variantCount = actions == 0 ? directionsOn : CountOn(effect->switches, 0, actions) * directionsOn;
    return effect;
}

TRef<TKivEffect> BuildCustomEffect(TRef<TIniSection> section) {
    TRef<TKivEffect> effect = MakeRef<TKivEffect>();
    effect->type = kEffectCustom;
    effect->variantCount = 1;
    effect->switches.push_back(true);
    effect->customSection = std::move(section);
    return effect;
}

TRef<TKivEffect> BuildFirstVariantEffect(TEffectProp& entry) {
    const std::int32_t count = entry.VariantCount();
    for (std::int32_t variant = 0; variant < count; ++variant)
        if (entry.VariantEnabled(variant)) return BuildCustomEffect(entry.VariantCopy(variant));
    return BuildCustomEffect(nullptr);
}

} // namespace kiv

// Transition descriptors for tests and benchmarks: a descriptor from its family, switches and
// parameters, and one descriptor of every family that has a filter of its own.
#pragma once

#include "project/KivEffect.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kiv::test {

inline TRef<TKivEffect> Effect(std::uint32_t type, std::vector<bool> switches,
                               std::vector<std::int32_t> ints = {}, std::vector<float> floats = {}) {
    auto e = MakeRef<TKivEffect>();
    e->type = type;
    e->switches = std::move(switches);
    e->intParams = std::move(ints);
    e->floatParams = std::move(floats);
    return e;
}

// `count` direction switches after `actions` action switches, only direction `on` (from 1) set.
inline std::vector<bool> OnlySwitch(int count, int on, int actions = 0) {
    std::vector<bool> s(static_cast<std::size_t>(count + actions), false);
    s[static_cast<std::size_t>(actions + on - 1)] = true;
    return s;
}

// One descriptor per family with a filter of its own (two shapes, both kinds of hourhand), the
// dissolve first.
inline std::vector<std::pair<std::string, TRef<TKivEffect>>> EveryFamily() {
    std::vector<bool> curl(12, false);
    curl[0] = curl[3] = curl[11] = true; // action 1, direction 2, with volume
    return {
        {"dissolve", Effect(kEffectDissolve, {true})},
        {"circle", Effect(kEffectShapes, OnlySwitch(3, 1, 2), {50, 50})},
        {"rhomb", Effect(kEffectShapes, OnlySwitch(3, 2, 2), {50, 50})},
        {"gates", Effect(kEffectGates, OnlySwitch(8, 3))},
        {"page", Effect(kEffectPage, OnlySwitch(8, 1))},
        {"mosaic", Effect(kEffectMosaic, {true}, {16, 9, 50, 7})},
        {"push", Effect(kEffectPush, OnlySwitch(4, 1))},
        {"slide", Effect(kEffectSlide, OnlySwitch(4, 4))},
        {"flip", Effect(kEffectFlip, {true, false, false, false, true, true})},
        {"hourhand", Effect(kEffectHourhand, OnlySwitch(9, 5, 2))},
        {"broom", Effect(kEffectHourhand, OnlySwitch(9, 1, 2), {}, {0.1f})},
        {"swap", Effect(kEffectSwap, OnlySwitch(4, 2), {}, {4, 1, 60})},
        {"curling", Effect(kEffectCurling, curl, {0, 0}, {0.05f, 0.5f})},
    };
}

} // namespace kiv::test

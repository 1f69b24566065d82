// A show project built from arbitrary bytes: options, timeline, end actions, run-app queries, the
// effect catalog and the transition choice must never crash, hang or break the timeline's order.
#include "ini/IniFile.h"
#include "project/KivSource.h"
#include "project/ProjectError.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void Exercise(kiv::TKivSource& source) {
    const std::int32_t count = source.SlideCount();
    const kiv::TSlideInfoList& slides = source.Slides();
    Check(static_cast<std::int32_t>(slides.size()) == count);
    for (std::int32_t i = 0; i < count; ++i) {
        const kiv::TSlideInfo& info = slides[static_cast<std::size_t>(i)];
        Check(info.start <= info.sync && info.transition >= 0 && info.transition <= info.sync - info.start);
        Check(info.nextTransition >= 0 && info.end >= info.sync);
    }
    kiv::TSlideInfo info;
    for (const std::int32_t index : {-3, -1, 0, 1, count - 1, count, 2 * count + 1, 2147483647})
        source.GetSlideTimes(index, info);
    for (const double time : {-1e300, -5.0, 0.0, 0.5, 1000.0, source.Period(), source.Period() + 1, 1e12,
                              std::nan(""), HUGE_VAL}) {
        const std::int32_t found = source.FindSlideAt(time);
        if (found >= 0 && count > 0 && source.Period() > 0 && std::isfinite(time) && time < 1e12) {
            source.GetSlideTimes(found, info);
            Check(info.start <= time && time <= info.sync);
        }
    }
    const std::int32_t probe = count < 64 ? count : 64;
    for (std::int32_t i = 0; i < probe; ++i) {
        double loop = 0;
        std::string command;
        source.GetEndAction(i, loop);
        source.GetRunApp(i, command);
    }
    for (std::int32_t i = 0; i < 2 * probe; ++i) {
        double time = 0;
        float smoothline = 0;
        const kiv::TRef<kiv::TKivEffect> effect = source.GetSlideTransition(i, time, smoothline);
        Check(!effect || (time > 0 && effect->variantCount > 0));
    }
    kiv::TKIVEffectManager& catalog = source.Catalog();
    const std::int32_t entries = catalog.EntryCount();
    for (std::int32_t k = 0; k < entries && k < 32; ++k) {
        kiv::TEffectProp* entry = catalog.Entry(k);
        entry->Enabled();
        entry->StdIndex();
        entry->Time();
        const std::int32_t variants = entry->VariantCount();
        Check(variants >= 0 && variants <= kiv::TEffectProp::kMaxVariantCount);
        for (std::int32_t j = 0; j < variants && j < 8; ++j)
            if (entry->VariantEnabled(j)) entry->VariantCopy(j);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    kiv::TKivSourceSetup setup;
    setup.document = kiv::MakeRef<kiv::TIniFile>();
    setup.document->LoadFromBytes(bytes);
    setup.programFileName = size % 2 == 0 ? "show.scr" : "kivviewer";
    setup.random = kiv::MakeRef<kiv::TTransitionRandom>(size);
    kiv::TRef<kiv::TKivSource> source;
    try {
        source = kiv::MakeRef<kiv::TKivSource>(std::move(setup));
    } catch (const kiv::EProjectError&) {
        return 0;
    }
    Exercise(*source);
    return 0;
}

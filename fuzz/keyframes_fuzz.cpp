// A slide's object tree from arbitrary project text: building the property nodes (keyframes,
// modifiers, colour filters), rescaling, evaluating at hostile times, baking colour tables.
// Nothing may crash, and every property value stays finite.
#include "ini/IniFile.h"
#include "objects/ColorTable.h"
#include "objects/ObjectProps.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string_view>

namespace {

void Check(kiv::TKivObjectProps& node) {
    for (int i = 0; i < kiv::kPropertyCount; ++i)
        if (!std::isfinite(node.Value(i))) std::abort();
    if (node.ColorPresent()) {
        kiv::TObjectFilter* from = node.ColorFromFilters();
        kiv::TObjectFilter* to = node.ColorToFilters();
        const int kind = kiv::GradingKind(from, to, false);
        if (kind >= 2) {
            kiv::TColorGradeWrapper holder;
            holder.Prepare(from, kind, nullptr);
        }
    }
    for (int c = 0; c < node.ChildCount(); ++c)
        Check(*node.Child(c));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    kiv::TRef<kiv::TIniFile> file = kiv::MakeRef<kiv::TIniFile>();
    file->LoadFromText(text);
    kiv::TIniObject* object = file->FirstObject();
    if (!object) return 0;
    kiv::TRef<kiv::TKivObjectProps> root = kiv::MakeRef<kiv::TKivObjectProps>();
    const kiv::TSlideInfo moments{
        .start = 1000, .sync = 7000, .transition = 500, .nextTransition = 800, .end = 7800};
    try {
        root->Build(*object, kiv::PlanKeyframeTiming(file->FindSection("Slide1"), moments));
        // A second build over the same text reuses what it can.
        root->Build(*object, kiv::MakeDurations(6800, 500, 800));
    } catch (const kiv::EKivBuildError&) {
        return 0;
    }
    for (double t : {0.0, 16.7, 33.4, 3000.0, 6799.0, 6800.0, -5.0, 1e300,
                     std::numeric_limits<double>::quiet_NaN(), 2500.0, 0.0}) {
        root->Evaluate(t, true);
        Check(*root);
    }
    root->Rescale(kiv::MakeDurations(13600, 500, 800), 2.0);
    root->Evaluate(5000, true);
    Check(*root);
    return 0;
}

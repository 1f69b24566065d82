// kivtool props SHOW SLIDE GUID TIME: the 15 animated property values of one object of a slide at a
// show time, as the player computes them: the slide's property tree is built from its "Root" object
// with the slide's place on the timeline (rescaled as the slide asks), then evaluated at the time
// since the slide's start. The GUID may name the slide's root object itself.
#include "Commands.h"
#include "Output.h"
#include "ShowInput.h"

#include "base/CaseFold.h"
#include "base/NumberText.h"
#include "ini/IniValues.h"
#include "objects/KeyframeTiming.h"
#include "objects/ObjectProps.h"
#include "objects/PropertyTable.h"
#include "project/ShortestNumber.h"
#include "project/ShowOptions.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>

namespace kivtool {

namespace {

// The slide section's object of class "Root", or none.
kiv::TIniObject* FindRootObject(const kiv::TIniSection& section) {
    for (int index = 0; index < section.ObjectCount(); ++index) {
        kiv::TIniObject* object = section.Object(index);
        if (kiv::SameTextFolded(object->ClassText(), "Root")) return object;
    }
    return nullptr;
}

std::string ValuesJson(const kiv::TKivObjectProps& node) {
    std::string out = "{";
    for (int property = 0; property < kiv::kPropertyCount; ++property) {
        if (property > 0) out += ',';
        out += '"';
        out += kiv::PropertyInfo(property).formulaName;
        out += "\":" + kiv::ShortestText(static_cast<double>(node.Value(property)));
    }
    return out + "}\n";
}

} // namespace

int PropsCommand(const TArgs& args) {
    const std::optional<std::int32_t> slide = args.size() == 4 ? kiv::ParseInt32(args[1]) : std::nullopt;
    const std::optional<double> time = args.size() == 4 ? kiv::ParseIniReal(args[3]) : std::nullopt;
    if (!slide || !time) {
        std::fputs("usage: kivtool props SHOW SLIDE GUID TIME\n", stderr);
        return 2;
    }
    const std::string& show = args[0];
    const std::string& guid = args[2];
    kiv::TRef<kiv::TKivSource> source;
    try {
        source = LoadShowSource(show);
    } catch (const std::exception& error) {
        return Fail(error.what());
    }
    const std::string slideName = "slide " + std::to_string(*slide);
    if (*slide < 1 || *slide > source->SlideCount())
        return Fail(show + ": no " + slideName + " (the show has " + std::to_string(source->SlideCount()) +
                    ")");
    const std::int32_t index = *slide - 1;
    kiv::TIniSection* section = kiv::SlideSection(source->Document(), index);
    if (!section) return Fail(show + ": " + slideName + " has no section");
    kiv::TIniObject* root = FindRootObject(*section);
    const kiv::TSlideInfo& info = source->Slides()[static_cast<std::size_t>(index)];

    const kiv::TRef<kiv::TKivObjectProps> tree = kiv::MakeRef<kiv::TKivObjectProps>();
    if (root) {
        try {
            tree->Build(*root, kiv::PlanKeyframeTiming(section, info));
        } catch (const kiv::EKivBuildError& error) {
            return Fail(show + ": " + slideName + ": " + error.what());
        }
        tree->Evaluate(*time - info.start, true);
    }
    // Without a root object the slide has no objects; an empty GUID names none.
    const kiv::TKivObjectProps* node = root && !guid.empty() ? tree->FindNode(guid) : nullptr;
    if (!node) return Fail(show + ": " + slideName + " has no object with GUID \"" + guid + "\"");
    const std::string out = ValuesJson(*node);
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
        return Fail("cannot write the output");
    return 0;
}

} // namespace kivtool

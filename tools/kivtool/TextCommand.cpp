// kivtool text SHOW SLIDE GUID: the lines of one text object of a slide after its macros are filled,
// as the player rasterises them — the slide is built as the player builds it (its host reads the
// show's files for the picture macros), one line of text per output line.
#include "Commands.h"
#include "Output.h"
#include "ShowInput.h"

#include "base/NumberText.h"
#include "objects/KivText.h"
#include "objects/SlideProducer.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>

namespace kivtool {

namespace {

kiv::TKivText* FindText(kiv::TKivObject& object, const std::string& guid) {
    if (object.Guid() == guid) return dynamic_cast<kiv::TKivText*>(&object);
    for (int i = 0; i < object.ChildCount(); ++i)
        if (kiv::TKivText* found = FindText(*object.Child(i), guid)) return found;
    return nullptr;
}

} // namespace

int TextCommand(const TArgs& args) {
    const std::optional<std::int32_t> number = args.size() == 3 ? kiv::ParseInt32(args[1]) : std::nullopt;
    if (!number) {
        std::fputs("usage: kivtool text SHOW SLIDE GUID\n", stderr);
        return 2;
    }
    const std::string& show = args[0];
    kiv::TRef<kiv::TKivSource> source;
    try {
        source = LoadShowSource(show);
    } catch (const std::exception& error) {
        return Fail(error.what());
    }
    if (*number < 1 || *number > source->SlideCount())
        return Fail(show + ": no slide " + args[1] + " (the show has " +
                    std::to_string(source->SlideCount()) + ")");
    kiv::TSlideProducer producer(*source);
    kiv::TRef<kiv::TKivSlide> slide;
    try {
        producer.SetScreen(1280, 720, kiv::kShowFitInside);
        slide = producer.BuildSlide(*number - 1, 0);
    } catch (const std::exception& error) {
        return Fail(show + ": " + error.what());
    }
    if (!slide) return Fail(show + ": slide " + args[1] + " cannot be built");
    // The main picture's size is known once the slide is laid out.
    slide->Advance(true, slide->Times().start);
    kiv::TKivText* text = args[2].empty() ? nullptr : FindText(*slide, args[2]);
    if (!text) return Fail(show + ": slide " + args[1] + " has no text with GUID \"" + args[2] + "\"");
    std::string out;
    for (const std::string& line : text->ExpandedLines())
        out += line + "\n";
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
        return Fail("cannot write the output");
    return 0;
}

} // namespace kivtool

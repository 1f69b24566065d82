#include "ProjectCommands.h"
#include "Output.h"

#include "ShowInput.h"

#include "base/NumberText.h"
#include "ini/IniValues.h"
#include "project/KivSource.h"
#include "project/ShortestNumber.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <string>

namespace kivtool {

namespace {

using kiv::TRef;

constexpr const char* kTimelineUsage = "timeline SHOW";
constexpr const char* kSlideTimesUsage = "slide-times SHOW INDEX";
constexpr const char* kFindSlideUsage = "find-slide SHOW TIME";
constexpr const char* kTransitionsUsage = "transitions SHOW [--seed N] [--passes K]";
// More passes than anyone reads; keeps a mistyped count from printing for hours.
constexpr std::int64_t kMaxPasses = 1000000;
// The same for the whole listing: a show with many slides reaches it with few passes.
constexpr std::int64_t kMaxTransitionLines = 1000000;

std::string Number(double value) {
    return kiv::ShortestText(value);
}

// The times of a record as JSON members, in the documented order.
std::string TimesMembers(const kiv::TSlideInfo& info) {
    return "\"start\":" + Number(info.start) + ",\"sync\":" + Number(info.sync) +
           ",\"transition\":" + Number(info.transition) +
           ",\"next_transition\":" + Number(info.nextTransition) + ",\"end\":" + Number(info.end);
}

// Builds the show project of SHOW, or prints why it cannot be built.
TRef<kiv::TKivSource> OpenSource(const std::string& show, TRef<kiv::TTransitionRandom> random = nullptr) {
    try {
        return LoadShowSource(show, std::move(random));
    } catch (const std::exception& error) {
        Fail(error.what());
    }
    return nullptr;
}

int Print(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        return Fail("cannot write the output");
    return 0;
}

std::optional<std::uint64_t> ParseUnsigned(const std::string& text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

} // namespace

int RunTimeline(const TArgs& args) {
    if (args.size() != 1) return Usage(kTimelineUsage);
    const TRef<kiv::TKivSource> source = OpenSource(args[0]);
    if (!source) return 1;
    std::string out = "{\"count\":" + std::to_string(source->SlideCount()) +
                      ",\"period\":" + Number(source->Period()) +
                      ",\"end_mode\":" + JsonString(kiv::EndModeWord(source->EndMode())) + ",\"slides\":[";
    bool first = true;
    for (const kiv::TSlideInfo& info : source->Slides()) {
        if (!first) out += ',';
        first = false;
        out += '{';
        out += TimesMembers(info);
        out += ",\"id\":";
        out += JsonString(info.slideId);
        out += '}';
    }
    out += "]}\n";
    return Print(out);
}

int RunSlideTimes(const TArgs& args) {
    if (args.size() != 2) return Usage(kSlideTimesUsage);
    const std::optional<std::int32_t> index = kiv::ParseInt32(args[1]);
    if (!index) return Usage(kSlideTimesUsage);
    const TRef<kiv::TKivSource> source = OpenSource(args[0]);
    if (!source) return 1;
    kiv::TSlideInfo info;
    const std::int32_t loop = source->GetSlideTimes(*index, info);
    return Print("{\"loop\":" + std::to_string(loop) + "," + TimesMembers(info) + "}\n");
}

int RunFindSlide(const TArgs& args) {
    if (args.size() != 2) return Usage(kFindSlideUsage);
    const std::optional<double> time = kiv::ParseIniReal(args[1]);
    if (!time) return Usage(kFindSlideUsage);
    const TRef<kiv::TKivSource> source = OpenSource(args[0]);
    if (!source) return 1;
    return Print(std::to_string(source->FindSlideAt(*time)) + "\n");
}

int RunTransitions(const TArgs& args) {
    std::string show;
    std::optional<std::uint64_t> seed;
    std::uint64_t passes = 1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--seed" || arg == "--passes") {
            if (i + 1 >= args.size()) return Usage(kTransitionsUsage);
            const std::optional<std::uint64_t> value = ParseUnsigned(args[++i]);
            if (!value) return Usage(kTransitionsUsage);
            if (arg == "--seed") {
                seed = value;
            } else {
                if (*value > static_cast<std::uint64_t>(kMaxPasses)) return Usage(kTransitionsUsage);
                passes = *value;
            }
        } else if (show.empty() && !arg.starts_with("--")) {
            show = arg;
        } else {
            return Usage(kTransitionsUsage);
        }
    }
    if (show.empty()) return Usage(kTransitionsUsage);
    TRef<kiv::TTransitionRandom> random =
        seed ? kiv::MakeRef<kiv::TTransitionRandom>(*seed) : kiv::MakeRef<kiv::TTransitionRandom>();
    const TRef<kiv::TKivSource> source = OpenSource(show, random);
    if (!source) return 1;
    const std::int64_t count = source->SlideCount();
    if (count > 0 && static_cast<std::int64_t>(passes) > kMaxTransitionLines / count)
        return Fail(show + ": " + std::to_string(passes) + " passes of " + std::to_string(count) +
                    " slides are more than " + std::to_string(kMaxTransitionLines) + " lines");
    std::string out;
    for (std::int64_t pass = 0; pass < static_cast<std::int64_t>(passes) && count > 0; ++pass) {
        for (std::int64_t slide = 0; slide < count; ++slide) {
            const std::int64_t index = pass * count + slide;
            double time = 0;
            float smoothline = 0;
            const TRef<kiv::TKivEffect> effect =
                source->GetSlideTransition(static_cast<std::int32_t>(index % count), time, smoothline);
            out += std::to_string(index) + "\t" + Number(time) + "\t" + kiv::ShortestText(smoothline) + "\t" +
                   std::to_string(effect ? effect->type : 0) + "\t" + (effect ? effect->SwitchText() : "-") +
                   "\n";
        }
        if (out.size() > (1u << 16)) {
            if (Print(out) != 0) return 1;
            out.clear();
        }
    }
    return Print(out);
}

} // namespace kivtool

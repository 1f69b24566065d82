// kivtool action WORD: the action record the player makes of an action word, as
// KIND<TAB>NUMBER<TAB>TEXT. kivtool command-check TEXT: "prohibited" when the player would refuse
// the text of a "runapp(" action, else one line per command with its file and parameters.
// kivtool navigate: the show time the player jumps to for "go to slide", "next slide" and
// "previous slide", in whole ms.
#include "Commands.h"
#include "ShowInput.h"

#include "base/NumberText.h"
#include "ini/IniValues.h"
#include "viewer/ActionInfo.h"
#include "viewer/ProgramRunner.h"
#include "viewer/SlideNavigation.h"
#include "viewer/SourceSlideTimes.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace kivtool {

int ActionCommand(const TArgs& args) {
    if (args.size() != 1) {
        std::fputs("usage: kivtool action WORD\n", stderr);
        return 2;
    }
    const kiv::TKivActionInfo action = kiv::ParseActionWord(args[0]);
    std::printf("%d\t%d\t%s\n", static_cast<int>(action.kind), static_cast<int>(action.number),
                action.text.c_str());
    return 0;
}

int CommandCheckCommand(const TArgs& args) {
    if (args.size() != 1) {
        std::fputs("usage: kivtool command-check TEXT\n", stderr);
        return 2;
    }
    const std::vector<std::string> commands = kiv::SplitCommands(args[0]);
    for (const std::string& command : commands) {
        if (kiv::IsProhibitedCommand(command)) {
            std::puts("prohibited");
            return 0;
        }
    }
    for (const std::string& command : commands) {
        const kiv::TCommandParts parts = kiv::SplitFileAndParameters(command);
        std::printf("%s\t%s\n", parts.file.c_str(), parts.parameters.c_str());
    }
    return 0;
}

namespace {

constexpr const char* kNavigateUsage = "usage: kivtool navigate SHOW start N | next T [--paused] | prev T\n";

enum class TNavigateKind { Start, Next, Prev };

struct TNavigateRequest {
    std::string show;
    TNavigateKind kind = TNavigateKind::Start;
    std::int32_t index = 0; // start: the slide index (from 0)
    double time = 0;        // next, prev: the current show time
    bool paused = false;
};

std::optional<TNavigateRequest> ParseNavigate(const TArgs& args) {
    if (args.size() < 3) return std::nullopt;
    TNavigateRequest request;
    request.show = args[0];
    const std::string& what = args[1];
    if (what == "start") {
        const std::optional<std::int32_t> index = kiv::ParseInt32(args[2]);
        if (args.size() != 3 || !index) return std::nullopt;
        request.index = *index;
        return request;
    }
    request.kind = what == "next" ? TNavigateKind::Next : TNavigateKind::Prev;
    if (what != "next" && what != "prev") return std::nullopt;
    const std::optional<double> time = kiv::ParseIniReal(args[2]);
    if (!time) return std::nullopt;
    request.time = *time;
    if (args.size() == 4 && request.kind == TNavigateKind::Next && args[3] == "--paused") {
        request.paused = true;
    } else if (args.size() != 3) {
        return std::nullopt;
    }
    return request;
}

} // namespace

int NavigateCommand(const TArgs& args) {
    const std::optional<TNavigateRequest> request = ParseNavigate(args);
    if (!request) {
        std::fputs(kNavigateUsage, stderr);
        return 2;
    }
    kiv::TRef<kiv::TKivSource> source;
    try {
        source = LoadShowSource(request->show);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kivtool: %s\n", error.what());
        return 1;
    }
    const kiv::TSourceSlideTimes times(source);
    const kiv::TSlideNavigation navigation(times);
    double result = 0;
    switch (request->kind) {
    case TNavigateKind::Start:
        result = navigation.SlideStartTime(request->index);
        break;
    case TNavigateKind::Next:
        result = navigation.NextSlideTime(request->time, request->paused);
        break;
    case TNavigateKind::Prev:
        result = navigation.PrevSlideTime(request->time);
        break;
    }
    // Navigation answers whole ms already, except a show without slides, where "next" stays at the
    // (possibly fractional) current time.
    std::printf("%lld\n", static_cast<long long>(kiv::RoundHalfEven(result)));
    return 0;
}

} // namespace kivtool

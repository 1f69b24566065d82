#include "app/RenderSwitch.h"

#include "base/Log.h"
#include "engine/HeadlessRender.h"
#include "ini/IniValues.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

namespace kiv {

namespace {

int Usage(const std::string& why) {
    std::fprintf(
        stderr, "kivviewer: %s\nusage: kivviewer SHOW -render OUT [-size WxH] [-fps N] [-from MS] [-to MS]\n",
        why.c_str());
    return 2;
}

// A number of milliseconds or frames: finite, not negative.
std::optional<double> NonNegative(const TCommandLine& commandLine, const char* name) {
    const std::optional<std::string> text = commandLine.Value(name);
    if (!text) return std::nullopt;
    const std::optional<double> value = ParseIniReal(*text);
    if (!value || !std::isfinite(*value) || *value < 0) return std::nullopt;
    return value;
}

} // namespace

int RunRenderSwitch(const TCommandLine& commandLine, TKivShowLocator& show) {
    const std::optional<std::string> folder = commandLine.Value("render");
    if (!folder || folder->empty()) return Usage("-render needs an output folder");
    for (const char* video : {".mp4", ".mkv", ".webm"}) {
        const std::string ending = video;
        if (folder->size() >= ending.size() &&
            folder->compare(folder->size() - ending.size(), ending.size(), ending) == 0)
            return Usage("-render " + *folder + ": video files are not written; OUT must be a folder");
    }
    THeadlessOptions options;
    if (commandLine.HasSwitch("size")) {
        const std::optional<std::string> size = commandLine.Value("size");
        if (!size || !ParseFrameSize(*size, options.width, options.height))
            return Usage("bad -size (WxH, 1 to 8192 each)");
    }
    if (commandLine.HasSwitch("fps")) {
        const std::optional<double> fps = NonNegative(commandLine, "fps");
        if (!fps || *fps <= 0 || *fps > 1000) return Usage("bad -fps (a frame rate above 0, at most 1000)");
        options.fps = *fps;
    }
    if (commandLine.HasSwitch("from")) {
        const std::optional<double> from = NonNegative(commandLine, "from");
        if (!from) return Usage("bad -from (milliseconds, not negative)");
        options.fromMs = *from;
    }
    if (commandLine.HasSwitch("to")) {
        const std::optional<double> to = NonNegative(commandLine, "to");
        if (!to) return Usage("bad -to (milliseconds, not negative)");
        options.toMs = *to;
    }
    try {
        const std::string failure =
            RenderShowToFolder(show.AccessorRef(), show.ProjectRef(), options, *folder, stderr);
        if (failure.empty()) return 0;
        std::fprintf(stderr, "kivviewer: %s\n", failure.c_str());
        TLog::Line("Render failed: " + failure);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kivviewer: %s\n", error.what());
        TLog::Line(std::string("Render failed: ") + error.what());
    }
    return 1;
}

} // namespace kiv

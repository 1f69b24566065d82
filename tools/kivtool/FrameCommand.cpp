// kivtool frame SHOW TIME -o OUT.png [--size WxH] [--no-overlay]: the one frame the player draws at
// show time TIME — the slides, the running transition and the overlay as the engine selects and
// draws them — rendered headlessly. Prints "WIDTH HEIGHT".
#include "Commands.h"
#include "Output.h"
#include "ShowInput.h"

#include "engine/HeadlessRender.h"
#include "images/PngWriter.h"
#include "ini/IniValues.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

namespace kivtool {

namespace {

constexpr const char* kUsage = "usage: kivtool frame SHOW TIME -o OUT.png [--size WxH] [--no-overlay]\n";

int FrameUsage(const std::string& why = {}) {
    if (!why.empty()) std::fprintf(stderr, "kivtool: %s\n", why.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace

int FrameCommand(const TArgs& args) {
    std::string show, output, timeText;
    kiv::THeadlessOptions options;
    options.programFileName = "kivtool";
    std::size_t positional = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-o" && i + 1 < args.size()) {
            output = args[++i];
        } else if (arg == "--size" && i + 1 < args.size()) {
            if (!kiv::ParseFrameSize(args[++i], options.width, options.height))
                return FrameUsage("bad size \"" + args[i] + "\" (WxH, 1 to 8192 each)");
        } else if (arg == "--no-overlay") {
            options.overlay = false;
        } else if (positional == 0) {
            show = arg;
            ++positional;
        } else if (positional == 1) {
            timeText = arg;
            ++positional;
        } else {
            return FrameUsage();
        }
    }
    if (positional != 2 || output.empty()) return FrameUsage();
    const std::optional<double> time = kiv::ParseIniReal(timeText);
    if (!time || !std::isfinite(*time) || *time < 0) return FrameUsage("bad time \"" + timeText + "\"");
    options.fromMs = *time;
    options.toMs = *time + 1;

    kiv::TRef<kiv::TKivShowLocator> located;
    try {
        located = OpenShow(show);
    } catch (const std::exception& error) {
        return FrameUsage(error.what());
    }
    kiv::TRef<kiv::TBitmap> frame;
    try {
        kiv::THeadlessPlayer player(located->AccessorRef(), located->ProjectRef(), options);
        frame = player.RenderFrame(0);
    } catch (const std::exception& error) {
        return Fail(show + ": " + error.what());
    }
    if (!frame)
        return Fail("the frame cannot be drawn (no usable headless GL context, or the show cannot start)");
    if (!kiv::WritePngFile(*frame, output)) return Fail(output + ": cannot be written");
    std::printf("%d %d\n", frame->Width(), frame->Height());
    return 0;
}

} // namespace kivtool

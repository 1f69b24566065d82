#include "app/RenderSwitch.h"

#include "app/VideoExport.h"
#include "audio/ShowMixer.h"
#include "base/Log.h"
#include "engine/HeadlessRender.h"
#include "ini/IniValues.h"
#include "viewer/ShowViewerEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

namespace kiv {

namespace {

int Usage(const std::string& why) {
    std::fprintf(
        stderr,
        "kivviewer: %s\nusage: kivviewer SHOW -render OUT [-size WxH] [-fps N] [-from MS] [-to MS] [-crf N]\n"
        "       OUT: a folder for PNG frames, or a .mp4, .mkv or .webm video file\n",
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
    if (!folder || folder->empty()) return Usage("-render needs an output folder or video file");
    const bool video = IsVideoFileName(*folder);
    int crf = -1;
    if (commandLine.HasSwitch("crf")) {
        const std::optional<double> value = NonNegative(commandLine, "crf");
        if (!video || !value || *value > 63 || *value != std::floor(*value))
            return Usage("bad -crf (a whole number from 0 to 63, for a video file)");
        crf = static_cast<int>(*value);
    }
    THeadlessOptions options;
    options.parseAction = ParseEngineAction;
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
        if (video && (options.width % 2 || options.height % 2)) return Usage("a video needs an even -size");
        std::string failure;
        if (video) {
            // The sound of frames [first, first + count): the mix up to the end of that stretch.
            TShowMixer mixer(TRef<TKivSource>::Share(&show.ParsedProject()), options.fromMs);
            const TExportSound sound = [&mixer](std::int64_t first, int count, std::int16_t* out) {
                std::int64_t at = 0;
                const double until =
                    mixer.FromMs() + static_cast<double>(first + count) * 1000 / kExportSampleRate;
                mixer.MixTo(until, [&](const std::int16_t* samples, int frames) {
                    const std::int64_t taken = std::min<std::int64_t>(frames, count - at);
                    std::copy(samples, samples + taken * 2, out + at * 2);
                    at += taken;
                });
            };
            failure = ExportShowToVideo(show.AccessorRef(), show.ProjectRef(), options, crf, *folder, sound,
                                        stderr);
        } else {
            failure = RenderShowToFolder(show.AccessorRef(), show.ProjectRef(), options, *folder, stderr);
            if (failure.empty()) {
                // The sound of the same stretch beside the frames: sample 0 sounds at frame 1.
                TShowMixer mixer(TRef<TKivSource>::Share(&show.ParsedProject()), options.fromMs);
                const double to = options.toMs >= 0 ? options.toMs : show.ParsedProject().Period();
                failure = MixToWavFile(mixer, std::max(to, options.fromMs), *folder + "/sound.wav");
            }
        }
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

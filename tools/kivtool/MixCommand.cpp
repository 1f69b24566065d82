// kivtool mix SHOW -o OUT.wav [--from MS] [--to MS]: the show's sound from FROM (default 0) to TO
// (default the end of one pass of the show), mixed as the player mixes it, written as a 44 100 Hz,
// 2-channel, 16-bit WAV file of exactly round((TO - FROM) x 44.1) frames. How much faster than real
// time the mix ran goes to stderr.
#include "Commands.h"
#include "Output.h"
#include "ShowInput.h"

#include "audio/ShowMixer.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>

namespace kivtool {

namespace {

constexpr const char* kMixUsage = "mix SHOW -o OUT.wav [--from MS] [--to MS]";

std::optional<double> ParseMs(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value) || value < 0 || value > 1e12)
        return std::nullopt;
    return value;
}

} // namespace

int MixCommand(const TArgs& args) {
    std::string show, output;
    std::optional<double> from = 0.0, to;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool valued = i + 1 < args.size();
        if (arg == "-o" && valued) {
            output = args[++i];
        } else if (arg == "--from" && valued) {
            if (!(from = ParseMs(args[++i]))) return Usage(kMixUsage);
        } else if (arg == "--to" && valued) {
            if (!(to = ParseMs(args[++i]))) return Usage(kMixUsage);
        } else if (show.empty() && !arg.empty() && arg[0] != '-') {
            show = arg;
        } else {
            return Usage(kMixUsage);
        }
    }
    if (show.empty() || output.empty() || (to && *to < *from)) return Usage(kMixUsage);

    try {
        const kiv::TRef<kiv::TKivSource> source = LoadShowSource(show);
        const double toMs = to ? *to : std::max(source->Period(), *from);
        kiv::TShowMixer mixer(source, *from);
        const std::int64_t frames = mixer.FrameAt(toMs);
        const auto begun = std::chrono::steady_clock::now();
        if (const std::string failure = kiv::MixToWavFile(mixer, toMs, output); !failure.empty())
            return Fail(failure);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
        const double soundSeconds = static_cast<double>(frames) / kiv::TShowMixer::kRate;
        if (seconds > 0)
            std::fprintf(stderr, "mixed %.3f s of sound in %.3f s: %.1f x real time\n", soundSeconds, seconds,
                         soundSeconds / seconds);
        else
            std::fprintf(stderr, "mixed %.3f s of sound\n", soundSeconds);
    } catch (const std::exception& error) {
        return Fail(show + ": " + error.what());
    }
    return 0;
}

} // namespace kivtool

// kivtool video FILE [--threads N]: opens the clip as a video object does, prints its parameters
// and plays every frame through the frame extractor in order (as a slide showing the clip does),
// then prints the frames decoded and the wall time they took.
#include "Commands.h"
#include "Output.h"

#include "package/FileStream.h"
#include "video/FrameSource.h"
#include "video/VideoExtractor.h"

#include <chrono>
#include <cstdio>
#include <exception>

namespace kivtool {

namespace {

constexpr const char* kVideoUsage = "video FILE [--threads N]";

} // namespace

int VideoCommand(const TArgs& args) {
    if (args.empty()) return Usage(kVideoUsage);
    int threads = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--threads" && i + 1 < args.size())
            threads = std::atoi(args[++i].c_str());
        else
            return Usage(kVideoUsage);
    }
    try {
        auto stream = kiv::MakeRef<kiv::TFileStream>(args[0], kiv::TFileAccess::Read,
                                                     kiv::TFileCreation::OpenExisting, kiv::kShareRead);
        std::string error;
        std::unique_ptr<kiv::TWinVideoSource> source =
            kiv::TWinVideoSource::Open(stream, args[0], error, threads);
        if (!source) {
            std::fprintf(stderr, "kivtool: %s cannot be played: %s\n", args[0].c_str(), error.c_str());
            return 1;
        }
        const kiv::TVideoParams params = source->Params();
        std::printf("%d x %d, %.6g fps, %lld frames, %s%s\n", params.width, params.height, params.fps,
                    static_cast<long long>(params.frameCount), params.codecName.c_str(),
                    params.interlaced ? ", interlaced" : "");
        const auto begin = std::chrono::steady_clock::now();
        auto extractor = kiv::MakeRef<kiv::TKivVideoExtractor>(std::move(source), false);
        std::int64_t shown = 0;
        for (std::int64_t n = 0; n < params.frameCount; ++n) {
            const double t = static_cast<double>(n) * 1000.0 / params.fps;
            extractor->Request(t, true);
            kiv::TKivVideoExtractor::TTaken taken = extractor->Take(t);
            if (taken.image && taken.exact) ++shown;
            extractor->PutBack(taken.image);
        }
        extractor->Stop();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        std::printf("%lld frames shown, %lld decoded, %.3f s\n", static_cast<long long>(shown),
                    static_cast<long long>(extractor->Decodes() - extractor->Failures()), seconds);
        return shown == params.frameCount ? 0 : 1;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "kivtool: %s\n", failure.what());
        return 1;
    }
}

} // namespace kivtool

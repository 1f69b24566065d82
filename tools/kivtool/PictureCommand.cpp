// kivtool picture SHOW NAME [--level N] -o OUT.png: loads a picture of a show as the player does
// (the placeholder picture included), writes level N as a PNG and prints "WIDTH HEIGHT".
#include "Commands.h"
#include "Output.h"
#include "ShowInput.h"

#include "images/PictureCache.h"
#include "images/PictureLoader.h"
#include "images/PngWriter.h"


#include <charconv>
#include <cstdio>
#include <optional>

namespace kivtool {

namespace {

constexpr const char* kUsage = "usage: kivtool picture SHOW NAME [--level N] -o OUT.png\n";
constexpr int kMaxLevel = 31;

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

// Why the player would show its placeholder for `name`, or nothing when the show has the
// picture: the same steps as the picture cache (providers, then the file, then decoding).
std::optional<std::string> PlaceholderReason(kiv::TFileAccessor& accessor, const std::string& name) {
    for (const kiv::TPictureProvider& provider : accessor.Source().PictureProviders()) {
        try {
            if (provider.code(provider.data, name)) return std::nullopt;
        } catch (const std::exception&) {
        }
    }
    kiv::TRef<kiv::TStream> stream = accessor.Open(name);
    if (!stream) return std::string("not found");
    try {
        if (kiv::DecodePicture(*stream, name, nullptr, nullptr)) return std::nullopt;
    } catch (const std::exception&) {
    }
    return std::string("does not decode");
}

} // namespace

int PictureCommand(const TArgs& args) {
    std::string show, name, output;
    int level = 0;
    std::size_t positional = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-o" && i + 1 < args.size()) {
            output = args[++i];
        } else if (arg == "--level" && i + 1 < args.size()) {
            const std::string& text = args[++i];
            const auto parsed = std::from_chars(text.data(), text.data() + text.size(), level);
            if (parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() || level < 0 ||
                level > kMaxLevel)
                return Usage();
        } else if (positional == 0) {
            show = arg;
            ++positional;
        } else if (positional == 1) {
            name = arg;
            ++positional;
        } else {
            return Usage();
        }
    }
    if (positional != 2 || output.empty() || name.empty()) return Usage();

    kiv::TRef<kiv::TFileAccessor> accessor;
    try {
        accessor = OpenShowFiles(show);
    } catch (const std::exception& failure) {
        return Fail(failure.what());
    }
    kiv::TRef<kiv::TImage> picture = kiv::LoadCachedPicture(*accessor, name);
    if (!picture) return Fail(show + ": picture \"" + name + "\" cannot be made");
    kiv::TRef<kiv::TBitmap> bitmap;
    try {
        bitmap = picture->Store().GetMipLevel(level, kiv::TPixelFormat::Bgra32);
    } catch (const std::exception& failure) {
        return Fail(show + ": picture \"" + name + "\" level " + std::to_string(level) + ": " +
                    failure.what());
    }
    if (!kiv::WritePngFile(*bitmap, output)) return Fail(output + ": cannot be written");
    // The placeholder is what the player shows, so it is written and the command succeeds; the
    // note tells a caller that the show lacks the picture.
    if (const std::optional<std::string> reason = PlaceholderReason(*accessor, name))
        std::fprintf(stderr, "kivtool: %s: picture \"%s\" %s; the placeholder was written\n", show.c_str(),
                     name.c_str(), reason->c_str());
    std::printf("%d %d\n", bitmap->Width(), bitmap->Height());
    return 0;
}

} // namespace kivtool

// kivtool picture SHOW NAME [--level N] -o OUT.png: loads a picture of a show as the player does
// (the placeholder picture included), writes level N as a PNG and prints "WIDTH HEIGHT".
#include "Commands.h"
#include "Output.h"
#include "ShowInput.h"

#include "images/PictureCache.h"
#include "images/PictureLoader.h"

#include <png.h>

#include <charconv>
#include <csetjmp>
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

// Writes a 32-bit BGRA bitmap as an 8-bit RGBA PNG; false when the file cannot be written.
bool WritePng(kiv::TBitmap& bitmap, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool written = false;
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        // The fastest deflate level: at the default, writing a photo took longer than decoding it,
        // and the file is a look at the pixels, not an archive.
        png_set_compression_level(png, 1);
        png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.Width()),
                     static_cast<png_uint_32>(bitmap.Height()), 8, PNG_COLOR_TYPE_RGB_ALPHA,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_set_bgr(png);
        for (int y = 0; y < bitmap.Height(); ++y)
            png_write_row(png, bitmap.Row(y));
        png_write_end(png, nullptr);
        written = true;
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    return std::fclose(file) == 0 && written;
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
    if (!WritePng(*bitmap, output)) return Fail(output + ": cannot be written");
    // The placeholder is what the player shows, so it is written and the command succeeds; the
    // note tells a caller that the show lacks the picture.
    if (const std::optional<std::string> reason = PlaceholderReason(*accessor, name))
        std::fprintf(stderr, "kivtool: %s: picture \"%s\" %s; the placeholder was written\n", show.c_str(),
                     name.c_str(), reason->c_str());
    std::printf("%d %d\n", bitmap->Width(), bitmap->Height());
    return 0;
}

} // namespace kivtool

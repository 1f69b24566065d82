// Writes the seed corpora of the picture fuzz targets: small valid files of every variant the
// readers know, plus a few broken ones. Run as: images_make_seeds fuzz/corpus
#include "PictureMaker.h"
#include "images/ColorProfile.h"

#include <filesystem>
#include <fstream>
#include <string>

using namespace kiv;
using namespace kiv::test;

namespace {

void Write(const std::filesystem::path& folder, const std::string& name, const TBytes& bytes) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TBytes Cut(const TBytes& bytes, std::size_t keep) {
    return TBytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(keep, bytes.size())));
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path root = argc > 1 ? argv[1] : "fuzz/corpus";
    TRef<TBitmap> picture = MakeGradient(12, 7, false, true);

    const auto bmp = root / "bmp";
    Write(bmp, "rgb24", MakeBmp24(*picture));
    for (int bits : {1, 4, 8}) {
        TBmpSpec spec;
        spec.width = 9;
        spec.height = 5;
        spec.bits = bits;
        for (int i = 0; i < (1 << bits) * 3; ++i)
            spec.palette.push_back(static_cast<std::uint8_t>(i * 7));
        for (int i = 0; i < 45; ++i)
            spec.indices.push_back(static_cast<std::uint8_t>((i / 3) % (1 << bits)));
        Write(bmp, "palette" + std::to_string(bits), MakeBmp(spec));
        if (bits != 1) {
            spec.compression = bits == 8 ? 1 : 2;
            Write(bmp, "rle" + std::to_string(bits), MakeBmp(spec));
        }
    }
    TBmpSpec sixteen;
    sixteen.width = 3;
    sixteen.height = 2;
    sixteen.bits = 16;
    sixteen.compression = 3;
    sixteen.masks = {0xF800, 0x7E0, 0x1F};
    sixteen.pixels = {0xF800, 0x07E0, 0x001F, 0xFFFF, 0, 0x1234};
    Write(bmp, "rgb565", MakeBmp(sixteen));
    TBmpSpec deep;
    deep.width = 2;
    deep.height = 2;
    deep.bits = 32;
    deep.topDown = true;
    deep.infoSize = 124;
    deep.compression = 3;
    deep.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    deep.pixels = {0x80112233, 0xFF445566, 0, 0x12345678};
    Write(bmp, "bgra_fields_topdown", MakeBmp(deep));
    Write(bmp, "truncated", Cut(MakeBmp24(*picture), 100));

    const auto gfx = root / "zkgfx";
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"File", "photo.bmp"}, {"Width", "12"}, {"Height", "7"}, {"OriginalSize", "1000"}};
    const TBytes packed = DeflateRaw(MakeBmp24(*picture));
    Write(gfx, "valid", MakeZkgfx(fields, packed));
    Write(gfx, "damaged", MakeZkgfx(fields, Cut(packed, packed.size() / 2)));
    Write(gfx, "header_only", Cut(MakeZkgfx(fields, packed), 40));

    const auto jpeg = root / "jpeg";
    Write(jpeg, "plain", EncodeJpeg(*picture, 90));
    Write(jpeg, "srgb_profile", EncodeJpeg(*picture, 75, BuiltInProfile("sRGB")->Data()));
    Write(jpeg, "adobe_profile", EncodeJpeg(*MakeGradient(20, 20), 50, BuiltInProfile("AdobeRGB")->Data()));
    Write(jpeg, "truncated", Cut(EncodeJpeg(*picture, 90), 300));

    const auto gif = root / "gif";
    TGifSpec spec;
    spec.width = 8;
    spec.height = 6;
    for (int i = 0; i < 256; ++i)
        spec.palette.insert(spec.palette.end(),
                            {static_cast<std::uint8_t>(i), 0, static_cast<std::uint8_t>(255 - i)});
    spec.loopCount = 0;
    spec.frames = {{0, 0, 8, 6, std::vector<std::uint8_t>(48, 3), 1, -1, 10, false},
                   {2, 1, 4, 4, std::vector<std::uint8_t>(16, 9), 3, 9, 20, true},
                   {1, 1, 3, 3, std::vector<std::uint8_t>(9, 200), 2, -1, 30, false}};
    const TBytes animated = EncodeGif(spec);
    Write(gif, "animated", animated);
    Write(gif, "truncated", Cut(animated, animated.size() - 20));
    return 0;
}

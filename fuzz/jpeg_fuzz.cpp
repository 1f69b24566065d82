// JPEG files of any content: the marker scan for the embedded profile, loading, and decoding at
// 1/8 scale (full size only for small pictures, to keep runs fast).
#include "PictureMaker.h"
#include "images/JpegStore.h"
#include "images/PictureLoader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kiv;
    ReadJpegProfile(data, size);
    test::TBytesStream stream(test::TBytes(data, data + size));
    if (TRef<TImage> image = DecodePictureByName(stream, "fuzz.jpg")) {
        const std::int64_t pixels = std::int64_t{image->Width()} * image->Height();
        if (pixels <= 16 << 20) image->Store().GetMipLevel(3, TPixelFormat::Bgra32);
        if (pixels <= 1 << 20) image->Store().GetMipLevel(0);
    } else if (stream.GetPosition() != 0) {
        std::abort();
    }
    return 0;
}

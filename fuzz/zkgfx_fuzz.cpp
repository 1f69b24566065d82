// Compressed pictures of any content: header reading, inflating and the green fallback.
#include "PictureMaker.h"
#include "images/GfxImage.h"
#include "images/PictureLoader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kiv;
    test::TBytesStream stream(test::TBytes(data, data + size));
    if (TRef<TImage> image = DecodePictureByName(stream, "fuzz.zkgfx")) {
        // Keep runs fast: the declared size is whatever the input says, up to the picture limit.
        // Pixel data of another size than declared is shown as it is, so level 0 need not have the
        // declared size; it must be a real picture.
        if (std::int64_t{image->Width()} * image->Height() <= 4 << 20) {
            TRef<TBitmap> level0 = image->Store().GetMipLevel(0, TPixelFormat::Bgra32);
            if (!level0 || level0->Width() <= 0 || level0->Height() <= 0) std::abort();
        }
    } else if (stream.GetPosition() != 0) {
        std::abort();
    }
    return 0;
}

// Windows bitmap files of any content: decoding, loading through the registry and one reduction.
#include "PictureMaker.h"
#include "images/BmpReader.h"
#include "images/PictureLoader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kiv;
    try {
        TRef<TBitmap> bitmap = DecodeBmp(data, size);
        if (!PictureSizeAllowed(bitmap->Width(), bitmap->Height())) std::abort();
    } catch (const EImageError&) {
    }
    test::TBytesStream stream(test::TBytes(data, data + size));
    if (TRef<TImage> image = DecodePictureByName(stream, "fuzz.bmp")) {
        TRef<TBitmap> level1 = image->Store().GetMipLevel(1, TPixelFormat::Bgra32);
        if (level1->Width() != (image->Width() + 1) / 2) std::abort();
    } else if (stream.GetPosition() != 0) {
        std::abort(); // a declining loader puts the stream back
    }
    return 0;
}

// GIF files of any content: the first frame and the frame atlas with its tiles tag.
#include "PictureMaker.h"
#include "images/GifReader.h"
#include "images/PictureLoader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kiv;
    test::TBytesStream stream(test::TBytes(data, data + size));
    if (TRef<TImage> image = DecodePictureByName(stream, "fuzz.gif|framesatlas")) {
        TRef<TTilesTag> tag = image->Store().TilesTag();
        if (!tag || tag->frameCount < 1 || tag->frameWidth * tag->frameCount != image->Width()) std::abort();
        if (std::int64_t{image->Width()} * image->Height() > kMaxAtlasPixels) std::abort();
        image->Store().GetMipLevel(0, TPixelFormat::Bgra32);
    }
    stream.SetPosition(0);
    if (TRef<TImage> first = DecodePictureByName(stream, "fuzz.gif")) first->Store().GetMipLevel(2);
    return 0;
}

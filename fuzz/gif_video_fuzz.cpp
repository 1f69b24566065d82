// GIF files of any content played as a clip: opening, then composing frames forwards, backwards,
// across key frames and past the end. A clip that opens has a sane size, a rate and a frame.
#include "package/MemoryStream.h"
#include "video/FFMpegDll.h"
#include "video/FrameSource.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kiv;
    if (size > (1u << 22)) return 0;
    auto stream = MakeRef<TMemoryStream>();
    if (size > 0) stream->WriteBuffer(data, static_cast<std::int32_t>(size));
    std::string error;
    std::unique_ptr<TGifVideoSource> source = TGifVideoSource::Open(*stream, error);
    if (!source) {
        if (error.empty()) std::abort();
        return 0;
    }
    const TVideoParams& params = source->Params();
    if (params.width <= 0 || params.height <= 0 || params.width > kMaxVideoSide || params.height > kMaxVideoSide ||
        params.frameCount <= 0 || !(params.fps > 0) || source->PictureCount() < 1 ||
        source->HeldBytes() > TGifVideoSource::kMaxBytes + 8 * kMaxVideoPixels)
        std::abort();
    TYUVImage image(params.width, params.height, true);
    const std::int64_t last = params.frameCount - 1;
    for (std::int64_t n : {std::int64_t{0}, std::int64_t{11}, std::int64_t{1}, std::int64_t{25}, last, last + 3,
                           std::int64_t{0}})
        source->GetFrame(n, image);
    return 0;
}

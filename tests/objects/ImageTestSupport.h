// Pictures for the image and slide tests: plain ones in memory, and one that claims a size too
// large to exist, serving only small reduced copies.
#pragma once

#include "SlideTestSupport.h"
#include "images/BitmapStore.h"
#include "objects/KivImage.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace kiv::test {

// A w × h picture of one colour (ARGB), or with `transparentBorder` texels of alpha 0 all round.
inline TRef<TImage> MakePicture(const std::string& name, int width, int height,
                                std::uint32_t argb = 0xFF808080u, int transparentBorder = 0) {
    auto bitmap = MakeRef<TBitmap>(width, height, TPixelFormat::Bgra32);
    bitmap->Fill32(argb);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (x < transparentBorder || y < transparentBorder || x >= width - transparentBorder ||
                y >= height - transparentBorder)
                bitmap->Row(y)[4 * x + 3] = 0;
    return MakeRef<TImage>(MakeRef<TWrapperBitmapStore>(name, bitmap));
}

// Claims `width` × `height`; a request for a copy larger than 2048 a side fails the test.
class THugeStore final : public TBitmapStore {
public:
    THugeStore(std::string name, int width, int height)
        : TBitmapStore(std::move(name), width, height, TPixelFormat::Bgra32) {}
    const char* ClassName() const override { return "THugeStore"; }
    int largestAsked = 0;

protected:
    TRef<TBitmap> LoadLevel(int level, TPixelFormat format, TBitmapClass) override {
        return ReadSourceLevel(level, format);
    }
    TRef<TBitmap> ReadSourceLevel(int level, TPixelFormat) override {
        const int w = std::max(1, (Width() + (1 << level) - 1) >> level);
        const int h = std::max(1, (Height() + (1 << level) - 1) >> level);
        largestAsked = std::max({largestAsked, w, h});
        if (w > 2048 || h > 2048) {
            ADD_FAILURE() << "a copy of " << w << " x " << h << " was asked for";
            throw EImageError("too large");
        }
        auto bitmap = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
        bitmap->Fill32(0xFF204060u);
        bitmap->SetLevel(level);
        return bitmap;
    }
};

inline const TKivImage& ImageOf(const TTestSlide& test, const std::string& guid) {
    const auto* image = dynamic_cast<const TKivImage*>(test.Find(guid));
    EXPECT_NE(image, nullptr) << guid << " is not an image";
    return *image;
}

inline std::string ImageObject(const std::string& guid, const std::string& keys,
                               const std::string& inner = {}) {
    return "object " + guid + ":Image\nGUID=" + guid + "\n" + keys + inner + "end\n";
}

} // namespace kiv::test

#include "images/ColorProfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <cstdlib>

namespace kiv {
namespace {

std::uint32_t Rgb(int r, int g, int b) {
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}
int Red(std::uint32_t c) {
    return (c >> 16) & 255;
}
int Green(std::uint32_t c) {
    return (c >> 8) & 255;
}
int Blue(std::uint32_t c) {
    return c & 255;
}

// Restores the process-wide colour state after a test.
struct TColorStateGuard {
    ~TColorStateGuard() {
        SetDisplayProfile(nullptr);
        SetColorManagement(TColorManagement::Active);
        SetTablePictureSource(nullptr);
    }
};

TEST(ColorProfile, BuiltInProfilesAndSrgbSharing) {
    TRef<TColorProfile> srgb = BuiltInProfile("sRGB");
    ASSERT_TRUE(srgb);
    EXPECT_EQ(BuiltInProfile("sRGB"), srgb) << "one object for the whole process";
    TRef<TColorProfile> yuv = BuiltInProfile("YUVsRGB");
    EXPECT_EQ(yuv->Name(), "YUVsRGB");
    EXPECT_EQ(yuv->Data(), srgb->Data());
    for (const char* name : {"AdobeRGB", "FunkyRGB"}) {
        TRef<TColorProfile> profile = BuiltInProfile(name);
        ASSERT_TRUE(profile) << name;
        EXPECT_GT(profile->Data().size(), 128u);
        EXPECT_NE(profile->Data(), srgb->Data());
    }
    EXPECT_FALSE(BuiltInProfile("srgb"));

    EXPECT_EQ(ProfileFromData(srgb->Data(), "photo.jpg"), srgb) << "the description marks sRGB data";
    std::vector<std::uint8_t> late(600, 0);
    const std::string text = "sRGB IEC61966-2.1";
    std::copy(text.begin(), text.end(), late.begin() + 520);
    EXPECT_NE(ProfileFromData(late, "late.jpg"), srgb) << "only the first 512 bytes count";
    EXPECT_EQ(ProfileFromData(late, "late.jpg")->Name(), "late.jpg");
    EXPECT_FALSE(ProfileFromData({}, "empty.jpg"));
}

TEST(ColorProfile, AdobeTableMovesSrgbPrimariesInward) {
    TRef<TBitmap> table = BuiltInProfile("AdobeRGB")->ColorTable();
    ASSERT_TRUE(table);
    EXPECT_EQ(BuiltInProfile("AdobeRGB")->ColorTable(), table) << "made once";
    // sRGB red is about (219, 0, 0) in Adobe RGB and sRGB green about (144, 255, 60).
    const std::uint32_t red = LookupColor(*table, Rgb(255, 0, 0));
    EXPECT_NEAR(Red(red), 219, 3);
    EXPECT_LE(Green(red), 3);
    const std::uint32_t green = LookupColor(*table, Rgb(0, 255, 0));
    EXPECT_NEAR(Red(green), 144, 4);
    EXPECT_NEAR(Blue(green), 60, 4);
    const std::uint32_t grey = LookupColor(*table, Rgb(128, 128, 128));
    EXPECT_NEAR(Red(grey), Green(grey), 1);
    EXPECT_NEAR(Blue(grey), Green(grey), 1);

    // The same table made through the display.
    TColorStateGuard guard;
    SetDisplayProfile(BuiltInProfile("AdobeRGB"));
    EXPECT_EQ(ConvertColorToDisplay(0x80FF0000u), (red & 0x00FFFFFFu) | 0x80000000u) << "alpha is kept";
    SetColorManagement(TColorManagement::Off);
    EXPECT_EQ(ConvertColorToDisplay(0x80FF0000u), 0x80FF0000u);
}

TEST(ColorProfile, TrilinearLookupInterpolatesBetweenLatticePoints) {
    TRef<TBitmap> identity = MakeIdentityTable();
    for (int v = 0; v < 256; v += 3)
        EXPECT_EQ(LookupColor(*identity, Rgb(v, 255 - v, v / 2)), Rgb(v, 255 - v, v / 2)) << v;
    // A table that inverts: every lattice value n becomes 255 - n, linear in between.
    TRef<TBitmap> inverted = MakeIdentityTable();
    for (int y = 0; y < 1024; ++y)
        for (int i = 0; i < 32 * 4; ++i)
            if (i % 4 != 3) inverted->Row(y)[i] = static_cast<std::uint8_t>(255 - inverted->Row(y)[i]);
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(LookupColor(*inverted, Rgb(v, v, v)), Rgb(255 - v, 255 - v, 255 - v)) << v;
    // Halfway between lattice values 8 and 16 in red only, with a table whose red is doubled there.
    TRef<TBitmap> step = MakeIdentityTable();
    step->Row(0)[4 * 2 + 2] = 100; // lattice (blue 0, green 0, red 16)
    EXPECT_EQ(Red(LookupColor(*step, Rgb(12, 0, 0))), (8 + 100 + 1) / 2) << "half of each neighbour, rounded";
}

TEST(ColorProfile, TransformsThatCannotBeMadeLeaveColoursAlone) {
    TColorStateGuard guard;
    auto broken = MakeRef<TColorProfile>("broken", std::vector<std::uint8_t>(300, 7));
    EXPECT_FALSE(CreateColorTransform(*BuiltInProfile("sRGB"), *broken));
    EXPECT_FALSE(broken->ColorTable());
    SetDisplayProfile(broken);
    EXPECT_EQ(ConvertColorToDisplay(Rgb(1, 2, 3)), Rgb(1, 2, 3));

    const char garbage[] = "not a profile";
    EXPECT_EQ(ProfileForScreen(garbage, sizeof garbage), BuiltInProfile("sRGB"));
    EXPECT_EQ(ProfileForScreen(nullptr, 0), BuiltInProfile("sRGB"));
    const auto& adobe = BuiltInProfile("AdobeRGB")->Data();
    TRef<TColorProfile> screen = ProfileForScreen(adobe.data(), adobe.size());
    EXPECT_EQ(screen->Name(), "Display");
    EXPECT_EQ(screen->Data(), adobe);
}

TEST(ColorProfile, DisplayProfileIsSrgbUntilOneIsChosen) {
    TColorStateGuard guard;
    EXPECT_EQ(DisplayProfile(), BuiltInProfile("sRGB"));
    SetDisplayProfile(BuiltInProfile("FunkyRGB"));
    EXPECT_EQ(DisplayProfile()->Name(), "FunkyRGB");
    // Wide gamut: a saturated sRGB red lands well inside FunkyRGB's red.
    EXPECT_LT(Red(ConvertColorToDisplay(Rgb(255, 0, 0))), 230);
}

TEST(ColorProfile, TransformsApplyToPicturesInPlaceKeepingAlpha) {
    TRef<TColorTransform> transform =
        CreateColorTransform(*BuiltInProfile("sRGB"), *BuiltInProfile("AdobeRGB"));
    ASSERT_TRUE(transform);
    auto picture = MakeRef<TBitmap>(2, 1, TPixelFormat::Bgra32);
    const std::uint8_t pixels[8] = {0, 0, 255, 77, 128, 128, 128, 200};
    std::memcpy(picture->Row(0), pixels, 8);
    transform->Apply(*picture);
    EXPECT_NEAR(picture->Row(0)[2], 219, 3);
    EXPECT_EQ(picture->Row(0)[3], 77);
    EXPECT_EQ(picture->Row(0)[7], 200);
}

TEST(ColorProfile, PrecomputedTablesReplaceColourTablesInTableMode) {
    TColorStateGuard guard;
    std::string asked;
    SetColorManagement(TColorManagement::Tables);
    SetTablePictureSource([&asked](const std::string& name) -> TRef<TBitmap> {
        asked = name;
        auto differences = MakeRef<TBitmap>(32, 1024, TPixelFormat::Bgr24);
        for (int y = 0; y < 1024; ++y)
            for (int x = 0; x < 32; ++x)
                differences->Row(y)[3 * x + 2] = 10; // red + 10, modulo 256
        return differences;
    });
    auto custom = MakeRef<TColorProfile>("Custom", BuiltInProfile("AdobeRGB")->Data());
    TRef<TColorTransform> transform = CreateColorTransform(*BuiltInProfile("sRGB"), *custom);
    ASSERT_TRUE(transform);
    EXPECT_EQ(asked, "ColorSpaceExe_Custom].ZKGFX");
    TRef<TBitmap> table = MakeIdentityTable();
    transform->Apply(*table);
    EXPECT_EQ(table->Row(0)[2], 10);
    EXPECT_EQ(table->Row(0)[4 * 31 + 2], static_cast<std::uint8_t>(255 + 10));
    EXPECT_EQ(table->Row(1023)[1], 255) << "green unchanged";

    SetTablePictureSource([](const std::string&) -> TRef<TBitmap> { return nullptr; });
    TRef<TColorTransform> fallback = CreateColorTransform(*BuiltInProfile("sRGB"), *custom);
    ASSERT_TRUE(fallback) << "without the table picture Little CMS is used";
    TRef<TBitmap> other = MakeIdentityTable();
    fallback->Apply(*other);
    EXPECT_NEAR(other->Row(0)[4 * 31 + 2], 219, 3);
}

TEST(ColorProfile, TablesServeWhileColourManagementIsNotActive) {
    TColorStateGuard guard;
    int asked = 0;
    SetTablePictureSource([&asked](const std::string&) -> TRef<TBitmap> {
        ++asked;
        auto differences = MakeRef<TBitmap>(32, 1024, TPixelFormat::Bgr24);
        for (int y = 0; y < 1024; ++y)
            for (int x = 0; x < 32; ++x)
                differences->Row(y)[3 * x] = 3; // blue + 3
        return differences;
    });
    auto custom = MakeRef<TColorProfile>("Custom", BuiltInProfile("AdobeRGB")->Data());

    SetColorManagement(TColorManagement::Off);
    TRef<TColorTransform> fromTable = CreateColorTransform(*BuiltInProfile("sRGB"), *custom);
    ASSERT_TRUE(fromTable);
    EXPECT_EQ(asked, 1) << "colour management off still reads the show's table";
    TRef<TBitmap> table = MakeIdentityTable();
    fromTable->Apply(*table);
    EXPECT_EQ(table->Row(1023)[4 * 5], 255 + 3 - 256);
    EXPECT_EQ(table->Row(1023)[4 * 5 + 2], LatticeValue(5)) << "red unchanged";

    SetColorManagement(TColorManagement::Active);
    TRef<TColorTransform> fromLibrary = CreateColorTransform(*BuiltInProfile("sRGB"), *custom);
    ASSERT_TRUE(fromLibrary);
    EXPECT_EQ(asked, 1) << "active colour management converts through Little CMS";
}

} // namespace
} // namespace kiv

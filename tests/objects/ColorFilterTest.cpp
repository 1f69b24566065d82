// Colour filters, the HSL conversion, colour tables and the colour group of a property node.
#include "ObjectsTestSupport.h"

#include "objects/ColorFilters.h"
#include "objects/ColorTable.h"
#include "objects/FilterRegistry.h"
#include "objects/Hsl.h"

#include <cmath>

namespace kiv {
namespace {

// A filter of the registered class `name` read from a "Filter" object with the given keys.
struct TReadFilter {
    test::TParsedObject parsed;
    TRef<TObjectFilter> filter;
};

TReadFilter ReadFilterText(const std::string& name, const std::string& keys) {
    TReadFilter read;
    read.parsed = test::ParseObject("object " + name + ":Filter\n" + keys + "end\n");
    read.filter = CreateFilter(name);
    if (read.filter) read.filter->ReadFilter(*read.parsed.object);
    return read;
}

// The filter applied to one grey level through a per-channel table.
int MapLevel(TObjectFilter& filter, int level) {
    TColorTable table = TColorTable::ChannelIdentity();
    table.ApplyChain(&filter);
    return static_cast<int>(table.Pixel(level, 0) & 0xFF);
}

// The filter applied to one pixel (r, g, b) -> 0xRRGGBB.
std::uint32_t MapPixel(TObjectFilter& filter, int r, int g, int b) {
    std::uint8_t pixel[4] = {static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g),
                             static_cast<std::uint8_t>(r), 0};
    filter.ApplyToTable(pixel, 1, 1);
    EXPECT_EQ(pixel[3], 255);
    return (std::uint32_t(pixel[2]) << 16) | (std::uint32_t(pixel[1]) << 8) | pixel[0];
}

TEST(ColorFilters, BrightContrastExtremes) {
    auto hard = ReadFilterText("BrightContrast", "contrast=100\n");
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(MapLevel(*hard.filter, c), c <= 127 ? 0 : 255) << c;
    auto flat = ReadFilterText("BrightContrast", "contrast=-100\n");
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(MapLevel(*flat.filter, c), 127) << c;
    auto plain = ReadFilterText("BrightContrast", "");
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(MapLevel(*plain.filter, c), c) << c;
    auto bright = ReadFilterText("BrightContrast", "bright=250\ncontrast=x\n"); // clamped to 100
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(MapLevel(*bright.filter, c), std::min(c + 100, 255)) << c;
    EXPECT_EQ(bright.filter->Kind(), kFilterChannel);
}

TEST(ColorFilters, InvertTwiceIsTheIdentity) {
    auto first = ReadFilterText("Invert", "");
    auto second = ReadFilterText("invert", "");
    ASSERT_TRUE(first.filter && second.filter);
    EXPECT_EQ(MapLevel(*first.filter, 10), 245);
    first.filter->SetNext(second.filter);
    TColorTable volume = TColorTable::VolumeIdentity();
    volume.ApplyChain(first.filter.Get());
    EXPECT_EQ(volume.Pixels(), TColorTable::VolumeIdentity().Pixels());
    TColorTable channel = TColorTable::ChannelIdentity(3);
    channel.ApplyChain(first.filter.Get());
    EXPECT_EQ(channel.Pixels(), TColorTable::ChannelIdentity(3).Pixels());
}

TEST(ColorFilters, LevelsIdentityGammaAndDegenerateRanges) {
    auto identity = ReadFilterText("Levels", "Min=0\nMed=0\nMax=255\n");
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(MapLevel(*identity.filter, c), c) << c;

    auto mid = ReadFilterText("Levels", "Med=50\n");
    auto* levels = static_cast<TLevelsGenerator*>(mid.filter.Get());
    EXPECT_DOUBLE_EQ(levels->Gamma(), 1.0 / 3.0);
    for (int c : {1, 64, 128, 200}) {
        const int expected = static_cast<int>(std::pow(c / 255.0, 1.0 / 3.0) * 255.0);
        EXPECT_NEAR(MapLevel(*mid.filter, c), expected, 1) << c;
        EXPECT_GT(MapLevel(*mid.filter, c), c) << "brighter midtones";
    }
    auto darkest = ReadFilterText("Levels", "Med=-100\n");
    EXPECT_DOUBLE_EQ(static_cast<TLevelsGenerator*>(darkest.filter.Get())->Gamma(), 10.0);
    auto brightest = ReadFilterText("Levels", "Med=100\n");
    EXPECT_DOUBLE_EQ(static_cast<TLevelsGenerator*>(brightest.filter.Get())->Gamma(), 0.1);

    auto window = ReadFilterText("Levels", "Min=50\nMax=150\n");
    EXPECT_EQ(MapLevel(*window.filter, 40), 0);
    EXPECT_EQ(MapLevel(*window.filter, 100), 127);
    EXPECT_EQ(MapLevel(*window.filter, 200), 255);

    auto step = ReadFilterText("Levels", "Min=100\nMax=100\nMed=-100\n");
    EXPECT_EQ(MapLevel(*step.filter, 100), 0);
    EXPECT_EQ(MapLevel(*step.filter, 101), 255);
    EXPECT_EQ(MapLevel(*step.filter, 255), 255) << "a huge power stays clamped";

    auto inverted = ReadFilterText("Levels", "Min=200\nMax=100\nMed=30\n");
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(MapLevel(*inverted.filter, c), 0) << c;
}

TEST(ColorFilters, ColorisationsTintTowardsTheColour) {
    auto white = ReadFilterText("Colorization", "Color=#FFFFFF\n");
    EXPECT_EQ(white.filter->Kind(), kFilterVolume);
    // Grey 100: Y = 100 × 68275 >> 16 = 104; t = 104 × 255 >> 7 = 207.
    EXPECT_EQ(MapPixel(*white.filter, 100, 100, 100), 0xCFCFCFu);
    auto none = ReadFilterText("Colorization", "Amount=0\nColor=#FF0000\n");
    EXPECT_EQ(MapPixel(*none.filter, 12, 34, 56), 0x0C2238u);
    auto red = ReadFilterText("Colorization", "Amount=100\nColor=255,0,0\n");
    // Y of pure blue 200: 200 × 7471 >> 16 = 22; red t = 22 × 255 >> 7 = 43; the others 0.
    EXPECT_EQ(MapPixel(*red.filter, 0, 0, 200), 0x2B0000u);

    auto multiply = ReadFilterText("Colorisation2", "Color=#FFFFFF\n");
    EXPECT_EQ(MapPixel(*multiply.filter, 100, 255, 0), 0x63FE00u); // 255 × c div 256
    auto twice = ReadFilterText("Colorisation3", "Color=#FFFFFF\n");
    EXPECT_EQ(MapPixel(*twice.filter, 100, 255, 0), 0xC7FF00u); // min(255 × c >> 7, 255)

    // Half the amount moves half way (rounded down through the shift).
    auto half = ReadFilterText("Colorisation2", "Amount=50\nColor=#000000\n");
    EXPECT_EQ(MapPixel(*half.filter, 200, 201, 0), 0x646500u); // 200 - 100, 201 - 100 (floor of -99.5)
}

TEST(ColorFilters, HslConversionAndShifts) {
    const THslColor red = RgbToHsl(255, 0, 0);
    EXPECT_EQ(red.h, 0);
    EXPECT_EQ(red.s, 255);
    EXPECT_EQ(red.l, 128);
    const THslColor blue = RgbToHsl(0, 0, 255);
    EXPECT_EQ(blue.h, 170);
    const THslColor grey = RgbToHsl(77, 77, 77);
    EXPECT_EQ(grey.s, 0);
    const TRgbColor back = HslToRgb(grey.h, grey.s, grey.l);
    EXPECT_EQ(back.r, 77);
    EXPECT_EQ(back.g, 77);
    EXPECT_EQ(back.b, 77);

    // Every colour survives the round trip within a few steps per channel (the integer scale).
    int worst = 0;
    for (int r = 0; r < 256; r += 5)
        for (int g = 0; g < 256; g += 5)
            for (int b = 0; b < 256; b += 5) {
                const THslColor hsl = RgbToHsl(r, g, b);
                const TRgbColor rgb = HslToRgb(hsl.h, hsl.s, hsl.l);
                worst = std::max({worst, std::abs(rgb.r - r), std::abs(rgb.g - g), std::abs(rgb.b - b)});
            }
    EXPECT_LE(worst, 4);

    auto turn = ReadFilterText("HSL", "Hue=120\n");
    EXPECT_EQ(MapPixel(*turn.filter, 255, 0, 0), 0x01FF01u); // red turned a third: green
    auto grey100 = ReadFilterText("HSL", "Saturation=-100\n");
    const std::uint32_t desaturated = MapPixel(*grey100.filter, 200, 40, 90);
    EXPECT_EQ(desaturated >> 16, desaturated & 0xFF);
    EXPECT_EQ((desaturated >> 8) & 0xFF, desaturated & 0xFF);
    auto white = ReadFilterText("HSL", "Lightness=100\n");
    EXPECT_EQ(MapPixel(*white.filter, 10, 120, 30), 0xFFFFFFu);
    auto clamped = ReadFilterText("HSL", "Hue=-999\n");
    auto opposite = ReadFilterText("HSL", "Hue=-180\n");
    EXPECT_EQ(MapPixel(*clamped.filter, 30, 200, 90), MapPixel(*opposite.filter, 30, 200, 90));
}

TEST(ColorTables, IdentityLayouts) {
    const TColorTable channel = TColorTable::ChannelIdentity(2);
    EXPECT_EQ(channel.Kind(), kFilterChannel);
    EXPECT_EQ(channel.Width(), 256);
    EXPECT_EQ(channel.Pixel(0, 0), 0xFF000000u);
    EXPECT_EQ(channel.Pixel(200, 1), 0xFFC8C8C8u);
    const TColorTable volume = TColorTable::VolumeIdentity();
    EXPECT_EQ(volume.Width(), 32);
    EXPECT_EQ(volume.Rows(), 1024);
    // Row 32 i + j, pixel k: blue L(i), green L(j), red L(k); L(n) = 8 n + n div 4.
    EXPECT_EQ(volume.Pixel(31, 32 * 0 + 0), 0xFFFF0000u);
    EXPECT_EQ(volume.Pixel(0, 32 * 31 + 0), 0xFF000000u | 0xFF);
    EXPECT_EQ(volume.Pixel(5, 32 * 9 + 17), 0xFF000000u | (41u << 16) | (140u << 8) | 74u);
    EXPECT_EQ(TColorTable::FromProfile({1, 2, 3}).Pixels(), volume.Pixels()) << "wrong size: identity";
}

TEST(ColorTables, ChannelTableAppliesToItsFirstRowAndCopiesIt) {
    auto bright = ReadFilterText("BrightContrast", "bright=20\n");
    TColorTable table = TColorTable::ChannelIdentity(4);
    table.ApplyChain(bright.filter.Get());
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(table.Pixel(10, y), 0xFF1E1E1Eu) << y;
}

TEST(ColorTables, ChainKindAndGradingKind) {
    auto invert = ReadFilterText("Invert", "");
    auto hsl = ReadFilterText("HSL", "Disable=1\n");
    invert.filter->SetNext(hsl.filter);
    EXPECT_EQ(ChainKind(invert.filter.Get()), kFilterChannel) << "disabled filters do not count";
    EXPECT_EQ(ChainKind(hsl.filter.Get()), 0);
    EXPECT_EQ(ChainKind(nullptr), 0);
    auto colour = ReadFilterText("Colorization", "");
    EXPECT_EQ(GradingKind(invert.filter.Get(), colour.filter.Get(), false), kFilterVolume);
    EXPECT_EQ(GradingKind(invert.filter.Get(), nullptr, false), kFilterChannel);
    EXPECT_EQ(GradingKind(nullptr, nullptr, false), 0);
    EXPECT_EQ(GradingKind(nullptr, nullptr, true), kFilterVolume);
}

TEST(ColorTables, GradeHolderRebuildsOnlyOnChange) {
    auto bright = ReadFilterText("BrightContrast", "bright=20\nPreset=Sunny\n");
    TObjectFilter& filter = *bright.filter;
    EXPECT_EQ(filter.Caption(), "Brightness / Contrast (Sunny)");
    TColorGradeWrapper holder;
    EXPECT_TRUE(holder.Prepare(&filter, kFilterChannel, nullptr));
    EXPECT_FALSE(holder.Prepare(&filter, kFilterChannel, nullptr));
    EXPECT_EQ(holder.Table().Pixel(10, 0), 0xFF1E1E1Eu);

    // An unchanged value changes nothing; a real change bumps the revision and drops the preset.
    EXPECT_FALSE(filter.SetParamText(0, "20"));
    const std::int64_t revision = filter.Revision();
    EXPECT_TRUE(filter.SetParamText(0, "40"));
    EXPECT_EQ(filter.Revision(), revision + 1);
    EXPECT_EQ(bright.parsed.object->GetInt64("$rev", 0), revision + 1);
    EXPECT_EQ(bright.parsed.object->FindItem("Preset"), nullptr);
    EXPECT_EQ(filter.Caption(), "Brightness / Contrast");
    EXPECT_EQ(filter.GetParamText(0), "40");
    EXPECT_TRUE(holder.Prepare(&filter, kFilterChannel, nullptr));
    EXPECT_EQ(holder.Table().Pixel(10, 0), 0xFF323232u);
    EXPECT_TRUE(holder.Prepare(&filter, kFilterVolume, nullptr)) << "a new kind rebuilds";
    EXPECT_EQ(holder.Table().Kind(), kFilterVolume);
    EXPECT_FALSE(filter.SetParamText(7, "1"));
}

TEST(ColorGroup, KeyframeFiltersAreChainedAndFoundAroundTheTime) {
    auto built = test::BuildNode("object A:Image\nGUID=a\n"
                                 "object k:KeyPoint\nTime=0\n"
                                 "object Invert:Filter\nend\n"
                                 "object NoSuchFilter:Filter\nend\n"
                                 "object Levels:Filter\nMed=50\nend\nend\n"
                                 "object k:KeyPoint\nTime=1000\ngrps=1\nend\n"
                                 "object k:KeyPoint\nTime=2000\n"
                                 "object HSL:Filter\nend\nend\nend\n",
                                 4000);
    TKivObjectProps& node = *built.node;
    EXPECT_TRUE(node.ColorPresent());
    node.Evaluate(500, false);
    TObjectFilter* from = node.ColorFromFilters();
    TObjectFilter* to = node.ColorToFilters();
    ASSERT_NE(from, nullptr);
    ASSERT_NE(to, nullptr);
    EXPECT_NE(dynamic_cast<TInvertColor*>(from), nullptr) << "head = the filter read first";
    ASSERT_NE(from->Next(), nullptr);
    EXPECT_NE(dynamic_cast<TLevelsGenerator*>(from->Next()), nullptr);
    EXPECT_EQ(from->Next()->Next(), nullptr) << "unregistered filters are skipped";
    EXPECT_NE(dynamic_cast<THSLGenerator*>(to), nullptr);
    EXPECT_DOUBLE_EQ(node.ColorFraction(), 0.25) << "the keyframe at 1000 does not set Color";

    // A box cannot carry colour filters.
    auto box =
        test::BuildNode("object B:Box\nGUID=b\nobject k:KeyPoint\nobject Invert:Filter\nend\nend\nend\n");
    EXPECT_FALSE(box.node->ColorPresent());
}

TEST(ColorGroup, RebuildKeepsFiltersThatAcceptTheirObject) {
    auto built = test::BuildNode("object A:Image\nGUID=a\n"
                                 "object k:KeyPoint\nobject Invert:Filter\nid=one\nend\n"
                                 "object Levels:Filter\nid=two\nend\nend\nend\n");
    TObjectFilter* invert = built.node->KeyFrame(0).Filters();
    TObjectFilter* levels = invert->Next();
    TIniObject* key = built.parsed.object->Object(0);
    key->Object(1)->SetText("$rev", "3");
    built.node->Build(*built.parsed.object, MakeDurations(1000, 0, 0));
    EXPECT_EQ(built.node->KeyFrame(0).Filters(), invert);
    ASSERT_NE(built.node->KeyFrame(0).Filters()->Next(), nullptr);
    EXPECT_NE(built.node->KeyFrame(0).Filters()->Next(), levels) << "a new revision makes a new filter";
    EXPECT_EQ(built.node->KeyFrame(0).Filters()->Next()->Revision(), 3);
}

TEST(ColorFilters, RegistryFindsNamesWithoutRegardToCase) {
    EXPECT_TRUE(CreateFilter("colorisation3"));
    EXPECT_TRUE(CreateFilter("HSL"));
    EXPECT_FALSE(CreateFilter("Sepia"));
    EXPECT_FALSE(CreateFilter(""));
    EXPECT_EQ(FilterClasses().size() >= 7, true);
}

TEST(ColorFilters, LongChainsAreFreedWithoutRecursion) {
    TRef<TObjectFilter> head;
    for (int i = 0; i < 200000; ++i) {
        TRef<TObjectFilter> filter = MakeRef<TInvertColor>();
        filter->SetNext(std::move(head));
        head = std::move(filter);
    }
    EXPECT_EQ(ChainKind(head.Get()), kFilterChannel);
    head.Reset();
}

} // namespace
} // namespace kiv

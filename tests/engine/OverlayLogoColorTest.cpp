// The logo's colour grading: a logo carrying a colour profile other than the output's is drawn
// through the 32 × 1024 lookup table of the transform between them; a logo without a profile, or
// with colour management off, is drawn as it is.
#include "engine/OverlayTestSupport.h"
#include "images/ColorProfile.h"
#include "images/PictureMaker.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <fstream>

namespace kiv {
namespace {

using namespace test;

// An RGB profile with sRGB's tone curve whose red and blue primaries trade places: its (r, g, b)
// is sRGB's (b, g, r).
std::vector<std::uint8_t> SwappingProfile() {
    const cmsFloat64Number srgbCurve[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.15, 0.06, 1.0}, {0.30, 0.60, 1.0}, {0.64, 0.33, 1.0}};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::uint8_t> data(size);
    cmsSaveProfileToMem(profile, data.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(curve);
    return data;
}

// (r, g, b) of the picture's profile in sRGB, computed by Little CMS here.
std::array<int, 3> ToSrgb(const std::vector<std::uint8_t>& icc, int r, int g, int b) {
    cmsHPROFILE from = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
    cmsHPROFILE to = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(from, TYPE_RGB_8, to, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    const std::uint8_t in[3] = {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                static_cast<std::uint8_t>(b)};
    std::uint8_t out[3] = {};
    cmsDoTransform(t, in, out, 1);
    cmsDeleteTransform(t);
    cmsCloseProfile(to);
    cmsCloseProfile(from);
    return {out[0], out[1], out[2]};
}

struct TColorModeGuard {
    ~TColorModeGuard() { SetColorManagement(TColorManagement::Active); }
};

class OverlayLogoColor : public OverlayFixture {
protected:
    void SetUp() override {
        OverlayFixture::SetUp();
        icc_ = SwappingProfile();
        // 200 × 100 like the fixture's PNG logo, so that it is halved for its 50-pixel height.
        const TBytes jpeg = EncodeJpeg(*Solid(200, 100, 0xFF4284C6u), 100, icc_);
        std::ofstream(dir_ / "logo.jpg", std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
    }
    // The logo's DrawImage call of one frame.
    TDrawCall DrawnLogo() {
        TRecordingDrawer drawer;
        drawer.Draw(*overlay_);
        for (const TDrawCall& call : drawer.calls)
            if (call.op == "DrawImage") return call;
        ADD_FAILURE() << "the logo was not drawn";
        return {};
    }
    static std::string Keys(const char* file) {
        return std::string("opt_logo=1\nopt_logo_size=10\nopt_logo_pos=5\nopt_logo_fn=") + file + "\n";
    }
    std::vector<std::uint8_t> icc_;
};

TEST_F(OverlayLogoColor, ALogoWithAnotherProfileIsGradedThroughItsTransform) {
    TColorModeGuard guard;
    SetColorManagement(TColorManagement::Active);
    TThirdSlide& overlay = Make(Keys("logo.jpg"));
    ASSERT_EQ(overlay.LogoIndex(), 0);
    const TDrawCall logo = DrawnLogo();
    ASSERT_EQ(logo.picture.gradingMode, 1);
    ASSERT_NE(logo.picture.gradingFrom, nullptr);
    EXPECT_EQ(logo.picture.gradingFrom, logo.picture.gradingTo);
    const TColorTable& table = *logo.picture.gradingFrom;
    ASSERT_EQ(table.Width(), 32);
    ASSERT_EQ(table.Rows(), 1024);
    // Lattice colours are looked up without interpolation: red L(8) = 66, green L(16) = 132,
    // blue L(24) = 198 sit at row 32 × 24 + 16, column 8.
    struct TCase {
        int r, g, b;
    };
    for (const TCase c : {TCase{8, 16, 24}, TCase{31, 0, 0}, TCase{0, 0, 31}, TCase{20, 20, 20}}) {
        const std::array<int, 3> want = ToSrgb(icc_, LatticeValue(c.r), LatticeValue(c.g), LatticeValue(c.b));
        const std::uint32_t got = table.Pixel(c.r, 32 * c.b + c.g);
        EXPECT_NEAR(static_cast<int>((got >> 16) & 255), want[0], 1) << c.r << "," << c.g << "," << c.b;
        EXPECT_NEAR(static_cast<int>((got >> 8) & 255), want[1], 1) << c.r << "," << c.g << "," << c.b;
        EXPECT_NEAR(static_cast<int>(got & 255), want[2], 1) << c.r << "," << c.g << "," << c.b;
    }
    // The profile swaps red and blue: the logo's (66, 132, 198) shows as about (198, 132, 66).
    const std::uint32_t swapped = table.Pixel(8, 32 * 24 + 16);
    EXPECT_NEAR(static_cast<int>((swapped >> 16) & 255), 198, 3);
    EXPECT_NEAR(static_cast<int>(swapped & 255), 66, 3);
    // The picture itself (halved and resampled) keeps its own colours; the table grades them.
    ASSERT_NE(logo.image, nullptr);
    EXPECT_EQ(logo.image->Width(), 100);
}

TEST_F(OverlayLogoColor, NoGradingWithoutAProfileWithColourManagementOffOrForTheSameProfile) {
    TColorModeGuard guard;
    SetColorManagement(TColorManagement::Active);
    Make(Keys("logo.png"));
    EXPECT_EQ(DrawnLogo().picture.gradingMode, 0) << "a PNG logo without a profile";
    EXPECT_EQ(DrawnLogo().picture.gradingFrom, nullptr);

    SetColorManagement(TColorManagement::Off);
    Make(Keys("logo.jpg"));
    EXPECT_EQ(DrawnLogo().picture.gradingMode, 0) << "colour management off";

    // The same profile data on both sides (two objects) needs no table; another one does.
    SetColorManagement(TColorManagement::Active);
    auto a = MakeRef<TColorProfile>("logo.jpg", icc_);
    auto b = MakeRef<TColorProfile>("Display", icc_);
    EXPECT_FALSE(ProfileGradingTable(a.Get(), b.Get()));
    EXPECT_FALSE(ProfileGradingTable(a.Get(), a.Get()));
    EXPECT_FALSE(ProfileGradingTable(nullptr, b.Get()));
    EXPECT_TRUE(ProfileGradingTable(a.Get(), BuiltInProfile("sRGB").Get()));
    // Broken ICC data makes no transform, so the logo is drawn as it is.
    auto broken = MakeRef<TColorProfile>("broken.jpg", std::vector<std::uint8_t>(200, 7));
    EXPECT_FALSE(ProfileGradingTable(broken.Get(), BuiltInProfile("sRGB").Get()));
}

TEST_F(OverlayLogoColor, TheOutputProfileGivenToTheFactoryIsTheTarget) {
    TColorModeGuard guard;
    SetColorManagement(TColorManagement::Active);
    // Output = the logo's own profile (another object, same data): nothing to convert.
    project_ = ParseIni("[Main]\n" + Keys("logo.jpg"));
    TOverlayInputs in;
    in.files = files_;
    in.project = project_.Get();
    in.slideArea = {100, 50, 900, 550};
    in.clientWidth = 1000;
    in.clientHeight = 600;
    in.outputProfile = MakeRef<TColorProfile>("Display", icc_);
    overlay_ = TThirdSlide::Create(std::move(in));
    ASSERT_EQ(overlay_->LogoIndex(), 0);
    EXPECT_EQ(DrawnLogo().picture.gradingMode, 0);
}

} // namespace
} // namespace kiv

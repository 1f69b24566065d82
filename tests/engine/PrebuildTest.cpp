// The prebuilt run of the late-frame figure: with KIV_PREBUILD_SLIDES=1 the engine builds every
// slide and uploads its pictures before its clock starts, holds them while the show is open, and
// plays the same frames as without.
#include "EngineTestSupport.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace kiv {
namespace {

using test::TEngineRig;

// Sets KIV_PREBUILD_SLIDES for the lifetime of the guard (none: unset).
class TPrebuildEnv {
public:
    explicit TPrebuildEnv(std::optional<std::string> value) {
        if (value)
            ::setenv("KIV_PREBUILD_SLIDES", value->c_str(), 1);
        else
            ::unsetenv("KIV_PREBUILD_SLIDES");
    }
    ~TPrebuildEnv() { ::unsetenv("KIV_PREBUILD_SLIDES"); }
};

// The centre colour of every 50th frame (10 ms apart) over the whole show.
std::vector<std::uint32_t> Colors(TEngineRig& rig) {
    std::vector<std::uint32_t> colors;
    for (int k = 0; k < 600; ++k) {
        EXPECT_TRUE(rig.Player().RenderFrame(k)) << "frame " << k;
        if (k % 50 == 0) colors.push_back(rig.CentreColor());
    }
    return colors;
}

TEST(EnginePrebuild, EverySlideIsBuiltBeforeTheClockStartsAndTheFramesStayTheSame) {
    std::vector<std::uint32_t> plain;
    {
        TPrebuildEnv env(std::nullopt);
        TEngineRig rig;
        plain = Colors(rig);
        EXPECT_EQ(rig.Engine().PrebuiltSlides(), 0);
    }
    TPrebuildEnv env{std::string("1")};
    TEngineRig rig;
    ASSERT_TRUE(rig.Player().RenderFrame(0));
    EXPECT_EQ(rig.Engine().PrebuiltSlides(), 3) << "the three slides of the show";
    EXPECT_EQ(rig.firstFrames, 1);
    TEngineRig again; // a fresh engine for the same frames from the start
    EXPECT_EQ(Colors(again), plain);
    EXPECT_EQ(again.Engine().PrebuiltSlides(), 3);
}

TEST(EnginePrebuild, OnlyTheValueOneTurnsItOn) {
    for (const char* value : {"0", "", "yes"}) {
        TPrebuildEnv env{std::string(value)};
        TEngineRig rig;
        ASSERT_TRUE(rig.Player().RenderFrame(0)) << value;
        EXPECT_EQ(rig.Engine().PrebuiltSlides(), 0) << value;
    }
}

} // namespace
} // namespace kiv

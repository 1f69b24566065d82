// kivtool picture: the real binary loads a picture from a package or a project on disk as the
// player does, writes it as PNG and prints its size; missing pictures come out as the placeholder.
#include "PictureMaker.h"
#include "images/PictureLoader.h"
#include "images/Placeholder.h"
#include "support/HermeticFolders.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace kiv {
namespace {

namespace fs = std::filesystem;
using test::TBytes;
using test::TRunResult;

TBytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return TBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const TBytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class KivtoolPicture : public ::testing::Test {
protected:
    void SetUp() override {
        top_ = test::THermeticFolders::Top() / ("kivtool-" + std::to_string(counter_++));
        picture_ = test::MakeGradient(7, 5);
        WriteBytes(top_ / "show/img/Beach.BMP", test::MakeBmp24(*picture_));
        WriteBytes(top_ / "show/Project.kiv", TBytes{'[', 'M', 'a', 'i', 'n', ']'});
    }

    TRunResult Run(const std::vector<std::string>& args) { return test::RunProgram(KIVTOOL_PATH, args, top_); }

    TRef<TBitmap> ReadPng(const fs::path& path) {
        test::TBytesStream stream(ReadBytes(path));
        TRef<TImage> image = DecodePictureByName(stream, "out.png");
        if (!image) return nullptr;
        return image->Store().GetMipLevel(0, TPixelFormat::Bgra32);
    }

    // True when the PNG holds exactly the opaque colours of `expected`.
    bool SameColours(TBitmap& png, TBitmap& expected) {
        if (png.Width() != expected.Width() || png.Height() != expected.Height()) return false;
        for (int y = 0; y < png.Height(); ++y)
            for (int x = 0; x < png.Width(); ++x)
                if (std::memcmp(png.Row(y) + x * 4, expected.Row(y) + x * 4, 3) != 0 ||
                    png.Row(y)[x * 4 + 3] != 255)
                    return false;
        return true;
    }

    fs::path top_;
    TRef<TBitmap> picture_;
    static inline int counter_ = 0;
};

TEST_F(KivtoolPicture, PictureFromAPackageAndFromAProjectOnDisk) {
    const std::string package = (top_ / "show.kvshow").string();
    ASSERT_EQ(Run({"pack", (top_ / "show").string(), "-o", package}).exitCode, 0);

    const fs::path out = top_ / "packaged.png";
    const TRunResult packaged = Run({"picture", package, "IMG\\beach.bmp", "-o", out.string()});
    ASSERT_EQ(packaged.exitCode, 0);
    EXPECT_EQ(packaged.out, "7 5\n");
    EXPECT_EQ(packaged.err, "") << "a picture the show has needs no note";
    TRef<TBitmap> png = ReadPng(out);
    ASSERT_TRUE(png);
    EXPECT_TRUE(SameColours(*png, *picture_));

    const fs::path onDisk = top_ / "disk.png";
    const TRunResult project =
        Run({"picture", (top_ / "show/Project.kiv").string(), "img\\BEACH.bmp", "-o", onDisk.string()});
    ASSERT_EQ(project.exitCode, 0);
    EXPECT_EQ(project.out, "7 5\n");
    EXPECT_TRUE(ReadPng(onDisk) && SameColours(*ReadPng(onDisk), *picture_));
}

TEST_F(KivtoolPicture, LevelIsTheReducedPicture) {
    const fs::path out = top_ / "level.png";
    const TRunResult result = Run({"picture", (top_ / "show/Project.kiv").string(), "img\\Beach.bmp",
                                   "--level", "1", "-o", out.string()});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "4 3\n");
    TRef<TBitmap> reduced = ReduceBitmap(*ConvertBitmap(*picture_, TPixelFormat::Bgr24));
    TRef<TBitmap> png = ReadPng(out);
    ASSERT_TRUE(png);
    EXPECT_TRUE(SameColours(*png, *ConvertBitmap(*reduced, TPixelFormat::Bgra32)));
}

TEST_F(KivtoolPicture, MissingPictureIsWrittenAsThePlaceholder) {
    const fs::path out = top_ / "missing.png";
    const TRunResult result =
        Run({"picture", (top_ / "show/Project.kiv").string(), "C:\\Author\\p.jpg", "-o", out.string()});
    ASSERT_EQ(result.exitCode, 0);
    TRef<TBitmapStore> expected = MakePlaceholderStore("p.jpg", TPlaceholderKind::Image, false);
    EXPECT_EQ(result.out,
              std::to_string(expected->Width()) + " " + std::to_string(expected->Height()) + "\n");
    TRef<TBitmap> png = ReadPng(out);
    ASSERT_TRUE(png);
    EXPECT_TRUE(SameColours(*png, *expected->GetMipLevel(0)));
    EXPECT_NE(result.err.find("\"C:\\Author\\p.jpg\" not found; the placeholder was written"),
              std::string::npos)
        << result.err;

    // A file that is there but does not decode is said so too.
    WriteBytes(top_ / "show/img/broken.bmp", TBytes{'B', 'M', 'x'});
    const TRunResult broken =
        Run({"picture", (top_ / "show/Project.kiv").string(), "img\\broken.bmp", "-o", out.string()});
    ASSERT_EQ(broken.exitCode, 0);
    EXPECT_NE(broken.err.find("does not decode; the placeholder was written"), std::string::npos)
        << broken.err;
}

TEST_F(KivtoolPicture, WrongUsageAndMissingShowsAreRefused) {
    const std::string project = (top_ / "show/Project.kiv").string();
    const std::string out = (top_ / "x.png").string();
    EXPECT_EQ(Run({"picture", project, "a.bmp"}).exitCode, 2) << "no output file";
    EXPECT_EQ(Run({"picture", project, "-o", out}).exitCode, 2) << "no name";
    EXPECT_EQ(Run({"picture", project, "a.bmp", "--level", "x", "-o", out}).exitCode, 2);
    EXPECT_EQ(Run({"picture", project, "a.bmp", "--level", "-1", "-o", out}).exitCode, 2);
    EXPECT_EQ(Run({"picture", (top_ / "none.kvshow").string(), "a.bmp", "-o", out}).exitCode, 1);
    EXPECT_EQ(
        Run({"picture", project, "img\\Beach.bmp", "-o", (top_ / "no/such/dir/x.png").string()}).exitCode, 1);
    EXPECT_FALSE(fs::exists(out));
}

} // namespace
} // namespace kiv

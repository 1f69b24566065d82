#include "viewer/dialogs/PrintDialog.h"
#include "viewer/dialogs/PrintPage.h"
#include "viewer/dialogs/Printer.h"

#include "PictureMaker.h"
#include "images/BmpReader.h"
#include "images/Image.h"
#include "images/PictureLoader.h"
#include "package/PackageBytes.h"
#include "package/RealFileSource.h"
#include "package/TempFolder.h"
#include "viewer/FakeWindow.h"
#include "viewer/HandTimeline.h"
#include "viewer/dialogs/ScriptedRunner.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace kiv {
namespace {

using testing::ClickOn;
using testing::FirstEdit;

constexpr std::uint32_t kRed = 0xFFC04020;
constexpr std::uint32_t kGreen = 0xFF20B040;

TRef<TBitmap> Solid(int width, int height, std::uint32_t argb) {
    auto bitmap = MakeRef<TBitmap>(width, height, TPixelFormat::Bgra32, false);
    bitmap->Fill32(argb);
    return bitmap;
}

std::uint32_t PixelAt(const TBitmap& picture, int x, int y) {
    return reinterpret_cast<const std::uint32_t*>(picture.Row(y))[x];
}

TRef<TBitmap> ReadPicture(const std::string& path) {
    TRef<TStream> stream = ProcessFileAccessor()->Open(path);
    if (!stream) return nullptr;
    TRef<TImage> image = DecodePictureByName(*stream, path);
    return image ? image->Store().GetMipLevel(0, TPixelFormat::Bgra32) : nullptr;
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    test::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
}

std::vector<std::uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(PrintPage, PlacesPicturesOnTheirPageWithTruncatedIntegers) {
    const struct {
        int pageWidth, pageHeight, width, height;
        TShowRect place; // left, top, right, bottom
    } cases[] = {
        // A landscape screen picture on a landscape A4 page at 300 dpi: as wide as the page.
        {3508, 2480, 1920, 1080, {0, 253, 3508, 2226}},
        // A portrait picture whose height-fitted width is too wide: fitted to the width.
        {2480, 3508, 600, 800, {0, 101, 2480, 3407}},
        // A narrow portrait picture: as high as the page, centred across it.
        {2480, 3508, 500, 1000, {363, 0, 2117, 3508}},
        // A square prints portrait and fills the width.
        {2480, 3508, 1000, 1000, {0, 514, 2480, 2994}},
        // 30 000 pixels wide: a strip 11 pixels high.
        {3508, 2480, 30000, 100, {0, 1234, 3508, 1245}},
        // The products need 64 bits: 2^24 × 2480 does not fit in 32.
        {3508, 2480, 16777216, 1, {0, 1240, 3508, 1240}},
    };
    for (const auto& c : cases) {
        const TShowRect place = PlacePrintedPicture(c.pageWidth, c.pageHeight, c.width, c.height);
        EXPECT_EQ(place, c.place) << c.width << "x" << c.height << ": " << place.left << " " << place.top
                                  << " " << place.Width() << " " << place.Height();
    }
    EXPECT_TRUE(PrintsLandscape(1001, 1000));
    EXPECT_FALSE(PrintsLandscape(1000, 1000));
}

class PrintToFile : public ::testing::Test {
protected:
    // Prints to a file and checks the page: its size, and the picture's colour exactly inside the
    // place the layout gives, white paper just outside it.
    void CheckPrinted(const TBitmap& picture, int pageWidth, int pageHeight, std::uint32_t colour) {
        const std::string page = folder.File("page.png");
        std::filesystem::remove(page);
        std::string error;
        ASSERT_TRUE(PrintPicture(picture, page, error)) << error;
        const TRef<TBitmap> printed = ReadPicture(page);
        ASSERT_NE(printed, nullptr);
        ASSERT_EQ(printed->Width(), pageWidth);
        ASSERT_EQ(printed->Height(), pageHeight);
        const TShowRect p = PlacePrintedPicture(pageWidth, pageHeight, picture.Width(), picture.Height());
        const int midX = p.left + p.Width() / 2, midY = p.top + p.Height() / 2;
        for (const auto& [x, y] : {std::pair{p.left, midY},
                                   {p.left + p.Width() - 1, midY},
                                   {midX, p.top},
                                   {midX, p.top + p.Height() - 1}})
            EXPECT_EQ(PixelAt(*printed, x, y), colour) << x << "," << y;
        for (const auto& [x, y] : {std::pair{p.left - 1, midY},
                                   {p.left + p.Width(), midY},
                                   {midX, p.top - 1},
                                   {midX, p.top + p.Height()}})
            if (x >= 0 && y >= 0 && x < pageWidth && y < pageHeight) {
                EXPECT_EQ(PixelAt(*printed, x, y), 0xFFFFFFFFu) << x << "," << y;
            }
    }

    test::TTempFolder folder;
};

TEST_F(PrintToFile, LandscapePortraitAndHugePicturesLandWhereTheLayoutSays) {
    CheckPrinted(*Solid(400, 300, kRed), 3508, 2480, kRed);
    CheckPrinted(*Solid(300, 400, kGreen), 2480, 3508, kGreen);
    CheckPrinted(*Solid(30000, 100, kRed), 3508, 2480, kRed);
    // Transparent pixels show the paper.
    CheckPrinted(*Solid(300, 400, 0x00123456), 2480, 3508, 0xFFFFFFFF);

    std::string error;
    test::WriteFileBytes(folder.File("file"), "x");
    EXPECT_FALSE(PrintPicture(*Solid(4, 4, kRed), folder.File("file") + "/page.png", error));
    EXPECT_NE(error.find(folder.File("file") + "/page.png"), std::string::npos) << error;
}

// A show folder with a JPEG for slide 1, a PNG for slide 2 and no picture for slide 3.
class PrintDialogFlow : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(folder.File("img"));
        WriteBytes(folder.File("img/Beach.JPG"), test::EncodeJpeg(*test::MakeGradient(64, 48), 90));
        test::TPngSpec png;
        png.width = 3;
        png.height = 2;
        png.rows = {{0x20, 0xB0, 0x40, 0x20, 0xB0, 0x40, 0x20, 0xB0, 0x40},
                    {0x20, 0xB0, 0x40, 0x20, 0xB0, 0x40, 0x20, 0xB0, 0x40}};
        WriteBytes(folder.File("pic.png"), test::EncodePng(png));
        project = MakeRef<TIniFile>();
        project->LoadFromText("[Main]\r\nCanRestore=1\r\n[Slide1]\r\npicture=img\\Beach.JPG\r\n"
                              "[Slide2]\r\npicture=pic.png\r\n");
        settings.destination = folder.File("page.png");
        settings.saveFolder = folder.File("out");
        std::filesystem::create_directory(settings.saveFolder);
    }
    // Runs the print dialog for slide index `slide` with `script`, the captured picture red.
    int Run(int slide, testing::TScriptedRunner::TScript script) {
        runner.scripts.push_front(std::move(script));
        auto accessor =
            MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(folder.Path().string()), folder.Path());
        auto callback = MakeRef<TCallBackClass>(accessor, project, slide, Solid(40, 30, kRed));
        auto dialog = MakeRef<TKivPrintDialog>(*project, callback, runner, settings);
        return runner.RunModal(*dialog);
    }
    static testing::TScriptedRunner::TScript Clicks(bool onlyMain, const char* button) {
        return [onlyMain, button](TDialog& d) {
            if (onlyMain) ClickOn(d, "Only Main Image");
            ClickOn(d, button);
        };
    }
    // A save-file dialog script: records the proposal, then types `name` (empty: keeps it).
    testing::TScriptedRunner::TScript SaveAs(std::string name) {
        return [this, name](TDialog& d) {
            EXPECT_EQ(d.Caption(), "Save As");
            proposals.push_back(FirstEdit(d)->Text());
            for (const TRef<TDialogItem>& item : d.Items())
                if (auto* label = dynamic_cast<TDialogStatic*>(item.Get()); label && label->Text()[0] == '*')
                    filters.push_back(label->Text());
            if (!name.empty()) FirstEdit(d)->SetText(settings.saveFolder + "/" + name);
            d.Handle(TDialogInput::Press(TDialogKey::Enter));
        };
    }
    std::string Out(const std::string& name) const { return settings.saveFolder + "/" + name; }

    test::TTempFolder folder;
    TRef<TIniFile> project;
    TPrintSettings settings;
    testing::TScriptedRunner runner;
    std::vector<std::string> proposals;
    std::vector<std::string> filters;
};

TEST_F(PrintDialogFlow, PrintTakesTheMainPictureOnlyWhenAskedAndCloses) {
    const struct {
        int slide;
        bool onlyMain;
        std::uint32_t colour;
        int pageWidth;
    } cases[] = {
        {1, false, kRed, 3508},  // the captured picture, 40 x 30: landscape
        {1, true, kGreen, 3508}, // the PNG, 3 x 2
        {2, true, kRed, 3508},   // no main picture: the captured one
        {-1, true, kRed, 3508},  // no slide known
    };
    for (const auto& c : cases) {
        std::filesystem::remove(settings.destination);
        EXPECT_EQ(Run(c.slide, Clicks(c.onlyMain, "Print")), kPrintCommandPrint);
        const TRef<TBitmap> page = ReadPicture(settings.destination);
        ASSERT_NE(page, nullptr) << c.slide;
        EXPECT_EQ(page->Width(), c.pageWidth);
        EXPECT_EQ(PixelAt(*page, page->Width() / 2, page->Height() / 2), c.colour) << c.slide << c.onlyMain;
    }
    EXPECT_TRUE(runner.messages.empty());
}

TEST_F(PrintDialogFlow, SaveWritesJpegBytesUnchangedOtherPicturesAsBitmaps) {
    // Main picture, a JPEG: its bytes, under its own name and extension.
    runner.scripts.push_back(SaveAs(""));
    EXPECT_EQ(Run(0, Clicks(true, "Save")), kPrintCommandSave);
    EXPECT_EQ(FileBytes(Out("Beach.JPG")), FileBytes(folder.File("img/Beach.JPG")));
    // Main picture, a PNG: decoded and written as a bitmap under a ".bmp" name.
    runner.scripts.push_back(SaveAs(""));
    EXPECT_EQ(Run(1, Clicks(true, "Save")), kPrintCommandSave);
    // The captured picture (check box off): "Slide" + number + ".bmp"; a name typed without an
    // extension gets ".bmp".
    runner.scripts.push_back(SaveAs(""));
    Run(1, Clicks(false, "Save"));
    runner.scripts.push_back(SaveAs("shot"));
    Run(2, Clicks(false, "Save"));
    EXPECT_EQ(proposals, (std::vector<std::string>{Out("Beach.JPG"), Out("pic.bmp"), Out("Slide2.bmp"),
                                                   Out("Slide3.bmp")}));
    EXPECT_EQ(filters, (std::vector<std::string>{"*.JPG", "*.bmp", "*.bmp", "*.bmp"}));
    const std::pair<const char*, std::uint32_t> saved[] = {
        {"pic.bmp", kGreen}, {"Slide2.bmp", kRed}, {"shot.bmp", kRed}};
    for (const auto& [name, colour] : saved) {
        const std::vector<std::uint8_t> bytes = FileBytes(Out(name));
        ASSERT_GT(bytes.size(), 54u) << name;
        const TRef<TBitmap> back = DecodeBmp(bytes.data(), bytes.size());
        const TRef<TBitmap> bgra = ConvertBitmap(*back, TPixelFormat::Bgra32);
        EXPECT_EQ(PixelAt(*bgra, 0, 0), colour) << name;
        EXPECT_EQ(PixelAt(*bgra, bgra->Width() - 1, bgra->Height() - 1), colour) << name;
    }
    EXPECT_TRUE(runner.messages.empty());
}

TEST_F(PrintDialogFlow, CancelOverwriteAndUnwritableFoldersAreHandled) {
    // Cancelling the save of the main picture keeps the print dialog open; of the captured one, closes it.
    int closedAfterCancel = 0;
    runner.scripts.push_back(testing::Press(TDialogKey::Escape));
    Run(0, [&](TDialog& d) {
        Clicks(true, "Save")(d);
        EXPECT_FALSE(d.Ended());
        d.Handle(TDialogInput::Press(TDialogKey::Escape));
    });
    runner.scripts.push_back(testing::Press(TDialogKey::Escape));
    Run(0, [&](TDialog& d) {
        Clicks(false, "Save")(d);
        closedAfterCancel += d.Ended();
    });
    EXPECT_EQ(closedAfterCancel, 1);

    // An existing file: No goes back to the name, Yes replaces the file.
    test::WriteFileBytes(Out("Slide1.bmp"), "old");
    runner.scripts.push_back(SaveAs(""));
    runner.scripts.push_back([](TDialog& d) { ClickOn(d, "No"); });
    runner.scripts.push_back(testing::Press(TDialogKey::Escape));
    Run(0, Clicks(false, "Save"));
    EXPECT_EQ(FileBytes(Out("Slide1.bmp")).size(), 3u);
    runner.scripts.push_back(SaveAs(""));
    runner.scripts.push_back([](TDialog& d) { ClickOn(d, "Yes"); });
    Run(0, Clicks(false, "Save"));
    EXPECT_EQ(FileBytes(Out("Slide1.bmp")).size(), 54u + 40 * 3 * 30);
    EXPECT_EQ(std::vector<std::string>(runner.captions.end() - 7, runner.captions.end()),
              (std::vector<std::string>{"Print", "Save As", "Confirm Save As", "Save As", "Print", "Save As",
                                        "Confirm Save As"}));

    // A folder that cannot be written: a message, the dialog closes.
    test::WriteFileBytes(folder.File("blocker"), "x");
    runner.scripts.push_back([&](TDialog& d) {
        FirstEdit(d)->SetText(folder.File("blocker") + "/Slide1.bmp");
        d.Handle(TDialogInput::Press(TDialogKey::Enter));
    });
    EXPECT_EQ(Run(0, Clicks(true, "Save")), kPrintCommandSave);
    ASSERT_EQ(runner.messages.size(), 1u);
    EXPECT_EQ(runner.messages[0].rfind(
                  "The picture cannot be saved:\r\"" + folder.File("blocker") + "/Slide1.bmp\"", 0),
              0u)
        << runner.messages[0];
}

TEST_F(PrintDialogFlow, WithoutAPrintServiceTheDialogSaysSoAndTheShowGoesOn) {
    cupsSetServer("/nonexistent/kivviewer-test/cups.sock");
    std::string error;
    EXPECT_TRUE(PrintDestinations(error).empty());
    EXPECT_NE(error.find("CUPS"), std::string::npos) << error;

    settings.destination.clear();
    const int result = Run(1, [](TDialog& d) {
        ClickOn(d, "Change Printer");
        EXPECT_FALSE(d.Ended()) << "Change Printer keeps the dialog open";
        ClickOn(d, "Print");
    });
    EXPECT_EQ(result, kPrintCommandPrint);
    ASSERT_EQ(runner.messages.size(), 2u);
    for (const std::string& message : runner.messages)
        EXPECT_NE(message.find("CUPS"), std::string::npos) << message;
    EXPECT_EQ(runner.captions, std::vector<std::string>{"Print"}) << "no list of printers without printers";
    cupsSetServer(nullptr);
}

TEST_F(PrintDialogFlow, TheShowPausesForTheDialogAndTheSlideIsTakenModuloTheCount) {
    testing::TFakeWindow window;
    window.project = project;
    testing::THandTimeline times({4000, 8000, 12000}, {0, 0, 0}, true);
    window.times = &times;
    // 30 s into a 12 s show that repeats: the slide at 6 s, index 1.
    window.time = 30000;
    for (const bool paused : {false, true}) {
        window.paused = paused;
        runner.scripts.push_back([&](TDialog& d) {
            EXPECT_TRUE(window.paused) << "paused while the dialog is up";
            Clicks(false, "Save")(d);
        });
        runner.scripts.push_back([&](TDialog& d) {
            proposals.push_back(FirstEdit(d)->Text());
            d.Handle(TDialogInput::Press(TDialogKey::Escape));
        });
        auto accessor =
            MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(folder.Path().string()), folder.Path());
        PrintCapturedPicture(window, runner, settings, accessor, project, Solid(8, 8, kRed));
        EXPECT_EQ(window.paused, paused) << "the former pause state comes back";
    }
    EXPECT_EQ(proposals, (std::vector<std::string>{Out("Slide2.bmp"), Out("Slide2.bmp")}));
    EXPECT_EQ(runner.captions, (std::vector<std::string>{"Print", "Save As", "Print", "Save As"}));
}

} // namespace
} // namespace kiv

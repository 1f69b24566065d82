// The navigation bar: compositing arithmetic, skin lists, the layout of cells and buttons, drawing
// into the canvas, mouse states and clicks, Play pictures, grey variants, colour shift, and skins
// that are broken or miss pictures.
#include "engine/NavBar.h"

#include "engine/NavSkinSupport.h"
#include "support/IniText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

using namespace test;

class NavBarTest : public testing::Test {
protected:
    void SetUp() override { pictures_ = SkinPictures(); }

    // A bar over `text` with the pictures of the support header, buttons home, pause, exit.
    void Load(const std::string& text = SkinText(), std::vector<int> selection = {0, 1, 2}) {
        bar_.SetPictureLoader([this](const std::string& name) {
            loads_.push_back(name);
            auto found = pictures_.find(name.substr(folder_.size()));
            return found == pictures_.end() ? TRef<TBitmap>() : found->second;
        });
        bar_.SetOnClick([this](TNavBar&, int button) { clicks_.push_back(button); });
        bar_.SetOnInvalidate([this](TNavBar&, const TNavRect& rect) { invalidated_.push_back(rect); });
        bar_.SetIsPlaying([this](int) { return playing_; });
        bar_.LoadSkin(ParseIni(text), folder_);
        bar_.SetButtons(std::move(selection));
    }
    std::uint32_t At(int x, int y) const { return PixelAt(*bar_.Canvas(), x, y); }
    // Centre of button b in canvas pixels.
    int Cx(int b) const { return (bar_.ButtonRect(b).left + bar_.ButtonRect(b).right) / 2; }
    int Cy(int b) const { return (bar_.ButtonRect(b).top + bar_.ButtonRect(b).bottom) / 2; }
    void Move(int x, int y, int modifiers = 0) { bar_.MouseEvent(0, modifiers, 0, x, y); }
    void Press(int x, int y) { bar_.MouseEvent(1, 16, 1, x, y); }
    void Release(int x, int y) { bar_.MouseEvent(1, 0, 2, x, y); }

    std::map<std::string, TRef<TBitmap>> pictures_;
    std::string folder_ = "skins\\";
    TNavBar bar_;
    std::vector<std::string> loads_;
    std::vector<int> clicks_;
    std::vector<TNavRect> invalidated_;
    bool playing_ = true;
};

TEST(NavCompositing, FollowsTheTablesAndTheRaisedFactor) {
    EXPECT_EQ(CompositeFactor(255), 4113); // round(2^20 / 255) = 4112, raised
    EXPECT_EQ(CompositeFactor(128), 8192);
    EXPECT_EQ(CompositeFactor(228), 4599);

    // Half-transparent white over opaque white stays 255 only because 4112 becomes 4113.
    std::uint8_t dest[4] = {255, 255, 255, 255};
    const std::uint8_t half[4] = {255, 255, 255, 128};
    CompositePixel(dest, half);
    EXPECT_EQ(dest[0], 255);
    EXPECT_EQ(dest[3], 255);

    // Sa 128 over Da 200: A = 255 − 127·55/255 = 228, W = 200·127/255 = 99, R = 4599.
    std::uint8_t d[4] = {30, 20, 10, 200}; // B, G, R, A
    const std::uint8_t s[4] = {50, 100, 200, 128};
    CompositePixel(d, s);
    EXPECT_EQ(d[2], 116); // (99·10 + 128·200)·4599 >> 20
    EXPECT_EQ(d[1], 64);
    EXPECT_EQ(d[0], 41);
    EXPECT_EQ(d[3], 228);

    // Transparent sources are skipped; opaque ones and empty destinations are copied.
    std::uint8_t keep[4] = {1, 2, 3, 4};
    const std::uint8_t none[4] = {9, 9, 9, 0};
    CompositePixel(keep, none);
    EXPECT_EQ(keep[0], 1);
    EXPECT_EQ(keep[3], 4);
    std::uint8_t empty[4] = {7, 7, 7, 0};
    const std::uint8_t faint[4] = {10, 20, 30, 5};
    CompositePixel(empty, faint);
    EXPECT_EQ(empty[0], 10);
    EXPECT_EQ(empty[3], 5);
}

TEST(NavSkinList, SplitsOutsideQuotesAndTrims) {
    EXPECT_EQ(SplitSkinList(" 1, 2 ,3 "), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(SplitSkinList("\"a,b\", c"), (std::vector<std::string>{"\"a,b\"", "c"}));
    EXPECT_TRUE(SplitSkinList("").empty());
    EXPECT_EQ(SplitSkinList("5,"), (std::vector<std::string>{"5", ""}));
}

TEST(NavBarAction, WordsMapCaseInsensitively) {
    EXPECT_EQ(TNavBar::ActionType("home"), 1);
    EXPECT_EQ(TNavBar::ActionType("BACKWARD"), 2);
    EXPECT_EQ(TNavBar::ActionType("Exit"), 7);
    EXPECT_EQ(TNavBar::ActionType("next"), 0);
}

TEST_F(NavBarTest, LaysOutCellsAndButtonsFromTheSkin) {
    Load();
    EXPECT_EQ(bar_.AvailableActions(), (std::vector<std::string>{"home", "pause", "exit"}));
    EXPECT_FLOAT_EQ(bar_.RecommendedScale(), 6.5f);
    EXPECT_EQ(bar_.TotalWidth(), 80);
    EXPECT_EQ(bar_.TotalHeight(), 20);
    EXPECT_EQ(bar_.CellRect(1, 1), (TNavRect{0, 0, 10, 20}));
    EXPECT_EQ(bar_.CellRect(2, 1), (TNavRect{10, 0, 70, 20}));
    EXPECT_EQ(bar_.CellRect(3, 1), (TNavRect{70, 0, 80, 20}));
    ASSERT_EQ(bar_.ButtonCount(), 3);
    EXPECT_EQ(bar_.ButtonRect(0), (TNavRect{13, 2, 29, 18}));
    EXPECT_EQ(bar_.ButtonRect(1), (TNavRect{31, 2, 47, 18}));
    EXPECT_EQ(bar_.ButtonRect(2), (TNavRect{49, 2, 65, 18}));
    EXPECT_EQ(bar_.ButtonActionType(2), kNavActionExit);
    EXPECT_EQ(bar_.ButtonAction(0), "do-home");
    // Pictures are asked for with the skin folder in front, once per file.
    EXPECT_EQ(std::count(loads_.begin(), loads_.end(), "skins\\bar.png"), 1);
    EXPECT_EQ(std::count(loads_.begin(), loads_.end(), "skins\\faces.png"), 1);
}

TEST_F(NavBarTest, DrawsCellsBackgroundsAndCentredFaces) {
    Load();
    ASSERT_NE(bar_.Canvas(), nullptr);
    EXPECT_EQ(bar_.Canvas()->Width(), 80);
    EXPECT_EQ(At(5, 10), kRed);
    EXPECT_EQ(At(11, 0), kGreen); // the middle cell is tiled across its 60 pixels
    EXPECT_EQ(At(68, 19), kGreen);
    EXPECT_EQ(At(75, 10), kBlue);
    EXPECT_EQ(At(13, 2), kBlack); // background of button 0
    EXPECT_EQ(At(17, 6), kWhite); // face: 13 + (16 − 8) / 2, 2 + 4
    EXPECT_EQ(At(24, 13), kWhite);
    EXPECT_EQ(At(25, 14), kBlack);
    EXPECT_EQ(At(12, 10), kGreen); // between offset and button
    // The first redraw covers the whole canvas.
    ASSERT_FALSE(invalidated_.empty());
    EXPECT_EQ(invalidated_.front(), (TNavRect{0, 0, 80, 20}));
}

TEST_F(NavBarTest, HoverPressAndClickFollowTheMouse) {
    Load();
    invalidated_.clear();
    Move(Cx(0), Cy(0));
    EXPECT_EQ(bar_.ButtonState(0), kNavHover);
    EXPECT_EQ(At(20, 10), kYellow);
    ASSERT_EQ(invalidated_.size(), 1u);
    EXPECT_EQ(invalidated_.back(), bar_.ButtonRect(0)); // only the changed button is redrawn

    Press(Cx(1), Cy(1));
    EXPECT_EQ(bar_.ButtonState(1), kNavPressed);
    EXPECT_EQ(bar_.ButtonState(0), kNavNormal);
    EXPECT_EQ(bar_.PressedIndex(), 1);
    // Pressed faces move by ShiftPressed; the redrawn area grows by it on the right and bottom.
    EXPECT_EQ(At(35 + 1, 6 + 1), kCyan);
    EXPECT_EQ(invalidated_.back(), (TNavRect{13, 2, 48, 19}));

    Release(Cx(1), Cy(1));
    EXPECT_EQ(clicks_, std::vector<int>{1});
    EXPECT_EQ(bar_.ButtonState(1), kNavHover);
    EXPECT_FALSE(bar_.Capturing());
}

TEST_F(NavBarTest, MovingOffAPressedButtonCancelsAndComingBackRestores) {
    Load();
    Press(Cx(0), Cy(0));
    Move(Cx(2), Cy(2), 16);
    EXPECT_EQ(bar_.ButtonState(0), kNavNormal);
    EXPECT_EQ(bar_.ButtonState(2), kNavNormal); // not the pressed one
    Release(Cx(2), Cy(2));
    EXPECT_TRUE(clicks_.empty());

    Press(Cx(0), Cy(0));
    Move(200, 10, 16); // off the bar while capturing
    EXPECT_EQ(bar_.ButtonState(0), kNavNormal);
    Move(Cx(0), Cy(0), 16);
    EXPECT_EQ(bar_.ButtonState(0), kNavPressed);
    Release(Cx(0), Cy(0));
    EXPECT_EQ(clicks_, std::vector<int>{0});
}

TEST_F(NavBarTest, MovesWithTheButtonHeldFromOutsideDoNotHover) {
    Load();
    Move(Cx(0), Cy(0), 16);
    EXPECT_EQ(bar_.ButtonState(0), kNavNormal);
    EXPECT_FALSE(bar_.Hovering());
    Move(Cx(0), Cy(0));
    EXPECT_EQ(bar_.ButtonState(0), kNavHover);
    Move(-5, -5);
    EXPECT_EQ(bar_.ButtonState(0), kNavNormal);
    EXPECT_FALSE(bar_.Hovering());
}

TEST_F(NavBarTest, AReleaseOutsideEndsAPressThatSawNoMove) {
    Load();
    Press(Cx(0), Cy(0));
    Release(500, 500);
    EXPECT_FALSE(bar_.Capturing());
    EXPECT_EQ(bar_.PressedIndex(), -1);
    // A later move over the button hovers it instead of showing it pressed.
    Move(Cx(0), Cy(0));
    EXPECT_EQ(bar_.ButtonState(0), kNavHover);
    EXPECT_TRUE(clicks_.empty());
}

TEST_F(NavBarTest, ADisabledButtonIgnoresTheMouse) {
    Load();
    bar_.SetButtonDisabled(2, true);
    EXPECT_EQ(At(Cx(2), Cy(2)), kGrey);
    Move(Cx(2), Cy(2));
    Press(Cx(2), Cy(2));
    EXPECT_EQ(bar_.ButtonState(2), kNavDisabled);
    Release(Cx(2), Cy(2));
    EXPECT_TRUE(clicks_.empty());
    bar_.ResetHover();
    EXPECT_EQ(bar_.ButtonState(2), kNavDisabled);
}

TEST_F(NavBarTest, UnknownMouseKindsAreAProgrammingError) {
    Load();
    EXPECT_THROW(bar_.MouseEvent(1, 0, 3, 0, 0), EAssertionFailed);
}

TEST_F(NavBarTest, PlayPicturesShowWhileNotPlaying) {
    Load();
    bar_.RefreshPlayState();
    EXPECT_EQ(At(Cx(1), Cy(1)), kWhite);
    playing_ = false;
    invalidated_.clear();
    bar_.RefreshPlayState();
    EXPECT_EQ(At(Cx(1), Cy(1)), kMagenta);
    EXPECT_EQ(At(Cx(0), Cy(0)), kWhite); // buttons without Play pictures are unchanged
    ASSERT_EQ(invalidated_.size(), 1u);
    EXPECT_EQ(invalidated_.front(), bar_.ButtonRect(1));
    invalidated_.clear();
    bar_.RefreshPlayState(); // no change, no redraw
    EXPECT_TRUE(invalidated_.empty());
}

TEST_F(NavBarTest, ASkinWithoutButtonsIsCellsOnly) {
    Load(SkinText("[Objects]\nCount=0\n"));
    EXPECT_EQ(bar_.ButtonCount(), 0);
    EXPECT_EQ(bar_.CellRect(2, 1), (TNavRect{10, 0, 18, 4})); // 3 + 5 wide, 2 + 2 high
    EXPECT_EQ(bar_.CellRect(1, 1), (TNavRect{0, 0, 10, 20})); // the others keep their bounds
    EXPECT_EQ(bar_.CellRect(3, 1), (TNavRect{18, 0, 28, 20}));
    EXPECT_EQ(bar_.TotalWidth(), 28);
    EXPECT_EQ(bar_.TotalHeight(), 20);
}

TEST_F(NavBarTest, TheCountIsCutToTheSelection) {
    Load(SkinText("[Objects]\nCount=9\n"), {2, 0});
    ASSERT_EQ(bar_.ButtonCount(), 2);
    EXPECT_EQ(bar_.ButtonName(0), "exit");
    EXPECT_EQ(bar_.ButtonName(1), "home");
}

TEST_F(NavBarTest, MissingStateKeysReuseTheNormalOnes) {
    // "home" without hover bounds and file: its hover face is the normal (white) one.
    std::string text = SkinText();
    const std::string hover = "BtnTextureHoverBounds=8,0,8,8\n";
    text.erase(text.find(hover), hover.size());
    Load(text);
    Move(Cx(0), Cy(0));
    EXPECT_EQ(bar_.ButtonState(0), kNavHover);
    EXPECT_EQ(At(Cx(0), Cy(0)), kWhite);
}

TEST_F(NavBarTest, MissingPicturesLeaveTheirPlacesEmpty) {
    pictures_.erase("bar.png");
    pictures_.erase("faces.png");
    Load();
    EXPECT_EQ(bar_.TotalWidth(), 80);
    EXPECT_EQ(At(5, 10), 0u);            // no cell picture: transparent
    EXPECT_EQ(At(Cx(0), Cy(0)), kBlack); // the background still draws
    Move(Cx(0), Cy(0));
    EXPECT_EQ(bar_.ButtonState(0), kNavHover); // the bar still works
}

TEST_F(NavBarTest, GreyVariantsAreCutPerBoundsWithoutMixingUp) {
    // Two buttons grey the same file at bounds (1,23,…) and (12,3,…): numbers written without a
    // separator would give both the key "12345".
    auto sheet = MakeRef<TBitmap>(40, 40, TPixelFormat::Bgra32);
    FillRect(*sheet, 1, 23, 5, 28, 0xFF3060F0u); // grey (0x30 + 0x60 + 0xF0) / 3 = 0x80
    FillRect(*sheet, 12, 3, 16, 8, 0xFFF0F0F0u); // grey 0xF0
    pictures_["sheet.png"] = sheet;
    std::string text = SkinText();
    auto replace = [&text](const std::string& section, const std::string& bounds) {
        const std::size_t at = text.find("[ACTION-" + section + "]");
        const std::size_t key = text.find("BtnTextureNormalBounds=0,0,8,8", at);
        text.replace(key, 30, "BtnTextureNormalBounds=" + bounds);
        const std::size_t file = text.find("flnm_BtnTextureNormal=faces.png", at);
        text.replace(file, 31, "flnm_BtnTextureNormal=sheet.png");
    };
    replace("home", "1,23,4,5");
    replace("exit", "12,3,4,5");
    text.replace(text.find("[Object1]\n"), 10, "[Object1]\nGrayNormal=1\n");
    text.replace(text.find("[Object3]\n"), 10, "[Object3]\nGrayNormal=1\n");
    Load(text);
    EXPECT_EQ(At(Cx(0), Cy(0)), 0xFF808080u);
    EXPECT_EQ(At(Cx(2), Cy(2)), 0xFFF0F0F0u);
}

TEST_F(NavBarTest, DisabledVariantsAreGreyAndQuarterAlpha) {
    std::string text = SkinText();
    text.replace(text.find("[Object1]\n"), 10, "[Object1]\nGrayDisabled=1\n");
    pictures_["bg.png"] = Solid(16, 16, 0x00000000u); // no background: the face alone shows
    pictures_["bar.png"] = Solid(30, 20, 0x00000000u);
    Load(text);
    bar_.SetButtonDisabled(0, true);
    const std::uint32_t pixel = At(Cx(0), Cy(0));
    EXPECT_EQ(pixel >> 24, 63u); // the face alpha 255 >> 2, composited on nothing
    EXPECT_EQ(pixel & 0xFFFFFFu, 0x808080u);
}

TEST_F(NavBarTest, TheColourShiftRunsOnlyWhenSet) {
    Load();
    EXPECT_EQ(At(5, 10), kRed);
    TNavBar shifted;
    shifted.SetPictureLoader([this](const std::string& name) { return pictures_[name]; });
    shifted.SetColorShift(120);
    shifted.LoadSkin(ParseIni(SkinText()), {});
    shifted.SetButtons({0, 1, 2});
    // A third of the hue circle turns red towards green.
    const std::uint32_t red = PixelAt(*shifted.Canvas(), 5, 10);
    EXPECT_LT((red >> 16) & 0xFF, 40u);
    EXPECT_GT((red >> 8) & 0xFF, 200u);
    EXPECT_EQ(red >> 24, 0xFFu);
}

TEST_F(NavBarTest, BrokenSkinsRaiseWithTheReason) {
    auto message = [this](const std::string& text) {
        TNavBar bar;
        bar.SetPictureLoader([this](const std::string& name) { return pictures_[name]; });
        try {
            bar.LoadSkin(ParseIni(text), {});
            bar.SetButtons({0, 1, 2});
        } catch (const ENavSkinError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    std::string text = SkinText();
    text.replace(text.find("Bounds=10,0,10,20"), 17, "Bounds=10,0,10");
    EXPECT_EQ(message(text), "Incorrect number of parameters in field \"Bounds\" in [Cell(2:1)]");

    text = SkinText();
    text.replace(text.find("Cell=2, 1"), 9, "Cell=2");
    EXPECT_EQ(message(text), "Incorrect number of parameters in field \"Cell\"");

    text = SkinText();
    text.replace(text.find("BgTextureNormalBounds=0,0,16,16"), 31, "BgTextureNormalBounds=0,16");
    EXPECT_EQ(message(text),
              "Bounds should contains 4 values. For example: BtnTextureNormalBounds=0,0,20,20. "
              "But KIV found only 2 values.");

    text = SkinText();
    text.replace(text.find("Cell=2, 1"), 9, "Cell=4,1");
    EXPECT_NE(message(text).find("outside"), std::string::npos);

    // A canvas of gigabytes is refused before anything is allocated; huge numbers cannot overflow.
    text = SkinText();
    text.replace(text.find("Bounds=0,0,10,20"), 16, "Bounds=0,0,10,60000");
    EXPECT_NE(message(text).find("at most 8192"), std::string::npos);
    text = SkinText();
    text.replace(text.find("RightOffset=5"), 13, "RightOffset=2147483647");
    text.replace(text.find("[Object1]\nSpace=2"), 17, "[Object1]\nSpace=2147483647");
    EXPECT_NE(message(text).find("at most 8192"), std::string::npos);

    text = SkinText();
    text.erase(text.find("[Cell(3:1)]"), std::string("[Cell(3:1)]").size());
    EXPECT_EQ(message(text), "Incorrect number of parameters in field \"Bounds\" in [Cell(3:1)]");
}

TEST_F(NavBarTest, BoundsAreLeftTopWidthHeight) {
    // "0,0,16,16" is 16 × 16, not 17 × 17: the next button starts 16 + space further.
    Load();
    EXPECT_EQ(bar_.ButtonRect(0).Width(), 16);
    EXPECT_EQ(bar_.ButtonRect(1).left - bar_.ButtonRect(0).left, 18);
}

} // namespace
} // namespace kiv

// TKivButton: a button object (type 7 "Button") — an image object whose picture is a face built
// from the nine pieces of a theme (btn.ini in the theme's folder under the show's PathToButtons),
// one face per pointer state (normal, hover, click), with a text object as its caption (its first
// child). The face keeps the theme's height and grows only in width to hold the caption: corners and
// sides keep their pixels, the top, bottom and centre repeat one column. A theme that is missing
// falls back to "aqua"; without that the button has no face.
#pragma once

#include "objects/KivImage.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kiv {

class TKivText;

enum TButtonPieceIndex : int {
    kPieceLeftTop = 0,
    kPieceTop,
    kPieceRightTop,
    kPieceRight,
    kPieceRightBottom,
    kPieceBottom,
    kPieceLeftBottom,
    kPieceLeft,
    kPieceCenter,
    kPieceCount
};

struct TButtonPiece {
    std::string file; // relative to the theme folder
    int left = 0;
    int top = 0;
    int right = 0; // exclusive
    int bottom = 0;
    int Width() const noexcept { return right - left; }
    int Height() const noexcept { return bottom - top; }
};

struct TButtonTheme {
    std::array<std::array<TButtonPiece, kPieceCount>, 3> pieces; // per state: normal, hover, click
    int width0 = 0;                                              // right edge of the normal Right piece
    int height = 0;                                              // bottom edge of the normal Bottom piece
    std::uint32_t color = 0xFF000000u;
    double btnOffset = 0.0;
    double btnMinWidth = 0.0;
    int filtering = 2; // Nearest 0, Bilinear 1, Default 2
};

// Reads a btn.ini document; false when it has no NormalState section.
bool ParseButtonTheme(std::string_view text, TButtonTheme& theme);

// The face of `state` and `width` made from the theme's pieces; `piece` gives the picture of a
// piece's file (null when missing). A piece whose picture is missing or not width0 × height gives a
// null face and its file name in `badPiece`.
TRef<TBitmap> BuildButtonFace(const TButtonTheme& theme, int state, int width,
                              const std::function<TRef<TBitmap>(const std::string&)>& piece,
                              std::string& badPiece);
// Shifts every pixel's hue (degrees), saturation and lightness (percent) on the 0-255 HSL scale.
void TintButtonFace(TBitmap& face, int hue, int saturation, int lightness);
// W = max(H, round(H × minWidth ÷ 100), round((H − round(m × H ÷ 100)) × aspect + H × offsetX ÷ 100)).
int ButtonFaceWidth(int height, double minWidth, double offsetX, double m, double aspect);

class TKivButton : public TKivImage {
public:
    explicit TKivButton(TKivObject* parent);

    const std::string& Theme() const noexcept { return themeName_; }
    const TButtonTheme& LoadedTheme() const noexcept { return theme_; }
    bool HasTheme() const noexcept { return themeLoaded_; }
    int FaceWidth() const noexcept { return faceWidth_; }
    double BtnOpacity() const noexcept { return btnOpacity_; }
    TImage* Face(int state) const { return faces_[static_cast<std::size_t>(state)].Get(); }
    TKivText* Caption() const;

    // TKivImage
    void LoadPicture() override;
    float ContentOpacity() const override;
    // TKivObject
    TVec2 ContentSize() const override;
    void Layout(bool recursive) override;
    void PreloadBegin(TDeviceDrawer& drawer) override;
    void ReleaseDevice(TDeviceDrawer& drawer) override;

protected:
    ~TKivButton() override;
    void SetDefaults() override;
    void ReadKeys(const TIniObject& object) override;
    bool IsKnownKey(std::string_view key) const override;
    double FitFactor(TVec2 s, TVec2 p) const override;
    void Produce(TDeviceDrawer& drawer) override;

private:
    bool LoadTheme(const std::string& name);
    TRef<TImage> MakeFace(int state);
    int StateNow() const;
    // Makes the face of the current pointer state the picture drawn.
    void SelectFace();

    std::string themeName_;
    std::string themeFolder_;
    TButtonTheme theme_;
    bool themeLoaded_ = false;
    double btnOpacity_ = 100.0;
    double txtOpacity_ = 100.0;
    int hue_ = 0;
    int saturation_ = 0;
    int lightness_ = 0;
    double btnMinWidth_ = 0.0;
    double btnOffsetX_ = 100.0;
    int faceWidth_ = 0;
    std::array<TRef<TImage>, 3> faces_;
    int facesWidth_ = -1;
};

} // namespace kiv

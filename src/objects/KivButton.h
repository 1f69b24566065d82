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
#include <map>
#include <mutex>
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

// The parameters a button face's picture name carries: "Button: " + theme + ":" + state + ":" +
// width + ":" + hue + ":" + saturation + ":" + lightness. Equal faces share one picture.
struct TButtonFaceKey {
    std::string theme;
    int state = 0;
    int width = 0;
    int hue = 0;
    int saturation = 0;
    int lightness = 0;
};
std::string ButtonFaceName(const TButtonFaceKey& key);
// False when `name` is not a well-formed face name (the theme may hold ":").
bool ParseButtonFaceName(std::string_view name, TButtonFaceKey& key);

// The theme of one name, shared by every button that takes it (the slide host holds one per
// name), and the maker of its faces.
//
// Threads: any; one lock guards the theme.
class TButtonProducer final : public TRefObject {
public:
    explicit TButtonProducer(std::string name) : name_(std::move(name)) {}

    const std::string& Name() const noexcept { return name_; }
    // Reads the theme file again: btn.ini in the theme's folder under `host`'s ButtonsPath, the
    // theme "aqua" when that is missing (with a log line); false, without theme, when both are.
    bool Load(TKivObjectHost& host);
    // The theme and its folder (ending in a backslash) as last loaded.
    bool Loaded() const;
    TButtonTheme Theme() const;
    std::string Folder() const;
    // The face `key` asks for, its pieces loaded by `load` (names relative to the show; each
    // picture once while the theme file stays the same), tinted; a
    // text picture reading "Incorrect Image: " + the file when a piece is missing or mis-sized;
    // null without a theme.
    TRef<TBitmap> MakeFace(const TButtonFaceKey& key,
                           const std::function<TRef<TImage>(const std::string&)>& load);
    // Faces made so far (for tests and measurements).
    int FacesMade() const;

private:
    ~TButtonProducer() override = default;
    bool LoadFolder(TKivObjectHost& host, const std::string& theme);

    std::string name_;
    mutable std::mutex lock_;
    std::string folder_;
    std::string text_; // the theme file as last read
    TButtonTheme theme_;
    bool loaded_ = false;
    int facesMade_ = 0;
    std::map<std::string, TRef<TBitmap>> pieces_; // the theme's pictures, decoded once
};

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
    // The caption takes the theme's colour and scale once it is built.
    void BuildChildren() override;
    // The caption shows the button's pointer state.
    void SetPressed(bool pressed) override;
    void SetPointerState(int state) override;

protected:
    ~TKivButton() override;
    void SetDefaults() override;
    void ReadKeys(const TIniObject& object) override;
    bool IsKnownKey(std::string_view key) const override;
    double FitFactor(TVec2 s, TVec2 p) const override;
    void Produce(TDeviceDrawer& drawer) override;

private:
    TRef<TImage> MakeFace(int state);
    int StateNow() const;
    // Makes the face of the current pointer state the picture drawn.
    void SelectFace();

    std::string themeName_;
    TRef<TButtonProducer> producer_;
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

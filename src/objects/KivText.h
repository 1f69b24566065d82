// TKivText: a text object (type 6 "Text") — lines of text in a font, style, alignment and colour.
// It is an image object whose picture is a mask of its lines rendered by the vector-text renderer
// (objects/text/TextRender.h) and tinted by the drawer with the text's current colour (normal,
// hover, click); or, with `Rasterize`, a picture the authoring tool made, loaded like an image.
//
// Before rendering the text goes through macro expansion ("<%SlideIndex%>", "<%MainImg.FileName%>",
// …). The picture is asked of the host under a "Text: " name at the raster scale the slide's
// pre-pass allows, so that glyphs are rasterised at the size they reach on screen (never beyond
// 30 000 pixels a side or ten million pixels). Its height on screen is Scale.Y percent of its
// parent's height, whatever its FitMode.
//
// A click hits a rendered text only on the cells its glyphs cover, not between lines or beside a
// short line.
#pragma once

#include "objects/KivImage.h"
#include "objects/text/PictureFacts.h"
#include "objects/text/TextRender.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// Replaces every macro of the table, found without regard to case, by `value`(macro name without
// "<%" and "%>", e.g. "SlideIndex"); an empty result becomes a single space. A value that itself
// contains a macro is not expanded again.
std::string ExpandMacros(std::string_view text, const std::function<std::string(std::string_view)>& value);
// The content of a `Text` value: surrounding double quotes removed, split at line breaks, one space
// when every line is empty; only the first line when `firstOnly`.
std::vector<std::string> TextContentLines(std::string_view text, bool firstOnly);
// Parts of a Windows picture name for the file-name macros ("FileName", "FolderPath", …).
std::string PathMacroValue(std::string_view macro, std::string_view imageName);

class TKivText : public TKivImage {
public:
    explicit TKivText(TKivObject* parent);

    const std::vector<std::string>& Lines() const noexcept { return lines_; }
    // The lines after macro expansion, as they are rendered.
    std::vector<std::string> ExpandedLines() const;
    // The value of one macro for this text (empty when the source is missing).
    std::string MacroValue(std::string_view macro) const;

    std::uint32_t TextColor() const noexcept { return textColor_; }
    std::uint32_t TextColorHover() const noexcept { return textColorHover_; }
    std::uint32_t TextColorClick() const noexcept { return textColorClick_; }
    // A button theme's caption colour: it stands for each colour key the text does not set itself.
    void TakeThemeColor(std::uint32_t argb);
    // The managed colour for the current pointer state.
    std::uint32_t CurrentColor() const;
    const std::string& FontName() const noexcept { return fontName_; }
    int FontStyle() const noexcept { return fontStyle_; }
    int TextAlign() const noexcept { return textAlign_; }
    int LineSpacing() const noexcept { return lineSpacing_; }
    bool Rasterize() const noexcept { return rasterize_; }
    bool IsComment() const noexcept { return isComment_; }
    void ClearComment() noexcept { isComment_ = false; }
    const std::string& RasterizedGuid() const noexcept { return rasterizedGuid_; }
    // The last request (raster scale, phase, lines) and the glyph cells of its picture.
    const TTextRequest& LastRequest() const noexcept { return request_; }
    const std::vector<TRectF>& GlyphRects() const noexcept { return glyphRects_; }
    // Width and height of the lines laid out at scale 1 (without the picture's margin).
    TVec2 NominalSize() const noexcept { return nominal_; }

    // Lays the lines out at scale 1 when they changed (NominalSize).
    void UpdateNominal();
    // The height of one line in texels of the picture: from the layout for a rendered text; for a
    // rasterised one its picture's height ÷ (lines + (lines − 1) × LineSpacing ÷ 200). 0 without a
    // picture.
    double LineHeight() const;

    // TKivImage
    void LoadPicture() override;
    // A button's caption is drawn at its own opacity × the button's.
    float ContentOpacity() const override;
    // A text's shadow is measured against 1.1 × its line height.
    double ShadowReference() const override { return 1.1 * LineHeight(); }
    void ProduceContent(TDeviceDrawer& drawer, TPictureDrawParams& params) override;
    // TKivObject
    TVec2 ContentSize() const override;
    bool HitTest(TVec2 point, TVec2& local) const override;

protected:
    ~TKivText() override;
    void SetDefaults() override;
    void ReadKeys(const TIniObject& object) override;
    bool IsKnownKey(std::string_view key) const override;
    double FitFactor(TVec2 s, TVec2 p) const override;

private:
    // The largest |Scale.X| or |Scale.Y| among the keyframes that set the Scale group.
    double MaxKeyframeScale() const;
    // The raster scale for the current pre-pass with the keyframes' scales × `ratio`, within the
    // picture caps.
    double RasterScale(double ratio) const;
    // Multiplies Scale.X and Scale.Y of the keyframes that set the Scale group by `ratio` and
    // evaluates the properties again.
    void ApplyScaleRatio(double ratio);
    bool IsCaption() const;

    // The metadata of the slide's main picture, read once per picture name.
    const TPictureFacts& Facts(const std::string& imageName) const;

    std::vector<std::string> lines_;
    std::string rawText_;
    mutable std::string factsName_;
    mutable bool factsRead_ = false;
    mutable TPictureFacts facts_;
    std::uint32_t textColor_ = 0xFFFFFFFFu;
    std::uint32_t textColorHover_ = 0xFFFFFFFFu;
    std::uint32_t textColorClick_ = 0xFFFFFFFFu;
    std::string fontName_ = "Arial";
    int fontStyle_ = 0;
    int textAlign_ = kTextAlignCenter;
    int lineSpacing_ = 0;
    bool rasterize_ = false;
    bool isComment_ = false;
    std::string rasterizedGuid_;

    TTextRequest request_;
    std::string requestKey_; // what the held picture was made from, without the phase
    std::vector<TRectF> glyphRects_;
    double lineHeight_ = 0.0; // of the rendered picture, its texels
    TVec2 nominal_;
    std::string nominalKey_;
    double requestedHeight_ = 0.0; // the nominal height of the last picture; 0 before the first
};

} // namespace kiv

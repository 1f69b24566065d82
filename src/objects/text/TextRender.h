// Vector text: lines of text shaped with HarfBuzz and rasterised anti-aliased with FreeType into a
// mask picture (white, the glyphs' coverage as alpha) that the drawer tints with the text colour.
// Fonts come first from the show (a loader the caller supplies), then from fontconfig with the
// substitution of Windows family names ("Arial" → Liberation Sans, …); a character the chosen font
// lacks is drawn from a font fontconfig finds for it. Rendered glyphs are cached by font, size and
// sub-pixel phase.
//
// The text picture of a text object is asked of the file accessor under a "Text: " name that carries
// every parameter (TextPictureName); the slide host's picture provider parses it back and renders.
//
// Threads: any; one lock guards FreeType, fontconfig and the glyph cache.
#pragma once

#include "images/Bitmap.h"
#include "objects/Geometry.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

enum TTextStyleFlag : int { kTextBold = 1, kTextItalic = 2, kTextUnderline = 4, kTextStrikeOut = 8 };
enum TTextAlignment : int { kTextAlignLeft = 0, kTextAlignCenter = 1, kTextAlignRight = 2 };

// Pixel size of the font at raster scale 1.
constexpr double kTextNominalEm = 64.0;
// No side of a text picture exceeds this, and no picture has more pixels than kMaxTextPixels.
constexpr int kMaxTextSide = 30000;
constexpr double kMaxTextPixels = 10000000.0;

struct TTextRequest {
    std::string fontName = "Arial";
    double scale = 1.0;  // the font is kTextNominalEm × scale pixels
    double phaseX = 0.0; // sub-pixel phase of the picture's top-left corner on screen, 0 … 1
    double phaseY = 0.0;
    int style = 0;
    int align = kTextAlignCenter;
    double ratio = 1.0;  // keyframe-scale ratio, carried with the name
    int lineSpacing = 0; // extra space between lines, 1/200 of a line's height per unit
    std::vector<std::string> lines;
};

// The lines laid out at a request's scale. Sizes are in picture pixels; the picture adds one
// pixel of margin on every side.
struct TTextLayout {
    double textWidth = 0.0;  // widest line
    double textHeight = 0.0; // all lines with their spacing
    double lineHeight = 0.0;
    double ascent = 0.0;
    double scale = 1.0; // the scale used (reduced to keep the picture within the caps)
    int pictureWidth = 0;
    int pictureHeight = 0;
    std::vector<double> lineWidths;
    // The cells the glyphs cover, picture pixels.
    std::vector<TRectF> glyphRects;
    // For each cell: the index of the first code point of its line that the glyph draws (lines
    // are laid out in visual order, so right-to-left runs count down).
    std::vector<std::uint32_t> glyphClusters;
    std::string fontFamily; // the family actually used for the first font
};

// Answers the bytes of a font file for a family name (fonts packed in a show); empty when none.
using TFontBytesLoader = std::function<std::vector<std::uint8_t>(const std::string& family, int style)>;

// Marks every run of characters that differ from their folded form with "<" and ">" and doubles
// literal "<" and ">", so that names compared without regard to case keep the case of the text.
std::string EncodeTextCase(std::string_view text);
std::string DecodeTextCase(std::string_view text);

// "Text: " + font : scale : phase x : phase y : style : alignment : ratio : line spacing : lines
// (joined by line feeds), the font and lines case-encoded.
std::string TextPictureName(const TTextRequest& request);
bool IsTextPictureName(std::string_view name);
// False when `name` is not a well-formed text picture name.
bool ParseTextPictureName(std::string_view name, TTextRequest& request);

// The layout of the request's lines, the scale halved as often as needed to keep the picture
// within kMaxTextSide and kMaxTextPixels.
TTextLayout LayoutText(const TTextRequest& request, const TFontBytesLoader* loader = nullptr);
// The mask picture of the request (Bgra32); `layout` receives its layout. Never null for a
// well-formed request: a font that cannot be found is replaced (with a log line).
TRef<TBitmap> RenderText(const TTextRequest& request, TTextLayout* layout = nullptr,
                         const TFontBytesLoader* loader = nullptr);

// The family fontconfig is asked for in place of `family` (Windows names to their metric twins).
std::string SubstituteFontFamily(std::string_view family);
// Entries in the glyph cache (for tests and measurements).
std::size_t CachedGlyphCount();
void ClearGlyphCache();

} // namespace kiv

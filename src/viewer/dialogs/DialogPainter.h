// Draws a dialog into a picture in memory with the player's own text rendering: a light-grey face,
// black text in the dialog font (8 points at 96 dpi, scaled with the dpi), sunken white edit fields
// and lists, raised buttons whose default one has a thicker black border, and a dotted focus
// rectangle. The same picture goes to the dialog's window and to screenshots made without a display.
#pragma once

#include "images/Bitmap.h"
#include "viewer/dialogs/Dialog.h"

#include <cstdint>
#include <string>

namespace kiv {

// Colours as 0xAARRGGBB.
inline constexpr std::uint32_t kDialogFace = 0xFFF0F0F0;
inline constexpr std::uint32_t kDialogText = 0xFF000000;
inline constexpr std::uint32_t kDialogWhite = 0xFFFFFFFF;
inline constexpr std::uint32_t kDialogShadow = 0xFFA0A0A0;
inline constexpr std::uint32_t kDialogDarkShadow = 0xFF696969;
inline constexpr std::uint32_t kDialogSelection = 0xFF0078D7;
inline constexpr std::uint32_t kDialogCaption = 0xFF2B579A;

// A 32-bit BGRA picture the items draw on in 96-dpi pixels; the canvas scales every rectangle.
class TDialogCanvas {
public:
    enum class TAlign { Left, Center };

    // `top` moves the client area down (for a caption bar above it).
    TDialogCanvas(TBitmap& target, double scale, int top = 0);

    double Scale() const { return scale_; }
    void Fill(const TDialogRect& rect, std::uint32_t argb);
    // A frame `thickness` device pixels wide inside the rectangle.
    void Frame(const TDialogRect& rect, std::uint32_t argb, int thickness = 1);
    // Two-colour edge: `topLeft` on the top and left sides, `bottomRight` on the others.
    void Edge(const TDialogRect& rect, std::uint32_t topLeft, std::uint32_t bottomRight);
    void DottedFrame(const TDialogRect& rect, std::uint32_t argb);
    // Text in the dialog font, clipped to the rectangle; lines break at "\r" and "\n". Centred
    // vertically when `middle`, else from the top. Too much text is cut, never squeezed.
    void Text(const TDialogRect& rect, const std::string& text, std::uint32_t argb, TAlign align,
              bool middle);
    // The width of one line of text, in 96-dpi pixels.
    double TextWidth(const std::string& text) const;

private:
    struct TBox {
        int x0, y0, x1, y1;
    };
    TBox Device(const TDialogRect& rect) const;
    void FillBox(TBox box, std::uint32_t argb);

    TBitmap& target_;
    double scale_;
    int top_;
};

// The client area drawn at `scale` (dpi / 96): round(width × scale) × round(height × scale);
// with `withCaption`, a caption bar with the dialog's caption above it (for screenshots).
TRef<TBitmap> PaintDialog(const TDialog& dialog, double scale, bool withCaption = false);

} // namespace kiv

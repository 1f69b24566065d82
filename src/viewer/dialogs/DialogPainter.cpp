#include "viewer/dialogs/DialogPainter.h"

#include "base/Utf.h"
#include "objects/text/TextRender.h"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

// The dialog font: "MS Shell Dlg 2" at 8 points stands in as Liberation Sans with an 11-pixel em
// at 96 dpi, close to the system font's size on screen.
constexpr const char* kDialogFontName = "Liberation Sans";
constexpr double kDialogEmPixels = 11.0;
constexpr int kCaptionHeight = 22;
// The bullet a password field shows for each character.
constexpr const char* kBullet = "\xE2\x97\x8F";

int Round(double value) {
    return static_cast<int>(std::lround(value));
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.emplace_back();
        } else {
            lines.back() += text[i];
        }
    }
    return lines;
}

TTextRequest FontRequest(double scale, std::vector<std::string> lines) {
    TTextRequest request;
    request.fontName = kDialogFontName;
    request.scale = kDialogEmPixels * scale / kTextNominalEm;
    request.align = kTextAlignLeft;
    request.lines = std::move(lines);
    return request;
}

std::size_t CodePoints(const std::string& text) {
    std::size_t count = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

} // namespace

TDialogCanvas::TDialogCanvas(TBitmap& target, double scale, int top)
    : target_(target), scale_(scale), top_(top) {}

TDialogCanvas::TBox TDialogCanvas::Device(const TDialogRect& rect) const {
    return {Round(rect.x * scale_), Round(rect.y * scale_) + top_, Round((rect.x + rect.width) * scale_),
            Round((rect.y + rect.height) * scale_) + top_};
}

void TDialogCanvas::FillBox(TBox box, std::uint32_t argb) {
    box.x0 = std::max(box.x0, 0);
    box.y0 = std::max(box.y0, 0);
    box.x1 = std::min(box.x1, target_.Width());
    box.y1 = std::min(box.y1, target_.Height());
    for (int y = box.y0; y < box.y1; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(target_.Row(y));
        std::fill(row + box.x0, row + std::max(box.x0, box.x1), argb);
    }
}

void TDialogCanvas::Fill(const TDialogRect& rect, std::uint32_t argb) {
    FillBox(Device(rect), argb);
}

void TDialogCanvas::Frame(const TDialogRect& rect, std::uint32_t argb, int thickness) {
    const TBox b = Device(rect);
    FillBox({b.x0, b.y0, b.x1, b.y0 + thickness}, argb);
    FillBox({b.x0, b.y1 - thickness, b.x1, b.y1}, argb);
    FillBox({b.x0, b.y0, b.x0 + thickness, b.y1}, argb);
    FillBox({b.x1 - thickness, b.y0, b.x1, b.y1}, argb);
}

void TDialogCanvas::Edge(const TDialogRect& rect, std::uint32_t topLeft, std::uint32_t bottomRight) {
    const TBox b = Device(rect);
    FillBox({b.x0, b.y0, b.x1, b.y0 + 1}, topLeft);
    FillBox({b.x0, b.y0, b.x0 + 1, b.y1}, topLeft);
    FillBox({b.x0, b.y1 - 1, b.x1, b.y1}, bottomRight);
    FillBox({b.x1 - 1, b.y0, b.x1, b.y1}, bottomRight);
}

void TDialogCanvas::DottedFrame(const TDialogRect& rect, std::uint32_t argb) {
    const TBox b = Device(rect);
    const auto dot = [&](int x, int y) {
        if (x >= 0 && y >= 0 && x < target_.Width() && y < target_.Height() && (x + y) % 2 == 0)
            reinterpret_cast<std::uint32_t*>(target_.Row(y))[x] = argb;
    };
    for (int x = b.x0; x < b.x1; ++x) {
        dot(x, b.y0);
        dot(x, b.y1 - 1);
    }
    for (int y = b.y0; y < b.y1; ++y) {
        dot(b.x0, y);
        dot(b.x1 - 1, y);
    }
}

double TDialogCanvas::TextWidth(const std::string& text) const {
    if (text.empty()) return 0.0;
    return LayoutText(FontRequest(scale_, {text})).textWidth / scale_;
}

void TDialogCanvas::Text(const TDialogRect& rect, const std::string& text, std::uint32_t argb, TAlign align,
                         bool middle) {
    if (text.empty()) return;
    TTextLayout layout;
    const TRef<TBitmap> mask = RenderText(FontRequest(scale_, SplitLines(text)), &layout);
    if (!mask) return;
    TBox clip = Device(rect);
    clip.x0 = std::max(clip.x0, 0);
    clip.y0 = std::max(clip.y0, 0);
    clip.x1 = std::min(clip.x1, target_.Width());
    clip.y1 = std::min(clip.y1, target_.Height());
    const TBox box = Device(rect);
    // The picture has one pixel of margin around the text.
    int left = box.x0 - 1;
    if (align == TAlign::Center) left = box.x0 + Round(((box.x1 - box.x0) - layout.textWidth) / 2.0) - 1;
    int top = box.y0 - 1;
    if (middle) top = box.y0 + Round(((box.y1 - box.y0) - layout.textHeight) / 2.0) - 1;
    const std::uint32_t r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    for (int y = 0; y < mask->Height(); ++y) {
        const int ty = top + y;
        if (ty < clip.y0 || ty >= clip.y1) continue;
        const std::uint8_t* src = mask->Row(y);
        std::uint8_t* dst = target_.Row(ty);
        for (int x = 0; x < mask->Width(); ++x) {
            const int tx = left + x;
            if (tx < clip.x0 || tx >= clip.x1) continue;
            const std::uint32_t a = src[4 * x + 3];
            if (a == 0) continue;
            std::uint8_t* p = dst + 4 * tx;
            p[0] = static_cast<std::uint8_t>((p[0] * (255 - a) + b * a + 127) / 255);
            p[1] = static_cast<std::uint8_t>((p[1] * (255 - a) + g * a + 127) / 255);
            p[2] = static_cast<std::uint8_t>((p[2] * (255 - a) + r * a + 127) / 255);
            p[3] = 255;
        }
    }
}

// ---- items

void TDialogStatic::Paint(TDialogCanvas& canvas, bool) const {
    canvas.Text(Bounds(), text_, kDialogText, TDialogCanvas::TAlign::Left, false);
}

void TDialogEdit::Paint(TDialogCanvas& canvas, bool focused) const {
    const TDialogRect r = Bounds();
    canvas.Fill(r, kDialogWhite);
    canvas.Edge(r, kDialogShadow, kDialogWhite);
    canvas.Edge({r.x + 1, r.y + 1, r.width - 2, r.height - 2}, kDialogDarkShadow, kDialogFace);
    const TDialogRect inner{r.x + 3, r.y + 2, r.width - 6, r.height - 4};
    std::string shown = text_;
    if (password_) {
        // One bullet per character, as many as the field can show: a very long password costs
        // no more to draw than a short one.
        const double bullet = std::max(1.0, canvas.TextWidth(kBullet));
        const std::size_t fits = static_cast<std::size_t>(std::max(0.0, (inner.width - 2) / bullet));
        shown.clear();
        for (std::size_t i = 0, n = std::min(CodePoints(text_), fits); i < n; ++i)
            shown += kBullet;
    } else {
        // The end of a text too long for the field; a field never shows more than a few hundred
        // characters, so a huge text is cut before it is measured.
        std::size_t start = shown.size();
        for (std::size_t kept = 0; start > 0 && kept < 256;)
            if ((static_cast<unsigned char>(shown[--start]) & 0xC0) != 0x80) ++kept;
        shown.erase(0, start);
        while (!shown.empty() && canvas.TextWidth(shown) > inner.width - 2) {
            std::size_t pos = 0;
            DecodeUtf8(shown, pos);
            shown.erase(0, std::max<std::size_t>(pos, 1));
        }
    }
    canvas.Text(inner, shown, kDialogText, TDialogCanvas::TAlign::Left, true);
    if (focused) {
        const int caret = inner.x + static_cast<int>(std::ceil(canvas.TextWidth(shown)));
        canvas.Fill({std::min(caret, inner.x + inner.width - 1), inner.y + 1, 1, inner.height - 2},
                    kDialogText);
    }
}

void TDialogButton::Paint(TDialogCanvas& canvas, bool focused) const {
    const TDialogRect r = Bounds();
    canvas.Fill(r, 0xFFE1E1E1);
    if (default_ || focused) {
        canvas.Frame(r, kDialogSelection, std::max(2, static_cast<int>(std::lround(2 * canvas.Scale()))));
        canvas.Frame({r.x + 2, r.y + 2, r.width - 4, r.height - 4}, 0xFFE5F1FB);
    } else {
        canvas.Frame(r, 0xFFADADAD);
    }
    canvas.Text({r.x + 4, r.y, r.width - 8, r.height}, text_, kDialogText, TDialogCanvas::TAlign::Center,
                true);
    if (focused) canvas.DottedFrame({r.x + 4, r.y + 4, r.width - 8, r.height - 8}, kDialogText);
}

void TDialogCheckBox::Paint(TDialogCanvas& canvas, bool focused) const {
    const TDialogRect r = Bounds();
    const TDialogRect box{r.x, r.y + (r.height - 13) / 2, 13, 13};
    canvas.Fill(box, kDialogWhite);
    canvas.Frame(box, 0xFF333333);
    if (checked_) {
        // A tick drawn from small squares: down from the left, then up to the right.
        for (int i = 0; i < 3; ++i)
            canvas.Fill({box.x + 3 + i, box.y + 6 + i, 1, 2}, kDialogText);
        for (int i = 0; i < 5; ++i)
            canvas.Fill({box.x + 6 + i, box.y + 7 - i, 1, 2}, kDialogText);
    }
    const TDialogRect label{r.x + 18, r.y, r.width - 18, r.height};
    canvas.Text(label, text_, kDialogText, TDialogCanvas::TAlign::Left, true);
    if (focused) {
        const int width = std::min(label.width, static_cast<int>(std::ceil(canvas.TextWidth(text_))) + 4);
        canvas.DottedFrame({label.x - 2, r.y + 2, width, r.height - 4}, kDialogText);
    }
}

void TDialogListBox::Paint(TDialogCanvas& canvas, bool focused) const {
    const TDialogRect r = Bounds();
    canvas.Fill(r, kDialogWhite);
    canvas.Edge(r, kDialogShadow, kDialogWhite);
    canvas.Edge({r.x + 1, r.y + 1, r.width - 2, r.height - 2}, kDialogDarkShadow, kDialogFace);
    const int rows = VisibleRows();
    for (int i = 0; i < rows && top_ + i < static_cast<int>(lines_.size()); ++i) {
        const int index = top_ + i;
        const TDialogRect row{r.x + 2, r.y + 2 + i * kRowHeight, r.width - 4, kRowHeight};
        const bool selected = index == selected_;
        if (selected) canvas.Fill(row, kDialogSelection);
        canvas.Text({row.x + 3, row.y, row.width - 6, row.height}, lines_[static_cast<std::size_t>(index)],
                    selected ? kDialogWhite : kDialogText, TDialogCanvas::TAlign::Left, true);
        if (selected && focused) canvas.DottedFrame(row, kDialogWhite);
    }
}

TRef<TBitmap> PaintDialog(const TDialog& dialog, double scale, bool withCaption) {
    const int top = withCaption ? Round(kCaptionHeight * scale) : 0;
    auto bitmap = MakeRef<TBitmap>(std::max(1, Round(dialog.Width() * scale)),
                                   std::max(1, Round(dialog.Height() * scale)) + top, TPixelFormat::Bgra32);
    bitmap->Fill32(kDialogFace);
    TDialogCanvas canvas(*bitmap, scale, top);
    if (withCaption) {
        TDialogCanvas bar(*bitmap, scale);
        bar.Fill({0, 0, dialog.Width(), kCaptionHeight}, kDialogCaption);
        bar.Text({8, 0, dialog.Width() - 16, kCaptionHeight}, dialog.Caption(), kDialogWhite,
                 TDialogCanvas::TAlign::Left, true);
    }
    const TDialogItem* focused = dialog.FocusedItem();
    for (const TRef<TDialogItem>& item : dialog.Items())
        item->Paint(canvas, item.Get() == focused);
    return bitmap;
}

} // namespace kiv

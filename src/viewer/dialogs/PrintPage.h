// The printed page: where a picture goes on a page and the page itself as a picture. A picture
// wider than high prints on a landscape page. It is scaled to the page's height, or to its width
// when that is the tighter side, keeping its proportions, and centred.
#pragma once

#include "images/Bitmap.h"
#include "objects/PixelRect.h"

namespace kiv {

inline bool PrintsLandscape(int pictureWidth, int pictureHeight) {
    return pictureWidth > pictureHeight;
}

// With a printable page of `pageWidth` × `pageHeight` pixels and a `width` × `height` picture: the
// printed width is width × pageHeight / height (64-bit product, division truncated); below the
// page width the picture is that wide and pageHeight high, else pageWidth wide and
// height × pageWidth / width high. Centred: (page − printed) / 2 on each side, truncated. Both
// sizes of the picture must be positive.
TShowRect PlacePrintedPicture(int pageWidth, int pageHeight, int width, int height);

// The page: white, with the picture stretched (bilinear) into its place; transparent parts of
// the picture show the paper. The work is proportional to the page, not to the picture. Null
// when the picture has no pixels or the page cannot be made.
TRef<TBitmap> RenderPrintPage(const TBitmap& picture, int pageWidth, int pageHeight);

} // namespace kiv

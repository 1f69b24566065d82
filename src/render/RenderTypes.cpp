#include "render/RenderTypes.h"

#include <algorithm>

namespace kiv {

TRect Intersect(const TRect& a, const TRect& b) {
    TRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
    if (r.IsEmpty()) return {};
    return r;
}

std::string RectText(const TRect& r) {
    std::string text = "(";
    text += std::to_string(r.left);
    text += ", ";
    text += std::to_string(r.top);
    text += ", ";
    text += std::to_string(r.right);
    text += ", ";
    text += std::to_string(r.bottom);
    text += ")";
    return text;
}

TMatrix TMatrix::Identity() {
    TMatrix r;
    for (int i = 1; i <= 4; ++i)
        r.At(i, i) = 1;
    return r;
}

TMatrix operator*(const TMatrix& a, const TMatrix& b) {
    TMatrix r;
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 4; ++j) {
            float s = 0;
            for (int k = 1; k <= 4; ++k)
                s += a.At(i, k) * b.At(k, j);
            r.At(i, j) = s;
        }
    return r;
}

} // namespace kiv

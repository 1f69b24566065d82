// The vector-text renderer against HarfBuzz and FreeType used bare, in the same run: a caption of
// 200 characters at 48 pixels, shaped and rasterised into a white picture with the glyphs'
// coverage as alpha.
//   - First rasterising (the glyph cache emptied before each picture) against a bare loop that
//     shapes the same line with HarfBuzz and renders every glyph with FreeType at its sub-pixel
//     position into a picture of the same size. Target ≤ 1.5.
//   - The same picture again with the glyph cache warm, against the same bare loop.
// The bare loop gets its face from the file fontconfig names for the family the renderer used, set
// up before timing (the renderer keeps its faces open as well).
#include "RatioReporter.h"
#include "SystemFace.h"
#include "objects/text/TextRender.h"

#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace kiv;

constexpr double kScale = 0.75; // 48-pixel glyphs

const std::string& Caption() {
    static const std::string text = [] {
        const std::string words = "The quick brown fox jumps over the lazy dog while seven jolly zebras "
                                  "quietly vex a big sphinx of quartz; ";
        std::string caption;
        while (caption.size() < 200)
            caption += words;
        caption.resize(200);
        return caption;
    }();
    return text;
}

TTextRequest CaptionRequest() {
    TTextRequest request;
    request.fontName = "Arial";
    request.scale = kScale;
    request.phaseX = 0.25;
    request.lines = {Caption()};
    return request;
}

// HarfBuzz and FreeType on their own: one face, shaped and rendered glyph by glyph.
class TBareText {
public:
    explicit TBareText(const std::string& family) : system_(family, kTextNominalEm * kScale) {
        face_ = system_.face();
        if (!face_) {
            std::fprintf(stderr, "no font file for %s\n", family.c_str());
            std::exit(1);
        }
        font_ = hb_ft_font_create_referenced(face_);
        hb_ft_font_set_load_flags(font_, FT_LOAD_NO_HINTING);
    }
    ~TBareText() { hb_font_destroy(font_); }
    TBareText(const TBareText&) = delete;
    TBareText& operator=(const TBareText&) = delete;

    // The caption's picture: returns its top-left alpha so that nothing is optimised away.
    std::uint8_t Render(const std::string& text, double phaseX) {
        hb_buffer_t* buffer = hb_buffer_create();
        hb_buffer_add_utf8(buffer, text.data(), static_cast<int>(text.size()), 0,
                           static_cast<int>(text.size()));
        hb_buffer_guess_segment_properties(buffer);
        hb_shape(font_, buffer, nullptr, 0);
        unsigned count = 0;
        const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer, &count);
        const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer, &count);
        double width = 0.0;
        for (unsigned i = 0; i < count; ++i)
            width += pos[i].x_advance / 64.0;
        const double ascent = face_->size->metrics.ascender / 64.0;
        const int w = static_cast<int>(std::ceil(width)) + 2;
        const int h = static_cast<int>(std::ceil(ascent - face_->size->metrics.descender / 64.0)) + 2;
        pixels_.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4, 255);
        for (std::size_t i = 3; i < pixels_.size(); i += 4)
            pixels_[i] = 0;
        double penX = 1.0 + phaseX;
        const double baseline = 1.0 + ascent;
        for (unsigned i = 0; i < count; ++i) {
            const double x = penX + pos[i].x_offset / 64.0;
            const double ix = std::floor(x);
            if (FT_Load_Glyph(face_, info[i].codepoint, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0) {
                FT_Outline_Translate(&face_->glyph->outline, std::lround((x - ix) * 64.0), 0);
                if (FT_Render_Glyph(face_->glyph, FT_RENDER_MODE_NORMAL) == 0) {
                    const FT_Bitmap& bitmap = face_->glyph->bitmap;
                    const int left = static_cast<int>(ix) + face_->glyph->bitmap_left;
                    const int top = static_cast<int>(baseline) - face_->glyph->bitmap_top;
                    for (int y = 0; y < static_cast<int>(bitmap.rows); ++y) {
                        const int by = top + y;
                        if (by < 0 || by >= h) continue;
                        const std::uint8_t* src =
                            bitmap.buffer + static_cast<std::ptrdiff_t>(y) * bitmap.pitch;
                        for (int gx = 0; gx < static_cast<int>(bitmap.width); ++gx) {
                            const int bx = left + gx;
                            if (bx < 0 || bx >= w || src[gx] == 0) continue;
                            std::uint8_t& a = pixels_[(static_cast<std::size_t>(by) * w + bx) * 4 + 3];
                            a = static_cast<std::uint8_t>(a + src[gx] - (a * src[gx] + 127) / 255);
                        }
                    }
                }
            }
            penX += pos[i].x_advance / 64.0;
        }
        hb_buffer_destroy(buffer);
        return pixels_[3];
    }

private:
    kiv::test::TSystemFace system_;
    FT_Face face_ = nullptr;
    hb_font_t* font_ = nullptr;
    std::vector<std::uint8_t> pixels_;
};

TBareText& Bare() {
    static TBareText bare(LayoutText(CaptionRequest()).fontFamily);
    return bare;
}

void BM_Caption200_FirstRaster(benchmark::State& state) {
    const TTextRequest request = CaptionRequest();
    RenderText(request); // faces opened, as the bare loop's is
    for (auto _ : state) {
        ClearGlyphCache();
        TRef<TBitmap> bitmap = RenderText(request);
        benchmark::DoNotOptimize(bitmap->Row(0)[3]);
    }
}

void BM_Caption200_WarmCache(benchmark::State& state) {
    const TTextRequest request = CaptionRequest();
    RenderText(request);
    for (auto _ : state) {
        TRef<TBitmap> bitmap = RenderText(request);
        benchmark::DoNotOptimize(bitmap->Row(0)[3]);
    }
}

void BM_Caption200_BareHarfBuzzFreeType(benchmark::State& state) {
    TBareText& bare = Bare();
    const std::string& text = Caption();
    for (auto _ : state)
        benchmark::DoNotOptimize(bare.Render(text, 0.25));
}

BENCHMARK(BM_Caption200_FirstRaster)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Caption200_WarmCache)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Caption200_BareHarfBuzzFreeType)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    using namespace kiv::bench;
    return RunWithSummary(argc, argv, [](const TRatioReporter& report) {
        report.PrintRatio("200-character caption, first rasterising/bare HarfBuzz + FreeType",
                          "BM_Caption200_FirstRaster", "BM_Caption200_BareHarfBuzzFreeType", 1.5);
        report.PrintRatio("200-character caption, warm glyph cache/bare HarfBuzz + FreeType",
                          "BM_Caption200_WarmCache", "BM_Caption200_BareHarfBuzzFreeType");
    });
}

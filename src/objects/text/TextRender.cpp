#include "objects/text/TextRender.h"

#include "base/CaseFold.h"
#include "base/Log.h"
#include "base/Utf.h"

#include <fontconfig/fontconfig.h>
#include <fribidi.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace kiv {

namespace {

constexpr std::string_view kTextPrefix = "Text: ";
constexpr std::size_t kMaxCachedGlyphs = 20000;
constexpr int kPhaseSteps = 4; // sub-pixel positions per pixel the glyph cache tells apart
constexpr double kMinPixelSize = 1.0;

struct TFace {
    FT_Face face = nullptr;
    hb_font_t* hb = nullptr;
    std::vector<std::uint8_t> bytes; // a font loaded from memory keeps its bytes here
    bool synthBold = false;
    bool synthItalic = false;
    std::string family;
    int id = 0;
    FT_F26Dot6 sizeSet = -1;

    ~TFace() {
        if (hb) hb_font_destroy(hb);
        if (face) FT_Done_Face(face);
    }
    // Sets the pixel size (26.6) for the glyphs and shaping that follow.
    void SetSize(FT_F26Dot6 size) {
        if (size == sizeSet) return;
        sizeSet = size;
        FT_Set_Char_Size(face, 0, size, 72, 72);
        hb_ft_font_changed(hb);
    }
};

struct TGlyphKey {
    int face;
    unsigned glyph;
    long size;
    int phaseX;
    int phaseY;
    bool operator==(const TGlyphKey&) const = default;
};

struct TGlyphKeyHash {
    std::size_t operator()(const TGlyphKey& k) const noexcept {
        std::size_t h = static_cast<std::size_t>(k.face) * 1000003u;
        h ^= static_cast<std::size_t>(k.glyph) * 2654435761u;
        h ^= static_cast<std::size_t>(k.size) * 40503u;
        h ^= static_cast<std::size_t>(k.phaseX * kPhaseSteps + k.phaseY) << 20;
        return h;
    }
};

struct TGlyphImage {
    int width = 0;
    int height = 0;
    int left = 0;
    int top = 0;
    std::vector<std::uint8_t> coverage;
};

// One shaped glyph of a line; x and y in pixels from the line's start and baseline.
struct TPlacedGlyph {
    TFace* face;
    unsigned glyph;
    double x;
    double y;
    double advance;
    unsigned cluster; // index of the first code point of the line it draws
};

struct TShapedLine {
    std::vector<TPlacedGlyph> glyphs;
    double width = 0.0;
};

struct TShaped {
    TTextLayout layout;
    std::vector<TShapedLine> lines;
    TFace* primary = nullptr;
    FT_F26Dot6 size = 0;
    double pitch = 0.0;
};

std::string Lower(std::string_view text) {
    return FoldUtf8(text);
}

class TFontSystem {
public:
    static TFontSystem& Instance() {
        static TFontSystem system;
        return system;
    }

    std::mutex lock;

    TFace* FaceFor(const std::string& family, int style, const TFontBytesLoader* loader) {
        if (loader && *loader) {
            std::vector<std::uint8_t> bytes;
            try {
                bytes = (*loader)(family, style);
            } catch (const std::exception& failure) {
                TLog::Line("Font " + family + " of the show cannot be read: " + failure.what());
            }
            if (!bytes.empty()) {
                const std::string key = "mem:" + std::to_string(Hash(bytes)) + ":" +
                                        std::to_string(bytes.size()) + ":" + std::to_string(style);
                auto found = faces_.find(key);
                if (found != faces_.end()) return found->second.get();
                auto face = std::make_unique<TFace>();
                face->bytes = std::move(bytes);
                if (FT_New_Memory_Face(library_, face->bytes.data(), static_cast<FT_Long>(face->bytes.size()),
                                       0, &face->face) == 0 &&
                    FT_IS_SCALABLE(face->face)) {
                    face->synthBold = (style & kTextBold) && !(face->face->style_flags & FT_STYLE_FLAG_BOLD);
                    face->synthItalic =
                        (style & kTextItalic) && !(face->face->style_flags & FT_STYLE_FLAG_ITALIC);
                    face->family = face->face->family_name ? face->face->family_name : family;
                    return Adopt(key, std::move(face));
                }
                TLog::Line("Font " + family + " of the show is not a usable font; a system font is used");
                if (face->face) FT_Done_Face(face->face);
                face->face = nullptr;
            }
        }
        const std::string requestKey = Lower(family) + "|" + std::to_string(style & 3);
        auto known = byRequest_.find(requestKey);
        if (known != byRequest_.end()) return known->second;
        TFace* face = Match(family, style);
        byRequest_[requestKey] = face;
        return face;
    }

    // A face that has `code`, other than `primary`; null when fontconfig knows none.
    TFace* FallbackFor(char32_t code, TFace* primary) {
        const std::uint64_t key =
            (static_cast<std::uint64_t>(code) << 20) ^ static_cast<std::uint64_t>(primary->id);
        auto found = fallback_.find(key);
        if (found != fallback_.end()) return found->second;
        TFace* result = nullptr;
        FcPattern* pattern = FcPatternCreate();
        FcCharSet* set = FcCharSetCreate();
        FcCharSetAddChar(set, static_cast<FcChar32>(code));
        FcPatternAddCharSet(pattern, FC_CHARSET, set);
        FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
        FcConfigSubstitute(config_, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult outcome = FcResultNoMatch;
        if (FcPattern* match = FcFontMatch(config_, pattern, &outcome)) {
            FcCharSet* has = nullptr;
            if (FcPatternGetCharSet(match, FC_CHARSET, 0, &has) == FcResultMatch && has &&
                FcCharSetHasChar(has, static_cast<FcChar32>(code)))
                result = FromPattern(match, 0);
            FcPatternDestroy(match);
        }
        FcCharSetDestroy(set);
        FcPatternDestroy(pattern);
        if (result && (result == primary || FT_Get_Char_Index(result->face, code) == 0)) result = nullptr;
        fallback_[key] = result;
        return result;
    }

    TGlyphImage* Glyph(TFace& face, unsigned glyph, int phaseX, int phaseY) {
        const TGlyphKey key{face.id, glyph, face.sizeSet, phaseX, phaseY};
        auto found = glyphs_.find(key);
        if (found != glyphs_.end()) return &found->second;
        if (glyphs_.size() >= kMaxCachedGlyphs) glyphs_.clear();
        TGlyphImage image;
        if (FT_Load_Glyph(face.face, glyph, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0 &&
            face.face->glyph->format == FT_GLYPH_FORMAT_OUTLINE) {
            FT_Outline& outline = face.face->glyph->outline;
            if (face.synthItalic) {
                FT_Matrix shear{0x10000, 0x3333, 0, 0x10000};
                FT_Outline_Transform(&outline, &shear);
            }
            if (face.synthBold) FT_Outline_Embolden(&outline, std::max<FT_Pos>(face.sizeSet / 24, 1));
            FT_Outline_Translate(&outline, phaseX * 64 / kPhaseSteps, -phaseY * 64 / kPhaseSteps);
            if (FT_Render_Glyph(face.face->glyph, FT_RENDER_MODE_NORMAL) == 0) {
                const FT_Bitmap& bitmap = face.face->glyph->bitmap;
                image.width = static_cast<int>(bitmap.width);
                image.height = static_cast<int>(bitmap.rows);
                image.left = face.face->glyph->bitmap_left;
                image.top = face.face->glyph->bitmap_top;
                image.coverage.resize(static_cast<std::size_t>(image.width) *
                                      static_cast<std::size_t>(image.height));
                for (int y = 0; y < image.height; ++y) {
                    const std::uint8_t* row = bitmap.buffer + static_cast<std::ptrdiff_t>(y) * bitmap.pitch;
                    std::copy(row, row + image.width,
                              image.coverage.begin() + static_cast<std::ptrdiff_t>(y) * image.width);
                }
            }
        }
        return &glyphs_.emplace(key, std::move(image)).first->second;
    }

    std::size_t GlyphCount() const { return glyphs_.size(); }
    void ClearGlyphs() { glyphs_.clear(); }

private:
    TFontSystem() {
        if (FT_Init_FreeType(&library_) != 0) library_ = nullptr;
        // A configuration of our own, freed at exit (the library's default one never is).
        config_ = FcInitLoadConfigAndFonts();
    }
    ~TFontSystem() {
        glyphs_.clear();
        faces_.clear();
        if (library_) FT_Done_FreeType(library_);
        if (config_) FcConfigDestroy(config_);
    }

    static std::uint64_t Hash(const std::vector<std::uint8_t>& bytes) {
        std::uint64_t h = 1469598103934665603ull;
        for (std::uint8_t b : bytes)
            h = (h ^ b) * 1099511628211ull;
        return h;
    }

    TFace* Adopt(const std::string& key, std::unique_ptr<TFace> face) {
        face->id = ++lastId_;
        face->hb = hb_ft_font_create_referenced(face->face);
        hb_ft_font_set_load_flags(face->hb, FT_LOAD_NO_HINTING);
        TFace* raw = face.get();
        faces_[key] = std::move(face);
        return raw;
    }

    TFace* FromPattern(FcPattern* match, int style) {
        FcChar8* file = nullptr;
        if (FcPatternGetString(match, FC_FILE, 0, &file) != FcResultMatch || !file) return nullptr;
        int index = 0;
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
        int weight = FC_WEIGHT_REGULAR;
        FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
        int slant = FC_SLANT_ROMAN;
        FcPatternGetInteger(match, FC_SLANT, 0, &slant);
        const bool synthBold = (style & kTextBold) && weight < FC_WEIGHT_DEMIBOLD;
        const bool synthItalic = (style & kTextItalic) && slant == FC_SLANT_ROMAN;
        const std::string key = std::string(reinterpret_cast<const char*>(file)) + "|" +
                                std::to_string(index) + "|" + std::to_string(synthBold) +
                                std::to_string(synthItalic);
        auto found = faces_.find(key);
        if (found != faces_.end()) return found->second.get();
        auto face = std::make_unique<TFace>();
        if (!library_ ||
            FT_New_Face(library_, reinterpret_cast<const char*>(file), index, &face->face) != 0 ||
            !FT_IS_SCALABLE(face->face)) {
            if (face->face) FT_Done_Face(face->face);
            face->face = nullptr;
            return nullptr;
        }
        face->synthBold = synthBold;
        face->synthItalic = synthItalic;
        FcChar8* family = nullptr;
        if (FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch && family)
            face->family = reinterpret_cast<const char*>(family);
        return Adopt(key, std::move(face));
    }

    TFace* MatchFamily(const std::string& family, int style) {
        FcPattern* pattern = FcPatternCreate();
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
        FcPatternAddInteger(pattern, FC_WEIGHT, (style & kTextBold) ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern, FC_SLANT, (style & kTextItalic) ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
        FcConfigSubstitute(config_, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        TFace* face = nullptr;
        FcResult outcome = FcResultNoMatch;
        if (FcPattern* match = FcFontMatch(config_, pattern, &outcome)) {
            face = FromPattern(match, style);
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
        return face;
    }

    TFace* Match(const std::string& family, int style) {
        const std::string wanted = SubstituteFontFamily(family);
        TFace* face = MatchFamily(wanted, style);
        if (face && !SameTextFolded(face->family, wanted)) {
            // Not installed: fontconfig's nearest choice stands in, the default family when it has none.
            TLog::Line("Font " + family + " is not installed; " + face->family + " is used");
        }
        if (!face) {
            TLog::Line("Font " + family + " cannot be found; DejaVu Sans is used");
            face = MatchFamily("DejaVu Sans", style);
        }
        return face;
    }

    FT_Library library_ = nullptr;
    FcConfig* config_ = nullptr;
    std::map<std::string, std::unique_ptr<TFace>> faces_;
    std::unordered_map<std::string, TFace*> byRequest_;
    std::unordered_map<std::uint64_t, TFace*> fallback_;
    std::unordered_map<TGlyphKey, TGlyphImage, TGlyphKeyHash> glyphs_;
    int lastId_ = 0;
};

// Shapes one run of code points (all in one face and one direction) onto the end of `line`; the
// glyphs come out left to right whatever the direction.
void ShapeRun(TFace& face, const std::vector<char32_t>& codes, std::size_t from, std::size_t to, bool rtl,
              TShapedLine& line) {
    if (to <= from) return;
    hb_buffer_t* buffer = hb_buffer_create();
    hb_buffer_add_utf32(buffer, reinterpret_cast<const std::uint32_t*>(codes.data()),
                        static_cast<int>(codes.size()), static_cast<unsigned>(from),
                        static_cast<int>(to - from));
    hb_buffer_set_direction(buffer, rtl ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_buffer_guess_segment_properties(buffer);
    hb_shape(face.hb, buffer, nullptr, 0);
    unsigned count = 0;
    const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer, &count);
    for (unsigned i = 0; i < count; ++i) {
        const double advance = pos[i].x_advance / 64.0;
        line.glyphs.push_back({&face, info[i].codepoint, line.width + pos[i].x_offset / 64.0,
                               -pos[i].y_offset / 64.0, advance, info[i].cluster});
        line.width += advance;
    }
    hb_buffer_destroy(buffer);
}

// A stretch of a line's code points [from, to) at one bidirectional embedding level.
struct TLevelRun {
    std::size_t from;
    std::size_t to;
    int level;
};

// The line's level runs in visual order, left to right: the bidirectional algorithm finds the
// levels (the paragraph's direction from its first strong character, left to right without one),
// then every sequence of runs at a level or above is reversed, from the highest level down to the
// lowest odd one.
std::vector<TLevelRun> VisualRuns(const std::vector<char32_t>& codes) {
    std::vector<TLevelRun> runs;
    const auto n = static_cast<FriBidiStrIndex>(codes.size());
    if (n == 0) return runs;
    std::vector<FriBidiChar> chars(codes.begin(), codes.end());
    std::vector<FriBidiCharType> types(codes.size());
    std::vector<FriBidiBracketType> brackets(codes.size());
    std::vector<FriBidiLevel> levels(codes.size(), 0);
    fribidi_get_bidi_types(chars.data(), n, types.data());
    fribidi_get_bracket_types(chars.data(), n, types.data(), brackets.data());
    FriBidiParType base = FRIBIDI_PAR_ON;
    if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), n, &base, levels.data()) == 0) {
        runs.push_back({0, codes.size(), 0});
        return runs;
    }
    // Trailing spaces return to the paragraph's level (the line's end is the paragraph's end).
    if (fribidi_reorder_line(0, types.data(), n, 0, base, levels.data(), nullptr, nullptr) == 0) {
        runs.push_back({0, codes.size(), FRIBIDI_IS_RTL(base) ? 1 : 0});
        return runs;
    }
    int highest = 0;
    int lowestOdd = 255;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (runs.empty() || runs.back().level != levels[i])
            runs.push_back({i, i + 1, levels[i]});
        else
            runs.back().to = i + 1;
        highest = std::max<int>(highest, levels[i]);
        if (levels[i] % 2) lowestOdd = std::min<int>(lowestOdd, levels[i]);
    }
    for (int level = highest; level >= lowestOdd; --level)
        for (std::size_t i = 0; i < runs.size();) {
            if (runs[i].level < level) {
                ++i;
                continue;
            }
            std::size_t end = i;
            while (end < runs.size() && runs[end].level >= level)
                ++end;
            std::reverse(runs.begin() + static_cast<std::ptrdiff_t>(i),
                         runs.begin() + static_cast<std::ptrdiff_t>(end));
            i = end;
        }
    return runs;
}

// Lays the lines out at `scale` (lock held).
TShaped Shape(TFontSystem& fonts, const TTextRequest& request, double scale, const TFontBytesLoader* loader) {
    TShaped shaped;
    shaped.layout.scale = scale;
    TFace* primary = fonts.FaceFor(request.fontName, request.style, loader);
    shaped.primary = primary;
    if (!primary) return shaped;
    shaped.layout.fontFamily = primary->family;
    const double pixels = std::max(kTextNominalEm * scale, kMinPixelSize);
    shaped.size = static_cast<FT_F26Dot6>(std::lround(std::min(pixels, 1e6) * 64.0));
    primary->SetSize(shaped.size);
    const FT_Size_Metrics& metrics = primary->face->size->metrics;
    double ascent = metrics.ascender / 64.0;
    double descent = -metrics.descender / 64.0;
    if (!(ascent + descent > 0.0)) {
        ascent = pixels * 0.8;
        descent = pixels * 0.2;
    }
    const double lineHeight = ascent + descent;
    const double spacing = std::clamp(request.lineSpacing, -200, 100000) / 200.0;
    shaped.pitch = lineHeight * (1.0 + spacing);
    const std::size_t n = std::max<std::size_t>(request.lines.size(), 1);
    shaped.layout.lineHeight = lineHeight;
    shaped.layout.ascent = ascent;
    shaped.layout.textHeight = std::max(lineHeight + static_cast<double>(n - 1) * shaped.pitch, lineHeight);

    std::vector<char32_t> codes;
    std::vector<TFace*> faces;
    for (const std::string& text : request.lines) {
        TShapedLine line;
        codes.clear();
        for (std::size_t pos = 0; pos < text.size();) {
            char32_t code = DecodeUtf8(text, pos);
            if (code == U'\t') code = U' ';
            if (code < 0x20 || (code >= 0xD800 && code <= 0xDFFF)) code = kReplacementChar;
            codes.push_back(code);
        }
        // The face of each code point: the primary one, else a fallback that has it; combining marks
        // stay with their base's face.
        faces.assign(codes.size(), primary);
        for (std::size_t i = 0; i < codes.size(); ++i) {
            const bool mark = hb_unicode_general_category(hb_unicode_funcs_get_default(), codes[i]) ==
                              HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK;
            if (mark && i > 0) {
                faces[i] = faces[i - 1];
                if (FT_Get_Char_Index(faces[i]->face, codes[i]) == 0 &&
                    FT_Get_Char_Index(primary->face, codes[i]) != 0)
                    faces[i] = primary;
            } else if (FT_Get_Char_Index(primary->face, codes[i]) == 0) {
                if (TFace* other = fonts.FallbackFor(codes[i], primary)) faces[i] = other;
            }
        }
        // Each level run in visual order, split where the face changes and shaped in its direction;
        // the pieces of a right-to-left run are placed from its logical end.
        for (const TLevelRun& run : VisualRuns(codes)) {
            const bool rtl = run.level % 2 != 0;
            std::vector<std::pair<std::size_t, std::size_t>> pieces;
            for (std::size_t i = run.from; i < run.to; ++i)
                if (pieces.empty() || faces[i] != faces[pieces.back().first])
                    pieces.push_back({i, i + 1});
                else
                    pieces.back().second = i + 1;
            if (rtl) std::reverse(pieces.begin(), pieces.end());
            for (const auto& [from, to] : pieces) {
                faces[from]->SetSize(shaped.size);
                ShapeRun(*faces[from], codes, from, to, rtl, line);
            }
        }
        shaped.layout.lineWidths.push_back(line.width);
        shaped.layout.textWidth = std::max(shaped.layout.textWidth, line.width);
        shaped.lines.push_back(std::move(line));
    }
    auto side = [](double v) { return static_cast<double>(std::ceil(v - 1e-6)) + 2.0; };
    const double w = side(shaped.layout.textWidth);
    const double h = side(shaped.layout.textHeight);
    shaped.layout.pictureWidth = static_cast<int>(std::clamp(w, 1.0, static_cast<double>(kMaxTextSide)));
    shaped.layout.pictureHeight = static_cast<int>(std::clamp(h, 1.0, static_cast<double>(kMaxTextSide)));
    while (static_cast<double>(shaped.layout.pictureWidth) * shaped.layout.pictureHeight > kMaxTextPixels) {
        // Only reached at the smallest font size: the rest of the text is cut off.
        if (shaped.layout.pictureWidth >= shaped.layout.pictureHeight)
            shaped.layout.pictureWidth /= 2;
        else
            shaped.layout.pictureHeight /= 2;
    }
    return shaped;
}

bool WithinCaps(const TTextLayout& layout) {
    const double w = std::ceil(layout.textWidth) + 2.0;
    const double h = std::ceil(layout.textHeight) + 2.0;
    return w <= kMaxTextSide && h <= kMaxTextSide && w * h <= kMaxTextPixels;
}

// Shapes at the request's scale, halved until the picture keeps within the caps.
TShaped ShapeWithinCaps(TFontSystem& fonts, const TTextRequest& request, const TFontBytesLoader* loader) {
    double scale = std::isfinite(request.scale) && request.scale > 0.0 ? std::min(request.scale, 1e4) : 1.0;
    TShaped shaped = Shape(fonts, request, scale, loader);
    for (int i = 0; i < 64 && !WithinCaps(shaped.layout) && kTextNominalEm * scale > kMinPixelSize; ++i) {
        // Sizes scale with the font: jump to the last halving that may fit, then check.
        const double w = std::ceil(shaped.layout.textWidth) + 2.0;
        const double h = std::ceil(shaped.layout.textHeight) + 2.0;
        const double need =
            std::max({w / kMaxTextSide, h / kMaxTextSide, std::sqrt(w * h / kMaxTextPixels), 2.0});
        const int halvings = std::max(1, static_cast<int>(std::floor(std::log2(need))));
        scale = std::ldexp(scale, -halvings);
        shaped = Shape(fonts, request, scale, loader);
    }
    return shaped;
}

void Blend(std::uint8_t& alpha, int coverage) {
    const int a = alpha;
    alpha = static_cast<std::uint8_t>(a + coverage - (a * coverage + 127) / 255);
}

// A horizontal bar from x0 to x1 with its top at y (pixels, fractional rows partly covered).
void FillBar(TBitmap& bitmap, double x0, double x1, double y, double thickness) {
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    const int left = std::max(0, static_cast<int>(std::floor(x0)));
    const int right = std::min(w, static_cast<int>(std::ceil(x1)));
    for (int row = std::max(0, static_cast<int>(std::floor(y))); row < h && row < y + thickness; ++row) {
        const double cover = std::min<double>(row + 1, y + thickness) - std::max<double>(row, y);
        if (cover <= 0.0) continue;
        std::uint8_t* line = bitmap.Row(row);
        for (int x = left; x < right; ++x) {
            const double cx = std::min<double>(x + 1, x1) - std::max<double>(x, x0);
            Blend(line[4 * x + 3], static_cast<int>(std::lround(255.0 * cover * std::clamp(cx, 0.0, 1.0))));
        }
    }
}

} // namespace

std::string EncodeTextCase(std::string_view text) {
    std::string out;
    bool inRun = false;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        const char32_t code = DecodeUtf8(text, pos);
        const bool upper = FoldCodePoint(code) != code;
        if (upper != inRun) {
            out += upper ? '<' : '>';
            inRun = upper;
        }
        if (code == U'<' || code == U'>') out += static_cast<char>(code);
        out.append(text.substr(start, pos - start));
    }
    if (inRun) out += '>';
    return out;
}

std::string DecodeTextCase(std::string_view text) {
    std::string out;
    bool inRun = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inRun) {
            if (c == '>')
                inRun = false;
            else
                out += c;
        } else if ((c == '<' || c == '>') && i + 1 < text.size() && text[i + 1] == c) {
            out += c;
            ++i;
        } else if (c == '<') {
            inRun = true;
        } else {
            out += c;
        }
    }
    return out;
}

std::string TextPictureName(const TTextRequest& request) {
    auto number = [](double value) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.9g", std::isfinite(value) ? value : 0.0);
        return std::string(buffer);
    };
    std::string font = request.fontName;
    std::replace(font.begin(), font.end(), ':', ' ');
    std::string lines;
    for (std::size_t i = 0; i < request.lines.size(); ++i) {
        if (i) lines += '\n';
        lines += request.lines[i];
    }
    return std::string(kTextPrefix) + EncodeTextCase(font) + ":" + number(request.scale) + ":" +
           number(request.phaseX) + ":" + number(request.phaseY) + ":" + std::to_string(request.style) + ":" +
           std::to_string(request.align) + ":" + number(request.ratio) + ":" +
           std::to_string(request.lineSpacing) + ":" + EncodeTextCase(lines);
}

bool IsTextPictureName(std::string_view name) {
    return name.size() >= kTextPrefix.size() &&
           SameTextFolded(name.substr(0, kTextPrefix.size()), kTextPrefix);
}

bool ParseTextPictureName(std::string_view name, TTextRequest& request) {
    if (!IsTextPictureName(name)) return false;
    std::string_view rest = name.substr(kTextPrefix.size());
    std::string_view fields[8];
    for (auto& field : fields) {
        const std::size_t colon = rest.find(':');
        if (colon == std::string_view::npos) return false;
        field = rest.substr(0, colon);
        rest.remove_prefix(colon + 1);
    }
    auto real = [](std::string_view text, double& value) {
        const std::string copy(text);
        char* end = nullptr;
        value = std::strtod(copy.c_str(), &end);
        return !copy.empty() && end && *end == '\0' && std::isfinite(value);
    };
    auto integer = [](std::string_view text, int& value) {
        const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
        return result.ec == std::errc{} && result.ptr == text.data() + text.size();
    };
    TTextRequest parsed;
    parsed.fontName = DecodeTextCase(fields[0]);
    if (!real(fields[1], parsed.scale) || !real(fields[2], parsed.phaseX) ||
        !real(fields[3], parsed.phaseY) || !integer(fields[4], parsed.style) ||
        !integer(fields[5], parsed.align) || !real(fields[6], parsed.ratio) ||
        !integer(fields[7], parsed.lineSpacing))
        return false;
    const std::string lines = DecodeTextCase(rest);
    std::size_t pos = 0;
    while (true) {
        const std::size_t feed = lines.find('\n', pos);
        parsed.lines.push_back(lines.substr(pos, feed == std::string::npos ? std::string::npos : feed - pos));
        if (feed == std::string::npos) break;
        pos = feed + 1;
    }
    request = std::move(parsed);
    return true;
}

std::string SubstituteFontFamily(std::string_view family) {
    static const std::pair<std::string_view, std::string_view> kTable[] = {
        {"Arial", "Liberation Sans"},
        {"Helvetica", "Liberation Sans"},
        {"Times New Roman", "Liberation Serif"},
        {"Times", "Liberation Serif"},
        {"Courier New", "Liberation Mono"},
        {"Courier", "Liberation Mono"},
    };
    for (const auto& [from, to] : kTable)
        if (SameTextFolded(family, from)) return std::string(to);
    if (family.empty()) return "DejaVu Sans";
    return std::string(family);
}

namespace {

// The cells the glyphs cover: advance wide and line high.
void FillGlyphRects(const TShaped& shaped, const TTextRequest& request, TTextLayout& layout) {
    layout.glyphRects.clear();
    layout.glyphClusters.clear();
    for (std::size_t i = 0; i < shaped.lines.size(); ++i) {
        const TShapedLine& line = shaped.lines[i];
        double x0 = 1.0 + request.phaseX;
        if (request.align == kTextAlignCenter) x0 += (layout.textWidth - line.width) / 2.0;
        if (request.align == kTextAlignRight) x0 += layout.textWidth - line.width;
        const double top = 1.0 + request.phaseY + static_cast<double>(i) * shaped.pitch;
        for (const TPlacedGlyph& glyph : line.glyphs) {
            if (!(glyph.advance > 0.0)) continue;
            const double left = x0 + glyph.x;
            layout.glyphRects.push_back({static_cast<float>(left), static_cast<float>(top),
                                         static_cast<float>(left + glyph.advance),
                                         static_cast<float>(top + layout.lineHeight)});
            layout.glyphClusters.push_back(glyph.cluster);
        }
    }
}

} // namespace

TTextLayout LayoutText(const TTextRequest& request, const TFontBytesLoader* loader) {
    TFontSystem& fonts = TFontSystem::Instance();
    std::lock_guard<std::mutex> guard(fonts.lock);
    TShaped shaped = ShapeWithinCaps(fonts, request, loader);
    FillGlyphRects(shaped, request, shaped.layout);
    return shaped.layout;
}

TRef<TBitmap> RenderText(const TTextRequest& request, TTextLayout* layoutOut,
                         const TFontBytesLoader* loader) {
    TFontSystem& fonts = TFontSystem::Instance();
    std::lock_guard<std::mutex> guard(fonts.lock);
    TShaped shaped = ShapeWithinCaps(fonts, request, loader);
    const TTextLayout& layout = shaped.layout;
    if (!shaped.primary) return nullptr;
    auto bitmap = MakeRef<TBitmap>(layout.pictureWidth, layout.pictureHeight, TPixelFormat::Bgra32, false);
    for (int y = 0; y < bitmap->Height(); ++y) {
        std::uint8_t* row = bitmap->Row(y);
        for (int x = 0; x < bitmap->Width(); ++x) {
            row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = 255;
            row[4 * x + 3] = 0;
        }
    }
    const double phaseX = std::isfinite(request.phaseX) ? std::clamp(request.phaseX, 0.0, 1.0) : 0.0;
    const double phaseY = std::isfinite(request.phaseY) ? std::clamp(request.phaseY, 0.0, 1.0) : 0.0;
    const FT_Face primary = shaped.primary->face;
    const double unitsToPixels = shaped.size / 64.0 / std::max<int>(primary->units_per_EM, 1);
    for (std::size_t i = 0; i < shaped.lines.size(); ++i) {
        const TShapedLine& line = shaped.lines[i];
        double x0 = 1.0 + phaseX;
        if (request.align == kTextAlignCenter) x0 += (layout.textWidth - line.width) / 2.0;
        if (request.align == kTextAlignRight) x0 += layout.textWidth - line.width;
        const double baseline = 1.0 + phaseY + static_cast<double>(i) * shaped.pitch + layout.ascent;
        if (baseline - layout.ascent > bitmap->Height()) break;
        for (const TPlacedGlyph& glyph : line.glyphs) {
            const double penX = x0 + glyph.x;
            const double penY = baseline + glyph.y;
            if (penX > bitmap->Width() + 1.0) break;
            double ix = std::floor(penX);
            double iy = std::floor(penY);
            int qx = static_cast<int>(std::lround((penX - ix) * kPhaseSteps));
            int qy = static_cast<int>(std::lround((penY - iy) * kPhaseSteps));
            if (qx == kPhaseSteps) qx = 0, ix += 1.0;
            if (qy == kPhaseSteps) qy = 0, iy += 1.0;
            glyph.face->SetSize(shaped.size);
            // FreeType's y grows upward: a phase down the picture is a move down of the outline.
            const TGlyphImage* image = fonts.Glyph(*glyph.face, glyph.glyph, qx, qy);
            const int left = static_cast<int>(ix) + image->left;
            const int top = static_cast<int>(iy) - image->top;
            for (int y = 0; y < image->height; ++y) {
                const int by = top + y;
                if (by < 0 || by >= bitmap->Height()) continue;
                std::uint8_t* row = bitmap->Row(by);
                const std::uint8_t* src = &image->coverage[static_cast<std::size_t>(y) * image->width];
                for (int x = 0; x < image->width; ++x) {
                    const int bx = left + x;
                    if (bx < 0 || bx >= bitmap->Width() || src[x] == 0) continue;
                    Blend(row[4 * bx + 3], src[x]);
                }
            }
        }
        if (request.style & (kTextUnderline | kTextStrikeOut)) {
            const double thickness = std::max(1.0, primary->underline_thickness * unitsToPixels);
            if (request.style & kTextUnderline)
                FillBar(*bitmap, x0, x0 + line.width,
                        baseline - primary->underline_position * unitsToPixels - thickness / 2.0, thickness);
            if (request.style & kTextStrikeOut) {
                double position = layout.ascent * 0.3;
                if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(primary, FT_SFNT_OS2)))
                    if (os2->yStrikeoutPosition > 0) position = os2->yStrikeoutPosition * unitsToPixels;
                FillBar(*bitmap, x0, x0 + line.width, baseline - position - thickness / 2.0, thickness);
            }
        }
    }
    if (layoutOut) {
        *layoutOut = layout;
        FillGlyphRects(shaped, request, *layoutOut);
    }
    return bitmap;
}

std::size_t CachedGlyphCount() {
    TFontSystem& fonts = TFontSystem::Instance();
    std::lock_guard<std::mutex> guard(fonts.lock);
    return fonts.GlyphCount();
}

void ClearGlyphCache() {
    TFontSystem& fonts = TFontSystem::Instance();
    std::lock_guard<std::mutex> guard(fonts.lock);
    fonts.ClearGlyphs();
}

} // namespace kiv

#include "images/Placeholder.h"

#include "base/CaseFold.h"
#include "base/Log.h"
#include "base/Utf.h"
#include "package/FolderPath.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <mutex>

namespace kiv {

namespace {

constexpr int kPixelSize = 20;
constexpr int kFallbackWidth = 200;
constexpr int kFallbackHeight = 60;

// The default sans face, found through fontconfig on first use and kept for the process. FreeType
// faces are not thread-safe, so every use holds the mutex.
class TPlaceholderFont {
public:
    static TPlaceholderFont& Instance() {
        static TPlaceholderFont font;
        return font;
    }
    std::mutex& Mutex() { return mutex_; }
    FT_Face Face() const { return face_; }

    ~TPlaceholderFont() {
        if (face_) FT_Done_Face(face_);
        if (library_) FT_Done_FreeType(library_);
    }

private:
    TPlaceholderFont() {
        std::string file;
        int index = 0;
        if (!FindDefaultSans(file, index)) {
            TLog::Line("Placeholder picture: no sans font found, drawing it without text");
            return;
        }
        if (FT_Init_FreeType(&library_) != 0) {
            library_ = nullptr;
            return;
        }
        if (FT_New_Face(library_, file.c_str(), index, &face_) != 0 ||
            FT_Set_Pixel_Sizes(face_, 0, kPixelSize) != 0) {
            if (face_) FT_Done_Face(face_);
            face_ = nullptr;
            TLog::Line("Placeholder picture: cannot load font " + file);
        }
    }

    static bool FindDefaultSans(std::string& file, int& index) {
        FcConfig* config = FcInitLoadConfigAndFonts();
        if (!config) return false;
        bool found = false;
        if (FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"))) {
            FcConfigSubstitute(config, pattern, FcMatchPattern);
            FcDefaultSubstitute(pattern);
            FcResult result = FcResultNoMatch;
            if (FcPattern* match = FcFontMatch(config, pattern, &result)) {
                FcChar8* path = nullptr;
                if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path) {
                    file = reinterpret_cast<const char*>(path);
                    if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
                    found = true;
                }
                FcPatternDestroy(match);
            }
            FcPatternDestroy(pattern);
        }
        FcConfigDestroy(config);
        return found;
    }

    std::mutex mutex_;
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
};

struct TRgb {
    int red, green, blue;
};
constexpr TRgb kPaper{230, 230, 230};
constexpr TRgb kInk{100, 100, 100};

int Mix(int paper, int ink, int coverage) {
    return paper + (ink - paper) * coverage / 255;
}

// Walks the glyphs of a line with kerning: each glyph that loads with `loadFlags` is handed to
// `glyph(slot, penX)`, then the pen moves on by its advance. Returns the pen's end position.
template <class TGlyph>
int WalkLine(FT_Face face, std::string_view text, int x, FT_Int32 loadFlags, TGlyph&& glyph) {
    std::size_t pos = 0;
    FT_UInt previous = 0;
    while (pos < text.size()) {
        const char32_t code = DecodeUtf8(text, pos);
        const FT_UInt index = FT_Get_Char_Index(face, code);
        if (previous && index && FT_HAS_KERNING(face)) {
            FT_Vector kern{};
            if (FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &kern) == 0) x += kern.x >> 6;
        }
        previous = index;
        if (FT_Load_Glyph(face, index, loadFlags) != 0) continue;
        glyph(face->glyph, x);
        x += face->glyph->advance.x >> 6;
    }
    return x;
}

// The pen advance of a line in pixels.
int LineWidth(FT_Face face, std::string_view text) {
    return WalkLine(face, text, 0, FT_LOAD_DEFAULT, [](FT_GlyphSlot, int) {});
}

// Draws a line with its pen starting at (x, baseline); coverage blends ink over paper.
void DrawLine(FT_Face face, std::string_view text, int x, int baseline, TBitmap& bitmap) {
    WalkLine(face, text, x, FT_LOAD_RENDER, [&](FT_GlyphSlot slot, int x) {
        const FT_Bitmap& mask = slot->bitmap;
        if (mask.pixel_mode == FT_PIXEL_MODE_GRAY) {
            for (unsigned row = 0; row < mask.rows; ++row) {
                const int y = baseline - slot->bitmap_top + static_cast<int>(row);
                if (y < 0 || y >= bitmap.Height()) continue;
                const unsigned char* coverage = mask.buffer + static_cast<std::ptrdiff_t>(row) * mask.pitch;
                std::uint8_t* out = bitmap.Row(y);
                for (unsigned column = 0; column < mask.width; ++column) {
                    const int px = x + slot->bitmap_left + static_cast<int>(column);
                    if (px < 0 || px >= bitmap.Width() || coverage[column] == 0) continue;
                    std::uint8_t* pixel = out + px * 4;
                    pixel[0] = static_cast<std::uint8_t>(Mix(kPaper.blue, kInk.blue, coverage[column]));
                    pixel[1] = static_cast<std::uint8_t>(Mix(kPaper.green, kInk.green, coverage[column]));
                    pixel[2] = static_cast<std::uint8_t>(Mix(kPaper.red, kInk.red, coverage[column]));
                }
            }
        }
    });
}

void DrawFrame(TBitmap& bitmap) {
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    auto put = [&bitmap](int x, int y) {
        std::uint8_t* pixel = bitmap.Row(y) + x * 4;
        pixel[0] = kInk.blue;
        pixel[1] = kInk.green;
        pixel[2] = kInk.red;
        pixel[3] = 255;
    };
    for (int x = 0; x < width; ++x) {
        put(x, 0);
        put(x, height - 1);
    }
    for (int y = 0; y < height; ++y) {
        put(0, y);
        put(width - 1, y);
    }
}

TRef<TBitmap> DrawPlaceholder(const std::vector<std::string>& lines) {
    TPlaceholderFont& font = TPlaceholderFont::Instance();
    std::lock_guard lock(font.Mutex());
    FT_Face face = font.Face();
    TRef<TBitmap> bitmap;
    if (!face) {
        bitmap = MakeRef<TBitmap>(kFallbackWidth, kFallbackHeight, TPixelFormat::Bgra32, false);
        bitmap->Fill32(kPlaceholderBackground);
        DrawFrame(*bitmap);
        return bitmap;
    }
    const int lineHeight = std::max<int>(1, static_cast<int>(face->size->metrics.height >> 6));
    const int ascender = static_cast<int>(face->size->metrics.ascender >> 6);
    const int margin = lineHeight / 2;
    std::vector<int> widths;
    int textWidth = 0;
    for (const std::string& line : lines) {
        widths.push_back(LineWidth(face, line));
        textWidth = std::max(textWidth, widths.back());
    }
    // Very long names are cut at the largest picture side the decoders accept.
    const int width = std::min(textWidth + 2 * margin, 8192);
    const int height = static_cast<int>(lines.size()) * lineHeight + 2 * margin;
    bitmap = MakeRef<TBitmap>(width, height, TPixelFormat::Bgra32, false);
    bitmap->Fill32(kPlaceholderBackground);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int x = std::max(margin, (width - widths[i]) / 2);
        const int baseline = margin + static_cast<int>(i) * lineHeight + ascender;
        DrawLine(face, lines[i], x, baseline, *bitmap);
    }
    DrawFrame(*bitmap);
    return bitmap;
}

} // namespace

bool IsVideoName(std::string_view name) {
    static const char* const kVideoExtensions[] = {
        ".mp4", ".m4v", ".mov", ".avi",  ".wmv", ".asf", ".mkv", ".webm", ".mpg", ".mpeg", ".mpe", ".m2v",
        ".vob", ".ts",  ".mts", ".m2ts", ".flv", ".f4v", ".3gp", ".3g2",  ".ogv", ".divx", ".dv",  ".mxf"};
    const std::string file = LastComponent(BeforeSelector(name));
    const std::size_t dot = file.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string extension = FoldUtf8(std::string_view(file).substr(dot));
    return std::any_of(std::begin(kVideoExtensions), std::end(kVideoExtensions),
                       [&extension](const char* known) { return extension == known; });
}

std::vector<std::string> PlaceholderLines(std::string_view name, TPlaceholderKind kind, bool opened) {
    const bool video = kind == TPlaceholderKind::Video;
    std::string first;
    if (opened)
        first = video ? "Video load error:" : "Image load error:";
    else
        first = video ? "Video not found" : "Image not found";
    // Appending (rather than " " + text) keeps GCC 12's -Wrestrict false positive quiet at -O3.
    const auto padded = [](std::string_view text) {
        std::string line(1, ' ');
        line += text;
        line += ' ';
        return line;
    };
    return {padded(first), padded(LastComponent(BeforeSelector(name)))};
}

TRef<TBitmapStore> MakePlaceholderStore(std::string_view name, TPlaceholderKind kind, bool opened) {
    TRef<TBitmap> bitmap = DrawPlaceholder(PlaceholderLines(name, kind, opened));
    return MakeRef<TWrapperBitmapStore>(std::string(name), bitmap);
}

} // namespace kiv

// A face of a system family as fontconfig finds it, loaded with FreeType on its own (outside the
// vector-text renderer) at a pixel size: the reference that text tests and benchmarks compare with.
#pragma once

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <memory>
#include <string>

namespace kiv::test {

// A fontconfig configuration of our own, freed at exit so that leak checks stay quiet.
inline FcConfig* SystemFonts() {
    static std::unique_ptr<FcConfig, void (*)(FcConfig*)> config(FcInitLoadConfigAndFonts(),
                                                                 &FcConfigDestroy);
    return config.get();
}

// The file (and face index) fontconfig chooses for `family`; empty when none.
inline std::string SystemFontFile(const std::string& family, int* index = nullptr) {
    std::string path;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family.c_str()));
    FcConfigSubstitute(SystemFonts(), pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(SystemFonts(), pattern, &result);
    FcChar8* file = nullptr;
    if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        path = reinterpret_cast<const char*>(file);
        if (index && FcPatternGetInteger(match, FC_INDEX, 0, index) != FcResultMatch) *index = 0;
    }
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    return path;
}

class TSystemFace {
public:
    TSystemFace(const std::string& family, double pixels) {
        FT_Init_FreeType(&library_);
        int index = 0;
        const std::string file = SystemFontFile(family, &index);
        if (!file.empty() && FT_New_Face(library_, file.c_str(), index, &face_) != 0) face_ = nullptr;
        if (face_) FT_Set_Char_Size(face_, 0, std::lround(pixels * 64.0), 72, 72);
    }
    ~TSystemFace() {
        if (face_) FT_Done_Face(face_);
        FT_Done_FreeType(library_);
    }
    TSystemFace(const TSystemFace&) = delete;
    TSystemFace& operator=(const TSystemFace&) = delete;

    // Null when fontconfig found no file.
    FT_Face face() const { return face_; }
    double Advance(char32_t code) const {
        FT_Load_Glyph(face_, FT_Get_Char_Index(face_, code), FT_LOAD_NO_HINTING);
        return face_->glyph->advance.x / 64.0;
    }
    double Ascent() const { return face_->size->metrics.ascender / 64.0; }

private:
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
};

} // namespace kiv::test

#include "images/PngWriter.h"

#include "base/ReplacingFile.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

namespace kiv {

bool WritePngFile(const TBitmap& bitmap, const std::string& path) {
    // Written beside the output and renamed over it: a link at the name is replaced, not followed.
    TReplacingFile output(path);
    std::FILE* file = output.File();
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool written = false;
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_compression_level(png, 1);
        png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.Width()),
                     static_cast<png_uint_32>(bitmap.Height()), 8, PNG_COLOR_TYPE_RGB_ALPHA,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_set_bgr(png);
        for (int y = 0; y < bitmap.Height(); ++y)
            png_write_row(png, const_cast<png_bytep>(bitmap.Row(y)));
        png_write_end(png, nullptr);
        written = true;
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    return written && output.Commit();
}

} // namespace kiv

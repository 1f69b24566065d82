#include "PictureMaker.h"

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>

namespace kiv::test {

void TBytesStream::SetPosition(std::int64_t position) {
    if (position < 0) throw EStreamSeekError("negative position");
    position_ = position;
}

std::int32_t TBytesStream::Read(void* buffer, std::int32_t count) {
    const std::int64_t size = GetSize();
    if (count <= 0 || position_ >= size) return 0;
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, size - position_));
    std::memcpy(buffer, bytes_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

TRef<TBitmap> MakeGradient(int width, int height, bool alpha, bool noise) {
    auto bitmap = MakeRef<TBitmap>(width, height, TPixelFormat::Bgra32, false);
    std::mt19937 random(12345);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bitmap->Row(y);
        for (int x = 0; x < width; ++x) {
            const int n = noise ? static_cast<int>(random() % 9) - 4 : 0;
            row[4 * x] = static_cast<std::uint8_t>(std::clamp(x * 255 / std::max(width - 1, 1) + n, 0, 255));
            row[4 * x + 1] =
                static_cast<std::uint8_t>(std::clamp(y * 255 / std::max(height - 1, 1) + n, 0, 255));
            const double wave = 128 + 100 * std::sin(x / 17.0) * std::cos(y / 23.0);
            row[4 * x + 2] = static_cast<std::uint8_t>(std::clamp(static_cast<int>(wave) + n, 0, 255));
            row[4 * x + 3] = alpha ? static_cast<std::uint8_t>((x * 7 + y * 13) % 256) : 255;
        }
    }
    return bitmap;
}

namespace {

void Put16(TBytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(TBytes& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// Simple run-length encoding of one row: runs of equal indices, literal stretches of at least
// three pixels, and an end-of-line escape.
void EncodeRleRow(TBytes& out, const std::uint8_t* row, int width, bool four) {
    int x = 0;
    while (x < width) {
        int run = 1;
        while (x + run < width && run < 255 && row[x + run] == row[x])
            ++run;
        if (run >= 2 || width - x < 3) {
            out.push_back(static_cast<std::uint8_t>(run));
            out.push_back(four ? static_cast<std::uint8_t>((row[x] << 4) | row[x]) : row[x]);
            x += run;
            continue;
        }
        int literal = 0;
        while (x + literal < width && literal < 254 &&
               (x + literal + 1 >= width || row[x + literal] != row[x + literal + 1]))
            ++literal;
        if (literal < 3) literal = std::min(3, width - x);
        out.push_back(0);
        out.push_back(static_cast<std::uint8_t>(literal));
        std::size_t bytes = 0;
        if (four) {
            for (int i = 0; i < literal; i += 2) {
                const int hi = row[x + i], lo = i + 1 < literal ? row[x + i + 1] : 0;
                out.push_back(static_cast<std::uint8_t>((hi << 4) | lo));
                ++bytes;
            }
        } else {
            for (int i = 0; i < literal; ++i)
                out.push_back(row[x + i]);
            bytes = static_cast<std::size_t>(literal);
        }
        if (bytes & 1) out.push_back(0);
        x += literal;
    }
    out.push_back(0);
    out.push_back(0);
}

} // namespace

TBytes MakeBmp(const TBmpSpec& spec) {
    TBytes pixels;
    const int h = spec.height;
    if (spec.compression == 1 || spec.compression == 2) {
        for (int y = h - 1; y >= 0; --y)
            EncodeRleRow(pixels, spec.indices.data() + static_cast<std::size_t>(y) * spec.width, spec.width,
                         spec.compression == 2);
        pixels.push_back(0);
        pixels.push_back(1);
    } else {
        const std::size_t stride = ((static_cast<std::size_t>(spec.width) * spec.bits + 31) / 32) * 4;
        pixels.assign(stride * h, 0);
        for (int y = 0; y < h; ++y) {
            std::uint8_t* out = pixels.data() + stride * (spec.topDown ? y : h - 1 - y);
            for (int x = 0; x < spec.width; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * spec.width + x;
                if (spec.bits <= 8) {
                    const int shift = 8 - spec.bits * (x % (8 / spec.bits) + 1);
                    out[x * spec.bits / 8] |= static_cast<std::uint8_t>(spec.indices[i] << shift);
                } else {
                    const std::uint32_t v = spec.pixels[i];
                    for (int b = 0; b < spec.bits / 8; ++b)
                        out[x * spec.bits / 8 + b] = static_cast<std::uint8_t>(v >> (8 * b));
                }
            }
        }
    }
    TBytes info;
    Put32(info, static_cast<std::uint32_t>(spec.infoSize));
    Put32(info, static_cast<std::uint32_t>(spec.width));
    Put32(info, static_cast<std::uint32_t>(spec.topDown ? -h : h));
    Put16(info, 1);
    Put16(info, static_cast<std::uint32_t>(spec.bits));
    Put32(info, static_cast<std::uint32_t>(spec.compression));
    Put32(info, static_cast<std::uint32_t>(pixels.size()));
    Put32(info, 2835);
    Put32(info, 2835);
    Put32(info, static_cast<std::uint32_t>(spec.palette.size() / 3));
    Put32(info, 0);
    std::vector<std::uint32_t> masks = spec.masks;
    if (spec.infoSize > 40) {
        masks.resize(4, 0);
        for (std::uint32_t m : masks)
            Put32(info, m);
        info.resize(static_cast<std::size_t>(spec.infoSize), 0);
    } else {
        for (std::uint32_t m : masks)
            Put32(info, m);
    }
    TBytes palette;
    for (std::size_t i = 0; i + 2 < spec.palette.size(); i += 3) {
        palette.insert(palette.end(), spec.palette.begin() + static_cast<std::ptrdiff_t>(i),
                       spec.palette.begin() + static_cast<std::ptrdiff_t>(i) + 3);
        palette.push_back(0);
    }
    TBytes file = {'B', 'M'};
    const std::size_t offset = 14 + info.size() + palette.size();
    Put32(file, static_cast<std::uint32_t>(offset + pixels.size()));
    Put32(file, 0);
    Put32(file, static_cast<std::uint32_t>(offset));
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), palette.begin(), palette.end());
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

TBytes MakeBmp24(const TBitmap& picture) {
    TBmpSpec spec;
    spec.width = picture.Width();
    spec.height = picture.Height();
    spec.bits = 24;
    for (int y = 0; y < spec.height; ++y)
        for (int x = 0; x < spec.width; ++x) {
            const std::uint8_t* p = picture.Row(y) + 4 * x;
            spec.pixels.push_back(p[0] | (p[1] << 8) | (p[2] << 16));
        }
    return MakeBmp(spec);
}

TBytes DeflateRaw(const TBytes& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    TBytes out(deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

TBytes MakeZkgfx(const std::vector<std::pair<std::string, std::string>>& fields, const TBytes& pixelData) {
    TBytes out = {'Z', 'K', 'G', 'F'};
    Put16(out, static_cast<std::uint32_t>(fields.size()));
    for (const auto& [name, value] : fields)
        for (const std::string* text : {&name, &value}) {
            Put16(out, static_cast<std::uint32_t>(text->size()));
            out.insert(out.end(), text->begin(), text->end());
        }
    out.insert(out.end(), pixelData.begin(), pixelData.end());
    return out;
}

namespace {

// One compressor for both makers: rows come from `row`, an ICC profile is written when given.
TBytes CompressJpeg(int width, int height, int quality, bool progressive, const TBytes& icc,
                    const std::function<void(int y, std::uint8_t* bgra)>& row) {
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRA;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    if (!icc.empty()) jpeg_write_icc_profile(&info, icc.data(), static_cast<unsigned>(icc.size()));
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * 4);
    while (info.next_scanline < info.image_height) {
        row(static_cast<int>(info.next_scanline), pixels.data());
        JSAMPROW rows = pixels.data();
        jpeg_write_scanlines(&info, &rows, 1);
    }
    jpeg_finish_compress(&info);
    TBytes out(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

} // namespace

TBytes EncodeJpeg(const TBitmap& picture, int quality, const TBytes& icc) {
    const auto copyRow = [&picture](int y, std::uint8_t* bgra) {
        std::memcpy(bgra, picture.Row(y), static_cast<std::size_t>(picture.Width()) * 4);
    };
    return CompressJpeg(picture.Width(), picture.Height(), quality, false, icc, copyRow);
}

TBytes EncodeJpegRows(int width, int height, int quality, bool progressive,
                      const std::function<void(int y, std::uint8_t* bgra)>& row) {
    return CompressJpeg(width, height, quality, progressive, {}, row);
}

namespace {

void WriteToVector(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<TBytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}
void NoFlush(png_structp) {}

} // namespace

TBytes EncodePng(const TPngSpec& spec) {
    TBytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("PNG encoding failed");
    }
    png_set_write_fn(png, &out, WriteToVector, NoFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(spec.width), static_cast<png_uint_32>(spec.height),
                 spec.bitDepth, spec.colorType, spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (std::size_t i = 0; i + 2 < spec.palette.size(); i += 3)
        palette.push_back({spec.palette[i], spec.palette[i + 1], spec.palette[i + 2]});
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!spec.trans.empty())
        png_set_tRNS(png, info, spec.trans.data(), static_cast<int>(spec.trans.size()), nullptr);
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (const TBytes& row : spec.rows)
        rows.push_back(const_cast<png_bytep>(row.data()));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

namespace {

int WriteGif(GifFileType* gif, const GifByteType* data, int size) {
    auto* out = static_cast<TBytes*>(gif->UserData);
    out->insert(out->end(), data, data + size);
    return size;
}

} // namespace

TBytes EncodeGif(const TGifSpec& spec) {
    TBytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteGif, &error);
    EGifSetGifVersion(gif, true);
    std::vector<GifColorType> colors(256);
    for (std::size_t i = 0; i < 256 && 3 * i + 2 < spec.palette.size(); ++i)
        colors[i] = {spec.palette[3 * i], spec.palette[3 * i + 1], spec.palette[3 * i + 2]};
    ColorMapObject* map = GifMakeMapObject(256, colors.data());
    EGifPutScreenDesc(gif, spec.width, spec.height, 8, 0, map);
    if (spec.loopCount >= 0) {
        EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
        const unsigned char loop[3] = {1, static_cast<unsigned char>(spec.loopCount & 255),
                                       static_cast<unsigned char>(spec.loopCount >> 8)};
        EGifPutExtensionBlock(gif, 3, loop);
        EGifPutExtensionTrailer(gif);
    }
    for (const TGifFrameSpec& frame : spec.frames) {
        GraphicsControlBlock control{};
        control.DisposalMode = frame.disposal;
        control.DelayTime = frame.delay;
        control.TransparentColor = frame.transparent;
        GifByteType extension[4];
        const std::size_t length = EGifGCBToExtension(&control, extension);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension);
        EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, frame.interlaced, nullptr);
        auto line = [&](int y) {
            EGifPutLine(
                gif,
                const_cast<GifPixelType*>(frame.indices.data() + static_cast<std::size_t>(y) * frame.width),
                frame.width);
        };
        if (frame.interlaced) {
            static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int y = kStart[pass]; y < frame.height; y += kStep[pass])
                    line(y);
        } else {
            for (int y = 0; y < frame.height; ++y)
                line(y);
        }
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

} // namespace kiv::test

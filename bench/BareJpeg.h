// The reference the picture benchmarks measure against: one JPEG decoded by libjpeg-turbo alone
// into BGRA at 1 / denominator of its size, nothing else done with it.
#pragma once

#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kiv::bench {

inline void BareJpegDecode(const std::vector<std::uint8_t>& file, unsigned denominator) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRA;
    info.scale_num = 1;
    info.scale_denom = denominator;
    jpeg_start_decompress(&info);
    const std::size_t stride = std::size_t{info.output_width} * 4;
    auto pixels = std::make_unique_for_overwrite<std::uint8_t[]>(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.get() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    benchmark::DoNotOptimize(pixels.get());
}

} // namespace kiv::bench

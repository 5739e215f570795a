#pragma once
// The 6000 x 4000 picture the JPEG benchmarks share (a Kodak photo scaled up, or a smooth synthetic
// one without the corpus), and bare libjpeg-turbo encoding and decoding as the reference.

#include "imaging/Image.h"
#include "imaging/Types.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace benchjpeg {

using namespace imaging;

inline constexpr uint32_t kWidth = 6000, kHeight = 4000;
inline constexpr int kQuality = 90;
inline const int32_t kStride = DefaultStride(kWidth, PixelFormat24bppRGB);

/// The picture as 24bppRGB rows (B, G, R), kStride bytes apart.
inline std::vector<uint8_t> SamplePixels() {
    std::vector<uint8_t> out(size_t(kStride) * kHeight);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    const std::string kodak = std::string(ZERIMO_CORPUS) + "/kodak/23.png";
    std::vector<uint8_t> src;
    if (png_image_begin_read_from_file(&png, kodak.c_str())) {
        png.format = PNG_FORMAT_BGR;
        src.resize(PNG_IMAGE_SIZE(png));
        if (!png_image_finish_read(&png, nullptr, src.data(), 0, nullptr)) src.clear();
    }
    if (src.empty()) {
        std::fprintf(stderr, "no Kodak photo at %s: using a synthetic picture\n", kodak.c_str());
        for (uint32_t y = 0; y < kHeight; ++y) {
            uint8_t* row = out.data() + size_t(y) * kStride;
            for (uint32_t x = 0; x < kWidth; ++x) {
                row[x * 3] = uint8_t(128 + 100 * std::sin(x / 300.0) * std::cos(y / 200.0));
                row[x * 3 + 1] = uint8_t(x * 255 / kWidth);
                row[x * 3 + 2] = uint8_t(y * 255 / kHeight);
            }
        }
        return out;
    }
    // Bilinear enlargement.
    const uint32_t sw = png.width, sh = png.height;
    for (uint32_t y = 0; y < kHeight; ++y) {
        const double fy = std::max(0.0, (y + 0.5) * sh / kHeight - 0.5);
        const uint32_t y0 = std::min(uint32_t(fy), sh - 1), y1 = std::min(y0 + 1, sh - 1);
        const double wy = fy - y0;
        uint8_t* row = out.data() + size_t(y) * kStride;
        for (uint32_t x = 0; x < kWidth; ++x) {
            const double fx = std::max(0.0, (x + 0.5) * sw / kWidth - 0.5);
            const uint32_t x0 = std::min(uint32_t(fx), sw - 1), x1 = std::min(x0 + 1, sw - 1);
            const double wx = fx - x0;
            for (int c = 0; c < 3; ++c) {
                auto at = [&](uint32_t xx, uint32_t yy) {
                    return double(src[(size_t(yy) * sw + xx) * 3 + c]);
                };
                const double v = (at(x0, y0) * (1 - wx) + at(x1, y0) * wx) * (1 - wy) +
                                 (at(x0, y1) * (1 - wx) + at(x1, y1) * wx) * wy;
                row[x * 3 + c] = uint8_t(v + 0.5);
            }
        }
    }
    return out;
}

/// Bare libjpeg-turbo: quality 90, 4:2:0, BGR rows straight in.
inline std::vector<uint8_t> EncodeBare(const uint8_t* pixels) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = kWidth;
    c.image_height = kHeight;
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, kQuality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + size_t(c.next_scanline) * kStride);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> out(buf, buf + size);
    std::free(buf);
    return out;
}

/// Bare libjpeg-turbo: BGR into a freshly allocated buffer, as a decoder that owns its result does.
inline std::unique_ptr<uint8_t[], FreeDeleter> DecodeBare(const std::vector<uint8_t>& jpeg) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d);
    const int32_t stride = DefaultStride(d.output_width, PixelFormat24bppRGB);
    std::unique_ptr<uint8_t[], FreeDeleter> out(
        static_cast<uint8_t*>(std::malloc(size_t(stride) * d.output_height)));
    while (d.output_scanline < d.output_height) {
        JSAMPROW rows[16];
        const JDIMENSION n = std::min<JDIMENSION>(16, d.output_height - d.output_scanline);
        for (JDIMENSION i = 0; i < n; ++i) rows[i] = out.get() + size_t(d.output_scanline + i) * stride;
        jpeg_read_scanlines(&d, rows, n);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return out;
}

} // namespace benchjpeg

#pragma once
// Small helpers the image-layer tests share.

#include "imaging/Image.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testsupport {

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// The active frame as 0xAARRGGBB values, top row first; empty when it cannot be locked.
inline std::vector<imaging::ARGB> ReadARGB(imaging::Image& img) {
    using namespace imaging;
    BitmapData d;
    std::vector<ARGB> out;
    if (img.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d) != Ok) return out;
    out.resize(size_t(d.Width) * d.Height);
    for (uint32_t y = 0; y < d.Height; ++y)
        std::memcpy(&out[size_t(y) * d.Width], static_cast<const uint8_t*>(d.Scan0) + int64_t(y) * d.Stride,
                    4 * size_t(d.Width));
    img.UnlockBits(&d);
    return out;
}

} // namespace testsupport

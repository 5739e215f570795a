#include "quant/PixelBridge.h"

#include <cstdio>
#include <cstring>

namespace zerimo {

using namespace imaging;

bool ReadArgbPixels(Image& image, std::vector<ARGB>& pixels, int& semiTransparentCount,
                    int& transparentPixelIndex, ARGB& transparentColor, uint8_t alphaThreshold,
                    uint32_t colorCount) {
    transparentPixelIndex = -1;
    ColorPalette palette;
    if (IsIndexedPixelFormat(image.GetPixelFormat())) {
        palette.Entries.assign(size_t(1) << GetPixelFormatSize(image.GetPixelFormat()), 0);
        ColorPalette actual;
        if (image.GetPalette(&actual) == Ok)
            for (size_t i = 0; i < actual.Entries.size() && i < palette.Entries.size(); ++i)
                palette.Entries[i] = actual.Entries[i];
    }
    bool paletteTransparency = false;
    if (colorCount > 2) {
        const StoredProperty* item = image.FindProperty(PropertyTagIndexTransparent);
        if (item && !item->value.empty()) {
            const size_t k = item->value[0];
            const ARGB entry = k < palette.Entries.size() ? palette.Entries[k] : 0;
            transparentColor = entry & 0x00FFFFFF;
            if (k < palette.Entries.size()) palette.Entries[k] &= 0x00FFFFFF;
            paletteTransparency = true;
        }
    }

    BitmapData data;
    if (image.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data) != Ok) return false;
    semiTransparentCount = 0;
    const uint32_t w = data.Width, h = data.Height;
    if (pixels.size() < size_t(w) * h) pixels.resize(size_t(w) * h);
    size_t i = 0;
    for (uint32_t y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(data.Scan0) +
                                                            int64_t(y) * data.Stride);
        for (uint32_t x = 0; x < w; ++x, ++i) {
            ARGB v = row[x];
            const uint32_t a = v >> 24;
            bool transparent = false;
            if (paletteTransparency && (v & 0x00FFFFFF) == (transparentColor & 0x00FFFFFF)) {
                v &= 0x00FFFFFF;
                transparent = true;
            } else if (a == 0) {
                transparent = true;
            } else if (a < 0xE0 && a > alphaThreshold) {
                ++semiTransparentCount;
            }
            if (transparent) {
                transparentPixelIndex = int(i);
                if (colorCount > 2)
                    transparentColor = v;
                else
                    v = transparentColor;
            }
            pixels[i] = v;
        }
    }
    return image.UnlockBits(&data) == Ok;
}

bool WriteIndexedImage(Image& target, const ColorPalette& palette, const std::vector<uint16_t>& indices,
                       bool markTransparent) {
    bool ok = true;
    if (markTransparent) {
        uint8_t zero = 0;
        PropertyItem item;
        item.id = PropertyTagIndexTransparent;
        item.type = PropertyTagTypeByte;
        item.length = 1;
        item.value = &zero;
        if (target.SetPropertyItem(item) != Ok) ok = false;
    }
    if (target.SetPalette(palette) != Ok) ok = false;
    BitmapData data;
    if (target.LockBits(nullptr, ImageLockModeWrite, target.GetPixelFormat(), &data) != Ok) {
        std::fputs("Cannot write image\n", stderr);
        return false;
    }
    const uint32_t bpp = GetPixelFormatSize(data.PixelFormat);
    const uint32_t w = data.Width, h = data.Height;
    size_t i = 0;
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
        for (uint32_t x = 0; x < w; ++x, ++i) {
            const uint8_t v = i < indices.size() ? uint8_t(indices[i]) : 0;
            if (bpp == 1) {
                const uint8_t mask = uint8_t(0x80 >> (x & 7));
                if (v)
                    row[x / 8] |= mask;
                else
                    row[x / 8] &= uint8_t(~mask);
            } else if (bpp == 4) {
                uint8_t& b = row[x / 2];
                b = (x & 1) == 0 ? uint8_t((v << 4) | (b & 0x0F)) : uint8_t((b & 0xF0) | (v & 0x0F));
            } else if (bpp == 8) {
                row[x] = v;
            }
        }
    }
    if (target.UnlockBits(&data) != Ok) ok = false;
    return ok;
}

bool WriteHighColorImage(Image& target, const std::vector<uint32_t>& values, bool hasSemiTransparency,
                         int transparentPixelIndex) {
    PixelFormat format = target.GetPixelFormat();
    if (GetPixelFormatSize(format) < 16) return false;
    bool ok = true;
    // The stored format follows the packing of the values (ARGB, ARGB1555 or RGB565), so a target
    // that already has it keeps it.
    PixelFormat wanted = PixelFormat16bppRGB565;
    if (hasSemiTransparency)
        wanted = PixelFormat32bppARGB;
    else if (transparentPixelIndex >= 0)
        wanted = PixelFormat16bppARGB1555;
    if (wanted != format && target.ConvertFormat(wanted, DitherTypeNone, PaletteTypeCustom, nullptr, 0) != Ok)
        ok = false;
    BitmapData data;
    if (target.LockBits(nullptr, ImageLockModeWrite, target.GetPixelFormat(), &data) != Ok) {
        std::fputs("Cannot write image\n", stderr);
        return false;
    }
    const uint32_t bpp = GetPixelFormatSize(data.PixelFormat);
    const uint32_t w = data.Width, h = data.Height;
    size_t i = 0;
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
        for (uint32_t x = 0; x < w; ++x, ++i) {
            const uint32_t v = i < values.size() ? values[i] : 0;
            if (bpp == 32) {
                row[4 * x] = uint8_t(v);
                row[4 * x + 1] = uint8_t(v >> 8);
                row[4 * x + 2] = uint8_t(v >> 16);
                row[4 * x + 3] = uint8_t(v >> 24);
            } else if (bpp == 16) {
                row[2 * x] = uint8_t(v);
                row[2 * x + 1] = uint8_t(v >> 8);
            } else {
                row[x] = uint8_t(v);
            }
        }
    }
    if (target.UnlockBits(&data) != Ok) ok = false;
    return ok;
}

} // namespace zerimo

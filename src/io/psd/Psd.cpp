// The composite image is decoded plane by plane (raw or PackBits) into memory and then converted
// pixel by pixel into the 24 bpp picture; only the planes the colour mode uses are kept.
#include "io/psd/Psd.h"

#include "imaging/Bytes.h"
#include "io/ReaderMemory.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace zerimo {
namespace {

using namespace imaging;

enum Mode : uint16_t {
    Grayscale = 1,
    Indexed = 2,
    RGB = 3,
    CMYK = 4,
    Multichannel = 7,
    Duotone = 8,
    Lab = 9,
};

/// A bounded big-endian reader over the file.
struct Cursor {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;

    size_t Left() const { return size - pos; }
    bool Skip(uint64_t n) {
        if (n > Left()) return false;
        pos += size_t(n);
        return true;
    }
    bool U16(uint16_t& v) {
        if (Left() < 2) return false;
        v = uint16_t((data[pos] << 8) | data[pos + 1]);
        pos += 2;
        return true;
    }
    bool U32(uint32_t& v) {
        if (Left() < 4) return false;
        v = ReadBE32(data + pos);
        pos += 4;
        return true;
    }
};

/// Steps over the image resources block by block; valid when the blocks fill the section exactly.
bool SkipResources(Cursor& c) {
    uint32_t length;
    if (!c.U32(length) || length > c.Left()) return false;
    Cursor s{c.data + c.pos, length};
    while (s.pos < s.size) {
        if (s.Left() < 4) return false;
        const bool signature = std::memcmp(s.data + s.pos, "8BIM", 4) == 0;
        s.pos += 4;
        if (!signature) continue; // not a block: look for the next signature
        uint16_t id;
        if (!s.U16(id) || s.Left() < 1) return false;
        const unsigned nameLength = s.data[s.pos];
        uint32_t dataSize;
        if (!s.Skip(1 + nameLength + (nameLength % 2 == 0 ? 1 : 0)) || !s.U32(dataSize) ||
            !s.Skip(uint64_t(dataSize) + (dataSize & 1)))
            return false;
    }
    c.pos += length;
    return true;
}

/// Decodes one PackBits plane of `n` bytes; a packet that reaches past the plane is cut at its end.
bool UnpackBits(Cursor& c, uint8_t* out, size_t n) {
    const uint8_t* p = c.data + c.pos;
    const uint8_t* end = c.data + c.size;
    size_t got = 0;
    while (got < n) {
        if (p >= end) return false;
        const uint8_t h = *p++;
        if (h < 128) {
            const size_t count = size_t(h) + 1;
            if (size_t(end - p) < count) return false;
            const size_t k = std::min(count, n - got);
            std::memcpy(out + got, p, k);
            p += count;
            got += k;
        } else if (h > 128) {
            if (p >= end) return false;
            const size_t k = std::min<size_t>(257 - h, n - got);
            std::memset(out + got, *p++, k);
            got += k;
        }
    }
    c.pos = size_t(p - c.data);
    return true;
}

uint8_t Clamp255(double v) {
    return uint8_t(std::clamp(v, 0.0, 255.0));
}

/// One ink channel as the file stores it (inverted), with the divisor of `full` levels.
struct Ink {
    double full;
    double operator()(uint32_t s) const { return 1.0 - double(s) / full; }
    uint8_t Channel(double ink, double k) const {
        return Clamp255(std::floor((1.0 - (ink * (1.0 - k) + k)) * 255.0 + 0.5));
    }
};

double LabInverse(double t) {
    const double t3 = t * t * t;
    return t3 > 0.008856 ? t3 : (t - 16.0 / 116.0) / 7.787;
}

uint8_t LabChannel(double v) {
    v = v > 0.0031308 ? 1.055 * std::pow(v, 1 / 2.4) - 0.055 : 12.92 * v;
    const double scaled = std::trunc(v * 256.0);
    return scaled < 0 ? 0 : scaled >= 256 ? 255 : uint8_t(scaled);
}

/// Writes B, G, R of a Lab sample triple.
void LabToBgr(uint32_t s0, uint32_t s1, uint32_t s2, float full, uint8_t* bgr) {
    const int L = int(float(s0) / (full / 100.0f));
    const int a = int(float(s1) / (full / 256.0f) - 128.0f);
    const int b = int(float(s2) / (full / 256.0f) - 128.0f);
    const double fy = (L + 16) / 116.0;
    const double fx = a / 500.0 + fy;
    const double fz = fy - b / 200.0;
    const double X = LabInverse(fx) * 95.047 / 100, Y = LabInverse(fy) * 100 / 100,
                 Z = LabInverse(fz) * 108.883 / 100;
    bgr[2] = LabChannel(3.2406 * X - 1.5372 * Y - 0.4986 * Z);
    bgr[1] = LabChannel(-0.9689 * X + 1.8758 * Y + 0.0415 * Z);
    bgr[0] = LabChannel(0.0557 * X - 0.2040 * Y + 1.0570 * Z);
}

} // namespace

std::shared_ptr<Image> DecodePsd(const uint8_t* data, size_t size) {
    if (!data || size < 26) return nullptr;
    Cursor c{data, size};
    if (std::memcmp(data, "8BPS", 4) != 0 || data[4] != 0 || data[5] != 1) return nullptr;
    if (std::any_of(data + 6, data + 12, [](uint8_t b) { return b != 0; })) return nullptr;
    const unsigned channels = (unsigned(data[12]) << 8) | data[13];
    const uint32_t height = ReadBE32(data + 14);
    const uint32_t width = ReadBE32(data + 18);
    const unsigned depth = (unsigned(data[22]) << 8) | data[23];
    const unsigned mode = (unsigned(data[24]) << 8) | data[25];
    c.pos = 26;

    uint32_t colourLength;
    if (!c.U32(colourLength) || colourLength > c.Left()) return nullptr;
    const uint8_t* colourData = data + c.pos;
    c.pos += colourLength;
    uint32_t layerLength;
    uint16_t compression;
    if (!SkipResources(c) || !c.U32(layerLength) || !c.Skip(layerLength) || !c.U16(compression))
        return nullptr;
    if (compression > 1 || (depth != 8 && depth != 16)) return nullptr;
    if (width == 0 || height == 0 || channels == 0 || uint64_t(width) * height > MaxFramePixels)
        return nullptr;

    // The planes each mode reads; Multichannel needs three for a picture and takes a fourth as black.
    unsigned used;
    switch (mode) {
    case Grayscale:
    case Duotone:
    case Indexed:
        used = 1;
        break;
    case RGB:
    case Lab:
        used = 3;
        break;
    case CMYK:
        used = 4;
        break;
    case Multichannel:
        if (compression == 0) return nullptr; // raw multichannel data is not supported
        used = std::min(channels, 4u);
        break;
    default:
        return nullptr;
    }
    const bool raw = compression == 0;
    if (raw && (mode == RGB || mode == Lab) && channels != 3) return nullptr;
    if (used > channels) return nullptr;

    const size_t n = size_t(width) * height;
    const size_t e = depth / 8;
    const size_t planeBytes = n * e;
    // Raw planes must all be there; PackBits turns two bytes into at most 128.
    if (raw) {
        const unsigned expected = (mode == RGB || mode == Lab) ? 3 : channels;
        if (uint64_t(planeBytes) * expected > c.Left()) return nullptr;
    } else {
        if (!c.Skip(uint64_t(channels) * height * 2)) return nullptr;
        if (uint64_t(planeBytes) * used > uint64_t(c.Left()) * 64) return nullptr;
    }

    // Raw planes are read where they lie in the file; PackBits planes are unpacked first.
    const uint8_t* p[4] = {};
    ByteBuffer unpacked;
    if (raw) {
        for (unsigned k = 0; k < used; ++k) p[k] = data + c.pos + planeBytes * k;
    } else {
        if (!AllocateBytes(unpacked, planeBytes * used)) return nullptr;
        for (unsigned k = 0; k < used; ++k) {
            uint8_t* out = unpacked.data.get() + planeBytes * k;
            if (!UnpackBits(c, out, planeBytes)) return nullptr;
            p[k] = out;
        }
    }

    Frame frame;
    if (AllocatePixels(frame.pixels, width, height, PixelFormat24bppRGB, false) != Ok) return nullptr;
    Surface& px = frame.pixels;
    ClearRowPadding(px, size_t(width) * 3);
    // The high byte of a 16-bit big-endian sample comes first.
    auto sample = [&](unsigned k, size_t i) -> uint32_t {
        return e == 1 ? p[k][i] : (uint32_t(p[k][2 * i]) << 8) | p[k][2 * i + 1];
    };
    auto high = [&](unsigned k, size_t i) -> uint8_t { return p[k][i * e]; };
    const Ink ink{depth == 8 ? 256.0 : 65536.0};
    const float full = depth == 8 ? 256.0f : 65536.0f;
    const bool palette = mode == Indexed && depth == 8 && colourLength >= 768;

    // One loop per mode, so the per-pixel work carries no mode test.
    auto fill = [&](auto&& convert) {
        for (uint32_t y = 0; y < height; ++y) {
            uint8_t* row = px.Row(y);
            const size_t base = size_t(y) * width;
            for (uint32_t x = 0; x < width; ++x, row += 3) convert(base + x, row);
        }
    };
    switch (mode) {
    case Grayscale:
    case Duotone:
        fill([&](size_t i, uint8_t* bgr) { bgr[0] = bgr[1] = bgr[2] = high(0, i); });
        break;
    case Indexed:
        if (palette)
            fill([&](size_t i, uint8_t* bgr) {
                const uint8_t v = p[0][i];
                bgr[2] = colourData[v];
                bgr[1] = colourData[256 + v];
                bgr[0] = colourData[512 + v];
            });
        else
            fill([](size_t, uint8_t* bgr) { bgr[0] = bgr[1] = bgr[2] = 255; });
        break;
    case RGB:
        fill([&](size_t i, uint8_t* bgr) {
            bgr[2] = high(0, i);
            bgr[1] = high(1, i);
            bgr[0] = high(2, i);
        });
        break;
    case CMYK:
    case Multichannel:
        if (used < 3)
            fill([](size_t, uint8_t* bgr) { bgr[0] = bgr[1] = bgr[2] = 255; });
        else
            fill([&](size_t i, uint8_t* bgr) {
                const double k = used >= 4 ? ink(sample(3, i)) : 0.0;
                bgr[2] = ink.Channel(ink(sample(0, i)), k);
                bgr[1] = ink.Channel(ink(sample(1, i)), k);
                bgr[0] = ink.Channel(ink(sample(2, i)), k);
            });
        break;
    case Lab:
        fill([&](size_t i, uint8_t* bgr) { LabToBgr(sample(0, i), sample(1, i), sample(2, i), full, bgr); });
        break;
    }
    auto img = Image::FromFrames(std::move(frame), ImageFormatMemoryBMP, {}, nullptr);
    return Image::Usable(img) ? img : nullptr;
}

std::shared_ptr<Image> ReadPsd(const std::string& path) {
    ByteBuffer bytes;
    if (!ReadFileBytes(path, bytes)) return nullptr;
    return DecodePsd(bytes.data.get(), bytes.size);
}

} // namespace zerimo

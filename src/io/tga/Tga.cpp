// TGA decoding works row by row: the input values of one row are gathered (RLE packets may run
// on into the next row), then turned into output pixels and mirrored when the file says so.
#include "io/tga/Tga.h"

#include "imaging/Bytes.h"
#include "io/ReaderMemory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace zerimo {
namespace {

using namespace imaging;

constexpr PROPID kTagArtist = 0x013B;
constexpr PROPID kTagDateTime = 0x0132;
constexpr size_t kExtensionSize = 495;
constexpr size_t kFooterSize = 26;

enum class Kind { ColourMapped, TrueColour, Grey };

struct Header {
    uint8_t idLength, mapType, imageType;
    uint16_t mapFirst, mapLength;
    uint8_t mapEntryBits;
    uint16_t width, height;
    uint8_t depth, descriptor;
};

/// The extension area, when the footer points at a complete one.
const uint8_t* FindExtension(const uint8_t* data, size_t size) {
    if (size < 44) return nullptr;
    const uint8_t* footer = data + size - kFooterSize;
    if (std::memcmp(footer + 8, "TRUEVISION-XFILE.", 18) != 0) return nullptr; // with its zero byte
    const uint64_t offset = ReadLE32(footer);
    if (offset <= 17 || uint64_t(size) < offset + kExtensionSize + kFooterSize) return nullptr;
    if (ReadLE16(data + offset) < kExtensionSize) return nullptr;
    return data + offset;
}

/// The output format for a true-colour value of `bits` bits, or 0 when unsupported.
PixelFormat TrueColourFormat(unsigned bits, unsigned alphaBits, int alphaType) {
    switch (bits) {
    case 15:
        return alphaBits == 0 ? PixelFormat16bppRGB555 : 0;
    case 16:
        return alphaBits <= 1 || alphaType == 0 ? PixelFormat16bppRGB555 : 0;
    case 24:
        return alphaBits == 0 ? PixelFormat24bppRGB : 0;
    case 32:
        if (alphaBits == 0 || alphaType == 0) return PixelFormat32bppRGB;
        if (alphaBits == 8 && alphaType == 3) return PixelFormat32bppARGB;
        if (alphaBits == 8 && alphaType == 4) return PixelFormat32bppPARGB;
        return 0;
    default:
        return 0;
    }
}

/// A zero-terminated text field of 41 bytes: present when it ends in a zero and holds a byte that
/// is neither zero nor a space before its end.
bool TextField(const uint8_t* field, std::string& out) {
    if (field[40] != 0) return false;
    out.assign(reinterpret_cast<const char*>(field));
    return std::any_of(out.begin(), out.end(), [](char c) { return c != ' '; });
}

void AddText(Image& img, PROPID id, const std::string& text) {
    StoredProperty p{id, PropertyTagTypeASCII, {}};
    p.value.assign(text.begin(), text.end());
    p.value.push_back(0);
    img.SetProperty(std::move(p));
}

void AddExtensionProperties(Image& img, const uint8_t* ext) {
    std::string text;
    if (TextField(ext + 2, text)) AddText(img, kTagArtist, text);

    const uint8_t* stamp = ext + 367;
    if (std::any_of(stamp, stamp + 12, [](uint8_t b) { return b != 0; })) {
        char buf[64];
        const int n = std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", ReadLE16(stamp + 4),
                                    ReadLE16(stamp), ReadLE16(stamp + 2), ReadLE16(stamp + 6),
                                    ReadLE16(stamp + 8), ReadLE16(stamp + 10));
        if (n == 19) AddText(img, kTagDateTime, buf);
    }

    if (TextField(ext + 426, text)) {
        const unsigned version = ReadLE16(ext + 467);
        if (version != 0) {
            char buf[32];
            std::snprintf(buf, sizeof buf, " %u.%u", version / 100, version % 100);
            text += buf;
            const char letter = char(ext[469]);
            if (letter != ' ' && letter != 0) text += letter;
        }
        if (text.size() > 48) text.resize(48);
        AddText(img, PropertyTagSoftwareUsed, text);
    }
}

/// The pixel values of the image in file order, raw or run-length encoded; RLE packets carry on
/// across rows.
class ValueReader {
  public:
    ValueReader(const uint8_t* data, size_t size, size_t pos, unsigned bytes, bool rle)
        : data_(data), size_(size), pos_(pos), b_(bytes), rle_(rle) {}

    /// Writes the next `count` values to `out`; false when the data ends first.
    bool Next(uint8_t* out, size_t count) {
        if (!rle_) {
            const size_t n = count * b_;
            if (size_ - pos_ < n) return false;
            std::memcpy(out, data_ + pos_, n);
            pos_ += n;
            return true;
        }
        while (count > 0) {
            if (left_ == 0) {
                if (pos_ >= size_) return false;
                const uint8_t h = data_[pos_++];
                left_ = (h & 0x7F) + 1u;
                run_ = (h & 0x80) != 0;
            }
            const size_t n = std::min<size_t>(left_, count);
            if (run_) {
                if (size_ - pos_ < b_) return false;
                const uint8_t* v = data_ + pos_;
                for (size_t i = 0; i < n; ++i, out += b_) std::memcpy(out, v, b_);
                if (n == left_) pos_ += b_;
            } else {
                if (size_ - pos_ < n * b_) return false;
                std::memcpy(out, data_ + pos_, n * b_);
                pos_ += n * b_;
                out += n * b_;
            }
            left_ -= unsigned(n);
            count -= n;
        }
        return true;
    }

  private:
    const uint8_t* data_;
    size_t size_, pos_;
    unsigned b_;
    bool rle_;
    unsigned left_ = 0;
    bool run_ = false;
};

void MirrorRow(uint8_t* row, uint32_t width, unsigned o) {
    uint8_t tmp[4];
    for (uint32_t a = 0, b = width - 1; a < b; ++a, --b) {
        std::memcpy(tmp, row + a * o, o);
        std::memcpy(row + a * o, row + b * o, o);
        std::memcpy(row + b * o, tmp, o);
    }
}

} // namespace

std::shared_ptr<Image> DecodeTga(const uint8_t* data, size_t size) {
    if (!data || size <= 17) return nullptr;
    Header h{data[0],
             data[1],
             data[2],
             ReadLE16(data + 3),
             ReadLE16(data + 5),
             data[7],
             ReadLE16(data + 12),
             ReadLE16(data + 14),
             data[16],
             data[17]};
    size_t pos = 18 + size_t(h.idLength);
    const uint8_t* map = nullptr;
    const unsigned mapEntryBytes = (h.mapEntryBits + 7u) / 8u;
    if (h.mapType == 1) {
        const size_t mapBytes = size_t(h.mapLength) * mapEntryBytes;
        if (pos > size || size - pos < mapBytes) return nullptr;
        map = data + pos;
        pos += mapBytes;
    }
    if (pos > size) return nullptr;

    const uint8_t* ext = FindExtension(data, size);
    int alphaType = 3;
    if (ext) alphaType = ext[494] == 3 || ext[494] == 4 ? ext[494] : 0;
    const unsigned alphaBits = h.descriptor & 0x0F;

    Kind kind;
    PixelFormat format = 0;
    switch (h.imageType) {
    case 1:
    case 9:
        kind = Kind::ColourMapped;
        if (h.mapType == 1 && (h.depth == 8 || h.depth == 16))
            format = TrueColourFormat(h.mapEntryBits, alphaBits, alphaType);
        break;
    case 2:
    case 10:
        kind = Kind::TrueColour;
        format = TrueColourFormat(h.depth, alphaBits, alphaType);
        break;
    case 3:
    case 11:
        kind = Kind::Grey;
        if (h.depth == 8 && alphaBits == 0) format = PixelFormat24bppRGB;
        break;
    default:
        return nullptr;
    }
    if (format == 0 || h.width == 0 || h.height == 0) return nullptr;
    const unsigned b = (h.depth + 7u) / 8u;
    const unsigned o = GetPixelFormatSize(format) / 8;
    if (kind == Kind::ColourMapped && mapEntryBytes != o) return nullptr;

    // Check the data against the smallest encoding of this many pixels before allocating: raw
    // needs every value, RLE at least one packet of 128 pixels per header and value.
    const bool rle = h.imageType >= 9;
    const uint64_t pixels = uint64_t(h.width) * h.height;
    const uint64_t least = rle ? (pixels + 127) / 128 * (1 + b) : pixels * b;
    if (size - pos < least) return nullptr;

    // Every pixel is written below except those of colour-map indices outside the map.
    Frame frame;
    if (AllocatePixels(frame.pixels, h.width, h.height, format, kind == Kind::ColourMapped) != Ok)
        return nullptr;
    Surface& px = frame.pixels;
    if (kind != Kind::ColourMapped) ClearRowPadding(px, size_t(h.width) * o);
    ValueReader reader(data, size, pos, b, rle);
    std::vector<uint8_t> values(kind == Kind::TrueColour ? 0 : size_t(h.width) * b);
    const bool topDown = (h.descriptor & 0x20) != 0;
    const bool rightToLeft = (h.descriptor & 0x10) != 0;

    for (uint32_t r = 0; r < h.height; ++r) {
        uint8_t* row = px.Row(topDown ? r : h.height - 1 - r);
        if (kind == Kind::TrueColour) {
            if (!reader.Next(row, h.width)) return nullptr;
        } else {
            if (!reader.Next(values.data(), h.width)) return nullptr;
            const uint8_t* v = values.data();
            if (kind == Kind::Grey) {
                for (uint32_t x = 0; x < h.width; ++x, row += 3) row[0] = row[1] = row[2] = v[x];
            } else {
                for (uint32_t x = 0; x < h.width; ++x, v += b) {
                    const int index = int(b == 2 ? ReadLE16(v) : v[0]) - int(h.mapFirst);
                    if (index >= 0 && index < int(h.mapLength))
                        std::memcpy(row + size_t(x) * o, map + size_t(index) * o, o);
                }
            }
            row = px.Row(topDown ? r : h.height - 1 - r);
        }
        if (rightToLeft) MirrorRow(row, h.width, o);
    }
    auto img = Image::FromFrames(std::move(frame), ImageFormatMemoryBMP, {}, nullptr);
    if (!Image::Usable(img)) return nullptr;
    if (ext) AddExtensionProperties(*img, ext);
    return img;
}

std::shared_ptr<Image> ReadTga(const std::string& path) {
    ByteBuffer bytes;
    if (!ReadFileBytes(path, bytes)) return nullptr;
    return DecodeTga(bytes.data.get(), bytes.size);
}

} // namespace zerimo

// A single-entry icon: directory, entry, BITMAPINFOHEADER (height doubled for colour + mask), colour
// table for indexed depths, colour rows and 1-bit AND mask rows, both bottom-up and DWORD-aligned.
#include "io/IconWriter.h"

#include "imaging/Bytes.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zerimo {
namespace {

using namespace imaging;

constexpr uint32_t DirectorySize = 6;
constexpr uint32_t EntrySize = 16;
constexpr uint32_t InfoHeaderSize = 40;
// Dimensions as the file's header can carry them doubled in a signed 32-bit height.
constexpr uint32_t MaxIconSide = 65535;

PixelFormat FormatForDepth(int depth) {
    switch (depth) {
    case 1:
        return PixelFormat1bppIndexed;
    case 4:
        return PixelFormat4bppIndexed;
    case 8:
        return PixelFormat8bppIndexed;
    case 16:
        return PixelFormat16bppRGB555; // what a 16-bit BI_RGB bitmap holds
    case 32:
        return PixelFormat32bppARGB;
    default:
        return PixelFormat24bppRGB;
    }
}

class Lock {
  public:
    Lock(Image& image, PixelFormat format) : image_(image) {
        ok_ = image.LockBits(nullptr, ImageLockModeRead, format, &data_) == Ok;
    }
    ~Lock() {
        if (ok_) image_.UnlockBits(&data_);
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    bool Locked() const { return ok_; }
    const uint8_t* Row(uint32_t y) const {
        return static_cast<const uint8_t*>(data_.Scan0) + int64_t(y) * data_.Stride;
    }

  private:
    Image& image_;
    BitmapData data_;
    bool ok_ = false;
};

// 1 where a pixel is fully transparent, rows bottom-up.
bool BuildMask(Image& image, uint32_t w, uint32_t h, size_t maskRow, std::vector<uint8_t>& mask) {
    Lock argb(image, PixelFormat32bppARGB);
    if (!argb.Locked()) return false;
    mask.assign(maskRow * h, 0);
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* px = argb.Row(y);
        uint8_t* m = mask.data() + size_t(h - 1 - y) * maskRow;
        for (uint32_t x = 0; x < w; ++x)
            if (px[4 * size_t(x) + 3] == 0) m[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    return true;
}

} // namespace

bool WriteIcon(Image& image, Stream& out, int depth) {
    if (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32) depth = 24;
    const PixelFormat format = FormatForDepth(depth);
    const uint32_t w = image.GetWidth(), h = image.GetHeight();
    if (w == 0 || h == 0 || w > MaxIconSide || h > MaxIconSide || uint64_t(w) * h > MaxFramePixels)
        return false;

    const size_t maskRow = ((size_t(w) + 31) / 32) * 4;
    const size_t colourRow = size_t(DefaultStride(w, format));
    const size_t usedRowBytes = (size_t(w) * depth + 7) / 8;
    // At most 2^28 pixels of 32 bits plus their mask: the sizes fit the header's 32-bit fields.
    const uint32_t imageBytes = uint32_t(colourRow * h + maskRow * h);
    const uint32_t tableEntries = depth <= 8 ? 1u << depth : 0;

    std::vector<uint8_t> mask;
    if (!BuildMask(image, w, h, maskRow, mask)) return false;

    // Indexed depths write the image's own palette when it already has that format; otherwise the
    // pixels go to the nearest colours of the format's default palette, as a screen DIB read does.
    Image* source = &image;
    std::shared_ptr<Image> converted;
    ColorPalette palette;
    if (tableEntries) {
        if (image.GetPixelFormat() != format) {
            converted = image.Clone(Rect{0, 0, int32_t(w), int32_t(h)}, PixelFormatDontCare);
            if (!Image::Usable(converted)) return false;
            const ColorPalette target = DefaultPalette(format);
            if (converted->ConvertFormat(format, DitherTypeNone, PaletteTypeCustom, &target, 0) != Ok)
                return false;
            source = converted.get();
        }
        if (source->GetPalette(&palette) != Ok) return false;
    }

    Lock colour(*source, format);
    if (!colour.Locked()) return false;

    std::vector<uint8_t> head;
    head.reserve(DirectorySize + EntrySize + InfoHeaderSize + 4 * tableEntries);
    AppendLE16(head, 0); // reserved
    AppendLE16(head, 1); // icon
    AppendLE16(head, 1); // one image
    head.push_back(uint8_t(w));
    head.push_back(uint8_t(h));
    head.push_back(depth == 4 ? 16 : 0);
    head.push_back(0);
    AppendLE16(head, 0); // planes
    AppendLE16(head, uint16_t(depth));
    AppendLE32(head, InfoHeaderSize + 4 * tableEntries + imageBytes);
    AppendLE32(head, DirectorySize + EntrySize);

    AppendLE32(head, InfoHeaderSize);
    AppendLE32(head, w);
    AppendLE32(head, 2 * h); // colour rows, then mask rows
    AppendLE16(head, 1);
    AppendLE16(head, uint16_t(depth));
    AppendLE32(head, 0); // BI_RGB
    AppendLE32(head, imageBytes);
    AppendLE32(head, 0);
    AppendLE32(head, 0);
    AppendLE32(head, 0);
    AppendLE32(head, 0);
    for (uint32_t i = 0; i < tableEntries; ++i) {
        const ARGB c = i < palette.Count() ? palette.Entries[i] : 0;
        head.push_back(BlueOf(c));
        head.push_back(GreenOf(c));
        head.push_back(RedOf(c));
        head.push_back(0);
    }
    if (!out.Write(head.data(), head.size())) return false;

    std::vector<uint8_t> row(colourRow, 0);
    for (uint32_t y = h; y-- > 0;) {
        std::memcpy(row.data(), colour.Row(y), usedRowBytes);
        if (!out.Write(row.data(), row.size())) return false;
    }
    return out.Write(mask.data(), mask.size()) && out.Flush();
}

} // namespace zerimo

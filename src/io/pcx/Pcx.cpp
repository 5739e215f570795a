// PCX lines are decoded one unit (all planes of a line) at a time into a line buffer and then
// laid out into the bitmap row, so a line never spills into the next row whatever the header's
// bytes per line say.
#include "io/pcx/Pcx.h"

#include "imaging/Bytes.h"
#include "io/ReaderMemory.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zerimo {
namespace {

using namespace imaging;

constexpr size_t kHeaderSize = 128;
constexpr size_t kPaletteTail = 769; // the marker byte 12 and 256 triples

/// Decodes one unit of `n` bytes; a run that reaches past the unit is cut at its end. Returns
/// false when the data ended before the unit was complete (what was decoded is kept).
bool DecodeUnit(const uint8_t*& p, const uint8_t* end, uint8_t* out, size_t n) {
    size_t got = 0;
    while (got < n) {
        if (p >= end) return false;
        const uint8_t b = *p++;
        if (b > 0xC0) {
            if (p >= end) return false;
            const size_t count = std::min<size_t>(b & 0x3F, n - got);
            std::memset(out + got, *p++, count);
            got += count;
        } else {
            out[got++] = b;
        }
    }
    return true;
}

} // namespace

std::shared_ptr<Image> ReadPcx(const uint8_t* data, size_t size) {
    if (!data || size < kHeaderSize || data[0] != 10) return nullptr;
    const unsigned bits = data[3];
    const int width = int(ReadLE16(data + 8)) - int(ReadLE16(data + 4)) + 1;
    const int height = int(ReadLE16(data + 10)) - int(ReadLE16(data + 6)) + 1;
    const unsigned planes = data[65];
    const size_t bpl = ReadLE16(data + 66);
    if (width <= 0 || height <= 0) return nullptr;

    // Only the combinations whose bytes mean what the layout reads; 2-bit, 4-bit single-plane and
    // 2 or 3 planes of 1 bit would come out as noise.
    PixelFormat format;
    if (bits == 1 && planes == 4)
        format = PixelFormat4bppIndexed;
    else if (bits == 1 && planes == 1)
        format = PixelFormat1bppIndexed;
    else if (bits == 8 && planes == 3)
        format = PixelFormat24bppRGB;
    else if (bits == 8 && planes == 1)
        format = PixelFormat8bppIndexed;
    else
        return nullptr;

    const uint8_t* p = data + kHeaderSize;
    const uint8_t* end = data + size;
    ColorPalette palette;
    if (format == PixelFormat8bppIndexed) {
        if (size < kHeaderSize + kPaletteTail || data[size - kPaletteTail] != 12) return nullptr;
        const uint8_t* t = data + size - kPaletteTail + 1;
        for (int i = 0; i < 256; ++i, t += 3) palette.Entries.push_back(MakeARGB(255, t[0], t[1], t[2]));
        end = data + size - kPaletteTail; // the palette is not pixel data
    } else if (format == PixelFormat4bppIndexed) {
        for (int i = 0; i < 16; ++i) {
            const uint8_t* t = data + 16 + 3 * i;
            palette.Entries.push_back(MakeARGB(255, t[0], t[1], t[2]));
        }
    }

    // A line of `unit` bytes needs at least one encoded byte per 63 of them; a header claiming
    // more than the data could ever hold is not allocated.
    const size_t unit = bpl * planes;
    if (uint64_t(height) * ((unit + 62) / 63) > uint64_t(end - p)) return nullptr;

    // Lines the data does not reach stay blank.
    Frame frame;
    if (AllocatePixels(frame.pixels, uint32_t(width), uint32_t(height), format, true) != Ok) return nullptr;
    frame.palette = palette.Entries.empty() ? DefaultPalette(format) : palette;
    Surface& px = frame.pixels;

    std::vector<uint8_t> line(std::max<size_t>(unit, 1));
    for (int y = 0; y < height; ++y) {
        std::fill(line.begin(), line.end(), 0);
        const bool complete = DecodeUnit(p, end, line.data(), unit);
        uint8_t* row = px.Row(uint32_t(y));
        if (format == PixelFormat24bppRGB) {
            const uint8_t* r = line.data();
            const uint8_t* g = r + bpl;
            const uint8_t* b = g + bpl;
            const size_t n = std::min(bpl, size_t(width));
            for (size_t x = 0; x < n; ++x, row += 3) {
                row[0] = b[x];
                row[1] = g[x];
                row[2] = r[x];
            }
        } else if (format == PixelFormat4bppIndexed) {
            for (int x = 0; x < width; ++x) {
                const size_t byte = size_t(x) / 8;
                const int shift = 7 - (x % 8);
                uint8_t index = 0;
                for (unsigned k = 0; k < 4; ++k)
                    if (byte < bpl) index |= uint8_t(((line[k * bpl + byte] >> shift) & 1) << k);
                row[x / 2] |= x % 2 == 0 ? uint8_t(index << 4) : index;
            }
        } else {
            std::memcpy(row, line.data(), std::min(bpl, size_t(px.stride)));
        }
        if (!complete) break;
    }
    auto img = Image::FromFrames(std::move(frame), ImageFormatMemoryBMP, {}, nullptr);
    return Image::Usable(img) ? img : nullptr;
}

} // namespace zerimo

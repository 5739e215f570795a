#include "imaging/Image.h"
#include "imaging/PixelConvert.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <tmmintrin.h>
#endif

namespace imaging {

namespace {

// Where an output pixel comes from: with `swap` the axes trade places (a quarter turn), and the
// flips mirror the result. Output (X, Y) reads input (sx, sy) with
//   no swap: sx = fx ? W-1-X : X,  sy = fy ? H-1-Y : Y
//   swap:    sx = fy ? W-1-Y : Y,  sy = fx ? H-1-X : X
struct Mapping {
    bool swap, fx, fy;
};
constexpr Mapping kMappings[8] = {
    {false, false, false}, // RotateNoneFlipNone
    {true, true, false},   // Rotate90FlipNone (clockwise)
    {false, true, true},   // Rotate180FlipNone
    {true, false, true},   // Rotate270FlipNone
    {false, true, false},  // RotateNoneFlipX
    {true, false, false},  // Rotate90FlipX: a transpose
    {false, false, true},  // Rotate180FlipX = RotateNoneFlipY
    {true, true, true},    // Rotate270FlipX: the other diagonal
};

// Quarter turns are transposes done in blocks of 256 x 256 pixels, so that the rows read and the
// rows written stay within reach of the cache and the TLB; inside a block 4 x 4 tiles go through
// vector registers where the processor has them, and the block's ragged edges pixel by pixel.
constexpr uint32_t kBlock = 256;

template <size_t N>
void TransposeArea(const Surface& s, Surface& d, bool fx, bool fy, uint32_t x0, uint32_t x1, uint32_t y0,
                   uint32_t y1) {
    const uint32_t w = s.width, h = s.height;
    for (uint32_t sx = x0; sx < x1; ++sx) {
        uint8_t* out = d.Row(fy ? w - 1 - sx : sx);
        const uint8_t* in = s.data.get() + size_t(sx) * N;
        for (uint32_t sy = y0; sy < y1; ++sy)
            std::memcpy(out + size_t(fx ? h - 1 - sy : sy) * N, in + size_t(sy) * size_t(s.stride), N);
    }
}

#if defined(__SSE2__)
// Columns of a 4 x 4 tile of 32-bit pixels; rows[i] is row i of the tile.
inline void Transpose4x4(const __m128i rows[4], __m128i cols[4]) {
    const __m128i t0 = _mm_unpacklo_epi32(rows[0], rows[1]), t1 = _mm_unpacklo_epi32(rows[2], rows[3]);
    const __m128i t2 = _mm_unpackhi_epi32(rows[0], rows[1]), t3 = _mm_unpackhi_epi32(rows[2], rows[3]);
    cols[0] = _mm_unpacklo_epi64(t0, t1);
    cols[1] = _mm_unpackhi_epi64(t0, t1);
    cols[2] = _mm_unpacklo_epi64(t2, t3);
    cols[3] = _mm_unpackhi_epi64(t2, t3);
}

// Tiles of the block [x0, x1) x [y0, y1), both spans multiples of 4.
void Tiles32(const Surface& s, Surface& d, bool fx, bool fy, uint32_t x0, uint32_t x1, uint32_t y0,
             uint32_t y1) {
    const uint32_t w = s.width, h = s.height;
    const size_t stride = size_t(s.stride);
    for (uint32_t sy = y0; sy < y1; sy += 4) {
        const uint8_t* r = s.Row(sy);
        const size_t x = fx ? h - 4 - sy : sy;
        for (uint32_t sx = x0; sx < x1; sx += 4) {
            __m128i rows[4], cols[4];
            for (int i = 0; i < 4; ++i)
                rows[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i * stride + size_t(sx) * 4));
            Transpose4x4(rows, cols);
            for (uint32_t k = 0; k < 4; ++k) {
                const __m128i v = fx ? _mm_shuffle_epi32(cols[k], 0x1B) : cols[k];
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d.Row(fy ? w - 1 - (sx + k) : sx + k) + x * 4),
                                 v);
            }
        }
    }
}

// The same for 24-bit pixels, spread to 32 bits on the way in and packed again on the way out.
// Each row load reads 16 bytes for 12, so the caller keeps two pixels of slack before the row ends.
__attribute__((target("ssse3"))) void Tiles24(const Surface& s, Surface& d, bool fx, bool fy, uint32_t x0,
                                              uint32_t x1, uint32_t y0, uint32_t y1) {
    const uint32_t w = s.width, h = s.height;
    const size_t stride = size_t(s.stride);
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    for (uint32_t sy = y0; sy < y1; sy += 4) {
        const uint8_t* r = s.Row(sy);
        const size_t x = fx ? h - 4 - sy : sy;
        for (uint32_t sx = x0; sx < x1; sx += 4) {
            __m128i rows[4], cols[4];
            for (int i = 0; i < 4; ++i)
                rows[i] = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i * stride + size_t(sx) * 3)),
                    spread);
            Transpose4x4(rows, cols);
            for (uint32_t k = 0; k < 4; ++k) {
                const __m128i v = _mm_shuffle_epi8(fx ? _mm_shuffle_epi32(cols[k], 0x1B) : cols[k], pack);
                uint8_t* out = d.Row(fy ? w - 1 - (sx + k) : sx + k) + x * 3;
                _mm_storel_epi64(reinterpret_cast<__m128i*>(out), v);
                const uint32_t tail = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
                std::memcpy(out + 8, &tail, 4);
            }
        }
    }
}

bool HasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

template <size_t N> void Transpose(const Surface& s, Surface& d, bool fx, bool fy) {
    const uint32_t w = s.width, h = s.height;
    for (uint32_t by = 0; by < h; by += kBlock) {
        const uint32_t by1 = std::min(h, by + kBlock);
        for (uint32_t bx = 0; bx < w; bx += kBlock) {
            const uint32_t bx1 = std::min(w, bx + kBlock);
            uint32_t tileX1 = bx, tileY1 = by; // the part done in tiles
#if defined(__SSE2__)
            if constexpr (N == 4) {
                tileX1 = bx + (bx1 - bx) / 4 * 4;
                tileY1 = by + (by1 - by) / 4 * 4;
                Tiles32(s, d, fx, fy, bx, tileX1, by, tileY1);
            } else if constexpr (N == 3) {
                if (HasSsse3()) {
                    const uint32_t safe = std::min(bx1, w >= 2 ? w - 2 : 0);
                    tileX1 = safe > bx ? bx + (safe - bx) / 4 * 4 : bx;
                    tileY1 = by + (by1 - by) / 4 * 4;
                    Tiles24(s, d, fx, fy, bx, tileX1, by, tileY1);
                }
            }
#endif
            if (tileX1 == bx || tileY1 == by) {
                TransposeArea<N>(s, d, fx, fy, bx, bx1, by, by1);
                continue;
            }
            TransposeArea<N>(s, d, fx, fy, tileX1, bx1, by, by1);    // right edge
            TransposeArea<N>(s, d, fx, fy, bx, tileX1, tileY1, by1); // bottom edge
        }
    }
}

void TransposeIndexed(const Surface& s, Surface& d, bool fx, bool fy) {
    const uint32_t bpp = GetPixelFormatSize(s.format), w = s.width, h = s.height;
    for (uint32_t sy = 0; sy < h; ++sy) {
        const uint8_t* in = s.Row(sy);
        const uint32_t x = fx ? h - 1 - sy : sy;
        for (uint32_t sx = 0; sx < w; ++sx)
            SetIndex(d.Row(fy ? w - 1 - sx : sx), bpp, x, GetIndex(in, bpp, sx));
    }
}

template <size_t N> void MirrorRow(uint8_t* row, uint32_t w) {
    uint8_t t[N];
    for (uint32_t a = 0, b = w - 1; a < b; ++a, --b) {
        std::memcpy(t, row + size_t(a) * N, N);
        std::memcpy(row + size_t(a) * N, row + size_t(b) * N, N);
        std::memcpy(row + size_t(b) * N, t, N);
    }
}

// `tmp` holds one row.
void MirrorRows(Surface& s, uint8_t* tmp) {
    const uint32_t bpp = GetPixelFormatSize(s.format), w = s.width;
    for (uint32_t y = 0; y < s.height; ++y) {
        uint8_t* row = s.Row(y);
        switch (bpp) {
        case 1:
        case 4:
            std::memset(tmp, 0, size_t(s.stride));
            for (uint32_t x = 0; x < w; ++x) SetIndex(tmp, bpp, w - 1 - x, GetIndex(row, bpp, x));
            std::memcpy(row, tmp, size_t(s.stride));
            break;
        case 8:
            std::reverse(row, row + w);
            break;
        case 16:
            MirrorRow<2>(row, w);
            break;
        case 24:
            MirrorRow<3>(row, w);
            break;
        case 32:
            MirrorRow<4>(row, w);
            break;
        case 48:
            MirrorRow<6>(row, w);
            break;
        case 64:
            MirrorRow<8>(row, w);
            break;
        }
    }
}

void SwapRows(Surface& s, uint8_t* tmp) {
    const size_t n = size_t(s.stride);
    for (uint32_t a = 0, b = s.height - 1; a < b; ++a, --b) {
        std::memcpy(tmp, s.Row(a), n);
        std::memcpy(s.Row(a), s.Row(b), n);
        std::memcpy(s.Row(b), tmp, n);
    }
}

} // namespace

Status Image::RotateFlip(RotateFlipType type) {
    if (type_ != ImageTypeBitmap || frame_.pixels.Empty() || type < 0 || type > 7)
        return SetStatus(InvalidParameter);
    // A lock may point into the pixels that are about to move.
    if (lock_) return SetStatus(WrongState);
    const Mapping m = kMappings[type];
    Surface& px = frame_.pixels;

    if (!m.swap) {
        if (!m.fx && !m.fy) return Ok;
        std::unique_ptr<uint8_t[], FreeDeleter> tmp(static_cast<uint8_t*>(std::malloc(size_t(px.stride))));
        if (!tmp) return SetStatus(OutOfMemory);
        if (m.fy) SwapRows(px, tmp.get());
        if (m.fx) MirrorRows(px, tmp.get());
        return Ok;
    }

    Surface out;
    if (Status s = out.Allocate(px.height, px.width, px.format, true); s != Ok) return SetStatus(s);
    switch (GetPixelFormatSize(px.format)) {
    case 8:
        Transpose<1>(px, out, m.fx, m.fy);
        break;
    case 16:
        Transpose<2>(px, out, m.fx, m.fy);
        break;
    case 24:
        Transpose<3>(px, out, m.fx, m.fy);
        break;
    case 32:
        Transpose<4>(px, out, m.fx, m.fy);
        break;
    case 48:
        Transpose<6>(px, out, m.fx, m.fy);
        break;
    case 64:
        Transpose<8>(px, out, m.fx, m.fy);
        break;
    default:
        TransposeIndexed(px, out, m.fx, m.fy);
        break;
    }
    px = std::move(out);
    std::swap(frame_.dpiX, frame_.dpiY);
    return Ok;
}

} // namespace imaging

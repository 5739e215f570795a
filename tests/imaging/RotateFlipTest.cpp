#include "imaging/Image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace imaging;

namespace {

struct Grid {
    uint32_t w = 0, h = 0;
    std::vector<ARGB> px;
    ARGB At(uint32_t x, uint32_t y) const { return px[size_t(y) * w + x]; }
    bool operator==(const Grid&) const = default;
};

Grid TurnClockwise(const Grid& g) {
    Grid r{g.h, g.w, std::vector<ARGB>(g.px.size())};
    for (uint32_t y = 0; y < g.h; ++y)
        for (uint32_t x = 0; x < g.w; ++x) r.px[size_t(x) * r.w + (g.h - 1 - y)] = g.At(x, y);
    return r;
}

Grid Mirror(const Grid& g) {
    Grid r = g;
    for (uint32_t y = 0; y < g.h; ++y)
        for (uint32_t x = 0; x < g.w; ++x) r.px[size_t(y) * g.w + x] = g.At(g.w - 1 - x, y);
    return r;
}

// The type's meaning: turn clockwise by (type & 3) quarters, then mirror left-right for types 4-7.
Grid Expected(Grid g, int type) {
    for (int i = 0; i < (type & 3); ++i) g = TurnClockwise(g);
    return type >= 4 ? Mirror(g) : g;
}

Grid Read(Image& img) {
    Grid g{img.GetWidth(), img.GetHeight(), {}};
    BitmapData d;
    EXPECT_EQ(img.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d), Ok);
    g.px.resize(size_t(g.w) * g.h);
    for (uint32_t y = 0; y < g.h; ++y)
        std::memcpy(&g.px[size_t(y) * g.w], static_cast<uint8_t*>(d.Scan0) + int64_t(y) * d.Stride, 4 * g.w);
    img.UnlockBits(&d);
    return g;
}

// An image whose pixels are picked pseudo-randomly from colours the format holds exactly.
std::shared_ptr<Image> Scrambled(uint32_t w, uint32_t h, PixelFormat f) {
    static const ARGB colours[] = {0xFF000000, 0xFFFFFFFF, 0xFFFF0000, 0xFF0000FF,
                                   0xFF00FF00, 0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF};
    const uint32_t n = f == PixelFormat1bppIndexed ? 2 : 8;
    auto img = Image::CreateBitmap(int32_t(w), int32_t(h), f);
    BitmapData d;
    EXPECT_EQ(img->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
    uint32_t seed = 12345;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            seed = seed * 214013u + 2531011u;
            static_cast<ARGB*>(static_cast<void*>(static_cast<uint8_t*>(d.Scan0) +
                                                  int64_t(y) * d.Stride))[x] = colours[(seed >> 16) % n];
        }
    img->UnlockBits(&d);
    return img;
}

} // namespace

TEST(RotateFlip, EveryTypeInEveryStoredDepth) {
    const PixelFormat formats[] = {PixelFormat1bppIndexed, PixelFormat4bppIndexed, PixelFormat8bppIndexed,
                                   PixelFormat16bppRGB555, PixelFormat24bppRGB,    PixelFormat32bppARGB,
                                   PixelFormat48bppRGB,    PixelFormat64bppARGB};
    struct Size {
        uint32_t w, h;
    };
    // 11 x 5 ends 1 and 4 bpp rows mid-byte; 263 x 258 crosses the transpose's blocks and tiles with
    // ragged ends in both directions.
    for (Size size : {Size{11, 5}, Size{263, 258}}) {
        for (PixelFormat f : formats) {
            if (size.w > 11 && GetPixelFormatSize(f) != 8 && GetPixelFormatSize(f) != 24 &&
                GetPixelFormatSize(f) != 32)
                continue;
            auto src = Scrambled(size.w, size.h, f);
            const Grid original = Read(*src);
            std::vector<Grid> seen;
            for (int type = 0; type < 8; ++type) {
                SCOPED_TRACE(testing::Message()
                             << PixelFormatName(f) << " " << size.w << "x" << size.h << " type " << type);
                auto img = src->Clone();
                ASSERT_EQ(img->RotateFlip(RotateFlipType(type)), Ok);
                const Grid got = Read(*img);
                EXPECT_EQ(got, Expected(original, type));
                EXPECT_EQ(img->GetPixelFormat(), f);
                for (const Grid& other : seen)
                    EXPECT_FALSE(got == other); // the fixture tells all eight apart
                seen.push_back(got);
            }
        }
    }
}

TEST(RotateFlip, QuarterTurnsSwapResolutionAndKeepPaletteAndProperties) {
    auto img = Image::CreateBitmap(3, 2, PixelFormat4bppIndexed);
    const ColorPalette pal{0, {0xFF010203, 0xFF040506, 0xFF070809}};
    img->SetPalette(pal);
    img->SetResolution(72, 300);
    uint16_t orient = 6;
    ASSERT_EQ(img->SetPropertyItem({PropertyTagOrientation, 2, PropertyTagTypeShort, &orient}), Ok);

    ASSERT_EQ(img->RotateFlip(Rotate270FlipX), Ok);
    EXPECT_EQ(img->GetWidth(), 2u);
    EXPECT_EQ(img->GetHeight(), 3u);
    EXPECT_FLOAT_EQ(img->GetHorizontalResolution(), 300.0f);
    EXPECT_FLOAT_EQ(img->GetVerticalResolution(), 72.0f);
    EXPECT_EQ(img->Palette(), pal);
    EXPECT_NE(img->FindProperty(PropertyTagOrientation), nullptr);

    ASSERT_EQ(img->RotateFlip(RotateNoneFlipY), Ok);
    EXPECT_FLOAT_EQ(img->GetHorizontalResolution(), 300.0f);
}

TEST(RotateFlip, RefusesWhileLockedAndUnknownTypes) {
    auto img = Image::CreateBitmap(4, 2, PixelFormat32bppARGB);
    BitmapData d;
    ASSERT_EQ(img->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d), Ok);
    EXPECT_EQ(img->RotateFlip(Rotate90FlipNone), WrongState);
    EXPECT_EQ(img->GetWidth(), 4u);
    ASSERT_EQ(img->UnlockBits(&d), Ok);
    EXPECT_EQ(img->RotateFlip(RotateFlipType(8)), InvalidParameter);
    EXPECT_EQ(img->RotateFlip(RotateFlipType(-1)), InvalidParameter);
    EXPECT_EQ(Image::Failed(GenericError)->RotateFlip(Rotate90FlipNone), InvalidParameter);
}

#include "io/IconWriter.h"

#include "FaultyStream.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace imaging;
using iotest::FaultyStream;
using testsupport::ReadARGB;

namespace {

uint32_t LE16(const std::vector<uint8_t>& v, size_t at) {
    return uint32_t(v.at(at)) | (uint32_t(v.at(at + 1)) << 8);
}
uint32_t LE32(const std::vector<uint8_t>& v, size_t at) {
    return LE16(v, at) | (LE16(v, at + 2) << 16);
}

std::shared_ptr<Image> FromPixels(uint32_t w, uint32_t h, const std::vector<ARGB>& pixels) {
    return Image::CreateBitmapFromScan0(int32_t(w), int32_t(h), int32_t(4 * w), PixelFormat32bppARGB,
                                        pixels.data());
}

// Colours that vary in every channel, a few translucent and a few fully transparent pixels.
std::vector<ARGB> Pattern(uint32_t w, uint32_t h) {
    std::vector<ARGB> px(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t a = (x + y) % 11 == 0 ? 0 : (x * y) % 7 == 3 ? 128 : 255;
            px[size_t(y) * w + x] = MakeARGB(a, uint8_t(7 * x), uint8_t(255 - 9 * y), uint8_t(x * y));
        }
    return px;
}

std::vector<uint8_t> Write(Image& img, int depth) {
    MemoryStream out;
    EXPECT_TRUE(zerimo::WriteIcon(img, out, depth));
    return out.TakeBytes();
}

std::shared_ptr<Image> ReadBack(const std::vector<uint8_t>& bytes) {
    MemoryStream in(bytes.data(), bytes.size());
    auto img = Image::FromStream(in);
    return Image::Usable(img) ? img : nullptr;
}

struct LayoutCase {
    int depth;            // asked for
    uint32_t bitCount;    // written
    uint32_t colourCount; // entry byte
    uint32_t tableBytes;
    uint32_t imageBytes; // colour rows + mask rows
};

class IconLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(IconLayout, DirectoryEntryAndHeaderOf300x200) {
    const LayoutCase& c = GetParam();
    auto img = FromPixels(300, 200, Pattern(300, 200));
    const std::vector<uint8_t> f = Write(*img, c.depth);
    const uint32_t resource = 40 + c.tableBytes + c.imageBytes;
    ASSERT_EQ(f.size(), 22 + resource);

    EXPECT_EQ(LE16(f, 0), 0u); // reserved
    EXPECT_EQ(LE16(f, 2), 1u); // icon
    EXPECT_EQ(LE16(f, 4), 1u); // one image

    EXPECT_EQ(f[6], 44); // 300 - 256
    EXPECT_EQ(f[7], 200);
    EXPECT_EQ(f[8], c.colourCount);
    EXPECT_EQ(f[9], 0);
    EXPECT_EQ(LE16(f, 10), 0u); // planes
    EXPECT_EQ(LE16(f, 12), c.bitCount);
    EXPECT_EQ(LE32(f, 14), resource);
    EXPECT_EQ(LE32(f, 18), 22u);

    EXPECT_EQ(LE32(f, 22), 40u);
    EXPECT_EQ(LE32(f, 26), 300u);
    EXPECT_EQ(LE32(f, 30), 400u); // colour and mask rows
    EXPECT_EQ(LE16(f, 34), 1u);
    EXPECT_EQ(LE16(f, 36), c.bitCount);
    EXPECT_EQ(LE32(f, 38), 0u); // BI_RGB
    EXPECT_EQ(LE32(f, 42), c.imageBytes);
    for (size_t at = 46; at < 62; at += 4) EXPECT_EQ(LE32(f, at), 0u) << "header byte " << at;

    auto back = ReadBack(f);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->GetWidth(), 300u);
    EXPECT_EQ(back->GetHeight(), 200u);
}

// Rows: 300 pixels of 4 bits = 152 bytes, of 8 bits 300, of 24 bits 900, of 32 bits 1200; the
// mask row is 40 bytes.
INSTANTIATE_TEST_SUITE_P(
    Depths, IconLayout,
    ::testing::Values(LayoutCase{4, 4, 16, 64, 200 * (152 + 40)}, LayoutCase{8, 8, 0, 1024, 200 * (300 + 40)},
                      LayoutCase{24, 24, 0, 0, 200 * (900 + 40)}, LayoutCase{32, 32, 0, 0, 200 * (1200 + 40)},
                      LayoutCase{48, 24, 0, 0, 200 * (900 + 40)}, LayoutCase{0, 24, 0, 0, 200 * (900 + 40)}),
    [](const auto& info) { return "depth" + std::to_string(info.param.depth); });

TEST(IconWriter, DirectColoursReadBackWithTheirMask) {
    constexpr uint32_t w = 33, h = 7; // rows that need padding, a mask wider than one DWORD
    const std::vector<ARGB> src = Pattern(w, h);
    auto img = FromPixels(w, h, src);
    for (int depth : {16, 24, 32}) {
        auto back = ReadBack(Write(*img, depth));
        ASSERT_NE(back, nullptr) << depth;
        ASSERT_EQ(back->GetWidth(), w);
        ASSERT_EQ(back->GetHeight(), h);
        const std::vector<ARGB> got = ReadARGB(*back);
        for (size_t i = 0; i < src.size(); ++i) {
            if (depth == 32) {
                ASSERT_EQ(got[i], src[i]) << "pixel " << i;
                continue;
            }
            // Without an alpha channel the mask alone makes fully transparent pixels.
            if (AlphaOf(src[i]) == 0) {
                ASSERT_EQ(AlphaOf(got[i]), 0) << depth << " pixel " << i;
                continue;
            }
            ASSERT_EQ(AlphaOf(got[i]), 255) << depth << " pixel " << i;
            const int tolerance = depth == 16 ? 8 : 0; // five bits a channel
            for (int shift : {0, 8, 16})
                ASSERT_NEAR(int((got[i] >> shift) & 0xFF), int((src[i] >> shift) & 0xFF), tolerance)
                    << depth << " pixel " << i;
        }
    }
}

TEST(IconWriter, MaskMarksOnlyFullyTransparentPixels) {
    std::vector<ARGB> px(5 * 3, 0xFF808080);
    px[1] = 0x00FFFFFF; // top row: transparent
    px[2] = 0x01FFFFFF; // almost, but not quite
    auto img = FromPixels(5, 3, px);
    for (int depth : {24, 32}) {
        const std::vector<uint8_t> f = Write(*img, depth);
        const size_t colourRow = depth == 24 ? 16 : 20;
        const size_t maskAt = 22 + 40 + 3 * colourRow;
        ASSERT_EQ(f.size(), maskAt + 3 * 4);
        // Bottom-up: the top row is the last mask row.
        const std::vector<uint8_t> mask(f.begin() + maskAt, f.end());
        EXPECT_EQ(mask, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0})) << depth;
    }
}

TEST(IconWriter, IndexedImageKeepsItsOwnPalette) {
    auto img = Image::CreateBitmap(6, 2, PixelFormat8bppIndexed);
    ColorPalette pal;
    pal.Flags = PaletteFlagsHasAlpha;
    pal.Entries = {0xFF102030, 0x00000000, 0xFFC0B0A0};
    ASSERT_EQ(img->SetPalette(pal), Ok);
    BitmapData d;
    ASSERT_EQ(img->LockBits(nullptr, ImageLockModeWrite, PixelFormat8bppIndexed, &d), Ok);
    const uint8_t indices[2][6] = {{0, 1, 2, 0, 1, 2}, {2, 2, 0, 0, 2, 2}};
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 6; ++x) static_cast<uint8_t*>(d.Scan0)[y * d.Stride + x] = indices[y][x];
    img->UnlockBits(&d);

    const std::vector<uint8_t> f = Write(*img, 8);
    const size_t table = 22 + 40;
    ASSERT_GE(f.size(), table + 1024);
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + table, f.begin() + table + 12),
              (std::vector<uint8_t>{0x30, 0x20, 0x10, 0, 0, 0, 0, 0, 0xA0, 0xB0, 0xC0, 0}));
    for (size_t at = table + 12; at < table + 1024; ++at) ASSERT_EQ(f[at], 0) << "table byte " << at;
    // Bottom row first: the indices themselves.
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + table + 1024, f.begin() + table + 1030),
              (std::vector<uint8_t>{2, 2, 0, 0, 2, 2}));

    auto back = ReadBack(f);
    ASSERT_NE(back, nullptr);
    const std::vector<ARGB> got = ReadARGB(*back);
    ASSERT_EQ(got.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        const ARGB want = pal.Entries[indices[i / 6][i % 6]];
        EXPECT_EQ(got[i], AlphaOf(want) == 0 ? 0u : want) << "pixel " << i;
    }
}

TEST(IconWriter, OtherImagesTakeTheDefaultPaletteOfTheDepth) {
    // Colours that the 16-colour and two-colour default palettes hold exactly.
    const std::vector<ARGB> src = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF, 0xFF000000, 0xFF808080};
    auto img = FromPixels(3, 2, src);
    auto back4 = ReadBack(Write(*img, 4));
    ASSERT_NE(back4, nullptr);
    EXPECT_EQ(ReadARGB(*back4), src);
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat32bppARGB); // the caller's image is left alone

    auto back1 = ReadBack(Write(*img, 1));
    ASSERT_NE(back1, nullptr);
    const std::vector<ARGB> got = ReadARGB(*back1);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[3], 0xFFFFFFFFu);
    EXPECT_EQ(got[4], 0xFF000000u);
}

TEST(IconWriter, FailuresAreReported) {
    auto img = FromPixels(4, 4, std::vector<ARGB>(16, 0xFF336699));
    for (auto fault : {FaultyStream::Fault::Write, FaultyStream::Fault::Flush}) {
        FaultyStream out(fault);
        EXPECT_FALSE(zerimo::WriteIcon(*img, out, 32)) << int(fault);
    }
    // Beyond the largest side an icon is written with: refused before anything is written.
    auto wide = Image::CreateBitmap(65536, 1, PixelFormat24bppRGB);
    ASSERT_TRUE(Image::Usable(wide));
    MemoryStream out;
    EXPECT_FALSE(zerimo::WriteIcon(*wide, out, 24));
    EXPECT_TRUE(out.Bytes().empty());
}

} // namespace

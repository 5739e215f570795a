#include "imaging/Image.h"
#include "imaging/PixelConvert.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>
#include <vector>

using namespace imaging;
using testsupport::ReadARGB;

namespace {

std::shared_ptr<Image> FromPixels(uint32_t w, uint32_t h, PixelFormat f, const std::vector<ARGB>& px) {
    auto argb =
        Image::CreateBitmapFromScan0(int32_t(w), int32_t(h), int32_t(4 * w), PixelFormat32bppARGB, px.data());
    if (f == PixelFormat32bppARGB) return argb;
    return argb->Clone(Rect{0, 0, int32_t(w), int32_t(h)}, f);
}

std::vector<uint8_t> Bytes(const Image& img) {
    const Surface& s = img.ActiveFrameData().pixels;
    return std::vector<uint8_t>(s.data.get(), s.data.get() + s.ByteSize());
}

// `n` distinct opaque colours spread over the cube.
std::vector<ARGB> DistinctColours(uint32_t n) {
    std::vector<ARGB> c;
    for (uint32_t i = 0; i < n; ++i) c.push_back(0xFF000000u | ((i * 2654435761u) & 0xFFFFFF));
    return c;
}

} // namespace

TEST(ConvertFormat, IndexedToArgbIsAPlainLookUp) {
    auto img = Image::CreateBitmap(3, 1, PixelFormat4bppIndexed);
    img->SetPalette(ColorPalette{PaletteFlagsHasAlpha, {0x00000000, 0xFF123456, 0x80FFFFFF}});
    const uint8_t px[] = {0x12, 0x00};
    std::memcpy(img->ActiveFrameData().pixels.Row(0), px, 2);
    ASSERT_EQ(img->ConvertFormat(PixelFormat32bppARGB, DitherTypeNone, PaletteTypeCustom, nullptr, 0), Ok);
    EXPECT_EQ(img->GetPixelFormat(), PixelFormat32bppARGB);
    EXPECT_EQ(img->GetPaletteSize(), 8);
    EXPECT_EQ(ReadARGB(*img), (std::vector<ARGB>{0xFF123456, 0x80FFFFFF, 0x00000000}));
}

TEST(ConvertFormat, SameFormatIsANoOp) {
    const auto colours = DistinctColours(300);
    for (PixelFormat f : {PixelFormat24bppRGB, PixelFormat32bppARGB, PixelFormat16bppRGB565}) {
        auto img = FromPixels(20, 15, f, colours);
        const auto before = Bytes(*img);
        EXPECT_EQ(img->ConvertFormat(f, DitherTypeMax, PaletteTypeOptimal, nullptr, 0), Ok);
        EXPECT_EQ(Bytes(*img), before);
    }
}

TEST(ConvertFormat, BetweenDirectFormats) {
    auto img = FromPixels(2, 1, PixelFormat32bppARGB, {0x80FF8040, 0xFF0000FF});
    ASSERT_EQ(img->ConvertFormat(PixelFormat24bppRGB, DitherTypeNone, PaletteTypeCustom, nullptr, 0), Ok);
    EXPECT_EQ(ReadARGB(*img), (std::vector<ARGB>{0xFFFF8040, 0xFF0000FF}));
    ASSERT_EQ(img->ConvertFormat(PixelFormat16bppARGB1555, DitherTypeNone, PaletteTypeCustom, nullptr, 0),
              Ok);
    EXPECT_EQ(ReadARGB(*img), (std::vector<ARGB>{0xFFFF8442, 0xFF0000FF}));
}

// With no more colours than the depth holds, the optimal palette is exactly the image's colours,
// whatever the dithering.
TEST(ConvertFormat, OptimalPaletteIsLosslessWhenTheColoursFit) {
    struct Case {
        PixelFormat format;
        uint32_t colours;
        DitherType dither;
    };
    const Case cases[] = {
        {PixelFormat8bppIndexed, 256, DitherTypeNone},
        {PixelFormat8bppIndexed, 200, DitherTypeMax},
        {PixelFormat8bppIndexed, 256, DitherTypeErrorDiffusion},
        {PixelFormat4bppIndexed, 16, DitherTypeErrorDiffusion},
        {PixelFormat4bppIndexed, 5, DitherTypeNone},
        {PixelFormat1bppIndexed, 2, DitherTypeMax},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << PixelFormatName(c.format) << " " << c.colours << " dither " << c.dither);
        const auto colours = DistinctColours(c.colours);
        std::vector<ARGB> px(37 * 23);
        for (size_t i = 0; i < px.size(); ++i) px[i] = colours[(i * 7) % colours.size()];
        auto img = FromPixels(37, 23, PixelFormat24bppRGB, px);
        ASSERT_EQ(img->ConvertFormat(c.format, c.dither, PaletteTypeOptimal, nullptr, 0), Ok);
        EXPECT_EQ(img->GetPixelFormat(), c.format);
        EXPECT_EQ(img->Palette().Count(), c.colours);
        EXPECT_EQ(ReadARGB(*img), px);
    }

    // Translucent colours are kept too when nothing is below the threshold.
    const std::vector<ARGB> alpha = {0x00000000, 0x40FF0000, 0x80FF0000, 0xFFFF0000, 0x4000FF00};
    auto img = FromPixels(5, 1, PixelFormat32bppARGB, alpha);
    ASSERT_EQ(img->ConvertFormat(PixelFormat8bppIndexed, DitherTypeNone, PaletteTypeOptimal, nullptr, 0), Ok);
    EXPECT_EQ(ReadARGB(*img), alpha);
    EXPECT_TRUE(ImageHasTransparency(*img));
}

TEST(ConvertFormat, OptimalPaletteApproximatesManyColours) {
    // 4096 colours in a smooth two-dimensional ramp.
    const uint32_t w = 64, h = 64;
    std::vector<ARGB> px(w * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) px[y * w + x] = MakeARGB(255, uint8_t(x * 4), uint8_t(y * 4), 128);
    for (DitherType dither : {DitherTypeNone, DitherTypeErrorDiffusion}) {
        auto img = FromPixels(w, h, PixelFormat24bppRGB, px);
        ASSERT_EQ(img->ConvertFormat(PixelFormat8bppIndexed, dither, PaletteTypeOptimal, nullptr, 0), Ok);
        ASSERT_LE(img->Palette().Count(), 256u);
        EXPECT_GT(img->Palette().Count(), 200u);
        const auto got = ReadARGB(*img);
        double sum = 0, sumR = 0, sumGotR = 0;
        int worst = 0;
        for (size_t i = 0; i < px.size(); ++i) {
            const int dr = std::abs(int(RedOf(got[i])) - RedOf(px[i])),
                      dg = std::abs(int(GreenOf(got[i])) - GreenOf(px[i]));
            sum += dr + dg;
            worst = std::max(worst, std::max(dr, dg));
            sumR += RedOf(px[i]);
            sumGotR += RedOf(got[i]);
            EXPECT_EQ(BlueOf(got[i]), 128);
        }
        // 256 cells over a uniform 64 x 64 ramp are 16 levels wide at best: a mean error of 4.
        EXPECT_LT(sum / (2.0 * px.size()), dither == DitherTypeNone ? 4.5 : 6.0) << "dither " << dither;
        if (dither == DitherTypeNone) {
            EXPECT_LE(worst, 12);
        }
        EXPECT_NEAR(sumGotR / px.size(), sumR / px.size(), 1.0); // diffusion keeps the average
    }
}

TEST(ConvertFormat, FixedBlackAndWhite) {
    // Undithered: nearest of black and white.
    auto img = FromPixels(6, 1, PixelFormat24bppRGB,
                          {0xFF000000, 0xFF646464, 0xFF7F7F7F, 0xFF808080, 0xFFC8C8C8, 0xFFFFFFFF});
    ASSERT_EQ(img->ConvertFormat(PixelFormat1bppIndexed, DitherTypeNone, PaletteTypeFixedBW, nullptr, 0), Ok);
    EXPECT_EQ(img->Palette().Entries, (std::vector<ARGB>{0xFF000000, 0xFFFFFFFF}));
    EXPECT_EQ(img->ActiveFrameData().pixels.Row(0)[0], 0x1C); // 0 0 0 1 1 1

    // Dithered grey levels come out with the matching share of white pixels.
    for (DitherType dither :
         {DitherTypeOrdered4x4, DitherTypeOrdered8x8, DitherTypeOrdered16x16, DitherTypeErrorDiffusion}) {
        for (int level : {64, 128, 192}) {
            SCOPED_TRACE(testing::Message() << "dither " << dither << " level " << level);
            const uint8_t v = uint8_t(level);
            auto grey =
                FromPixels(32, 32, PixelFormat24bppRGB, std::vector<ARGB>(32 * 32, MakeARGB(255, v, v, v)));
            ASSERT_EQ(grey->ConvertFormat(PixelFormat1bppIndexed, dither, PaletteTypeFixedBW, nullptr, 0),
                      Ok);
            int white = 0;
            for (ARGB c : ReadARGB(*grey)) white += c == 0xFFFFFFFF;
            EXPECT_NEAR(white / 1024.0, level / 255.0, 0.02);
        }
    }
}

TEST(ConvertFormat, FixedHalftonePaletteSizes) {
    const std::pair<PaletteType, uint32_t> sizes[] = {{PaletteTypeFixedBW, 2},
                                                      {PaletteTypeFixedHalftone8, 16},
                                                      {PaletteTypeFixedHalftone27, 35},
                                                      {PaletteTypeFixedHalftone64, 72},
                                                      {PaletteTypeFixedHalftone125, 133},
                                                      {PaletteTypeFixedHalftone216, 224},
                                                      {PaletteTypeFixedHalftone252, 252},
                                                      {PaletteTypeFixedHalftone256, 256}};
    for (auto [type, count] : sizes) {
        auto img = FromPixels(2, 1, PixelFormat24bppRGB, {0xFFFF0000, 0xFF0000FF});
        ASSERT_EQ(img->ConvertFormat(PixelFormat8bppIndexed, DitherTypeNone, type, nullptr, 0), Ok) << type;
        EXPECT_EQ(img->Palette().Count(), count) << type;
        const std::vector<ARGB> expect = type == PaletteTypeFixedBW
                                             ? std::vector<ARGB>{0xFF000000, 0xFF000000}
                                             : std::vector<ARGB>{0xFFFF0000, 0xFF0000FF};
        EXPECT_EQ(ReadARGB(*img), expect) << type;
    }
    auto img = FromPixels(2, 1, PixelFormat24bppRGB, {0xFFFF0000, 0xFF0000FF});
    EXPECT_EQ(
        img->ConvertFormat(PixelFormat4bppIndexed, DitherTypeNone, PaletteTypeFixedHalftone8, nullptr, 0),
        Ok);
}

TEST(ConvertFormat, AlphaThresholdPicksTheTransparentEntry) {
    const std::vector<ARGB> px = {0x00FF0000, 0x64FF0000, 0xC8FF0000, 0xFFFF0000, 0x7F0000FF, 0x800000FF};
    // 50 % of 255 is 127.5: alpha 0, 100 and 127 are below it.
    {
        auto img = FromPixels(6, 1, PixelFormat32bppARGB, px);
        ASSERT_EQ(img->ConvertFormat(PixelFormat8bppIndexed, DitherTypeNone, PaletteTypeOptimal, nullptr, 50),
                  Ok);
        EXPECT_EQ(ReadARGB(*img), (std::vector<ARGB>{0x00000000, 0x00000000, 0xC8FF0000, 0xFFFF0000,
                                                     0x00000000, 0x800000FF}));
    }
    {
        auto img = FromPixels(6, 1, PixelFormat32bppARGB, px);
        ASSERT_EQ(img->ConvertFormat(PixelFormat8bppIndexed, DitherTypeMax, PaletteTypeFixedHalftone216,
                                     nullptr, 50),
                  Ok);
        ASSERT_EQ(img->Palette().Count(), 225u);
        EXPECT_EQ(img->Palette().Entries.back(), 0x00000000u);
        const uint8_t* idx = img->ActiveFrameData().pixels.Row(0);
        const std::vector<uint8_t> got(idx, idx + 6);
        EXPECT_EQ(got, (std::vector<uint8_t>{224, 224, 9, 9, 224, 12}));
    }
    {
        // A custom palette's transparent entry; opaque pixels never take it even when it is nearest.
        const ColorPalette pal{0, {0x00FF0000, 0xFF800000, 0xFF0000FF}};
        auto img = FromPixels(6, 1, PixelFormat32bppARGB, px);
        ASSERT_EQ(img->ConvertFormat(PixelFormat4bppIndexed, DitherTypeNone, PaletteTypeCustom, &pal, 50),
                  Ok);
        const uint8_t* idx = img->ActiveFrameData().pixels.Row(0);
        EXPECT_EQ(std::vector<uint8_t>(idx, idx + 3), (std::vector<uint8_t>{0x00, 0x11, 0x02}));
    }
    {
        // Without a transparent entry, pixels below the threshold take the nearest colour.
        const ColorPalette pal{0, {0xFFFF0000, 0xFF0000FF}};
        auto img = FromPixels(6, 1, PixelFormat32bppARGB, px);
        ASSERT_EQ(img->ConvertFormat(PixelFormat1bppIndexed, DitherTypeNone, PaletteTypeCustom, &pal, 100),
                  Ok);
        EXPECT_EQ(img->ActiveFrameData().pixels.Row(0)[0], 0x0C); // 0 0 0 0 1 1
    }
}

TEST(ConvertFormat, CustomPaletteOfTheImageItself) {
    // An 8-bit image with a 16-entry palette converts to 4 bits on its own palette, index for index.
    auto img = Image::CreateBitmap(4, 1, PixelFormat8bppIndexed);
    ColorPalette pal;
    for (uint32_t i = 0; i < 16; ++i) pal.Entries.push_back(0xFF000000u | (i * 0x111111));
    pal.Entries[7] = pal.Entries[3]; // duplicates keep their own index
    img->SetPalette(pal);
    const uint8_t px[] = {15, 7, 3, 0};
    std::memcpy(img->ActiveFrameData().pixels.Row(0), px, 4);
    ASSERT_EQ(img->ConvertFormat(PixelFormat4bppIndexed, DitherTypeNone, PaletteTypeCustom, nullptr, 0), Ok);
    EXPECT_EQ(img->Palette().Entries, pal.Entries);
    const uint8_t* out = img->ActiveFrameData().pixels.Row(0);
    EXPECT_EQ(out[0], 0xF7);
    EXPECT_EQ(out[1], 0x30);
}

TEST(ConvertFormat, FailuresLeaveTheImageAsItWas) {
    ColorPalette seventeen;
    seventeen.Entries.assign(17, 0xFF000000);
    const ColorPalette empty;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        PixelFormat format;
        DitherType dither;
        PaletteType type;
        const ColorPalette* palette;
        float threshold;
    };
    const Case cases[] = {
        {PixelFormat8bppIndexed, DitherTypeNone, PaletteTypeCustom, nullptr, 0}, // no palette to use
        {PixelFormat8bppIndexed, DitherTypeNone, PaletteTypeCustom, &empty, 0},
        {PixelFormat4bppIndexed, DitherTypeNone, PaletteTypeCustom, &seventeen, 0},
        {PixelFormat4bppIndexed, DitherTypeNone, PaletteTypeOptimal, &seventeen, 0},
        {PixelFormat4bppIndexed, DitherTypeNone, PaletteTypeFixedHalftone27, nullptr, 0},
        {PixelFormat1bppIndexed, DitherTypeNone, PaletteTypeFixedHalftone8, nullptr, 0},
        {PixelFormat8bppIndexed, DitherTypeNone, PaletteTypeOptimal, nullptr, 101},
        {PixelFormat8bppIndexed, DitherTypeNone, PaletteTypeOptimal, nullptr, -1},
        {PixelFormat8bppIndexed, DitherTypeNone, PaletteTypeOptimal, nullptr, nan},
        {PixelFormat8bppIndexed, DitherType(11), PaletteTypeOptimal, nullptr, 0},
        {PixelFormat8bppIndexed, DitherTypeNone, PaletteType(10), nullptr, 0},
        {0x12345, DitherTypeNone, PaletteTypeCustom, nullptr, 0},
    };
    auto img = FromPixels(4, 2, PixelFormat24bppRGB, DistinctColours(8));
    const auto before = Bytes(*img);
    for (const Case& c : cases) {
        EXPECT_EQ(img->ConvertFormat(c.format, c.dither, c.type, c.palette, c.threshold), InvalidParameter)
            << PixelFormatName(c.format) << " palette type " << c.type;
        EXPECT_EQ(img->GetPixelFormat(), PixelFormat24bppRGB);
        EXPECT_EQ(Bytes(*img), before);
    }

    BitmapData d;
    ASSERT_EQ(img->LockBits(nullptr, ImageLockModeRead, PixelFormat24bppRGB, &d), Ok);
    EXPECT_EQ(img->ConvertFormat(PixelFormat32bppARGB, DitherTypeNone, PaletteTypeCustom, nullptr, 0),
              WrongState);
    img->UnlockBits(&d);
    EXPECT_EQ(Image::Failed(GenericError)
                  ->ConvertFormat(PixelFormat32bppARGB, DitherTypeNone, PaletteTypeCustom, nullptr, 0),
              InvalidParameter);
}

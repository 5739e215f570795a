#include "TestSupport.h"

#include "imaging/Graphics.h"
#include "imaging/Image.h"
#include "ops/Bake.h"
#include "ops/ColorConvert.h"
#include "ops/ColorMatrixOps.h"
#include "ops/Edges.h"
#include "ops/Geometry.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace imaging;
using namespace zerimo;

std::shared_ptr<Image> Noise(int w, int h, PixelFormat f, unsigned seed) {
    auto img = Image::CreateBitmap(w, h, f);
    std::mt19937 rng(seed);
    Surface& s = img->ActiveFrameData().pixels;
    for (uint32_t y = 0; y < s.height; ++y)
        for (int32_t i = 0; i < s.stride; ++i) s.Row(y)[i] = uint8_t(rng() & 0xFF);
    return img;
}

void Put(Image& img, int x, int y, ARGB c) {
    BitmapData d;
    Rect r{x, y, 1, 1};
    ASSERT_EQ(img.LockBits(&r, ImageLockModeWrite, PixelFormat32bppARGB, &d), Ok);
    *static_cast<ARGB*>(d.Scan0) = c;
    img.UnlockBits(&d);
}

ARGB Get(Image& img, int x, int y) {
    return testsupport::ReadARGB(img)[size_t(y) * img.GetWidth() + x];
}

TEST(Geometry, CanvasOfAFreeRotation) {
    struct Case {
        double degrees;
        int w, h;
    };
    for (const Case& c : {Case{90, 51, 100}, Case{180, 101, 51}, Case{270, 50, 100}, Case{45, 107, 107},
                          Case{135, 107, 107}, Case{30, 112, 94}, Case{-359, 101, 52}, Case{0, 100, 50}}) {
        const Size s = RotatedCanvasSize(100, 50, c.degrees);
        EXPECT_EQ(s.Width, c.w) << c.degrees;
        EXPECT_EQ(s.Height, c.h) << c.degrees;
    }
}

// The rotation's own loop against the general drawing with the same transform and settings.
TEST(Geometry, RotationMatchesTheGeneralDrawing) {
    for (PixelFormat f : {PixelFormat24bppRGB, PixelFormat32bppARGB})
        for (double deg : {30.0, -359.0, 90.0, 137.5, 0.0, 180.0}) {
            SCOPED_TRACE(testing::Message() << std::hex << f << std::dec << " " << deg);
            auto src = Noise(61, 37, f, 7);
            const Size n = RotatedCanvasSize(61, 37, deg);
            auto ours = Image::CreateBitmap(n.Width, n.Height, f);
            ASSERT_EQ(DrawRotatedImage(*ours, *src, deg), Ok);
            auto drawn = Image::CreateBitmap(n.Width, n.Height, f);
            auto g = Graphics::FromImage(drawn.get());
            g->SetCompositingQuality(CompositingQualityHighQuality);
            g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
            g->TranslateTransform(-30, -18);
            g->RotateTransform(float(deg), MatrixOrderAppend);
            g->TranslateTransform(float(n.Width / 2), float(n.Height / 2), MatrixOrderAppend);
            g->SetSmoothingMode(SmoothingModeAntiAlias);
            ASSERT_EQ(g->DrawImage(src.get(), RectF{0, 0, 61, 37}, 0, 0, 61, 37, UnitPixel), Ok);
            const auto a = testsupport::ReadARGB(*ours), b = testsupport::ReadARGB(*drawn);
            // Compared premultiplied: the colour of a nearly transparent pixel carries no weight.
            int worst = 0;
            for (size_t i = 0; i < a.size(); ++i) {
                worst = std::max(worst, std::abs(int(AlphaOf(a[i])) - int(AlphaOf(b[i]))));
                for (int sh = 0; sh < 24; sh += 8) {
                    const int pa = int((a[i] >> sh) & 0xFF) * AlphaOf(a[i]) / 255;
                    const int pb = int((b[i] >> sh) & 0xFF) * AlphaOf(b[i]) / 255;
                    worst = std::max(worst, std::abs(pa - pb));
                }
            }
            EXPECT_LE(worst, 1);
        }
}

TEST(Geometry, SizeDialogKeepsProportionsWithoutEndlessEchoes) {
    CSizeDialogState s(400, 300);
    s.OnWidthChanged(200);
    EXPECT_EQ(s.height, 150);
    s.OnHeightChanged(100);
    EXPECT_EQ(s.width, 133);
    EXPECT_EQ(s.height, 100); // the width it set did not come back to change the height
    s.keepProportions = false;
    s.OnWidthChanged(4001);
    EXPECT_EQ(s.height, 100);
    EXPECT_FALSE(s.Valid());
    EXPECT_FLOAT_EQ(CSizeDialogState(5, 0).ratio, 1.0f);
    EXPECT_EQ(CRotateDialogState{}.angle, 45);
}

TEST(Geometry, ScreenProportionalSize) {
    const SizeF s = ScreenProportionalSize(1000, 500, 1200);
    EXPECT_FLOAT_EQ(s.Width, 2400);
    EXPECT_FLOAT_EQ(s.Height, 1200);
    EXPECT_FLOAT_EQ(ScreenProportionalSize(10, 0, 1200).Width, 0);
}

TEST(GrayScale, StretchesTheGreenOfTheCountingPixels) {
    auto img = Image::CreateBitmap(4, 1, PixelFormat32bppARGB);
    Put(*img, 0, 0, MakeARGB(255, 9, 50, 200));
    Put(*img, 1, 0, MakeARGB(255, 200, 200, 0));
    Put(*img, 2, 0, MakeARGB(255, 0, 125, 0));
    Put(*img, 3, 0, MakeARGB(10, 0, 250, 0)); // too transparent to count, recoloured all the same
    auto grey = GrayScaleImage(*img);
    ASSERT_NE(grey, nullptr);
    EXPECT_EQ(grey->GetPixelFormat(), PixelFormat32bppARGB);
    EXPECT_EQ(Get(*grey, 0, 0), MakeARGB(255, 0, 0, 0));
    EXPECT_EQ(Get(*grey, 1, 0), MakeARGB(255, 255, 255, 255));
    EXPECT_EQ(Get(*grey, 2, 0), MakeARGB(255, 127, 127, 127)); // (int)(75 x 1.7)
    const uint8_t far = uint8_t(int((250.0f - 50.0f) * (255.0f / 150.0f)));
    EXPECT_EQ(Get(*grey, 3, 0), MakeARGB(10, far, far, far));
    // Already spanning 0..255: a second pass changes nothing.
    auto again = GrayScaleImage(*grey);
    EXPECT_EQ(testsupport::ReadARGB(*again), testsupport::ReadARGB(*grey));
}

TEST(GrayScale, FormatsAndEmptyRanges) {
    auto indexed = Image::CreateBitmap(3, 3, PixelFormat8bppIndexed);
    auto g8 = GrayScaleImage(*indexed);
    ASSERT_NE(g8, nullptr);
    EXPECT_EQ(g8->GetPixelFormat(), PixelFormat32bppARGB);
    auto rgb = Image::CreateBitmap(3, 3, PixelFormat24bppRGB);
    Graphics::FromImage(rgb.get())->Clear(MakeARGB(255, 10, 90, 30));
    auto flat = GrayScaleImage(*rgb);
    ASSERT_NE(flat, nullptr);
    EXPECT_EQ(flat->GetPixelFormat(), PixelFormat24bppRGB);
    EXPECT_EQ(Get(*flat, 1, 1), MakeARGB(255, 90, 90, 90)); // one green value: taken as it is
    auto clear = Image::CreateBitmap(2, 2, PixelFormat32bppARGB);
    Graphics::FromImage(clear.get())->Clear(MakeARGB(0, 1, 77, 3));
    auto none = GrayScaleImage(*clear);
    EXPECT_EQ(Get(*none, 0, 0), MakeARGB(0, 77, 77, 77)); // no counting pixel: likewise
    ASSERT_EQ(SetGrayscaleMarker(*flat), Ok);
    const StoredProperty* p = flat->FindProperty(PropertyTagThreshHolding);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->type, PropertyTagTypeShort);
    EXPECT_EQ(p->value, (std::vector<uint8_t>{100, 0}));
}

TEST(ReplaceColor, MirrorsDeviationsAroundTheNewColour) {
    const ARGB red = 0xFFFF0000, blue = 0xFF0000FF;
    EXPECT_EQ(ReplaceColor(MakeARGB(255, 240, 10, 10), red, blue), MakeARGB(255, 15, 0, 245));
    EXPECT_EQ(ReplaceColor(MakeARGB(255, 180, 10, 10), red, blue), MakeARGB(255, 180, 10, 10));
    // 63 apart matches, 64 apart does not.
    EXPECT_EQ(ReplaceColor(MakeARGB(255, 192, 10, 10), red, blue), MakeARGB(255, 63, 0, 245));
    EXPECT_EQ(ReplaceColor(MakeARGB(255, 191, 10, 10), red, blue), MakeARGB(255, 191, 10, 10));
    EXPECT_EQ(ReplaceColor(MakeARGB(255, 193, 63, 63), red, blue), MakeARGB(255, 62, 0, 192));
    EXPECT_EQ(ReplaceColor(red, red, blue), blue);
    EXPECT_EQ(ReplaceColor(MakeARGB(7, 255, 0, 0), red, blue), MakeARGB(7, 0, 0, 255)); // alpha kept
    auto img = Image::CreateBitmap(2, 1, PixelFormat16bppRGB555);
    Graphics::FromImage(img.get())->Clear(red);
    EXPECT_EQ(ReplaceColors(*img, red, blue), 2);
    EXPECT_EQ(Get(*img, 1, 0), blue);
}

TEST(RedEye, AreaOfASelection) {
    const RECT r = RedEyeArea(10.4f, 20.6f, 30.2f, 15.5f);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right, 41);
    EXPECT_EQ(r.bottom, 36);
}

TEST(Edges, LargestDifferenceAcrossTheFourDirections) {
    auto img = Image::CreateBitmap(5, 4, PixelFormat32bppARGB);
    Graphics::FromImage(img.get())->Clear(MakeARGB(200, 50, 50, 50));
    Put(*img, 2, 1, MakeARGB(255, 90, 50, 10));
    auto e = ExtractEdges(*img, PixelFormat32bppARGB);
    ASSERT_NE(e, nullptr);
    // The changed pixel's neighbours see it across; the border stays 0.
    EXPECT_EQ(Get(*e, 1, 1), MakeARGB(55, 40, 0, 40));
    EXPECT_EQ(Get(*e, 2, 2), MakeARGB(55, 40, 0, 40));
    EXPECT_EQ(Get(*e, 2, 1), 0u); // the opposite neighbours around it are equal
    for (int x = 0; x < 5; ++x) EXPECT_EQ(Get(*e, x, 0), 0u);
    auto flat = Image::CreateBitmap(6, 6, PixelFormat24bppRGB);
    Graphics::FromImage(flat.get())->Clear(0xFF808080);
    for (ARGB c : testsupport::ReadARGB(*ExtractEdges(*flat, PixelFormat24bppRGB))) EXPECT_EQ(c, 0xFF000000);
    for (int h : {1, 2}) {
        auto thin = Noise(7, h, PixelFormat24bppRGB, 3);
        for (ARGB c : testsupport::ReadARGB(*ExtractEdges(*thin, PixelFormat24bppRGB)))
            EXPECT_EQ(c, 0xFF000000);
    }
}

TEST(Bake, TheDirectLoopGivesWhatTheDrawGives) {
    ImageAttributes filter, balance, gammaOnly;
    const ColorMatrix fm = FilterMatrix(1.35f, -0.1f, 1.6f, 48.0f);
    filter.SetColorMatrix(&fm);
    filter.SetGamma(0.7f);
    const ColorMatrix bm = BalanceMatrix(40, -20, 0, 50);
    balance.SetColorMatrix(&bm);
    gammaOnly.SetGamma(1.8f);
    for (PixelFormat sf : {PixelFormat24bppRGB, PixelFormat32bppARGB, PixelFormat32bppRGB})
        for (PixelFormat df : {PixelFormat24bppRGB, PixelFormat32bppARGB})
            for (const ImageAttributes* a : {&filter, &balance, &gammaOnly}) {
                SCOPED_TRACE(testing::Message() << std::hex << sf << " -> " << df);
                auto src = Noise(37, 23, sf, 5);
                auto drawn = Image::CreateBitmap(37, 23, df);
                auto g = Graphics::FromImage(drawn.get());
                g->Clear(0x00FFFFFF);
                g->SetCompositingQuality(CompositingQualityHighSpeed);
                ASSERT_EQ(g->DrawImage(src.get(), Rect{0, 0, 37, 23}, 0, 0, 37, 23, UnitPixel, a), Ok);
                auto baked = Image::CreateBitmap(37, 23, df);
                Graphics::FromImage(baked.get())->Clear(0x00FFFFFF);
                ASSERT_TRUE(BakeAdjustmentInto(*baked, *src, *a));
                EXPECT_EQ(testsupport::ReadARGB(*baked), testsupport::ReadARGB(*drawn));
            }
    auto indexed = Image::CreateBitmap(4, 4, PixelFormat8bppIndexed);
    auto dst = Image::CreateBitmap(4, 4, PixelFormat24bppRGB);
    EXPECT_FALSE(BakeAdjustmentInto(*dst, *indexed, filter));
}

TEST(PaintDots, SixPixelsAcross) {
    auto img = Image::CreateBitmap(30, 30, PixelFormat24bppRGB);
    Graphics::FromImage(img.get())->Clear(0xFFFFFFFF);
    ASSERT_EQ(PaintDots(*img, {PointF{15, 15}}, 0xFF000000), Ok);
    const auto px = testsupport::ReadARGB(*img);
    int first = -1, last = -1;
    for (int x = 0; x < 30; ++x)
        if (RedOf(px[size_t(15) * 30 + x]) < 128) {
            if (first < 0) first = x;
            last = x;
        }
    EXPECT_EQ(last - first + 1, 6);
    EXPECT_EQ(PaintDots(*Image::CreateBitmap(4, 4, PixelFormat8bppIndexed), {PointF{1, 1}}, 0xFF000000),
              OutOfMemory);
}

} // namespace

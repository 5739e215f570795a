// Filled shapes, regions and text drawn through QPainter on the bitmap's pixels.
#include "DrawingFixtures.h"

#include "imaging/Graphics.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace imaging;
using namespace drawing_fixtures;

namespace {

struct Box {
    int minX = 1 << 30, minY = 1 << 30, maxX = -1, maxY = -1, count = 0;
};

// Bounds of the pixels that differ from `background`.
Box Ink(Image& img, ARGB background) {
    Box b;
    const auto px = Pixels(img);
    const int w = int(img.GetWidth());
    for (size_t i = 0; i < px.size(); ++i)
        if (px[i] != background) {
            const int x = int(i) % w, y = int(i) / w;
            b.minX = std::min(b.minX, x), b.maxX = std::max(b.maxX, x);
            b.minY = std::min(b.minY, y), b.maxY = std::max(b.maxY, y);
            ++b.count;
        }
    return b;
}

int Intermediates(Image& img) {
    const auto px = Pixels(img);
    return int(std::count_if(px.begin(), px.end(), [](ARGB p) { return RedOf(p) != 0 && RedOf(p) != 255; }));
}

} // namespace

TEST(GraphicsText, NeedsAGuiApplication) {
    if (QCoreApplication::instance()) GTEST_SKIP() << "an application object already exists";
    auto img = Image::CreateBitmap(10, 10, PixelFormat32bppARGB);
    auto g = Graphics::FromImage(img.get());
    Font font("", 10);
    SolidBrush brush(0xFF000000);
    EXPECT_EQ(g->DrawString("x", &font, PointF{0, 0}, &brush), GdiplusNotInitialized);
}

TEST(GraphicsFill, RectangleCoverageFollowsPixelOffsetAndSmoothing) {
    struct Case {
        PixelOffsetMode offset;
        SmoothingMode smoothing;
        bool exact; // exactly pixels x 1..3, y 1..2 black
    } cases[] = {
        {PixelOffsetModeNone, SmoothingModeNone, true},
        {PixelOffsetModeHalf, SmoothingModeNone, true},
        {PixelOffsetModeHighQuality, SmoothingModeAntiAlias, true},
        // Whole-pixel centres put the edges through the middle of pixels.
        {PixelOffsetModeNone, SmoothingModeAntiAlias, false},
    };
    for (const Case& c : cases) {
        auto img = Filled(6, 5, PixelFormat32bppARGB, 0xFFFFFFFF);
        auto g = Graphics::FromImage(img.get());
        g->SetPixelOffsetMode(c.offset);
        g->SetSmoothingMode(c.smoothing);
        SolidBrush black(0xFF000000);
        ASSERT_EQ(g->FillRectangle(&black, Rect{1, 1, 3, 2}), Ok);
        const auto px = Pixels(*img);
        bool exact = true;
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                const bool in = x >= 1 && x < 4 && y >= 1 && y < 3;
                exact &= px[size_t(y * 6 + x)] == (in ? 0xFF000000 : 0xFFFFFFFF);
            }
        EXPECT_EQ(exact, c.exact) << "offset " << c.offset << " smoothing " << c.smoothing;
        if (!c.exact) {
            EXPECT_EQ(px[2 * 6 + 2], 0xFF000000u);
            EXPECT_GT(RedOf(px[1 * 6 + 1]), 0);
            EXPECT_LT(RedOf(px[1 * 6 + 1]), 255);
        }
    }
}

TEST(GraphicsFill, EllipseIsSoftEdgedOnlyWhenAntiAliased) {
    for (PixelFormat f : {PixelFormat24bppRGB, PixelFormat32bppARGB, PixelFormat16bppARGB1555}) {
        for (SmoothingMode s : {SmoothingModeAntiAlias, SmoothingModeNone}) {
            auto img = Filled(20, 20, f, 0xFFFFFFFF);
            auto g = Graphics::FromImage(img.get());
            // As the paint brush commits its dots.
            g->SetInterpolationMode(InterpolationModeHighQualityBicubic);
            g->SetCompositingQuality(CompositingQualityHighQuality);
            g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
            g->SetSmoothingMode(s);
            SolidBrush black(0xFF000000);
            ASSERT_EQ(g->FillEllipse(&black, 2.0f, 2.0f, 16.0f, 16.0f), Ok);
            const auto px = Pixels(*img);
            EXPECT_EQ(px[10 * 20 + 10], 0xFF000000u);
            EXPECT_EQ(px[2 * 20 + 2], 0xFFFFFFFFu);
            const Box ink = Ink(*img, 0xFFFFFFFF);
            EXPECT_EQ(ink.minX, 2);
            EXPECT_EQ(ink.maxX, 17);
            EXPECT_EQ(ink.minY, 2);
            EXPECT_EQ(ink.maxY, 17);
            // 1555 keeps no more than 5 bits, so only the 32-bit targets show the soft levels.
            if (s == SmoothingModeAntiAlias && f != PixelFormat16bppARGB1555) {
                EXPECT_GT(Intermediates(*img), 20) << PixelFormatName(f);
            } else if (s == SmoothingModeNone) {
                EXPECT_EQ(Intermediates(*img), 0) << PixelFormatName(f);
            }
        }
    }
}

TEST(GraphicsFill, DeepColourTargetKeepsUntouchedPixelsExact) {
    // 48-bit pixels are painted through an 8-bit copy; only what the dot covers may change.
    auto img = Image::CreateBitmap(16, 16, PixelFormat48bppRGB);
    BitmapData d;
    ASSERT_EQ(img->LockBits(nullptr, ImageLockModeWrite, PixelFormat48bppRGB, &d), Ok);
    for (uint32_t y = 0; y < 16; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(d.Scan0) + y * d.Stride);
        for (int i = 0; i < 16 * 3; ++i) row[i] = 0x1234;
    }
    ASSERT_EQ(img->UnlockBits(&d), Ok);
    auto g = Graphics::FromImage(img.get());
    g->SetSmoothingMode(SmoothingModeAntiAlias);
    g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
    SolidBrush black(0xFF000000);
    ASSERT_EQ(g->FillEllipse(&black, 5.0f, 5.0f, 6.0f, 6.0f), Ok);
    ASSERT_EQ(img->LockBits(nullptr, ImageLockModeRead, PixelFormat48bppRGB, &d), Ok);
    auto at = [&](int x, int y) {
        return reinterpret_cast<const uint16_t*>(static_cast<uint8_t*>(d.Scan0) + y * d.Stride)[x * 3];
    };
    EXPECT_EQ(at(8, 8), 0);
    EXPECT_EQ(at(0, 0), 0x1234);
    EXPECT_EQ(at(15, 8), 0x1234);
    EXPECT_EQ(at(8, 3), 0x1234);
    img->UnlockBits(&d);
}

TEST(GraphicsFill, RegionsTransformsAndCompositing) {
    // The view dims everything outside the selection: a region with the selection excluded.
    for (bool infinite : {false, true}) {
        auto img = Filled(10, 10, PixelFormat32bppARGB, 0xFFFFFFFF);
        auto g = Graphics::FromImage(img.get());
        Region region = infinite ? Region() : Region(RectF{0, 0, 10, 10});
        region.Exclude(RectF{2, 2, 4, 4});
        SolidBrush dim(0x80000000);
        ASSERT_EQ(g->FillRegion(&dim, &region), Ok);
        const auto px = Pixels(*img);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x) {
                const bool sel = x >= 2 && x < 6 && y >= 2 && y < 6;
                EXPECT_EQ(px[size_t(y * 10 + x)], sel ? 0xFFFFFFFF : 0xFF7F7F7F) << x << "," << y;
            }
    }
    // A translated, scaled rectangle; then a transparent one copied over part of it.
    auto img = Filled(10, 4, PixelFormat32bppARGB, 0xFFFFFFFF);
    auto g = Graphics::FromImage(img.get());
    g->TranslateTransform(4, 1);
    g->ScaleTransform(2, 1);
    SolidBrush red(0xFFFF0000), clear(0x00000000);
    ASSERT_EQ(g->FillRectangle(&red, RectF{0, 0, 2, 2}), Ok);
    ASSERT_EQ(g->FillRectangle(&clear, RectF{0, 0, 1, 1}), Ok); // source-over: no change
    EXPECT_EQ(Ink(*img, 0xFFFFFFFF).count, 8);
    g->SetCompositingMode(CompositingModeSourceCopy);
    ASSERT_EQ(g->FillRectangle(&clear, RectF{0, 0, 1, 1}), Ok);
    const auto px = Pixels(*img);
    EXPECT_EQ(px[1 * 10 + 4], 0x00000000u);
    EXPECT_EQ(px[1 * 10 + 5], 0x00000000u);
    EXPECT_EQ(px[1 * 10 + 6], 0xFFFF0000u);
    EXPECT_EQ(px[2 * 10 + 7], 0xFFFF0000u);
    EXPECT_EQ(px[2 * 10 + 8], 0xFFFFFFFFu);

    EXPECT_EQ(g->FillRectangle(nullptr, RectF{0, 0, 1, 1}), InvalidParameter);
    EXPECT_EQ(g->FillPolygon(&red, nullptr, 3), InvalidParameter);
}

TEST(GraphicsText, InkLandsWhereTheTextIsDrawn) {
    if (!GuiApp()) GTEST_SKIP() << "no GUI application can be made in this process";
    SolidBrush black(0xFF000000);
    Font font("", 20, FontStyleRegular, UnitPixel);
    for (PixelFormat f : {PixelFormat24bppRGB, PixelFormat32bppARGB, PixelFormat48bppRGB}) {
        auto img = Filled(120, 60, f, 0xFFFFFFFF);
        auto g = Graphics::FromImage(img.get());
        g->SetSmoothingMode(SmoothingModeAntiAlias);
        g->SetTextRenderingHint(TextRenderingHintAntiAliasGridFit);
        ASSERT_EQ(g->DrawString("Hi", &font, PointF{10, 10}, &black), Ok) << PixelFormatName(f);
        const Box ink = Ink(*img, 0xFFFFFFFF);
        EXPECT_GT(ink.count, 30) << PixelFormatName(f);
        EXPECT_GE(ink.minX, 10);
        EXPECT_LT(ink.maxX, 50);
        EXPECT_GE(ink.minY, 10);
        EXPECT_LT(ink.maxY, 40);
        EXPECT_GT(Intermediates(*img), 0);
    }

    // Single-bit text has no soft levels; a bounded rectangle wraps and clips.
    auto img = Filled(60, 100, PixelFormat32bppARGB, 0xFFFFFFFF);
    auto g = Graphics::FromImage(img.get());
    g->SetTextRenderingHint(TextRenderingHintSingleBitPerPixelGridFit);
    ASSERT_EQ(g->DrawString("word word word word", &font, RectF{5, 5, 50, 60}, &black), Ok);
    const Box ink = Ink(*img, 0xFFFFFFFF);
    EXPECT_EQ(Intermediates(*img), 0);
    EXPECT_GE(ink.minX, 5);
    EXPECT_LT(ink.maxX, 55);
    EXPECT_GT(ink.maxY - ink.minY, 30); // more than one line
    EXPECT_LT(ink.maxY, 65);

    // The em size scales with the bitmap's resolution for point sizes.
    auto big = Filled(200, 200, PixelFormat24bppRGB, 0xFFFFFFFF);
    big->SetResolution(192, 192);
    Font points("", 15, FontStyleBold, UnitPoint); // 40 pixels at 192 dpi
    ASSERT_EQ(Graphics::FromImage(big.get())->DrawString("H", &points, PointF{0, 0}, &black), Ok);
    const Box h = Ink(*big, 0xFFFFFFFF);
    EXPECT_GT(h.maxY - h.minY, 20);
    EXPECT_LT(h.maxY - h.minY, 40);
}

TEST(GraphicsText, RefusesUnknownFamiliesAndBadFonts) {
    if (!GuiApp()) GTEST_SKIP() << "no GUI application can be made in this process";
    auto img = Filled(10, 10, PixelFormat32bppARGB, 0xFFFFFFFF);
    auto g = Graphics::FromImage(img.get());
    SolidBrush black(0xFF000000);
    Font missing("No Such Family Zq", 12);
    EXPECT_EQ(g->DrawString("x", &missing, PointF{0, 0}, &black), FontFamilyNotFound);
    Font zero("", 0);
    EXPECT_EQ(zero.GetLastStatus(), InvalidParameter);
    EXPECT_EQ(g->DrawString("x", &zero, PointF{0, 0}, &black), InvalidParameter);
    EXPECT_EQ(g->DrawString("x", nullptr, PointF{0, 0}, &black), InvalidParameter);
    EXPECT_EQ(Ink(*img, 0xFFFFFFFF).count, 0);
}
